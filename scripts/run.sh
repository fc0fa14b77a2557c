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

if [ "$(uname)" != Darwin ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  if ! command -v xvfb-run >/dev/null; then
    echo "No display: neither DISPLAY nor WAYLAND_DISPLAY is set, and xvfb-run is not installed." >&2
    echo "Run this from a desktop session, or install xvfb to run it on a virtual screen." >&2
    exit 1
  fi
  echo "No display: neither DISPLAY nor WAYLAND_DISPLAY is set."
  echo "Starting Tarnhollow on a virtual X server (xvfb-run); its window is not visible. Ctrl+C stops it."
  exec xvfb-run -a -s "-screen 0 1280x800x24" "$app"
fi
exec "$app"
