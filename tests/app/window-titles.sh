#!/usr/bin/env bash
# The titles that the window manager reads (_NET_WM_NAME) under a real X server: the main window's
# and a message box's, exactly as the tool sets them.
#   window-titles.sh <vektool> <veksim>
set -euo pipefail
vektool=$1 veksim=$2
scratch=$(mktemp -d)
pids=()
cleanup() { kill "${pids[@]}" 2>/dev/null || true; rm -rf "$scratch"; }
trap cleanup EXIT

export DISPLAY=:$((200 + RANDOM % 300))
Xvfb "$DISPLAY" -screen 0 640x800x24 -nolisten tcp 2>/dev/null &
pids+=($!)
timeout 10 sh -c 'until xprop -root >/dev/null 2>&1; do sleep 0.1; done'

# A current box whose replies to the configuration read go astray: the read ends in ERRO #0x04.
mkfifo "$scratch/port"
"$veksim" --fw 2.36 --interval 200 --wrong-destination >"$scratch/port" 2>/dev/null &
pids+=($!)
read -r port <"$scratch/port"

QT_QPA_PLATFORM=xcb VEKTOOL_PORTS=$port "$vektool" 2>/dev/null &
pids+=($!)

title() { xprop -id "$1" _NET_WM_NAME | sed -n 's/^_NET_WM_NAME(UTF8_STRING) = "\(.*\)"$/\1/p'; }
expect_title() {
    local window
    window=$(timeout 20 xdotool search --sync --name "^$1" | head -1)
    local seen
    seen=$(title "$window")
    if [ "$seen" != "$1" ]; then
        echo "FAIL: the window manager reads \"$seen\", not \"$1\""
        exit 1
    fi
    echo "$window"
}

main=$(expect_title "VekTool v2.36.D")
xdotool mousemove --window "$main" 513 86 click 1
expect_title "ERRO #0x04" >/dev/null
echo "Titles as set: VekTool v2.36.D, ERRO #0x04"
