#include "audio/temp_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

#include "platform/file_system.h"
#include "platform/temp_files.h"
#include "platform/unique_fd.h"

namespace chm {
namespace {

constexpr const char* kDefaultPrefix = "~Ve";

// A unique file directly in the temporary folder: prefix + four hex digits + ".tmp". The
// starting number is spread by process and time so that parallel runs rarely collide; the
// reservation itself is what makes the name unique.
std::string MakeUniqueTempFile(const std::string& prefix) {
    const std::string folder = GetTempDirectory();
    if (folder.empty()) return {};
    static std::atomic<uint32_t> counter{static_cast<uint32_t>(::getpid()) * 2654435761u};
    for (int attempt = 0; attempt < 0x10000; ++attempt) {
        const uint32_t number = (counter.fetch_add(1) & 0xFFFF);
        if (number == 0) continue;
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%04X.tmp", number);
        std::string path = folder + "/" + prefix + suffix;
        if (ReserveNewFile(path)) return path;
        if (errno != EEXIST) return {};
    }
    return {};
}

bool PrepareFolder(const std::string& folder) {
    if (IsDirectory(folder)) return true;
    if (PathExists(folder)) return false;  // a file of that name
    return CreateDirectories(folder);
}

}  // namespace

std::string GetTempDirectory() { return TempDirectoryPath(); }

std::string MakeTempFileName(const std::string& extension, const std::string& folder, const std::string& prefix) {
    const std::string name_prefix = prefix.empty() ? kDefaultPrefix : prefix;
    if (extension.empty() && folder.empty()) return MakeUniqueTempFile(name_prefix);

    const std::string target = folder.empty() ? GetTempDirectory() : folder;
    if (target.empty() || !PrepareFolder(target)) return {};
    const std::string dotted = "." + (extension.empty() ? std::string("tmp") : extension);
    const std::string base = target.back() == '/' ? target : target + "/";
    for (uint32_t n = 1; n != 0; ++n) {
        char number[16];
        std::snprintf(number, sizeof number, "%03X", n);
        const std::string candidate = base + name_prefix + number + dotted;
        if (PathExists(candidate)) continue;
        // Between the test and the reservation another run may take the name: go on counting.
        if (ReserveNewFile(candidate)) return TouchFile(candidate) ? candidate : std::string();
        if (errno != EEXIST) return {};
    }
    return {};
}

bool TouchFile(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    if (!fd.IsValid()) return false;
    return ::futimens(fd.Get(), nullptr) == 0;  // both times become now
}

bool TemporaryFile::Reserve(const std::string& extension) {
    if (IsReserved()) return true;
    return file_.Create(GetTempDirectory(), [&extension] { return MakeTempFileName(extension); });
}

}  // namespace chm
