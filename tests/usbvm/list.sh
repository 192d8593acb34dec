# vekctl list shows the box's USB serial device, and --probe what answers on it.
start_box --fw 2.36
vekctl list >/tmp/list.out 2>&1 || fail "vekctl list: exit $? ($(cat /tmp/list.out))"
cat /tmp/list.out
grep -qx "ttyACM0.*" /tmp/list.out || fail "ttyACM0 is not listed"
vekctl list --probe >/tmp/probe.out 2>&1 || fail "vekctl list --probe: exit $?"
cat /tmp/probe.out
grep "ttyACM0" /tmp/probe.out | grep -q "0011A2B3" || fail "--probe does not show the box on ttyACM0"
result pass "ttyACM0 listed, the box found on it"
