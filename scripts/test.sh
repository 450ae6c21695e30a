#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite: the normal build, then the same
# tests built with AddressSanitizer and UndefinedBehaviorSanitizer (gcc), then the
# threading tests under ThreadSanitizer, then the whole suite under clang's
# address and undefined-behaviour sanitizers, then each fuzz target for 30 s over
# its seeds. Every test runs once: the output engine and its pacing are proven
# frame for frame in virtual time, and the tests that still run on the wall clock
# (live devices, real threads, dialogs) wait for events rather than for a time,
# and check what a busy machine cannot change. A failure is a fault to find.
set -euo pipefail

# Each stage's heading says how long the run has taken so far.
stage() {
    printf '== %s (at %d min %02d s)\n' "$1" $((SECONDS / 60)) $((SECONDS % 60))
}
cd "$(dirname "$0")/.."
scripts/setup-deps.sh

stage "Check the formatting"
scripts/check-format.sh

stage "Build and test"
# Everything, warnings as errors (a demo build may have left tests and benchmarks off).
scripts/build.sh build -DSPU_BUILD_TESTS=ON -DSPU_BUILD_BENCH=ON -DSPU_WARNINGS_AS_ERRORS=ON
stage "Run the tests"
(cd build && ctest --output-on-failure -j2)

stage "Build and test with address and undefined-behaviour sanitizers"
scripts/build.sh build-asan -DSPU_SANITIZE=address,undefined -DSPU_BUILD_BENCH=OFF -DSPU_WARNINGS_AS_ERRORS=ON
# SDL and FLTK keep a few allocations from their own initialisers that they never
# free. Loaded and unloaded with the plugin, they would show as leaks with no
# frame to suppress; preloaded, they stay for the whole process and only the
# plugin's own allocations are judged.
preload=""
for lib in /usr/lib/x86_64-linux-gnu/libSDL-1.2.so.0 /usr/lib/x86_64-linux-gnu/libfltk.so.1.3; do
    [ -e "$lib" ] && preload="$preload $lib"
done
# The font and X libraries' own process-long allocations are suppressed by name.
suppressions="$PWD/tests/lsan.supp"
stage "Run the tests (gcc sanitizers)"
(cd build-asan && LD_PRELOAD="$preload" ASAN_OPTIONS="verify_asan_link_order=0 ${ASAN_OPTIONS:-}" \
    LSAN_OPTIONS="suppressions=$suppressions print_suppressions=0" ctest --output-on-failure -j2)

stage "Build and run the threading tests with ThreadSanitizer"
scripts/tsan-threads.sh build-tsan

# clang checks what gcc does not: a call through a pointer of another function
# type (-fsanitize=function), as a host's prototypes of the exports may make.
stage "Build and test with clang's address and undefined-behaviour sanitizers"
CC=clang CXX=clang++ scripts/build.sh build-clang -DSPU_SANITIZE=address,undefined -DSPU_BUILD_BENCH=OFF \
    -DSPU_WARNINGS_AS_ERRORS=ON
stage "Run the tests (clang sanitizers)"
(cd build-clang && LD_PRELOAD="$preload" ASAN_OPTIONS="verify_asan_link_order=0 ${ASAN_OPTIONS:-}" \
    LSAN_OPTIONS="suppressions=$suppressions print_suppressions=0" ctest --output-on-failure -j2)

stage "Fuzz every kind of input for 30 s"
scripts/fuzz.sh all 30
stage "Done"
