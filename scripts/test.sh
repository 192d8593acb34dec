#!/usr/bin/env bash
# Sets up, builds and runs every test in one CTest run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
dir=${1:-$root/build}
shift || true
"$root/scripts/build.sh" "$dir" "$@"
cd "$dir"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)" ${VEK_CTEST_ARGS:-}
