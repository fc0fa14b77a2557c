#!/usr/bin/env bash
# Builds the .deb from a build folder and checks it with lintian (no errors
# allowed), and the desktop entries with desktop-file-validate.
#
#   scripts/check-debian-package.sh BUILD_FOLDER
set -euo pipefail
build=$(cd "${1:?a build folder}" && pwd)
cd "$(dirname "$0")/.."
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" >"$out/cpack.log" || { cat "$out/cpack.log"; exit 1; }
deb=$(echo "$out"/tarnhollow_*.deb)
echo "== lintian $(basename "$deb")"
# Root is where CI runs this; lintian only warns about it.
lintian --fail-on error --tag-display-limit 0 "$deb" 2> >(grep -v 'root privileges' >&2)
echo "lintian: no errors"
echo "== desktop-file-validate"
desktop-file-validate packaging/debian/tarnhollow.desktop packaging/kit/Tarnhollow.desktop
echo "desktop-file-validate: both entries valid"
