#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under AddressSanitizer and UndefinedBehaviorSanitizer
# and runs each for a while on a copy of its seed corpus. Fails when any target finds a crash.
# Usage: scripts/fuzz.sh [seconds-per-target] [build-dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
dir=${2:-$root/build-fuzz}
targets=(fuzz_decode_packet fuzz_receive fuzz_config_read fuzz_version_record fuzz_web_body fuzz_profile)

"$root/scripts/install-deps.sh" clang
CC=clang CXX=clang++ cmake -S "$root" -B "$dir" -DVEK_FUZZ=ON "-DVEK_SANITIZE=address;undefined" \
    -DBUILD_TESTING=OFF -DBUILD_BENCH=OFF
cmake --build "$dir" -j"$(nproc)" --target "${targets[@]}"

# The runs grow their corpus and leave crash files: all of it in the build folder, never in the
# repository's seeds.
work="$dir/fuzz-runs"
rm -rf "$work"
mkdir -p "$work"
failed=()
for t in "${targets[@]}"; do
    mkdir -p "$work/$t/corpus" "$work/$t/artifacts"
    cp "$root/fuzz/corpus/$t/"* "$work/$t/corpus/"
    extra=()
    # The window's target turns leak detection off in its sanitizer options (Qt's font caches
    # live for the whole process); without the flag libFuzzer would still run such inputs twice.
    [ "$t" = fuzz_receive ] && extra=(-detect_leaks=0)
    status=0
    # Frames reach up to 1027 bytes plus the receive target's header and some trailing bytes.
    QT_QPA_PLATFORM=offscreen "$dir/fuzz/$t" -max_total_time="$seconds" -max_len=1200 \
        -timeout=10 -print_final_stats=1 -artifact_prefix="$work/$t/artifacts/" \
        "${extra[@]}" "$work/$t/corpus" >"$work/$t/log" 2>&1 || status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$t/log" | tail -n1)
    if [ "$status" -ne 0 ]; then
        echo "$t: FAILED after ${runs:-?} executions (exit $status); log $work/$t/log"
        grep -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error)' "$work/$t/log" | head -n5 || true
        ls "$work/$t/artifacts/"
        failed+=("$t")
    else
        echo "$t: ${runs:-?} executions, no crash"
    fi
done
if [ ${#failed[@]} -ne 0 ]; then
    echo "crashes found by: ${failed[*]}"
    exit 1
fi
