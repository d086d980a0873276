// Test media of the further formats (FLAC, Ogg Vorbis, Opus, AAC in MP4, AIFF), made by ffmpeg
// from formulas, with tags and a cover picture, and their read-back through ffprobe.
#pragma once
#include <cctype>
#include <cstdint>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/audio/mp3_test_media.h"
#include "tests/support/test_files.h"

namespace chm::test::formats {

struct Format {
    const char* extension;
    const char* encode;      // ffmpeg's options for a source of this format
    const char* codec_name;  // what ffprobe calls the codec of the source and of the output
    const char* container;   // ffprobe's format_name of the file
    bool lossless;
    int output_rate;         // the rate of the output when it is fixed, else 0
    int frame_samples;       // one codec frame, the allowed difference in length
    bool picture_as_comment; // ffmpeg cannot attach a picture stream: a Xiph picture comment
    int bits = 16;           // sample size of a lossless source
};

inline const std::vector<Format>& Formats() {
    static const std::vector<Format> formats{
        {"flac", "-c:a flac", "flac", "flac", true, 0, 4608, false},
        {"aiff", "-c:a pcm_s16be -write_id3v2 1", "pcm_s16be", "aiff", true, 0, 1, false},
        {"ogg", "-c:a libvorbis -q:a 5", "vorbis", "ogg", false, 0, 2048, true},
        {"opus", "-c:a libopus -b:a 96k", "opus", "ogg", false, 48000, 960, true},
        {"m4a", "-c:a aac -b:a 128k", "aac", "mov,mp4,m4a,3gp,3g2,mj2", false, 0, 1024, false},
    };
    return formats;
}

// The tags every source gets, by ffprobe's names.
inline const std::map<std::string, std::string>& SourceTags() {
    static const std::map<std::string, std::string> tags{
        {"title", "Night Train"}, {"artist", "The Sines"}, {"album", "Partials"}, {"album_artist", "Various Sines"},
        {"date", "1999"},         {"track", "7"},          {"genre", "Ambient"},  {"comment", "made by the tests"},
    };
    return tags;
}

inline std::string Base64(const std::vector<uint8_t>& bytes) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const uint32_t n = uint32_t{bytes[i]} << 16 | (i + 1 < bytes.size() ? uint32_t{bytes[i + 1]} << 8 : 0) |
                           (i + 2 < bytes.size() ? bytes[i + 2] : 0);
        text += kAlphabet[n >> 18 & 63];
        text += kAlphabet[n >> 12 & 63];
        text += i + 1 < bytes.size() ? kAlphabet[n >> 6 & 63] : '=';
        text += i + 2 < bytes.size() ? kAlphabet[n & 63] : '=';
    }
    return text;
}

// A FLAC picture block (front cover, PNG) as Xiph comments carry it, in base64.
inline std::string PictureComment(const std::vector<uint8_t>& png) {
    std::vector<uint8_t> block;
    const auto put32 = [&](uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) block.push_back(static_cast<uint8_t>(v >> shift));
    };
    const std::string mime = "image/png";
    put32(3);
    put32(static_cast<uint32_t>(mime.size()));
    block.insert(block.end(), mime.begin(), mime.end());
    put32(0);  // no description
    put32(32);
    put32(32);
    put32(24);
    put32(0);
    put32(static_cast<uint32_t>(png.size()));
    block.insert(block.end(), png.begin(), png.end());
    return Base64(block);
}

// A 32x32 PNG cover made by ffmpeg.
inline bool MakeCover(const std::string& path) {
    return mp3::Run(mp3::Ffmpeg() + "-f lavfi -i color=c=0x3366cc:s=32x32:d=1 -frames:v 1 " + mp3::Quoted(path));
}

// A file of the format from a 16-bit WAV (or any file ffmpeg reads), with the source tags and
// the cover when `cover` is given. Extra options (a sample format) go before the output.
inline bool Encode(const Format& format, const std::string& input, const std::string& output,
                   const std::string& cover = {}, const std::string& extra = {}) {
    std::string command = mp3::Ffmpeg() + "-i " + mp3::Quoted(input);
    if (!cover.empty() && !format.picture_as_comment)
        command += " -i " + mp3::Quoted(cover) + " -map 0:a -map 1 -c:v copy -disposition:v attached_pic";
    command += std::string(" ") + format.encode + " " + extra;
    if (!cover.empty()) {
        for (const auto& [key, value] : SourceTags()) command += " -metadata " + key + "=" + mp3::Quoted(value);
        if (format.picture_as_comment)
            command += " -metadata METADATA_BLOCK_PICTURE=" + PictureComment(ReadFileBytes(cover));
    }
    return mp3::Run(command + " " + mp3::Quoted(output));
}

// A stereo (or mono) file of the format, `seconds` long, music-like, untagged.
inline bool MakeFile(const Format& format, const std::string& path, int channels, double seconds) {
    const std::string wav = path + ".source.wav";
    const bool made = channels == 2 ? mp3::MakeMusicWav(wav, 44100, seconds)
                                    : mp3::MakeWav(wav, mp3::kMusicLeft, "", 44100, seconds);
    const bool encoded = made && Encode(format, wav, path);
    std::remove(wav.c_str());
    return encoded;
}

// The 24-bit form of a lossless format.
inline Format Deep(const Format& format) {
    Format deep = format;
    deep.bits = 24;
    if (std::string(format.extension) == "flac") {
        deep.encode = "-c:a flac -sample_fmt s32 -bits_per_raw_sample 24";
    } else {
        deep.encode = "-c:a pcm_s24be -write_id3v2 1";
        deep.codec_name = "pcm_s24be";
    }
    return deep;
}

// The sample size of a lossless file as ffprobe reads it.
inline std::string ProbeBits(const std::string& path) {
    const std::string codec = mp3::Probe(path, "codec_name");
    return mp3::Probe(path, codec.starts_with("pcm_") ? "bits_per_sample" : "bits_per_raw_sample");
}

inline const Format* FindFormat(const std::string& extension) {
    for (const Format& format : Formats())
        if (extension == format.extension) return &format;
    return nullptr;
}

// Every tag ffprobe finds, in the container and in the first audio stream, by lower-case key.
inline std::map<std::string, std::string> ProbeTags(const std::string& path) {
    const std::string out = path + ".tags";
    std::map<std::string, std::string> tags;
    if (!mp3::Run("ffprobe -v error -select_streams a:0 -show_entries format_tags:stream_tags "
                  "-of default=noprint_wrappers=1 " +
                  mp3::Quoted(path) + " > " + mp3::Quoted(out)))
        return tags;
    std::istringstream lines(ReadTextFile(out));
    std::remove(out.c_str());
    for (std::string line; std::getline(lines, line);) {
        if (!line.starts_with("TAG:")) continue;
        const size_t equals = line.find('=');
        std::string key = line.substr(4, equals - 4);
        for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        tags.emplace(key, line.substr(equals + 1));
    }
    return tags;
}

// The bytes of the file's first attached picture, as ffmpeg extracts it.
inline std::vector<uint8_t> ExtractPicture(const std::string& path, const std::string& picture_path) {
    if (!mp3::Run(mp3::Ffmpeg() + "-i " + mp3::Quoted(path) + " -map 0:v:0 -c copy -f image2 " +
                  mp3::Quoted(picture_path)))
        return {};
    return ReadFileBytes(picture_path);
}

}  // namespace chm::test::formats
