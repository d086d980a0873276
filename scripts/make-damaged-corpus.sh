#!/usr/bin/env bash
# Makes a corpus of damaged audio files from valid WAV, MP3, WMA, FLAC, Ogg Vorbis, Opus, AAC
# (M4A) and AIFF sources: cut at random
# offsets, header bytes flipped, sizes that claim more than the file holds or 0xFFFFFFFF, empty
# files, one format under another's name, and entries that are no files at all (a folder and
# named pipes under audio names, links that lead nowhere, files without read permission).
# The same seed gives the same corpus, byte for byte.
#
#   scripts/make-damaged-corpus.sh SEED OUTDIR
#
# OUTDIR must not exist yet or be empty. Each file's name says what was done to it; the valid
# sources themselves are there too ("*-intact.*").
set -euo pipefail

if [[ $# -ne 2 || ! "$1" =~ ^[0-9]+$ ]]; then
    echo "usage: $0 SEED OUTDIR" >&2
    exit 2
fi
seed=$1
out=$2
for tool in sox lame ffmpeg gst-launch-1.0 dd; do
    command -v "$tool" >/dev/null || { echo "$0: $tool is needed" >&2; exit 1; }
done
mkdir -p "$out"
if [[ -n "$(ls -A "$out")" ]]; then
    echo "$0: $out is not empty" >&2
    exit 2
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A 64-bit linear congruential generator of our own, so that the corpus does not depend on the
# shell's $RANDOM. random N gives 0..N-1 in $REPLY.
state=$(( (seed * 2862933555777941757 + 3037000493) ))
random() {
    state=$(( state * 6364136223846793005 + 1442695040888963407 ))
    REPLY=$(( ((state >> 33) & 0x7FFFFFFF) % $1 ))
}

# Writes bytes into a file in place: put_le FILE OFFSET BYTES VALUE (little-endian).
put_le() {
    local file=$1 offset=$2 bytes=$3 value=$4 text="" i
    for ((i = 0; i < bytes; i++)); do
        text+=$(printf '\\%03o' $(( (value >> (8 * i)) & 255 )))
    done
    printf "$text" | dd of="$file" bs=1 seek="$offset" conv=notrunc status=none
}
size_of() { stat -c %s "$1"; }
# Offset of the first occurrence of a byte pattern (grep -P syntax), or nothing.
offset_of() { LC_ALL=C grep -obUaP "$2" "$1" | head -n 1 | cut -d: -f1 || true; }

ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }

# --- the valid sources: short, stereo (one mono WAV), from every encoder the readers meet ---
src=$work/sources
mkdir -p "$src"
sox -R -D -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 0.6 sine 440 sine 660 gain -3
sox -R -D -n -r 44100 -c 2 -b 16 "$src/wav-s16.wav" synth 0.5 sine 440 sine 660 gain -3
sox -R -D -n -r 22050 -c 2 -b 8 -e unsigned "$src/wav-u8.wav" synth 0.5 sine 440 sine 660 gain -3
sox -R -D -n -r 32000 -c 1 -b 16 "$src/wav-mono.wav" synth 0.5 sine 440 gain -3
sox -R -D -n -r 44100 -c 2 -b 32 -e floating-point "$src/wav-float.wav" synth 0.4 sine 440 sine 660 gain -3
sox -R -D -n -r 22050 -c 2 -e ima-adpcm "$src/wav-adpcm.wav" synth 0.4 sine 440 sine 660 gain -3
ff -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=0.3" -ac 2 -c:a pcm_s24le "$src/wav-s24.wav"
sox -R -D -n -r 44100 -c 2 -b 24 -t wavpcm "$src/wav-s24-tag1.wav" synth 0.3 sine 440 sine 660 gain -3
sox -R -D -n -r 32000 -c 2 -b 64 -e floating-point "$src/wav-f64.wav" synth 0.3 sine 440 sine 660 gain -3
lame --quiet -b 128 "$work/tone.wav" "$src/mp3-cbr.mp3"
lame --quiet -V 4 "$work/tone.wav" "$src/mp3-vbr.mp3"
lame --quiet --resample 22.05 -b 64 --tt Damaged --ta Corpus --add-id3v2 "$work/tone.wav" "$src/mp3-id3.mp3"
ff -i "$work/tone.wav" -c:a libmp3lame -b:a 96k "$src/mp3-ffmpeg.mp3"
ff -i "$work/tone.wav" -c:a wmav2 -b:a 128k "$src/wma-v2.wma"
ff -i "$work/tone.wav" -c:a wmav1 -b:a 96k "$src/wma-v1.wma"
gst-launch-1.0 -q filesrc location="$work/tone.wav" ! wavparse ! audioconvert ! audio/x-raw,format=F32LE \
    ! avenc_wmav2 bitrate=96000 ! avmux_asf ! filesink location="$src/wma-gst.wma"
ff -i "$work/tone.wav" -c:a flac "$src/flac-s16.flac"
ff -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=0.4" -ac 2 -c:a flac -sample_fmt s32 \
    -bits_per_raw_sample 24 "$src/flac-s24.flac"
ff -i "$work/tone.wav" -c:a pcm_s16be "$src/aiff-s16.aiff"
ff -i "$work/tone.wav" -c:a pcm_s24be "$src/aiff-s24.aif"
ff -i "$work/tone.wav" -c:a libvorbis -q:a 4 "$src/ogg-vorbis.ogg"
ff -i "$work/tone.wav" -c:a libopus -b:a 96k "$src/opus-ffmpeg.opus"
ff -i "$work/tone.wav" -c:a aac -b:a 128k -movflags +faststart "$src/m4a-aac.m4a"

# The part of a file that its header occupies, where flipped bytes do the most harm.
header_span() {
    local file=$1 data
    case "$file" in
        *.wav) data=$(offset_of "$file" 'data'); echo $(( ${data:-36} + 8 )) ;;
        *.mp3) echo 700 ;;   # ID3v2 tag, first frame and its Xing/LAME tag
        *.wma) data=$(offset_of "$file" '\x36\x26\xb2\x75'); echo "${data:-4000}" ;;  # up to the Data Object
        *.flac) echo 42 ;;          # the stream marker and STREAMINFO
        *.aif | *.aiff) echo 54 ;;  # FORM, COMM and the SSND chunk's header
        *.ogg | *.opus) echo 200 ;; # the first page: the identification header
        *.m4a) data=$(offset_of "$file" 'mdat'); echo "${data:-800}" ;;  # ftyp and moov
    esac
}

for source in "$src"/*; do
    name=$(basename "$source")
    base=${name%.*}
    ext=${name##*.}
    size=$(size_of "$source")
    cp "$source" "$out/$base-intact.$ext"
    # Fewer of each for the formats beyond WAV, MP3 and WMA: their decoders are the platform's.
    case "$ext" in wav | mp3 | wma) cuts=8 flips=8 ;; *) cuts=4 flips=4 ;; esac
    # Cut at random offsets: two inside the header, the others anywhere.
    span=$(header_span "$source")
    (( span < size )) || span=$size
    for ((i = 1; i <= cuts; i++)); do
        if ((i <= 2)); then random "$span"; else random "$size"; fi
        head -c "$REPLY" "$source" >"$out/$base-cut$i-at$REPLY.$ext"
    done
    # One to four header bytes flipped.
    for ((i = 1; i <= flips; i++)); do
        target=$out/$base-flip$i.$ext
        cp "$source" "$target"
        random 4
        for ((k = 0; k <= REPLY; k++)); do
            random "$span"; at=$REPLY
            random 255; put_le "$target" "$at" 1 $(( $(od -An -tu1 -j "$at" -N1 "$source") ^ (REPLY + 1) ))
        done
    done
done

# Damage in the middle of the stream, past the header: the decoder meets it half-way through and
# the stream still ends as usual after it.
for source in "$src"/*.flac "$src"/*.ogg "$src"/*.opus "$src"/*.m4a "$src"/*.wma "$src"/*.mp3; do
    base=$(basename "${source%.*}")
    ext=${source##*.}
    size=$(size_of "$source")
    span=$(header_span "$source")
    (( size > span + 128 )) || continue
    target=$out/$base-middle-damage.$ext
    cp "$source" "$target"
    random $(( (size - span) / 2 )); at=$(( span + (size - span) / 4 + REPLY ))
    for ((k = 0; k < 64; k++)); do
        put_le "$target" $((at + k)) 1 $(( $(od -An -tu1 -j $((at + k)) -N1 "$source") ^ 0x5A ))
    done
done

# Chained Ogg files, links joined end to end as cat does: one stream twice, and two links at
# different rates.
ff -f lavfi -i "sine=frequency=330:sample_rate=22050:duration=0.4" -ac 2 -c:a libvorbis "$work/low.ogg"
cat "$src/ogg-vorbis.ogg" "$src/ogg-vorbis.ogg" >"$out/ogg-vorbis-chain-twice.ogg"
cat "$src/ogg-vorbis.ogg" "$work/low.ogg" >"$out/ogg-vorbis-chain-two-rates.ogg"
cat "$src/opus-ffmpeg.opus" "$src/opus-ffmpeg.opus" >"$out/opus-ffmpeg-chain-twice.opus"

# Sizes that claim more than the file holds, or 0xFFFFFFFF.
for source in "$src"/*.wav; do
    base=$(basename "${source%.*}")
    data=$(offset_of "$source" 'data')
    cp "$source" "$out/$base-riff-size-ffffffff.wav"; put_le "$out/$base-riff-size-ffffffff.wav" 4 4 0xFFFFFFFF
    cp "$source" "$out/$base-data-size-ffffffff.wav"; put_le "$out/$base-data-size-ffffffff.wav" $((data + 4)) 4 0xFFFFFFFF
    cp "$source" "$out/$base-data-size-too-big.wav"
    put_le "$out/$base-data-size-too-big.wav" $((data + 4)) 4 $(( $(size_of "$source") * 3 ))
    cp "$source" "$out/$base-fmt-size-ffffffff.wav"; put_le "$out/$base-fmt-size-ffffffff.wav" 16 4 0xFFFFFFFF
    # A cut file whose header still promises everything: what a crashed recorder leaves.
    random $(( $(size_of "$source") - data - 8 ))
    head -c $((data + 8 + REPLY)) "$source" >"$out/$base-data-size-ffffffff-cut.wav"
    put_le "$out/$base-data-size-ffffffff-cut.wav" $((data + 4)) 4 0xFFFFFFFF
done
for source in "$src"/*.mp3; do
    base=$(basename "${source%.*}")
    tag=$(offset_of "$source" '(Xing|Info)')
    if [[ -n "$tag" ]]; then
        cp "$source" "$out/$base-xing-frames-ffffffff.mp3"; put_le "$out/$base-xing-frames-ffffffff.mp3" $((tag + 8)) 4 0xFFFFFFFF
        cp "$source" "$out/$base-xing-bytes-too-big.mp3"; put_le "$out/$base-xing-bytes-too-big.mp3" $((tag + 12)) 4 0x7FFFFFFF
    fi
    if [[ "$(head -c 3 "$source")" == ID3 ]]; then
        # The synchsafe tag size at its largest: a tag that swallows the whole file and more.
        cp "$source" "$out/$base-id3-size-huge.mp3"; put_le "$out/$base-id3-size-huge.mp3" 6 4 0x7F7F7F7F
    fi
done
for source in "$src"/*.wma; do
    base=$(basename "${source%.*}")
    # Header Object size (64-bit at 16) and object count (32-bit at 24).
    cp "$source" "$out/$base-header-size-ffffffff.wma"; put_le "$out/$base-header-size-ffffffff.wma" 16 8 0xFFFFFFFF
    cp "$source" "$out/$base-header-size-max.wma"; put_le "$out/$base-header-size-max.wma" 16 8 -1
    cp "$source" "$out/$base-object-count-ffffffff.wma"; put_le "$out/$base-object-count-ffffffff.wma" 24 4 0xFFFFFFFF
    # File Properties: its own size, the file size and the packet count it claims.
    props=$(offset_of "$source" '\xa1\xdc\xab\x8c')
    if [[ -n "$props" ]]; then
        cp "$source" "$out/$base-props-size-ffffffff.wma"; put_le "$out/$base-props-size-ffffffff.wma" $((props + 16)) 8 0xFFFFFFFF
        cp "$source" "$out/$base-file-size-too-big.wma"; put_le "$out/$base-file-size-too-big.wma" $((props + 40)) 8 0x7FFFFFFFFFFF
        cp "$source" "$out/$base-packets-ffffffff.wma"; put_le "$out/$base-packets-ffffffff.wma" $((props + 56)) 8 0xFFFFFFFF
    fi
    data=$(offset_of "$source" '\x36\x26\xb2\x75')
    if [[ -n "$data" ]]; then
        cp "$source" "$out/$base-data-object-size-ffffffff.wma"
        put_le "$out/$base-data-object-size-ffffffff.wma" $((data + 16)) 8 0xFFFFFFFF
    fi
done

# Empty files, files of nothing but noise or zeros, headers without anything after them.
for ext in wav pcm mp3 wma; do
    : >"$out/empty.$ext"
    random 4096; head -c $((REPLY + 1)) /dev/zero >"$out/zeros.$ext"
done
for ext in wav mp3 wma; do
    { for ((i = 0; i < 256; i++)); do random 256; printf '\\%03o' "$REPLY"; done; } >"$work/noise.txt"
    printf "$(cat "$work/noise.txt")" >"$out/noise.$ext"
done
head -c 44 "$src/wav-s16.wav" >"$out/header-only.wav"
printf 'RIFF' >"$out/riff-only.wav"
head -c 4 "$src/mp3-cbr.mp3" >"$out/frame-header-only.mp3"
head -c 16 "$src/wma-v2.wma" >"$out/guid-only.wma"

# One format under another's name.
cp "$src/wma-v2.wma" "$out/wma-named.mp3"
cp "$src/mp3-cbr.mp3" "$out/mp3-named.wav"
cp "$src/wav-s16.wav" "$out/wav-named.mp3"
cp "$src/mp3-cbr.mp3" "$out/mp3-named.wma"
cp "$src/wav-s16.wav" "$out/wav-named.wma"
cp "$src/wma-v2.wma" "$out/wma-named.wav"
cp "$src/flac-s16.flac" "$out/flac-named.ogg"
cp "$src/ogg-vorbis.ogg" "$out/ogg-named.flac"
cp "$src/m4a-aac.m4a" "$out/m4a-named.opus"
cp "$src/mp3-cbr.mp3" "$out/mp3-named.m4a"
cp "$src/wav-s16.wav" "$out/wav-named.aiff"
for ext in flac ogg opus m4a aiff; do
    : >"$out/empty.$ext"
    printf 'not audio at all\n' >"$out/text.$ext"
done

# Entries that are no audio files: a folder and named pipes under audio names, a link to
# itself and one that leads nowhere, files that cannot be read (mode 000: their owner cannot
# read them either; the superuser can, so run the converter as another user to see it).
mkdir "$out/x.wav"
mkfifo "$out/pipe.wav" "$out/pipe.mp3" "$out/pipe.wma"
ln -s loop.wav "$out/loop.wav"
ln -s missing.mp3 "$out/dangling.mp3"
for ext in wav mp3 wma; do
    cp "$(ls "$src"/*."$ext" | head -n 1)" "$out/unreadable.$ext"
    chmod 000 "$out/unreadable.$ext"
done

count=$(find "$out" -mindepth 1 -maxdepth 1 | wc -l)
echo "damaged corpus: $count entries in $out (seed $seed)"
