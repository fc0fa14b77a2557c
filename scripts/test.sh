#!/usr/bin/env bash
# Builds everything and runs every test: once as shipped, once under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(getconf _NPROCESSORS_ONLN 2>/dev/null || echo 2)

if [ "$(uname)" = Darwin ]; then
  bash scripts/macos/prepare.sh
else
  bash scripts/install-deps.sh
fi

echo "== Build and test"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
ctest --test-dir build --output-on-failure -j "$jobs" --timeout 900

echo "== Build and test under AddressSanitizer and UndefinedBehaviorSanitizer"
export ASAN_OPTIONS=abort_on_error=1
# The Mac's toolchain has no leak checker.
if [ "$(uname)" != Darwin ]; then ASAN_OPTIONS=$ASAN_OPTIONS:detect_leaks=1; fi
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/sanitizer/lsan.supp
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARNHOLLOW_SANITIZE=ON -DTARNHOLLOW_BENCHMARKS=OFF
cmake --build build-sanitize
# The end-to-end suite drives the shipped binaries; it runs once, above.
ctest --test-dir build-sanitize --output-on-failure -j "$jobs" --timeout 900 -LE e2e

if [ -x scripts/macos-compile-check.sh ]; then
  echo "== macOS compile check"
  bash scripts/macos-compile-check.sh
fi
