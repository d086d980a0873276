#include "ui/file_filter_worker.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <utility>

#include "audio/audio_file_type.h"

namespace chm {
namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

// The entry names of a folder, "." and ".." left out, in byte order so that a folder is always
// added in the same order whatever the file system hands out. False when it cannot be read.
bool ReadFolderNames(const std::string& path, std::vector<std::string>& names) {
    DirHandle dir(::opendir(path.c_str()));
    if (!dir) return false;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        names.emplace_back(name);
    }
    std::sort(names.begin(), names.end());
    return true;
}

}  // namespace

FileFilterWorker::FileFilterWorker(WindowHandle target_window, std::vector<std::string> input,
                                   std::set<std::string> keys)
    : target_window_(std::move(target_window)), input_(std::move(input)), keys_(std::move(keys)) {}

FileFilterWorker::~FileFilterWorker() { StopBeforeDestruction(); }

bool FileFilterWorker::Run() {
    // 1.
    output_.clear();
    open_folders_.clear();
    // 2.
    for (const std::string& path : input_) Process(path);
    // 3. The end hook tells that the filter finished.
    PostProgress();
    return true;
}

void FileFilterWorker::OnEnd(bool /*result*/) {
    target_window_.Post(kFilterNotify, kFilterFinished, static_cast<intptr_t>(output_.size()));
}

void FileFilterWorker::PostProgress() const {
    target_window_.Post(kFilterNotify, kFilterProgress, static_cast<intptr_t>(output_.size()));
}

void FileFilterWorker::Process(const std::string& path) {
    // 1.
    if (IsAbortRequested()) return;
    WaitWhilePaused();
    if (IsAbortRequested()) return;
    // 2.
    if (output_.size() % 10 == 0) PostProgress();
    // The status of what the path finally names: a link to a file is that file. Only the
    // status is read; nothing is ever opened but folders, so a pipe or a device cannot block.
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return;  // vanished, or a dangling link
    // 3.
    if (S_ISDIR(status.st_mode)) {
        ProcessFolder(path, FolderId{status.st_dev, status.st_ino});
        return;
    }
    // 4. Pipes, sockets and devices are no audio files, whatever they are called.
    if (!S_ISREG(status.st_mode)) return;
    if (keys_.count(path) != 0) return;
    if (GetAudioFileType(path) == AudioFileType::Unsupported) return;
    output_.push_back(path);
}

void FileFilterWorker::ProcessFolder(const std::string& path, FolderId id) {
    // A link to a folder that the walk is already inside would make it go round for ever.
    if (std::find(open_folders_.begin(), open_folders_.end(), id) != open_folders_.end()) return;
    std::vector<std::string> names;
    if (!ReadFolderNames(path, names)) return;  // unreadable: passed over
    const std::string prefix = path.empty() || path.back() != '/' ? path + '/' : path;
    open_folders_.push_back(id);
    for (const std::string& name : names) {
        if (IsAbortRequested()) break;
        Process(prefix + name);
    }
    open_folders_.pop_back();
}

}  // namespace chm
