#pragma once
#include <string>
#include <vector>

#include "audio/audio_file_type.h"

namespace chm {

// What of the source's tags its finished output lacks, read back from both files: the keys, in
// lower case, and "pictures" where fewer arrived. What was left out because it became false
// (loudness, the source encoder's name and settings) is not counted.
std::vector<std::string> TagsNotCarried(const std::string& source, const std::string& output, AudioFileType type);

// "not carried: lyrics, pictures"; empty for an empty list.
std::string NotCarriedNote(const std::vector<std::string>& missing);

}  // namespace chm
