#include <gtest/gtest.h>

#include <QDialog>
#include <QMenu>
#include <QWidget>
#include <vector>

#include "tests/ui/ui_test_support.h"
#include "ui/message_box.h"
#include "ui/popup_menu_frame.h"
#include "ui/window_create_hook.h"

namespace chm {
namespace {

// Records the windows it is given, in a log shared by several handlers.
class RecordingHandler : public WindowCreateHandler {
public:
    RecordingHandler(std::vector<std::pair<int, QWidget*>>& log, int id, bool stop = false)
        : log_(log), id_(id), stop_(stop) {}
    bool OnWindowCreated(QWidget* window) override {
        log_.push_back({id_, window});
        return stop_;
    }

private:
    std::vector<std::pair<int, QWidget*>>& log_;
    int id_;
    bool stop_;
};

class CreateHook : public ::testing::Test {
protected:
    void TearDown() override {
        WindowCreateHook::Unregister(&first_);
        WindowCreateHook::Unregister(&second_);
    }

    std::vector<std::pair<int, QWidget*>> log_;
    RecordingHandler first_{log_, 1};
    RecordingHandler second_{log_, 2};
};

TEST_F(CreateHook, SecondHandlerDoesNotInstallASecondFilter) {
    ASSERT_EQ(WindowCreateHook::InstalledFilter(), nullptr);
    const int installs = WindowCreateHook::InstallCount();
    WindowCreateHook::Register(&first_);
    QObject* filter = WindowCreateHook::InstalledFilter();
    ASSERT_NE(filter, nullptr);
    EXPECT_EQ(WindowCreateHook::InstallCount(), installs + 1);
    WindowCreateHook::Register(&second_);
    EXPECT_EQ(WindowCreateHook::InstalledFilter(), filter);
    EXPECT_EQ(WindowCreateHook::InstallCount(), installs + 1);

    // One filter: each handler hears of a new window exactly once, in registration order.
    QWidget window;
    window.show();
    ASSERT_EQ(log_.size(), 2u);
    EXPECT_EQ(log_[0], std::make_pair(1, &window));
    EXPECT_EQ(log_[1], std::make_pair(2, &window));
}

TEST_F(CreateHook, LastHandlerLeavingRemovesTheFilter) {
    WindowCreateHook::Register(&first_);
    WindowCreateHook::Register(&second_);
    QObject* filter = WindowCreateHook::InstalledFilter();
    WindowCreateHook::Unregister(&first_);
    EXPECT_EQ(WindowCreateHook::InstalledFilter(), filter);
    WindowCreateHook::Unregister(&second_);
    EXPECT_EQ(WindowCreateHook::InstalledFilter(), nullptr);
    EXPECT_EQ(WindowCreateHook::HandlerCount(), 0u);

    QWidget window;
    window.show();
    EXPECT_TRUE(log_.empty());
}

TEST_F(CreateHook, HandlerAnsweringTrueStopsTheWalk) {
    RecordingHandler stopper(log_, 3, true);
    WindowCreateHook::Register(&stopper);
    WindowCreateHook::Register(&first_);
    QWidget window;
    window.show();
    WindowCreateHook::Unregister(&stopper);
    ASSERT_EQ(log_.size(), 1u);
    EXPECT_EQ(log_[0].first, 3);
}

TEST_F(CreateHook, ChildWidgetsAreNotNewWindows) {
    QWidget window;
    window.show();
    WindowCreateHook::Register(&first_);
    QWidget child(&window);
    child.show();
    EXPECT_TRUE(log_.empty());
    QDialog dialog(&window);
    dialog.show();
    ASSERT_EQ(log_.size(), 1u);
    EXPECT_EQ(log_[0].second, &dialog);
}

TEST_F(CreateHook, CentringHandlerCentresAnyDialogOverItsOwner) {
    QWidget owner;
    owner.setGeometry(300, 200, 400, 300);
    ASSERT_TRUE(test::ShowAndActivate(&owner));
    QDialog dialog(&owner);
    dialog.resize(120, 80);
    {
        MessageBoxCentring centring;
        dialog.show();
    }
    EXPECT_NEAR(dialog.frameGeometry().center().x(), owner.frameGeometry().center().x(), 1);
    EXPECT_NEAR(dialog.frameGeometry().center().y(), owner.frameGeometry().center().y(), 1);
}

class MenuFrame : public ::testing::Test {
protected:
    MenuFrame() {
        menu_.addAction(QStringLiteral("Add Files..."));
        menu_.addAction(QStringLiteral("Add Folder..."));
        menu_.addSeparator();
        menu_.addAction(QStringLiteral("Add by Search..."));
    }
    ~MenuFrame() override { menu_.close(); }

    QImage PopUp() {
        menu_.popup(QPoint(50, 50));
        EXPECT_TRUE(test::WaitFor([this] { return menu_.isVisible(); }));
        return menu_.grab().toImage();
    }

    QMenu menu_;
};

TEST_F(MenuFrame, MenuOpenedWhileRegisteredGetsTheProgramsFrame) {
    QImage image;
    {
        PopupMenuFrame frame;
        image = PopUp();
    }
    ASSERT_FALSE(image.isNull());
    const int w = image.width(), h = image.height();
    const QRgb border = qRgb(0x8D, 0x91, 0x99), gutter = qRgb(0xE1, 0xE3, 0xE7), rest = qRgb(0xFB, 0xFB, 0xFB);
    for (QPoint p : {QPoint(0, 0), QPoint(w - 1, 0), QPoint(0, h - 1), QPoint(w - 1, h - 1), QPoint(w / 2, 0),
                     QPoint(0, h / 2), QPoint(w - 1, h / 2), QPoint(w / 2, h - 1)})
        EXPECT_EQ(image.pixel(p), border) << p.x() << "," << p.y();
    const int fw = PopupMenuFrame::kFrameWidth;
    // Inside the border: the gutter colour up to 23 pixels right of the items' left edge.
    const int gutter_end = fw + PopupMenuFrame::kGutterWidth;  // first column past the gutter
    for (int y = 1; y < fw; ++y) {
        EXPECT_EQ(image.pixel(1, y), gutter) << y;
        EXPECT_EQ(image.pixel(gutter_end - 1, y), gutter) << y;
        EXPECT_EQ(image.pixel(gutter_end, y), rest) << y;
        EXPECT_EQ(image.pixel(w - 2, y), rest) << y;
        EXPECT_EQ(image.pixel(gutter_end - 1, h - 1 - y), gutter) << y;
        EXPECT_EQ(image.pixel(gutter_end, h - 1 - y), rest) << y;
    }
    for (int x = 1; x < fw; ++x) {
        EXPECT_EQ(image.pixel(x, h / 2), gutter) << x;
        EXPECT_EQ(image.pixel(w - 1 - x, h / 2), rest) << x;
    }
}

TEST_F(MenuFrame, MenuOpenedWithoutTheHandlerKeepsItsStyle) {
    const QImage image = PopUp();
    EXPECT_NE(image.pixel(0, 0), qRgb(0x8D, 0x91, 0x99));
}

TEST_F(MenuFrame, MenuKeepsItsFrameAfterTheHandlerLeaves) {
    {
        PopupMenuFrame frame;
        PopUp();
    }
    menu_.close();
    ASSERT_TRUE(test::WaitFor([this] { return !menu_.isVisible(); }));
    const QImage again = PopUp();
    EXPECT_EQ(again.pixel(0, 0), qRgb(0x8D, 0x91, 0x99));
}

}  // namespace
}  // namespace chm
