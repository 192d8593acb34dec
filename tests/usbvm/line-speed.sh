# The driver holds the line at 3,686,400 baud while vekctl has the port (root may open it beside).
start_box --fw 2.30
vekctl update -p $ACM >/tmp/update.out 2>&1 &
tool=$!
wait_for_line "packet 100 of" 20 /tmp/box.log || fail "the upload did not begin"
# struct termios2 as TCGETS2 gives it: four flags, the line discipline, 19 control characters,
# then the input and output rates.
python3 - >/tmp/speed.out <<'PY' || fail "termios2 could not be read: $(cat /tmp/speed.out)"
import fcntl, os, struct
TCGETS2, CBAUD, BOTHER = 0x802C542A, 0o010017, 0o010000
fd = os.open("/dev/ttyACM0", os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
raw = fcntl.ioctl(fd, TCGETS2, bytes(44))
iflag, oflag, cflag, lflag = struct.unpack_from("4I", raw)
ispeed, ospeed = struct.unpack_from("2I", raw, 36)
print(f"cflag rate bits {'BOTHER' if cflag & CBAUD == BOTHER else oct(cflag & CBAUD)} in {ispeed} out {ospeed}")
PY
cat /tmp/speed.out
wait $tool || fail "vekctl update: exit $?"
grep -qx "cflag rate bits BOTHER in 3686400 out 3686400" /tmp/speed.out || fail "the line is not at 3686400: $(cat /tmp/speed.out)"
result pass "$(cat /tmp/speed.out)"
