#!/usr/bin/env bash
# Builds the tool and its benchmark, then runs the benchmark; extra arguments go to vekbench.
#   scripts/bench.sh [--runs N] ...
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$root/build" -DBUILD_BENCH=ON
QT_QPA_PLATFORM=offscreen "$root/build/bench/vekbench" "$@"
