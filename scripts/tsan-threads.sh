#!/bin/sh
# ThreadSanitizer build of the plugin and its tests, then the tests that run
# threads: the output engine, the devices, the pacing methods and live playback.
# Any report fails the run. The OSS FIFO capture is left out: it compares frames
# exactly against a reader paced at 44 100 Hz, which an instrumented writer on a
# busy machine cannot always keep up with (the OSS unit tests cover its threads). Usage: scripts/tsan-threads.sh [BUILD_DIR]
set -e
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build-tsan}
cmake -S "$src" -B "$build" -DSPU_SANITIZE=thread -DSPU_BUILD_BENCH=OFF -DSPU_WARNINGS_AS_ERRORS=ON
cmake --build "$build" -j2
cd "$build"
TSAN_OPTIONS="halt_on_error=1 ${TSAN_OPTIONS:-}" ctest -j2 --output-on-failure \
    -E 'OssFifoReader' -R '^(AudioOutTest|AudioOutDeviceTest|AudioDeviceOssTest|AudioDeviceSdlTest|Methods/AudioOutThreadTest|AudioOutLifecycleTest|NanosleepStrictTest|LiveOutputTest|PacingTest|Methods/PacingMethodTest)\.'
