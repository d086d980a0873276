#include "platform/temp_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "platform/file_system.h"
#include "platform/unique_fd.h"

namespace chm {

std::string TempDirectoryPath() {
    std::error_code ec;
    std::string folder = std::filesystem::temp_directory_path(ec).string();
    if (ec || folder.empty()) return {};
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return IsDirectory(folder) ? folder : std::string();
}

bool ReserveNewFile(const std::string& path) {
    if (path.empty()) return false;
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    return fd.IsValid();
}

}  // namespace chm
