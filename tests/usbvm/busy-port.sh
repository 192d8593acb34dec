# The port held by one program: a second opener, an ordinary user, gets exit 4 without waiting
# for the holder, and the port opens again for that user once it is free.
start_box --fw 2.30
chmod 0666 $ACM  # the user may open it, as the package's udev rule lets the dialout group
vekctl update -p $ACM >/tmp/holder.out 2>&1 &
holder=$!
wait_for_line "packet 100 of" 20 /tmp/box.log || fail "the upload did not begin"
t=$(now)
as_user vekctl info -p $ACM >/tmp/second.out 2>&1
code=$?
took=$(since $t)
cat /tmp/second.out
figure "second opener: exit $code after $took s, the program's start under emulation included"
[ $code -eq 4 ] || fail "the second opener got exit $code, not 4"
grep -q "em uso" /tmp/second.out || fail "the message does not say the port is in use"
kill -0 $holder 2>/dev/null || fail "the second opener ended only after the holder (it waited)"
wait $holder || fail "the holder's update failed: exit $?"
as_user vekctl info -p $ACM >/tmp/again.out 2>&1 ||
    fail "the port does not open again for the user: exit $? ($(cat /tmp/again.out))"
result pass "busy: exit 4 while the holder ran; free again: info ok"
