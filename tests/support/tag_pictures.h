#pragma once
#include <string>
#include <vector>

namespace chm::test {

// A picture as a tag writer stores it.
struct TestPicture {
    std::string mime_type;
    int type = 3;  // ID3v2/FLAC picture type: 3 front cover, 4 back cover
    std::string description;
    std::vector<char> data;
};

// Adds the pictures to a WAV (ID3v2 chunk), WMA (WM/Picture), Ogg Vorbis or Opus file (Xiph
// METADATA_BLOCK_PICTURE) through TagLib, for formats whose other writers here cannot store
// them. The type is the file's extension. False when TagLib cannot save.
bool AddPicturesWithTaglib(const std::string& path, const std::vector<TestPicture>& pictures);

}  // namespace chm::test
