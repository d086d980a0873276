#!/usr/bin/env bash
# Makes the seed corpora of the fuzz targets: small valid files of every kind the readers take,
# written by sox, lame, ffmpeg and GStreamer, so that fuzzing starts from real headers and
# frames rather than from nothing. Everything is made from sines: the same files every time.
#
#   scripts/make-fuzz-seeds.sh OUTDIR     -> OUTDIR/<target>/<seed files>
set -euo pipefail

if [[ $# -ne 1 ]]; then
    echo "usage: $0 OUTDIR" >&2
    exit 2
fi
out=$1
for tool in sox lame ffmpeg gst-launch-1.0; do
    command -v "$tool" >/dev/null || { echo "$0: $tool is needed" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

wav=$work/wav
mp3=$work/mp3
wma=$work/wma
xml=$work/settings
formats=$work/formats
mkdir -p "$wav" "$mp3" "$wma" "$xml" "$formats"

ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
# Little-endian fields for headers written by hand.
le16() { printf "\\$(printf %03o $(($1 & 255)))\\$(printf %03o $(($1 >> 8 & 255)))"; }
le32() { le16 $(($1 & 65535)); le16 $(($1 >> 16 & 65535)); }
# The 16 bytes of a mono 16-bit 8 kHz PCM format block.
pcm_fmt() { le16 1; le16 1; le32 8000; le32 16000; le16 2; le16 16; }
# A stereo 8 kHz WAVEFORMATEXTENSIBLE block: container bits, valid bits, sub-format tag.
ext_fmt() {
    le16 65534; le16 2; le32 8000; le32 $((8000 * $1 / 4)); le16 $(($1 / 4)); le16 "$1"
    le16 22; le16 "$2"; le32 3; le16 "$3"; printf '\000\000\000\000\020\000\200\000\000\252\000\070\233\161'
}
# A short two-tone stereo source that the encoders below start from.
sox -R -D -n -r 44100 -c 2 -b 16 "$work/stereo.wav" synth 0.05 sine 440 sine 660 gain -3
sox -R -D -n -r 22050 -c 1 -b 16 "$work/mono.wav" synth 0.05 sine 440 gain -3

# --- WAV: every layout the direct reader takes, and the ones the decoding graph decodes ---
sox -R -D -n -r 8000 -c 1 -b 8 -e unsigned "$wav/u8-mono.wav" synth 0.01 sine 440
sox -R -D -n -r 8000 -c 2 -b 8 -e unsigned "$wav/u8-stereo.wav" synth 0.01 sine 440 sine 660
sox -R -D -n -r 11025 -c 1 -b 16 "$wav/s16-mono.wav" synth 0.01 sine 440
sox -R -D -n -r 11025 -c 2 -b 16 "$wav/s16-stereo.wav" synth 0.01 sine 440 sine 660
sox -R -D -n -r 8000 -c 2 -b 24 "$wav/s24-stereo.wav" synth 0.01 sine 440 sine 660
sox -R -D -n -r 8000 -c 2 -b 32 -e floating-point "$wav/f32-stereo.wav" synth 0.01 sine 440 sine 660
sox -R -D -n -r 8000 -c 2 -b 24 -t wavpcm "$wav/s24-tag1.wav" synth 0.01 sine 440 sine 660
sox -R -D -n -r 8000 -c 2 -b 32 -t wavpcm "$wav/s32-tag1.wav" synth 0.01 sine 440 sine 660
sox -R -D -n -r 8000 -c 2 -b 32 "$wav/s32-extensible.wav" synth 0.01 sine 440 sine 660
sox -R -D -n -r 8000 -c 1 -b 24 "$wav/s24-mono-extensible.wav" synth 0.01 sine 440
sox -R -D -n -r 8000 -c 2 -b 64 -e floating-point "$wav/f64-stereo.wav" synth 0.01 sine 440 sine 660
ff -f lavfi -i "sine=frequency=440:sample_rate=8000:duration=0.01" -ac 1 -c:a pcm_f32le "$wav/f32-mono-extensible.wav"
sox -R -D -n -r 8000 -c 1 -e a-law "$wav/alaw.wav" synth 0.01 sine 440
sox -R -D -n -r 8000 -c 1 -e u-law "$wav/ulaw.wav" synth 0.01 sine 440
sox -R -D -n -r 8000 -c 1 -e ima-adpcm "$wav/ima-adpcm.wav" synth 0.02 sine 440
sox -R -D -n -r 8000 -c 2 -e ms-adpcm "$wav/ms-adpcm.wav" synth 0.02 sine 440 sine 660
sox -R -D -n -r 8000 -c 1 -e gsm-full-rate "$wav/gsm.wav" synth 0.04 sine 440
sox -R -D -n -r 8000 -c 6 -b 16 "$wav/six-channels.wav" synth 0.005 sine 440
ff -f lavfi -i "sine=frequency=440:sample_rate=8000:duration=0.01" -ac 2 -c:a pcm_s24le "$wav/ffmpeg-s24.wav"
ff -f lavfi -i "sine=frequency=440:sample_rate=8000:duration=0.01" -ac 2 -c:a pcm_f32le -rf64 always "$wav/rf64.wav"
ff -f lavfi -i "sine=frequency=440:sample_rate=8000:duration=0.01" -c:a pcm_s16le \
    -metadata title=Seed -metadata artist=Sox "$wav/list-info.wav"
ff -f lavfi -i "sine=frequency=440:sample_rate=8000:duration=0.02" -c:a adpcm_ima_wav "$wav/ffmpeg-ima.wav"
gst-launch-1.0 -q audiotestsrc wave=sine num-buffers=1 samplesperbuffer=80 \
    ! audio/x-raw,format=S16LE,rate=8000,channels=2 ! wavenc ! filesink location="$wav/gstreamer.wav"
gst-launch-1.0 -q audiotestsrc wave=sine num-buffers=1 samplesperbuffer=80 \
    ! audio/x-raw,format=U8,rate=8000,channels=1 ! wavenc ! filesink location="$wav/gstreamer-u8.wav"
# Headers that the readers must take although they are unusual: an odd-sized chunk with its pad
# byte before the data, and a data size of 0xFFFFFFFF as streaming writers leave it.
samples() { sox -R -D -n -r 8000 -c 1 -b 16 -t raw - synth 0.005 sine 440; }
{ printf 'RIFF'; le32 0; printf 'WAVEfmt '; le32 16; pcm_fmt
  printf 'junk'; le32 3; printf 'abc\0'; printf 'data'; le32 80; samples; } > "$wav/odd-chunk.wav"
{ printf 'RIFF'; le32 4294967295; printf 'WAVEfmt '; le32 16; pcm_fmt
  printf 'data'; le32 4294967295; samples; } > "$wav/streamed.wav"
# 24 valid bits in 32-bit containers and extensible floats, which sox and ffmpeg do not write; a
# float header in a 16-byte fmt chunk, as some writers leave it.
{ printf 'RIFF'; le32 0; printf 'WAVEfmt '; le32 40; ext_fmt 32 24 1
  printf 'data'; le32 80; samples; } > "$wav/s24-in-32-extensible.wav"
{ printf 'RIFF'; le32 0; printf 'WAVEfmt '; le32 40; ext_fmt 32 32 3
  printf 'fact'; le32 4; le32 10; printf 'data'; le32 80; samples; } > "$wav/f32-extensible.wav"
{ printf 'RIFF'; le32 0; printf 'WAVEfmt '; le32 16; le16 3; le16 1; le32 8000; le32 32000; le16 4; le16 32
  printf 'data'; le32 80; samples; } > "$wav/f32-fmt-16.wav"

# --- MP3: MPEG-1, -2 and -2.5 layer III, CBR, VBR, ABR, free format, tags; layer II under .mp3 ---
lame --quiet -b 128 "$work/stereo.wav" "$mp3/cbr-stereo.mp3"
lame --quiet -m m -b 64 "$work/stereo.wav" "$mp3/cbr-mono.mp3"
lame --quiet -V 4 "$work/stereo.wav" "$mp3/vbr.mp3"
lame --quiet --abr 96 "$work/stereo.wav" "$mp3/abr.mp3"
lame --quiet -m j -b 32 "$work/mono.wav" "$mp3/mpeg2.mp3"
lame --quiet --resample 8 -b 16 "$work/mono.wav" "$mp3/mpeg25.mp3"
lame --quiet --freeformat -b 200 "$work/stereo.wav" "$mp3/free-format.mp3"
lame --quiet -t -b 64 "$work/mono.wav" "$mp3/no-info-tag.mp3"
lame --quiet -b 64 --tt Seed --ta Lame --add-id3v2 "$work/mono.wav" "$mp3/id3v2.mp3"
lame --quiet -b 64 --tt Seed --id3v1-only "$work/mono.wav" "$mp3/id3v1.mp3"
ff -i "$work/stereo.wav" -c:a mp2 -b:a 128k -f mp2 "$mp3/layer2.mp3"
ff -i "$work/mono.wav" -c:a libmp3lame -b:a 32k "$mp3/ffmpeg.mp3"
gst-launch-1.0 -q filesrc location="$work/stereo.wav" ! wavparse ! audioconvert \
    ! lamemp3enc target=bitrate bitrate=96 ! filesink location="$mp3/gstreamer.mp3"

# --- WMA: version 1 and 2, mono and stereo, from FFmpeg and from the program's own encoder chain ---
ff -i "$work/stereo.wav" -c:a wmav2 -b:a 64k "$wma/wmav2-stereo.wma"
ff -i "$work/mono.wav" -c:a wmav2 -b:a 32k "$wma/wmav2-mono.wma"
ff -i "$work/stereo.wav" -c:a wmav1 -b:a 64k "$wma/wmav1.wma"
ff -i "$work/mono.wav" -c:a wmav2 -b:a 32k -metadata title=Seed -metadata author=FFmpeg "$wma/tagged.wma"
gst-launch-1.0 -q filesrc location="$work/stereo.wav" ! wavparse ! audioconvert \
    ! audio/x-raw,format=F32LE ! avenc_wmav2 bitrate=64000 ! avmux_asf ! filesink location="$wma/gstreamer.wma"

# --- FLAC, Ogg Vorbis, Opus, AAC in MP4, AIFF: plain and tagged, mono and stereo, 16 and 24-bit ---
ff -i "$work/stereo.wav" -c:a flac "$formats/stereo.flac"
ff -i "$work/mono.wav" -c:a flac -sample_fmt s32 -bits_per_raw_sample 24 -metadata title=Seed "$formats/s24-tagged.flac"
ff -i "$work/stereo.wav" -c:a libvorbis "$formats/stereo.ogg"
ff -i "$work/mono.wav" -c:a libvorbis -metadata title=Seed -metadata artist=FFmpeg "$formats/tagged.oga"
ff -i "$work/stereo.wav" -c:a libopus -b:a 32k "$formats/stereo.opus"
ff -i "$work/stereo.wav" -c:a aac -b:a 64k "$formats/stereo.m4a"
ff -i "$work/mono.wav" -c:a aac -b:a 32k -movflags +faststart -metadata title=Seed "$formats/mono-faststart.m4a"
ff -i "$work/stereo.wav" -c:a pcm_s16be "$formats/stereo.aiff"
ff -i "$work/mono.wav" -c:a pcm_s24be -write_id3v2 1 -metadata title=Seed "$formats/s24-tagged.aif"
gst-launch-1.0 -q filesrc location="$work/stereo.wav" ! wavparse ! audioconvert ! flacenc ! \
    filesink location="$formats/gstreamer.flac" 2>/dev/null
gst-launch-1.0 -q filesrc location="$work/stereo.wav" ! wavparse ! audioconvert ! avenc_aac ! mp4mux ! \
    filesink location="$formats/gstreamer.m4a"

# The odd structures real files have: a chained Ogg file (links joined by cat), damage in the
# middle of a stream, a file cut inside a packet.
cat "$formats/stereo.ogg" "$formats/tagged.oga" >"$formats/chained.ogg"
cp "$formats/stereo.flac" "$formats/middle-damage.flac"
printf '\377\377\377\377\377\377\377\377' | dd of="$formats/middle-damage.flac" bs=1 \
    seek=$(( $(stat -c %s "$formats/stereo.flac") / 2 )) conv=notrunc status=none
head -c $(( $(stat -c %s "$formats/stereo.opus") * 55 / 100 )) "$formats/stereo.opus" >"$formats/cut.opus"

# --- Settings.xml: as the program writes it, and as older or edited files may look ---
root='<TavorinCHMSettings version="1.0" xmlns="urn:tavorin:channel-merger:settings:1">'
cat > "$xml/saved.xml" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
$root
    <States>
        <Application show_getting_started="1" show_conversion_report="0"/>
        <MainFrame x="120" y="-40"/>
        <Task added_folder="/home/user/Music/" search_folder="/media/usb &amp; more/" search_sub="1" output_folder=""/>
    </States>
    <Options>
        <General conversion_method="2"/>
    </Options>
</TavorinCHMSettings>
EOF
cat > "$xml/partial.xml" <<EOF
$root<Options><General conversion_method="7"/></Options></TavorinCHMSettings>
EOF
cat > "$xml/repeated.xml" <<EOF
<?xml version="1.0"?>
$root<States><Task output_folder="/tmp/&#x4E2D;&#25991;/"/><Task output_folder="/srv/out"/><MainFrame x="12abc" y=" +7"/></States><!-- edited by hand --></TavorinCHMSettings>
EOF
cat > "$xml/comment-first.xml" <<EOF
$root<States><!-- not an element first --><Application show_getting_started="0"/></States></TavorinCHMSettings>
EOF
cat > "$xml/foreign.xml" <<EOF
<TavorinCHMSettings version="2.0" xmlns="urn:example:other"><Options><General conversion_method="1"/></Options></TavorinCHMSettings>
EOF

# The targets and the seeds each one starts from; a target's folder is made afresh.
link() {
    local target=$1 source=$2
    rm -rf "${out:?}/$target"
    mkdir -p "$out/$target"
    cp "$source"/* "$out/$target/"
}
link wav_probe "$wav"
link wav_chunks "$wav"
link load_wav "$wav"
link mp3_info "$mp3"
link mp3_decode "$mp3"
link wma_probe "$wma"
link settings_load "$xml"
link format_tags "$formats"
count=$(find "$out" -type f | wc -l)
echo "fuzz seeds: $count files in $out"
