#!/usr/bin/env bash
# Cross-builds VekTool for 64-bit Windows on Debian 12 (MinGW-w64 and a Qt built for it) with the
# test programs that run there, and makes the portable zip and the installer:
#   scripts/windows/build.sh [QT_PREFIX] [OUT_DIR]
# QT_PREFIX defaults to /opt/qt6-mingw, OUT_DIR to build-win64/. Prints both files and their sizes.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=common.sh
. "$root/scripts/windows/common.sh"
qt=${1:-/opt/qt6-mingw}
out=${2:-$root/build-win64}

# The prebuilt Qt and the script that makes it live beside the repository when it is checked out in
# the shared work folder.
toolchains=$root/../shared/toolchains
if [ ! -x "$qt/bin/qt-cmake" ]; then
    [ -d "$toolchains" ] && toolchains=$(cd "$toolchains" && pwd) || toolchains="<toolchains folder>"
    cat >&2 <<EOF
No Qt for Windows at $qt. It was built for the prefix /opt/qt6-mingw; either unpack the prebuilt one
    sudo tar xf $toolchains/qt6.4.2-mingw-w64.tar.xz -C /opt
or build it from Debian's qt6-base sources (about 45 minutes on 2 cores)
    sudo $toolchains/build-qt6-mingw.sh /opt/qt6-mingw
then run this script again (with the prefix as its first argument if it is not /opt/qt6-mingw).
EOF
    exit 1
fi
qt=$(cd "$qt" && pwd)

# qt6-base-dev holds the host tools' CMake packages that the cross-built Qt's qt-cmake uses.
"$root/scripts/install-deps.sh" --only cmake python3 g++-mingw-w64-x86-64-posix mingw-w64-tools \
    ninja-build qt6-base-dev qt6-base-dev-tools googletest nsis zip

mkdir -p "$out"
out=$(cd "$out" && pwd)
jobs=$(nproc)

# GoogleTest from Debian's sources, built once with the same MinGW toolchain (qt-cmake's).
gtest=$out/googletest
if [ ! -f "$gtest/lib/cmake/GTest/GTestConfig.cmake" ]; then
    echo "Building GoogleTest for MinGW-w64 into $gtest"
    "$qt/bin/qt-cmake" -S /usr/src/googletest -B "$out/googletest-build" -G Ninja \
        -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$gtest" >/dev/null
    cmake --build "$out/googletest-build" -j"$jobs" >/dev/null
    cmake --install "$out/googletest-build" >/dev/null
fi

"$qt/bin/qt-cmake" -S "$root" -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DGTest_DIR="$gtest/lib/cmake/GTest" >/dev/null
cmake --build "$out" -j"$jobs"
version=$(cache_value "$out" CMAKE_PROJECT_VERSION)

# The folder that both the zip and the installer take: the programs, the Qt plugins they load (the
# platform, the style; the TLS backend for an https address the version check may be sent on to)
# in plugins/, where a Qt deployed without its import libraries looks, and the DLLs that all of
# these import from Qt and the MinGW-w64 runtime, found by walking their import tables; the rest
# are Windows' own. All stripped: Debian's runtime DLLs carry their debugging information.
name=VekTool-$version-win64
stage=$out/package/$name
rm -rf "$out/package"
mkdir -p "$stage"
cp "$out/app/vektool.exe" "$out/cli/vekctl.exe" "$stage/"
for plugin in platforms/qwindows.dll styles/qwindowsvistastyle.dll tls/qschannelbackend.dll; do
    if [ -f "$qt/plugins/$plugin" ]; then
        mkdir -p "$stage/plugins/$(dirname "$plugin")"
        cp "$qt/plugins/$plugin" "$stage/plugins/$plugin"
    elif [ "$plugin" = platforms/qwindows.dll ]; then
        echo "$qt has no plugins/$plugin: the window cannot start without it" >&2
        exit 1
    fi
done

mapfile -t runtime_dirs < <(dll_dirs "$qt")
imports() { x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^\s*DLL Name: //p'; }
mapfile -t queue < <(find "$stage" -name '*.exe' -o -name '*.dll')
while [ ${#queue[@]} -gt 0 ]; do
    file=${queue[0]}
    queue=("${queue[@]:1}")
    for dll in $(imports "$file"); do
        [ -f "$stage/$dll" ] && continue
        for dir in "${runtime_dirs[@]}"; do
            if [ -f "$dir/$dll" ]; then
                cp "$dir/$dll" "$stage/"
                queue+=("$stage/$dll")
                break
            fi
        done
    done
done

find "$stage" \( -name '*.exe' -o -name '*.dll' \) -exec x86_64-w64-mingw32-strip --strip-unneeded {} +

zip=$out/$name.zip
rm -f "$zip"
(cd "$out/package" && zip -qr9 "$zip" "$name")

# The installer's file list both ways: each file installed, then deleted on uninstall, and the
# folders removed once empty, deepest first, so that nothing a user put there goes with them.
# A path in the package folder ("./plugins/x.dll") as the installer writes it ($INSTDIR\plugins\x.dll).
inst() { local rel=${1#.}; printf '$INSTDIR%s' "${rel//\//\\}"; }
(
    cd "$stage"
    find . -type d | sort | while read -r dir; do
        echo "SetOutPath \"$(inst "$dir")\""
        find "$dir" -maxdepth 1 -type f | sort | sed "s|^\./|File \"$stage/|; s|\$|\"|"
    done >"$out/package/install-files.nsh"
    {
        find . -type f | sort | while read -r file; do echo "Delete \"$(inst "$file")\""; done
        find . -mindepth 1 -type d | sort -r | while read -r dir; do echo "RMDir \"$(inst "$dir")\""; done
    } >"$out/package/uninstall-files.nsh"
)
setup=$out/VekTool-$version-setup.exe
makensis -V2 -DVERSION="$version" -DOUTFILE="$setup" -DICON="$out/packaging/windows/vektool.ico" \
    -DFILES="$out/package" "$root/packaging/windows/vektool.nsi"

echo
echo "Files in $name: $(cd "$stage" && find . -type f | sed 's|^\./||' | sort | tr '\n' ' ')"
for f in "$zip" "$setup"; do
    printf '%s  %s bytes (%s)\n' "$f" "$(stat -c %s "$f")" "$(du -h "$f" | cut -f1)"
done
