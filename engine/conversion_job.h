#pragma once
#include <string>

namespace chm {

// One conversion run: where its outputs go and how each is named.
class ConversionJob {
public:
    // Empty means each output goes beside its own input; otherwise an existing folder.
    void SetOutputFolder(std::string folder) { output_folder_ = std::move(folder); }
    const std::string& OutputFolder() const { return output_folder_; }

    // The first name in the output folder at which nothing exists yet: the input's own file
    // name, then "name (1).ext", "name (2).ext", ... Called right before each file is
    // written, so outputs made earlier in the run are already seen as taken.
    std::string MakeOutputPath(const std::string& input) const;

private:
    std::string output_folder_;
};

}  // namespace chm
