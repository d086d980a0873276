#pragma once
#include <string>
#include <utility>

#include "platform/unique_fd.h"

namespace chm {

// The user's temporary folder (TMPDIR, else /tmp), without a trailing separator; empty if unusable.
std::string TempDirectoryPath();
// What became of an attempt to reserve a name.
enum class Reservation {
    kReserved,  // an empty file now holds the name for its caller
    kTaken,     // something (a file, a folder, a link) already has the name
    kRefused,   // the name cannot be created (no such folder, no permission, too long)
};

// Creates an empty file under a name nobody holds (O_CREAT | O_EXCL), in one step, so two
// threads or programs can never take the same name. This is how names of temporary files and
// of outputs are given out: the holder then opens the reserved file by its name and fills it
// (any open for writing that truncates or creates will do, as the file is empty and its
// own), and removes it when it gives up. A writer never reserves the name a second time (it
// is taken: by its own caller); a file it has filled it may replace in one rename.
Reservation ReserveName(const std::string& path);
// True when the name was reserved.
bool ReserveNewFile(const std::string& path);

// Holds a name for this process without making anything under it: an output's name, chosen
// before the output exists and given to it only when it is complete (UnnamedFile::Publish).
// kReserved when nothing exists under the name and no thread of this process holds it; the
// holder lets it go with ReleaseClaim. Another program may still take the name on disk: the
// publishing step, which never replaces a file, is what settles that.
Reservation ClaimName(const std::string& path);
void ReleaseClaim(const std::string& path);

// A claim let go of when this goes.
class NameClaim {
public:
    NameClaim() = default;
    // Adopts the claim that ClaimName made for `path`.
    explicit NameClaim(std::string path) : path_(std::move(path)) {}
    ~NameClaim() { Release(); }
    NameClaim(NameClaim&& other) noexcept : path_(std::exchange(other.path_, {})) {}
    NameClaim& operator=(NameClaim&& other) noexcept {
        if (this != &other) {
            Release();
            path_ = std::exchange(other.path_, {});
        }
        return *this;
    }
    NameClaim(const NameClaim&) = delete;
    NameClaim& operator=(const NameClaim&) = delete;
    void Release() {
        if (!path_.empty()) ReleaseClaim(path_);
        path_.clear();
    }

private:
    std::string path_;
};

// The file that a reservation made, pinned by a descriptor so that its inode cannot be reused
// while this lives. A writer that gives up deletes its partial file by name; the name is then
// free, and another thread or program may reserve it at once. The holder's own clean-up must not
// delete that newcomer's file: it removes the name only while it still names the pinned file.
class PinnedName {
public:
    PinnedName() = default;
    // Pins what `path` names now, which must be the caller's own reserved file.
    explicit PinnedName(const std::string& path);
    PinnedName(PinnedName&&) noexcept = default;
    PinnedName& operator=(PinnedName&&) noexcept = default;

    const std::string& Path() const { return path_; }
    // The name still refers to the pinned file.
    bool IsOurs() const;
    // Removes the name when it is still ours; a file that could not be pinned (no descriptor
    // left) is removed if it exists. Unpins either way.
    void RemoveIfOurs();
    // Lets the name go without touching it.
    void Release();

private:
    std::string path_;
    UniqueFd pin_;
};

}  // namespace chm
