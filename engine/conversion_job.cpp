#include "engine/conversion_job.h"

#include "engine/output_tree.h"
#include "engine/paths.h"
#include "platform/file_system.h"
#include "platform/temp_files.h"

namespace chm {

void ConversionJob::Fill(std::span<FileListItem* const> items, std::string output_folder, int conversion_method,
                         bool keep_dates, bool keep_tree) {
    std::lock_guard lock(lock_);
    keep_dates_ = keep_dates;
    keep_tree_ = keep_tree;
    ClearItems();
    for (FileListItem* item : items) AddItem(*item);
    SetOutputFolder(std::move(output_folder));
    SetConversionMethod(conversion_method);
}

std::string ConversionJob::FolderFor(const std::string& input, const std::string& found_under) const {
    if (output_folder_.empty()) return PathFolder(input, true);
    std::string relative;
    if (keep_tree_ && TreePathOf(input, found_under, relative) && !relative.empty())
        return MakeAbsolutePath(output_folder_) + "/" + relative;
    return output_folder_;
}

bool ConversionJob::MakeTreeFor(const std::string& input, const std::string& found_under) const {
    std::string relative;
    if (output_folder_.empty() || !keep_tree_ || !TreePathOf(input, found_under, relative)) return true;
    return MakeTreeFolders(MakeAbsolutePath(output_folder_), relative, found_under);
}

std::string ConversionJob::OutputFolderFor(const std::string& input, const std::string& found_under) const {
    std::string folder = MakeAbsolutePath(FolderFor(input, found_under));
    folder = NormalizePath(folder);
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

std::string ConversionJob::MakeOutputPath(const std::string& input, const std::string& found_under) const {
    // 1. The parts of the name. A name without extension gets no bare dot: on this platform
    //    "song (1)." would be a different name from "song (1)".
    const std::string name = PathFileName(input);
    const std::string base = PathBaseName(input);
    const std::string extension = PathExtension(input);
    const std::string dotted_extension = extension.empty() ? std::string() : "." + extension;
    // 2. The folder.
    const std::string folder = FolderFor(input, found_under);
    // 3. The first candidate at which nothing exists (a file, a folder, anything), held for
    //    this process in the same step as it is found; nothing is made under it until the
    //    output is complete.
    for (unsigned long long n = 0;; ++n) {
        const std::string file = n == 0 ? name : base + " (" + std::to_string(n) + ")" + dotted_extension;
        const std::string candidate = NormalizePath(folder + "/" + file);
        const Reservation reservation = ClaimName(candidate);
        // A folder's name is refused rather than found taken, by the separator normalising
        // gives it.
        if (reservation == Reservation::kReserved || (reservation == Reservation::kRefused && !PathExists(candidate)))
            return candidate;
    }
}

}  // namespace chm
