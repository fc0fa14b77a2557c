#!/usr/bin/env bash
# Compiles the Mac build's sources against a macOS SDK, to object files, with
# the flags the Mac build uses and every warning an error. Linking and running
# need a Mac; this checks that the code compiles for one, also on Linux.
#
#   scripts/macos-compile-check.sh [--sdk DIR] [--target TRIPLE] [--cmake]
#
# The SDK comes from --sdk, else $TARNHOLLOW_MACOS_SDK, else (on a Mac)
# `xcrun --show-sdk-path`. Without one the check is skipped, and says so.
# --cmake (not on a Mac, where the real build does it) also configures the
# project's Mac build with CMake for that SDK and compiles the Objective-C++
# targets with the flags CMake gives them.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

sdk=${TARNHOLLOW_MACOS_SDK:-}
target=x86_64-apple-macos11
with_cmake=no
while [ $# -gt 0 ]; do
  case "$1" in
    --sdk) sdk=${2:?--sdk needs a folder}; shift 2 ;;
    --sdk=*) sdk=${1#--sdk=}; shift ;;
    --target) target=${2:?--target needs a triple}; shift 2 ;;
    --target=*) target=${1#--target=}; shift ;;
    --cmake) with_cmake=yes; shift ;;
    -h|--help) sed -n '2,12p' "$0"; exit 0 ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
done
if [ -z "$sdk" ] && [ "$(uname)" = Darwin ]; then
  sdk=$(xcrun --show-sdk-path 2>/dev/null || true)
fi
if [ -z "$sdk" ]; then
  echo "macOS compile check skipped: no macOS SDK given (--sdk DIR or TARNHOLLOW_MACOS_SDK)."
  exit 0
fi
if [ ! -d "$sdk/System/Library/Frameworks/AppKit.framework" ]; then
  echo "not a macOS SDK (no AppKit.framework): $sdk" >&2
  exit 2
fi

cxx=${TARNHOLLOW_MACOS_CXX:-}
if [ -z "$cxx" ]; then
  if [ "$(uname)" = Darwin ]; then
    cxx=$(xcrun --find clang++)
  else
    for candidate in clang++ clang++-16 clang++-15 clang++-14; do
      if command -v "$candidate" >/dev/null 2>&1; then cxx=$candidate; break; fi
    done
  fi
fi
if [ -z "$cxx" ]; then
  echo "macOS compile check needs clang++ (Debian package clang)." >&2
  exit 2
fi

common=(-target "$target" -isysroot "$sdk" -std=c++20 -stdlib=libc++
        -Wall -Wextra -Werror -Wundeclared-selector -Wunguarded-availability -Wshorten-64-to-32
        -I "$root" -I "$root/collector-tool")
objcxx=(-x objective-c++ -fobjc-arc -fblocks)

# Every source the Mac build compiles, tests and benchmarks included: all of
# them but those only the Linux build has. (No mapfile: a Mac's own bash is
# version 3.2.)
linux_only='^(helpers|platform/qt|platform/linux|ui/qt|main/qt|tests/widget|tests/e2e)/|OpenSsl[^/]*\.cpp$'
objc_sources=()
portable_sources=()
while IFS= read -r source; do
  source=${source#./}
  if [[ $source =~ $linux_only ]]; then continue; fi
  case "$source" in
    *.mm) objc_sources+=("$source") ;;
    *) portable_sources+=("$source") ;;
  esac
done < <(find collect collector platform ui main collector-tool tests bench \( -name '*.cpp' -o -name '*.mm' \) 2>/dev/null | sort)

# Headers that a Mac gets from elsewhere (Homebrew), not from the SDK: a file
# that stops at one of them is reported as left out, not as a failure.
not_in_sdk='(zip\.h|zipconf\.h|openssl/[^'\'']+)'

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

echo "macOS compile check: $($cxx --version | head -n 1), target $target"
echo "SDK: $sdk"

# The collector's archive code needs libzip's two headers. A Mac has them from
# Homebrew; elsewhere Debian's stand in, copied apart so that nothing else of
# the host's include folder leaks into the check.
libzip=()
if [ "$(uname)" = Darwin ] && pkg-config --exists libzip 2>/dev/null; then
  read -r -a libzip <<<"$(pkg-config --cflags-only-I libzip)"
  echo "libzip headers: $(pkg-config --variable=includedir libzip)"
elif [ -f /usr/include/zip.h ] && [ -f /usr/include/zipconf.h ]; then
  mkdir "$out/libzip"
  cp /usr/include/zip.h /usr/include/zipconf.h "$out/libzip/"
  libzip=(-isystem "$out/libzip")
  echo "libzip headers: the host's /usr/include/zip.h and zipconf.h, standing in for Homebrew's"
fi

# The tests' and benchmarks' headers: GoogleTest, and ICU (a reference in
# the tests). A Mac has them from Homebrew; elsewhere the host's stand in,
# copied apart like libzip's.
test_headers=()
if [ "$(uname)" = Darwin ]; then
  for formula in googletest icu4c; do
    prefix=$(brew --prefix "$formula" 2>/dev/null || true)
    if [ -n "$prefix" ]; then test_headers+=(-isystem "$prefix/include"); fi
  done
else
  mkdir "$out/test-headers"
  for folder in gtest unicode; do
    if [ -d "/usr/include/$folder" ]; then cp -r "/usr/include/$folder" "$out/test-headers/"; fi
  done
  test_headers=(-isystem "$out/test-headers")
  echo "GoogleTest and ICU headers: the host's, standing in for Homebrew's"
fi

passed=0; failed=0; left_out=0
compile() { # source, extra flags...
  local source=$1; shift
  local log=$out/log object=$out/$(echo "$source" | tr / _).o
  if "$cxx" "${common[@]}" "$@" -c "$source" -o "$object" >"$log" 2>&1; then
    echo "  ok        $source"
    passed=$((passed + 1))
  elif missing=$(grep -oE "fatal error: '$not_in_sdk' file not found" "$log" | head -n 1) && [ -n "$missing" ]; then
    missing=${missing#*\'}; missing=${missing%%\'*}
    echo "  left out  $source (needs <$missing>, which the SDK does not ship)"
    left_out=$((left_out + 1))
  else
    echo "  FAILED    $source"
    cat "$log"
    failed=$((failed + 1))
  fi
}
for source in ${objc_sources[@]+"${objc_sources[@]}"}; do compile "$source" "${objcxx[@]}"; done
for source in ${portable_sources[@]+"${portable_sources[@]}"}; do
  case "$source" in
    collector-tool/bench/*) compile "$source" -x c++ -DTARNHOLLOW_TOOL='"tarnhollow"' ;;
    collector-tool/*) compile "$source" -x c++ -DTARNHOLLOW_VERSION='"0"' ${libzip[@]+"${libzip[@]}"} ;;
    tests/*|bench/*|platform/icu/*) compile "$source" -x c++ "${test_headers[@]}" ;;
    *) compile "$source" -x c++ ;;
  esac
done

echo "macOS compile check: $passed compiled, $failed failed, $left_out left out."

if [ "$with_cmake" = yes ]; then
  echo "== The Mac build's CMake, for $target"
  arch=${target%%-*}
  cxx_path=$(command -v "$cxx")
  cc_path=$(command -v "$(basename "$cxx_path" | sed 's/clang++/clang/')")
  ar_path=$(command -v llvm-ar || command -v llvm-ar-14 || command -v ar)
  ranlib_path=$(command -v llvm-ranlib || command -v llvm-ranlib-14 || command -v ranlib)
  cat >"$out/toolchain.cmake" <<TOOLCHAIN
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR $arch)
set(CMAKE_OSX_SYSROOT "$sdk")
set(CMAKE_C_COMPILER "$cc_path")
set(CMAKE_CXX_COMPILER "$cxx_path")
set(CMAKE_OBJCXX_COMPILER "$cxx_path")
foreach(lang C CXX OBJCXX)
  set(CMAKE_\${lang}_COMPILER_TARGET $target)
endforeach()
set(CMAKE_CXX_FLAGS_INIT -stdlib=libc++)
set(CMAKE_OBJCXX_FLAGS_INIT -stdlib=libc++)
# Nothing can be linked without a Mac.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_AR "$ar_path")
set(CMAKE_RANLIB "$ranlib_path")
set(CMAKE_INSTALL_NAME_TOOL "$(command -v true)") # nothing is installed
TOOLCHAIN
  # One architecture: joining several into one object needs the Mac's lipo.
  cmake -S "$root" -B "$out/cmake" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$out/toolchain.cmake" \
    -DTARNHOLLOW_TESTS=OFF -DTARNHOLLOW_BENCHMARKS=OFF -DTARNHOLLOW_MACOS_ARCHITECTURES="$arch" >"$out/cmake.log" 2>&1 \
    || { cat "$out/cmake.log"; echo "CMake could not configure the Mac build."; exit 1; }
  objects=()
  for source in main/appkit/*.mm; do
    objects+=("main/appkit/CMakeFiles/TarnhollowApp.dir/$(basename "$source").o")
  done
  cmake_failed=0
  if ! ninja -C "$out/cmake" tarnhollow_appkit tarnhollow_ui_appkit "${objects[@]}" >"$out/ninja.log" 2>&1; then
    cat "$out/ninja.log"
    cmake_failed=1
  fi
  if [ ! -f "$out/cmake/Tarnhollow.app/Contents/Info.plist" ]; then
    echo "the build lays out no Tarnhollow.app/Contents/Info.plist"
    cmake_failed=1
  fi
  if ! ninja -C "$out/cmake" -t commands sign_bundle | grep -q 'codesign --force --deep --sign -'; then
    echo "the bundle is not signed after the build"
    cmake_failed=1
  fi
  if [ "$cmake_failed" -eq 0 ]; then
    echo "CMake: configured; tarnhollow_appkit, tarnhollow_ui_appkit and TarnhollowApp's objects compiled; Info.plist laid out; ad hoc signature step in place."
  else
    failed=$((failed + 1))
  fi
fi
[ "$failed" -eq 0 ]
