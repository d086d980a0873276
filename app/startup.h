#pragma once
#include <QString>
#include <QStringList>

class QTextStream;

namespace chm {

class MainFrame;

// Exit codes of the process besides the loop's own (1 once the main window is destroyed).
constexpr int kExitNoGstreamer = -1;
constexpr int kExitNotInstalled = -2;
constexpr int kExitNoMainWindow = 0;

// "Tavorin Channel Merger is not installed properly.    \nPlease re-install this product.\n"
const QString& NotInstalledMessage();

// The ownerless installation message, the one box shown without a window; blocks until the
// user closes it.
void ShowNotInstalledMessage();

// The files and folders a start was given ("Open With" from a file manager): each argument an
// existing path, made absolute from the working folder. An option or a missing path is left out
// with one line on `errors`; after "--" every argument is a path.
QStringList StartPaths(const QStringList& arguments, QTextStream& errors);

// Adds the start's paths to the frame's list as a drop adds them (filtered the same way).
void AddStartPaths(MainFrame& frame, const QStringList& paths);

// The program: checks the media framework and the filter library, makes and shows the main
// window, adds the start's paths and runs the loop until the window is destroyed. Needs the
// QApplication to exist; returns the process's exit code.
int RunProgram(const QStringList& start_paths = {});

// The entry point's work: the application object around RunProgram. Qt gets only the program's
// name; the other arguments are the start's paths.
int RunTavorin(int argc, char** argv);

}  // namespace chm
