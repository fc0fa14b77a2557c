#!/usr/bin/env bash
# Installs the Debian packages this project needs that are not there yet.
# Safe to run again: it does nothing when everything is installed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

missing=()
while read -r package; do
  case "$package" in ''|'#'*) continue ;; esac
  # Node.js from elsewhere (NodeSource) brings its own npm and conflicts with Debian's.
  if [ "$package" = npm ] && command -v npm >/dev/null 2>&1; then continue; fi
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done < "$here/debian-packages.txt"

sudo=()
if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi

# The Mac build compiles GoogleTest for the Mac from Debian's source package
# (scripts/macos-build.sh), which `apt-get source` fetches from a deb-src entry.
update=no
if ! grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  echo "Adding Debian's source packages to apt's sources"
  printf '%s\n' 'Types: deb-src' 'URIs: http://deb.debian.org/debian' 'Suites: bookworm' 'Components: main' \
    'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' |
    "${sudo[@]}" tee /etc/apt/sources.list.d/tarnhollow-deb-src.sources >/dev/null
  update=yes
fi

if [ ${#missing[@]} -eq 0 ]; then
  if [ "$update" = yes ]; then "${sudo[@]}" apt-get update -qq; fi
  exit 0
fi

echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
