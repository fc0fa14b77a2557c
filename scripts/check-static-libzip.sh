#!/usr/bin/env bash
# Builds the collector the way the Mac kit does, with the pinned libzip linked
# statically, checks that no libzip is left to load at run time, and runs the
# collector's tests against that build.
#
#   scripts/check-static-libzip.sh [BUILD_FOLDER]     (default: build-static-libzip)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-static-libzip}
jobs=$(getconf _NPROCESSORS_ONLN 2>/dev/null || echo 2)

tarball=$(bash scripts/fetch-libzip-source.sh "$build/sources")
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNHOLLOW_BENCHMARKS=OFF \
  -DTARNHOLLOW_STATIC_LIBZIP=ON -DTARNHOLLOW_LIBZIP_TARBALL="$tarball" >"$build/configure.log" \
  || { cat "$build/configure.log"; exit 1; }
cmake --build "$build" --target tarnhollow_collector collector_text_tests

collector=$build/Tarnhollow.app/Contents/MacOS/tarnhollow
echo "Libraries the collector loads:"
ldd "$collector"
if readelf -d "$collector" | grep -i 'NEEDED.*libzip'; then
  echo "the collector still links libzip dynamically" >&2
  exit 1
fi
if ldd "$collector" | grep -i libzip; then
  echo "the collector still loads libzip at run time" >&2
  exit 1
fi
ctest --test-dir "$build" --output-on-failure -j "$jobs" -L collector-tool
