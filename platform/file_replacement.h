#pragma once
#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "platform/unique_fd.h"

namespace chm {

// Replaces a file by a new version made beside it, so that the file is wholly the old one or
// wholly the new one whatever happens while the new one is made. Where the file system allows,
// the new version has no name until the moment it takes the old one's place, so neither a
// failure nor the end of the process half-way leaves anything behind; elsewhere a named file
// beside the old one is removed on failure.
class FileReplacement {
public:
    FileReplacement() = default;
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    // Opens the file that a link names for reading. Fails for a missing file, anything but a
    // regular file, and a file that may not be written: the permission bits are honoured even
    // where the process could override them (the superuser), so a read-only file stays as it is.
    bool Open(const std::string& path);
    int OriginalFd() const { return original_.Get(); }
    int64_t OriginalSize() const { return status_.st_size; }

    // An empty file for the new version, in the old one's folder so that taking its place is
    // one rename; -1 on failure.
    int CreateNew();
    // Gives the new version the old one's permissions and, where allowed, owner, makes it
    // durable and puts it in the old one's place.
    bool Commit();

private:
    bool NameNewFile(std::string& name);

    std::string target_;
    struct stat status_ {};
    UniqueFd original_;
    UniqueFd new_file_;
    // The name the new version has while it is not yet in place; removed unless committed.
    std::string new_name_;
    // The folder of a file that has no name yet (see UnnamedFile), else empty.
    std::string unnamed_folder_;
};

}  // namespace chm
