#!/usr/bin/env bash
# Puts the pinned libzip release into a cache folder and prints its path, for
# builds with -DTARNHOLLOW_STATIC_LIBZIP=ON -DTARNHOLLOW_LIBZIP_TARBALL=<path>.
#
#   scripts/fetch-libzip-source.sh [CACHE_FOLDER]     (default: build/sources)
#
# On Debian the file comes from bookworm's source package (its upstream
# tarball, libzip_<version>.orig.tar.xz) through apt, with a private apt
# state inside the cache folder: the system's sources stay as they are.
# Whatever the way, the file is kept only when its SHA-256 is the pinned one
# (cmake/Libzip.cmake checks it again).
set -euo pipefail
cd "$(dirname "$0")/.."
version=$(sed -n 's/^set(TARNHOLLOW_LIBZIP_VERSION \(.*\))$/\1/p' cmake/Libzip.cmake)
sha256=$(sed -n 's/^set(TARNHOLLOW_LIBZIP_SHA256 \(.*\))$/\1/p' cmake/Libzip.cmake)
cache=${1:-build/sources}
mkdir -p "$cache"
cache=$(cd "$cache" && pwd)
tarball=$cache/libzip-$version.tar.xz

matches() { [ -f "$1" ] && [ "$(sha256sum "$1" | cut -d' ' -f1)" = "$sha256" ]; }

if matches "$tarball"; then
  echo "$tarball"
  exit 0
fi
rm -f "$tarball"

apt=$cache/apt
mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/download"
echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main" \
  >"$apt/sources.list"
options=(-o "Dir::Etc::SourceList=$apt/sources.list" -o Dir::Etc::SourceParts=/nonexistent
         -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" -o Debug::NoLocking=1
         -o APT::Sandbox::User=root -qq)
apt-get "${options[@]}" update >&2
(cd "$apt/download" && apt-get "${options[@]}" source --download-only libzip >&2)
orig=$apt/download/libzip_$version.orig.tar.xz
if ! matches "$orig"; then
  echo "libzip $version from Debian does not have the pinned SHA-256 $sha256" >&2
  exit 1
fi
mv "$orig" "$tarball"
rm -rf "$apt/download"
echo "$tarball"
