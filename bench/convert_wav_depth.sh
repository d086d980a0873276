#!/usr/bin/env bash
# Converts a 10-minute 44.1 kHz stereo WAV of 24-bit PCM and one of 32-bit float with
# tavorin-chm (mix and keep left) beside `sox in.wav out.wav remix 1,2` in one run, and prints
# the wall-time ratios and the engine's peak resident memory for each.
#
#   bench/convert_wav_depth.sh [BUILD]     targets: at most 1.0 times sox, under 32 MiB
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
chm="$build/cli/tavorin-chm"
work=$(mktemp -d /tmp/chm-bench-depth-XXXXXX)
trap 'rm -rf "$work"' EXIT

# Several partials per channel with a slow tremolo: not a pure tone, left and right distinct.
make_music() {  # output, sox output options
    local out=$1
    shift
    sox -n -r 44100 -c 2 "$@" "$out" synth 600 sine 220 sine 277 sine 330 sine 415 \
        remix 1,3 2,4 tremolo 0.3 40 gain -n -3
}

# Wall seconds of a command, best of three runs (the file cache is warm after the first). A run
# that fails stops the benchmark: its time would be meaningless.
best_of_three() {
    local best="" t start end
    for _ in 1 2 3; do
        rm -f "$work"/out*.wav "$work"/chm/*
        start=$(date +%s.%N)
        "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
        end=$(date +%s.%N)
        t=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
        if [ -z "$best" ] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then best=$t; fi
    done
    echo "$best"
}

peak_kib() {
    rm -f "$work"/chm/*
    /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1
}

mkdir -p "$work/chm"
printf 'ten minutes, 44.1 kHz stereo WAV to mono at the same depth (best of 3, wall seconds)\n'
for kind in s24 f32; do
    case $kind in
        s24) make_music "$work/in.wav" -t wavpcm -e signed-integer -b 24; label="24-bit PCM" ;;
        f32) make_music "$work/in.wav" -e floating-point -b 32; label="32-bit float" ;;
    esac
    t_mix=$(best_of_three "$chm" convert --output-folder "$work/chm" --method mix "$work/in.wav")
    t_left=$(best_of_three "$chm" convert --output-folder "$work/chm" --method left "$work/in.wav")
    t_sox=$(best_of_three sox "$work/in.wav" "$work/out-sox.wav" remix 1,2)
    rss=$(peak_kib "$chm" convert --output-folder "$work/chm" --method mix "$work/in.wav")
    printf '  %-12s tavorin-chm mix %.3f  left %.3f   sox %.3f\n' "$label" "$t_mix" "$t_left" "$t_sox"
    awk -v m="$t_mix" -v l="$t_left" -v s="$t_sox" -v r="$rss" 'BEGIN {
        printf "  %-12s ratio to sox: mix %.2f  left %.2f (target <= 1.0)   peak resident %d KiB (target < 32768)%s\n",
            "", m / s, l / s, r, (m > s || r >= 32768) ? "   TARGET MISSED" : "" }'
done
