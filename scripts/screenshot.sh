#!/usr/bin/env bash
# Takes the README's screenshot: the window under Xvfb, connected to the simulated box.
#   scripts/screenshot.sh [build folder] [output.png]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build}
out=${2:-$root/docs/window.png}
"$root/scripts/install-deps.sh" x11-apps imagemagick xdotool
[ -x "$dir/app/vektool" ] || "$root/scripts/build.sh" "$dir"

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 640x800x24 -nolisten tcp &
xvfb_pid=$!
sim_pid="" tool_pid=""
cleanup() { kill $tool_pid $sim_pid $xvfb_pid 2>/dev/null || true; }
trap cleanup EXIT

fifo=$(mktemp -u)
mkfifo "$fifo"
"$dir/sim/veksim" --fw 2.36 >"$fifo" 2>/dev/null &
sim_pid=$!
read -r port <"$fifo"
rm -f "$fifo"

DISPLAY=$display VEKTOOL_PORTS=$port "$dir/app/vektool" &
tool_pid=$!
export DISPLAY=$display
window=$(timeout 20 xdotool search --sync --name "^VekTool v" | head -1)
sleep 1
# The connection button, then the pointer away from the controls.
xdotool mousemove --window "$window" 513 86 click 1 mousemove 0 0
sleep "${VEKTOOL_SCREENSHOT_DELAY:-3}"
xwd -id "$window" -silent | convert xwd:- "$out"
echo "Wrote $out"
