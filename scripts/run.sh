#!/usr/bin/env bash
# Builds the application and launches it.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(uname)" = Darwin ]; then
  bash scripts/macos/prepare.sh
else
  bash scripts/install-deps.sh
fi

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNHOLLOW_TESTS=OFF -DTARNHOLLOW_BENCHMARKS=OFF
cmake --build build

app=build/Tarnhollow.app/Contents/MacOS/TarnhollowApp
if [ ! -x "$app" ]; then
  echo "Built the core, but the window is not there yet: build/Tarnhollow.app has no TarnhollowApp."
  exit 1
fi
exec "$app"
