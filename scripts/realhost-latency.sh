#!/usr/bin/env bash
# Latency figures of the plugin in a real emulator (PCSX-Reloaded): the real-host
# program run once for each device (OSS through a FIFO, SDL's disk driver), ring
# size (64, 16, 8) and pacing method, with dropouts, splices and the time from a
# note's key-on to its onset in the captured sound. Not part of the test suite.
# Needs root for the OSS runs; builds into build/ first.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh build >/dev/null
REALHOST_LATENCY=1 build/tests/realhost_tests --gtest_filter='RealHostTest.LatencyTable' 2>&1 |
    grep -E '^(dev|oss|sdl|dropouts|standing) '
