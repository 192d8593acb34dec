#!/usr/bin/env bash
# The Windows serial component under Wine against the simulated box: COM1 is mapped to the
# pseudo-terminal of a veksim running on Linux, then the Win32 serial tests run, and a visit of
# vekctl.exe (update, then config get) goes through the port.
#   scripts/windows/com-test.sh WINDOWS_BUILD LINUX_BUILD
# Needs: win32/win32_serial_tests.exe and cli/vekctl.exe in WINDOWS_BUILD, sim/veksim in
# LINUX_BUILD, wine, gcc.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
win=$(cd "${1:?usage: $0 WINDOWS_BUILD LINUX_BUILD}" && pwd)
linux=$(cd "${2:?usage: $0 WINDOWS_BUILD LINUX_BUILD}" && pwd)

# Wine maps every /dev/ttyS* it finds to a COM port; on a machine whose console is ttyS0 an
# opening would change the console's line. As root, the ports run in a mount namespace of their
# own in which those nodes are /dev/null.
if [ "$(id -u)" -eq 0 ] && [ -z "${VEK_CONSOLE_HIDDEN:-}" ] && command -v unshare >/dev/null; then
    exec env VEK_CONSOLE_HIDDEN=1 unshare --mount --propagation private "$0" "$@"
fi
if [ -n "${VEK_CONSOLE_HIDDEN:-}" ]; then
    for tty in /dev/ttyS*; do
        [ -e "$tty" ] && mount --bind /dev/null "$tty"
    done
fi

work=$win/wine-com
mkdir -p "$work"
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
dll_dir() { dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name="$1")"; }
qt=${QT_PREFIX:-/opt/qt6-mingw}
export WINEPATH="$qt/bin;$(dll_dir libstdc++-6.dll);$(dll_dir libwinpthread-1.dll)"
unset DISPLAY

# COM1 is the link $work/com1, which each run points at its box's pseudo-terminal.
link=$work/com1
if [ ! -d "$WINEPREFIX" ]; then
    wineboot -i >/dev/null 2>&1
    wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$link" /f >/dev/null 2>&1
    wineserver -w
fi

# The port becomes the controlling terminal of the wineserver, which opens it, so the end of each
# box is a hang-up to the wineserver, which then dumps its objects: into a log of their own.
wineserver -k 2>/dev/null || true
wineserver -p 2>>"$work/wineserver.log"

# Wine's WaitCommEvent needs modem lines, which a pseudo-terminal lacks.
shim=$work/wine-pty-modem-lines.so
gcc -shared -fPIC -O2 -o "$shim" "$root/tests/win32/wine-pty-modem-lines.c" -ldl

box_pid=""
stop_box() {
    [ -n "$box_pid" ] && kill "$box_pid" 2>/dev/null && wait "$box_pid" 2>/dev/null
    box_pid=""
}
trap 'stop_box; wineserver -k 2>/dev/null || true' EXIT

# Starts veksim with the given options and points COM1 at it.
start_box() {
    stop_box
    local out=$work/box.port
    : >"$out"
    "$linux/sim/veksim" "$@" >"$out" 2>"$work/box.log" &
    box_pid=$!
    for _ in $(seq 100); do [ -s "$out" ] && break; sleep 0.05; done
    ln -sfn "$(head -1 "$out")" "$link"
    # A wineserver of an earlier run keeps its own idea of the link.
    ln -sfn "$link" "$WINEPREFIX/dosdevices/com1"
}

in_wine() {
    LD_PRELOAD=$shim wine "$@"
}

failed=0
echo "== Win32 serial tests against the simulated box on COM1"
start_box --fw 2.36 --interval 200
in_wine "$win/win32/win32_serial_tests.exe" || failed=1

echo "== a visit through COM1: vekctl.exe update, then config get"
start_box --fw 2.30 --interval 200
in_wine "$win/cli/vekctl.exe" update -p COM1 || failed=1
grep -q "firmware transfer .* completed: 87916 bytes" "$work/box.log" || { echo "FAIL: the box got no whole image"; failed=1; }
profile=$(in_wine "$win/cli/vekctl.exe" config get -p COM1) || failed=1
grep -q '"format": 1' <<<"$profile" || { echo "FAIL: no profile read through COM1"; failed=1; }

[ $failed -eq 0 ] && echo "Win32 serial component: tests and the visit through COM1 passed"
exit $failed
