#!/usr/bin/env bash
# Sets everything up on a fresh Debian machine, builds and runs every test:
#   1. the test suite (unit, widget, end-to-end over pseudo-terminals, soak,
#      fuzz regressions, install) in a build with warnings as errors;
#   2. the same suite under AddressSanitizer + UndefinedBehaviorSanitizer;
#   3. each libFuzzer target for FUZZ_SECONDS (default 30);
#   4. clang-format and clang-tidy.
# With --quick only step 1 runs.
set -euo pipefail
cd "$(dirname "$0")/.."
quick=0
[ "${1:-}" = "--quick" ] && quick=1
stage() { echo; echo "=== $* ($(date +%T))"; }
passed=0
# Runs ctest in the given build directory and adds up the tests that passed.
suite() {
    local dir="$1"; shift
    local log; log="$(mktemp)"
    (cd "$dir" && ctest -j2 --output-on-failure --timeout 600 "$@") | tee "$log"
    local n; n="$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$log")"
    rm -f "$log"
    passed=$((passed + ${n:-0}))
}

stage "setup"
scripts/setup.sh xvfb xauth

stage "build"
scripts/build.sh

stage "test suite"
QT_QPA_PLATFORM=offscreen suite build
if [ "$quick" = 1 ]; then echo "tests: $passed passed, 0 failed"; exit 0; fi

stage "test suite under AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVELTRAK_WERROR=ON \
    -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build build-asan -j2
QT_QPA_PLATFORM=offscreen VELTRAK_SOAK_SECONDS=10 UBSAN_OPTIONS=print_stacktrace=1 suite build-asan -E install_check

stage "fuzzing"
scripts/fuzz.sh "${FUZZ_SECONDS:-30}"
passed=$((passed + 4))

stage "lint"
scripts/lint.sh
passed=$((passed + 1))

stage "done"
echo "tests: $passed passed, 0 failed"
