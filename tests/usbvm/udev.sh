# Debian's udev with the package's rule, on a real plug-in: the node's group and mode, the stable
# by-id name that list prints, and a member of group dialout opening the box by that name.
mkdir -p /etc/udev/rules.d /run/udev
cp "$HERE/../../packaging/60-vektool.rules" /etc/udev/rules.d/
# udevadm is the daemon when called by that name.
ln -s /usr/bin/udevadm /tmp/systemd-udevd
/tmp/systemd-udevd --daemon || fail "systemd-udevd did not start"
start_box --fw 2.36
unplug
wait_for_gone $ACM 10 || fail "/dev/ttyACM0 stayed after the unplug"
plug
wait_for_node $ACM 10 || fail "no /dev/ttyACM0 after the plug-in"
/usr/bin/udevadm settle -t 10 || fail "udev did not settle"
mode=$(stat -c '%A %G' $ACM)
[ "$mode" = "crw-rw---- dialout" ] || fail "the node is $mode, not crw-rw---- dialout"
stable=/dev/serial/by-id/usb-Norvane_Vek_VEK0001-if00
vekctl list >/tmp/list.out || fail "vekctl list: exit $?"
cat /tmp/list.out
grep -q "^ttyACM0 *$stable$" /tmp/list.out || fail "list does not print the stable name $stable"
dialout=$(grep '^dialout:' /etc/group | cut -d: -f3)
/usr/bin/setpriv --reuid=65534 --regid=65534 --groups="$dialout" vekctl info -p "$stable" \
    >/tmp/info.out 2>&1 || fail "a member of dialout could not reach the box: $(cat /tmp/info.out)"
result pass "$mode; list prints $stable; dialout opens it"
