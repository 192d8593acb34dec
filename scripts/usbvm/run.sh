#!/usr/bin/env bash
# Runs one scenario with the box on the kernel's own USB serial driver, in a virtual machine.
# Usage: scripts/usbvm/run.sh SCENARIO.sh BUILD_DIR
#
# QEMU (software emulation, no KVM needed) boots this machine's Debian kernel with a small
# initramfs of busybox-static. In the guest, the dummy USB host controller and a configfs gadget
# with one CDC ACM function give /dev/ttyACM0 on the cdc_acm driver (what a box on its cable gives
# a PC) and /dev/ttyGS0 on the box's side. This machine's root is shared read-only by 9p and its
# /usr, /lib and /work are linked into the guest, so that its programs, the build folder among
# them, run there through its own dynamic loader and libraries at the same paths.
#
# The scenario runs as the guest's init with the helpers of guest-lib.sh and reports on the console
# one line "usbvm-result: pass|fail|skip TEXT"; this script turns it into its exit code (77 for a
# skip, as CTest's SKIP_RETURN_CODE) and shows the guest's console.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
scenario=$(realpath "${1:?usage: run.sh SCENARIO.sh BUILD_DIR}")
build=$(realpath "${2:?usage: run.sh SCENARIO.sh BUILD_DIR}")

skip() { echo "SKIPPED: $*"; exit 77; }

kver=$(ls /lib/modules 2>/dev/null | sort -V | tail -1)
kernel=/boot/vmlinuz-$kver
busybox=/bin/busybox
command -v qemu-system-x86_64 >/dev/null && [ -n "$kver" ] && [ -r "$kernel" ] && [ -x "$busybox" ] ||
    skip "the virtual machine needs qemu-system-x86, linux-image-amd64 and busybox-static" \
         "(scripts/install-deps.sh installs them)"
# The guest has no libraries of its own before the share is mounted.
if ldd "$busybox" >/dev/null 2>&1; then
    skip "$busybox is not the static busybox (install busybox-static)"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
mkdir -p "$root"/{bin,dev,proc,sys,mod,host,tmp,etc,run}
cp "$busybox" "$root/bin/busybox"
for applet in $("$busybox" --list); do
    [ "$applet" = busybox ] || ln -s busybox "$root/bin/$applet"
done

# The gadget, its controller, the host's driver and the share, each after what it depends on.
modules=(usb-common usbcore udc-core configfs libcomposite u_serial usb_f_acm usb_f_fs dummy_hcd cdc-acm
         virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci 9pnet
         9pnet_virtio netfs fscache 9p)
for m in "${modules[@]}"; do
    file=$(modinfo -k "$kver" -F filename "$m")
    case "$file" in
    *.ko) cp "$file" "$root/mod/" ;;
    *.ko.xz) xz -dc "$file" >"$root/mod/$(basename "$file" .xz)" ;;
    *) skip "module $m not found for kernel $kver" ;;
    esac
    basename "${file%.xz}" >>"$root/mod/order"
done

cp "$here/guest-init.sh" "$root/init"
cp "$here/guest-lib.sh" "$root/guest-lib.sh"
cp "$scenario" "$root/scenario.sh"
echo "$build" >"$root/build-dir"
dirname "$scenario" >"$root/scenario-dir"
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1 >"$work/initrd.gz")

console=$work/console.log
status=0
timeout 300 qemu-system-x86_64 -machine q35 -m 1024 -smp 1 -nographic -no-reboot \
    -kernel "$kernel" -initrd "$work/initrd.gz" \
    -append "console=ttyS0 quiet loglevel=3 panic=-1" \
    -fsdev local,id=hostroot,path=/,security_model=none,readonly=on,multidevs=remap \
    -device virtio-9p-pci,fsdev=hostroot,mount_tag=hostroot \
    </dev/null >"$console" 2>&1 || status=$?
tr -d '\r' <"$console" | sed -e 's/\x1b\[[0-9;?]*[a-zA-Z]//g' >"$console.txt"
cat "$console.txt"
[ "$status" -eq 124 ] && { echo "FAILED: the virtual machine did not finish within 300 s"; exit 1; }
result=$(grep -a '^usbvm-result: ' "$console.txt" | tail -1 || true)
case "$result" in
"usbvm-result: pass"*) exit 0 ;;
"usbvm-result: skip"*) echo "SKIPPED: ${result#usbvm-result: skip }"; exit 77 ;;
"usbvm-result: fail"*) echo "FAILED: ${result#usbvm-result: fail }"; exit 1 ;;
*) echo "FAILED: the guest gave no result (qemu exit $status)"; exit 1 ;;
esac
