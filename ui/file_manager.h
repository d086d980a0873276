#pragma once
#include <QString>
#include <functional>

namespace chm {

// The desktop's file manager, reached through the freedesktop interface
// org.freedesktop.FileManager1 on the session bus.
class FileManager {
public:
    static constexpr int kCallTimeoutMs = 5000;

    // Asks the file manager to show the file selected in its folder; when no file manager
    // answers (no session bus, nobody owns the name, an error, no answer in time) the file's
    // folder is opened with the desktop's default handler instead. Returns at once: the
    // answer is awaited in the event loop, and then `done` learns whether the file manager
    // showed the file (true) or the folder was opened instead (false).
    static void ShowItem(const QString& path, std::function<void(bool shown)> done = {});
    // The file URI the file manager is given for a path.
    static QString UriOf(const QString& path);
    // The folder opened when no file manager answers.
    static void OpenFolderOf(const QString& path);
};

}  // namespace chm
