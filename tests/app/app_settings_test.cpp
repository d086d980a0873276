#include "app/app_settings.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <filesystem>
#include <optional>

#include "platform/file_system.h"
#include "tests/support/test_files.h"

namespace chm {
namespace {

constexpr const char* kHeader =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<TavorinCHMSettings version=\"1.0\" xmlns=\"urn:tavorin:channel-merger:settings:1\">\n";

// Sets an environment variable for one test and puts the old value back afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~ScopedEnv() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

class AppSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { settings_.ResetToDefaults(); }
    void TearDown() override { settings_.ResetToDefaults(); }

    // Writes a settings file whose root is ours and whose content is the given text.
    std::string WriteOurs(const std::string& body) {
        test::WriteTextFile(file_, std::string(kHeader) + body + "</TavorinCHMSettings>\n");
        return file_;
    }
    std::vector<std::string> ScratchEntries() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(scratch_.Path()))
            names.push_back(entry.path().filename().string());
        return names;
    }

    AppSettings& settings_ = AppSettings::Instance();
    test::ScratchDir scratch_;
    std::string file_ = scratch_.File("Settings.xml");
    // The user's real configuration is never touched.
    ScopedEnv config_{"XDG_CONFIG_HOME", scratch_.File("config").c_str()};
};

TEST_F(AppSettingsTest, InstanceIsOneObject) { EXPECT_EQ(&AppSettings::Instance(), &settings_); }

TEST_F(AppSettingsTest, ResetGivesTheDefaults) {
    settings_.main_frame_x = 5;
    settings_.show_conversion_report = false;
    settings_.output_folder = "/out";
    settings_.conversion_method = 2;
    settings_.ResetToDefaults();
    EXPECT_EQ(settings_.main_frame_x, -1);
    EXPECT_EQ(settings_.main_frame_y, -1);
    EXPECT_TRUE(settings_.show_getting_started);
    EXPECT_TRUE(settings_.show_conversion_report);
    EXPECT_EQ(settings_.added_folder, "");
    EXPECT_EQ(settings_.search_folder, "");
    EXPECT_FALSE(settings_.search_sub);
    EXPECT_EQ(settings_.output_folder, "");
    EXPECT_EQ(settings_.conversion_method, 0);
}

TEST_F(AppSettingsTest, SaveWritesTheExactDocument) {
    settings_.main_frame_x = 120;
    settings_.main_frame_y = -40;
    settings_.show_getting_started = false;
    settings_.added_folder = "/home/u/Music";
    settings_.search_sub = true;
    settings_.conversion_method = 1;
    ASSERT_TRUE(settings_.Save(file_));
    EXPECT_EQ(test::ReadTextFile(file_),
              std::string(kHeader) +
                  "    <States>\n"
                  "        <Application show_getting_started=\"0\" show_conversion_report=\"1\"/>\n"
                  "        <MainFrame x=\"120\" y=\"-40\"/>\n"
                  "        <Task added_folder=\"/home/u/Music\" search_folder=\"\" search_sub=\"1\" "
                  "output_folder=\"\"/>\n"
                  "    </States>\n"
                  "    <Options>\n"
                  "        <General conversion_method=\"1\"/>\n"
                  "    </Options>\n"
                  "</TavorinCHMSettings>\n");
}

TEST_F(AppSettingsTest, EveryFieldSurvivesARoundTrip) {
    settings_.main_frame_x = 640;
    settings_.main_frame_y = 0;
    settings_.show_getting_started = false;
    settings_.show_conversion_report = false;
    settings_.added_folder = "/home/u/Müsik/日本語";
    settings_.search_folder = "/data/\"Q&A\" <live> 'tapes'";
    settings_.search_sub = true;
    settings_.output_folder = "/out/Ωmega & co";
    settings_.conversion_method = 2;
    settings_.keep_dates = true;
    settings_.keep_tree = true;
    ASSERT_TRUE(settings_.Save(file_));
    settings_.ResetToDefaults();
    ASSERT_TRUE(settings_.Load(file_));
    EXPECT_EQ(settings_.main_frame_x, 640);
    EXPECT_EQ(settings_.main_frame_y, 0);
    EXPECT_FALSE(settings_.show_getting_started);
    EXPECT_FALSE(settings_.show_conversion_report);
    EXPECT_EQ(settings_.added_folder, "/home/u/Müsik/日本語");
    EXPECT_EQ(settings_.search_folder, "/data/\"Q&A\" <live> 'tapes'");
    EXPECT_TRUE(settings_.search_sub);
    EXPECT_EQ(settings_.output_folder, "/out/Ωmega & co");
    EXPECT_EQ(settings_.conversion_method, 2);
    EXPECT_TRUE(settings_.keep_dates);
    EXPECT_TRUE(settings_.keep_tree);
}

// Every character a folder name may hold reads back as written: XML's line-end normalisation
// must not turn a carriage return, or a pair of line ends, into another folder's name.
TEST_F(AppSettingsTest, FolderNamesWithLineEndsAndControlCharactersReadBackExactly) {
    const std::vector<std::string> names = {
        "/music\r",        "/a\rb/\r\r",    "/crlf\r\n/x", "/lfcr\n\r/x", "/tab\there",
        "/lf\nonly",       "/ends with \r\n", "\r",          " /spaces  ",    "/\x01\x1f\x7f",
        "/&#xD;/literal",   "/\xff\xfe bytes",
    };
    for (const std::string& name : names) {
        SCOPED_TRACE(::testing::PrintToString(name));
        settings_.added_folder = name + "/added";
        settings_.search_folder = "search" + name;
        settings_.output_folder = name;
        ASSERT_TRUE(settings_.Save(file_));
        settings_.ResetToDefaults();
        ASSERT_TRUE(settings_.Load(file_));
        EXPECT_EQ(settings_.added_folder, name + "/added");
        EXPECT_EQ(settings_.search_folder, "search" + name);
        EXPECT_EQ(settings_.output_folder, name);
    }
    // The file itself stays plain XML: no raw carriage return in it.
    settings_.output_folder = "/music\r";
    ASSERT_TRUE(settings_.Save(file_));
    const std::string text = test::ReadTextFile(file_);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_NE(text.find("output_folder=\"/music&#xD;\""), std::string::npos) << text;
}

// A NUL cannot stand in an attribute: rather than come back cut short, as another folder, such
// a name is not kept at all.
TEST_F(AppSettingsTest, AFolderNameWithANulIsStoredAsTheDefault) {
    settings_.output_folder = std::string("/music\0/other", 13);
    settings_.added_folder = "/kept";
    ASSERT_TRUE(settings_.Save(file_));
    settings_.ResetToDefaults();
    ASSERT_TRUE(settings_.Load(file_));
    EXPECT_EQ(settings_.output_folder, "");
    EXPECT_EQ(settings_.added_folder, "/kept");
}

TEST_F(AppSettingsTest, MissingFileIsNotReadAndKeepsTheFields) {
    settings_.conversion_method = 1;
    EXPECT_FALSE(settings_.Load(scratch_.File("absent.xml")));
    EXPECT_EQ(settings_.conversion_method, 1);
}

TEST_F(AppSettingsTest, MalformedFileIsNotReadAndKeepsTheDefaults) {
    WriteOurs("<Options><General conversion_method=\"2\"></Options>");
    EXPECT_FALSE(settings_.Load(file_));
    EXPECT_EQ(settings_.conversion_method, 0);
}

TEST_F(AppSettingsTest, OtherVersionIsNotReadAndTheNextSaveWritesVersionOne) {
    test::WriteTextFile(file_,
                        "<?xml version=\"1.0\"?><TavorinCHMSettings version=\"1.1\" "
                        "xmlns=\"urn:tavorin:channel-merger:settings:1\"><Options>"
                        "<General conversion_method=\"2\"/></Options></TavorinCHMSettings>");
    EXPECT_FALSE(settings_.Load(file_));
    EXPECT_EQ(settings_.conversion_method, 0);
    settings_.main_frame_x = 3;
    settings_.main_frame_y = 4;
    ASSERT_TRUE(settings_.Save(file_));
    EXPECT_EQ(test::ReadTextFile(file_).rfind(kHeader, 0), 0u);
    settings_.ResetToDefaults();
    ASSERT_TRUE(settings_.Load(file_));
    EXPECT_EQ(settings_.main_frame_x, 3);
    EXPECT_EQ(settings_.conversion_method, 0);
}

TEST_F(AppSettingsTest, MissingVersionIsNotRead) {
    test::WriteTextFile(file_,
                        "<TavorinCHMSettings xmlns=\"urn:tavorin:channel-merger:settings:1\"><Options>"
                        "<General conversion_method=\"2\"/></Options></TavorinCHMSettings>");
    EXPECT_FALSE(settings_.Load(file_));
    EXPECT_EQ(settings_.conversion_method, 0);
}

TEST_F(AppSettingsTest, WrongRootNameIsNotRead) {
    test::WriteTextFile(file_,
                        "<OtherSettings version=\"1.0\" xmlns=\"urn:tavorin:channel-merger:settings:1\">"
                        "<Options><General conversion_method=\"2\"/></Options></OtherSettings>");
    EXPECT_FALSE(settings_.Load(file_));
    EXPECT_EQ(settings_.conversion_method, 0);
}

TEST_F(AppSettingsTest, WrongNamespaceIsNotRead) {
    test::WriteTextFile(file_,
                        "<TavorinCHMSettings version=\"1.0\" xmlns=\"urn:someone:else\">"
                        "<Options><General conversion_method=\"2\"/></Options></TavorinCHMSettings>");
    EXPECT_FALSE(settings_.Load(file_));
    EXPECT_EQ(settings_.conversion_method, 0);
}

TEST_F(AppSettingsTest, ConversionMethodAboveTheRangeIsClampedToTwo) {
    ASSERT_TRUE(settings_.Load(WriteOurs("<Options><General conversion_method=\"7\"/></Options>")));
    EXPECT_EQ(settings_.conversion_method, 2);
}

TEST_F(AppSettingsTest, ConversionMethodBelowTheRangeIsClampedToZero) {
    settings_.conversion_method = 1;
    ASSERT_TRUE(settings_.Load(WriteOurs("<Options><General conversion_method=\"-3\"/></Options>")));
    EXPECT_EQ(settings_.conversion_method, 0);
}

TEST_F(AppSettingsTest, ConversionMethodThatIsNotANumberKeepsTheDefault) {
    ASSERT_TRUE(settings_.Load(WriteOurs("<Options><General conversion_method=\"abc\"/></Options>")));
    EXPECT_EQ(settings_.conversion_method, 0);
}

TEST_F(AppSettingsTest, ConversionMethodBeginningWithANumberTakesThatNumber) {
    ASSERT_TRUE(settings_.Load(WriteOurs("<Options><General conversion_method=\"1xyz\"/></Options>")));
    EXPECT_EQ(settings_.conversion_method, 1);
}

TEST_F(AppSettingsTest, HugeNumberSaturatesAndIsClamped) {
    ASSERT_TRUE(settings_.Load(
        WriteOurs("<Options><General conversion_method=\"99999999999999999999999\"/></Options>")));
    EXPECT_EQ(settings_.conversion_method, 2);
}

TEST_F(AppSettingsTest, MainFrameWithOnlyXKeepsTheDefaultPosition) {
    ASSERT_TRUE(settings_.Load(WriteOurs("<States><MainFrame x=\"200\"/></States>")));
    EXPECT_EQ(settings_.main_frame_x, -1);
    EXPECT_EQ(settings_.main_frame_y, -1);
}

TEST_F(AppSettingsTest, MalformedAttributeIsIgnoredAndTheOthersAreRead) {
    ASSERT_TRUE(settings_.Load(WriteOurs(
        "<States><Application show_getting_started=\"no\" show_conversion_report=\"0\"/></States>")));
    EXPECT_TRUE(settings_.show_getting_started);
    EXPECT_FALSE(settings_.show_conversion_report);
}

TEST_F(AppSettingsTest, EmptyOutputFolderIsReadAsEmpty) {
    settings_.output_folder = "/somewhere";
    ASSERT_TRUE(settings_.Load(WriteOurs("<States><Task output_folder=\"\"/></States>")));
    EXPECT_EQ(settings_.output_folder, "");
}

TEST_F(AppSettingsTest, AbsentStringAttributeKeepsItsField) {
    settings_.added_folder = "/kept";
    ASSERT_TRUE(settings_.Load(WriteOurs("<States><Task search_folder=\"/s\"/></States>")));
    EXPECT_EQ(settings_.added_folder, "/kept");
    EXPECT_EQ(settings_.search_folder, "/s");
}

TEST_F(AppSettingsTest, SearchSubOfTwoIsTrueAndWrittenBackAsOne) {
    ASSERT_TRUE(settings_.Load(WriteOurs("<States><Task search_sub=\"2\"/></States>")));
    EXPECT_TRUE(settings_.search_sub);
    ASSERT_TRUE(settings_.Save(file_));
    EXPECT_NE(test::ReadTextFile(file_).find("search_sub=\"1\""), std::string::npos);
}

TEST_F(AppSettingsTest, SectionWhoseFirstChildIsACommentIsNotRead) {
    ASSERT_TRUE(settings_.Load(WriteOurs("<States><!-- note --><MainFrame x=\"1\" y=\"2\"/></States>"
                                         "<Options><General conversion_method=\"2\"/></Options>")));
    EXPECT_EQ(settings_.main_frame_x, -1);
    EXPECT_EQ(settings_.conversion_method, 2);
}

TEST_F(AppSettingsTest, CommentAfterTheFirstElementIsSkipped) {
    ASSERT_TRUE(settings_.Load(WriteOurs(
        "<States><Unknown/><!-- note --><MainFrame x=\"1\" y=\"2\"/></States>")));
    EXPECT_EQ(settings_.main_frame_x, 1);
    EXPECT_EQ(settings_.main_frame_y, 2);
}

TEST_F(AppSettingsTest, RepeatedElementIsAppliedAgainAndTheLaterWins) {
    ASSERT_TRUE(settings_.Load(WriteOurs("<States><MainFrame x=\"1\" y=\"2\"/><MainFrame x=\"3\" y=\"4\"/>"
                                         "</States>")));
    EXPECT_EQ(settings_.main_frame_x, 3);
    EXPECT_EQ(settings_.main_frame_y, 4);
}

TEST_F(AppSettingsTest, DataFolderLiesInTheConfigurationHome) {
    EXPECT_EQ(AppSettings::DataFolder(), scratch_.File("config/Tavorin/Channel Merger"));
    EXPECT_EQ(AppSettings::SettingsFilePath(), scratch_.File("config/Tavorin/Channel Merger/Settings.xml"));
}

TEST_F(AppSettingsTest, DataFolderFallsBackToDotConfigInHome) {
    ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
    ScopedEnv home("HOME", scratch_.Path().c_str());
    EXPECT_EQ(AppSettings::DataFolder(), scratch_.File(".config/Tavorin/Channel Merger"));
}

TEST_F(AppSettingsTest, RelativeConfigurationHomeIsIgnored) {
    ScopedEnv xdg("XDG_CONFIG_HOME", "relative/config");
    ScopedEnv home("HOME", scratch_.Path().c_str());
    EXPECT_EQ(AppSettings::DataFolder(), scratch_.File(".config/Tavorin/Channel Merger"));
}

TEST_F(AppSettingsTest, DataFolderFallsBackToTheProgramFolder) {
    ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
    ScopedEnv home("HOME", nullptr);
    const auto program = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    EXPECT_EQ(AppSettings::DataFolder(), (program / "Data/").string());
}

TEST_F(AppSettingsTest, EnsureDataFolderCreatesMissingParents) {
    ASSERT_FALSE(PathExists(scratch_.File("config")));
    ASSERT_TRUE(AppSettings::EnsureDataFolder());
    EXPECT_TRUE(IsDirectory(scratch_.File("config/Tavorin/Channel Merger")));
    EXPECT_EQ(AppSettings::DataFolder(), scratch_.File("config/Tavorin/Channel Merger/"));
    EXPECT_TRUE(AppSettings::EnsureDataFolder());
}

TEST_F(AppSettingsTest, SaveAndLoadWithoutAPathUseTheDataFolder) {
    settings_.search_folder = "/from/data/folder";
    ASSERT_TRUE(settings_.Save());
    EXPECT_TRUE(IsRegularFile(scratch_.File("config/Tavorin/Channel Merger/Settings.xml")));
    settings_.ResetToDefaults();
    ASSERT_TRUE(settings_.Load());
    EXPECT_EQ(settings_.search_folder, "/from/data/folder");
}

TEST_F(AppSettingsTest, SaveFailsAndWritesNothingWhenTheDataFolderCannotBeMade) {
    test::WriteTextFile(scratch_.File("blocker"), "a file, not a folder");
    ScopedEnv xdg("XDG_CONFIG_HOME", scratch_.File("blocker").c_str());
    EXPECT_FALSE(settings_.Save());
    EXPECT_EQ(ScratchEntries(), std::vector<std::string>{"blocker"});
}

TEST_F(AppSettingsTest, SaveIntoAMissingFolderFailsAndWritesNothing) {
    EXPECT_FALSE(settings_.Save(scratch_.File("missing/Settings.xml")));
    EXPECT_TRUE(ScratchEntries().empty());
}

TEST_F(AppSettingsTest, FailedWriteKeepsThePreviousFile) {
    const std::string previous = WriteOurs("<Options><General conversion_method=\"2\"/></Options>");
    const std::string before = test::ReadTextFile(previous);
    // A file-size limit makes every write past a few bytes fail, as a full disk would, even
    // for a privileged user.
    rlimit old_limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    const auto old_handler = ::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old_limit;
    small.rlim_cur = 16;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved = settings_.Save(file_);
    ::setrlimit(RLIMIT_FSIZE, &old_limit);
    ::signal(SIGXFSZ, old_handler);
    EXPECT_FALSE(saved);
    EXPECT_EQ(test::ReadTextFile(file_), before);
    EXPECT_EQ(ScratchEntries(), std::vector<std::string>{"Settings.xml"});
}

TEST_F(AppSettingsTest, SaveOverAFolderFailsAndLeavesNoTemporaryFile) {
    CreateDirectories(file_);
    EXPECT_FALSE(settings_.Save(file_));
    EXPECT_TRUE(IsDirectory(file_));
    EXPECT_EQ(ScratchEntries(), std::vector<std::string>{"Settings.xml"});
}

}  // namespace
}  // namespace chm
