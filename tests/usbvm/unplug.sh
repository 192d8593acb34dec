# The gadget unbound mid-upload: vekctl update ends at once with exit 1 and names the packet
# reached, no process is left, and provision's record says where the upload stopped.
start_box --fw 2.30

# Runs "$@" in the background, unplugs once the box has taken packet 900 and waits for it;
# leaves its exit code in $code and the seconds from unplug to exit in $took.
unplug_at_packet_900() {
    "$@" >/tmp/tool.out 2>/tmp/tool.err &
    tool=$!
    wait_for_line "packet 900 of 1833" 30 /tmp/box.log || fail "the upload did not reach packet 900"
    t=$(now)
    unplug
    wait $tool
    code=$?
    took=$(since $t)
    cat /tmp/tool.err | tr '\r' '\n' | grep -v "^Atualizando" | tail -n 5
}

unplug_at_packet_900 vekctl update -p $ACM
figure "update: unplug to exit $took s"
[ $code -eq 1 ] || fail "vekctl update ended with $code, not 1"
at_most "$took" $AT_ONCE || fail "vekctl update took $took s to end after the unplug"
[ -z "$(pidof vekctl)" ] || fail "a vekctl process is left: $(ps)"
packet=$(sed -n 's/.*o Vek foi desconectado no pacote \([0-9]*\) de 1833.*/\1/p' /tmp/tool.err | head -1)
[ -n "$packet" ] || fail "no message naming the packet reached: $(tail -c 300 /tmp/tool.err)"
[ "$packet" -ge 900 ] && [ "$packet" -lt 1833 ] || fail "packet $packet named, the unplug came after 900"

# The same through provision, whose record line tells where the upload stopped.
plug
wait_for_node $ACM 10 || fail "no /dev/ttyACM0 after plugging in again"
wait_for_line "line open" 5 /tmp/box.log
: >/tmp/box.log
vekctl preset default -o /tmp/default.json
unplug_at_packet_900 vekctl provision --profile /tmp/default.json -p $ACM --record /tmp/record.jsonl
figure "provision: unplug to exit $took s"
[ $code -eq 9 ] || [ $code -eq 1 ] || fail "provision ended with $code"
at_most "$took" $AT_ONCE || fail "provision took $took s to end after the unplug"
cat /tmp/record.jsonl
python3 - /tmp/record.jsonl >/tmp/check.out <<'PY' || fail "the record's line: $(cat /tmp/check.out)"
import json, sys
line = json.loads(open(sys.argv[1]).read().splitlines()[-1])
stop = line.get("stopped_at", {})
wrong = [k for k, ok in [
    ("actions", line.get("actions") == ["identify", "upload"]),
    ("result", line.get("result") == "failed"),
    ("reason", line.get("reason") == "port_lost"),
    ("stopped_at", stop.get("step") == "upload" and stop.get("packets") == 1833
                   and 900 <= stop.get("packet", 0) < 1833)] if not ok]
print("wrong: " + ", ".join(wrong) if wrong else "stopped at packet %d" % stop["packet"])
sys.exit(1 if wrong else 0)
PY
[ -z "$(pidof vekctl)" ] || fail "a vekctl process is left: $(ps)"
result pass "update ended with 1 at packet $packet; record: $(cat /tmp/check.out)"
