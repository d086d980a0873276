#pragma once
#include <string>

namespace chm {

// Anything at all under that name: a file, a folder, a pipe, a dangling link.
bool PathExists(const std::string& path);
bool IsDirectory(const std::string& path);
bool IsRegularFile(const std::string& path);
// Creates the folder and its missing parents; true when the folder exists afterwards.
bool CreateDirectories(const std::string& path);
// Removes a file; true when nothing is left under the name.
bool RemoveFile(const std::string& path);
std::string CurrentDirectory();

}  // namespace chm
