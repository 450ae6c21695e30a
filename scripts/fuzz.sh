#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) into build-fuzz and runs them over their corpora.
#
#   scripts/fuzz.sh [TARGET|all] [SECONDS] [libFuzzer options...]
#
# TARGET is calls, settings, log or wav (default all, one after another); SECONDS
# is the time for each (default 30). The committed seeds (tests/fuzz/corpus/TARGET)
# are only read; what the run adds goes to build-fuzz/corpus/TARGET, which later
# runs read too. A finding (crash, sanitizer report, failed check, an input over a
# second of CPU) is kept in build-fuzz/findings/TARGET and fails the run; replay it
# with build-fuzz/fuzz/fuzz_TARGET FILE. Options such as -jobs=2 -workers=2 or
# -runs=N are passed on to libFuzzer.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
target=${1:-all}
seconds=${2:-30}
shift $(($# < 2 ? $# : 2))
scripts/setup-deps.sh

case "$target" in
all) targets="calls settings log wav" ;;
calls | settings | log | wav) targets=$target ;;
*)
    echo "unknown fuzz target '$target' (calls, settings, log, wav or all)" >&2
    exit 2
    ;;
esac

echo "== Build the fuzz targets"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSPU_BUILD_FUZZ=ON \
    -DSPU_BUILD_TESTS=OFF -DSPU_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target $(for t in $targets; do echo "fuzz_$t"; done)

for t in $targets; do
    echo "== Fuzz $t for $seconds s"
    mkdir -p "build-fuzz/corpus/$t" "build-fuzz/findings/$t"
    # The targets work in a scratch folder of their own, so every path is absolute.
    # The progress lines of new inputs are left out of the output.
    set +e
    "$root/build-fuzz/fuzz/fuzz_$t" -max_total_time="$seconds" -max_len=65536 -print_final_stats=1 \
        -artifact_prefix="$root/build-fuzz/findings/$t/" "$@" \
        "$root/build-fuzz/corpus/$t" "$root/tests/fuzz/corpus/$t" 2>&1 |
        grep -v -E '^#[0-9]+\s+(NEW|REDUCE|pulse)|^\s+NEW_FUNC'
    status=${PIPESTATUS[0]}
    set -e
    if [ "$status" -ne 0 ]; then
        echo "fuzz_$t stopped with a finding (status $status): see build-fuzz/findings/$t" >&2
        exit 1
    fi
done
