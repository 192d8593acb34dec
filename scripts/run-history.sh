#!/usr/bin/env bash
# Starts vekhistory on its SQLite default (or $VEKHISTORY_DB), fills it with the visits of a few
# simulated stations that service simulated boxes and sync to it, and prints the fleet page's
# address; the server runs until Ctrl-C.
#   scripts/run-history.sh [build folder]
# STATIONS (default 4) stations of BOXES (default 75) boxes each; PORT (default 8470).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build}
stations=${STATIONS:-4}
boxes=${BOXES:-75}
port=${PORT:-8470}
if [ ! -x "$dir/server/vekhistory" ] || [ ! -x "$dir/cli/vekctl" ] || [ ! -x "$dir/sim/veksim" ]; then
    "$root/scripts/install-deps.sh"
    cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$dir" --target vekhistory vekctl veksim -j"$(nproc)"
fi

work=$(mktemp -d)
pids=()
server_pid=""
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

"$dir/server/vekhistory" serve --listen "127.0.0.1:$port" 2>"$work/server.log" &
server_pid=$!
for _ in $(seq 100); do
    grep -q "ouvindo em" "$work/server.log" && break
    kill -0 "$server_pid" 2>/dev/null || { cat "$work/server.log"; exit 1; }
    sleep 0.1
done
url=http://127.0.0.1:$port

# Two profiles, taken from a simulated box's own configuration.
"$dir/sim/veksim" --fw 2.36 >"$work/box" 2>/dev/null &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/box" ] && break; sleep 0.1; done
"$dir/cli/vekctl" config get -p "$(head -1 "$work/box")" -o "$work/frota.json" >/dev/null 2>&1
python3 - "$work" <<'PY'
import json, sys
work = sys.argv[1]
profile = json.load(open(f"{work}/frota.json"))
profile.pop("source", None)
for name, limit in (("frota", 110), ("locadora", 90)):
    profile["name"] = name
    profile["speed"]["limit"] = limit
    json.dump(profile, open(f"{work}/{name}.json", "w"), ensure_ascii=False, indent=2)
PY

echo "Stations servicing simulated boxes and syncing to $url ..."
for s in $(seq 0 $((stations - 1))); do
    hub=$work/hub$s
    mkdir -p "$hub"
    # Boxes with current firmware take a configuration in seconds; the third station's boxes
    # are mixed and some are unplugged during their firmware update, the last one's cable is poor.
    box=(--fw 2.36)
    [ "$s" -eq 2 ] && box=(--vary)
    [ "$s" -eq $((stations - 1)) ] && box+=(--lose 0.02 --seed 7)
    "$dir/sim/veksim" --boxes "$boxes" "${box[@]}" --id "$(printf '00%06X44C5D6E78899%04X' $((0xA1B2C3 + s)) 0)" \
        --plug-every 120 --unplug-after 5000 --port-dir "$hub" >/dev/null 2>&1 &
    pids+=($!)
    profile=frota
    [ $((s % 2)) -eq 1 ] && profile=locadora
    VEKTOOL_PORTS=$hub "$dir/cli/vekctl" provision --watch --profile "$work/$profile.json" \
        --record "$work/bancada-$s.jsonl" --station "bancada-$((s + 1))" --sync "$url" \
        >/dev/null 2>&1 &
    pids+=($!)
done
expected=$((stations * boxes))
for _ in $(seq 600); do
    done_lines=$(cat "$work"/bancada-*.jsonl 2>/dev/null | wc -l)
    [ "$done_lines" -ge "$expected" ] && break
    sleep 0.2
done
sleep 2  # the last lines' sync
for pid in "${pids[@]}"; do kill -INT "$pid" 2>/dev/null || true; done
pids=()
echo "$(cat "$work"/bancada-*.jsonl | wc -l) visits recorded by $stations stations."
echo
echo "The fleet page: $url/"
echo "(Ctrl-C stops the server; the history stays in its database.)"
wait "$server_pid"
