#!/usr/bin/env bash
# Writes a text link stub (.tbd) for one of the Mac's own libraries, whose
# export list is the same library's public C API as this Debian machine's
# copy of it exports: enough for a Mach-O linker to bind the program to the
# Mac's library by install name. Only the Mac build on Linux needs this; a
# Mac's SDK has its own stubs.
#
#   link-stub.sh zlib|icu OUT.tbd
set -euo pipefail
kind=${1:?zlib or icu}
out=${2:?where to write the stub}
libdir=/usr/lib/$(gcc -print-multiarch 2>/dev/null || echo x86_64-linux-gnu)
first() { for file in "$@"; do if [ -e "$file" ]; then echo "$file"; return; fi; done; echo "none of: $*" >&2; return 1; }

case "$kind" in
  zlib)
    install_name=/usr/lib/libz.1.dylib
    libraries=("$(first "$libdir/libz.so.1" /lib/x86_64-linux-gnu/libz.so.1)")
    names() { nm -D --defined-only "$@" | awk '$2 ~ /^[TDBR]$/ { print $3 }'; } ;;
  icu)
    # The Mac's ICU ships unversioned names (its headers disable renaming);
    # Debian's carry the version as a suffix, dropped here. C API only.
    # (Symbol versions, name@VERSION, are dropped for both.)
    install_name=/usr/lib/libicucore.A.dylib
    libraries=("$(first "$libdir"/libicuuc.so.[0-9]*)" "$(first "$libdir"/libicui18n.so.[0-9]*)")
    names() { nm -D --defined-only "$@" | awk '$2 ~ /^[TDBR]$/ { sub(/@.*/, "", $3) } $3 ~ /^u[a-z0-9]*_[A-Za-z0-9_]*_[0-9]+$/ { sub(/_[0-9]+$/, "", $3); print $3 }'; } ;;
  *) echo "unknown stub: $kind" >&2; exit 2 ;;
esac

symbols=$(names "${libraries[@]}" | sed 's/@.*//' | sort -u | sed 's/^/_/' | paste -sd, - | sed 's/,/, /g')
if [ -z "$symbols" ]; then
  echo "no symbols found in ${libraries[*]}" >&2
  exit 1
fi
mkdir -p "$(dirname "$out")"
cat >"$out" <<STUB
--- !tapi-tbd
tbd-version:     4
targets:         [ x86_64-macos, arm64-macos ]
install-name:    '$install_name'
current-version: 1
compatibility-version: 1
exports:
  - targets:     [ x86_64-macos, arm64-macos ]
    symbols:     [ $symbols ]
...
STUB
