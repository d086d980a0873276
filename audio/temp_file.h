#pragma once
#include <string>

#include "platform/temp_files.h"

namespace chm {

// The folder where the audio engine keeps its temporary files; empty when there is none.
std::string GetTempDirectory();

// A new, reserved temporary file name, or empty on failure.
// With no extension and no folder: a unique file in the temporary folder named prefix + hex.
// Otherwise: folder/prefix + "%03X" + "." + extension for the first free number; an empty folder
// is the temporary folder (made if missing), an empty extension is "tmp".
std::string MakeTempFileName(const std::string& extension = {}, const std::string& folder = {},
                             const std::string& prefix = {});

// A reserved temporary file name whose file is deleted when this goes, whatever path the work
// took. Nothing is reserved until Reserve succeeds.
class TemporaryFile {
public:
    TemporaryFile() = default;
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // A name from MakeTempFileName(extension); false when none could be reserved.
    bool Reserve(const std::string& extension = {});
    bool IsReserved() const { return !name_.Path().empty(); }
    const std::string& Path() const { return name_.Path(); }

private:
    // A step that fails deletes its partial file itself, and the freed name may then go to a
    // file converted at the same time: only our own file is deleted here.
    PinnedName name_;
};

// Creates the file if missing and sets its access and write times to now.
bool TouchFile(const std::string& path);

}  // namespace chm
