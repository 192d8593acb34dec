# info, a whole update (byte-exact at the box) and config set with its verify, through cdc_acm.
start_box --fw 2.30
vekctl info -p $ACM >/tmp/info.out 2>&1 || fail "vekctl info: exit $? ($(cat /tmp/info.out))"
grep -q "Vek v3.0.2.30" /tmp/info.out || fail "info did not identify the box: $(cat /tmp/info.out)"

t=$(now)
vekctl update -p $ACM >/tmp/update.out 2>/tmp/update.err || fail "vekctl update: exit $? ($(tail -c 300 /tmp/update.err))"
figure "update of 1833 packets: $(since $t) s"
grep -q "firmware transfer .* completed: 87916 bytes, the carried image byte for byte" /tmp/box.log ||
    fail "the box did not receive the carried image byte for byte"

vekctl preset trevalo -o /tmp/trevalo.json || fail "vekctl preset: exit $?"
t=$(now)
vekctl config set -p $ACM /tmp/trevalo.json >/tmp/set.out 2>&1 || fail "vekctl config set: exit $? ($(cat /tmp/set.out))"
figure "config set with its verify: $(since $t) s"
grep -q "configuration transfer .* completed: 2032 bytes" /tmp/box.log || fail "the box did not store the block"
vekctl config diff /tmp/trevalo.json port:$ACM >/tmp/diff.out 2>&1 || fail "the box's configuration differs: $(cat /tmp/diff.out)"
result pass "info, update byte for byte, config set verified"
