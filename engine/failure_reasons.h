#pragma once
#include <cstdint>
#include <string>

#include "audio/audio_file_type.h"

namespace chm {

// Reasons in plain words for a file that failed, for the steps that failed without giving one.
// Each looks at the file or folder again to say what is wrong with it.

// What keeps `path` from being read at all ("the file does not exist"); empty when it can be.
std::string InputProblem(const std::string& path);
// Why a file that can be opened did not decode: too many channels, not the kind its name says,
// or damaged.
std::string ReaderFailure(const std::string& path, AudioFileType type);
// Why an output could not be written into `folder` ("the output folder is full").
std::string WriterFailure(const std::string& folder);

// How users name a type: "WAV", "MP3", "Ogg"; "audio" for any other.
std::string TypeName(AudioFileType type);
// "the file has 4 channels; only mono and stereo files are converted", or empty for 1 or 2.
std::string ChannelProblem(int32_t channels);

}  // namespace chm
