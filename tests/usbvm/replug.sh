# provision --watch services the box again after a re-plug, once, and a change of the node's
# permissions (as udev makes after a plug-in) is no re-plug.
start_box --fw 2.36
vekctl preset default -o /tmp/default.json
vekctl provision --profile /tmp/default.json --all --watch --record /tmp/record.jsonl \
    >/tmp/watch.out 2>/tmp/watch.err &
watcher=$!
visits() { wc -l </tmp/record.jsonl 2>/dev/null || echo 0; }
at_least_visits() { [ "$(visits)" -ge "$1" ]; }
wait_until_visits() {
    wait_until 30 at_least_visits "$1" ||
        fail "$(visits) visits recorded, not $1: $(tail -c 400 /tmp/watch.err)"
}
wait_until_visits 1
chmod 0660 $ACM
chgrp 20 $ACM
sleep 3
[ "$(visits)" -eq 1 ] || fail "a permission change on the node was taken for a re-plug: $(visits) visits"
unplug
wait_for_gone $ACM 10 || fail "/dev/ttyACM0 stayed after the unplug"
plug
wait_for_node $ACM 10 || fail "no /dev/ttyACM0 after plugging in again"
wait_until_visits 2
sleep 3
[ "$(visits)" -eq 2 ] || fail "the re-plugged box was visited $(($(visits) - 1)) times"
kill -INT $watcher
wait $watcher
code=$?
cat /tmp/record.jsonl
grep -q '"result":"failed"' /tmp/record.jsonl && fail "a visit failed"
result pass "one visit before and one after the re-plug, none for the permission change (watch ended with $code)"
