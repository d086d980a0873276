#pragma once
#include <string>

namespace chm {

// The user's temporary folder (TMPDIR, else /tmp), without a trailing separator; empty if unusable.
std::string TempDirectoryPath();
// Creates an empty file under a name nobody holds (O_CREAT | O_EXCL): two runs can never take
// the same name. False when the name is taken or cannot be created.
bool ReserveNewFile(const std::string& path);

}  // namespace chm
