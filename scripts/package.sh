#!/usr/bin/env bash
# Builds a Release into build-package/ (or the given folder) and makes the Debian package of it;
# prints the path of the .deb.
#   scripts/package.sh [build folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build-package}
# The package holds only the programs: no tests or benchmarks to build for it.
cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DBUILD_BENCH=OFF >/dev/null
cmake --build "$dir" -j"$(nproc)" >/dev/null
dir=$(cd "$dir" && pwd)
cd "$dir"
rm -f vektool_*.deb
cpack -G DEB >cpack.log 2>&1 || { cat cpack.log >&2; exit 1; }
ls "$dir"/vektool_*.deb
