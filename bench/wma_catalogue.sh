#!/bin/sh
# Measures what avenc_wmav2 + avmux_asf really write for each format of the WMA codec catalogue
# (wm/wma_profile.cpp): a 60-second sine is encoded at the format's rate, channels and bit rate,
# and the file's effective bit rate (size x 8 / duration) is set against the nominal one. The
# muxer packs whole frames into fixed-size packets and pads the rest, so some bit rates grow far
# beyond themselves; a format whose file grows by more than LIMIT (default 1.20) fails.
#
#   bench/wma_catalogue.sh                 every catalogue format; exit 1 if any fails
#   bench/wma_catalogue.sh RATE CH BITRATE ...   the given candidates instead (triples)
set -eu

LIMIT=${LIMIT:-1.20}
SECONDS_LONG=60
here=$(dirname "$0")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ $# -gt 0 ]; then
    entries=$(printf '%s %s %s\n' "$@" | xargs -n3)
else
    # The table rows look like "    {44100, 2, 16, 256000},".
    entries=$(sed -n 's/^ *{\([0-9]*\), \([12]\), 16, \([0-9]*\)},$/\1 \2 \3/p' "$here/../wm/wma_profile.cpp")
fi

failed=0
printf '%-7s %-3s %-8s %-10s %-6s %s\n' rate ch nominal effective ratio verdict
echo "$entries" | while read -r rate channels bitrate; do
    [ -n "$rate" ] || continue
    out="$work/${rate}_${channels}_${bitrate}.wma"
    buffers=$((rate * SECONDS_LONG / 1024))
    if ! gst-launch-1.0 -q audiotestsrc wave=sine freq=440 num-buffers=$buffers samplesperbuffer=1024 \
        ! "audio/x-raw,rate=$rate,channels=$channels" ! audioconvert \
        ! avenc_wmav2 bitrate="$bitrate" ! avmux_asf ! filesink location="$out" >/dev/null 2>&1; then
        printf '%-7s %-3s %-8s %-10s %-6s %s\n' "$rate" "$channels" "$bitrate" - - "ENCODE FAILED"
        echo x >>"$work/failed"
        continue
    fi
    size=$(stat -c %s "$out")
    duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$out")
    effective=$(echo "$size * 8 / $duration" | bc)
    ratio=$(echo "scale=3; $effective / $bitrate" | bc)
    verdict=ok
    if [ "$(echo "$ratio > $LIMIT" | bc)" -eq 1 ]; then
        verdict="PADDED"
        echo x >>"$work/failed"
    fi
    printf '%-7s %-3s %-8s %-10s %-6s %s\n' "$rate" "$channels" "$bitrate" "$effective" "$ratio" "$verdict"
done
[ ! -e "$work/failed" ] || failed=1
exit $failed
