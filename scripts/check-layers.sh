#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Each folder is a layer, and includes point down the layers only:
#   core (Qt Core only) -> link -> ui and logger (siblings: neither includes
#   the other) -> app, sim, bench, fuzz, tests (may include anything below).
# Fails with a line naming the file and the include for every include of a
# layer above or beside, for a Qt header of another module than Qt Core in
# core/, and for folders including each other in a circle.
set -euo pipefail
cd "$(dirname "$0")/.."

# The folders a folder may include besides itself; "*" for any.
below() {
    case "$1" in
    core) echo "" ;;
    link) echo "core" ;;
    ui | logger) echo "core link" ;;
    app | sim | bench | fuzz | tests) echo "*" ;;
    *) echo "" ;; # a new folder is placed here first
    esac
}

faults=0
fault() {
    echo "$1" >&2
    faults=$((faults + 1))
}

# "file:line:text" of every include, the project's ("folder/name.h") and
# the system's (<Name>).
includes="$(git ls-files '*.cpp' '*.h' | xargs grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]' || true)"

edges=""
while IFS=: read -r file line text; do
    [ -n "$file" ] || continue
    from="${file%%/*}"
    to="$(sed -nE 's|^[[:space:]]*#[[:space:]]*include[[:space:]]*"([a-z0-9_]+)/.*|\1|p' <<<"$text")"
    if [ -z "$to" ] || [ "$to" = "$from" ]; then
        continue
    fi
    edges+="$from $to"$'\n'
    allowed="$(below "$from")"
    if [ "$allowed" != "*" ] && [[ " $allowed " != *" $to "* ]]; then
        may="$(sed -E 's|([a-z0-9_]+)|\1/|g; s| | and |g' <<<"$allowed")"
        fault "$file:$line: $from/ must not include $to/ ($from/ may include ${may:-no other folder}${may:+ only}): ${text#"${text%%[![:space:]]*}"}"
    fi
done <<<"$includes"

# core/ is built against Qt Core alone: a header of another Qt module (by
# its folder, <QtGui/QColor>, or by a class name only that module has) would
# pull in a library the logger and the fuzz targets do not link.
headers="$(qtpaths6 --query QT_INSTALL_HEADERS 2>/dev/null || qmake6 -query QT_INSTALL_HEADERS 2>/dev/null || true)"
while IFS=: read -r file line text; do
    [[ "$file" == core/* ]] || continue
    name="$(sed -nE 's|^[[:space:]]*#[[:space:]]*include[[:space:]]*<(Q[^>]*)>.*|\1|p' <<<"$text")"
    [ -n "$name" ] || continue
    module=QtCore
    if [[ "$name" == */* ]]; then
        module="${name%%/*}"
    elif [ -n "$headers" ] && [ ! -e "$headers/QtCore/$name" ]; then
        for found in "$headers"/Qt*/"$name"; do
            [ -e "$found" ] && module="$(basename "$(dirname "$found")")" && break
        done
    fi
    if [ "$module" != QtCore ]; then
        fault "$file:$line: core/ uses Qt Core only, not $module: #include <$name>"
    fi
done <<<"$includes"
[ -n "$headers" ] || echo "layers: Qt headers not found, class-name includes in core/ not checked" >&2

if ! printf '%s' "$edges" | sort -u | tsort >/dev/null 2>"${TMPDIR:-/tmp}/layers.$$"; then
    fault "Folders include each other in a circle:"
    cat "${TMPDIR:-/tmp}/layers.$$" >&2
fi
rm -f "${TMPDIR:-/tmp}/layers.$$"

if [ "$faults" -gt 0 ]; then
    echo "layers: $faults fault(s)" >&2
    exit 1
fi
echo "layers: includes point down only ($(printf '%s' "$edges" | sort -u | grep -c .) folder dependencies)"
