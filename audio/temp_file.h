#pragma once
#include <string>

#include "platform/temp_files.h"
#include "platform/unnamed_file.h"

namespace chm {

// The folder where the audio engine keeps its temporary files; empty when there is none.
std::string GetTempDirectory();

// A new, reserved temporary file name, or empty on failure.
// With no extension and no folder: a unique file in the temporary folder named prefix + hex.
// Otherwise: folder/prefix + "%03X" + "." + extension for the first free number; an empty folder
// is the temporary folder (made if missing), an empty extension is "tmp".
std::string MakeTempFileName(const std::string& extension = {}, const std::string& folder = {},
                             const std::string& prefix = {});

// A temporary file that is gone when this goes, whatever path the work took, and even when the
// process is killed: it has no name (it is opened through Path(), as any file is), except where
// the temporary folder cannot hold such a file, where it has a name from MakeTempFileName that
// goes with this. Nothing is made until Reserve succeeds.
class TemporaryFile {
public:
    TemporaryFile() = default;
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // False when no file could be made. The extension is that of a name, where one is needed.
    bool Reserve(const std::string& extension = {});
    bool IsReserved() const { return file_.IsCreated(); }
    const std::string& Path() const { return file_.Path(); }

private:
    UnnamedFile file_;
};

// Creates the file if missing and sets its access and write times to now.
bool TouchFile(const std::string& path);

}  // namespace chm
