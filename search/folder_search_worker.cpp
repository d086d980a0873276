#include "search/folder_search_worker.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "audio/audio_file_type.h"
#include "platform/file_system.h"
#include "search/channel_count.h"

namespace chm {
namespace {

// The Windows enumeration takes patterns shorter than MAX_PATH (260 UTF-16 units) only; a
// folder whose pattern is longer counts as empty there. The same limit, measured the same way
// (UTF-16 units of "<folder>/*.*"), keeps that effect here: a tree is searched to the same
// depth on both systems, and a hostile tree of deeply nested folders ends the walk early.
constexpr size_t kMaxPatternLength = 260;

// Length of UTF-8 text in UTF-16 units; a byte that starts no valid sequence counts as one.
size_t Utf16Length(const std::string& text) {
    size_t units = 0;
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        size_t length = 1;
        if (lead >= 0xC2 && lead <= 0xDF) length = 2;
        else if (lead >= 0xE0 && lead <= 0xEF) length = 3;
        else if (lead >= 0xF0 && lead <= 0xF4) length = 4;
        bool valid = i + length <= text.size();
        for (size_t k = 1; valid && k < length; ++k)
            valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        if (!valid) length = 1;
        units += length == 4 ? 2 : 1;
        i += length;
    }
    return units;
}

bool EndsWithSlash(const std::string& text) { return !text.empty() && text.back() == '/'; }

// The absolute form of the folder that a "<folder>/*.*" pattern searches, resolved by text as
// GetFullPathNameW does ("." and ".." removed, no links followed), without a trailing "/"
// except for the root. The folder enumerated is this one, so that every full path built from
// it names the entry that was read, even where "link/.." leads elsewhere on disk.
std::string AbsoluteFolder(const std::string& folder) {
    std::filesystem::path path(folder);
    if (path.is_relative()) {
        const std::string current = CurrentDirectory();
        if (!current.empty()) path = std::filesystem::path(current) / path;
    }
    std::string text = path.lexically_normal().string();
    while (text.size() > 1 && EndsWithSlash(text)) text.pop_back();
    return text.empty() ? std::string(".") : text;
}

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

enum class EntryKind { Folder, File, Other };

// What an entry is once links are followed. Only regular files count as files: pipes,
// sockets and devices are no audio files (and opening a pipe could block), and a dangling
// link names nothing.
EntryKind KindOf(int dir_fd, const dirent& entry) {
    if (entry.d_type == DT_DIR) return EntryKind::Folder;
    if (entry.d_type == DT_REG) return EntryKind::File;
    if (entry.d_type != DT_LNK && entry.d_type != DT_UNKNOWN) return EntryKind::Other;
    struct stat st;
    if (::fstatat(dir_fd, entry.d_name, &st, 0) != 0) return EntryKind::Other;
    if (S_ISDIR(st.st_mode)) return EntryKind::Folder;
    return S_ISREG(st.st_mode) ? EntryKind::File : EntryKind::Other;
}

bool IsDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

}  // namespace

FolderSearchWorker::FolderSearchWorker(WindowHandle target_window) : target_window_(std::move(target_window)) {}

FolderSearchWorker::~FolderSearchWorker() {
    // A paused search would never see the abort flag: Abort wakes it first.
    Abort();
    StopBeforeDestruction();
}

void FolderSearchWorker::SetJob(const std::string& folder, bool recurse) {
    search_folder_ = folder;
    recurse_ = recurse;
    std::lock_guard lock(results_lock_);
    current_file_.clear();
    pending_results_.clear();
}

bool FolderSearchWorker::TakeResults(std::vector<std::string>& out) {
    std::vector<std::string> taken;
    {
        std::lock_guard lock(results_lock_);
        taken.swap(pending_results_);
    }
    if (taken.empty()) return false;
    if (out.empty())
        out.swap(taken);
    else
        out.insert(out.end(), std::make_move_iterator(taken.begin()), std::make_move_iterator(taken.end()));
    return true;
}

std::string FolderSearchWorker::CurrentFile() const {
    std::lock_guard lock(results_lock_);
    return current_file_;
}

void FolderSearchWorker::SetCurrentFile(const std::string& path) {
    std::lock_guard lock(results_lock_);
    current_file_ = path;
}

void FolderSearchWorker::Notify(uintptr_t code, intptr_t count) const {
    target_window_.Post(kSearchNotify, code, count);
}

bool FolderSearchWorker::Run() {
    // 1.
    if (!target_window_.IsAlive() || !IsDirectory(search_folder_)) return false;
    // 2. This platform's readers need no per-thread initialisation (no COM apartment).
    found_.clear();
    walked_.clear();
    // 3.
    stopwatch_.Restart();
    Notify(kSearchFilterBegin);
    const bool filtered = Walk(search_folder_, true);
    if (filtered) Notify(kSearchFilterEnd, static_cast<intptr_t>(found_.size()));
    stopwatch_.Stop();
    // 4.
    bool analyzed = false;
    if (filtered) {
        Notify(kSearchAnalyzeBegin, static_cast<intptr_t>(found_.size()));
        analyzed = Analyze();
        if (analyzed) Notify(kSearchAnalyzeEnd);
    }
    // 5.
    return filtered && analyzed;
}

void FolderSearchWorker::OnEnd(bool result) { Notify(result ? kSearchCompleted : kSearchAborted); }

bool FolderSearchWorker::Walk(const std::string& folder, bool is_search_folder) {
    // 1. A sub-folder that went away since it was listed is one that cannot be read: it is
    // passed over like an unreadable one, rather than ending the whole search.
    if (IsAbortFlagSet()) return false;
    if (!IsDirectory(folder)) return !is_search_folder;
    // 2.
    WaitWhilePaused();
    // 3.
    const std::string pattern = folder + (EndsWithSlash(folder) ? "" : "/") + "*.*";
    if (Utf16Length(pattern) >= kMaxPatternLength) return true;
    // 4.-5.
    std::vector<std::string> sub_folders;
    EnumerateFolder(AbsoluteFolder(folder), sub_folders);
    // 6.
    for (const std::string& sub_folder : sub_folders)
        if (!Walk(sub_folder, false)) return false;
    // 7.
    return true;
}

void FolderSearchWorker::EnumerateFolder(const std::string& directory, std::vector<std::string>& sub_folders) {
    // An unreadable folder counts as empty.
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    DirHandle dir(::fdopendir(fd));
    if (!dir) {
        ::close(fd);
        return;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !walked_.insert({st.st_dev, st.st_ino}).second) return;
    const std::string prefix = directory + (EndsWithSlash(directory) ? "" : "/");
    // The abort flag is not checked between the entries of one folder. An entry that cannot
    // be read ends this folder's listing.
    while (const dirent* entry = ::readdir(dir.get())) {
        const bool supported = GetAudioFileType(entry->d_name) != AudioFileType::Unsupported;
        // Neither a folder to enter nor a file to keep: no need to look at it any closer.
        if (!supported && !recurse_) continue;
        switch (KindOf(fd, *entry)) {
            case EntryKind::Folder:
                if (recurse_ && !IsDotOrDotDot(entry->d_name)) sub_folders.push_back(prefix + entry->d_name);
                break;
            case EntryKind::File:
                if (supported) Collect(prefix + entry->d_name);
                break;
            case EntryKind::Other:
                break;
        }
    }
}

void FolderSearchWorker::Collect(std::string path) {
    found_.push_back(std::move(path));
    if (stopwatch_.Elapsed() >= kSearchProgressInterval) {
        Notify(kSearchFilterProgress, static_cast<intptr_t>(found_.size()));
        stopwatch_.Restart();
    }
}

bool FolderSearchWorker::Analyze() {
    // 1.
    if (IsAbortFlagSet()) return false;
    if (found_.empty()) return true;
    // 2.
    for (const std::string& path : found_) {
        WaitWhilePaused();
        if (IsAbortFlagSet()) return false;
        SetCurrentFile(path);
        Notify(kSearchAnalyzeFile);
        if (!IsMonoFile(path)) {
            {
                std::lock_guard lock(results_lock_);
                pending_results_.push_back(path);
            }
            Notify(kSearchRecommended);
        }
    }
    // 3.
    return true;
}

}  // namespace chm
