#!/usr/bin/env bash
# Runs every benchmark of the project once and prints its figures.
set -euo pipefail
build=${1:-build}
"$build/bench/fold_bench" --benchmark_counters_tabular=true
"$build/bench/fold_memory"
bash "$(dirname "$0")/convert_wav.sh" "$build"
bash "$(dirname "$0")/convert_wav_depth.sh" "$build"
bash "$(dirname "$0")/convert_formats.sh" "$build"
bash "$(dirname "$0")/tag_memory.sh" "$build"
bash "$(dirname "$0")/convert_jobs.sh" "$build"
"$build/bench/channel_probe_bench"
