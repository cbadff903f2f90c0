#!/usr/bin/env bash
# Takes the README's screenshot: the program polling the simulated sensor on
# a virtual X server, driven through the start-up chain as an operator would
# (OK, "Veltrak Z1", OK, "Start communication"). Writes docs/screenshot.png,
# or the path given; a second path takes a second shot 3 s later.
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-docs/screenshot.png}"
second="${2:-}"
scripts/setup.sh xvfb xauth xdotool imagemagick
scripts/build.sh >/dev/null

display=":$((100 + RANDOM % 400))"
work="$(mktemp -d /tmp/veltrak-shot.XXXXXX)"
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT
Xvfb "$display" -screen 0 1024x768x24 >/dev/null 2>&1 & pids+=($!)
export DISPLAY="$display"
sleep 1
build/veltrak-sim --motion --period 10 --link "$work/sensor" >/dev/null & pids+=($!)
sleep 0.5
XDG_CONFIG_HOME="$work/config" build/veltrak --port "4=$work/sensor" --data-dir "$work" >/dev/null 2>&1 & pids+=($!)

wait_for() { for _ in $(seq 100); do w=$(xdotool search --name "$1" 2>/dev/null | head -1); [ -n "$w" ] && { echo "$w"; return; }; sleep 0.1; done; echo "no window '$1'" >&2; exit 1; }
click() { xdotool mousemove --window "$1" "$2" "$3" click 1; sleep 0.4; }

port=$(wait_for "Communication PORT select")
xdotool windowfocus --sync "$port" 2>/dev/null || true
xdotool key Return
options=$(wait_for "Selection of Veltrak")
sleep 0.5
click "$options" 52 60   # "Veltrak Z1"
click "$options" 220 76  # OK
main=$(wait_for "Veltrak Interface")
sleep 0.5
menubar=$(( $(xwininfo -id "$main" | awk '/Height/ {print $2}') - 317 ))
click "$main" 480 $((184 + menubar))  # "Start communication"
sleep 3
import -window "$main" "$out"
echo "wrote $out"
if [ -n "$second" ]; then
    sleep 3
    import -window "$main" "$second"
    echo "wrote $second"
fi
