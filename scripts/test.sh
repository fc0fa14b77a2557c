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

echo "== Format"
bash scripts/check-format.sh

echo "== Build and test"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNHOLLOW_WERROR=ON
cmake --build build
ctest --test-dir build --output-on-failure -j "$jobs" --timeout 900

# Some warnings show only when the optimiser inlines deeply; a packager's
# Release build must not be the first to see them. Built, not tested: the
# code is the same as above.
echo "== Release build with clang at -O3, warnings as errors"
CC=clang CXX=clang++ cmake -S . -B build-clang-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNHOLLOW_WERROR=ON
cmake --build build-clang-release

echo "== Build and test under AddressSanitizer and UndefinedBehaviorSanitizer"
export ASAN_OPTIONS=abort_on_error=1
# The Mac's toolchain has no leak checker.
if [ "$(uname)" != Darwin ]; then ASAN_OPTIONS=$ASAN_OPTIONS:detect_leaks=1; fi
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/sanitizer/lsan.supp
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARNHOLLOW_WERROR=ON -DTARNHOLLOW_SANITIZE=ON \
  -DTARNHOLLOW_BENCHMARKS=OFF
cmake --build build-sanitize
# The end-to-end suite drives the shipped binaries; it runs once, above.
ctest --test-dir build-sanitize --output-on-failure -j "$jobs" --timeout 900 -LE e2e

# The Mac build, from the macOS SDK in ../shared: every file compiled alone
# with every warning an error, then both programs and the unit tests linked
# for Intel and Apple silicon and checked. On a Mac the build above already
# is the Mac build.
if [ "$(uname)" != Darwin ]; then
  mac_start=$SECONDS
  echo "== macOS compile check"
  bash scripts/macos-compile-check.sh
  echo "== macOS build"
  bash scripts/macos-build.sh
  echo "The Mac build took $((SECONDS - mac_start)) s."
fi
