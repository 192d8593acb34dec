# A Wine session of a script's own, sourced by test.sh and check-install.sh:
#   wine_session_start PREFIX   the prefix (made quietly and unattended when missing), an X server
#                               and a wineserver of the session's own, all ended when the script exits
#   wine_com1 PATH              COM1 leads to PATH (a path that does not exist, or a pseudo-terminal)
# Wine maps /dev/ttyS0, /dev/ttyS1... to COM ports at every start of its services, and /dev/ttyS0 may
# be the machine's console: COM1 is pointed elsewhere through HKLM\Software\Wine\Ports, but the
# ports Wine finds itself then take the next numbers, so each of those is made to lead nowhere as
# well. The wineserver is kept running until the end, so that its services do not map them again.

wine_session_start() {
    export WINEPREFIX=$1
    export WINEDEBUG=-all
    # No prompts to install Mono or Gecko; no menu entries on this machine for the installer's
    # shortcut.
    export WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d"
    unset WINEPATH
    wine_no_port=$WINEPREFIX/no-such-port
    trap wine_session_end EXIT

    # The window and the installer need a display; this one shows nothing on the user's.
    local fifo
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" 2>/dev/null &
    wine_xvfb=$!
    local display
    read -r display <"$fifo" || true
    rm -f "$fifo"
    [ -n "$display" ] || { echo "Xvfb did not start" >&2; return 1; }
    export DISPLAY=:$display

    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "Making the Wine prefix $WINEPREFIX"
        mkdir -p "$WINEPREFIX"
        wineboot -i </dev/null >"$WINEPREFIX.log" 2>&1
    fi
    wine_com1 "$wine_no_port/com1"
}

wine_com1() {
    wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$1" /f </dev/null >/dev/null
    # The services read the key when they start: a new wineserver, kept running, and a first
    # program that starts them. Its output goes to a file, as the services inherit it.
    wineserver -k || true
    wineserver -w
    wineserver -p </dev/null >/dev/null 2>&1
    local ports=$WINEPREFIX/serialcomm.txt
    wine reg query 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' </dev/null >"$ports" 2>&1
    local dosdevices=$WINEPREFIX/dosdevices i
    for i in $(seq 100); do
        [ "$(readlink "$dosdevices/com1")" = "$1" ] && break
        sleep 0.1
    done
    if [ "$(readlink "$dosdevices/com1")" != "$1" ] || ! grep -q 'REG_SZ *COM1' "$ports"; then
        echo "Wine did not take COM1 -> $1 (com1 -> $(readlink "$dosdevices/com1"))" >&2
        return 1
    fi
    local link
    for link in "$dosdevices"/com*; do
        [ "$link" = "$dosdevices/com1" ] && continue
        echo "Wine mapped ${link##*/} to $(readlink "$link"); it leads nowhere in this session."
        ln -sfn "$wine_no_port/${link##*/}" "$link"
    done
}

wine_session_end() {
    wineserver -k 2>/dev/null || true
    [ -z "${wine_xvfb:-}" ] || kill "$wine_xvfb" 2>/dev/null || true
}
