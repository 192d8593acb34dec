#!/usr/bin/env bash
# Runs the Windows build's test programs under Wine, one line each with its GoogleTest summary, then
# vekctl.exe and vektool.exe briefly; fails if any of them fails:
#   scripts/windows/test.sh BUILD_DIR        (the folder scripts/windows/build.sh built into)
# The Wine prefix is BUILD_DIR/wine, the programs' output BUILD_DIR/wine-logs/.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
"$root/scripts/install-deps.sh" --only wine wine64 xvfb g++-mingw-w64-x86-64-posix python3
# shellcheck source=common.sh
. "$root/scripts/windows/common.sh"
# shellcheck source=wine-session.sh
. "$root/scripts/windows/wine-session.sh"

# The Qt the build used (its Qt6_DIR is PREFIX/lib/cmake/Qt6).
qt=$(cd "$(cache_value "$build" Qt6_DIR)/../../.." && pwd)
version=$(cache_value "$build" CMAKE_PROJECT_VERSION)
mapfile -t dll_dirs < <(dll_dirs "$qt")

wine_session_start "$build/wine"
# vekctl.exe's folder too, for the tests that run it.
WINEPATH=$(winepath -w "${dll_dirs[@]}" "$build/cli" | tr -d '\r' | paste -sd ';')
QT_PLUGIN_PATH=$(winepath -w "$qt/plugins" | tr -d '\r')
export WINEPATH QT_PLUGIN_PATH
logs=$build/wine-logs
rm -rf "$logs"
mkdir -p "$logs"

failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}

# Offscreen, as under CTest on Linux. In Brazilian Portuguese, the language of the tool's users:
# Wine takes the user's regional settings, which the transfer number is made from, from LC_ALL.
# From the program's folder: the current drive is then Z:, where the Linux paths compiled into the
# tests (the icon folder) lead.
for exe in "$build"/tests/*/*.exe; do
    name=$(basename "$exe" .exe)
    # It needs the simulated box on COM1: scripts/windows/com-test.sh runs it.
    [ "$name" = win32_serial_tests ] && continue
    log=$logs/$name.log
    status=0
    (cd "$(dirname "$exe")" && LC_ALL=pt_BR.UTF-8 QT_QPA_PLATFORM=offscreen timeout 900 \
        wine "$exe" --gtest_color=no </dev/null >"$log" 2>&1) || status=$?
    # The C runtime writes CRLF line ends.
    summary=$(tr -d '\r' <"$log")
    total=$(sed -n 's/^\[==========\] \([0-9]*\) tests\? from .* ran\..*/\1/p' <<<"$summary")
    passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\..*/\1/p' <<<"$summary")
    skipped=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\?, listed below:/\1/p' <<<"$summary")
    line="passed ${passed:-0}/${total:-?}${skipped:+ ($skipped skipped)}"
    if [ "$status" -ne 0 ] || [ -z "$total" ]; then
        line="FAILED, exit code $status, ${passed:-0}/${total:-?} passed; see $log"
        failed=1
    fi
    printf '%-16s %s\n' "$name" "$line"
    grep -E '^\[  FAILED  \] [^ ]+$' <<<"$summary" | sed 's/^/    /' || true
done

# The programs themselves: vekctl answers with no box, and the window comes up with Windows'
# platform plugin (on the session's X server).
vekctl=$build/cli/vekctl.exe
out=$(wine "$vekctl" --version </dev/null 2>&1 | tr -d '\r') || true
[ "$out" = "vekctl $version" ] && printf '%-16s %s\n' "vekctl.exe" "--version: $out" ||
    fail "vekctl.exe --version said: $out"
profile=$logs/preset-default.json
if wine "$vekctl" preset default </dev/null >"$profile" 2>&1 &&
    python3 -c 'import json, sys; sys.exit(json.load(sys.stdin)["name"] != "default")' <"$profile"; then
    printf '%-16s %s\n' "vekctl.exe" "preset default: the default profile"
else
    fail "vekctl.exe preset default; see $profile"
fi
shown=$(VEKTOOL_EXIT_WHEN_SHOWN=1 timeout 120 wine "$build/app/vektool.exe" </dev/null 2>"$logs/vektool.log" |
    tr -d '\r') || true
[ "$shown" = shown ] && printf '%-16s %s\n' "vektool.exe" "the window came up" ||
    fail "vektool.exe did not show its window; see $logs/vektool.log"

exit $failed
