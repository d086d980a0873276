// The work view on real widgets and real files: its controls and their places, the "Add" menu
// and the skinned look, the idle handler, the start and stop of real conversions, the busy
// and idle states, the report at the end, the getting-started page.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/app_settings.h"
#include "app/conversion_report.h"
#include "engine/conversion_worker.h"
#include "engine/file_list_item.h"
#include "tests/app/app_ui_test_support.h"
#include "tests/support/test_files.h"
#include "tests/ui/ui_test_support.h"
#include "ui/file_list_model.h"
#include "ui/file_list_view.h"
#include "ui/filter_dialog.h"
#include "ui/getting_started_panel.h"
#include "ui/gfx/images.h"
#include "ui/header_style.h"
#include "ui/output_box.h"
#include "ui/skin_fonts.h"
#include "ui/skinned_menu.h"
#include "ui/task_progress_bar.h"
#include "ui/task_progress_draw.h"
#include "ui/work_view.h"

namespace chm {
namespace {

using namespace std::chrono_literals;

// Stands in for the main window: remembers what the view told it.
class RecordingHost : public WorkViewHost {
public:
    void OnTaskNotify(uintptr_t code) override { codes.push_back(code); }
    void ShowOptions() override { ++options_shown; }
    bool Saw(uintptr_t code) const { return std::find(codes.begin(), codes.end(), code) != codes.end(); }

    std::vector<uintptr_t> codes;
    int options_shown = 0;
};

// What a message box or the report showed before it was answered.
struct SeenModal {
    bool seen = false;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString bold_line;
    QString count_line;
    bool count_visible = false;
    QString report_folder;
};

// A left click on `widget` given to its window, as the window system delivers one: what blocks
// a window's input (a modal dialog over it) applies.
void ClickThroughWindow(QWidget* widget) {
    QWidget* top = widget->window();
    QTest::mouseClick(top->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                      widget->mapTo(top, widget->rect().center()));
}

// Closes every popup menu that opens while it exists, and notes that one opened.
class PopupCloser {
public:
    PopupCloser() {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (QWidget* popup = QApplication::activePopupWidget()) {
                opened = true;
                popup->close();
            }
        });
        timer_.start();
    }
    bool opened = false;

private:
    QTimer timer_;
};

class WorkViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::ResetSettings();
        AppSettings::Instance().show_getting_started = false;
        MakeView();
    }

    void TearDown() override {
        view_.reset();
        test::ResetSettings();
    }

    void MakeView() {
        view_ = std::make_unique<VeWorkView>(&host_);
        ASSERT_TRUE(view_->Create());
        view_->show();
    }

    std::string MakeWav(const std::string& name, double seconds = 0.5) {
        const std::string path = scratch_.File(name);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        test::WriteStereoWav(path, seconds);
        return path;
    }

    int Add(const std::vector<std::string>& paths) {
        QStringList list;
        for (const std::string& path : paths) list << QString::fromStdString(path);
        return view_->AddPaths(list);
    }

    FileListModel& Model() const { return view_->FileList()->Model(); }
    VeImageButton* Button(int id) const { return view_->Button(id); }

    // Presses convert and waits until the view is idle again; a report, if one comes, is read
    // and closed.
    bool ConvertAll() {
        test::ModalAnswer answer([this](QWidget* modal) { ReadAndClose(modal); }, 60s);
        Button(VeWorkView::kConvertButton)->click();
        const bool started = test::RunLoopUntil([this] { return host_.Saw(kFrameConversionStarted); }, 30s);
        const bool ended = test::RunLoopUntil([this] { return host_.Saw(kFrameConversionEnded) && !view_->IsBusy(); }, 120s);
        if (AppSettings::Instance().show_conversion_report && host_.codes.back() == kFrameConversionEnded)
            test::RunLoopUntil([&answer] { return answer.Answered(); }, 10s);
        return started && ended;
    }

    void ReadAndClose(QWidget* modal) {
        seen_.seen = true;
        seen_.title = modal->windowTitle();
        if (auto* report = qobject_cast<ConversionReport*>(modal)) {
            seen_.bold_line = report->BoldLine()->Text();
            seen_.count_line = report->CountLine()->text();
            seen_.count_visible = report->CountLine()->isVisibleTo(report);
            seen_.report_folder = report->ReportFolder();
            report->CloseButton()->click();
            return;
        }
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            seen_.text = box->text();
            seen_.icon = box->icon();
            box->button(box->buttons().first() == box->button(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok)
                ->click();
            return;
        }
        modal->close();
    }

    // Waits until the first row's file is being converted (its progress has a budget and is
    // not at its end).
    bool WaitUntilFirstRowRuns() {
        return test::RunLoopUntil([this] {
            const RowProgress& p = Model().Item(0).Progress();
            return p.Total() > 0 && p.Done() > 0 && p.Done() < p.Total() && view_->IsBusy();
        }, 60s);
    }

    test::ScratchDir scratch_;
    RecordingHost host_;
    std::unique_ptr<VeWorkView> view_;
    SeenModal seen_;
};

TEST_F(WorkViewTest, TakesTheSizeOfItsBackgroundWithTheListAndOutputBoxInTheirPlaces) {
    EXPECT_EQ(view_->size(), QSize(740, 534));
    EXPECT_EQ(view_->FileList()->geometry(), QRect(9, 75, 722, 369));
    EXPECT_EQ(view_->OutputBox()->geometry(), QRect(118, 464, 335, 20));
    EXPECT_EQ(view_->Panel()->geometry(), view_->FileList()->geometry());
}

TEST_F(WorkViewTest, EveryActionButtonHasAToolTipAndAPictureSet) {
    for (int id : {104, 105, 106, 108, 109, 110, 111, 112, 113}) {
        VeImageButton* button = Button(id);
        ASSERT_NE(button, nullptr) << id;
        EXPECT_FALSE(button->toolTip().isEmpty()) << id;
        EXPECT_TRUE(button->Images().IsComplete()) << id;
        EXPECT_EQ(button->Id(), id);
    }
}

TEST_F(WorkViewTest, RemoveAndClearStartDisabled) {
    EXPECT_FALSE(Button(VeWorkView::kRemoveButton)->isEnabled());
    EXPECT_FALSE(Button(VeWorkView::kClearButton)->isEnabled());
    EXPECT_TRUE(Button(VeWorkView::kAddButton)->isEnabled());
    EXPECT_TRUE(Button(VeWorkView::kConvertButton)->isEnabled());
}

TEST_F(WorkViewTest, AGreyedPictureIsTheNormalOneDesaturatedAndBlendedHalfWayWithWhite) {
    VeImageButton* remove = Button(VeWorkView::kRemoveButton);
    ASSERT_FALSE(remove->isEnabled());
    QImage expected = remove->Images().normal;
    gfx::Desaturate(expected);
    gfx::BlendWithColor(expected, Qt::white, 128);
    EXPECT_EQ(remove->CurrentImage(), expected);
    // A coloured pixel of the picture (the red badge) becomes a light grey.
    const QImage& normal = remove->Images().normal;
    bool found = false;
    for (int y = 0; y < normal.height() && !found; ++y)
        for (int x = 0; x < normal.width() && !found; ++x) {
            const QRgb p = normal.pixel(x, y);
            if (qAlpha(p) == 255 && qRed(p) > qGreen(p) + 60) {
                const QRgb g = remove->CurrentImage().pixel(x, y);
                EXPECT_TRUE(test::NearColor(qRgb(qRed(g), qRed(g), qRed(g)), g, 2));
                EXPECT_GE(qRed(g), 128);
                found = true;
            }
        }
    EXPECT_TRUE(found);
}

TEST_F(WorkViewTest, TheAddMenuHoldsItsThreeCommands) {
    QMenu* menu = view_->AddMenu();
    ASSERT_NE(menu, nullptr);
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), 4);
    EXPECT_EQ(actions[0]->text(), QStringLiteral("Add Files..."));
    EXPECT_EQ(actions[0]->data().toInt(), VeWorkView::kAddFilesCommand);
    EXPECT_EQ(actions[1]->text(), QStringLiteral("Add Folder..."));
    EXPECT_EQ(actions[1]->data().toInt(), VeWorkView::kAddFolderCommand);
    EXPECT_TRUE(actions[2]->isSeparator());
    EXPECT_EQ(actions[3]->text(), QStringLiteral("Add by Search..."));
    EXPECT_EQ(actions[3]->data().toInt(), VeWorkView::kAddBySearchCommand);
    EXPECT_TRUE(actions[3]->isEnabled());
    EXPECT_TRUE(actions[0]->isEnabled());
}

// Opens the "Add" menu through its button, looks at it as drawn, and closes it.
TEST_F(WorkViewTest, TheAddButtonOpensTheMenuDrawnInTheSkin) {
    QImage drawn;
    QRect files_item, search_item;
    bool skinned = false;
    // The search command is greyed here only to see how a disabled item is drawn.
    view_->MenuCommand(VeWorkView::kAddBySearchCommand)->setEnabled(false);
    QTimer::singleShot(0, [&] {
        test::WaitFor([] { return QApplication::activePopupWidget() != nullptr; }, 10s);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) return;
        skinned = qobject_cast<SkinnedMenuStyle*>(menu->style()) != nullptr;
        test::WaitFor([menu] { return menu->isVisible(); }, 5s);
        drawn = menu->grab().toImage();
        files_item = menu->actionGeometry(menu->actions()[0]);
        search_item = menu->actionGeometry(menu->actions()[3]);
        menu->close();
    });
    Button(VeWorkView::kAddButton)->click();
    ASSERT_FALSE(drawn.isNull());
    EXPECT_TRUE(skinned);
    const qreal ratio = drawn.devicePixelRatio();
    const auto darkest = [&](const QRect& item, int from_x, int to_x) {
        int best = 255, best_x = -1;
        for (int y = item.top(); y <= item.bottom(); ++y)
            for (int x = item.left() + from_x; x < item.left() + to_x; ++x) {
                const QRgb p = drawn.pixel(int(x * ratio), int(y * ratio));
                if (qGray(p) < best) {
                    best = qGray(p);
                    best_x = x;
                }
            }
        return std::pair{best, best_x};
    };
    // Enabled text is black, disabled text grey 0xA6A6A6 (anti-aliasing only lightens it).
    EXPECT_LT(darkest(files_item, 0, files_item.width()).first, 40);
    const int search_darkest = darkest(search_item, 0, search_item.width()).first;
    EXPECT_GE(search_darkest, 0xA6 - 4);
    EXPECT_LE(search_darkest, 0xA6 + 4);
    // No text left of 31 pixels into the item or in the last 20 pixels; the gutter is the
    // frame's gutter colour.
    EXPECT_GT(darkest(files_item, 0, SkinnedMenuStyle::kTextLeft - 1).first, 200);
    EXPECT_GT(darkest(files_item, files_item.width() - SkinnedMenuStyle::kTextRightGap + 1, files_item.width()).first, 200);
    EXPECT_EQ(drawn.pixel(int((files_item.left() + 5) * ratio), int(files_item.center().y() * ratio)),
              SkinnedMenuStyle::kGutter);
}

// A menu of the skin with a default item and an item with a tab part, drawn by itself.
TEST_F(WorkViewTest, TheDefaultItemIsBoldAndTextAfterATabIsRightAligned) {
    VeSkinnedMenu menu;
    menu.addAction(QStringLiteral("A much longer item that sets the menu's width"));
    QAction* plain = menu.addAction(QStringLiteral("Play"));
    QAction* play = menu.addAction(QStringLiteral("Play\tEnter"));
    menu.setDefaultAction(play);
    QImage drawn;
    QRect plain_item, play_item;
    QTimer::singleShot(0, [&] {
        test::WaitFor([&menu] { return menu.isVisible(); }, 5s);
        drawn = menu.grab().toImage();
        plain_item = menu.actionGeometry(plain);
        play_item = menu.actionGeometry(play);
        menu.close();
    });
    TrackSkinnedMenu(menu, view_->mapToGlobal(QPoint(100, 100)));
    ASSERT_FALSE(drawn.isNull());
    const qreal ratio = drawn.devicePixelRatio();
    // The columns of an item that hold text, left to right.
    const auto ink_columns = [&](const QRect& item) {
        std::vector<int> columns;
        for (int x = item.left(); x <= item.right(); ++x)
            for (int y = item.top(); y <= item.bottom(); ++y)
                if (qGray(drawn.pixel(int(x * ratio), int(y * ratio))) < 110) {
                    columns.push_back(x - item.left());
                    break;
                }
        return columns;
    };
    const std::vector<int> plain_ink = ink_columns(plain_item);
    const std::vector<int> play_ink = ink_columns(play_item);
    ASSERT_FALSE(plain_ink.empty());
    ASSERT_FALSE(play_ink.empty());
    EXPECT_GE(plain_ink.front(), SkinnedMenuStyle::kTextLeft - 1);
    EXPECT_GE(play_ink.front(), SkinnedMenuStyle::kTextLeft - 1);
    // "Enter" ends where the text ends, 20 pixels before the item's right edge, far from "Play".
    EXPECT_GE(play_ink.back(), play_item.width() - SkinnedMenuStyle::kTextRightGap - 3);
    EXPECT_LE(play_ink.back(), play_item.width() - SkinnedMenuStyle::kTextRightGap);
    EXPECT_GT(play_ink.back() - plain_ink.back(), 100);
    // The default item's "Play" is bold: wider than the plain one.
    const int bold_end = *std::find_if(play_ink.rbegin(), play_ink.rend(), [&](int x) { return x < plain_ink.back() + 12; });
    EXPECT_GT(bold_end, plain_ink.back());
    EXPECT_GT(QFontMetrics(GetSkinFont(SkinFont::kBold13)).horizontalAdvance(QStringLiteral("Play")),
              QFontMetrics(GetSkinFont(SkinFont::kRegular13)).horizontalAdvance(QStringLiteral("Play")));
}

// The skin is the program's menus' own: the output box's edit keeps the ordinary menu.
TEST_F(WorkViewTest, AnEditsContextMenuDoesNotWearTheSkin) {
    QLineEdit* edit = view_->OutputBox()->Edit();
    QContextMenuEvent event(QContextMenuEvent::Mouse, edit->rect().center(), edit->mapToGlobal(edit->rect().center()));
    QApplication::sendEvent(edit, &event);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    ASSERT_TRUE(test::WaitFor([menu] { return menu->isVisible(); }, 5s));
    EXPECT_EQ(qobject_cast<SkinnedMenuStyle*>(menu->style()), nullptr);
    EXPECT_EQ(menu->style(), QApplication::style());
    menu->close();
}

TEST_F(WorkViewTest, BrowseFillsTheOutputBoxFromTheFolderPicker) {
    const QString folder = QString::fromStdString(scratch_.Path());
    QString caption;
    test::ModalAnswer answer([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (!dialog) {
            modal->close();
            return;
        }
        caption = dialog->windowTitle();
        dialog->setDirectory(folder);
        dialog->selectFile(folder);
        static_cast<QDialog*>(dialog)->accept();  // public in QDialog
    });
    Button(VeWorkView::kBrowseButton)->click();
    ASSERT_TRUE(answer.Answered());
    EXPECT_EQ(caption, QStringLiteral("Please select a folder:"));
    EXPECT_EQ(view_->OutputBox()->Value(), folder);
}

TEST_F(WorkViewTest, TheListHeadersAreDrawnInTheSkin) {
    EXPECT_NE(qobject_cast<HeaderSkinStyle*>(view_->FileList()->header()->style()), nullptr);
    QHeaderView* header = view_->FileList()->header();
    test::WaitFor([header] { return header->isVisible(); }, 5s);
    const QImage drawn = header->grab().toImage();
    ASSERT_FALSE(drawn.isNull());
    // The face of the menus, the border line at the bottom.
    const qreal ratio = drawn.devicePixelRatio();
    EXPECT_TRUE(test::NearColor(drawn.pixel(int(2 * ratio), int(2 * ratio)), HeaderSkinStyle::kFace, 6));
    EXPECT_EQ(drawn.pixel(int(5 * ratio), drawn.height() - 1), HeaderSkinStyle::kBorder);
}

TEST_F(WorkViewTest, TheIdleHandlerEnablesClearForRowsAndRemoveForASelection) {
    Add({MakeWav("a.wav"), MakeWav("b.wav")});
    ASSERT_EQ(Model().RowCount(), 2);
    EXPECT_TRUE(test::RunLoopUntil([this] { return Button(VeWorkView::kClearButton)->isEnabled(); }));
    EXPECT_FALSE(Button(VeWorkView::kRemoveButton)->isEnabled());
    view_->FileList()->selectionModel()->select(Model().index(1, 0),
                                                QItemSelectionModel::Select | QItemSelectionModel::Rows);
    EXPECT_TRUE(test::RunLoopUntil([this] { return Button(VeWorkView::kRemoveButton)->isEnabled(); }));
    view_->FileList()->clearSelection();
    EXPECT_TRUE(test::RunLoopUntil([this] { return !Button(VeWorkView::kRemoveButton)->isEnabled(); }));
}

TEST_F(WorkViewTest, OpenOutputFolderFollowsTheEffectiveOutputFolder) {
    EXPECT_FALSE(Button(VeWorkView::kOpenFolderButton)->isEnabled());
    view_->OutputBox()->SetValue(QString::fromStdString(scratch_.Path()));
    EXPECT_TRUE(test::RunLoopUntil([this] { return Button(VeWorkView::kOpenFolderButton)->isEnabled(); }));
    view_->OutputBox()->SetValue(QString());
    EXPECT_TRUE(test::RunLoopUntil([this] { return !Button(VeWorkView::kOpenFolderButton)->isEnabled(); }));
    Add({MakeWav("in/a.wav")});
    EXPECT_TRUE(test::RunLoopUntil([this] { return Button(VeWorkView::kOpenFolderButton)->isEnabled(); }));
    EXPECT_EQ(view_->EffectiveOutputFolder().toStdString(), scratch_.File("in"));
}

TEST_F(WorkViewTest, OpenOutputFolderOpensAnExistingFolder) {
    test::OpenedUrls opened;
    view_->OutputBox()->SetValue(QString::fromStdString(scratch_.Path()));
    test::RunLoopUntil([this] { return Button(VeWorkView::kOpenFolderButton)->isEnabled(); });
    Button(VeWorkView::kOpenFolderButton)->click();
    ASSERT_EQ(opened.Urls().size(), 1u);
    EXPECT_EQ(opened.Urls()[0], QUrl::fromLocalFile(QString::fromStdString(scratch_.Path())));
}

TEST_F(WorkViewTest, OpenOutputFolderReportsAMissingFolder) {
    test::OpenedUrls opened;
    const QString missing = QString::fromStdString(scratch_.File("gone"));
    view_->OutputBox()->SetValue(missing);
    test::RunLoopUntil([this] { return Button(VeWorkView::kOpenFolderButton)->isEnabled(); });
    test::ModalAnswer answer([this](QWidget* modal) { ReadAndClose(modal); });
    Button(VeWorkView::kOpenFolderButton)->click();
    ASSERT_TRUE(answer.Answered());
    EXPECT_EQ(seen_.text, QStringLiteral("Cannot open folder: \"") + missing + QStringLiteral("\"   "));
    EXPECT_EQ(seen_.title, QStringLiteral("Tavorin Channel Merger"));
    EXPECT_EQ(seen_.icon, QMessageBox::Critical);
    EXPECT_TRUE(opened.Urls().empty());
}

TEST_F(WorkViewTest, OpenOutputFolderTellsWhenTheDesktopCannotOpenIt) {
    const QString folder = QString::fromStdString(scratch_.Path());
    view_->OutputBox()->SetValue(folder);
    test::RunLoopUntil([this] { return Button(VeWorkView::kOpenFolderButton)->isEnabled(); });
    const test::NoDesktopHandlers no_handlers;
    test::SeenMessage box;
    test::ModalAnswer answer([&box](QWidget* modal) { test::ReadMessageBox(modal, box); });
    Button(VeWorkView::kOpenFolderButton)->click();
    ASSERT_TRUE(box.seen);
    EXPECT_EQ(box.text, QStringLiteral("Cannot open folder: \"") + folder + QStringLiteral("\"   "));
    EXPECT_EQ(box.title, QStringLiteral("Tavorin Channel Merger"));
    EXPECT_EQ(box.icon, QMessageBox::Critical);
    EXPECT_EQ(box.owner, view_.get());
}

TEST_F(WorkViewTest, ConvertingAnEmptyListAsksForFiles) {
    test::ModalAnswer answer([this](QWidget* modal) { ReadAndClose(modal); });
    Button(VeWorkView::kConvertButton)->click();
    ASSERT_TRUE(answer.Answered());
    EXPECT_EQ(seen_.text, QStringLiteral("Please add one or more audio files and try again.    "));
    EXPECT_EQ(seen_.title, QStringLiteral("Tavorin Channel Merger"));
    EXPECT_EQ(seen_.icon, QMessageBox::Information);
    EXPECT_EQ(view_->Worker(), nullptr);
    EXPECT_FALSE(view_->IsBusy());
}

TEST_F(WorkViewTest, ConvertingIntoAMissingFolderIsRefused) {
    Add({MakeWav("a.wav")});
    view_->OutputBox()->SetValue(QString::fromStdString(scratch_.File("missing")));
    test::ModalAnswer answer([this](QWidget* modal) { ReadAndClose(modal); });
    Button(VeWorkView::kConvertButton)->click();
    ASSERT_TRUE(answer.Answered());
    EXPECT_EQ(seen_.text, VeOutputBoxCtrlBase::InvalidFolderMessage());
    EXPECT_EQ(seen_.icon, QMessageBox::Information);
    EXPECT_EQ(view_->Worker(), nullptr);
    EXPECT_EQ(Model().Item(0).Progress().Total(), 0u);
}

TEST_F(WorkViewTest, AFullRunConvertsEveryFileToMonoAndReportsIt) {
    const std::string out = scratch_.File("out");
    std::filesystem::create_directories(out);
    const std::string mp3 = scratch_.File("b.mp3");
    const std::string wma = scratch_.File("c.wma");
    ASSERT_TRUE(test::EncodeAudio(MakeWav("b-source.wav", 0.7), mp3));
    ASSERT_TRUE(test::EncodeAudio(MakeWav("c-source.wav", 1.3), wma));
    ASSERT_EQ(test::ProbeChannels(mp3), 2);
    ASSERT_EQ(test::ProbeChannels(wma), 2);
    Add({MakeWav("a.wav", 1.0), mp3, wma});
    ASSERT_EQ(Model().RowCount(), 3);
    view_->OutputBox()->SetValue(QString::fromStdString(out));
    ASSERT_TRUE(ConvertAll());
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(ProgressText(Model().Item(row).Progress()), QStringLiteral("100%")) << row;
        const std::string output = Model().Item(row).OutputPath();
        EXPECT_EQ(output, out + "/" + Model().Item(row).Name());
        EXPECT_EQ(test::ProbeChannels(output), 1) << output;
    }
    EXPECT_EQ(view_->OverallProgress().Total(), 3u);
    EXPECT_EQ(view_->OverallProgress().Done(), 3u);
    EXPECT_TRUE(view_->ProgressBar()->isVisible());
    EXPECT_EQ(ProgressText(view_->OverallProgress()), QStringLiteral("100%"));
    ASSERT_TRUE(seen_.seen);
    EXPECT_EQ(seen_.title, QStringLiteral("Conversion Completed"));
    EXPECT_EQ(seen_.bold_line, QStringLiteral("Conversion completed."));
    EXPECT_EQ(seen_.count_line, QStringLiteral("3 of 3 files are converted successfully."));
    EXPECT_EQ(seen_.report_folder.toStdString(), out);
    EXPECT_EQ(host_.codes, (std::vector<uintptr_t>{kFrameConversionStarted, kFrameConversionEnded}));
}

TEST_F(WorkViewTest, TheReportOfOneFailedFileSaysSo) {
    const std::string broken = scratch_.File("broken.wav");
    test::WriteTextFile(broken, "RIFF....WAVEnot really a wave file");
    Add({broken});
    ASSERT_EQ(Model().RowCount(), 1);
    ASSERT_TRUE(ConvertAll());
    EXPECT_EQ(ProgressText(Model().Item(0).Progress()), QStringLiteral("Failed"));
    ASSERT_TRUE(seen_.seen);
    EXPECT_EQ(seen_.title, QStringLiteral("Conversion Failed"));
    EXPECT_EQ(seen_.bold_line, QStringLiteral("Error converting specified file."));
    EXPECT_FALSE(seen_.count_visible);
    EXPECT_EQ(test::ListFiles(scratch_.Path()), std::vector<std::string>{"broken.wav"});
}

TEST_F(WorkViewTest, WithSameAsInputTheReportFolderIsTheFocusedRowsFolder) {
    test::OpenedUrls opened;
    Add({MakeWav("one/a.wav"), MakeWav("two/b.wav")});
    ASSERT_EQ(Model().RowCount(), 2);
    view_->FileList()->setCurrentIndex(Model().index(1, 0));
    // The report's own button opens the folder.
    test::ModalAnswer answer([this](QWidget* modal) {
        auto* report = qobject_cast<ConversionReport*>(modal);
        if (report) {
            seen_.report_folder = report->ReportFolder();
            report->OpenFolderButton()->click();
            seen_.seen = report->isVisible();  // the report stays open
            report->CloseButton()->click();
        } else {
            modal->close();
        }
    }, 60s);
    Button(VeWorkView::kConvertButton)->click();
    ASSERT_TRUE(test::RunLoopUntil([&answer] { return answer.Answered(); }, 60s));
    EXPECT_EQ(seen_.report_folder.toStdString(), scratch_.File("two"));
    EXPECT_TRUE(seen_.seen);
    ASSERT_EQ(opened.Urls().size(), 1u);
    EXPECT_EQ(opened.Urls()[0].toLocalFile().toStdString(), scratch_.File("two"));
}

TEST_F(WorkViewTest, NoReportIsShownWhenItIsSwitchedOff) {
    AppSettings::Instance().show_conversion_report = false;
    Add({MakeWav("a.wav")});
    ASSERT_TRUE(ConvertAll());
    EXPECT_EQ(ProgressText(Model().Item(0).Progress()), QStringLiteral("100%"));
    EXPECT_FALSE(seen_.seen);
}

TEST_F(WorkViewTest, WhileBusyEditingIsDisabledAndConvertBecomesStop) {
    // The run must outlast the checks below (a fifth of a second) even on an idle machine, which
    // converts ten minutes of WAV in a third of one: twenty names of the long file, as hard links
    // that take no space. A report that came all the same is closed, so the test fails, not hangs.
    std::vector<std::string> paths{MakeWav("long.wav", 600)};
    for (int i = 1; i < 20; ++i) {
        paths.push_back(scratch_.File("long" + std::to_string(i) + ".wav"));
        std::filesystem::create_hard_link(paths.front(), paths.back());
    }
    paths.push_back(MakeWav("b.wav"));
    Add(paths);
    test::ModalAnswer early_report([this](QWidget* modal) { ReadAndClose(modal); }, 60s);
    view_->FileList()->selectAll();
    Button(VeWorkView::kConvertButton)->click();
    ASSERT_TRUE(test::RunLoopUntil([this] { return view_->IsBusy(); }));
    for (int id : {104, 105, 106, 108, 113}) EXPECT_FALSE(Button(id)->isEnabled()) << id;
    EXPECT_TRUE(Button(VeWorkView::kConvertButton)->isEnabled());
    EXPECT_TRUE(view_->IsShowingStopImages());
    EXPECT_EQ(Button(VeWorkView::kConvertButton)->Images().normal, ImageSet::Load(QStringLiteral("stop")).normal);
    EXPECT_TRUE(view_->OutputBox()->IsReadOnly());
    EXPECT_TRUE(view_->FileList()->IsBusy());
    EXPECT_FALSE(view_->FileList()->header()->sectionsClickable());
    EXPECT_TRUE(view_->ProgressBar()->isVisible());
    EXPECT_TRUE(view_->ProgressBar()->IsAnimationOn());
    // The idle handler keeps Remove and Clear off while busy, selection or not.
    test::RunLoopUntil([] { return false; }, 200ms);
    EXPECT_FALSE(Button(VeWorkView::kRemoveButton)->isEnabled());
    EXPECT_FALSE(Button(VeWorkView::kClearButton)->isEnabled());
    // A second start while busy is ignored: the same run goes on.
    ASSERT_TRUE(view_->IsBusy());
    view_->StartConversion();
    EXPECT_TRUE(view_->IsBusy());

    Button(VeWorkView::kConvertButton)->click();  // stop
    ASSERT_TRUE(test::RunLoopUntil([this] { return !view_->IsBusy(); }, 60s));
    for (int id : {104, 105, 108, 109, 113}) EXPECT_TRUE(Button(id)->isEnabled()) << id;
    EXPECT_FALSE(view_->IsShowingStopImages());
    EXPECT_EQ(Button(VeWorkView::kConvertButton)->Images().normal, ImageSet::Load(QStringLiteral("convert")).normal);
    EXPECT_FALSE(view_->OutputBox()->IsReadOnly());
    EXPECT_FALSE(view_->FileList()->IsBusy());
    EXPECT_TRUE(view_->FileList()->header()->sectionsClickable());
    EXPECT_FALSE(view_->ProgressBar()->IsAnimationOn());
}

TEST_F(WorkViewTest, ASecondStartBeforeTheStartedNoticeDoesNotRestartTheRun) {
    AppSettings::Instance().show_conversion_report = false;
    Add({MakeWav("a.wav", 60)});
    view_->StartConversion();
    // The worker runs but its started notice has not been handled yet: the view is not busy.
    ASSERT_NE(view_->Worker(), nullptr);
    ASSERT_FALSE(view_->IsBusy());
    view_->StartConversion();
    ASSERT_TRUE(test::RunLoopUntil([this] { return host_.Saw(kFrameConversionEnded); }, 60s));
    EXPECT_EQ(host_.codes, (std::vector<uintptr_t>{kFrameConversionStarted, kFrameConversionEnded}));
    EXPECT_EQ(ProgressText(Model().Item(0).Progress()), QStringLiteral("100%"));
    EXPECT_EQ(Model().Item(0).OutputPath(), scratch_.File("a (1).wav"));
}

TEST_F(WorkViewTest, StopDuringALongFileCancelsItAndLeavesTheRestUntouched) {
    const std::string out = scratch_.File("out");
    std::filesystem::create_directories(out);
    Add({MakeWav("long.wav", 600), MakeWav("b.wav"), MakeWav("c.wav")});
    view_->OutputBox()->SetValue(QString::fromStdString(out));
    test::ModalAnswer no_report([this](QWidget* modal) { ReadAndClose(modal); }, 5s);
    Button(VeWorkView::kConvertButton)->click();
    ASSERT_TRUE(WaitUntilFirstRowRuns());
    Button(VeWorkView::kConvertButton)->click();
    // At once: the button is off and the frame hears of the stop.
    EXPECT_FALSE(Button(VeWorkView::kConvertButton)->isEnabled());
    EXPECT_TRUE(host_.Saw(kFrameAbortRequested));
    ASSERT_TRUE(test::RunLoopUntil([this] { return host_.Saw(kFrameConversionEnded); }, 60s));
    EXPECT_TRUE(Button(VeWorkView::kConvertButton)->isEnabled());
    EXPECT_FALSE(view_->IsShowingStopImages());
    EXPECT_EQ(ProgressText(Model().Item(0).Progress()), QStringLiteral("Cancelled"));
    EXPECT_EQ(Model().Item(1).Progress().Total(), 0u);
    EXPECT_EQ(Model().Item(2).Progress().Total(), 0u);
    EXPECT_TRUE(view_->OverallProgress().IsCancelled());
    // Nothing was done overall, so the bar does not stay.
    EXPECT_FALSE(view_->ProgressBar()->isVisible());
    EXPECT_TRUE(test::ListFiles(out).empty());
    EXPECT_TRUE(test::TempEntries().empty());
    test::RunLoopUntil([] { return false; }, 300ms);
    EXPECT_FALSE(seen_.seen);
    EXPECT_EQ(host_.codes, (std::vector<uintptr_t>{kFrameConversionStarted, kFrameAbortRequested, kFrameConversionEnded}));
}

TEST_F(WorkViewTest, RemoveComesBackAfterARunWhenRowsWereSelected) {
    AppSettings::Instance().show_conversion_report = false;
    Add({MakeWav("a.wav"), MakeWav("b.wav")});
    view_->FileList()->selectionModel()->select(Model().index(0, 0),
                                                QItemSelectionModel::Select | QItemSelectionModel::Rows);
    ASSERT_TRUE(ConvertAll());
    EXPECT_TRUE(Button(VeWorkView::kRemoveButton)->isEnabled());
    test::RunLoopUntil([] { return false; }, 100ms);
    EXPECT_TRUE(Button(VeWorkView::kRemoveButton)->isEnabled());
}

TEST_F(WorkViewTest, RemoveStaysDisabledAfterARunWithoutSelection) {
    AppSettings::Instance().show_conversion_report = false;
    Add({MakeWav("a.wav"), MakeWav("b.wav")});
    view_->FileList()->clearSelection();
    ASSERT_TRUE(ConvertAll());
    EXPECT_FALSE(Button(VeWorkView::kRemoveButton)->isEnabled());
    test::RunLoopUntil([] { return false; }, 100ms);
    EXPECT_FALSE(Button(VeWorkView::kRemoveButton)->isEnabled());
    EXPECT_TRUE(Button(VeWorkView::kClearButton)->isEnabled());
}

TEST_F(WorkViewTest, TheOptionsButtonAsksTheMainWindow) {
    Button(VeWorkView::kOptionsButton)->click();
    EXPECT_EQ(host_.options_shown, 1);
}

TEST_F(WorkViewTest, AddFilesOffersOneFilterPerFormatWithAllSupportedFormatsPreselected) {
    EXPECT_EQ(VeWorkView::AddFilesNameFilters(),
              (QStringList{QStringLiteral("MP3 (*.mp3)"), QStringLiteral("WAV (*.wav *.pcm)"),
                           QStringLiteral("WMA (*.wma)"), QStringLiteral("FLAC (*.flac)"),
                           QStringLiteral("Ogg Vorbis (*.ogg *.oga)"), QStringLiteral("Opus (*.opus)"),
                           QStringLiteral("AAC (*.m4a)"), QStringLiteral("AIFF (*.aif *.aiff)"),
                           QStringLiteral("All Supported Formats (*.mp3 *.wav *.pcm *.wma *.flac *.ogg *.oga *.opus "
                                          "*.m4a *.aif *.aiff)")}));
    const std::string a = MakeWav("pick/a.wav");
    const std::string b = MakeWav("pick/b.wav");
    QStringList filters;
    QString selected_filter;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    test::ModalAnswer answer([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (!dialog) {
            modal->close();
            return;
        }
        filters = dialog->nameFilters();
        selected_filter = dialog->selectedNameFilter();
        mode = dialog->fileMode();
        dialog->setDirectory(QString::fromStdString(scratch_.File("pick")));
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (name) name->setText(QStringLiteral("\"a.wav\" \"b.wav\""));
        static_cast<QDialog*>(dialog)->accept();  // public in QDialog
    });
    view_->OnCommand(VeWorkView::kAddFilesCommand);
    ASSERT_TRUE(answer.Answered());
    EXPECT_EQ(filters, VeWorkView::AddFilesNameFilters());
    EXPECT_EQ(selected_filter, filters.last());
    EXPECT_EQ(mode, QFileDialog::ExistingFiles);
    ASSERT_EQ(Model().RowCount(), 2);
    EXPECT_EQ(Model().Item(0).Path(), a);
    EXPECT_EQ(Model().Item(1).Path(), b);
}

TEST_F(WorkViewTest, AddFolderAddsEveryFileBelowItAndRemembersTheFolder) {
    MakeWav("tree/a.wav");
    MakeWav("tree/deep/er/b.wav");
    test::WriteTextFile(scratch_.File("tree/notes.txt"), "not audio");
    const QString folder = QString::fromStdString(scratch_.File("tree"));
    QString caption;
    test::ModalAnswer answer([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (!dialog) {
            modal->close();
            return;
        }
        caption = dialog->windowTitle();
        dialog->setDirectory(folder);
        dialog->selectFile(folder);
        static_cast<QDialog*>(dialog)->accept();  // public in QDialog
    });
    view_->OnCommand(VeWorkView::kAddFolderCommand);
    ASSERT_TRUE(answer.Answered());
    EXPECT_EQ(caption, QStringLiteral("Please select a folder:"));
    EXPECT_EQ(Model().RowCount(), 2);
    EXPECT_EQ(QString::fromStdString(AppSettings::Instance().added_folder), folder);
}

TEST_F(WorkViewTest, AddBySearchOpensTheWizardAndItsCancelAddsNothing) {
    MakeWav("found/a.wav");
    QString caption;
    test::ModalAnswer answer([&](QWidget* modal) {
        caption = modal->windowTitle();
        modal->close();
    });
    view_->OnCommand(VeWorkView::kAddBySearchCommand);
    ASSERT_TRUE(answer.Answered());
    EXPECT_EQ(caption, QStringLiteral("Add by Search Wizard"));
    EXPECT_EQ(Model().RowCount(), 0);
}

// Clicks while an add is filtering, before its dialog has appeared: neither Convert nor Add may
// act, or a run would start over rows still being added and a second add would be dropped.
TEST_F(WorkViewTest, WhileAnAddFiltersTheWindowTakesNoClicks) {
    AppSettings::Instance().show_conversion_report = false;
    Add({MakeWav("a.wav")});
    MakeWav("more/b.wav");
    QObject listening;
    int dialogs = 0;
    bool dialog_hidden = false;
    bool popup_opened = true;
    bool run_started = true;
    QObject::connect(view_->FileList(), &VeFileListView::FilterDialogOpening, &listening, [&](FilterDialog* dialog) {
        ++dialogs;
        dialog->Worker().Pause();
        QTimer::singleShot(0, dialog, [&, dialog] {
            dialog_hidden = !dialog->isVisible();
            PopupCloser closer;
            ClickThroughWindow(Button(VeWorkView::kConvertButton));
            ClickThroughWindow(Button(VeWorkView::kAddButton));
            QApplication::processEvents();
            popup_opened = closer.opened;
            run_started = view_->Worker() != nullptr;
            dialog->Worker().Resume();
        });
    });
    EXPECT_EQ(Add({scratch_.File("more")}), 1);
    EXPECT_TRUE(dialog_hidden);
    EXPECT_FALSE(run_started);
    EXPECT_FALSE(popup_opened);
    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(Model().RowCount(), 2);
    EXPECT_FALSE(view_->IsBusy());
    // With the add over, the same click reaches the button again.
    PopupCloser closer;
    ClickThroughWindow(Button(VeWorkView::kAddButton));
    EXPECT_TRUE(closer.opened);
}

class GettingStartedTest : public WorkViewTest {
protected:
    void SetUp() override {
        test::ResetSettings();
        MakeView();  // show_getting_started is on by default
    }
};

TEST_F(GettingStartedTest, ThePanelStandsInTheListsPlaceAtFirst) {
    EXPECT_TRUE(view_->Panel()->isVisible());
    EXPECT_FALSE(view_->FileList()->isVisible());
    EXPECT_TRUE(view_->Panel()->ShowsAtStart());
}

TEST_F(GettingStartedTest, AddingFilesShowsTheList) {
    EXPECT_EQ(Add({MakeWav("a.wav")}), 1);
    EXPECT_TRUE(view_->FileList()->isVisible());
    EXPECT_FALSE(view_->Panel()->isVisible());
    EXPECT_FALSE(view_->Panel()->ShowListButton()->isVisible());
    EXPECT_FALSE(view_->Panel()->ShowAtStartButton()->isVisible());
}

// Files and folders dropped on the page go the list's way and put the list in its place.
TEST_F(GettingStartedTest, ThePanelTakesDroppedFilesAndFolders) {
    const std::string a = MakeWav("drop/a.wav");
    const std::string b = MakeWav("drop/deep/b.wav");
    const std::string c = MakeWav("c.wav");
    test::WriteTextFile(scratch_.File("notes.txt"), "not audio");
    QMimeData text_only;
    text_only.setUrls({QUrl::fromLocalFile(QString::fromStdString(scratch_.File("notes.txt")))});
    QMimeData audio;
    audio.setUrls({QUrl::fromLocalFile(QString::fromStdString(scratch_.File("drop"))),
                   QUrl::fromLocalFile(QString::fromStdString(c))});
    constexpr Qt::DropActions kOffered = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
    // Over the page's own button too: the page takes what its children do not.
    QWidget* targets[] = {view_->Panel(), view_->Panel()->ShowListButton()};
    for (QWidget* target : targets) {
        QDragEnterEvent refused(QPoint(5, 5), kOffered, &text_only, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &refused);
        EXPECT_FALSE(refused.isAccepted());
        QDragEnterEvent enter(QPoint(5, 5), kOffered, &audio, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        EXPECT_TRUE(enter.isAccepted());
        EXPECT_EQ(enter.dropAction(), Qt::LinkAction);
    }
    QDropEvent drop(QPointF(40, 40), kOffered, &audio, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view_->Panel(), &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_EQ(drop.dropAction(), Qt::LinkAction);
    ASSERT_TRUE(test::RunLoopUntil([this] { return Model().RowCount() == 3 && !view_->FileList()->IsAdding(); }));
    std::vector<std::string> added;
    for (int row = 0; row < 3; ++row) added.push_back(Model().Item(row).Path());
    std::sort(added.begin(), added.end());
    EXPECT_EQ(added, (std::vector<std::string>{c, a, b}));
    EXPECT_TRUE(view_->FileList()->isVisible());
    EXPECT_FALSE(view_->Panel()->isVisible());
}

TEST_F(GettingStartedTest, AddingNothingKeepsThePanel) {
    EXPECT_EQ(Add({scratch_.File("missing.wav")}), 0);
    EXPECT_TRUE(view_->Panel()->isVisible());
    EXPECT_FALSE(view_->FileList()->isVisible());
}

TEST_F(GettingStartedTest, TheShowListButtonShowsTheList) {
    Button(VeWorkView::kShowListButton)->click();
    EXPECT_TRUE(view_->FileList()->isVisible());
    EXPECT_FALSE(view_->Panel()->isVisible());
    EXPECT_TRUE(AppSettings::Instance().show_getting_started);  // only the check box changes it
}

TEST_F(GettingStartedTest, TheCheckBoxTogglesTheSettingAndItsLook) {
    VeImageButton* check = Button(VeWorkView::kShowAtStartButton);
    const QImage ticked = check->Images().normal;
    check->click();
    EXPECT_FALSE(AppSettings::Instance().show_getting_started);
    EXPECT_FALSE(view_->Panel()->ShowsAtStart());
    EXPECT_NE(check->Images().normal, ticked);
    check->click();
    EXPECT_TRUE(AppSettings::Instance().show_getting_started);
    EXPECT_EQ(check->Images().normal, ticked);
}

TEST_F(GettingStartedTest, WithTheSettingOffTheListIsShownAtOnce) {
    view_.reset();
    AppSettings::Instance().show_getting_started = false;
    MakeView();
    EXPECT_TRUE(view_->FileList()->isVisible());
    EXPECT_FALSE(view_->Panel()->isVisible());
    EXPECT_FALSE(view_->Panel()->ShowsAtStart());
}

TEST_F(WorkViewTest, DestroyingTheViewStoresTheOutputFolderAndStopsTheRun) {
    const std::string out = scratch_.File("out");
    std::filesystem::create_directories(out);
    Add({MakeWav("long.wav", 600)});
    view_->OutputBox()->SetValue(QString::fromStdString(out + "  "));
    Button(VeWorkView::kConvertButton)->click();
    ASSERT_TRUE(WaitUntilFirstRowRuns());
    view_.reset();
    EXPECT_EQ(AppSettings::Instance().output_folder, out);
    EXPECT_TRUE(test::ListFiles(out).empty());
    EXPECT_TRUE(test::TempEntries().empty());
}

}  // namespace
}  // namespace chm

// In a sanitizer build: GLib's start-up allocation and what GStreamer's libav elements keep (the
// WMA decoder of the full run) are never freed, and neither is ours to free. GLib has no frame
// pointers: without the slow unwinder no stack would reach its library constructor.
extern "C" const char* __lsan_default_suppressions() { return "leak:_dl_init\nleak:libgstlibav.so\n"; }
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
