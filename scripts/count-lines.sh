#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Lines of the product and of the tests, and the tests' share of the
# product: all lines (the measure the project keeps under a third), and code
# lines (not blank, not only a comment).
set -euo pipefail
cd "$(dirname "$0")/.."
count() {
    git ls-files "$@" | grep -E '\.(cpp|h)$' | xargs cat | awk '
        /^[[:space:]]*$/ { next }
        inblock { if ($0 ~ /\*\//) inblock = 0; next }
        /^[[:space:]]*\/\// { next }
        /^[[:space:]]*\/\*/ { if ($0 !~ /\*\//) inblock = 1; next }
        { n++ } END { print n + 0 }'
}
all() { git ls-files "$@" | grep -E '\.(cpp|h)$' | xargs cat | wc -l; }
product=$(all app core link ui logger)
tests=$(all tests fuzz)
echo "all lines: product $product, tests $tests, share $((100 * tests / product)) %"
product=$(count app core link ui logger)
tests=$(count tests fuzz)
echo "code lines: product $product, tests $tests, share $((100 * tests / product)) %"
