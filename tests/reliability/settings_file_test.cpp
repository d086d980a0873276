// The settings file is read at every start of the program: whatever sits under its name, the
// load ends, refuses what is no settings file and leaves every field as it was.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/app_settings.h"
#include "tests/support/test_files.h"

namespace chm {
namespace {

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override { AppSettings::Instance().ResetToDefaults(); }
    void TearDown() override { AppSettings::Instance().ResetToDefaults(); }

    // Loads in a child with a time-out, so that a load that blocks fails the test instead of
    // hanging it: 0 refused with the fields untouched, 1 loaded, 2 changed fields although
    // refused, 3 hung.
    static int LoadInChild(const std::string& path) {
        std::fflush(nullptr);
        const pid_t child = ::fork();
        if (child == 0) {
            ::alarm(30);
            AppSettings& settings = AppSettings::Instance();
            settings.conversion_method = 2;
            settings.output_folder = "/kept";
            const bool loaded = settings.Load(path);
            const bool untouched = settings.conversion_method == 2 && settings.output_folder == "/kept";
            ::_exit(loaded ? 1 : untouched ? 0 : 2);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) return 3;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 4;
    }

    test::ScratchDir scratch_;
    std::string path_ = scratch_.File("Settings.xml");
};

TEST_F(SettingsFileTest, NamedPipeUnderTheNameIsRefusedWithoutWaitingForAWriter) {
    ASSERT_EQ(::mkfifo(path_.c_str(), 0600), 0);
    EXPECT_EQ(LoadInChild(path_), 0);
}

TEST_F(SettingsFileTest, FolderUnderTheNameIsRefused) {
    std::filesystem::create_directory(path_);
    EXPECT_EQ(LoadInChild(path_), 0);
}

TEST_F(SettingsFileTest, LinkToAnEndlessDeviceIsRefused) {
    std::filesystem::create_symlink("/dev/zero", path_);
    EXPECT_EQ(LoadInChild(path_), 0);
}

TEST_F(SettingsFileTest, LinkToARegularSettingsFileIsRead) {
    const std::string real = scratch_.File("real.xml");
    test::WriteTextFile(real,
                        "<TavorinCHMSettings version=\"1.0\" xmlns=\"urn:tavorin:channel-merger:settings:1\">"
                        "<Options><General conversion_method=\"1\"/></Options></TavorinCHMSettings>");
    std::filesystem::create_symlink(real, path_);
    EXPECT_EQ(LoadInChild(path_), 1);
    ASSERT_TRUE(AppSettings::Instance().Load(path_));
    EXPECT_EQ(AppSettings::Instance().conversion_method, 1);
}

}  // namespace
}  // namespace chm
