#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets everything up, builds the two programs it runs (not the tests, the
# benchmark or the logger), and starts the monitor against the simulated
# sensor (a slowly moving tilt) on port 4, the port the dialog selects.
# Without a desktop ($DISPLAY unset) it runs under a virtual X server.
# Extra arguments go to veltrak-sim, e.g. --baud 19200 or --split 3.
set -euo pipefail
cd "$(dirname "$0")/.."
extra=()
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then extra=(xvfb xauth); fi
scripts/setup.sh "${extra[@]}"
scripts/build.sh veltrak veltrak-sim

workdir="$(mktemp -d /tmp/veltrak-demo.XXXXXX)"
link="$workdir/sensor"
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$workdir"
}
trap cleanup EXIT INT TERM

build/veltrak-sim --motion --link "$link" "$@" >"$workdir/sim.out" &
sim_pid=$!
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
[ -e "$link" ] || { echo "the simulated sensor did not start" >&2; exit 1; }
echo "Simulated sensor on $(readlink "$link"), mapped to port 4."
echo "In the program: OK, pick a model, OK, then \"Start communication\"."

# Port choices of the demo's own: none of the operator's remembered ones is
# read or changed, so the dialog selects port 4.
cmd=(env XDG_CONFIG_HOME="$workdir/config" build/veltrak --port "4=$link")
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    xvfb-run -a -s "-screen 0 1024x768x24" "${cmd[@]}"
else
    "${cmd[@]}"
fi
