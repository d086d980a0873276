// Every output of the audio engine is checked when it is closed: bytes that the file system
// refuses at that moment make the writer fail rather than leave a short file called done.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include "audio/audio_data.h"
#include "audio/lame_encoder.h"
#include "audio/mp3_decoder.h"
#include "audio/wav_file.h"
#include "engine/task_progress.h"
#include "platform/file_system.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/test_files.h"

namespace chm {
namespace {

using test::FileSizeLimit;
using test::ScratchDir;

// Once the writer reports all of its work done, nothing more may be written to any file, as if
// the disk filled up or the device failed: only what is still buffered for the file is left to
// write, when the writer closes it. The limit goes with the progress.
class RefuseWritesOnceDone : public TaskProgress {
public:
    RefuseWritesOnceDone() { Reset(1000); }
    bool Refused() const { return limit_ && limit_->Applied(); }

protected:
    void OnChanged() override {
        if (!limit_ && Done() == Total()) limit_.emplace(0);
    }

private:
    std::optional<FileSizeLimit> limit_;
};

struct Writer {
    const char* name;
    // Writes `output` from the short mono audio or from `mp3`, an MP3 file of that audio.
    std::function<bool(VeAudioData& audio, const std::string& mp3, const std::string& output, TaskProgress*)>
        write;
    // Whether the writer itself removes what it wrote when it fails; otherwise its caller does.
    bool removes_its_output;
};

const Writer kWriters[] = {
    {"WAV save",
     [](VeAudioData& audio, const std::string&, const std::string& output, TaskProgress* progress) {
         return SaveWav(audio, output, progress);
     },
     true},
    {"MP3 encode",
     [](VeAudioData& audio, const std::string&, const std::string& output, TaskProgress* progress) {
         return GetLameEncoder().Encode(output, audio, progress);
     },
     false},
    {"MP3 decode to WAV",
     [](VeAudioData&, const std::string& mp3, const std::string& output, TaskProgress* progress) {
         return DecodeMp3ToWav(output, mp3, progress);
     },
     false},
};

TEST(OutputCloseFailureTest, BytesRefusedAtCloseFailEveryWriter) {
    ASSERT_TRUE(GetLameEncoder().IsUsable());
    ScratchDir dir;
    // Small enough that every byte is still buffered when the writer closes its output.
    VeAudioData audio;
    ASSERT_TRUE(audio.CreateSilence(false, 11025, 44100));
    const std::string mp3 = dir.File("source.mp3");
    ASSERT_TRUE(GetLameEncoder().Encode(mp3, audio, nullptr));

    for (const Writer& writer : kWriters) {
        SCOPED_TRACE(writer.name);
        const std::string output = dir.File("output");
        bool written = true;
        {
            RefuseWritesOnceDone progress;
            written = writer.write(audio, mp3, output, &progress);
            ASSERT_TRUE(progress.Refused());
            EXPECT_TRUE(progress.IsFailed());
        }
        EXPECT_FALSE(written);
        if (writer.removes_its_output) {
            EXPECT_FALSE(PathExists(output));
        }
        RemoveFile(output);
        // With room again the same writer succeeds, so the failure came from the refused bytes.
        TaskProgress progress;
        progress.Reset(1000);
        EXPECT_TRUE(writer.write(audio, mp3, output, &progress));
        EXPECT_TRUE(RemoveFile(output));
    }
}

}  // namespace
}  // namespace chm
