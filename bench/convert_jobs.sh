#!/usr/bin/env bash
# Converts eight 2-minute stereo MP3 files to mono with tavorin-chm, once one file at a time
# (--jobs 1) and once with the default (as many files at once as the processors the process may
# run on), in one run. Prints both wall times (best of two), their ratio (target <= 0.6 on two
# processors), the peak memory of each run (several files at once may use at most that many
# times the memory of one), and checks that the two runs wrote byte-identical outputs.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
chm="$build/cli/tavorin-chm"
work=$(mktemp -d /tmp/chm-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT

# Eight different pieces: a few partials per channel with a slow tremolo, left and right apart.
inputs=()
for i in 1 2 3 4 5 6 7 8; do
    base=$((180 + 20 * i))
    sox -n -r 44100 -b 16 -c 2 "$work/music.wav" synth 120 sine $base sine $((base * 5 / 4)) \
        sine $((base * 3 / 2)) sine $((base * 2)) remix 1,3 2,4 tremolo 0.3 40 gain -n -3
    lame --quiet -V 2 "$work/music.wav" "$work/in$i.mp3"
    inputs+=("$work/in$i.mp3")
done
rm -f "$work/music.wav"

# "wall peak-kilobytes" of the better of two conversions into a fresh folder `$2`.
best_of_two() {  # jobs option, output folder
    local best="" best_rss=""
    for _ in 1 2; do
        rm -rf "$2" && mkdir -p "$2"
        local t rss
        read -r t rss <<< "$(/usr/bin/time -f '%e %M' "$chm" convert "$1" --output-folder "$2" "${inputs[@]}" 2>&1 > /dev/null | tail -n 1)"
        if [ -z "$best" ] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then best=$t best_rss=$rss; fi
    done
    echo "$best $best_rss"
}

read -r t_one rss_one <<< "$(best_of_two --jobs=1 "$work/one")"
# The default, with no --jobs at all; --method=mix is the default too and stands in its place.
read -r t_all rss_all <<< "$(best_of_two --method=mix "$work/all")"
jobs=$(nproc)
printf 'eight 2-minute 44.1 kHz stereo MP3 files to mono VBR MP3 (best of 2, wall seconds, peak kB)\n'
printf '  --jobs 1 %.3f s (%s kB)   default (%s at once) %.3f s (%s kB)\n' "$t_one" "$rss_one" "$jobs" "$t_all" "$rss_all"
awk -v a="$t_all" -v o="$t_one" 'BEGIN { printf "  wall ratio default / --jobs 1: %.2f (target <= 0.6)\n", a / o }'
awk -v a="$rss_all" -v o="$rss_one" -v n="$jobs" \
    'BEGIN { printf "  peak memory ratio: %.2f (at most %d)\n", a / o, n }'
same=0
for i in 1 2 3 4 5 6 7 8; do
    cmp -s "$work/one/in$i.mp3" "$work/all/in$i.mp3" && same=$((same + 1))
done
printf '  byte-identical outputs: %d of 8\n' "$same"
[ "$same" -eq 8 ]
