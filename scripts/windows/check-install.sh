#!/usr/bin/env bash
# Checks the installer under Wine, in a prefix made afresh: a silent install puts exactly the
# portable zip's files into Program Files\VekTool with the uninstaller, the Start-menu entry and the
# Add/Remove Programs key; the installed programs run on what they were installed with; a silent
# uninstall leaves none of it.
#   scripts/windows/check-install.sh BUILD_DIR   (the folder scripts/windows/build.sh built into)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
"$root/scripts/install-deps.sh" --only wine wine64 xvfb unzip xdotool x11-utils x11-apps imagemagick
# shellcheck source=common.sh
. "$root/scripts/windows/common.sh"
# shellcheck source=wine-session.sh
. "$root/scripts/windows/wine-session.sh"

version=$(cache_value "$build" CMAKE_PROJECT_VERSION)
setup=$build/VekTool-$version-setup.exe
zip=$build/VekTool-$version-win64.zip
prefix=$build/wine-install
rm -rf "$prefix" "$prefix.log"
wine_session_start "$prefix"

failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}
pass() { echo "ok: $*"; }

instdir="$prefix/drive_c/Program Files/VekTool"
shortcut="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/VekTool.lnk"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\VekTool'

wine "$setup" /S </dev/null >/dev/null 2>&1 || fail "the installer exited $?"

# The zip's files, less its top folder, and the uninstaller.
zipped=$(unzip -Z1 "$zip" | grep -v '/$' | cut -d/ -f2-)
expected=$( (echo "$zipped"; echo uninstall.exe) | sort)
installed=$(cd "$instdir" 2>/dev/null && find . -type f | sed 's|^\./||' | sort)
[ "$installed" = "$expected" ] && pass "C:\\Program Files\\VekTool holds the zip's $(wc -l <<<"$zipped") files and uninstall.exe" ||
    fail "the installed files differ from the zip's:
$(diff <(echo "$expected") <(echo "$installed") || true)"

[ -f "$shortcut" ] && grep -qa 'VekTool\\vektool.exe' "$shortcut" && pass "the Start-menu entry VekTool leads to vektool.exe" ||
    fail "no Start-menu entry VekTool.lnk leading to vektool.exe"

entries=$(wine reg query "$key" </dev/null 2>/dev/null | tr -d '\r') || true
missing=0
for entry in "DisplayName *REG_SZ *VekTool\$" "DisplayVersion *REG_SZ *$version\$" "Publisher *REG_SZ *Norvane\$" \
    'UninstallString *REG_SZ *"C:\\Program Files\\VekTool\\uninstall.exe"$' 'DisplayIcon *REG_SZ .*vektool.exe'; do
    grep -q "$entry" <<<"$entries" || { fail "the Add/Remove Programs key lacks $entry"; missing=1; }
done
[ $missing -eq 1 ] || pass "Add/Remove Programs lists VekTool $version by Norvane, with its uninstaller"

# Only what was installed: no WINEPATH to the build's DLLs, no plugin path; Windows' own DLLs
# aside, whatever the window loads comes from the installation folder.
unset QT_PLUGIN_PATH QT_QPA_PLATFORM
out=$(wine "$instdir/vekctl.exe" --version </dev/null 2>&1 | tr -d '\r') || true
[ "$out" = "vekctl $version" ] && pass "the installed vekctl.exe --version: $out" || fail "the installed vekctl.exe --version said: $out"
loaded=$prefix/vektool-loaded.txt
shown=$(VEKTOOL_EXIT_WHEN_SHOWN=1 WINEDEBUG=+loaddll timeout 120 wine "$instdir/vektool.exe" </dev/null 2>"$loaded" |
    tr -d '\r') || true
[ "$shown" = shown ] && pass "the installed vektool.exe shows its window" || fail "the installed vektool.exe did not show its window"
# Its caption as the window manager reads it, and a picture of it with its port list.
wine "$instdir/vektool.exe" </dev/null >/dev/null 2>&1 &
window_pid=$!
window=$(timeout 120 xdotool search --sync --name '^VekTool v' 2>/dev/null | head -1) || true
title=$(xprop -id "${window:-0}" _NET_WM_NAME 2>/dev/null | sed -n 's/^_NET_WM_NAME(UTF8_STRING) = "\(.*\)"$/\1/p')
[ "$title" = "VekTool v$version.D" ] && pass "the installed window's caption reads \"$title\"" ||
    fail "the installed window's caption reads \"$title\""
sleep 2
mkdir -p "$build/wine-logs"
[ -z "$window" ] || xwd -id "$window" -silent | convert xwd:- "$build/wine-logs/installed-window.png" 2>/dev/null ||
    true
kill "$window_pid" 2>/dev/null || true
wait "$window_pid" 2>/dev/null || true
# Wine's debugging output doubles the backslashes.
own=$(sed -n 's/.*Loaded L"\([^"]*\)".*/\1/p' "$loaded" | sed 's/\\\\/\\/g' | grep -iv '^C:\\windows\\' | sort -u)
foreign=$(grep -iv '^C:\\Program Files\\VekTool\\' <<<"$own" || true)
[ -z "$foreign" ] && pass "it loads, besides Windows' DLLs: $(sed 's/.*\\VekTool\\//' <<<"$own" | paste -sd ' ')" ||
    fail "the installed vektool.exe loads from elsewhere: $foreign"

# The uninstaller runs a copy of itself from the temporary folder and returns at once: wait for
# that copy to finish its work.
wine "$instdir/uninstall.exe" /S </dev/null >/dev/null 2>&1 || fail "the uninstaller exited $?"
for _ in $(seq 600); do
    [ ! -e "$instdir" ] && ! wine reg query "$key" </dev/null >/dev/null 2>&1 && break
    sleep 0.1
done
[ ! -e "$instdir" ] && pass "C:\\Program Files\\VekTool is gone" || fail "left behind: $(cd "$instdir" && find . | sed 1d)"
[ ! -e "$shortcut" ] && pass "the Start-menu entry is gone" || fail "the Start-menu entry is left behind"
! wine reg query "$key" </dev/null >/dev/null 2>&1 && pass "the Add/Remove Programs key is gone" ||
    fail "the Add/Remove Programs key is left behind"

exit $failed
