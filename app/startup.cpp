#include "app/startup.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QTextStream>
#include <QTimer>

#include "app/main_frame.h"
#include "ui/file_manager.h"
#include "ui/work_view.h"
#include "wm/gstreamer_setup.h"

namespace chm {

const QString& NotInstalledMessage() {
    static const QString text =
        QStringLiteral("Tavorin Channel Merger is not installed properly.    \nPlease re-install this product.\n");
    return text;
}

void ShowNotInstalledMessage() {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Tavorin Channel Merger"), NotInstalledMessage(),
                    QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

QStringList StartPaths(const QStringList& arguments, QTextStream& errors) {
    QStringList paths;
    bool options_ended = false;
    for (const QString& argument : arguments) {
        if (!options_ended && argument == QStringLiteral("--")) {
            options_ended = true;
        } else if (!options_ended && argument.startsWith(u'-')) {
            errors << "TavorinCHM: ignoring the unknown option '" << argument << "'\n";
        } else if (const QFileInfo path(QDir::current(), argument); argument.isEmpty() || !path.exists()) {
            errors << "TavorinCHM: ignoring '" << argument << "': no such file or folder\n";
        } else {
            paths << QDir::cleanPath(path.absoluteFilePath());
        }
    }
    errors.flush();
    return paths;
}

void AddStartPaths(MainFrame& frame, const QStringList& paths) {
    if (!paths.isEmpty() && frame.WorkView()) frame.WorkView()->AddPaths(paths);
}

int RunProgram(const QStringList& start_paths) {
    // 1. The media framework, with the program's own plugin folder scanned.
    if (!EnsureGstreamer()) return kExitNoGstreamer;
    // 2. One Audio Tap made by name and released at once.
    if (!IsAudioTapAvailable()) {
        ShowNotInstalledMessage();
        return kExitNotInstalled;
    }
    // Folders and files open through xdg-open, whose failure the user hears of.
    FileManager::InstallDesktopOpener();
    // The frame hides before it is destroyed; the loop ends only when the frame says so.
    QApplication::setQuitOnLastWindowClosed(false);
    // 6.
    MainFrame& frame = MainFrame::Instance();
    int result = kExitNoMainWindow;
    if (frame.Create()) {
        // 7.
        frame.show();
        // Once the loop runs: the filter's progress shows in the window like a drop's.
        QTimer::singleShot(0, &frame, [&frame, start_paths] { AddStartPaths(frame, start_paths); });
        // 8.
        result = QApplication::exec();
    }
    // 9.
    MainFrame::DestroyInstance();
    return result;
}

int RunTavorin(int argc, char** argv) {
    // Only the program's own name reaches Qt: a file named like one of Qt's options stays a file.
    int qt_argc = 1;
    char* qt_argv[] = {argv[0], nullptr};
    QApplication application(qt_argc, qt_argv);
    QStringList arguments;
    for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    QApplication::setApplicationName(QStringLiteral("Tavorin Channel Merger"));
    QApplication::setOrganizationName(QStringLiteral("Tavorin"));
    QApplication::setDesktopFileName(QStringLiteral("tavorin-channel-merger"));
    QTextStream errors(stderr);
    return RunProgram(StartPaths(arguments, errors));
}

}  // namespace chm
