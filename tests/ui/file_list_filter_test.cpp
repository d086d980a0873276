// The add filter: its dialog (hidden for the first ticks, the count, the cancel question) and
// its walk over real folders with links, pipes and folders it may not read.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <filesystem>

#include "tests/ui/file_list_view_fixture.h"

namespace chm {
namespace {

using test::FileListViewFixture;
using test::ModalSteps;
using test::SeenMessageBox;

// Adds with the filter's worker held at its first pause point until the test lets it go, so
// that the dialog is certain to appear first.
class FilterDialogTest : public FileListViewFixture {
protected:
    void SetUp() override {
        FileListViewFixture::SetUp();
        test::MakeNumberedFiles(At("folder"), 25);
    }
    void HoldWorker() {
        QObject::connect(&view_, &VeFileListView::FilterDialogOpening, &listening_, [this](FilterDialog* dialog) {
            dialog_ = dialog;
            dialog->Worker().Pause();
        });
    }

    QObject listening_;  // connections made by a test end with it
    FilterDialog* dialog_ = nullptr;
};

TEST_F(FilterDialogTest, ShortFilterEndsWithoutTheDialogAppearing) {
    int shown_at = -1;
    QObject::connect(&view_, &VeFileListView::FilterDialogOpening, &listening_, [&](FilterDialog* dialog) {
        QObject::connect(dialog, &QDialog::finished, dialog, [&shown_at, dialog] { shown_at = dialog->ShownAtTick(); });
    });
    EXPECT_EQ(Add({At("folder")}), 25);
    EXPECT_EQ(shown_at, 0);
}

TEST_F(FilterDialogTest, DialogAppearsAtTheNinthTickWithItsStripRunning) {
    HoldWorker();
    int shown_at = 0;
    bool strip_running = false;
    QString caption;
    ModalSteps steps;
    steps.Then(test::IsVisibleFilterDialog, [&](QWidget*) {
        shown_at = dialog_->ShownAtTick();
        strip_running = dialog_->BusyStrip()->IsRunning();
        caption = dialog_->windowTitle();
        dialog_->Worker().Resume();
    });
    EXPECT_EQ(Add({At("folder")}), 25);
    EXPECT_TRUE(steps.AllDone());
    EXPECT_EQ(shown_at, FilterDialog::kHiddenTicks + 1);
    EXPECT_TRUE(strip_running);
    EXPECT_EQ(caption, QStringLiteral("Filtering Files..."));
}

TEST_F(FilterDialogTest, ShowingBeforeTheHiddenTicksIsRefused) {
    bool visible_early = true;
    QObject::connect(&view_, &VeFileListView::FilterDialogOpening, &listening_, [&](FilterDialog* dialog) {
        dialog->Worker().Pause();
        QTimer::singleShot(0, dialog, [&visible_early, dialog] {
            dialog->show();
            visible_early = dialog->isVisible();
            dialog->Worker().Resume();
        });
    });
    EXPECT_EQ(Add({At("folder")}), 25);
    EXPECT_FALSE(visible_early);
}

TEST_F(FilterDialogTest, QueuedCountShowsTheAcceptedFiles) {
    QString queued_at_end;
    QObject::connect(&view_, &VeFileListView::FilterDialogOpening, &listening_, [&](FilterDialog* dialog) {
        QObject::connect(dialog, &QDialog::finished, dialog, [&queued_at_end, dialog] { queued_at_end = dialog->QueuedText(); });
    });
    EXPECT_EQ(Add({At("folder")}), 25);
    EXPECT_EQ(queued_at_end, QStringLiteral("25"));
}

TEST_F(FilterDialogTest, CancelAnsweredYesAddsNothing) {
    HoldWorker();
    SeenMessageBox seen;
    ModalSteps steps;
    steps.Then(test::IsVisibleFilterDialog, [&](QWidget*) { dialog_->CancelButton()->click(); })
        .Then(test::IsMessageBox(), test::Press(QMessageBox::Yes, &seen));
    EXPECT_EQ(Add({At("folder")}), 0);
    EXPECT_TRUE(steps.AllDone());
    EXPECT_EQ(Model().RowCount(), 0);
    ASSERT_TRUE(seen.seen);
    EXPECT_EQ(seen.text, QStringLiteral("Cancel file filtering?\n\nIf you click Yes, no files will be added.     "));
    EXPECT_EQ(seen.caption, QStringLiteral("Confirm Cancel"));
    EXPECT_EQ(seen.icon, QMessageBox::Question);
    EXPECT_EQ(seen.default_button, QMessageBox::No);
}

TEST_F(FilterDialogTest, CancelAnsweredNoLetsTheFilterGoOn) {
    HoldWorker();
    bool paused_while_asking = false;
    ModalSteps steps;
    steps.Then(test::IsVisibleFilterDialog, [&](QWidget*) { dialog_->CancelButton()->click(); })
        .Then(test::IsMessageBox(), [&](QWidget* box) {
            paused_while_asking = dialog_->isVisible() && dialog_->Worker().IsRunning();
            test::Press(QMessageBox::No)(box);
        });
    EXPECT_EQ(Add({At("folder")}), 25);
    EXPECT_TRUE(steps.AllDone());
    EXPECT_TRUE(paused_while_asking);
}

TEST_F(FilterDialogTest, EscapeAsksTheSameQuestion) {
    HoldWorker();
    SeenMessageBox seen;
    ModalSteps steps;
    steps.Then(test::IsVisibleFilterDialog, [&](QWidget*) {
             QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
             QApplication::sendEvent(dialog_, &escape);
         })
        .Then(test::IsMessageBox(), test::Press(QMessageBox::Yes, &seen));
    EXPECT_EQ(Add({At("folder")}), 0);
    EXPECT_EQ(seen.caption, QStringLiteral("Confirm Cancel"));
}

TEST_F(FilterDialogTest, FilterThatFinishesDuringTheQuestionStillObeysYes) {
    HoldWorker();
    ModalSteps steps;
    steps.Then(test::IsVisibleFilterDialog, [&](QWidget*) { dialog_->CancelButton()->click(); })
        .Then(test::IsMessageBox(), [&](QWidget* box) {
            // The filter runs to its end behind the open question.
            dialog_->Worker().Resume();
            test::WaitFor([&] { return !dialog_->Worker().IsRunning(); });
            QApplication::processEvents();
            test::Press(QMessageBox::Yes)(box);
        });
    EXPECT_EQ(Add({At("folder")}), 0);
    EXPECT_TRUE(steps.AllDone());
}

TEST_F(FilterDialogTest, CancelWithoutARunningFilterClosesWithoutAsking) {
    FilterDialog dialog(&view_, {At("folder")}, {});
    ModalSteps steps;
    steps.Then(test::IsMessageBox(), test::Press(QMessageBox::No));
    dialog.reject();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(steps.Done(), 0);
    EXPECT_EQ(dialog.Run(), QDialog::Rejected);  // closed already: it does not start again
}

TEST_F(FilterDialogTest, ControlsFollowTheTemplateAndHaveAccessibleNames) {
    FilterDialog dialog(&view_, {}, {});
    const QSize size = dialog.size();
    const QRect cancel = dialog.CancelButton()->geometry();
    const QRect strip = dialog.BusyStrip()->geometry();
    EXPECT_EQ(dialog.CancelButton()->text(), QStringLiteral("Cancel"));
    EXPECT_EQ(dialog.CancelButton()->accessibleName(), QStringLiteral("Cancel"));
    EXPECT_FALSE(dialog.BusyStrip()->accessibleName().isEmpty());
    for (QLabel* label : dialog.findChildren<QLabel*>()) EXPECT_FALSE(label->accessibleName().isEmpty());
    // 178 x 50 dialog units; the button at 119, 27, 50 x 14 and the strip at 9, 9, 160 x 12:
    // the same proportions in pixels.
    ASSERT_GT(size.width(), 0);
    EXPECT_NEAR(static_cast<double>(cancel.x()) / size.width(), 119.0 / 178.0, 0.02);
    EXPECT_NEAR(static_cast<double>(cancel.width()) / size.width(), 50.0 / 178.0, 0.02);
    EXPECT_NEAR(static_cast<double>(cancel.y()) / size.height(), 27.0 / 50.0, 0.03);
    EXPECT_NEAR(static_cast<double>(cancel.height()) / size.height(), 14.0 / 50.0, 0.03);
    EXPECT_NEAR(static_cast<double>(strip.width()) / size.width(), 160.0 / 178.0, 0.02);
    EXPECT_NEAR(static_cast<double>(strip.height()) / size.height(), 12.0 / 50.0, 0.03);
}

// The walk over folders that could trap or stall it.
class FilterWalkTest : public FileListViewFixture {};

TEST_F(FilterWalkTest, LinkBackIntoAFolderBeingWalkedIsNotFollowed) {
    test::MakeEmptyFiles(At("root"), {"a.wav", "sub/b.wav"});
    std::filesystem::create_directory_symlink(At("root"), At("root/sub/loop"));
    std::filesystem::create_directory_symlink(At("root/sub"), At("root/sub/self"));
    EXPECT_EQ(Add({At("root")}), 2);
    EXPECT_EQ(Paths(), (std::vector<std::string>{At("root/a.wav"), At("root/sub/b.wav")}));
}

TEST_F(FilterWalkTest, LinkToAFolderOutsideTheWalkIsFollowed) {
    test::MakeEmptyFiles(At("elsewhere"), {"c.mp3"});
    test::MakeEmptyFiles(At("root"), {"a.wav"});
    std::filesystem::create_directory_symlink(At("elsewhere"), At("root/linked"));
    EXPECT_EQ(Add({At("root")}), 2);
    EXPECT_EQ(Paths(), (std::vector<std::string>{At("root/a.wav"), At("root/linked/c.mp3")}));
}

TEST_F(FilterWalkTest, PipeWithAnAudioNameIsSkippedWithoutBlocking) {
    test::MakeEmptyFiles(At("root"), {"y.wav"});
    ASSERT_EQ(::mkfifo(At("root/x.wav").c_str(), 0600), 0);
    EXPECT_EQ(Add({At("root")}), 1);
    EXPECT_EQ(Add({At("root/x.wav")}), 0);
    EXPECT_EQ(Paths(), (std::vector<std::string>{At("root/y.wav")}));
}

TEST_F(FilterWalkTest, LinksToFilesAreAddedAndDanglingLinksSkipped) {
    test::MakeEmptyFiles(At("store"), {"real.mp3"});
    test::MakeEmptyFiles(At("root"), {});
    std::filesystem::create_directories(At("root"));
    std::filesystem::create_symlink(At("store/real.mp3"), At("root/alias.mp3"));
    std::filesystem::create_symlink(At("store/gone.mp3"), At("root/dangling.mp3"));
    std::filesystem::create_symlink("/dev/null", At("root/null.wav"));
    EXPECT_EQ(Add({At("root")}), 1);
    EXPECT_EQ(Paths(), (std::vector<std::string>{At("root/alias.mp3")}));
}

TEST_F(FilterWalkTest, UnreadableFolderIsPassedOver) {
    test::MakeEmptyFiles(At("root"), {"locked/x.wav", "open.wav", "z/last.mp3"});
    ASSERT_EQ(::chmod(At("root/locked").c_str(), 0), 0);
    int added = 0;
    {
        // Even the superuser's filter must meet the folder as others would.
        const test::PermissionChecksOn checks;
        added = Add({At("root")});
    }
    ::chmod(At("root/locked").c_str(), 0700);
    EXPECT_EQ(added, 2);
    EXPECT_EQ(Paths(), (std::vector<std::string>{At("root/open.wav"), At("root/z/last.mp3")}));
}

TEST_F(FilterWalkTest, FilesAlreadyInTheListAreNotAcceptedAgain) {
    test::MakeEmptyFiles(At("root"), {"a.wav", "b.wav"});
    ASSERT_EQ(Add({At("root/a.wav")}), 1);
    size_t accepted = 0;
    const QObject listening;
    QObject::connect(&view_, &VeFileListView::FilterDialogOpening, &listening, [&](FilterDialog* dialog) {
        QObject::connect(dialog, &QDialog::finished, dialog,
                         [&accepted, dialog] { accepted = dialog->Worker().Output().size(); });
    });
    EXPECT_EQ(Add({At("root")}), 1);
    EXPECT_EQ(accepted, 1u);
}

}  // namespace
}  // namespace chm
