// The search page on real folders: what it shows for each end of a search, the rows in the
// worker's order, Finish, the abort question with the worker really paused, a new search
// after Back, and the page's layout.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QToolBar>
#include <filesystem>
#include <fstream>
#include <set>

#include "app/app_settings.h"
#include "search/folder_search_worker.h"
#include "tests/search/search_test_media.h"
#include "tests/support/test_files.h"
#include "tests/ui/file_list_test_support.h"
#include "tests/ui/search_wizard_test_support.h"
#include "tests/ui/ui_test_support.h"
#include "ui/filter_dialog.h"
#include "ui/qt_message_port.h"
#include "ui/search_result_list.h"
#include "ui/search_wizard.h"
#include "ui/search_wizard_pages.h"

namespace chm {
namespace {

using test::ModalSteps;
using test::SeenMessageBox;
using test::WizardDriver;

constexpr int kSlowFiles = 30;

class SearchPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        AppSettings::Instance().ResetToDefaults();
        VeSearchWizard::ForgetRememberedRect();
        driver_ = std::make_unique<WizardDriver>();
    }
    void TearDown() override {
        driver_.reset();
        AppSettings::Instance().ResetToDefaults();
    }

    VeSearchWizard& Wizard() { return driver_->Wizard(); }
    VeWizardSearchPage* Page() { return Wizard().SearchPage(); }
    VeSearchResultList* List() { return Page()->ResultList(); }
    std::string Folder(const std::string& name) {
        const std::string path = scratch_.File(name);
        std::filesystem::create_directories(path);
        return path;
    }
    // Stereo and mono files of every type, some of them in sub-folders, and a text file.
    std::string MixedFolder() {
        const std::string folder = Folder("mixed");
        test::MakeStereoWav(folder + "/a stereo.wav");
        test::MakeMonoWav(folder + "/b mono.wav");
        test::search::WriteMp3(folder + "/c stereo.mp3", 2);
        test::search::WriteWma(folder + "/d stereo.wma", 2);
        test::search::WriteMp3(folder + "/e mono.mp3", 1);
        test::WriteTextFile(folder + "/notes.txt", "not audio");
        std::filesystem::create_directories(folder + "/sub/deeper");
        test::MakeStereoWav(folder + "/sub/f stereo.wav");
        test::search::WriteWma(folder + "/sub/g mono.wma", 1);
        test::search::WriteWma(folder + "/sub/deeper/h stereo.wma", 2);
        return folder;
    }
    std::string SlowFolder() {
        const std::string folder = Folder("slow");
        test::LinkSlowMp3s(folder, kSlowFiles);
        return folder;
    }
    std::vector<std::string> RowPaths() {
        std::vector<std::string> paths;
        for (int row = 0; row < List()->Model().RowCount(); ++row) paths.push_back(List()->Model().RowAt(row).path);
        return paths;
    }
    // Presses button 2 (or does `trigger`) while the search runs and answers the question.
    SeenMessageBox AnswerAbortQuestion(QMessageBox::StandardButton answer,
                                       const std::function<void()>& trigger = {}) {
        SeenMessageBox seen;
        ModalSteps steps;
        steps.Then(test::IsMessageBox(), test::Press(answer, &seen));
        if (trigger)
            trigger();
        else
            Wizard().CancelButton()->click();
        EXPECT_TRUE(steps.AllDone());
        return seen;
    }

    test::ScratchDir scratch_;
    std::unique_ptr<WizardDriver> driver_;
};

TEST_F(SearchPageTest, FolderOfMonoFilesRecommendsNothing) {
    const std::string folder = Folder("mono");
    test::MakeMonoWav(folder + "/one.wav");
    test::MakeMonoWav(folder + "/two.wav");
    test::search::WriteMp3(folder + "/three.mp3", 1);
    test::search::WriteWma(folder + "/four.wma", 1);
    ASSERT_TRUE(driver_->StartSearch(folder, false));
    ASSERT_TRUE(driver_->WaitForEnd());
    EXPECT_EQ(driver_->LastEndCode(), static_cast<int>(kSearchCompleted));
    EXPECT_EQ(driver_->Status(), QStringLiteral("Search completed."));
    EXPECT_EQ(driver_->Title(), QStringLiteral("Step 2 of 2 - Searching... Completed"));
    EXPECT_FALSE(List()->isVisible());
    EXPECT_TRUE(Page()->CountLine()->isVisible());
    EXPECT_EQ(Page()->CountLine()->text(), QStringLiteral("No files recommended for conversion."));
    EXPECT_FALSE(Page()->Hint()->isVisible());
    EXPECT_FALSE(Page()->ToolBar()->isVisible());
    EXPECT_FALSE(Page()->ProgressBar()->isVisible());
    EXPECT_FALSE(Page()->BusyStrip()->isVisible());
    EXPECT_FALSE(Page()->BusyStrip()->IsRunning());
    EXPECT_EQ(Wizard().NextButton()->text(), QStringLiteral("Finish"));
    EXPECT_FALSE(Wizard().NextButton()->isEnabled());
    EXPECT_EQ(Wizard().CancelButton()->text(), QStringLiteral("Cancel"));
    EXPECT_TRUE(Wizard().CancelButton()->isDefault());
    EXPECT_EQ(Wizard().focusWidget(), Wizard().CancelButton());
    EXPECT_TRUE(Wizard().BackButton()->isEnabled());
}

TEST_F(SearchPageTest, StereoFilesAreListedInTheWorkersOrderAllChecked) {
    const std::string folder = MixedFolder();
    const std::vector<std::string> expected = test::WorkerRecommendations(folder, true);
    ASSERT_EQ(expected.size(), 5u);  // a, c, d, f, h
    ASSERT_TRUE(driver_->StartSearch(folder, true));
    ASSERT_TRUE(driver_->WaitForEnd());
    EXPECT_EQ(driver_->Status(), QStringLiteral("Search completed."));
    EXPECT_EQ(RowPaths(), expected);
    for (int row = 0; row < List()->Model().RowCount(); ++row) EXPECT_EQ(List()->Model().RowAt(row).checked, 1);
    EXPECT_TRUE(List()->isVisible());
    EXPECT_EQ(Page()->CountLine()->text(), QStringLiteral("5 files recommended for conversion:"));
    EXPECT_TRUE(Page()->Hint()->isVisible());
    EXPECT_EQ(Page()->Hint()->text(), QStringLiteral("Click Finish to add the checked files."));
    EXPECT_TRUE(Page()->ToolBar()->isVisible());
    EXPECT_FALSE(Page()->ProgressBar()->isVisible());
    EXPECT_TRUE(Wizard().NextButton()->isEnabled());
    EXPECT_TRUE(Wizard().NextButton()->isDefault());
    EXPECT_EQ(Wizard().focusWidget(), Wizard().NextButton());
    EXPECT_EQ(Wizard().CancelButton()->text(), QStringLiteral("Cancel"));
}

TEST_F(SearchPageTest, StereoFilesOfEveryFurtherFormatAreListedAndMonoOnesAreNot) {
    const std::string folder = Folder("formats");
    std::set<std::string> stereo;
    for (const std::string& extension : test::search::FormatExtensions()) {
        test::search::WriteFormatFile(folder + "/mono." + extension, 1);
        test::search::WriteFormatFile(folder + "/stereo." + extension, 2);
        stereo.insert(folder + "/stereo." + extension);
    }
    ASSERT_TRUE(driver_->StartSearch(folder, false));
    ASSERT_TRUE(driver_->WaitForEnd());
    const std::vector<std::string> rows = RowPaths();
    EXPECT_EQ(std::set<std::string>(rows.begin(), rows.end()), stereo);
    EXPECT_EQ(rows.size(), stereo.size());
}

TEST_F(SearchPageTest, WithoutSubFoldersOnlyTheFolderItselfIsSearched) {
    const std::string folder = MixedFolder();
    ASSERT_TRUE(driver_->StartSearch(folder, false));
    ASSERT_TRUE(driver_->WaitForEnd());
    EXPECT_EQ(RowPaths(), test::WorkerRecommendations(folder, false));
    EXPECT_EQ(driver_->Rows(), 3);
    for (const std::string& path : RowPaths()) EXPECT_EQ(path.find("/sub/"), std::string::npos) << path;
}

TEST_F(SearchPageTest, EndOfARunIsForwardedToTheFrameWithTheRowCount) {
    const std::string folder = MixedFolder();
    std::vector<std::pair<uintptr_t, intptr_t>> forwarded;
    struct Watch : QObject {
        std::vector<std::pair<uintptr_t, intptr_t>>* seen = nullptr;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == static_cast<QEvent::Type>(kSearchNotify)) {
                const auto* notify = static_cast<PortEvent*>(event);
                seen->emplace_back(notify->WParam(), notify->LParam());
            }
            return false;
        }
    } watch;
    watch.seen = &forwarded;
    Wizard().installEventFilter(&watch);
    ASSERT_TRUE(driver_->StartSearch(folder, true));
    ASSERT_TRUE(driver_->WaitForEnd());
    Wizard().removeEventFilter(&watch);
    ASSERT_EQ(forwarded.size(), 1u);
    EXPECT_EQ(forwarded[0].first, kSearchCompleted);
    EXPECT_EQ(forwarded[0].second, 5);
}

TEST_F(SearchPageTest, FinishReturnsTheCheckedRowsInDisplayOrder) {
    const std::string folder = MixedFolder();
    ASSERT_TRUE(driver_->StartSearch(folder, true));
    ASSERT_TRUE(driver_->WaitForEnd());
    std::vector<std::string> expected = RowPaths();
    // A click on the second row's check box.
    const QRect cell = List()->visualRect(List()->Model().index(1, SearchResultModel::kCheckColumn));
    test::ClickAt(List()->viewport(), cell.center());
    ASSERT_EQ(List()->Model().RowAt(1).checked, 0);
    expected.erase(expected.begin() + 1);
    Wizard().NextButton()->click();
    EXPECT_FALSE(Wizard().isVisible());
    EXPECT_EQ(Wizard().result(), QDialog::Accepted);
    EXPECT_EQ(Wizard().Output(), test::ToQStrings(expected));
}

TEST_F(SearchPageTest, FinishWithEveryRowUncheckedReturnsNothing) {
    const std::string folder = MixedFolder();
    ASSERT_TRUE(driver_->StartSearch(folder, true));
    ASSERT_TRUE(driver_->WaitForEnd());
    Page()->UncheckAllAction()->trigger();
    for (int row = 0; row < driver_->Rows(); ++row) EXPECT_EQ(List()->Model().RowAt(row).checked, 0);
    Wizard().NextButton()->click();
    EXPECT_EQ(Wizard().result(), QDialog::Accepted);
    EXPECT_TRUE(Wizard().Output().isEmpty());
}

TEST_F(SearchPageTest, CheckAllChecksEveryRowAgain) {
    const std::string folder = MixedFolder();
    ASSERT_TRUE(driver_->StartSearch(folder, true));
    ASSERT_TRUE(driver_->WaitForEnd());
    Page()->UncheckAllAction()->trigger();
    Page()->CheckAllAction()->trigger();
    Wizard().NextButton()->click();
    EXPECT_EQ(Wizard().Output(), test::ToQStrings(RowPaths()));
}

TEST_F(SearchPageTest, RunSearchWizardReturnsTheCheckedPaths) {
    const std::string folder = MixedFolder();
    const std::vector<std::string> expected = test::WorkerRecommendations(folder, true);
    bool driven = false;
    test::ModalAnswer answer([&](QWidget* modal) {
        auto* wizard = qobject_cast<VeSearchWizard*>(modal);
        if (!wizard) return;
        wizard->NextButton()->click();
        wizard->FolderPage()->FolderEdit()->setText(QString::fromStdString(folder));
        wizard->FolderPage()->SubFoldersBox()->setChecked(true);
        wizard->NextButton()->click();
        driven = test::WaitFor([wizard] { return wizard->NextButton()->isEnabled(); }, std::chrono::seconds(60));
        wizard->NextButton()->click();
    });
    const QStringList paths = RunSearchWizard(&driver_->Owner());
    EXPECT_TRUE(driven);
    EXPECT_EQ(paths, test::ToQStrings(expected));
}

TEST_F(SearchPageTest, RunSearchWizardCancelledReturnsNothing) {
    test::ModalAnswer answer([](QWidget* modal) {
        if (auto* wizard = qobject_cast<VeSearchWizard*>(modal)) wizard->CancelButton()->click();
    });
    EXPECT_TRUE(RunSearchWizard(&driver_->Owner()).isEmpty());
    EXPECT_TRUE(answer.Answered());
}

TEST_F(SearchPageTest, CancelAfterTheSearchClosesAtOnce) {
    ASSERT_TRUE(driver_->StartSearch(MixedFolder(), true));
    ASSERT_TRUE(driver_->WaitForEnd());
    Wizard().CancelButton()->click();
    EXPECT_FALSE(Wizard().isVisible());
    EXPECT_EQ(Wizard().result(), QDialog::Rejected);
    EXPECT_TRUE(Wizard().Output().isEmpty());
}

TEST_F(SearchPageTest, WhileAnalysingTheStatusShowsTheFileAndTheBarAdvances) {
    ASSERT_TRUE(driver_->StartSearch(SlowFolder(), false));
    // "Analyzing " and the path, shortened in its middle: the name's end stays.
    ASSERT_TRUE(test::WaitFor(
        [this] {
            const QString status = driver_->Status();
            return status.startsWith(QStringLiteral("Analyzing /")) && status.endsWith(QStringLiteral(".mp3"));
        },
        std::chrono::seconds(60)));
    const QString status = driver_->Status();
    EXPECT_LE(QFontMetrics(Page()->StatusLine()->font()).horizontalAdvance(status),
              Page()->StatusLine()->contentsRect().width());
    EXPECT_TRUE(Page()->ProgressBar()->isVisible());
    EXPECT_EQ(Page()->ProgressBar()->maximum(), kSlowFiles);
    EXPECT_TRUE(test::WaitFor([this] { return Page()->ProgressBar()->value() >= 2; }, std::chrono::seconds(60)));
    EXPECT_FALSE(Page()->BusyStrip()->isVisible());
    EXPECT_FALSE(Wizard().NextButton()->isEnabled());
    EXPECT_EQ(Wizard().CancelButton()->text(), QStringLiteral("Abort"));
    EXPECT_EQ(driver_->Title(), QStringLiteral("Step 2 of 2 - Searching... Please Wait"));
    EXPECT_TRUE(driver_->WaitForEnd());
}

TEST_F(SearchPageTest, AbortAnsweredNoLetsTheSearchComplete) {
    ASSERT_TRUE(driver_->StartSearch(SlowFolder(), false));
    ASSERT_TRUE(driver_->WaitForRows(1));
    ASSERT_TRUE(Page()->IsSearching());
    const SeenMessageBox seen = AnswerAbortQuestion(QMessageBox::No);
    EXPECT_EQ(seen.text, QStringLiteral("Abort search process?"));
    EXPECT_EQ(seen.caption, QStringLiteral("Confirm Abort"));
    EXPECT_EQ(seen.icon, QMessageBox::Question);
    EXPECT_EQ(seen.buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(seen.default_button, QMessageBox::No);
    EXPECT_TRUE(Wizard().isVisible());
    ASSERT_TRUE(driver_->WaitForEnd());
    EXPECT_EQ(driver_->LastEndCode(), static_cast<int>(kSearchCompleted));
    EXPECT_EQ(driver_->Status(), QStringLiteral("Search completed."));
    EXPECT_EQ(driver_->Rows(), kSlowFiles);
}

TEST_F(SearchPageTest, AbortAnsweredYesKeepsTheRowsFoundSoFar) {
    ASSERT_TRUE(driver_->StartSearch(SlowFolder(), false));
    ASSERT_TRUE(driver_->WaitForRows(2));
    AnswerAbortQuestion(QMessageBox::Yes);
    EXPECT_TRUE(Wizard().isVisible());
    ASSERT_TRUE(driver_->WaitForEnd());
    EXPECT_EQ(driver_->LastEndCode(), static_cast<int>(kSearchAborted));
    EXPECT_EQ(driver_->Status(), QStringLiteral("Search aborted."));
    EXPECT_EQ(driver_->Title(), QStringLiteral("Step 2 of 2 - Searching... Aborted"));
    const int rows = driver_->Rows();
    EXPECT_GE(rows, 2);
    EXPECT_LT(rows, kSlowFiles);
    EXPECT_EQ(Page()->CountLine()->text(), QStringLiteral("%1 files recommended for conversion:").arg(rows));
    EXPECT_TRUE(Wizard().NextButton()->isEnabled());
    EXPECT_TRUE(Wizard().BackButton()->isEnabled());
    EXPECT_EQ(Wizard().CancelButton()->text(), QStringLiteral("Cancel"));
    EXPECT_TRUE(Wizard().CancelButton()->isDefault());
    EXPECT_EQ(Wizard().focusWidget(), Wizard().CancelButton());
    const std::vector<std::string> found = RowPaths();
    Wizard().NextButton()->click();
    EXPECT_EQ(Wizard().result(), QDialog::Accepted);
    EXPECT_EQ(Wizard().Output(), test::ToQStrings(found));
}

TEST_F(SearchPageTest, CloseBoxWhileSearchingAsksAndKeepsTheDialogOpen) {
    ASSERT_TRUE(driver_->StartSearch(SlowFolder(), false));
    ASSERT_TRUE(driver_->WaitForRows(1));
    const SeenMessageBox seen = AnswerAbortQuestion(QMessageBox::No, [this] { EXPECT_FALSE(Wizard().close()); });
    EXPECT_EQ(seen.text, QStringLiteral("Abort search process?"));
    EXPECT_TRUE(Wizard().isVisible());
    EXPECT_EQ(Wizard().PageIndex(), VeSearchWizard::kSearchPage);
    EXPECT_TRUE(driver_->WaitForEnd());
    EXPECT_TRUE(Wizard().isVisible());
}

TEST_F(SearchPageTest, EscapeWhileSearchingAsksAndKeepsTheDialogOpen) {
    ASSERT_TRUE(driver_->StartSearch(SlowFolder(), false));
    ASSERT_TRUE(driver_->WaitForRows(1));
    const SeenMessageBox seen =
        AnswerAbortQuestion(QMessageBox::Yes, [this] { test::KeyPress(&Wizard(), Qt::Key_Escape); });
    EXPECT_EQ(seen.text, QStringLiteral("Abort search process?"));
    EXPECT_TRUE(Wizard().isVisible());
    ASSERT_TRUE(driver_->WaitForEnd());
    EXPECT_EQ(driver_->Status(), QStringLiteral("Search aborted."));
    EXPECT_TRUE(Wizard().isVisible());
}

TEST_F(SearchPageTest, TheQuestionPausesTheWorker) {
    ASSERT_TRUE(driver_->StartSearch(SlowFolder(), false));
    ASSERT_TRUE(driver_->WaitForRows(1));
    int at_open = -1, after_window = -1;
    bool moved = true;
    ModalSteps steps;
    steps.Then(test::IsMessageBox(), [&](QWidget* box) {
        // What the worker posted before it stopped may still come in; after that nothing
        // may, although a running analysis would post two notices per file.
        at_open = driver_->Notices();
        moved = test::WaitFor([&] { return driver_->Notices() > at_open + 6; }, std::chrono::milliseconds(1500));
        after_window = driver_->Notices();
        test::Press(QMessageBox::No)(box);
    });
    Wizard().CancelButton()->click();
    ASSERT_TRUE(steps.AllDone());
    EXPECT_FALSE(moved) << "notices while the question was open: " << after_window - at_open;
    // Resumed, it goes on to the end.
    ASSERT_TRUE(driver_->WaitForEnd());
    EXPECT_GT(driver_->Notices(), after_window);
    EXPECT_EQ(driver_->Status(), QStringLiteral("Search completed."));
    EXPECT_EQ(driver_->Rows(), kSlowFiles);
}

TEST_F(SearchPageTest, BackAndNextStartAFreshSearchWithAnEmptiedList) {
    const std::string folder = MixedFolder();
    ASSERT_TRUE(driver_->StartSearch(folder, true));
    ASSERT_TRUE(driver_->WaitForEnd());
    const std::vector<std::string> first = RowPaths();
    ASSERT_EQ(first.size(), 5u);
    Wizard().BackButton()->click();
    EXPECT_EQ(Wizard().PageIndex(), VeSearchWizard::kFolderPage);
    EXPECT_EQ(driver_->Title(), QStringLiteral("Step 1 of 2 - Select a Folder"));
    EXPECT_EQ(Wizard().NextButton()->text(), QStringLiteral("Next >"));
    EXPECT_TRUE(Wizard().NextButton()->isDefault());
    Wizard().NextButton()->click();
    // The page is reset before the new run can report anything.
    EXPECT_EQ(driver_->Rows(), 0);
    EXPECT_FALSE(List()->isVisibleTo(Page()));
    EXPECT_FALSE(Page()->CountLine()->isVisibleTo(Page()));
    EXPECT_FALSE(Page()->ToolBar()->isVisibleTo(Page()));
    EXPECT_TRUE(driver_->Status().isEmpty());
    EXPECT_EQ(driver_->Title(), QStringLiteral("Step 2 of 2 - Searching... Please Wait"));
    ASSERT_TRUE(driver_->WaitForEnd(2));
    EXPECT_EQ(RowPaths(), first);
}

TEST_F(SearchPageTest, SecondSearchUsesTheFolderNowTyped) {
    ASSERT_TRUE(driver_->StartSearch(MixedFolder(), true));
    ASSERT_TRUE(driver_->WaitForEnd());
    const std::string other = Folder("other");
    test::MakeStereoWav(other + "/only.wav");
    Wizard().BackButton()->click();
    Wizard().FolderPage()->FolderEdit()->setText(QString::fromStdString(other));
    Wizard().NextButton()->click();
    ASSERT_TRUE(driver_->WaitForEnd(2));
    EXPECT_EQ(RowPaths(), std::vector<std::string>{other + "/only.wav"});
    EXPECT_EQ(Page()->CountLine()->text(), QStringLiteral("1 files recommended for conversion:"));
}

TEST_F(SearchPageTest, FolderThatVanishedAfterValidationEndsAborted) {
    ASSERT_TRUE(driver_->Show());
    Wizard().NextButton()->click();
    Wizard().FolderPage()->FolderEdit()->setText(QString::fromStdString(scratch_.File("vanished")));
    // Past the validation, as when the folder goes between Next and the start.
    Wizard().SetPage(VeSearchWizard::kSearchPage);
    ASSERT_TRUE(driver_->WaitForEnd(1));
    EXPECT_EQ(driver_->LastEndCode(), static_cast<int>(kSearchAborted));
    EXPECT_EQ(driver_->Status(), QStringLiteral("Search aborted."));
    EXPECT_EQ(driver_->Title(), QStringLiteral("Step 2 of 2 - Searching... Aborted"));
    EXPECT_EQ(Page()->CountLine()->text(), QStringLiteral("No files recommended for conversion."));
    EXPECT_FALSE(Wizard().NextButton()->isEnabled());
    EXPECT_TRUE(Wizard().CancelButton()->isDefault());
}

TEST_F(SearchPageTest, FocusInTheListMovesIntoTheFolderPageOnBack) {
    ASSERT_TRUE(driver_->StartSearch(MixedFolder(), true));
    ASSERT_TRUE(driver_->WaitForEnd());
    List()->setFocus();
    Wizard().BackButton()->click();
    EXPECT_EQ(Wizard().focusWidget(), Wizard().FolderPage()->FolderEdit());
}

std::string ReadLine(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// The ids of this process's threads that carry the program's own name, as a std::thread does;
// Qt's and GLib's pooled threads name themselves and may linger for a while by design.
std::set<std::string> ThreadIds() {
    const std::string program = ReadLine("/proc/self/comm");
    std::set<std::string> ids;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
        if (ReadLine(entry.path() / "comm") == program) ids.insert(entry.path().filename());
    return ids;
}

TEST_F(SearchPageTest, ClosingTheWizardWhileSearchingStopsTheWorkerAndWaitsForIt) {
    const std::string folder = SlowFolder();
    const std::set<std::string> before = ThreadIds();
    ASSERT_TRUE(driver_->StartSearch(folder, false));
    ASSERT_TRUE(driver_->WaitForRows(1));
    ASSERT_TRUE(Page()->IsSearching());
    std::set<std::string> started;
    for (const std::string& id : ThreadIds())
        if (!before.count(id)) started.insert(id);
    ASSERT_FALSE(started.empty());
    // The wizard goes while its search runs: its page aborts the worker and waits for the
    // thread, so the thread is gone when the wizard is.
    driver_->Reopen();
    const std::set<std::string> after = ThreadIds();
    for (const std::string& id : started) EXPECT_EQ(after.count(id), 0u) << "thread " << id << " still runs";
}

// The search page on its own, for its layout and commands.
class SearchPageLayoutTest : public ::testing::Test {
protected:
    QWidget frame_;
    VeWizardSearchPage page_{nullptr, &frame_};
};

TEST_F(SearchPageLayoutTest, StripAndBarShareOneRectangleWithTheCountLineAtItsLeft) {
    page_.setFont(QFont(QStringLiteral("Tahoma"), 8));
    const QFontMetrics metrics(page_.font());
    const int bx = (metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 26 + 1) / 2;
    const int by = metrics.height();
    auto rect = [&](int l, int t, int w, int h) {
        return QRect((l * bx + 2) / 4, (t * by + 4) / 8, (w * bx + 2) / 4, (h * by + 4) / 8);
    };
    const QRect shared = rect(22, 25, 64, 12).united(rect(252, 25, 60, 12));
    EXPECT_EQ(page_.SharedRect(), shared);
    EXPECT_EQ(page_.BusyStrip()->geometry(), shared);
    EXPECT_EQ(page_.ProgressBar()->geometry(), shared);
    EXPECT_EQ(page_.CountLine()->geometry(), QRect(shared.left(), rect(96, 26, 145, 8).top(), rect(96, 26, 145, 8).width(),
                                                   rect(96, 26, 145, 8).height()));
    EXPECT_EQ(page_.ToolBar()->geometry().right(), shared.right());
    EXPECT_EQ(page_.ToolBar()->geometry().top(), shared.top() - 2);
    EXPECT_EQ(page_.StatusLine()->geometry(), rect(9, 9, 301, 8));
    EXPECT_EQ(page_.ResultList()->geometry(), rect(22, 42, 290, 100));
    EXPECT_EQ(page_.Hint()->geometry(), rect(22, 149, 290, 8));
}

TEST_F(SearchPageLayoutTest, EverythingButTheStatusLineIsHiddenAtFirst) {
    EXPECT_FALSE(page_.BusyStrip()->isVisibleTo(&page_));
    EXPECT_FALSE(page_.CountLine()->isVisibleTo(&page_));
    EXPECT_FALSE(page_.ProgressBar()->isVisibleTo(&page_));
    EXPECT_FALSE(page_.ResultList()->isVisibleTo(&page_));
    EXPECT_FALSE(page_.Hint()->isVisibleTo(&page_));
    EXPECT_FALSE(page_.ToolBar()->isVisibleTo(&page_));
    EXPECT_TRUE(page_.StatusLine()->isVisibleTo(&page_));
}

TEST_F(SearchPageLayoutTest, ToolBarHasTwoButtonsWithTheirTipsAndTransparentMagenta) {
    const QList<QAction*> actions = page_.ToolBar()->actions();
    ASSERT_EQ(actions.size(), 2);
    EXPECT_EQ(actions[0]->toolTip(), QStringLiteral("Check All Files"));
    EXPECT_EQ(actions[1]->toolTip(), QStringLiteral("Uncheck All Files"));
    EXPECT_EQ(actions[0]->data().toInt(), 32781);
    EXPECT_EQ(actions[1]->data().toInt(), 32782);
    EXPECT_EQ(page_.ToolBar()->iconSize(), QSize(16, 16));
    for (QAction* action : actions) {
        const QImage icon = action->icon().pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
        // The strip's corner is magenta: it must come out transparent; the boxes are opaque.
        EXPECT_EQ(qAlpha(icon.pixel(15, 0)), 0);
        EXPECT_EQ(qAlpha(icon.pixel(8, 10)), 255);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) EXPECT_NE(icon.pixel(x, y) & 0xFFFFFFu, 0xFF00FFu) << x << "," << y;
    }
}

TEST_F(SearchPageLayoutTest, ToolBarCommandsSetEveryRow) {
    page_.ResultList()->Model().Append({"/a/1.wav", "/a/2.wav", "/b/3.mp3"});
    page_.ResultList()->Model().SetChecked(1, false);
    page_.CheckAllAction()->trigger();
    EXPECT_EQ(page_.ResultList()->Model().CheckedPaths().size(), 3u);
    page_.UncheckAllAction()->trigger();
    EXPECT_TRUE(page_.ResultList()->Model().CheckedPaths().empty());
}

TEST_F(SearchPageLayoutTest, AnalyzingTextShortensALongPathInTheMiddleToFit) {
    page_.show();
    const QString path = QStringLiteral("/home/user/Music/") + QString(40, QChar('x')) + QStringLiteral("/") +
                         QString(40, QChar('y')) + QStringLiteral("/last song.mp3");
    const QString text = page_.AnalyzingText(path);
    EXPECT_TRUE(text.startsWith(QStringLiteral("Analyzing /home")));
    EXPECT_TRUE(text.endsWith(QStringLiteral("song.mp3")));
    EXPECT_TRUE(text.contains(QChar(0x2026)));
    EXPECT_LE(QFontMetrics(page_.StatusLine()->font()).horizontalAdvance(text), page_.StatusLine()->contentsRect().width());
    EXPECT_EQ(page_.AnalyzingText(QStringLiteral("/a/b.wav")), QStringLiteral("Analyzing /a/b.wav"));
}

TEST_F(SearchPageLayoutTest, CountLineTexts) {
    EXPECT_EQ(VeWizardSearchPage::CountText(0), QStringLiteral("No files recommended for conversion."));
    EXPECT_EQ(VeWizardSearchPage::CountText(1), QStringLiteral("1 files recommended for conversion:"));
    EXPECT_EQ(VeWizardSearchPage::CountText(12345), QStringLiteral("12345 files recommended for conversion:"));
    EXPECT_EQ(VeWizardSearchPage::FilteringText(42), QStringLiteral("Filtering files... 42"));
}

TEST_F(SearchPageTest, ScreenReadersFindEveryPageNamedAndItsTextsAsShown) {
    const std::string folder = Folder("one");
    test::MakeStereoWav(folder + "/a.wav");
    const auto reads = [](QWidget* widget) {
        return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
    };
    ASSERT_TRUE(driver_->Show());
    EXPECT_EQ(test::AccessibilityFaults(&Wizard()), QStringList());
    // The welcome banner draws no title: it reads as the wizard's caption.
    EXPECT_EQ(reads(Wizard().Banner()), QStringLiteral("Add by Search Wizard"));
    Wizard().NextButton()->click();
    ASSERT_EQ(Wizard().PageIndex(), VeSearchWizard::kFolderPage);
    EXPECT_EQ(test::AccessibilityFaults(&Wizard()), QStringList());
    EXPECT_EQ(reads(Wizard().Banner()), QStringLiteral("Step 1 of 2 - Select a Folder"));
    ASSERT_TRUE(driver_->StartSearch(folder, false));
    ASSERT_TRUE(driver_->WaitForEnd());
    ASSERT_TRUE(List()->isVisible());
    EXPECT_EQ(test::AccessibilityFaults(&Wizard()), QStringList());
    EXPECT_EQ(reads(Wizard().Banner()), QStringLiteral("Step 2 of 2 - Searching... Completed"));
    EXPECT_EQ(reads(Page()->StatusLine()), QStringLiteral("Search completed."));
    EXPECT_EQ(reads(Page()->CountLine()), QStringLiteral("1 files recommended for conversion:"));
}

}  // namespace
}  // namespace chm
