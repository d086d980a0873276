#pragma once
#include <QString>
#include <functional>

class QWidget;

namespace chm {

// The desktop's handlers for folders and files: the file manager reached through the
// freedesktop interface org.freedesktop.FileManager1 on the session bus, and the default
// application of a file or folder. Where the desktop cannot open something the user is told
// over the window that asked, never left with a button that does nothing.
class FileManager {
public:
    static constexpr int kCallTimeoutMs = 5000;

    // "Cannot open folder: " with the folder in quotation marks and three blanks.
    static QString CannotOpenFolderText(const QString& folder);
    // "Cannot open file: " with the file in quotation marks and three blanks.
    static QString CannotOpenFileText(const QString& file);
    // Tells the user, over `owner`, that the folder or file cannot be opened.
    static void TellCannotOpenFolder(QWidget* owner, const QString& folder);
    static void TellCannotOpenFile(QWidget* owner, const QString& file);

    // Open the folder, or the file with its default application; when the desktop has no
    // handler for it the user is told over `owner`. True when it was handed on.
    static bool OpenFolder(const QString& folder, QWidget* owner);
    static bool OpenFile(const QString& file, QWidget* owner);

    // Asks the file manager to show the file selected in its folder; when no file manager
    // answers (no session bus, nobody owns the name, an error, no answer in time) the file's
    // folder is opened with the desktop's default handler instead, and when that fails too
    // the user is told over `owner` (unless it has gone meanwhile). Returns at once: the
    // answer is awaited in the event loop, and then `done` learns whether the file manager
    // showed the file (true) or not (false).
    static void ShowItem(const QString& path, QWidget* owner, std::function<void(bool shown)> done = {});
    // Opens file URLs with xdg-open in place of Qt's opener, which counts a started xdg-open as
    // success: xdg-open learns only later that no application takes the folder or file (it
    // exits 3 or 4), and then the user is told over the window that asked. For the program's
    // start; a handler set later for file URLs replaces it.
    static void InstallDesktopOpener();

    // The file URI the file manager is given for a path.
    static QString UriOf(const QString& path);
    // The folder opened when no file manager answers.
    static QString FolderOf(const QString& path);
};

}  // namespace chm
