#pragma once
#include <string>

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

}  // namespace chm
