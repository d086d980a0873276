#pragma once
#include <cstdint>
#include <mutex>
#include <string>

#include "engine/row_progress.h"
#include "platform/message_port.h"

namespace chm {

// What an output was made with: the folder it went to (as ConversionJob::OutputFolderFor
// spells it) and the conversion method. A row counts as converted only for the same pair.
struct OutputRecipe {
    std::string folder;
    int method = -1;  // none yet
    bool operator==(const OutputRecipe&) const = default;
};

// One row of the file list: the file, where its output went, and the row's progress. The row
// owns it; a conversion run only refers to it, so rows must stay while a run is busy.
class FileListItem {
public:
    // The id comes from a program-wide counter, so ids are never reused while the program
    // runs; the progress tells `list_window` about every change under that id.
    FileListItem(std::string path, WindowHandle list_window);
    FileListItem(const FileListItem&) = delete;
    FileListItem& operator=(const FileListItem&) = delete;

    const std::string& Path() const { return path_; }
    const std::string& Name() const { return name_; }
    const std::string& Location() const { return location_; }
    // The folder the file was found under (added with a folder, or by a search of one); empty
    // for a file added alone. Set before the row is listed, never after.
    const std::string& FoundUnder() const { return found_under_; }
    void SetFoundUnder(std::string folder) { found_under_ = std::move(folder); }

    // Written by the conversion thread while the interface paints the row, hence the lock:
    // a string being replaced must never be read half-way.
    std::string OutputPath() const;
    void SetOutputPath(std::string output_path);
    // The output path with what it is made with; read only by the conversion thread.
    void SetOutput(std::string output_path, OutputRecipe recipe);
    const OutputRecipe& Recipe() const { return recipe_; }

    RowProgress& Progress() { return progress_; }
    const RowProgress& Progress() const { return progress_; }
    uint32_t Id() const { return id_; }

private:
    FileListItem(std::string path, WindowHandle list_window, uint32_t id);

    std::string path_;
    std::string name_;
    std::string location_;
    std::string found_under_;
    std::string output_path_;  // empty until the file is first converted
    OutputRecipe recipe_;      // of output_path_
    RowProgress progress_;
    uint32_t id_;
    mutable std::mutex output_path_lock_;
};

}  // namespace chm
