#include "tests/support/test_files.h"

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "platform/temp_files.h"

namespace chm::test {

ScratchDir::ScratchDir() {
    const char* base = std::getenv("CHM_TEST_SCRATCH");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/chm-scratch-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a scratch folder");
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    // Tests take permissions away to make unreadable files; give them back to remove them.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(path_, ec);
}

std::vector<std::string> TempEntries() {
    std::vector<std::string> names;
    std::error_code ec;
    const std::string folder = TempDirectoryPath();
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
        names.push_back(entry.path().filename().string());
    // Files without a name in the temporary folder that this process holds open, by their
    // descriptor: the last part of the path ("/proc/self/fd/N") that they are opened by.
    const std::string deleted = " (deleted)";
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
        std::error_code link_error;
        const std::string target = std::filesystem::read_symlink(entry.path(), link_error).string();
        if (!link_error && target.starts_with(folder + "/") && target.ends_with(deleted))
            names.push_back(entry.path().filename().string());
    }
    return names;
}

int FilesHeldIn(int pid, const std::string& folder) {
    std::error_code ec;
    const std::string prefix = std::filesystem::weakly_canonical(folder, ec).string() + "/";
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        std::error_code link_error;
        const std::string target = std::filesystem::read_symlink(entry.path(), link_error).string();
        // The program's own: "~Ve" stores and files without a name ("#inode (deleted)"), not
        // what a sanitizer's runtime keeps there ("tsan.rodata.PID").
        const std::string name = target.starts_with(prefix) ? target.substr(prefix.size()) : std::string();
        if (!link_error && (name.starts_with("~Ve") || name.starts_with("#"))) ++count;
    }
    return count;
}

bool HoldsFileIn(int pid, const std::string& folder) { return FilesHeldIn(pid, folder) > 0; }

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteTextFile(const std::string& path, const std::string& text) {
    WriteFileBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::string ReadTextFile(const std::string& path) {
    auto bytes = ReadFileBytes(path);
    return {bytes.begin(), bytes.end()};
}

int64_t FileSizeOf(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

}  // namespace chm::test
