// The main of the interface tests: a QApplication on the offscreen platform, and, as for every
// test program, a private temporary folder that must be empty when the tests end.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "tests/support/test_files.h"

namespace {

// A private folder for what Qt keeps per user (the file dialog's state, a runtime folder), so
// that the tests neither read nor write the real user's files. Removed at the end.
std::string MakePrivateFolder(const char* pattern) {
    std::string folder = pattern;
    if (!::mkdtemp(folder.data())) return {};
    return folder;
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Discovery at build time runs this program too; it must never need a display.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const std::string temp = MakePrivateFolder("/tmp/chm-tmp-XXXXXX");
    const std::string user = MakePrivateFolder("/tmp/chm-uiuser-XXXXXX");
    if (temp.empty() || user.empty()) {
        std::perror("mkdtemp");
        return 2;
    }
    ::setenv("TMPDIR", temp.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (user + "/config").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (user + "/cache").c_str(), 1);
    std::filesystem::create_directories(user + "/runtime");
    std::filesystem::permissions(user + "/runtime", std::filesystem::perms::owner_all);
    ::setenv("XDG_RUNTIME_DIR", (user + "/runtime").c_str(), 1);

    int result = 0;
    {
        auto app = std::make_unique<QApplication>(argc, argv);
        result = RUN_ALL_TESTS();
    }
    const auto left = chm::test::TempEntries();
    for (const auto& name : left) std::fprintf(stderr, "temporary file left behind: %s\n", name.c_str());
    std::error_code ec;
    std::filesystem::remove_all(temp, ec);
    std::filesystem::remove_all(user, ec);
    if (!left.empty() && result == 0) result = 1;
    return result;
}
