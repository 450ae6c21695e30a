#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite: the normal build, then the same
# tests built with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-deps.sh

echo "== Build and test"
scripts/build.sh build
(cd build && ctest --output-on-failure -j2)

echo "== Build and test with address and undefined-behaviour sanitizers"
scripts/build.sh build-asan -DSPU_SANITIZE=address,undefined -DSPU_BUILD_BENCH=OFF
(cd build-asan && ctest --output-on-failure -j2)

echo "== Build and run the threading tests with ThreadSanitizer"
scripts/tsan-threads.sh build-tsan
