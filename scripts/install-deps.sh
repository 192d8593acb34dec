#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing need; skips what is there.
# Names given are installed as well; after --only, just those (the Windows build's scripts).
# fonts-dejavu-extra holds the condensed face the window is laid out for; a minimal Debian 12 has
# only the wider DejaVu Sans, in which captions are clipped. The history server's tests start a
# PostgreSQL of their own from the postgresql package's programs; the fleet pages are tested in
# Debian's headless Chromium, driven by Selenium. qemu-system-x86, linux-image-amd64 and
# busybox-static make the virtual machine in which the usbvm tests reach the box through the
# kernel's own USB serial driver (scripts/usbvm/).
set -euo pipefail
if [ "${1:-}" = --only ]; then
    shift
    packages=("$@")
else
    packages=(cmake g++ make qt6-base-dev qt6-base-dev-tools libgl-dev googletest libgtest-dev libgmock-dev
              fonts-dejavu-extra clang-format xvfb xauth x11-utils xdotool python3
              pkg-config libqt6sql6-sqlite libqt6sql6-psql libcpp-httplib-dev libssl-dev postgresql
              chromium chromium-driver python3-selenium iproute2
              qemu-system-x86 linux-image-amd64 busybox-static "$@")
fi
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
