#!/usr/bin/env bash
# Converts a 10-minute stereo MP3 and a 10-minute stereo WMA of music-like content to mono
# with tavorin-chm and with the usual command-line tools in one run, and prints the wall times
# (best of three; the engine's work pacer pauses are included) and their ratios.
#   MP3: lame --decode | lame -m m -q 2 -V 4 -b 128 -B 192, and ffmpeg with libmp3lame at the
#        same VBR quality and algorithm quality (ffmpeg's wrapper cannot set the VBR minimum
#        and maximum, nor turn the bit reservoir off as the engine does).
#   WMA: ffmpeg -ac 1 -c:a wmav2 at the bit rate that the engine's codec catalogue chooses for
#        mono 44.1 kHz (48 kbit/s).
#   FLAC, Opus, AAC: ffmpeg -ac 1 with flac, libopus at 64 kbit/s and aac at 96 kbit/s, the
#        settings of the engine's presets; and the peak resident memory of each tavorin-chm run
#        (target: under 64 MiB), and of ffmpeg's for comparison.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
chm="$build/cli/tavorin-chm"
work=$(mktemp -d /tmp/chm-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
wma_rate=48k

# Several partials per channel with a slow tremolo: not a pure tone, left and right distinct.
make_music() {  # seconds, output
    sox -n -r 44100 -b 16 -c 2 "$2" synth "$1" sine 220 sine 277 sine 330 sine 415 \
        remix 1,3 2,4 tremolo 0.3 40 gain -n -3
}

# "wall cpu" seconds of a shell command: the run of least wall time out of three (the file cache
# is warm after the first), with the processor time (user + system, children included) of that
# run, which a machine loaded by other work disturbs less than the wall time.
best_of_three() {
    local best="" best_cpu=""
    for _ in 1 2 3; do
        rm -rf "$work"/out*.* "$work"/chm/*
        local times t cpu
        times=$(/usr/bin/time -f '%e %U %S' bash -c "$1" 2>&1 > /dev/null | tail -n 1)
        t=$(echo "$times" | awk '{ print $1 }')
        cpu=$(echo "$times" | awk '{ print $2 + $3 }')
        if [ -z "$best" ] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then best=$t best_cpu=$cpu; fi
    done
    echo "$best $best_cpu"
}

# "min median min median" wall seconds of two shell commands run one after the other, seven
# times: a machine whose speed drifts (other work, a shared host) slows both alike, which three
# runs of one and then three of the other do not.
alternating_seven() {
    local a=() b=()
    for _ in 1 2 3 4 5 6 7; do
        rm -rf "$work"/out*.* "$work"/chm/*
        a+=("$(/usr/bin/time -f '%e' bash -c "$1" 2>&1 > /dev/null | tail -n 1)")
        b+=("$(/usr/bin/time -f '%e' bash -c "$2" 2>&1 > /dev/null | tail -n 1)")
    done
    local sa sb
    sa=$(printf '%s\n' "${a[@]}" | sort -n)
    sb=$(printf '%s\n' "${b[@]}" | sort -n)
    echo "$(echo "$sa" | sed -n 1p) $(echo "$sa" | sed -n 4p) $(echo "$sb" | sed -n 1p) $(echo "$sb" | sed -n 4p)"
}

# What ffprobe says of an output.
probe() {  # file
    ffprobe -v error -show_entries stream=codec_name,channels,sample_rate:format=duration,bit_rate \
        -of default=noprint_wrappers=1:nokey=0 "$1" | tr '\n' ' '
}

make_music 600 "$work/music.wav"
lame --quiet -V 2 "$work/music.wav" "$work/in.mp3"
ffmpeg -hide_banner -loglevel error -nostdin -y -i "$work/music.wav" -c:a wmav2 -b:a 128k "$work/in.wma"
rm -f "$work/music.wav"
mkdir -p "$work/chm"

read -r t_chm_mp3 c_chm_mp3 <<< "$(best_of_three "'$chm' convert --output-folder '$work/chm' '$work/in.mp3' 2> /dev/null")"
read -r t_lame c_lame <<< "$(best_of_three "lame --quiet --decode '$work/in.mp3' - | lame --quiet -m m -q 2 -V 4 -b 128 -B 192 - '$work/out-lame.mp3'")"
read -r t_ffmpeg_mp3 c_ffmpeg_mp3 <<< "$(best_of_three "ffmpeg -loglevel error -nostdin -y -i '$work/in.mp3' -ac 1 -c:a libmp3lame -q:a 4 -compression_level 2 '$work/out-ffmpeg.mp3'")"
"$chm" convert --output-folder "$work/chm" "$work/in.mp3" > /dev/null
printf 'ten minutes, 44.1 kHz stereo MP3 to mono VBR MP3 (best of 3: wall seconds, processor seconds)\n'
printf '  tavorin-chm %.3f (%.2f)   lame | lame %.3f (%.2f)   ffmpeg libmp3lame %.3f (%.2f)\n' \
    "$t_chm_mp3" "$c_chm_mp3" "$t_lame" "$c_lame" "$t_ffmpeg_mp3" "$c_ffmpeg_mp3"
awk -v c="$t_chm_mp3" -v l="$t_lame" -v f="$t_ffmpeg_mp3" \
    'BEGIN { printf "  wall ratio to lame %.2f (target <= 1.3)   wall ratio to ffmpeg %.2f\n", c / l, c / f }'
printf '  tavorin-chm output: %s\n' "$(probe "$work/chm/in.mp3")"
printf '  ffmpeg output:      %s\n' "$(probe "$work/out-ffmpeg.mp3")"
# Where the time goes: libmpg123's decode, the temporary WAV read back, the fold, LAME.
"$build/bench/graph_route_phases" "$work/in.mp3"
rm -rf "$work/chm"/* "$work/in.mp3"

chm_wma="'$chm' convert --output-folder '$work/chm' '$work/in.wma' 2> /dev/null"
ffmpeg_wma="ffmpeg -loglevel error -nostdin -y -i '$work/in.wma' -ac 1 -c:a wmav2 -b:a $wma_rate '$work/out-ffmpeg.wma'"
read -r t_chm_wma m_chm_wma t_ffmpeg_wma m_ffmpeg_wma <<< "$(alternating_seven "$chm_wma" "$ffmpeg_wma")"
"$chm" convert --output-folder "$work/chm" "$work/in.wma" > /dev/null
printf 'ten minutes, 44.1 kHz stereo WMA to mono WMA at %s (seven runs of each, alternating: best and median wall seconds)\n' "$wma_rate"
printf '  tavorin-chm %.3f, %.3f   ffmpeg wmav2 %.3f, %.3f\n' "$t_chm_wma" "$m_chm_wma" "$t_ffmpeg_wma" "$m_ffmpeg_wma"
awk -v c="$t_chm_wma" -v f="$t_ffmpeg_wma" -v mc="$m_chm_wma" -v mf="$m_ffmpeg_wma" \
    'BEGIN { printf "  wall ratio to ffmpeg %.2f best, %.2f median (target <= 1.5)\n", c / f, mc / mf }'
printf '  tavorin-chm output: %s\n' "$(probe "$work/chm/in.wma")"
# Where the time goes, and what GStreamer's own elements take for the whole route on one thread
# (decode, downmix, encode, no fold or temporary files) and on two (a queue between decoding and
# encoding, which a fold over the whole file cannot have: the mix's scale needs every sample first).
"$build/bench/graph_route_phases" "$work/in.wma"
plain="gst-launch-1.0 -q filesrc location='$work/in.wma' ! decodebin ! audioconvert ! audio/x-raw,channels=1,format=F32LE"
encode="avenc_wmav2 bitrate=48000 ! avmux_asf ! filesink location='$work/out-gst.wma'"
read -r t_gst c_gst <<< "$(best_of_three "$plain ! $encode")"
read -r t_gst_q c_gst_q <<< "$(best_of_three "$plain ! queue ! $encode")"
printf '  gst-launch decode ! downmix ! encode: one thread %.3f (%.2f)   two threads %.3f (%.2f)\n' \
    "$t_gst" "$c_gst" "$t_gst_q" "$c_gst_q"
awk -v g="$t_gst" -v q="$t_gst_q" -v f="$t_ffmpeg_wma" \
    'BEGIN { printf "  wall ratio to ffmpeg: gst-launch one thread %.2f, two threads %.2f\n", g / f, q / f }'

# Peak resident memory in MiB of one run of a shell command.
peak_mib() {
    /usr/bin/time -f '%M' bash -c "$1" 2>&1 > /dev/null | tail -n 1 | awk '{ printf "%.1f", $1 / 1024 }'
}

# FLAC, Opus and AAC: tavorin-chm against ffmpeg on the same 10-minute stereo source.
make_music 600 "$work/music.wav"
ffmpeg -hide_banner -loglevel error -nostdin -y -i "$work/music.wav" -c:a flac "$work/in.flac"
ffmpeg -hide_banner -loglevel error -nostdin -y -i "$work/music.wav" -c:a libopus -b:a 128k "$work/in.opus"
ffmpeg -hide_banner -loglevel error -nostdin -y -i "$work/music.wav" -c:a aac -b:a 192k "$work/in.m4a"
rm -f "$work/music.wav"
mkdir -p "$work/chm"
for row in "flac|FLAC|-c:a flac" "opus|Opus|-c:a libopus -b:a 64k" "m4a|AAC|-c:a aac -b:a 96k"; do
    IFS='|' read -r ext name options <<< "$row"
    read -r t_chm c_chm <<< "$(best_of_three "'$chm' convert --output-folder '$work/chm' '$work/in.$ext' 2> /dev/null")"
    read -r t_ff c_ff <<< "$(best_of_three "ffmpeg -loglevel error -nostdin -y -i '$work/in.$ext' -ac 1 $options '$work/out-ffmpeg.$ext'")"
    rm -rf "$work/chm"/*
    m_chm=$(peak_mib "'$chm' convert --output-folder '$work/chm' '$work/in.$ext' 2> /dev/null")
    m_ff=$(peak_mib "ffmpeg -loglevel error -nostdin -y -i '$work/in.$ext' -ac 1 $options '$work/out-ffmpeg.$ext'")
    printf 'ten minutes, 44.1 kHz stereo %s to mono %s (best of 3: wall seconds, processor seconds; peak memory)\n' "$name" "$name"
    printf '  tavorin-chm %.3f (%.2f) %s MiB   ffmpeg %.3f (%.2f) %s MiB\n' "$t_chm" "$c_chm" "$m_chm" "$t_ff" "$c_ff" "$m_ff"
    awk -v c="$t_chm" -v f="$t_ff" -v m="$m_chm" \
        'BEGIN { printf "  wall ratio to ffmpeg %.2f (target <= 1.5)   peak memory %.1f MiB (target < 64)\n", c / f, m }'
    printf '  tavorin-chm output: %s\n' "$(probe "$work/chm/in.$ext")"
    printf '  ffmpeg output:      %s\n' "$(probe "$work/out-ffmpeg.$ext")"
    "$build/bench/graph_route_phases" "$work/in.$ext"
    rm -rf "$work/chm"/* "$work/in.$ext"
done
