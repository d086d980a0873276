#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace chm::test {

// A folder of its own for one test's files, outside the engine's temporary folder, removed
// with everything in it when the object goes.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Names in the engine's temporary folder (the private one each test program gets), and the
// files without a name there that this process holds, each by its descriptor number.
std::vector<std::string> TempEntries();
// True when the process `pid` holds open a file of its own in `folder` ("~Ve" or without a name;
// not what a sanitizer's runtime keeps there): a converter's sample stores show that it has begun
// reading.
bool HoldsFileIn(int pid, const std::string& folder);
// How many files in `folder` the process `pid` holds open: a converter's outputs while they are
// written, which get their names only when complete.
int FilesHeldIn(int pid, const std::string& folder);

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteTextFile(const std::string& path, const std::string& text);
std::string ReadTextFile(const std::string& path);
int64_t FileSizeOf(const std::string& path);

}  // namespace chm::test
