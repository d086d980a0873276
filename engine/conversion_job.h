#pragma once
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace chm {

class FileListItem;

// One conversion run: the rows it converts, where their outputs go and how each is named.
// The interface thread fills it before a start; the worker holds the lock for its whole loop.
class ConversionJob {
public:
    std::mutex& Lock() { return lock_; }

    // Takes the lock, replaces the items by `items` in the given order and sets the output
    // folder and the conversion method. The items are referenced, not owned: they must
    // outlive the run.
    void Fill(std::span<FileListItem* const> items, std::string output_folder, int conversion_method,
              bool keep_dates = false, bool keep_tree = false);

    // The following are for the holder of the lock.
    void ClearItems() { items_.clear(); }
    void AddItem(FileListItem& item) { items_.push_back(&item); }
    const std::vector<FileListItem*>& Items() const { return items_; }

    // Empty means each output goes beside its own input; otherwise an existing folder.
    void SetOutputFolder(std::string folder) { output_folder_ = std::move(folder); }
    const std::string& OutputFolder() const { return output_folder_; }
    // How stereo becomes mono in this run: a ConversionMethod value, fixed when the run starts.
    void SetConversionMethod(int method) { conversion_method_ = method; }
    int Method() const { return conversion_method_; }
    // Whether each output takes its source's access and modification times.
    void SetKeepDates(bool keep) { keep_dates_ = keep; }
    bool KeepDates() const { return keep_dates_; }

    // Whether, with an output folder, a file found under a folder goes to the same place below
    // the output folder as it had below the folder it was found under.
    void SetKeepTree(bool keep) { keep_tree_ = keep; }
    bool KeepTree() const { return keep_tree_; }

    // The folder that the output of `input` goes to, absolute and spelled one way only ("/out",
    // "/out/" and "/srv/../out" are one folder), so that outputs of two runs can be compared.
    // With the tree kept, `found_under` (the folder the input was found under) places it below
    // the output folder.
    std::string OutputFolderFor(const std::string& input, const std::string& found_under = {}) const;
    // Makes the folders that the output of `input` goes to with the tree kept. False where it
    // cannot go there (a link or a file in the way): it then goes directly into the output
    // folder, as a file added alone does.
    bool MakeTreeFor(const std::string& input, const std::string& found_under) const;

    // The first name in the output folder at which nothing exists yet: the input's own file
    // name, then "name (1).ext", "name (2).ext", ... The name is claimed at once for this
    // process (see ClaimName), so that files converted at the same time can never be given it
    // too; nothing is made under it until the output is complete, and the caller lets the
    // claim go. A name that cannot be created at all (a folder that is gone, a name too long)
    // is returned unclaimed: the writer then fails on it.
    std::string MakeOutputPath(const std::string& input, const std::string& found_under = {}) const;

private:
    std::mutex lock_;
    std::vector<FileListItem*> items_;
    std::string output_folder_;
    int conversion_method_ = 0;
    bool keep_dates_ = false;
    bool keep_tree_ = false;

    // The output's folder as the job's rules give it, before normalising.
    std::string FolderFor(const std::string& input, const std::string& found_under) const;
};

}  // namespace chm
