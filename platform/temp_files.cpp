#include "platform/temp_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <mutex>
#include <set>
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

namespace {

std::mutex& ClaimsLock() {
    static std::mutex lock;
    return lock;
}

std::set<std::string>& Claims() {
    static std::set<std::string> claims;
    return claims;
}

}  // namespace

Reservation ClaimName(const std::string& path) {
    if (path.empty()) return Reservation::kRefused;
    std::lock_guard lock(ClaimsLock());
    struct stat st;
    // Anything under the name (a file, a folder, a dangling link) takes it.
    if (::lstat(path.c_str(), &st) == 0) return Reservation::kTaken;
    if (errno != ENOENT) return Reservation::kRefused;
    // A name into a folder that does not exist cannot be made; the writer fails on it.
    const size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !IsDirectory(path.substr(0, slash))) return Reservation::kRefused;
    return Claims().insert(path).second ? Reservation::kReserved : Reservation::kTaken;
}

void ReleaseClaim(const std::string& path) {
    std::lock_guard lock(ClaimsLock());
    Claims().erase(path);
}

// O_PATH: pinning needs no permission to read the file, only to reach it.
PinnedName::PinnedName(const std::string& path)
    : path_(path), pin_(path.empty() ? -1 : ::open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC)) {}

bool PinnedName::IsOurs() const {
    if (!pin_.IsValid()) return false;
    struct stat pinned;
    struct stat named;
    return ::fstat(pin_.Get(), &pinned) == 0 && ::lstat(path_.c_str(), &named) == 0 &&
           pinned.st_dev == named.st_dev && pinned.st_ino == named.st_ino;
}

void PinnedName::RemoveIfOurs() {
    if (!path_.empty() && (pin_.IsValid() ? IsOurs() : PathExists(path_))) RemoveFile(path_);
    Release();
}

void PinnedName::Release() {
    path_.clear();
    pin_.Reset();
}

}  // namespace chm
