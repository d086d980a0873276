#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "metadata/carried_check.h"
#include "metadata/source_chunks.h"
#include "tests/audio/mp3_test_media.h"
#include "tests/support/test_files.h"

namespace chm {
namespace {

namespace media = test::mp3;

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }
std::string Text(const std::vector<uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

std::string Track(int channel, int interleave, const std::string& name) {
    return "<TRACK><CHANNEL_INDEX>" + std::to_string(channel) + "</CHANNEL_INDEX><INTERLEAVE_INDEX>" +
           std::to_string(interleave) + "</INTERLEAVE_INDEX><NAME>" + name + "</NAME></TRACK>";
}

std::string Recorder(const std::string& tracks) {
    return "<BWFXML><PROJECT>Harbour</PROJECT><TRACK_LIST><TRACK_COUNT>2</TRACK_COUNT>" + tracks +
           "</TRACK_LIST></BWFXML>";
}

// The mono file's iXML names the one track it holds, as the recorder numbered it.
TEST(IxmlForMonoTest, TheTrackListNamesTheKeptTrack) {
    struct Case {
        const char* what;
        std::string tracks;
        int method;
        std::string channel, name;
    };
    const std::string in_order = Track(3, 1, "Boom") + Track(4, 2, "Lav");
    const std::vector<Case> cases = {
        {"left", in_order, 1, "3", "Boom"},
        {"right", in_order, 2, "4", "Lav"},
        {"mix", in_order, 0, "3", "Boom + Lav"},
        {"listed right first", Track(4, 2, "Lav") + Track(3, 1, "Boom"), 1, "3", "Boom"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string out = Text(IxmlForMono(Bytes(Recorder(c.tracks) + std::string(6, '\0')), c.method));
        EXPECT_NE(out.find("<TRACK_COUNT>1</TRACK_COUNT>"), std::string::npos) << out;
        EXPECT_NE(out.find("<CHANNEL_INDEX>" + c.channel + "</CHANNEL_INDEX>"), std::string::npos) << out;
        EXPECT_NE(out.find("<INTERLEAVE_INDEX>1</INTERLEAVE_INDEX>"), std::string::npos) << out;
        EXPECT_NE(out.find("<NAME>" + c.name + "</NAME>"), std::string::npos) << out;
        EXPECT_EQ(out.find("<INTERLEAVE_INDEX>2"), std::string::npos) << out;
        EXPECT_NE(out.find("<PROJECT>Harbour</PROJECT>"), std::string::npos) << out;
    }
    // What is not a two-track list is no description of the channels to mend: as it was.
    for (const std::string& other : {std::string("<BWFXML><PROJECT>Harbour</PROJECT></BWFXML>"),
                                     Recorder(Track(1, 1, "Boom")), std::string("<BWFXML><TRACK_LIST>"),
                                     std::string("not xml at all")})
        EXPECT_EQ(Text(IxmlForMono(Bytes(other), 1)), other);
}

// Read back from both files: what the output lacks is named, what became false is not.
TEST(TagsNotCarriedTest, NamesWhatTheOutputLacks) {
    test::ScratchDir scratch;
    const std::string wav = scratch.File("music.wav");
    ASSERT_TRUE(media::MakeMusicWav(wav, 44100, 0.5));
    const std::string png = scratch.File("cover.png");
    ASSERT_TRUE(media::Run(media::Ffmpeg() + "-f lavfi -i color=red:s=8x8 -frames:v 1 " + media::Quoted(png)));
    const std::string source = scratch.File("source.flac");
    const std::string output = scratch.File("output.flac");
    ASSERT_TRUE(media::Run(media::Ffmpeg() + "-i " + media::Quoted(wav) + " -i " + media::Quoted(png) +
                           " -map 0 -map 1 -c:v copy -disposition:v attached_pic -metadata title=Tide"
                           " -metadata lyrics=La -metadata REPLAYGAIN_TRACK_GAIN='-3.20 dB' " + media::Quoted(source)));
    ASSERT_TRUE(media::Run(media::Ffmpeg() + "-i " + media::Quoted(wav) + " -metadata title=Tide " +
                           media::Quoted(output)));
    EXPECT_EQ(NotCarriedNote(TagsNotCarried(source, output, AudioFileType::Flac)), "not carried: lyrics, pictures");
    EXPECT_TRUE(TagsNotCarried(source, source, AudioFileType::Flac).empty());
    // An output that cannot be read back says nothing either way.
    EXPECT_TRUE(TagsNotCarried(source, scratch.File("missing.flac"), AudioFileType::Flac).empty());
}

}  // namespace
}  // namespace chm
