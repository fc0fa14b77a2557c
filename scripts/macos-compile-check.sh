#!/usr/bin/env bash
# Compiles the Mac build's sources against a macOS SDK, to object files, with
# the flags the Mac build uses and every warning an error, one file at a
# time, so that each file includes what it uses. scripts/macos-build.sh links.
#
#   scripts/macos-compile-check.sh [--sdk DIR] [--target TRIPLE]
#
# The SDK comes from --sdk, else $TARNHOLLOW_MACOS_SDK, else (on a Mac)
# `xcrun --show-sdk-path`, else the one in ../shared/macos-sdk, unpacked
# into build-macos/sdk as the Mac build does.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

sdk=${TARNHOLLOW_MACOS_SDK:-}
target=x86_64-apple-macos11
while [ $# -gt 0 ]; do
  case "$1" in
    --sdk) sdk=${2:?--sdk needs a folder}; shift 2 ;;
    --sdk=*) sdk=${1#--sdk=}; shift ;;
    --target) target=${2:?--target needs a triple}; shift 2 ;;
    --target=*) target=${1#--target=}; shift ;;
    -h|--help) sed -n '2,12p' "$0"; exit 0 ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
done
if [ -z "$sdk" ] && [ "$(uname)" = Darwin ]; then
  sdk=$(xcrun --show-sdk-path 2>/dev/null || true)
fi
shared=${TARNHOLLOW_SHARED:-$root/../shared}
if [ -z "$sdk" ] && [ -x "$shared/tools/macos-sysroot" ]; then
  sdk=$("$shared/tools/macos-sysroot" "" "$root/build-macos/sdk")
fi
if [ -z "$sdk" ]; then
  echo "no macOS SDK: give --sdk DIR, or put ../shared/macos-sdk beside the project" >&2
  exit 2
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
done < <(find text collect collector platform ui main collector-tool tests bench \( -name '*.cpp' -o -name '*.mm' \) 2>/dev/null | sort)

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

# The tests' GoogleTest headers (ICU's come with the SDK). A Mac has them
# from Homebrew; elsewhere the host's stand in, copied apart like libzip's.
test_headers=()
if [ "$(uname)" = Darwin ]; then
  prefix=$(brew --prefix googletest 2>/dev/null || true)
  if [ -n "$prefix" ]; then test_headers+=(-isystem "$prefix/include"); fi
else
  mkdir "$out/test-headers"
  if [ -d /usr/include/gtest ]; then cp -r /usr/include/gtest "$out/test-headers/"; fi
  test_headers=(-isystem "$out/test-headers")
  echo "GoogleTest headers: the host's, standing in for Homebrew's"
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

[ "$failed" -eq 0 ]
