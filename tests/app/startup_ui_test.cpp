// The start-up of the program without its filter library: the media framework is told to load
// no plugin but its own base sets (GStreamer's plugin loading white-list), so the Audio Tap that
// the program scans from its own folders cannot be made, as on a machine where the library is
// missing. Only the ownerless installation message may appear, and the program ends with -2.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include "app/main_frame.h"
#include "app/startup.h"
#include "tests/ui/ui_test_support.h"

namespace chm {
namespace {

using namespace std::chrono_literals;

TEST(StartupTest, WithoutTheFilterLibraryOnlyTheInstallationMessageIsShown) {
    // Before the framework's first use in this process.
    ::setenv("GST_PLUGIN_LOADING_WHITELIST", "gstreamer:gst-plugins-base", 1);
    QString text, caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool ownerless = false;
    int windows = -1;
    bool frame_made = true;
    test::ModalAnswer answer([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box) {
            modal->close();
            return;
        }
        text = box->text();
        caption = box->windowTitle();
        icon = box->icon();
        ownerless = box->parentWidget() == nullptr;
        windows = 0;
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->isVisible()) ++windows;
        frame_made = MainFrame::Existing() != nullptr;
        box->button(QMessageBox::Ok)->click();
    }, 60s);
    EXPECT_EQ(RunProgram(), -2);
    ASSERT_TRUE(answer.Answered());
    EXPECT_EQ(text, QStringLiteral("Tavorin Channel Merger is not installed properly.    \nPlease re-install this product.\n"));
    EXPECT_EQ(caption, QStringLiteral("Tavorin Channel Merger"));
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_TRUE(ownerless);
    EXPECT_EQ(windows, 1);
    EXPECT_FALSE(frame_made);
    EXPECT_EQ(MainFrame::Existing(), nullptr);
}

}  // namespace
}  // namespace chm
