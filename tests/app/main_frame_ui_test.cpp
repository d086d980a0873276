// The main frame on real widgets: its size and title, the animated title of a running and a
// stopped conversion, its place at the first showing, closing (with and without a running
// conversion), the settings it saves, and the options dialog it opens.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTextStream>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/app_settings.h"
#include "app/conversion_report.h"
#include "app/main_frame.h"
#include "app/options_dialog.h"
#include "app/startup.h"
#include "engine/conversion_worker.h"
#include "engine/file_list_item.h"
#include "tests/app/app_ui_test_support.h"
#include "tests/support/test_files.h"
#include "tests/ui/ui_test_support.h"
#include "ui/file_list_model.h"
#include "ui/file_list_view.h"
#include "ui/filter_dialog.h"
#include "ui/output_box.h"
#include "ui/task_progress_draw.h"
#include "ui/work_view.h"

namespace chm {
namespace {

using namespace std::chrono_literals;

const QString kConverting = QStringLiteral("Tavorin - Converting...  ");
const QString kAborting = QStringLiteral("Tavorin - Aborting...  ");

QRect WorkArea() { return QGuiApplication::primaryScreen()->availableGeometry(); }

// Notes whether the conversion still ran when the frame was hidden.
class HideWatch : public QObject {
public:
    explicit HideWatch(MainFrame& frame) : frame_(frame) { frame.installEventFilter(this); }
    ~HideWatch() override {
        if (MainFrame::Existing() == &frame_) frame_.removeEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &frame_ && event->type() == QEvent::Hide && !hidden) {
            hidden = true;
            VeWorkView* view = frame_.WorkView();
            worker_running_at_hide = view && view->Worker() && view->Worker()->IsRunning();
        }
        return false;
    }

    bool hidden = false;
    bool worker_running_at_hide = false;

private:
    MainFrame& frame_;
};

class MainFrameTest : public ::testing::Test {
protected:
    void SetUp() override { test::ResetSettings(); }

    void TearDown() override {
        DestroyFrame();
        test::ResetSettings();
    }

    // A frame's destruction asks the application's loop to end (with 1); it is done inside
    // that loop, as in the program, so that the request is spent when the loop returns.
    static int DestroyFrame() {
        MainFrame* frame = MainFrame::Existing();
        if (!frame) return 0;
        if (!frame->IsCreated() || frame->IsWindowDestroyed()) {
            MainFrame::DestroyInstance();  // no window to destroy: nothing asks the loop to end
            return 0;
        }
        QTimer::singleShot(0, [] { MainFrame::DestroyInstance(); });
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(-100); });
        guard.start(60000);
        return QApplication::exec();
    }

    // The process's frame, created (settings loaded) but not shown.
    MainFrame& MakeFrame() {
        MainFrame& frame = MainFrame::Instance();
        EXPECT_TRUE(frame.Create());
        return frame;
    }

    MainFrame& ShowFrame() {
        MainFrame& frame = MakeFrame();
        frame.show();
        test::RunLoopUntil([&frame] { return frame.isVisible(); }, 5s);
        return frame;
    }

    std::string MakeWav(const std::string& name, double seconds = 0.5) {
        const std::string path = scratch_.File(name);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        test::WriteStereoWav(path, seconds);
        return path;
    }

    void Add(MainFrame& frame, const std::vector<std::string>& paths) {
        QStringList list;
        for (const std::string& path : paths) list << QString::fromStdString(path);
        frame.WorkView()->AddPaths(list);
    }

    FileListModel& Model(MainFrame& frame) { return frame.WorkView()->FileList()->Model(); }

    void Press(MainFrame& frame, int id) { frame.WorkView()->Button(id)->click(); }

    bool WaitUntilFirstRowRuns(MainFrame& frame) {
        return test::RunLoopUntil([&] {
            const RowProgress& p = Model(frame).Item(0).Progress();
            return p.Total() > 0 && p.Done() > 0 && p.Done() < p.Total() && frame.WorkView()->IsBusy();
        }, 60s);
    }

    // Closes the frame from inside the application's loop, as the close box does, and gives
    // the loop's exit code; -100 when the loop did not end.
    int CloseInLoop(MainFrame& frame) {
        QTimer::singleShot(0, &frame, [&frame] { frame.close(); });
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(-100); });
        guard.start(60000);
        return QApplication::exec();
    }

    // Answers the question "Are you sure you want to stop conversion and exit?" with `answer`
    // only once the run behind it has ended.
    std::unique_ptr<test::ModalAnswer> AnswerTheExitQuestionAfterTheRun(MainFrame& frame,
                                                                      QMessageBox::StandardButton answer) {
        return std::make_unique<test::ModalAnswer>([this, &frame, answer](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            if (!box) {
                modal->close();
                return;
            }
            test::WaitFor([&frame] { return !frame.WorkView()->IsBusy(); }, 120s);
            ran_to_end_ = ProgressText(Model(frame).Item(0).Progress()) == QStringLiteral("100%");
            box->button(answer)->click();
        }, 60s);
    }

    // Converts a ten-minute file, and from now on counts every conversion report that opens,
    // notes whether one came while a message box was still open under it, and closes it. True
    // once the file is being converted.
    bool StartALongRunWatchingForReports(MainFrame& frame) {
        Add(frame, {MakeWav("long.wav", 600)});
        Press(frame, VeWorkView::kConvertButton);
        report_watch_.setInterval(10);
        QObject::connect(&report_watch_, &QTimer::timeout, [this] {
            auto* report = qobject_cast<ConversionReport*>(QApplication::activeModalWidget());
            if (!report || !report->isVisible()) return;
            ++reports_;
            for (QWidget* top : QApplication::topLevelWidgets())
                if (qobject_cast<QMessageBox*>(top) && top->isVisible()) over_question_ = true;
            report->CloseButton()->click();
        });
        report_watch_.start();
        return WaitUntilFirstRowRuns(frame);
    }

    test::ScratchDir scratch_;
    QTimer report_watch_;
    bool ran_to_end_ = false;
    bool over_question_ = false;
    int reports_ = 0;
};

// "Open With": the files and folders a start is given are listed as a drop lists them (a
// folder's supported files, relative names from the working folder); an option or a missing
// path is left out with one line.
TEST_F(MainFrameTest, AStartsFilesAndFoldersAreListedAsADropListsThem) {
    const std::string song = MakeWav("song.wav");
    const std::string track = MakeWav("album/track.wav");
    test::WriteTextFile(scratch_.File("album/notes.txt"), "no audio");
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(scratch_.Path())));
    QString said;
    QTextStream errors(&said);
    const QStringList paths =
        StartPaths({"song.wav", "album/", "-geometry", "gone.wav", "--", "-named.wav"}, errors);
    QDir::setCurrent(before);
    EXPECT_EQ(paths, QStringList({QString::fromStdString(song), QString::fromStdString(scratch_.File("album"))}));
    EXPECT_EQ(said, "TavorinCHM: ignoring the unknown option '-geometry'\n"
                    "TavorinCHM: ignoring 'gone.wav': no such file or folder\n"
                    "TavorinCHM: ignoring '-named.wav': no such file or folder\n");
    MainFrame& frame = ShowFrame();
    AddStartPaths(frame, paths);
    ASSERT_TRUE(test::RunLoopUntil([&] { return Model(frame).RowCount() == 2; }, 10s));
    std::vector<std::string> listed;
    for (int row = 0; row < Model(frame).RowCount(); ++row) listed.push_back(Model(frame).Item(row).Path());
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (std::vector<std::string>{track, song}));
    EXPECT_TRUE(frame.WorkView()->FileList()->isVisible());
}

// With "Recreate the source folders in the output folder", a folder's files land below the
// output folder as they lay below the folder added; a file added alone goes directly into it.
TEST_F(MainFrameTest, AnAddedFoldersTreeIsRecreatedInTheOutputFolder) {
    AppSettings::Instance().show_conversion_report = false;
    AppSettings::Instance().keep_tree = true;
    const std::string lib = scratch_.File("lib");
    const std::string out = scratch_.File("out");
    std::filesystem::create_directories(out);
    for (const char* name : {"lib/A/01 Intro.wav", "lib/B/01 Intro.wav", "lib/B/C/01 Intro.wav"}) MakeWav(name, 0.2);
    const std::string alone = MakeWav("alone/01 Intro.wav", 0.2);
    MainFrame& frame = ShowFrame();
    Add(frame, {lib, alone});
    ASSERT_TRUE(test::RunLoopUntil([&] { return Model(frame).RowCount() == 4; }, 10s));
    frame.WorkView()->OutputBox()->SetValue(QString::fromStdString(out));
    Press(frame, VeWorkView::kConvertButton);
    ASSERT_TRUE(test::RunLoopUntil([&] { return !frame.WorkView()->IsBusy(); }, 60s));
    for (const char* name : {"A/01 Intro.wav", "B/01 Intro.wav", "B/C/01 Intro.wav", "01 Intro.wav"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(test::ProbeChannels(out + "/" + name), 1);
    }
}

TEST_F(MainFrameTest, TheClientAreaIsTheWorkViewAndTheSizeIsFixed) {
    MainFrame& frame = MakeFrame();
    EXPECT_EQ(frame.size(), QSize(740, 534));
    EXPECT_EQ(frame.minimumSize(), frame.maximumSize());
    EXPECT_FALSE(frame.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(frame.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(frame.windowFlags() & Qt::WindowCloseButtonHint);
    ASSERT_NE(frame.WorkView(), nullptr);
    EXPECT_EQ(frame.WorkView()->size(), QSize(740, 534));
    EXPECT_EQ(frame.WorkView()->mapTo(&frame, QPoint(0, 0)), QPoint(0, 0));
    EXPECT_EQ(frame.windowTitle(), QStringLiteral("Tavorin Channel Merger"));
    EXPECT_FALSE(frame.windowIcon().isNull());
}

TEST_F(MainFrameTest, TheAccessorGivesTheOneFrame) {
    EXPECT_EQ(MainFrame::Existing(), nullptr);
    MainFrame& frame = MainFrame::Instance();
    EXPECT_EQ(&MainFrame::Instance(), &frame);
    EXPECT_EQ(MainFrame::Existing(), &frame);
    DestroyFrame();
    EXPECT_EQ(MainFrame::Existing(), nullptr);
}

TEST_F(MainFrameTest, TheTitleTextsCarryASpinnerCharacter) {
    EXPECT_EQ(MainFrame::AnimatedTitle(MainFrame::TitleMode::kConverting, 0), kConverting + u'-');
    EXPECT_EQ(MainFrame::AnimatedTitle(MainFrame::TitleMode::kConverting, 1), kConverting + u'\\');
    EXPECT_EQ(MainFrame::AnimatedTitle(MainFrame::TitleMode::kAborting, 2), kAborting + u'|');
    EXPECT_EQ(MainFrame::AnimatedTitle(MainFrame::TitleMode::kAborting, 3), kAborting + u'/');
}

TEST_F(MainFrameTest, TheTitleAnimatesFromTheFirstTickAndTheSpinnerIsNeverReset) {
    MainFrame& frame = ShowFrame();
    frame.OnTaskNotify(kFrameConversionStarted);
    EXPECT_TRUE(frame.IsTitleTimerRunning());
    EXPECT_EQ(frame.windowTitle(), QStringLiteral("Tavorin Channel Merger"));  // changes at the first tick
    const int before = MainFrame::SpinnerCounter();
    ASSERT_TRUE(test::RunLoopUntil([&] { return frame.windowTitle() != QStringLiteral("Tavorin Channel Merger"); }, 5s));
    EXPECT_EQ(frame.windowTitle(), kConverting + MainFrame::SpinnerCharacter(before + 1));
    frame.OnTaskNotify(kFrameAbortRequested);
    ASSERT_TRUE(test::RunLoopUntil([&] { return frame.windowTitle().startsWith(kAborting); }, 5s));
    frame.OnTaskNotify(kFrameConversionEnded);
    EXPECT_FALSE(frame.IsTitleTimerRunning());
    EXPECT_EQ(frame.windowTitle(), QStringLiteral("Tavorin Channel Merger"));
    // The next run goes on from where this one's spinner stopped.
    const int stopped = MainFrame::SpinnerCounter();
    frame.OnTaskNotify(kFrameConversionStarted);
    ASSERT_TRUE(test::RunLoopUntil([&] { return frame.windowTitle() != QStringLiteral("Tavorin Channel Merger"); }, 5s));
    EXPECT_EQ(frame.windowTitle(), kConverting + MainFrame::SpinnerCharacter(stopped + 1));
    frame.OnTaskNotify(kFrameConversionEnded);
}

TEST_F(MainFrameTest, ARunAnimatesTheTitleAndEndsWithTheNormalTitle) {
    AppSettings::Instance().show_conversion_report = false;
    MainFrame& frame = ShowFrame();
    // A ten-minute file converts in a third of a second, before the first 500 ms tick: four
    // links to it make a run that lasts several ticks.
    const std::string first = MakeWav("long.wav", 600);
    std::vector<std::string> files{first};
    for (int i = 2; i <= 4; ++i) {
        files.push_back(scratch_.File("long" + std::to_string(i) + ".wav"));
        std::filesystem::create_hard_link(first, files.back());
    }
    Add(frame, files);
    Press(frame, VeWorkView::kConvertButton);
    ASSERT_TRUE(test::RunLoopUntil([&] { return frame.windowTitle().startsWith(kConverting); }, 30s));
    EXPECT_EQ(frame.windowTitle().size(), kConverting.size() + 1);
    ASSERT_TRUE(test::RunLoopUntil([&] { return !frame.WorkView()->IsBusy(); }, 120s));
    EXPECT_EQ(frame.windowTitle(), QStringLiteral("Tavorin Channel Merger"));
    EXPECT_FALSE(frame.IsTitleTimerRunning());
}

TEST_F(MainFrameTest, AfterAStopRequestTheNextTickShowsTheAbortingTitle) {
    MainFrame& frame = ShowFrame();
    frame.OnTaskNotify(kFrameConversionStarted);
    ASSERT_TRUE(test::RunLoopUntil([&] { return frame.windowTitle().startsWith(kConverting); }, 5s));
    const QString converting = frame.windowTitle();
    frame.OnTaskNotify(kFrameAbortRequested);
    EXPECT_EQ(frame.windowTitle(), converting);  // unchanged until the tick
    ASSERT_TRUE(test::RunLoopUntil([&] { return frame.windowTitle() != converting; }, 5s));
    EXPECT_EQ(frame.windowTitle(), kAborting + MainFrame::SpinnerCharacter(MainFrame::SpinnerCounter()));
    frame.OnTaskNotify(kFrameConversionEnded);
    EXPECT_EQ(frame.windowTitle(), QStringLiteral("Tavorin Channel Merger"));
}

TEST_F(MainFrameTest, StoppingARunSwitchesToTheAbortingTitleUntilTheRunHasEnded) {
    AppSettings::Instance().show_conversion_report = false;
    MainFrame& frame = ShowFrame();
    Add(frame, {MakeWav("long.wav", 600), MakeWav("b.wav")});
    test::ModalAnswer no_report([](QWidget* modal) { modal->close(); }, 3s);
    Press(frame, VeWorkView::kConvertButton);
    ASSERT_TRUE(WaitUntilFirstRowRuns(frame));
    Press(frame, VeWorkView::kConvertButton);
    EXPECT_FALSE(frame.WorkView()->Button(VeWorkView::kConvertButton)->isEnabled());
    EXPECT_EQ(frame.CurrentTitleMode(), MainFrame::TitleMode::kAborting);
    // From now on a tick can only show the aborting title, until the normal title comes back
    // when the worker has ended. (The worker here ends its file within tens of milliseconds,
    // usually before the next tick.)
    std::vector<QString> titles{frame.windowTitle()};
    test::RunLoopUntil([&] {
        if (titles.back() != frame.windowTitle()) titles.push_back(frame.windowTitle());
        return !frame.WorkView()->IsBusy();
    }, 60s);
    EXPECT_EQ(titles.back(), QStringLiteral("Tavorin Channel Merger"));
    for (size_t i = 1; i + 1 < titles.size(); ++i)
        EXPECT_EQ(titles[i], kAborting + titles[i].back()) << titles[i].toStdString();
    EXPECT_FALSE(frame.IsTitleTimerRunning());
    EXPECT_EQ(ProgressText(Model(frame).Item(0).Progress()), QStringLiteral("Cancelled"));
    EXPECT_EQ(Model(frame).Item(1).Progress().Total(), 0u);
    EXPECT_FALSE(no_report.Answered());
}

TEST_F(MainFrameTest, TheOptionsButtonRunsTheOptionsDialogOverTheFrame) {
    MainFrame& frame = ShowFrame();
    QWidget* owner = nullptr;
    test::ModalAnswer answer([&](QWidget* modal) {
        auto* dialog = qobject_cast<OptionsDialog*>(modal);
        if (dialog) owner = dialog->parentWidget();
        modal->close();
    });
    Press(frame, VeWorkView::kOptionsButton);
    ASSERT_TRUE(answer.Answered());
    EXPECT_EQ(owner, &frame);
}

TEST_F(MainFrameTest, WithoutASettingsFileTheWindowOpensCentred) {
    MainFrame& frame = ShowFrame();
    const QRect area = WorkArea();
    const QSize size = frame.frameGeometry().size();
    EXPECT_EQ(frame.frameGeometry().topLeft(),
              QPoint(area.left() + (area.width() - size.width()) / 2, area.top() + (area.height() - size.height()) / 2));
}

TEST_F(MainFrameTest, AStoredPlaceInsideTheWorkAreaIsKept) {
    const QRect area = WorkArea();
    AppSettings::Instance().main_frame_x = area.left() + std::max(0, (area.width() - 740) / 3);
    AppSettings::Instance().main_frame_y = area.top() + std::max(0, (area.height() - 534) / 3);
    const QPoint stored(AppSettings::Instance().main_frame_x, AppSettings::Instance().main_frame_y);
    MainFrame& frame = ShowFrame();
    EXPECT_EQ(frame.frameGeometry().topLeft(), stored);
}

TEST_F(MainFrameTest, AStoredPlaceLeftOfOrAboveTheWorkAreaIsCentred) {
    const QRect area = WorkArea();
    AppSettings::Instance().main_frame_x = area.left() - 200;
    AppSettings::Instance().main_frame_y = area.top() + 10;
    MainFrame& frame = ShowFrame();
    const QSize size = frame.frameGeometry().size();
    EXPECT_EQ(frame.frameGeometry().topLeft(),
              QPoint(area.left() + (area.width() - size.width()) / 2, area.top() + (area.height() - size.height()) / 2));
}

TEST_F(MainFrameTest, AStoredPlaceOverTheRightOrBottomEdgeIsKept) {
    const QRect area = WorkArea();
    AppSettings::Instance().main_frame_x = area.right() - 100;
    AppSettings::Instance().main_frame_y = area.bottom() - 50;
    const QPoint stored(AppSettings::Instance().main_frame_x, AppSettings::Instance().main_frame_y);
    MainFrame& frame = ShowFrame();
    EXPECT_EQ(frame.frameGeometry().topLeft(), stored);
}

TEST_F(MainFrameTest, TheFirstPlaceRuleByItself) {
    const QRect area(0, 0, 1000, 800);
    const QSize size(740, 534);
    EXPECT_EQ(MainFrame::FirstPlace(QPoint(10, 20), size, area), QPoint(10, 20));
    EXPECT_EQ(MainFrame::FirstPlace(QPoint(-1, -1), size, area), QPoint(130, 133));
    EXPECT_EQ(MainFrame::FirstPlace(QPoint(5, -3), size, area), QPoint(130, 133));
    EXPECT_EQ(MainFrame::FirstPlace(QPoint(-8, 900), size, area), QPoint(130, 133));
    EXPECT_EQ(MainFrame::FirstPlace(QPoint(900, 700), size, area), QPoint(900, 700));
    EXPECT_EQ(MainFrame::FirstPlace(QPoint(5000, 10), size, area), QPoint(5000, 10));
}

TEST_F(MainFrameTest, ClosingWhileIdleEndsTheLoopWithOneAndSavesThePlaceAndFolder) {
    MainFrame& frame = ShowFrame();
    const QString folder = QString::fromStdString(scratch_.Path());
    frame.WorkView()->OutputBox()->SetValue(folder);
    const QPoint place = frame.frameGeometry().topLeft();
    EXPECT_EQ(CloseInLoop(frame), 1);
    EXPECT_FALSE(frame.isVisible());
    EXPECT_TRUE(frame.IsWindowDestroyed());
    EXPECT_EQ(frame.WorkView(), nullptr);
    // What the file says, read back by a fresh load.
    AppSettings::Instance().ResetToDefaults();
    ASSERT_TRUE(AppSettings::Instance().Load());
    EXPECT_EQ(AppSettings::Instance().main_frame_x, place.x());
    EXPECT_EQ(AppSettings::Instance().main_frame_y, place.y());
    EXPECT_EQ(QString::fromStdString(AppSettings::Instance().output_folder), folder);
}

TEST_F(MainFrameTest, ClosingDuringAConversionAndAnsweringNoGoesOn) {
    AppSettings::Instance().show_conversion_report = false;
    MainFrame& frame = ShowFrame();
    Add(frame, {MakeWav("long.wav", 600)});
    Press(frame, VeWorkView::kConvertButton);
    ASSERT_TRUE(WaitUntilFirstRowRuns(frame));
    QString question, caption;
    QMessageBox::StandardButton default_button = QMessageBox::NoButton;
    test::ModalAnswer answer([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box) {
            modal->close();
            return;
        }
        question = box->text();
        caption = box->windowTitle();
        default_button = box->standardButton(box->defaultButton());
        box->button(QMessageBox::No)->click();
    });
    EXPECT_FALSE(frame.close());
    ASSERT_TRUE(answer.Answered());
    EXPECT_EQ(question, QStringLiteral("Are you sure you want to stop conversion and exit?    "));
    EXPECT_EQ(caption, QStringLiteral("Confirm Exit"));
    EXPECT_EQ(default_button, QMessageBox::No);
    EXPECT_TRUE(frame.isVisible());
    EXPECT_FALSE(frame.IsWindowDestroyed());
    ASSERT_TRUE(test::RunLoopUntil([&] { return !frame.WorkView()->IsBusy(); }, 120s));
    EXPECT_EQ(ProgressText(Model(frame).Item(0).Progress()), QStringLiteral("100%"));
    EXPECT_EQ(test::ProbeChannels(Model(frame).Item(0).OutputPath()), 1);
}

TEST_F(MainFrameTest, ClosingDuringAConversionAndAnsweringYesStopsHidesAndSaves) {
    MainFrame& frame = ShowFrame();
    const std::string out = scratch_.File("out");
    std::filesystem::create_directories(out);
    frame.WorkView()->OutputBox()->SetValue(QString::fromStdString(out));
    Add(frame, {MakeWav("long.wav", 600)});
    Press(frame, VeWorkView::kConvertButton);
    ASSERT_TRUE(WaitUntilFirstRowRuns(frame));
    // The window must be gone while the worker still runs: hidden first, waited for after.
    HideWatch watch(frame);
    test::ModalAnswer answer([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box) {
            modal->close();
            return;
        }
        box->button(QMessageBox::Yes)->click();
    });
    EXPECT_EQ(CloseInLoop(frame), 1);
    ASSERT_TRUE(answer.Answered());
    EXPECT_FALSE(frame.isVisible());
    EXPECT_TRUE(frame.IsWindowDestroyed());
    EXPECT_TRUE(std::filesystem::exists(test::SettingsFile()));
    EXPECT_TRUE(test::ListFiles(out).empty());
    EXPECT_TRUE(test::TempEntries().empty());
    EXPECT_TRUE(watch.hidden);
    EXPECT_TRUE(watch.worker_running_at_hide);
}

// Convert, convert again unchanged (skipped), then after each change of the method or the
// output folder convert again: a new output each time, every earlier one left as it was.
TEST_F(MainFrameTest, ConvertAfterAChangeOfSettingsConvertsAgainAndUnchangedSkips) {
    MainFrame& frame = ShowFrame();
    const std::string in = scratch_.File("in");
    const std::string out = scratch_.File("out");
    std::filesystem::create_directories(out);
    Add(frame, {MakeWav("in/song.wav")});
    // Presses convert and answers the report; the files of the scratch folder afterwards.
    auto convert = [&] {
        QString said;
        test::ModalAnswer answer([&](QWidget* modal) {
            if (auto* report = qobject_cast<ConversionReport*>(modal)) said = report->BoldLine()->Text();
            modal->close();
        }, 120s);
        Press(frame, VeWorkView::kConvertButton);
        EXPECT_TRUE(test::RunLoopUntil([&] { return answer.Answered() && !frame.WorkView()->IsBusy(); }, 120s));
        EXPECT_EQ(said, QStringLiteral("File converted successfully."));
        return test::ListFiles(scratch_.Path());
    };
    auto output = [&] { return Model(frame).Item(0).OutputPath(); };
    auto bytes = [](const std::vector<std::string>& paths) {
        std::vector<std::vector<uint8_t>> all;
        for (const std::string& path : paths) all.push_back(test::ReadFileBytes(path));
        return all;
    };

    const std::vector<std::string> first_files = convert();
    const std::string mixed = output();
    EXPECT_EQ(mixed, in + "/song (1).wav");
    EXPECT_EQ(convert(), first_files);  // nothing changed: skipped
    EXPECT_EQ(output(), mixed);

    test::ModalAnswer options([](QWidget* modal) {
        auto* dialog = qobject_cast<OptionsDialog*>(modal);
        if (!dialog) return modal->close(), void();
        dialog->RadioButton(OptionsDialog::kKeepRightId)->click();
        dialog->OkButton()->click();
    });
    Press(frame, VeWorkView::kOptionsButton);
    ASSERT_TRUE(options.Answered());
    const auto before_method = bytes({mixed});
    convert();
    const std::string right = output();
    EXPECT_EQ(right, in + "/song (2).wav");
    EXPECT_EQ(test::ProbeChannels(right), 1);
    EXPECT_NE(test::ReadFileBytes(right), before_method[0]);
    EXPECT_EQ(bytes({mixed}), before_method);

    frame.WorkView()->OutputBox()->SetValue(QString::fromStdString(out));
    const auto before_folder = bytes({mixed, right});
    const std::vector<std::string> folder_files = convert();
    EXPECT_EQ(output(), out + "/song.wav");
    EXPECT_EQ(test::ProbeChannels(output()), 1);
    EXPECT_EQ(bytes({mixed, right}), before_folder);
    EXPECT_EQ(convert(), folder_files);  // nothing changed again: skipped
    EXPECT_EQ(output(), out + "/song.wav");
}

// A run that completes while the exit question is open keeps its report back: No shows it.
TEST_F(MainFrameTest, TheReportOfARunThatEndsDuringTheExitQuestionWaitsAndNoShowsIt) {
    MainFrame& frame = ShowFrame();
    ASSERT_TRUE(StartALongRunWatchingForReports(frame));
    const auto question = AnswerTheExitQuestionAfterTheRun(frame, QMessageBox::No);
    EXPECT_FALSE(frame.close());
    ASSERT_TRUE(question->Answered());
    EXPECT_TRUE(ran_to_end_);
    EXPECT_FALSE(over_question_);
    ASSERT_TRUE(test::RunLoopUntil([this] { return reports_ > 0; }, 30s));
    EXPECT_EQ(reports_, 1);
    EXPECT_TRUE(frame.isVisible());
}

// Yes to the exit question ends the program without the report of a run that completed meanwhile.
TEST_F(MainFrameTest, YesToTheExitQuestionLeavesWithoutTheReportOfARunThatEndedMeanwhile) {
    MainFrame& frame = ShowFrame();
    ASSERT_TRUE(StartALongRunWatchingForReports(frame));
    const auto question = AnswerTheExitQuestionAfterTheRun(frame, QMessageBox::Yes);
    EXPECT_EQ(CloseInLoop(frame), 1);
    ASSERT_TRUE(question->Answered());
    EXPECT_TRUE(ran_to_end_);
    EXPECT_TRUE(frame.IsWindowDestroyed());
    QApplication::processEvents();
    EXPECT_EQ(reports_, 0);
}

// Closing while an add is filtering (its dialog not shown yet) ends the add, which adds
// nothing, before the window and its list go.
TEST_F(MainFrameTest, ClosingWhileAnAddFiltersEndsTheAddFirst) {
    MainFrame& frame = ShowFrame();
    MakeWav("folder/a.wav");
    MakeWav("folder/b.wav");
    QObject listening;
    bool dialog_hidden = false;
    QObject::connect(frame.WorkView()->FileList(), &VeFileListView::FilterDialogOpening, &listening,
                     [&](FilterDialog* dialog) {
                         // The filter would go on for as long as the user waits.
                         dialog->Worker().Pause();
                         QTimer::singleShot(0, &frame, [&frame, &dialog_hidden, dialog] {
                             dialog_hidden = !dialog->isVisible();
                             frame.close();
                         });
                     });
    int added = -1;
    QTimer::singleShot(0, &frame, [&] { added = frame.WorkView()->AddPaths({QString::fromStdString(scratch_.File("folder"))}); });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(-100); });
    guard.start(60000);
    EXPECT_EQ(QApplication::exec(), 1);
    EXPECT_TRUE(dialog_hidden);
    EXPECT_EQ(added, 0);
    EXPECT_TRUE(frame.IsWindowDestroyed());
    EXPECT_FALSE(frame.isVisible());
    EXPECT_TRUE(std::filesystem::exists(test::SettingsFile()));
}

TEST_F(MainFrameTest, DontShowThisAgainSurvivesARestart) {
    MainFrame* frame = &ShowFrame();
    Add(*frame, {MakeWav("a.wav")});
    bool ticked = false;
    test::ModalAnswer answer([&](QWidget* modal) {
        auto* report = qobject_cast<ConversionReport*>(modal);
        if (!report) {
            modal->close();
            return;
        }
        report->DontShowAgain()->setChecked(true);
        ticked = true;
        report->CloseButton()->click();
    }, 60s);
    Press(*frame, VeWorkView::kConvertButton);
    ASSERT_TRUE(test::RunLoopUntil([&] { return answer.Answered(); }, 60s));
    EXPECT_TRUE(ticked);
    EXPECT_FALSE(AppSettings::Instance().show_conversion_report);
    EXPECT_EQ(CloseInLoop(*frame), 1);

    // A new start reads the file: the report stays away.
    DestroyFrame();
    AppSettings::Instance().ResetToDefaults();
    frame = &ShowFrame();
    EXPECT_FALSE(AppSettings::Instance().show_conversion_report);
    Add(*frame, {MakeWav("b.wav")});
    test::ModalAnswer none([](QWidget* modal) { modal->close(); }, 3s);
    Press(*frame, VeWorkView::kConvertButton);
    ASSERT_TRUE(test::RunLoopUntil([&] { return !frame->WorkView()->IsBusy() && Model(*frame).Item(0).Progress().Total(); }, 60s));
    test::RunLoopUntil([] { return false; }, 500ms);
    EXPECT_FALSE(none.Answered());
    EXPECT_EQ(ProgressText(Model(*frame).Item(0).Progress()), QStringLiteral("100%"));
}

TEST_F(MainFrameTest, ScreenReadersFindEveryControlNamed) {
    MainFrame& frame = ShowFrame();
    VeWorkView* view = frame.WorkView();
    ASSERT_NE(view, nullptr);
    // With the getting-started panel and with the file list in its place.
    EXPECT_EQ(test::AccessibilityFaults(&frame), QStringList());
    view->Button(VeWorkView::kShowListButton)->click();
    ASSERT_TRUE(view->FileList()->isVisible());
    EXPECT_EQ(test::AccessibilityFaults(&frame), QStringList());
    for (int id : {VeWorkView::kBrowseButton, VeWorkView::kOpenFolderButton})
        EXPECT_FALSE(view->Button(id)->accessibleName().isEmpty()) << id;
}

}  // namespace
}  // namespace chm
