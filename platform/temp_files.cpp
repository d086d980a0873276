#include "platform/temp_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
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

Reservation ReserveName(const std::string& path) {
    if (path.empty()) return Reservation::kRefused;
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (fd.IsValid()) return Reservation::kReserved;
    return errno == EEXIST ? Reservation::kTaken : Reservation::kRefused;
}

bool ReserveNewFile(const std::string& path) { return ReserveName(path) == Reservation::kReserved; }

}  // namespace chm
