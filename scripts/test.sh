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

stage "setup"
scripts/setup.sh xvfb xauth

stage "build"
scripts/build.sh

stage "test suite"
(cd build && QT_QPA_PLATFORM=offscreen ctest -j2 --output-on-failure --timeout 600)
[ "$quick" = 1 ] && exit 0

stage "test suite under AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVELTRAK_WERROR=ON \
    -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build build-asan -j2
(cd build-asan && QT_QPA_PLATFORM=offscreen VELTRAK_SOAK_SECONDS=10 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest -j2 --output-on-failure --timeout 600 -E install_check)

stage "fuzzing"
scripts/fuzz.sh "${FUZZ_SECONDS:-30}"

stage "lint"
scripts/lint.sh

stage "all passed"
