#!/usr/bin/env bash
# Code lines (not blank, not only a comment) of the product and of the tests,
# and the tests' share of the product.
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
product=$(count app core link ui logger)
tests=$(count tests fuzz)
echo "product $product, tests $tests, share $((100 * tests / product)) %"
