#!/usr/bin/env bash
# Kills tavorin-chm with SIGKILL at ten random moments of a 10-minute FLAC, MP3, WMA and WAV
# conversion each. After every kill the output folder must hold nothing, or an output that an
# outside decoder (ffmpeg) decodes to the whole ten minutes; the temporary folder must hold
# nothing at all. Prints one line per format and exits non-zero if anything was left over.
# CHM_KILLS and CHM_KILL_SECONDS make it shorter (the tests run it on one-minute files).
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
kills=${CHM_KILLS:-10}
seconds=${CHM_KILL_SECONDS:-600}
chm="$build/cli/tavorin-chm"
work=$(mktemp -d /tmp/chm-kill-XXXXXX)
trap 'rm -rf "$work"' EXIT
# This judges what is left on disk, not memory: in a sanitizer build the leak report at exit
# (GLib's constructor keeps a block it never frees) would turn a whole run into a failure.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"

sox -q -n -r 44100 -b 16 -c 2 "$work/music.wav" synth "$seconds" sine 220 sine 330 remix 1 2 tremolo 0.3 40 gain -n -3
ffmpeg -loglevel error -nostdin -i "$work/music.wav" "$work/long.flac"
lame --quiet -V 4 "$work/music.wav" "$work/long.mp3"
ffmpeg -loglevel error -nostdin -i "$work/music.wav" -c:a wmav2 -b:a 64k "$work/long.wma"
mv "$work/music.wav" "$work/long.wav"

# Seconds of audio that ffmpeg decodes from a file.
decoded_seconds() {
    ffmpeg -loglevel error -nostdin -i "$1" -f s16le -ac 1 -ar 44100 - | wc -c | awk '{ printf "%.2f", $1 / 88200 }'
}

failures=0
for format in flac mp3 wma wav; do
    # How long one whole conversion takes: the kills fall anywhere within it.
    rm -rf "$work/out" "$work/tmp" && mkdir -p "$work/out" "$work/tmp"
    start=$(date +%s%N)
    TMPDIR="$work/tmp" "$chm" convert --output-folder "$work/out" "$work/long.$format" > /dev/null
    whole_ms=$(( ($(date +%s%N) - start) / 1000000 ))
    whole=0 empty=0
    for ((k = 1; k <= kills; k++)); do
        rm -rf "$work/out" "$work/tmp" && mkdir -p "$work/out" "$work/tmp"
        moment=$(( RANDOM % (whole_ms + whole_ms / 10 + 1) ))
        TMPDIR="$work/tmp" "$chm" convert --output-folder "$work/out" "$work/long.$format" > /dev/null 2>&1 &
        pid=$!
        sleep "$(awk -v ms="$moment" 'BEGIN { printf "%.3f", ms / 1000 }')"
        kill -KILL "$pid" 2> /dev/null || true
        wait "$pid" 2> /dev/null || true
        if [ -n "$(ls -A "$work/tmp")" ]; then
            echo "$format, kill at $moment ms: left in the temporary folder: $(ls -A "$work/tmp")" >&2
            failures=$((failures + 1))
        fi
        for output in "$work/out"/* "$work/out"/.[!.]*; do
            [ -e "$output" ] || continue
            decoded=$(decoded_seconds "$output")
            if awk -v d="$decoded" -v s="$seconds" 'BEGIN { exit !(d < s - 0.1) }'; then
                echo "$format, kill at $moment ms: $(basename "$output") decodes to $decoded s" >&2
                failures=$((failures + 1))
            fi
            whole=$((whole + 1))
        done
        [ -n "$(ls -A "$work/out")" ] || empty=$((empty + 1))
    done
    printf '%-4s  conversion %5d ms  %2d kills: %2d left nothing, %2d left the whole output\n' \
        "$format" "$whole_ms" "$kills" "$empty" "$whole"
done
[ "$failures" -eq 0 ]
