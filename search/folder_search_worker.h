#pragma once
#include <sys/types.h>

#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/worker_thread.h"
#include "platform/message_port.h"
#include "search/search_stopwatch.h"

namespace chm {

// wParam values of SearchNotify (kSearchNotify) posted by the search to its target window.
// Exactly one of kSearchAborted and kSearchCompleted is the last message of every run.
constexpr uintptr_t kSearchFilterBegin = 0;     // lParam 0
constexpr uintptr_t kSearchFilterProgress = 1;  // lParam: files collected so far (at most every 200 ms)
constexpr uintptr_t kSearchFilterEnd = 2;       // lParam: files collected
constexpr uintptr_t kSearchAnalyzeBegin = 3;    // lParam: files collected (the progress range)
constexpr uintptr_t kSearchAnalyzeFile = 4;     // the current file is set; lParam 0
constexpr uintptr_t kSearchRecommended = 5;     // one more path in the pending results; lParam 0
constexpr uintptr_t kSearchAnalyzeEnd = 6;      // lParam 0
constexpr uintptr_t kSearchAborted = 7;         // aborted, or the folder was not usable; lParam 0
constexpr uintptr_t kSearchCompleted = 8;       // both phases completed; lParam 0

// Phase-1 progress is posted at most once per this many milliseconds.
constexpr uint32_t kSearchProgressInterval = 200;

// Finds below one folder the supported audio files that are not mono: phase 1 collects every
// file of a supported type, phase 2 reads each one's channel count and recommends it unless it
// is exactly one. Owned by the search page; made once and reused for later searches. All
// operations but the run are called on the interface thread.
class FolderSearchWorker : public WorkerThread {
public:
    explicit FolderSearchWorker(WindowHandle target_window);
    // Aborts a running search (waking it if paused) and waits for its thread.
    ~FolderSearchWorker() override;

    // Before Start, never while a run is active. The folder is kept as given.
    void SetJob(const std::string& folder, bool recurse);
    // Swaps the pending results into `out`; true when at least one path came. Paths already in
    // `out` stay in front of them.
    bool TakeResults(std::vector<std::string>& out);
    // A copy of the path that phase 2 is analysing, or empty.
    std::string CurrentFile() const;

protected:
    bool Run() override;
    void OnEnd(bool result) override;

private:
    // The walk of one folder and its sub-folders: completed (true) or aborted (false).
    bool Walk(const std::string& folder, bool is_search_folder);
    // Phase 2: completed (true) or aborted (false).
    bool Analyze();
    void Notify(uintptr_t code, intptr_t count = 0) const;
    // Steps 4 and 5 of the walk over one folder that is ready to be read.
    void EnumerateFolder(const std::string& directory, std::vector<std::string>& sub_folders);
    void Collect(std::string path);
    void SetCurrentFile(const std::string& path);

    WindowHandle target_window_;
    std::string search_folder_;
    bool recurse_ = false;
    std::vector<std::string> found_;
    SearchStopwatch stopwatch_;
    std::string current_file_;                 // guarded by results_lock_
    std::vector<std::string> pending_results_;  // guarded by results_lock_
    mutable std::mutex results_lock_;
    // Folders already walked in this run, by device and inode: a link back into the tree is
    // never followed twice, so a loop of links ends and no file is collected twice.
    std::set<std::pair<dev_t, ino_t>> walked_;
};

}  // namespace chm
