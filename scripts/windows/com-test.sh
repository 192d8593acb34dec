#!/usr/bin/env bash
# The Windows serial component under Wine against the simulated box: COM1 leads to the
# pseudo-terminal of a veksim running on Linux, the Win32 serial tests run, and a visit of
# vekctl.exe (update, then config get) goes through the port.
#   scripts/windows/com-test.sh WINDOWS_BUILD LINUX_BUILD
# WINDOWS_BUILD is the folder scripts/windows/build.sh built into; LINUX_BUILD holds sim/veksim.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?usage: $0 WINDOWS_BUILD LINUX_BUILD}" && pwd)
linux=$(cd "${2:?usage: $0 WINDOWS_BUILD LINUX_BUILD}" && pwd)
"$root/scripts/install-deps.sh" --only wine wine64 xvfb gcc g++-mingw-w64-x86-64-posix
# shellcheck source=common.sh
. "$root/scripts/windows/common.sh"
# shellcheck source=wine-session.sh
. "$root/scripts/windows/wine-session.sh"

qt=$(cd "$(cache_value "$build" Qt6_DIR)/../../.." && pwd)
mapfile -t dll_dirs < <(dll_dirs "$qt")
logs=$build/wine-logs
mkdir -p "$logs"

box_pid=""
stop_box() {
    [ -z "$box_pid" ] || { kill "$box_pid" 2>/dev/null; wait "$box_pid" 2>/dev/null || true; }
    box_pid=""
}
wine_session_start "$build/wine"
trap 'stop_box; wine_session_end' EXIT
WINEPATH=$(winepath -w "${dll_dirs[@]}" | tr -d '\r' | paste -sd ';')
export WINEPATH

# Wine's WaitCommEvent needs modem lines, which a pseudo-terminal lacks: a library preloaded into
# the programs answers for them.
modem_lines=$build/wine-pty-modem-lines.so
gcc -shared -fPIC -O2 -Wall -o "$modem_lines" "$root/tests/win32/wine-pty-modem-lines.c" -ldl

# Starts veksim with the given options and leads COM1 to its pseudo-terminal.
start_box() {
    stop_box
    local port_file=$logs/box.port
    : >"$port_file"
    "$linux/sim/veksim" "$@" >"$port_file" 2>"$logs/box.log" &
    box_pid=$!
    local i
    for i in $(seq 100); do [ -s "$port_file" ] && break; sleep 0.05; done
    wine_com1 "$(head -1 "$port_file")"
}

in_wine() {
    LD_PRELOAD=$modem_lines wine "$@" </dev/null
}

failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}

echo "== Win32 serial tests against the simulated box on COM1"
start_box --fw 2.36 --interval 200
in_wine "$build/tests/win32/win32_serial_tests.exe" --gtest_color=no 2>&1 | tr -d '\r' |
    tee "$logs/win32_serial_tests.log" | grep -E '^\[ *(OK|FAILED|PASSED) *\]' || true
grep -q '^\[  PASSED  \]' "$logs/win32_serial_tests.log" &&
    ! grep -q '^\[  FAILED  \]' "$logs/win32_serial_tests.log" || fail "win32_serial_tests"

echo "== a visit through COM1: vekctl.exe update, journaled and synced to vekhistory, then config get"
# The history server runs on Linux, on loopback; the Windows station reaches it there.
history_port_file=$logs/history.err
rm -f "$logs/history.db" "$logs/journal.jsonl" "$logs/journal.jsonl.sync"
"$linux/server/vekhistory" serve --db "$logs/history.db" --listen 127.0.0.1:0 2>"$history_port_file" &
history_pid=$!
trap 'stop_box; kill $history_pid 2>/dev/null; wine_session_end' EXIT
for i in $(seq 100); do grep -q "ouvindo em" "$history_port_file" && break; sleep 0.1; done
history_url=$(grep -o 'http://127.0.0.1:[0-9]*' "$history_port_file" | head -1)
journal=$(winepath -w "$logs/journal.jsonl" | tr -d '\r')
start_box --fw 2.30 --interval 200
in_wine "$build/cli/vekctl.exe" update -p COM1 --record "$journal" --station wine-pc \
    --sync "$history_url" 2>&1 | tr -d '\r' || fail "vekctl.exe update"
in_wine "$build/cli/vekctl.exe" sync "$journal" --to "$history_url" 2>&1 | tr -d '\r' ||
    fail "vekctl.exe sync"
python3 - "$history_url" <<'PY' || fail "the visit did not reach vekhistory"
import json, sys, urllib.request
stations = json.load(urllib.request.urlopen(sys.argv[1] + "/api/v1/stations"))["stations"]
assert [s["station"] for s in stations] == ["wine-pc"], stations
assert stations[0]["chains_intact"], stations
print("vekhistory holds the visit of station", stations[0]["station"])
PY
grep -q "firmware transfer .* completed: 87916 bytes" "$logs/box.log" ||
    fail "the box got no whole image"
profile=$(in_wine "$build/cli/vekctl.exe" config get -p COM1 2>/dev/null | tr -d '\r') ||
    fail "vekctl.exe config get"
grep -q '"format": 1' <<<"$profile" || fail "no profile read through COM1"

[ $failed -eq 0 ] && echo "The serial component on Windows: its tests and a visit through COM1 passed"
exit $failed
