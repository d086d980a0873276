#include "app/startup.h"

#include <QApplication>
#include <QMessageBox>

#include "app/main_frame.h"
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

int RunProgram() {
    // 1. The media framework, with the program's own plugin folder scanned.
    if (!EnsureGstreamer()) return kExitNoGstreamer;
    // 2. One Audio Tap made by name and released at once.
    if (!IsAudioTapAvailable()) {
        ShowNotInstalledMessage();
        return kExitNotInstalled;
    }
    // The frame hides before it is destroyed; the loop ends only when the frame says so.
    QApplication::setQuitOnLastWindowClosed(false);
    // 6.
    MainFrame& frame = MainFrame::Instance();
    int result = kExitNoMainWindow;
    if (frame.Create()) {
        // 7.
        frame.show();
        // 8.
        result = QApplication::exec();
    }
    // 9.
    MainFrame::DestroyInstance();
    return result;
}

int RunTavorin(char* program_name) {
    // Only the program's own name reaches Qt: the command line is not read.
    int argc = 1;
    char* argv[] = {program_name, nullptr};
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tavorin Channel Merger"));
    QApplication::setOrganizationName(QStringLiteral("Tavorin"));
    QApplication::setDesktopFileName(QStringLiteral("tavorin-channel-merger"));
    return RunProgram();
}

}  // namespace chm
