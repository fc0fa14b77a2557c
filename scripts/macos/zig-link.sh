#!/usr/bin/env bash
# Links a Mac program on Linux with zig's linker, called by the Mac build's
# link rule (cmake/macos/CrossFromLinuxRules.cmake) with the command line
# CMake gives a Mac compiler driver; drops what only Apple's driver knows.
#
#   zig-link.sh ZIG ARCH SDK STUBS CACHE [driver arguments...]
set -euo pipefail
zig=$1 arch=$2 sdk=$3 stubs=$4
export ZIG_GLOBAL_CACHE_DIR=$5 ZIG_LOCAL_CACHE_DIR=$5
shift 5
case "$arch" in
  arm64) target=aarch64-macos.11.0 ;;
  x86_64) target=x86_64-macos.11.0 ;;
  *) echo "zig-link.sh: unknown architecture $arch" >&2; exit 2 ;;
esac
args=()
while [ $# -gt 0 ]; do
  case "$1" in
    -arch|-isysroot|-target) shift 2; continue ;;
    --target=*|-mmacosx-version-min=*|-stdlib=*|-Wl,-search_paths_first|-Wl,-headerpad_max_install_names) ;;
    *) args+=("$1") ;;
  esac
  shift
done
exec "$zig" c++ -target "$target" -F "$sdk/System/Library/Frameworks" -L "$sdk/usr/lib" -L "$stubs" "${args[@]}"
