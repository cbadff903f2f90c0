#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks the layering of the folders, formatting (.clang-format) and runs
# clang-tidy (.clang-tidy) on the sources; fails on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."
echo "== layers"
scripts/check-layers.sh
scripts/setup.sh clang-format clang-tidy
files=$(git ls-files 'app/*' 'core/*' 'link/*' 'ui/*' 'logger/*.cpp' 'logger/*.h' 'sim/*' 'bench/*' 'fuzz/*.cpp' 'tests/*.cpp' 'tests/*.h')
echo "== clang-format"
clang-format --dry-run --Werror $files
echo "== clang-tidy"
cmake -S . -B build -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
cmake --build build -j2 >/dev/null # generated moc headers must exist
sources=$(git ls-files 'app/*.cpp' 'core/*.cpp' 'link/*.cpp' 'ui/*.cpp' 'logger/*.cpp' 'sim/*.cpp' 'bench/*.cpp' 'fuzz/*.cpp')
run-clang-tidy -p build -quiet -j 2 $sources > build/clang-tidy.log 2>&1 || {
    sed 's/\x1b\[[0-9;]*m//g' build/clang-tidy.log | grep -E '(warning|error):' | sort -u >&2
    exit 1
}
echo "clang-tidy: clean"
