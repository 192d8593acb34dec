# A box whose USB side takes no data at all (a FunctionFS function that never reads its OUT
# endpoint): what vekctl writes stays queued in the driver, and vekctl's process ends within a
# second of its last message rather than after the driver's 30 s closing wait.

# The box's status as the simulated box sends it, taken from one on a pseudo-terminal.
veksim --fw 2.30 >/tmp/pty.out 2>/dev/null &
wait_for_line /dev/pts 5 /tmp/pty.out || fail "no simulated box on a pseudo-terminal"
python3 -c 'import os, sys; fd = os.open(sys.argv[1], os.O_RDONLY | os.O_NOCTTY); sys.stdout.buffer.write(os.read(fd, 4096))' \
    "$(head -1 /tmp/pty.out)" >/tmp/status.bin
kill $!

unplug
rm $G/configs/c.1/acm.usb0
echo 0x0870 >$G/idVendor  # an id cdc_acm takes without a union descriptor
echo 0x0001 >$G/idProduct
mkdir $G/functions/ffs.deaf /dev/ffs
mount -t functionfs deaf /dev/ffs
python3 "$HERE/deaf-box.py" /dev/ffs /tmp/status.bin >/tmp/deaf.out 2>&1 &
wait_for_line ready 10 /tmp/deaf.out || fail "the FunctionFS box did not start: $(cat /tmp/deaf.out)"
ln -s $G/functions/ffs.deaf $G/configs/c.1/
plug
wait_for_node $ACM 10 || fail "cdc_acm did not take the FunctionFS box"

# The time of vekctl's last message, kept by a watcher until vekctl has ended.
watch_messages() {
    size=0
    while [ ! -e /tmp/tool-ended ]; do
        new=$(wc -c </tmp/update.err)
        [ "$new" != "$size" ] && size=$new && now >/tmp/last-message-at
        sleep 0.05
    done
}
vekctl update -p $ACM >/tmp/update.out 2>/tmp/update.err &
tool=$!
watch_messages &
wait_for_line "Iniciando" 20 /tmp/update.err || fail "the upload did not begin"
sleep 1
# What the driver still holds for the box (root opens the port beside vekctl).
python3 -c 'import fcntl, os, struct, termios; fd = os.open("/dev/ttyACM0", os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK); print(struct.unpack("i", fcntl.ioctl(fd, termios.TIOCOUTQ, bytes(4)))[0])' >/tmp/queued
wait $tool
code=$?
ended=$(now)
touch /tmp/tool-ended
cat /tmp/update.out /tmp/update.err
took=$(awk -v a="$(cat /tmp/last-message-at)" -v b="$ended" 'BEGIN { printf "%.2f", b - a }')
figure "last message to the process's end: $took s"
figure "bytes queued in the driver during the upload: $(cat /tmp/queued)"
[ "$(cat /tmp/queued)" -gt 0 ] || fail "nothing stayed queued in the driver: the box took the data"
[ $code -eq 1 ] || fail "vekctl update ended with $code, not 1"
at_most "$took" 1.5 || fail "vekctl's process ended $took s after its last message"
t=$(now)
vekctl info -p $ACM >/tmp/info.out 2>&1 || fail "the port does not open again: $(cat /tmp/info.out)"
figure "info right after: $(since $t) s"
# The window: its closing returns at once too.
QT_QPA_PLATFORM=offscreen USBVM_PORT=$ACM USBVM_UDC=$G/UDC $B/tests/usbvm/usbvm_window_tests \
    --gtest_filter='*StoppedTakingData*' || fail "the window's closing did not return at once"
result pass "exit 1; the process ended $took s after its last message; the port opened again; the window closed at once"
