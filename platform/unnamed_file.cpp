#include "platform/unnamed_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <map>
#include <mutex>


namespace chm {
namespace {

std::atomic<bool> g_unnamed_allowed{true};

// The unnamed files of this process by their Path(): their folder and descriptor.
struct UnnamedEntry {
    std::string folder;
    int fd;
};

std::mutex& RegistryLock() {
    static std::mutex lock;
    return lock;
}

std::map<std::string, UnnamedEntry>& Registry() {
    static std::map<std::string, UnnamedEntry> registry;
    return registry;
}

void Register(const std::string& path, const std::string& folder, int fd) {
    std::lock_guard lock(RegistryLock());
    Registry()[path] = UnnamedEntry{folder, fd};
}

void Unregister(const std::string& path) {
    std::lock_guard lock(RegistryLock());
    Registry().erase(path);
}

}  // namespace

UniqueFd OpenUnnamedFile(const std::string& folder, mode_t mode) {
    if (folder.empty() || !g_unnamed_allowed.load()) return UniqueFd();
    return UniqueFd(::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode));
}

std::string DescriptorPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

void AllowUnnamedFiles(bool allowed) { g_unnamed_allowed = allowed; }

UnnamedFile::~UnnamedFile() { Discard(); }

bool UnnamedFile::Create(const std::string& folder, const std::function<std::string()>& fallback_name) {
    if (IsCreated() || folder.empty()) return false;
    // The mode of any new file: the umask applies.
    fd_ = OpenUnnamedFile(folder, 0666);
    // /proc is how the file is opened and named later; without it the file must have a name.
    if (fd_.IsValid() && ::access(DescriptorPath(fd_.Get()).c_str(), F_OK) == 0) {
        path_ = DescriptorPath(fd_.Get());
        folder_ = folder;
        named_ = false;
        Register(path_, folder_, fd_.Get());
        return true;
    }
    fd_.Reset();
    path_ = fallback_name ? fallback_name() : std::string();
    named_ = !path_.empty();
    folder_ = named_ ? folder : std::string();
    if (named_) pin_ = PinnedName(path_);
    return named_;
}

Reservation UnnamedFile::Publish(const std::string& target) {
    if (!IsCreated() || target.empty()) return Reservation::kRefused;
    if (named_) {
        // Never over a file that appeared meanwhile.
        if (::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
            if (errno == EEXIST) return Reservation::kTaken;
            if (errno != EINVAL && errno != ENOSYS) return Reservation::kRefused;
            // A file system without that kind of rename: a link, which never replaces either.
            if (::link(path_.c_str(), target.c_str()) != 0)
                return errno == EEXIST ? Reservation::kTaken : Reservation::kRefused;
            ::unlink(path_.c_str());
        }
        pin_.Release();
        path_.clear();
        named_ = false;
        return Reservation::kReserved;
    }
    if (::linkat(AT_FDCWD, path_.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) != 0)
        return errno == EEXIST ? Reservation::kTaken : Reservation::kRefused;
    Unregister(path_);
    path_.clear();
    fd_.Reset();
    return Reservation::kReserved;
}

void UnnamedFile::Discard() {
    if (!IsCreated()) return;
    if (named_) {
        pin_.RemoveIfOurs();
    } else {
        Unregister(path_);
        fd_.Reset();
    }
    path_.clear();
    named_ = false;
}

std::string UnnamedFileFolder(const std::string& path) {
    std::lock_guard lock(RegistryLock());
    const auto it = Registry().find(path);
    return it == Registry().end() ? std::string() : it->second.folder;
}

bool ReplaceUnnamedFile(const std::string& path, int fd) {
    std::lock_guard lock(RegistryLock());
    const auto it = Registry().find(path);
    if (it == Registry().end() || fd < 0) return false;
    // The descriptor behind the path now refers to the new file; the old one goes with its
    // last descriptor.
    return ::dup3(fd, it->second.fd, O_CLOEXEC) == it->second.fd;
}

}  // namespace chm
