#pragma once
#include <sys/types.h>

#include <functional>
#include <string>

#include "platform/temp_files.h"
#include "platform/unique_fd.h"

namespace chm {

// A new file without a name in `folder` (O_TMPFILE), open for reading and writing: it vanishes
// with its last descriptor, so neither a failure nor the end of the process, killed or not,
// leaves it behind. Invalid where the folder's file system cannot hold such a file.
UniqueFd OpenUnnamedFile(const std::string& folder, mode_t mode);
// The name through which anything in this process opens an open file, named or not, as it would
// open any other path: /proc/self/fd/N.
std::string DescriptorPath(int fd);
// Tests turn unnamed files off to reach the named files that file systems without them get.
void AllowUnnamedFiles(bool allowed);

// A file that gets its name only when it is complete: an output is written into it through
// Path(), and Publish gives it its name in one step that never replaces anything. Until then it
// has no name where the file system allows; elsewhere a name from `fallback_name` (made and
// reserved by the caller's naming rule) that goes with this object.
class UnnamedFile {
public:
    UnnamedFile() = default;
    ~UnnamedFile();
    UnnamedFile(const UnnamedFile&) = delete;
    UnnamedFile& operator=(const UnnamedFile&) = delete;

    // `fallback_name` returns the path of an empty file it reserved in `folder`, or empty.
    bool Create(const std::string& folder, const std::function<std::string()>& fallback_name);
    bool IsCreated() const { return !path_.empty(); }
    bool HasName() const { return named_; }
    const std::string& Path() const { return path_; }
    // Gives the file the name `target` in the same folder: kReserved when it has it now, kTaken
    // when something came to have that name meanwhile (the file stays unnamed, for another try),
    // kRefused when the system refused. The object lets go of the file once it is published.
    Reservation Publish(const std::string& target);
    // Drops the file: without a name it is gone; a named one is removed.
    void Discard();

private:
    UniqueFd fd_;
    std::string path_;
    std::string folder_;
    bool named_ = false;
    // A named file is removed only while the name is still its own: a writer that failed may
    // have removed it already, and the name gone to a file converted at the same time.
    PinnedName pin_;
};

// For writers that replace a file by a new version (tags): the folder that an unnamed file's
// Path() lies in, empty for any other path; and putting the new version, open as `fd`, in the
// unnamed file's place, so that the same Path() names it from then on.
std::string UnnamedFileFolder(const std::string& path);
bool ReplaceUnnamedFile(const std::string& path, int fd);

}  // namespace chm
