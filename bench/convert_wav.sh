#!/usr/bin/env bash
# Converts a 10-minute 44.1 kHz 16-bit stereo WAV of music-like content with tavorin-chm, with
# sox and with ffmpeg in one run, and prints the wall-time ratios, the CPU time and page faults
# of one run each, and the peak resident memory of the engine (also for a one-hour file).
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
chm="$build/cli/tavorin-chm"
work=$(mktemp -d /tmp/chm-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT

# Several partials per channel with a slow tremolo: not a pure tone, left and right distinct.
make_music() {  # seconds, output
    sox -n -r 44100 -b 16 -c 2 "$2" synth "$1" sine 220 sine 277 sine 330 sine 415 \
        remix 1,3 2,4 tremolo 0.3 40 gain -n -3
}

# Wall seconds of a command, best of three runs (the file cache is warm after the first). A run
# that fails stops the benchmark: its time would be meaningless.
best_of_three() {
    local best=""
    for _ in 1 2 3; do
        rm -f "$work"/out*.wav "$work"/chm/*
        local start end
        start=$(date +%s.%N)
        "$@" > /dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
        end=$(date +%s.%N)
        local t
        t=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
        if [ -z "$best" ] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then best=$t; fi
    done
    echo "$best"
}

peak_kib() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; }

# CPU seconds in user and system mode and minor page faults of one run.
cpu_of() {
    rm -f "$work"/out*.wav "$work"/chm/*
    /usr/bin/time -f 'user %U s   sys %S s   page faults %R' "$@" 2>&1 >/dev/null | tail -n 1
}

make_music 600 "$work/in.wav"
mkdir -p "$work/chm"
t_chm=$(best_of_three "$chm" convert --output-folder "$work/chm" "$work/in.wav" --method mix)
t_sox=$(best_of_three sox "$work/in.wav" "$work/out-sox.wav" remix 1-2)
t_ffmpeg=$(best_of_three ffmpeg -y -loglevel error -i "$work/in.wav" -ac 1 "$work/out-ffmpeg.wav")
printf 'ten minutes, 44.1 kHz stereo WAV to mono (best of 3, wall seconds)\n'
printf '  tavorin-chm %.3f   sox %.3f   ffmpeg %.3f\n' "$t_chm" "$t_sox" "$t_ffmpeg"
awk -v c="$t_chm" -v s="$t_sox" -v f="$t_ffmpeg" \
    'BEGIN { printf "  ratio to sox %.2f (target <= 1.5)   ratio to ffmpeg %.2f\n", c / s, c / f }'
printf '  tavorin-chm %s\n' "$(cpu_of "$chm" convert --output-folder "$work/chm" "$work/in.wav" --method mix)"
printf '  sox         %s\n' "$(cpu_of sox "$work/in.wav" "$work/out-sox.wav" remix 1-2)"
printf '  ffmpeg      %s\n' "$(cpu_of ffmpeg -y -loglevel error -i "$work/in.wav" -ac 1 "$work/out-ffmpeg.wav")"
rm -rf "$work/chm"/*
printf '  peak resident memory, ten minutes: %s KiB\n' "$(peak_kib "$chm" convert --output-folder "$work/chm" "$work/in.wav")"

rm -rf "$work/chm"/* "$work/in.wav"
make_music 3600 "$work/hour.wav"
printf '  peak resident memory, one hour:    %s KiB (target < 65536)\n' \
    "$(peak_kib "$chm" convert --output-folder "$work/chm" "$work/hour.wav")"
