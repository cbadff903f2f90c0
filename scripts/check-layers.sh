#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fails when folders include each other in a circle (a -> b -> ... -> a):
# each folder is a layer, and dependencies point one way only.
set -euo pipefail
cd "$(dirname "$0")/.."
edges="$(git ls-files '*.cpp' '*.h' | while read -r file; do
    from="${file%%/*}"
    sed -nE 's|^[[:space:]]*#[[:space:]]*include[[:space:]]+"([a-z0-9_]+)/.*|\1|p' "$file" | while read -r to; do
        [ "$to" != "$from" ] && echo "$from $to"
    done
done | sort -u)"
if ! printf '%s\n' "$edges" | tsort >/dev/null 2>"${TMPDIR:-/tmp}/layers.$$"; then
    echo "Folders include each other in a circle:" >&2
    cat "${TMPDIR:-/tmp}/layers.$$" >&2
    rm -f "${TMPDIR:-/tmp}/layers.$$"
    exit 1
fi
rm -f "${TMPDIR:-/tmp}/layers.$$"
echo "layers: no circle ($(printf '%s\n' "$edges" | wc -l) folder dependencies)"
