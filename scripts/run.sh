#!/usr/bin/env bash
# Sets up, builds and starts VekTool. With no box attached it starts the simulated box and lists its
# port; without a display it runs the window under Xvfb.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
dir=$root/build
"$root/scripts/build.sh" "$dir"

sim_pid=""
cleanup() { [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true; }
trap cleanup EXIT

if ! ls /dev/ttyACM* /dev/ttyUSB* >/dev/null 2>&1; then
    echo "No box attached: starting the simulated box (veksim)."
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    "$dir/sim/veksim" "$@" >"$fifo" &
    sim_pid=$!
    read -r port <"$fifo"
    rm -f "$fifo"
    echo "Simulated box on $port"
    export VEKTOOL_PORTS="$port${VEKTOOL_PORTS:+:$VEKTOOL_PORTS}"
fi

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: running the window under Xvfb (nothing will be visible on this machine)."
    exec_prefix=(xvfb-run -a -s "-screen 0 1024x800x24")
else
    exec_prefix=()
fi
"${exec_prefix[@]}" "$dir/app/vektool"
