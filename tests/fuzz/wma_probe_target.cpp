// The WMA probe on arbitrary bytes: the ASF header read without decoding anything.
#include "audio/media_info.h"
#include "tests/fuzz/fuzz_support.h"
#include "wm/asf_probe.h"

namespace chm::fuzz {

void RunWmaProbe(std::span<const uint8_t> bytes) {
    FuzzWorkspace& workspace = FuzzWorkspace::Instance();
    const std::string path = workspace.WriteInput("input.wma", bytes);
    VeWmaMediaInfo info;
    info.channels = 7;  // a failed probe leaves the record as it was
    if (ProbeWmaFile(info, path)) {
        FuzzCheck(info.sample_rate >= 0 && info.bit_rate >= 0, "negative rate from the probe");
        FuzzCheck(info.duration >= 0.0, "negative duration from the probe");
    } else {
        FuzzCheck(info.channels == 7, "a failed probe changed the record");
    }
    workspace.CheckUnchanged(path, bytes);
    workspace.CheckNoTemporaryFiles();
}

}  // namespace chm::fuzz
