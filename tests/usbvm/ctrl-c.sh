# Ctrl-C mid-upload: exit 130, and the port opens again at once.
start_box --fw 2.30
vekctl update -p $ACM >/tmp/update.out 2>/tmp/update.err &
tool=$!
wait_for_line "packet 900 of" 30 /tmp/box.log || fail "the upload did not reach packet 900"
t=$(now)
kill -INT $tool
wait $tool
code=$?
took=$(since $t)
figure "SIGINT to exit: $took s"
[ $code -eq 130 ] || fail "vekctl update ended with $code, not 130"
at_most "$took" $AT_ONCE || fail "vekctl took $took s to end after SIGINT"
t=$(now)
vekctl info -p $ACM >/tmp/info.out 2>&1 || fail "the port does not open again: exit $? ($(cat /tmp/info.out))"
figure "info right after: $(since $t) s"
result pass "exit 130 after $took s; the port opened again"
