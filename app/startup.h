#pragma once
#include <QString>

namespace chm {

// Exit codes of the process besides the loop's own (1 once the main window is destroyed).
constexpr int kExitNoGstreamer = -1;
constexpr int kExitNotInstalled = -2;
constexpr int kExitNoMainWindow = 0;

// "Tavorin Channel Merger is not installed properly.    \nPlease re-install this product.\n"
const QString& NotInstalledMessage();

// The ownerless installation message, the one box shown without a window; blocks until the
// user closes it.
void ShowNotInstalledMessage();

// The program: checks the media framework and the filter library, makes and shows the main
// window and runs the loop until the window is destroyed. The command line is not read. Needs
// the QApplication to exist; returns the process's exit code.
int RunProgram();

// The entry point's work: the application object around RunProgram.
int RunTavorin(char* program_name);

}  // namespace chm
