#!/bin/sh
# The guest's init: the box's USB side and the host's driver, the host's programs, then the
# scenario. Whatever the scenario does, one result line reaches the console and the guest powers
# off.
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmp /tmp
mount -t tmpfs shm /dev/shm
for m in $(cat /mod/order); do insmod /mod/$m || echo "usbvm: insmod $m failed"; done
mount -t configfs none /sys/kernel/config

# This machine's root, read-only; its programs find their loader, libraries and build folder at
# the paths they were built for.
mount -t 9p -o trans=virtio,version=9p2000.L,ro hostroot /host
ln -s /host/usr /usr
ln -s /usr/lib /lib
ln -s /host/lib64 /lib64
ln -s /host/work /work
for f in ld.so.cache passwd group fonts localtime; do ln -s /host/etc/$f /etc/$f; done
B=$(cat /build-dir)
HERE=$(cat /scenario-dir)  # the scenario's own folder, for files beside it
# Folders the guest has of its own (/tmp) are reached under /host.
[ -e "$B" ] || B=/host$B
[ -e "$HERE" ] || HERE=/host$HERE
export PATH=$B/cli:$B/sim:/bin:/usr/bin:/usr/sbin HOME=/tmp LANG=C.UTF-8 TMPDIR=/tmp
. /guest-lib.sh
gadget_make
plug
wait_for_node /dev/ttyACM0 10 || result fail "no /dev/ttyACM0 after plugging the gadget in"
. /scenario.sh
result fail "the scenario ended without a result"
