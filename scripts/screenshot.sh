#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Takes the README's screenshot: the program polling the simulated sensor on
# a virtual X server, driven through the start-up chain as an operator would
# (OK, "Veltrak Z1", OK, "Start communication"). Writes docs/screenshot.png,
# or the path given; a second path takes a second shot 3 s later.
#
# With --history: the History window over a generated week of the logger's
# day files (a row a minute, a gap, alarm periods), written to
# docs/history.png or the path given.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=window
if [ "${1:-}" = "--history" ]; then mode=history; shift; fi
out="${1:-docs/screenshot.png}"
[ "$mode" = history ] && out="${1:-docs/history.png}"
second="${2:-}"
scripts/setup.sh xvfb xauth xdotool imagemagick
scripts/build.sh >/dev/null

display=":$((100 + RANDOM % 400))"
work="$(mktemp -d /tmp/veltrak-shot.XXXXXX)"
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT
Xvfb "$display" -screen 0 1280x800x24 >/dev/null 2>&1 & pids+=($!)
export DISPLAY="$display"
sleep 1
wait_for() { for _ in $(seq 100); do w=$(xdotool search --name "$1" 2>/dev/null | head -1); [ -n "$w" ] && { echo "$w"; return; }; sleep 0.1; done; echo "no window '$1'" >&2; exit 1; }

if [ "$mode" = history ]; then
    mkdir "$work/week"
    python3 - "$work/week" <<'PY'
import datetime, math, os, sys
start = datetime.datetime(2026, 11, 30, tzinfo=datetime.timezone.utc)
head = "time,elapsed,pitch,roll,temperature,unit,alarm,pitch_min,pitch_max,roll_min,roll_max,samples,pitch_change,roll_change\r\n"
for d in range(7):
    day = start + datetime.timedelta(days=d)
    with open(os.path.join(sys.argv[1], day.strftime("%Y-%m-%d.csv")), "w", newline="") as f:
        f.write(head)
        for m in range(1440):
            if d == 3 and 600 < m < 700:
                continue  # the adapter pulled for an hour and a half
            t, x = day + datetime.timedelta(minutes=m), (d * 1440 + m) / 1440.0
            p = 2 + 1.5 * math.sin(x * 2 * math.pi / 2.5) + 0.15 * math.sin(m / 37)
            r = -1 + 0.8 * math.cos(x * 2 * math.pi / 3.3)
            f.write(f"{t:%Y-%m-%dT%H:%M:%S}.000Z,{(d * 1440 + m) * 60}.000,{p:.4f},{r:.4f},"
                    f"{20 + 5 * math.sin(x * 2 * math.pi):.2f},deg,{'pitch' if p > 3.45 else 'ok'},"
                    f"{p - 0.06:.2f},{p + 0.06:.2f},{r - 0.03:.2f},{r + 0.03:.2f},{9000 + m % 7},"
                    f"{p - 2:.4f},{r + 1:.4f}\r\n")
PY
    build/veltrak --history "$work/week" --data-dir "$work" >/dev/null 2>&1 & pids+=($!)
    history=$(wait_for "History")
    sleep 2
    import -window "$history" "$out"
    echo "wrote $out"
    exit 0
fi

build/veltrak-sim --motion --period 10 --link "$work/sensor" >/dev/null & pids+=($!)
sleep 0.5
XDG_CONFIG_HOME="$work/config" build/veltrak --port "4=$work/sensor" --data-dir "$work" >/dev/null 2>&1 & pids+=($!)

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
