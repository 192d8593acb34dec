#!/usr/bin/env bash
# Checks a built Debian package without installing it: the files it holds, its desktop entry and
# metainfo, its runtime dependencies, and that its vektool starts.
#   scripts/check-package.sh vektool_<version>_<arch>.deb
set -euo pipefail
deb=${1:?usage: $0 vektool_<version>_<arch>.deb}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg-deb -x "$deb" "$scratch"

failed=0
fail() { echo "FAIL: $*"; failed=1; }

files=(usr/bin/vektool usr/bin/vekctl usr/bin/veksim usr/bin/vekhistory
       usr/lib/systemd/system/vekhistory.service
       usr/share/man/man1/vekctl.1.gz usr/share/man/man1/vektool.1.gz
       usr/share/man/man1/veksim.1.gz usr/share/man/man1/vekhistory.1.gz
       usr/share/bash-completion/completions/vekctl
       usr/share/applications/vektool.desktop
       usr/share/metainfo/br.com.norvane.vektool.metainfo.xml
       usr/lib/udev/rules.d/60-vektool.rules)
icon_sizes=(16 24 32 48 64 256)
for size in "${icon_sizes[@]}"; do
    files+=("usr/share/icons/hicolor/${size}x${size}/apps/vektool.png")
done
for f in "${files[@]}"; do
    [ -f "$scratch/$f" ] || fail "missing $f"
done
for p in vektool vekctl veksim vekhistory; do
    [ -x "$scratch/usr/bin/$p" ] || fail "usr/bin/$p is not executable"
done
for size in "${icon_sizes[@]}"; do
    icon=$scratch/usr/share/icons/hicolor/${size}x${size}/apps/vektool.png
    [ -f "$icon" ] && ! file "$icon" | grep -q "PNG image data, $size x $size" &&
        fail "icon ${size}x${size} is not a $size x $size PNG"
done
rule=$scratch/usr/lib/udev/rules.d/60-vektool.rules
if [ -f "$rule" ]; then
    grep -q 'GROUP="dialout"' "$rule" || fail "udev rule sets no dialout group"
    grep -q 'MODE="0660"' "$rule" || fail "udev rule sets no mode 0660"
    grep -q 'ENV{ID_MM_DEVICE_IGNORE}="1"' "$rule" || fail "udev rule does not keep the modem manager off"
fi

desktop-file-validate "$scratch/usr/share/applications/vektool.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$scratch/usr/share/metainfo/br.com.norvane.vektool.metainfo.xml" ||
    fail "appstreamcli validate"
# The tree as installed: the metainfo's launchable names a desktop entry that is there.
appstreamcli validate-tree --no-net "$scratch" || fail "appstreamcli validate-tree"

[ "$(dpkg-deb -f "$deb" Package)" = vektool ] || fail "package name is not vektool"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
# The package names alone, one a line, without versions or alternatives.
names=$(echo "$depends" | tr ',|' '\n' | sed 's/(.*//; s/ //g')
for dep in libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 qt6-qpa-plugins fonts-dejavu-extra \
           libc6 libstdc++6 libqt6sql6 libqt6sql6-sqlite libqt6sql6-psql libcpp-httplib0.11 adduser; do
    grep -qxF "$dep" <<<"$names" || fail "Depends lacks $dep"
done

# The packaged program starts and shows its window, with the system's Qt (offscreen).
if [ -x "$scratch/usr/bin/vektool" ]; then
    shown=$(QT_QPA_PLATFORM=offscreen VEKTOOL_EXIT_WHEN_SHOWN=1 timeout 20 \
        "$scratch/usr/bin/vektool" </dev/null 2>/dev/null) || true
    [ "$shown" = shown ] || fail "usr/bin/vektool does not start"
fi

# The command line answers, its manual page reads without warnings, its completion loads.
if [ -x "$scratch/usr/bin/vekctl" ]; then
    "$scratch/usr/bin/vekctl" --version | grep -q "^vekctl " || fail "usr/bin/vekctl --version"
    "$scratch/usr/bin/vekctl" preset default | grep -q '"format": 1' ||
        fail "usr/bin/vekctl preset default"
fi
# Every manual page reads without warnings and names only pages that are shipped.
for man_page in "$scratch"/usr/share/man/man1/*.1.gz; do
    page=$(basename "$man_page" .1.gz)
    warnings=$(zcat "$man_page" | LC_ALL=C.UTF-8 groff -k -man -Tutf8 -ww -z 2>&1)
    [ -z "$warnings" ] || fail "$page.1: $warnings"
    for named in $(zcat "$man_page" | sed -n 's/^\.BR \([a-z]*\) (1).*/\1/p'); do
        [ -f "$scratch/usr/share/man/man1/$named.1.gz" ] || fail "$page.1 names $named(1), not shipped"
    done
done
# The completion offers each command the options its own help lists, and no other command's.
completion=$scratch/usr/share/bash-completion/completions/vekctl
if [ -x "$scratch/usr/bin/vekctl" ] && [ -f /usr/share/bash-completion/bash_completion ]; then
    completed() {
        PATH=$scratch/usr/bin:$PATH bash -c '. /usr/share/bash-completion/bash_completion
            . "$1"; shift; COMP_WORDS=(vekctl "$@"); COMP_CWORD=$(($# + 0)); COMP_LINE="vekctl $*"
            COMP_POINT=${#COMP_LINE}; _vekctl; printf "%s\n" "${COMPREPLY[@]}"' _ "$completion" "$@"
    }
    # Read whole before grep looks, which stops at the first match (pipefail would see SIGPIPE).
    offered=$(completed config set --)
    grep -qx -- --allow-old-firmware <<<"$offered" || fail "completion: config set"
    ! grep -qx -- --probe <<<"$offered" || fail "completion: --probe for config set"
    grep -qx -- --probe <<<"$(completed list --)" || fail "completion: list --probe"
    grep -qx -- --watch <<<"$(completed provision --wa)" || fail "completion: provision --watch"
    grep -qx config <<<"$(completed conf)" || fail "completion: commands"
fi
# The history server answers, and its unit is there but enabled by nothing in the package.
if [ -x "$scratch/usr/bin/vekhistory" ]; then
    "$scratch/usr/bin/vekhistory" --help | grep -q "vekhistory serve" || fail "usr/bin/vekhistory --help"
fi
unit=$scratch/usr/lib/systemd/system/vekhistory.service
if [ -f "$unit" ]; then
    grep -q '^ExecStart=/usr/bin/vekhistory serve' "$unit" || fail "vekhistory.service starts no server"
    grep -q '^User=vekhistory' "$unit" || fail "vekhistory.service runs as root"
    [ -z "$(find "$scratch" -path '*.wants/*')" ] || fail "the package enables a unit"
fi
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./postinst 2>/dev/null | grep -q 'adduser --system' ||
    fail "postinst makes no vekhistory user"
completion=$scratch/usr/share/bash-completion/completions/vekctl
[ -f "$completion" ] && ! bash -n "$completion" && fail "the bash completion does not parse"

[ $failed -eq 0 ] || exit 1
echo "Package $deb: ${#files[@]} files, desktop entry, metainfo, dependencies and start OK"
