// Gives each test program a private temporary folder and fails the program when the engine
// leaves anything in it: no test may leave a temporary file behind.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/support/test_files.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    std::string folder = "/tmp/chm-tmp-XXXXXX";
    if (!::mkdtemp(folder.data())) {
        std::perror("mkdtemp");
        return 2;
    }
    ::setenv("TMPDIR", folder.c_str(), 1);
    int result = RUN_ALL_TESTS();
    const auto left = chm::test::TempEntries();
    for (const auto& name : left) std::fprintf(stderr, "temporary file left behind: %s\n", name.c_str());
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    if (!left.empty() && result == 0) result = 1;
    return result;
}
