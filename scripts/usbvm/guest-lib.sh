# Helpers for the scenarios, sourced in the guest (busybox sh). $B is the build folder.
G=/sys/kernel/config/usb_gadget/vek
ACM=/dev/ttyACM0
# Seconds within which a program counts as ending "at once": far below the driver's 30 s closing
# wait, with room for a loaded machine's emulation.
AT_ONCE=5

# The scenario's outcome, one line the host reads; then the guest powers off.
result() {
    status=$1
    shift
    if [ "$status" = fail ] && [ -s /tmp/box.log ]; then
        echo "--- the box's log"
        tail -n 40 /tmp/box.log
    fi
    printf '\nusbvm-result: %s %s\n' "$status" "$*"
    sync
    poweroff -f
}

fail() { result fail "$*"; }

# A box as a PC sees one: a USB device with one CDC ACM function.
gadget_make() {
    mkdir -p $G/strings/0x409 $G/configs/c.1/strings/0x409 $G/functions/acm.usb0
    echo 0x1d6b >$G/idVendor
    echo 0x0104 >$G/idProduct
    echo Norvane >$G/strings/0x409/manufacturer
    echo Vek >$G/strings/0x409/product
    echo VEK0001 >$G/strings/0x409/serialnumber
    echo "CDC ACM" >$G/configs/c.1/strings/0x409/configuration
    ln -s $G/functions/acm.usb0 $G/configs/c.1/
}

plug() { ls /sys/class/udc | head -1 >$G/UDC; }
unplug() { echo "" >$G/UDC; }

# Seconds since boot, to the hundredth.
now() { cut -d' ' -f1 /proc/uptime; }
# Seconds from $1 to now.
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }'; }
# Whether $1 <= $2, both decimal.
at_most() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a <= b) }'; }
# A figure for the closing note, not judged.
figure() { echo "usbvm-figure: $*"; }

# Waits up to $1 seconds for the rest of the arguments, a command, to succeed.
wait_until() {
    tenths=$(($1 * 10))
    shift
    while ! "$@" 2>/dev/null; do
        tenths=$((tenths - 1))
        [ $tenths -le 0 ] && return 1
        sleep 0.1
    done
}

wait_for_node() { wait_until "$2" test -e "$1"; }
wait_for_gone() { wait_until "$2" test ! -e "$1"; }
# Waits up to $2 seconds for the file $3 to hold a line matching $1.
wait_for_line() { wait_until "$2" grep -q "$1" "$3"; }

# The simulated box on the gadget's side; its events go to /tmp/box.log.
start_box() {
    veksim --tty /dev/ttyGS0 "$@" >/tmp/box.out 2>/tmp/box.log &
    BOX_PID=$!
    wait_for_line "line open" 5 /tmp/box.log || fail "veksim did not open /dev/ttyGS0"
}

# Runs the rest of the command as the ordinary user nobody, no groups.
as_user() { /usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }

# The packet the upload has reached, from the box's log (0 before the first).
packets_taken() { grep -c "ack sent" /tmp/box.log 2>/dev/null || echo 0; }
