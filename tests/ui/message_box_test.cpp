#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <atomic>
#include <memory>
#include <thread>

#include "tests/ui/ui_test_support.h"
#include "ui/message_box.h"

namespace chm {
namespace {

const QString kExitQuestion = QStringLiteral("Are you sure you want to stop conversion and exit?    ");

// What the answering side saw of the box before it pressed a button.
struct SeenBox {
    bool seen = false;
    QRect geometry;
    QString text;
    QString label_text;
    QString title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton default_button = QMessageBox::NoButton;
    QString yes_name;
};

class MessageBoxes : public ::testing::Test {
protected:
    // Shows a box, lets the answering side look at it and press `press`, returns the result.
    int ShowAndPress(QWidget* owner, const QString& text, const QString& caption, uint32_t style,
                     QMessageBox::StandardButton press) {
        seen_ = SeenBox();
        test::ModalAnswer answer([this, press](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            if (!box) {
                modal->close();
                return;
            }
            seen_.seen = true;
            seen_.geometry = box->frameGeometry();
            seen_.text = box->text();
            if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) seen_.label_text = label->text();
            seen_.title = box->windowTitle();
            seen_.icon = box->icon();
            seen_.buttons = box->standardButtons();
            seen_.default_button = box->defaultButton() ? box->standardButton(box->defaultButton()) : QMessageBox::NoButton;
            if (auto* yes = box->button(QMessageBox::Yes)) seen_.yes_name = yes->accessibleName();
            if (QAbstractButton* button = box->button(press)) button->click();
        });
        const int result = ShowCenteredMessageBox(owner, text, caption, style);
        EXPECT_TRUE(answer.Answered());
        return result;
    }

    static void ExpectCentredOver(const QRect& box, const QRect& area) {
        EXPECT_NEAR(box.center().x(), area.center().x(), 1) << "box " << box.x() << "," << box.y();
        EXPECT_NEAR(box.center().y(), area.center().y(), 1) << "box " << box.x() << "," << box.y();
    }

    SeenBox seen_;
};

TEST_F(MessageBoxes, BoxIsCentredOverItsOwnerWhereverTheOwnerIs) {
    QWidget owner;
    owner.setGeometry(40, 30, 500, 320);
    ASSERT_TRUE(test::ShowAndActivate(&owner));
    ShowAndPress(&owner, QStringLiteral("First"), QStringLiteral("Tavorin Channel Merger"), kMbOk, QMessageBox::Ok);
    ASSERT_TRUE(seen_.seen);
    ExpectCentredOver(seen_.geometry, owner.frameGeometry());
    const QRect first = seen_.geometry;

    owner.move(260, 240);
    ASSERT_TRUE(test::WaitFor([&] { return owner.frameGeometry().topLeft() == QPoint(260, 240); }));
    ShowAndPress(&owner, QStringLiteral("Second"), QStringLiteral("Tavorin Channel Merger"), kMbOk, QMessageBox::Ok);
    ASSERT_TRUE(seen_.seen);
    ExpectCentredOver(seen_.geometry, owner.frameGeometry());
    EXPECT_NE(seen_.geometry.topLeft(), first.topLeft());
}

TEST_F(MessageBoxes, OwnerlessBoxIsCentredOverTheAvailableScreenArea) {
    ShowAndPress(nullptr, QStringLiteral("No owner"), QStringLiteral("Tavorin Channel Merger"), kMbOk, QMessageBox::Ok);
    ASSERT_TRUE(seen_.seen);
    ExpectCentredOver(seen_.geometry, QGuiApplication::primaryScreen()->availableGeometry());
}

TEST_F(MessageBoxes, QuestionIsShownExactlyWithItsTrailingBlanks) {
    QWidget owner;
    owner.setGeometry(100, 100, 400, 300);
    ASSERT_TRUE(test::ShowAndActivate(&owner));
    const int result = ShowAndPress(&owner, kExitQuestion, QStringLiteral("Confirm Exit"),
                                    kMbYesNo | kMbIconQuestion | kMbDefButton2, QMessageBox::Yes);
    ASSERT_TRUE(seen_.seen);
    EXPECT_EQ(seen_.text, kExitQuestion);
    EXPECT_EQ(seen_.label_text, kExitQuestion);
    EXPECT_TRUE(seen_.text.endsWith(QStringLiteral("exit?    ")));
    EXPECT_EQ(seen_.title, QStringLiteral("Confirm Exit"));
    EXPECT_EQ(seen_.icon, QMessageBox::Question);
    EXPECT_EQ(seen_.buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(seen_.default_button, QMessageBox::No);
    EXPECT_EQ(seen_.yes_name, QStringLiteral("Yes"));
    EXPECT_EQ(result, kIdYes);
}

TEST_F(MessageBoxes, NoAnswersSeven) {
    EXPECT_EQ(ShowAndPress(nullptr, kExitQuestion, QStringLiteral("Confirm Exit"),
                           kMbYesNo | kMbIconQuestion | kMbDefButton2, QMessageBox::No),
              kIdNo);
}

TEST_F(MessageBoxes, YesNoWithoutDefaultBitsDefaultsToYes) {
    ShowAndPress(nullptr, QStringLiteral("?"), QStringLiteral("Confirm"), kMbYesNo, QMessageBox::No);
    EXPECT_EQ(seen_.default_button, QMessageBox::Yes);
}

TEST_F(MessageBoxes, InformationBoxHasOneOkButton) {
    const QString text = QStringLiteral("Please add one or more audio files and try again.    ");
    const int result =
        ShowAndPress(nullptr, text, QStringLiteral("Tavorin Channel Merger"), kMbOk | kMbIconInformation, QMessageBox::Ok);
    EXPECT_EQ(result, kIdOk);
    EXPECT_EQ(seen_.text, text);
    EXPECT_EQ(seen_.icon, QMessageBox::Information);
    EXPECT_EQ(seen_.buttons, QMessageBox::Ok);
}

TEST_F(MessageBoxes, ErrorIconIsTheCriticalIcon) {
    ShowAndPress(nullptr, QStringLiteral("Cannot open folder: \"/x\"   "), QStringLiteral("Tavorin Channel Merger"),
                 kMbOk | kMbIconError, QMessageBox::Ok);
    EXPECT_EQ(seen_.icon, QMessageBox::Critical);
    EXPECT_EQ(seen_.text, QStringLiteral("Cannot open folder: \"/x\"   "));
}

TEST_F(MessageBoxes, RejectedYesNoBoxAnswersNo) {
    test::ModalAnswer answer([](QWidget* modal) {
        if (auto* box = qobject_cast<QMessageBox*>(modal)) box->reject();
    });
    EXPECT_EQ(ShowCenteredMessageBox(nullptr, kExitQuestion, QStringLiteral("Confirm Exit"), kMbYesNo | kMbDefButton2),
              kIdNo);
    EXPECT_TRUE(answer.Answered());
}

TEST_F(MessageBoxes, TextWithMarkupIsShownAsPlainText) {
    const QString text = QStringLiteral("<b>not bold</b>");
    ShowAndPress(nullptr, text, QStringLiteral("Tavorin Channel Merger"), kMbOk, QMessageBox::Ok);
    EXPECT_EQ(seen_.label_text, text);
}

TEST_F(MessageBoxes, NothingIsShownFromABackgroundThread) {
    std::atomic<int> result{-1};
    std::thread worker([&] { result = ShowCenteredMessageBox(nullptr, QStringLiteral("x"), QStringLiteral("y"), kMbOk); });
    worker.join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(MessageBoxes, CentringHandlerIsRegisteredOnlyWhileTheBoxIsOpen) {
    size_t handlers_while_open = 0;
    test::ModalAnswer answer([&](QWidget* modal) {
        handlers_while_open = WindowCreateHook::HandlerCount();
        modal->close();
    });
    const size_t before = WindowCreateHook::HandlerCount();
    ShowCenteredMessageBox(nullptr, QStringLiteral("x"), QStringLiteral("y"), kMbOk);
    EXPECT_EQ(handlers_while_open, before + 1);
    EXPECT_EQ(WindowCreateHook::HandlerCount(), before);
    EXPECT_EQ(WindowCreateHook::InstalledFilter(), nullptr);
}

}  // namespace
}  // namespace chm
