// The header probe, the tag reader and the tag writer of FLAC, Ogg Vorbis, Opus, AAC (M4A) and
// AIFF on arbitrary bytes, the same bytes under each of those names: nothing is decoded.
#include <filesystem>

#include "audio/format_tags.h"
#include "tests/fuzz/fuzz_support.h"

namespace chm::fuzz {
namespace {

// A file that probes as its type gets new tags written into a copy of it: the write either
// succeeds or leaves the copy exactly as it was, and in both cases nothing else beside it. Not
// for MP4: TagLib moves every chunk offset of an "stco" box with a write of its own, as many as
// the box's count says, whatever the box holds (billions for four bytes), and the program only
// ever writes tags into MP4 files its own muxer made.
void CheckTagWrite(const char* name, std::span<const uint8_t> bytes) {
    FuzzWorkspace& workspace = FuzzWorkspace::Instance();
    const std::string folder = workspace.OutputPath("edited");
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    FuzzCheck(std::filesystem::create_directory(folder, ec) && !ec, "cannot make the edit folder");
    const std::string path = workspace.WriteInput(std::string("edited/") + name, bytes);
    VeFormatTags tags;
    tags.fields["TITLE"] = {"A title"};
    tags.fields["ARTIST"] = {"An artist"};
    tags.pictures.push_back({"image/png", 3, "cover", std::vector<char>(300, 'p')});
    if (!tags.Write(path)) workspace.CheckUnchanged(path, bytes);
    size_t entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) entries += entry.exists() ? 1 : 0;
    FuzzCheck(!ec && entries == 1, "a tag write left a file beside its target");
    std::filesystem::remove_all(folder, ec);
}

}  // namespace

void RunFormatTags(std::span<const uint8_t> bytes) {
    FuzzWorkspace& workspace = FuzzWorkspace::Instance();
    for (const char* name : {"input.flac", "input.ogg", "input.opus", "input.m4a", "input.aiff"}) {
        const std::string path = workspace.WriteInput(name, bytes);
        VeFormatMediaInfo info;
        info.channels = 7;  // a failed probe leaves the record as it was
        if (ProbeFormatFile(info, path)) {
            FuzzCheck(info.Kind() == GetAudioFileType(path), "the probe's kind is not the file's type");
            FuzzCheck(info.sample_rate > 0 && info.bit_rate >= 0 && info.duration >= 0.0, "impossible stream values");
            if (GetAudioFileType(path) != AudioFileType::Aac) CheckTagWrite(name, bytes);
        } else {
            FuzzCheck(info.channels == 7, "a failed probe changed the record");
        }
        VeFormatTags tags;
        if (!tags.Read(path)) FuzzCheck(!tags.HasContent(), "a failed read left tags behind");
        workspace.CheckUnchanged(path, bytes);
    }
    workspace.CheckNoTemporaryFiles();
}

}  // namespace chm::fuzz
