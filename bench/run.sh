#!/usr/bin/env bash
# Runs every benchmark of the project once and prints its figures. A benchmark that misses its
# target says so and exits non-zero; the others still run, and the misses are listed at the end.
set -uo pipefail
build=${1:-build}
here=$(dirname "$0")
missed=()
run() { "$@" || missed+=("$*"); }
run "$build/bench/fold_bench" --benchmark_counters_tabular=true
run "$build/bench/fold_memory"
for script in convert_wav convert_wav_depth convert_formats tag_memory convert_jobs kill_during_convert; do
    run bash "$here/$script.sh" "$build"
done
run "$build/bench/channel_probe_bench"
if [ ${#missed[@]} -gt 0 ]; then
    printf 'missed or failed: %s\n' "${missed[@]}" >&2
    exit 1
fi
