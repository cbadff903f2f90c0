#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for SECONDS (default 30).
# Crashing inputs land in build-fuzz/artifacts/: copy them to
# fuzz/regressions/<target>/ once fixed, where every test run replays them.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
scripts/setup.sh clang libclang-rt-14-dev
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DVELTRAK_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j2
mkdir -p build-fuzz/artifacts
status=0
for t in decoder coeffile interval; do
    work="build-fuzz/corpus-$t"
    mkdir -p "$work"
    echo "== fuzz_$t for ${seconds}s"
    if ! UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 build-fuzz/fuzz/fuzz_$t -max_total_time="$seconds" \
        -print_final_stats=1 -artifact_prefix="build-fuzz/artifacts/$t-" "$work" "fuzz/corpus/$t" \
        2>"build-fuzz/fuzz_$t.log"; then
        echo "fuzz_$t FAILED; see build-fuzz/fuzz_$t.log and build-fuzz/artifacts/" >&2
        tail -30 "build-fuzz/fuzz_$t.log" >&2
        status=1
    else
        grep -E 'stat::number_of_executed_units|cov:' "build-fuzz/fuzz_$t.log" | tail -2
    fi
done
exit $status
