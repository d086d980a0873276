// The header probe and the tag reader of FLAC, Ogg Vorbis, Opus, AAC (M4A) and AIFF on
// arbitrary bytes, the same bytes under each of those names: nothing is decoded.
#include "audio/format_tags.h"
#include "tests/fuzz/fuzz_support.h"

namespace chm::fuzz {

void RunFormatTags(std::span<const uint8_t> bytes) {
    FuzzWorkspace& workspace = FuzzWorkspace::Instance();
    for (const char* name : {"input.flac", "input.ogg", "input.opus", "input.m4a", "input.aiff"}) {
        const std::string path = workspace.WriteInput(name, bytes);
        VeFormatMediaInfo info;
        info.channels = 7;  // a failed probe leaves the record as it was
        if (ProbeFormatFile(info, path)) {
            FuzzCheck(info.Kind() == GetAudioFileType(path), "the probe's kind is not the file's type");
            FuzzCheck(info.sample_rate > 0 && info.bit_rate >= 0 && info.duration >= 0.0, "impossible stream values");
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
