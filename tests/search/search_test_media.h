// Test media for the folder search: WAV headers written by hand, MP3 and WMA made once per
// test program by ffmpeg and copied byte for byte wherever a test needs one.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace chm::test::search {

// A PCM WAV file with a canonical 44-byte header and `frames` frames of silence.
void WriteWav(const std::string& path, uint16_t channels, uint32_t frames = 64, uint32_t rate = 8000);
// Bytes that start with no RIFF header at all.
void WriteNotRiff(const std::string& path);

// A short MP3 or WMA (ASF) file with that many channels (1 or 2), made by ffmpeg the first
// time it is asked for and copied afterwards.
void WriteMp3(const std::string& path, int channels);
void WriteWma(const std::string& path, int channels);
// A short file of one of the further formats, by the extension of `path` (flac, ogg, oga,
// opus, m4a, aif, aiff), made by ffmpeg the first time and copied afterwards.
void WriteFormatFile(const std::string& path, int channels);
// The extensions WriteFormatFile knows.
const std::vector<std::string>& FormatExtensions();
// The bytes of those files.
const std::vector<uint8_t>& Mp3Bytes(int channels);
const std::vector<uint8_t>& WmaBytes(int channels);

// Makes the folder and its missing parents.
void MakeFolder(const std::string& path);
// A named pipe, a socket and a symbolic link at `path`.
void MakeFifo(const std::string& path);
void MakeSocket(const std::string& path);
void MakeSymlink(const std::string& target, const std::string& path);

}  // namespace chm::test::search
