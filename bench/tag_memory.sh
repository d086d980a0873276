#!/usr/bin/env bash
# Peak resident memory of tavorin-chm converting a one-hour stereo MP3 and a one-hour stereo
# WMA, each once with descriptive tags (carried over to the output) and once without, as
# /usr/bin/time reports it (maximum resident set size), with the largest anonymous part of it.
# The tag write must not grow with the length of the file: every figure stays under 32 MiB.
# The WMA route maps GStreamer's libav plugin, whose libraries alone keep about 40 MiB resident.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
chm="$build/cli/tavorin-chm"
work=$(mktemp -d /tmp/chm-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
limit_kib=$((32 * 1024))

tags=(-metadata title="An hour of tones" -metadata artist="Tavorin bench" -metadata album="Memory"
      -metadata date=2024 -metadata track=7 -metadata genre=Ambient -metadata comment="carried over")

# One hour of two different tones, left and right; `-map_metadata -1` keeps ffmpeg's own tags out.
make_source() {  # codec options..., output
    ffmpeg -hide_banner -loglevel error -nostdin -y \
        -f lavfi -i "sine=frequency=220:sample_rate=44100:duration=3600" \
        -f lavfi -i "sine=frequency=330:sample_rate=44100:duration=3600" \
        -filter_complex "[0:a][1:a]join=inputs=2:channel_layout=stereo" -map_metadata -1 "$@"
}

# "total anonymous" KiB of one conversion into a fresh folder: the maximum resident set size as
# /usr/bin/time reports it, and the largest anonymous part of it (the process's own memory,
# without the pages of the libraries it maps) sampled every 50 ms.
peak_kib() {  # source, output folder
    rm -rf "$2" && mkdir -p "$2"
    /usr/bin/time -f '%M' -o "$work/time" "$chm" convert --output-folder "$2" "$1" > /dev/null 2>&1 &
    local timer=$! pid="" anon=0 now
    while [ -z "$pid" ] && kill -0 "$timer" 2> /dev/null; do pid=$(pgrep -P "$timer" || true); done
    while [ -n "$pid" ] && now=$(awk '/^RssAnon:/ { print $2 }' "/proc/$pid/status" 2> /dev/null) && [ -n "$now" ]; do
        [ "$now" -gt "$anon" ] && anon=$now
        sleep 0.05
    done
    wait "$timer"
    echo "$(tail -n 1 "$work/time") $anon"
}

title_of() {  # file
    ffprobe -v error -show_entries format_tags=title -of default=noprint_wrappers=1:nokey=1 "$1"
}

make_source -c:a libmp3lame -b:a 128k -id3v2_version 0 "$work/plain.mp3"
ffmpeg -hide_banner -loglevel error -nostdin -y -i "$work/plain.mp3" -c copy -id3v2_version 3 "${tags[@]}" \
    "$work/tagged.mp3"
make_source -c:a wmav2 -b:a 128k "$work/plain.wma"
ffmpeg -hide_banner -loglevel error -nostdin -y -i "$work/plain.wma" -c copy "${tags[@]}" "$work/tagged.wma"

mib() { awk -v k="$1" 'BEGIN { printf "%6.1f", k / 1024 }'; }

status=0
printf 'one hour, 44.1 kHz stereo to mono: peak resident memory in MiB, limit 32 (anonymous part)\n'
for format in mp3 wma; do
    read -r plain plain_anon <<< "$(peak_kib "$work/plain.$format" "$work/out-plain")"
    read -r tagged tagged_anon <<< "$(peak_kib "$work/tagged.$format" "$work/out-tagged")"
    title=$(title_of "$work/out-tagged/tagged.$format")
    printf '  %s  untagged %s (%s)   tagged %s (%s)   output title "%s"\n' "$format" \
        "$(mib "$plain")" "$(mib "$plain_anon")" "$(mib "$tagged")" "$(mib "$tagged_anon")" "$title"
    if [ "$tagged" -ge "$limit_kib" ] || [ "$plain" -ge "$limit_kib" ] || [ -z "$title" ]; then status=1; fi
done
exit $status
