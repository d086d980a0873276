#include "platform/file_replacement.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "platform/unnamed_file.h"

namespace chm {

namespace {

std::string FolderOf(const std::string& path) { return path.substr(0, path.find_last_of('/') + 1); }

// Six letters or digits that nobody can guess, for a name that must not be taken already.
std::string RandomSuffix() {
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char bytes[6] = {};
    if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) return {};
    std::string suffix;
    for (unsigned char byte : bytes) suffix += kLetters[byte % (sizeof kLetters - 1)];
    return suffix;
}

}  // namespace

FileReplacement::~FileReplacement() {
    if (!new_name_.empty()) ::unlink(new_name_.c_str());
}

bool FileReplacement::Open(const std::string& path) {
    if (path.empty() || original_.IsValid()) return false;
    // An output still without a name is this process's own: its new version replaces it where
    // it is, without a name either.
    unnamed_folder_ = UnnamedFileFolder(path);
    if (!unnamed_folder_.empty()) {
        target_ = path;
        original_.Reset(::open(target_.c_str(), O_RDONLY | O_CLOEXEC));
        if (original_.IsValid() && ::fstat(original_.Get(), &status_) == 0 && S_ISREG(status_.st_mode)) return true;
        original_.Reset();
        return false;
    }
    std::unique_ptr<char, decltype(&::free)> real(::realpath(path.c_str(), nullptr), &::free);
    if (!real) return false;
    target_ = real.get();
    // O_NONBLOCK: a pipe under the name is refused below instead of blocking the open.
    original_.Reset(::open(target_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!original_.IsValid() || ::fstat(original_.Get(), &status_) != 0 || !S_ISREG(status_.st_mode) ||
        (status_.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(target_.c_str(), W_OK) != 0) {
        original_.Reset();
        return false;
    }
    return true;
}

int FileReplacement::CreateNew() {
    if (!original_.IsValid() || new_file_.IsValid()) return -1;
    if (!unnamed_folder_.empty()) {
        // Its own folder, so that it can be given the output's name later; unnamed like it.
        new_file_ = OpenUnnamedFile(unnamed_folder_, 0600);
        return new_file_.Get();
    }
    const std::string folder = FolderOf(target_);
    new_file_.Reset(::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (!new_file_.IsValid()) {
        std::string pattern = folder + "~VeXXXXXX";
        new_file_.Reset(::mkostemp(pattern.data(), O_CLOEXEC));
        if (new_file_.IsValid()) new_name_ = pattern;
    }
    return new_file_.Get();
}

bool FileReplacement::Commit() {
    if (!new_file_.IsValid()) return false;
    const int fd = new_file_.Get();
    if (::fchmod(fd, status_.st_mode & 07777) != 0) return false;
    if (::fchown(fd, status_.st_uid, status_.st_gid) != 0) {
        // Only a privileged process may give a file away; the file stays the writer's own.
    }
    if (!unnamed_folder_.empty()) {
        if (!ReplaceUnnamedFile(target_, fd)) return false;
        new_file_.Reset();
        return true;
    }
    if (::fsync(fd) != 0) return false;
    // The new version gets a name only now, for the rename: the one moment it can be left over.
    if (new_name_.empty() && !NameNewFile(new_name_)) return false;
    if (::rename(new_name_.c_str(), target_.c_str()) != 0) return false;
    new_name_.clear();
    new_file_.Reset();
    UniqueFd directory(::open(FolderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.IsValid()) ::fsync(directory.Get());  // so that the rename lasts as well
    return true;
}

bool FileReplacement::NameNewFile(std::string& name) {
    const std::string self = "/proc/self/fd/" + std::to_string(new_file_.Get());
    const std::string folder = FolderOf(target_);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string suffix = RandomSuffix();
        if (suffix.empty()) return false;
        const std::string candidate = folder + "~Ve" + suffix;
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            name = candidate;
            return true;
        }
        if (errno != EEXIST) return false;
    }
    return false;
}

}  // namespace chm
