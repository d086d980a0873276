#pragma once
#include <string>

namespace chm {

// The small path rules the whole program shares. Paths are UTF-8 with "/" as the separator;
// every function is lexical except where it says it looks at the disk.

// The text after the last "/", or the whole path when there is none.
std::string PathFileName(const std::string& path);
// The folder part: no trailing "/" except for the root "/"; "." when the path has no folder.
std::string PathFolder(const std::string& path, bool make_absolute);
// The file name without its last extension.
std::string PathBaseName(const std::string& path);
// The file name's text after its last ".", without the dot, case kept; empty if it has none.
std::string PathExtension(const std::string& path);
// Gives an existing folder a trailing "/" (the only disk access), collapses doubled "/" and
// resolves "." and ".." by text alone: symbolic links are never followed.
std::string NormalizePath(const std::string& path);
// Joins a relative path to the current directory and normalises it; absolute paths pass.
std::string MakeAbsolutePath(const std::string& path);

}  // namespace chm
