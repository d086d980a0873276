#pragma once
#include <sys/types.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "engine/worker_thread.h"
#include "platform/message_port.h"

namespace chm {

// wParam values of FilterNotify; lParam is the number of paths accepted so far.
constexpr uintptr_t kFilterProgress = 0;
constexpr uintptr_t kFilterFinished = 1;

// The background half of every add: walks the chosen or dropped paths, descending into
// folders at any depth, and keeps the supported files that the list does not hold yet.
// Reports to its target window (the filter dialog) only by posting FilterNotify.
class FileFilterWorker : public WorkerThread {
public:
    // `keys` is a copy of the list's key set taken when the filter starts: the list may not
    // change under a thread that reads it.
    FileFilterWorker(WindowHandle target_window, std::vector<std::string> input, std::set<std::string> keys);
    ~FileFilterWorker() override;

    // The accepted files in walk order; complete once the thread has ended.
    const std::vector<std::string>& Output() const { return output_; }
    std::vector<std::string> TakeOutput() { return std::move(output_); }

protected:
    bool Run() override;
    void OnEnd(bool result) override;

private:
    // A folder by its identity on disk, so that a link back into a folder being walked is seen
    // as that folder whatever its path says.
    struct FolderId {
        dev_t device;
        ino_t inode;
        bool operator==(const FolderId&) const = default;
    };

    void Process(const std::string& path);
    void ProcessFolder(const std::string& path, FolderId id);
    void PostProgress() const;

    WindowHandle target_window_;
    std::vector<std::string> input_;
    std::set<std::string> keys_;
    std::vector<std::string> output_;
    std::vector<FolderId> open_folders_;  // the folders the walk is inside, outermost first
};

}  // namespace chm
