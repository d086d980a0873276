// The file list on real widgets and real folders: adding through the filter, the add question,
// drops, removal and clearing, the context menu, sorting by header clicks, and the status cell.
#include <gtest/gtest.h>

#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QTimer>
#include <filesystem>
#include <memory>

#include "engine/task_progress.h"
#include "tests/ui/file_list_view_fixture.h"
#include "ui/file_list_delegate.h"
#include "ui/popup_menu_frame.h"
#include "ui/skinned_menu.h"
#include "ui/task_progress_draw.h"

namespace chm {
namespace {

using test::FileListViewFixture;
using test::ModalSteps;
using test::SeenMessageBox;

class FileListAddTest : public FileListViewFixture {};

TEST_F(FileListAddTest, SameFileAddedTwiceGivesOneRow) {
    const std::string path = Touch("song.mp3");
    EXPECT_EQ(Add({path}), 1);
    EXPECT_EQ(Add({path}), 0);
    EXPECT_EQ(Add({path, path}), 0);
    EXPECT_EQ(Paths(), (std::vector<std::string>{path}));
}

TEST_F(FileListAddTest, SameFileTwiceInOneAddGivesOneRow) {
    const std::string path = Touch("song.mp3");
    EXPECT_EQ(Add({path, scratch_.Path(), " " + path + " "}), 1);
    EXPECT_EQ(Model().RowCount(), 1);
}

TEST_F(FileListAddTest, NamesDifferingOnlyInCaseGiveTwoRows) {
    const std::string upper = Touch("X.MP3");
    const std::string lower = Touch("x.mp3");
    EXPECT_EQ(Add({upper, lower}), 2);
    EXPECT_EQ(Names(), (std::vector<std::string>{"X.MP3", "x.mp3"}));
}

TEST_F(FileListAddTest, FolderAddsItsSupportedFilesAtEveryDepthInNameOrder) {
    test::MakeEmptyFiles(At("music"), {"b.wav", "a.MP3", "notes.txt", "cover.jpg", "deep/er/c.wma", "deep/d.pcm",
                                       ".hidden/e.wav", "noext"});
    EXPECT_EQ(Add({At("music")}), 5);
    EXPECT_EQ(Paths(), (std::vector<std::string>{At("music/.hidden/e.wav"), At("music/a.MP3"), At("music/b.wav"),
                                                 At("music/deep/d.pcm"), At("music/deep/er/c.wma")}));
}

TEST_F(FileListAddTest, FolderOf499FilesAsksNothing) {
    test::MakeNumberedFiles(At("many"), 499);
    ModalSteps steps;
    steps.Then(test::IsMessageBox(), test::Press(QMessageBox::No));
    EXPECT_EQ(Add({At("many")}), 499);
    EXPECT_EQ(steps.Done(), 0);
}

TEST_F(FileListAddTest, FolderOf500FilesAsksWithTheCount) {
    test::MakeNumberedFiles(At("many"), 500);
    SeenMessageBox seen;
    ModalSteps steps;
    steps.Then(test::IsMessageBox(), test::Press(QMessageBox::Yes, &seen));
    EXPECT_EQ(Add({At("many")}), 500);
    ASSERT_TRUE(seen.seen);
    EXPECT_EQ(seen.text, QStringLiteral("500 files are to be added.\n\nAre you sure you want to continue?           "));
    EXPECT_EQ(seen.caption, QStringLiteral("Confirm Add Files"));
    EXPECT_EQ(seen.icon, QMessageBox::Question);
    EXPECT_EQ(seen.buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(seen.default_button, QMessageBox::No);
}

TEST_F(FileListAddTest, AddQuestionAnsweredNoAddsNothing) {
    test::MakeNumberedFiles(At("many"), 500);
    ModalSteps steps;
    steps.Then(test::IsMessageBox(), test::Press(QMessageBox::No));
    EXPECT_EQ(Add({At("many")}), 0);
    EXPECT_EQ(steps.Done(), 1);
    EXPECT_EQ(Model().RowCount(), 0);
    EXPECT_TRUE(Model().Keys().empty());
}

TEST_F(FileListAddTest, NoPathsDoNothing) {
    bool opened = false;
    const QObject listening;
    QObject::connect(&view_, &VeFileListView::FilterDialogOpening, &listening, [&] { opened = true; });
    EXPECT_EQ(Add({}), 0);
    EXPECT_FALSE(opened);
}

TEST_F(FileListAddTest, RemovedFileCanBeAddedAgain) {
    const std::string a = Touch("a.wav");
    const std::string b = Touch("b.wav");
    ASSERT_EQ(Add({a, b}), 2);
    view_.selectionModel()->select(Model().index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    view_.RemoveSelected();
    EXPECT_EQ(Paths(), (std::vector<std::string>{b}));
    EXPECT_EQ(Add({a}), 1);
    EXPECT_EQ(Paths(), (std::vector<std::string>{b, a}));
}

TEST_F(FileListAddTest, DeleteKeyRemovesTheSelectedRowsUnlessBusy) {
    ASSERT_EQ(Add({Touch("a.wav"), Touch("b.wav"), Touch("c.wav")}), 3);
    view_.selectionModel()->select(Model().index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    view_.selectionModel()->select(Model().index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    view_.SetBusy(true);
    QKeyEvent busy_press(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QApplication::sendEvent(&view_, &busy_press);
    EXPECT_EQ(Model().RowCount(), 3);
    view_.SetBusy(false);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QApplication::sendEvent(&view_, &press);
    EXPECT_EQ(Names(), (std::vector<std::string>{"b.wav"}));
}

TEST_F(FileListAddTest, CtrlASelectsEveryRow) {
    ASSERT_EQ(Add({Touch("a.wav"), Touch("b.wav"), Touch("c.wav")}), 3);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier);
    QApplication::sendEvent(&view_, &press);
    EXPECT_EQ(view_.selectionModel()->selectedRows().size(), 3);
}

class FileListClearTest : public FileListViewFixture {};

TEST_F(FileListClearTest, ClearingAnEmptyListAsksNothing) {
    ModalSteps steps;
    steps.Then(test::IsMessageBox(), test::Press(QMessageBox::No));
    view_.Clear(true);
    EXPECT_EQ(steps.Done(), 0);
}

TEST_F(FileListClearTest, ClearAsksAndNoKeepsEveryRow) {
    ASSERT_EQ(Add({Touch("a.wav"), Touch("b.wav")}), 2);
    SeenMessageBox seen;
    ModalSteps steps;
    steps.Then(test::IsMessageBox(), test::Press(QMessageBox::No, &seen));
    view_.Clear(true);
    ASSERT_TRUE(seen.seen);
    EXPECT_EQ(seen.text,
              QStringLiteral("This will remove all items from the list.     \n\nAre you sure you want to continue?"));
    EXPECT_EQ(seen.caption, QStringLiteral("Confirm Clear"));
    EXPECT_EQ(seen.icon, QMessageBox::Question);
    EXPECT_EQ(seen.default_button, QMessageBox::No);
    EXPECT_EQ(Model().RowCount(), 2);
}

TEST_F(FileListClearTest, ClearAnsweredYesEmptiesRowsAndKeys) {
    const std::string a = Touch("a.wav");
    ASSERT_EQ(Add({a, Touch("b.wav")}), 2);
    ModalSteps steps;
    steps.Then(test::IsMessageBox(), test::Press(QMessageBox::Yes));
    view_.Clear(true);
    EXPECT_EQ(Model().RowCount(), 0);
    EXPECT_TRUE(Model().Keys().empty());
    EXPECT_EQ(Add({a}), 1);
}

TEST_F(FileListClearTest, ClearWithoutAskingEmptiesAtOnce) {
    ASSERT_EQ(Add({Touch("a.wav")}), 1);
    ModalSteps steps;
    steps.Then(test::IsMessageBox(), test::Press(QMessageBox::No));
    view_.Clear(false);
    EXPECT_EQ(steps.Done(), 0);
    EXPECT_EQ(Model().RowCount(), 0);
}

// Drops as the window system delivers them to the list's item area.
class FileListDropTest : public FileListViewFixture {
protected:
    static std::unique_ptr<QMimeData> UrlsOf(const std::vector<std::string>& paths) {
        auto data = std::make_unique<QMimeData>();
        QList<QUrl> urls;
        for (const std::string& path : paths) urls.append(QUrl::fromLocalFile(QString::fromStdString(path)));
        data->setUrls(urls);
        return data;
    }
    // The drag's effect when it enters: LinkAction when taken, IgnoreAction when refused.
    Qt::DropAction Enter(const QMimeData& data) {
        QDragEnterEvent enter(QPoint(60, 60), kOffered, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view_.viewport(), &enter);
        return enter.isAccepted() ? enter.dropAction() : Qt::IgnoreAction;
    }
    Qt::DropAction Drop(const QMimeData& data) {
        QDropEvent drop(QPointF(60, 60), kOffered, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view_.viewport(), &drop);
        return drop.isAccepted() ? drop.dropAction() : Qt::IgnoreAction;
    }
    bool WaitForRows(int rows) {
        return test::WaitFor([&] { return Model().RowCount() == rows && !view_.IsAdding(); });
    }

    static constexpr Qt::DropActions kOffered = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
};

TEST_F(FileListDropTest, DroppedFolderAddsFilesFromEveryDepth) {
    test::MakeEmptyFiles(At("drop"), {"top.mp3", "one/two.wav", "one/two/three.wma", "one/two/three/four.pcm"});
    const auto data = UrlsOf({At("drop")});
    EXPECT_EQ(Enter(*data), Qt::LinkAction);
    EXPECT_EQ(Drop(*data), Qt::LinkAction);
    ASSERT_TRUE(WaitForRows(4));
    EXPECT_EQ(Names(), (std::vector<std::string>{"four.pcm", "three.wma", "two.wav", "top.mp3"}));
}

TEST_F(FileListDropTest, DropOfOnlyATextFileIsRefused) {
    const auto data = UrlsOf({Touch("readme.txt")});
    EXPECT_EQ(Enter(*data), Qt::IgnoreAction);
    EXPECT_EQ(Drop(*data), Qt::IgnoreAction);
    QApplication::processEvents();
    EXPECT_EQ(Model().RowCount(), 0);
}

TEST_F(FileListDropTest, DropWithOneSupportedFileAmongOthersIsTaken) {
    const auto data = UrlsOf({Touch("readme.txt"), Touch("a.wav")});
    EXPECT_EQ(Enter(*data), Qt::LinkAction);
    EXPECT_EQ(Drop(*data), Qt::LinkAction);
    ASSERT_TRUE(WaitForRows(1));
}

TEST_F(FileListDropTest, DropIsRefusedWhileBusy) {
    const auto data = UrlsOf({Touch("a.wav")});
    view_.SetBusy(true);
    EXPECT_EQ(Enter(*data), Qt::IgnoreAction);
    EXPECT_EQ(Drop(*data), Qt::IgnoreAction);
    view_.SetBusy(false);
    EXPECT_EQ(Enter(*data), Qt::LinkAction);
}

TEST_F(FileListDropTest, DropThatCannotBeALinkIsRefused) {
    const auto data = UrlsOf({Touch("a.wav")});
    QDragEnterEvent enter(QPoint(60, 60), Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view_.viewport(), &enter);
    EXPECT_FALSE(enter.isAccepted());
}

TEST_F(FileListDropTest, DroppedPathLongerThan260CharactersArrivesWhole) {
    std::string folder = At("");
    while (folder.size() < 300) folder += "a-long-folder-name-for-the-drop/";
    const std::string path = folder + "deep.wav";
    test::MakeEmptyFiles(folder, {"deep.wav"});
    const auto data = UrlsOf({path});
    EXPECT_EQ(Enter(*data), Qt::LinkAction);
    EXPECT_EQ(Drop(*data), Qt::LinkAction);
    ASSERT_TRUE(WaitForRows(1));
    EXPECT_EQ(Paths(), (std::vector<std::string>{path}));
}

// Two drops taken one after the other: the second arrives while the first is still filtering
// and is added after it, never dropped.
TEST_F(FileListDropTest, ADropThatArrivesWhileAnotherFiltersIsAddedAfterIt) {
    test::MakeEmptyFiles(At("first"), {"a.wav", "b.wav"});
    test::MakeEmptyFiles(At("second"), {"c.mp3"});
    QObject listening;
    int dialogs = 0;
    QObject::connect(&view_, &VeFileListView::FilterDialogOpening, &listening, [&](FilterDialog* dialog) {
        if (++dialogs > 1) return;
        // The first filter holds until the second drop's add has come in.
        dialog->Worker().Pause();
        QTimer::singleShot(0, dialog, [dialog] { dialog->Worker().Resume(); });
    });
    const auto first = UrlsOf({At("first")});
    const auto second = UrlsOf({At("second")});
    EXPECT_EQ(Enter(*first), Qt::LinkAction);
    EXPECT_EQ(Drop(*first), Qt::LinkAction);
    EXPECT_EQ(Enter(*second), Qt::LinkAction);
    EXPECT_EQ(Drop(*second), Qt::LinkAction);
    ASSERT_TRUE(WaitForRows(3));
    EXPECT_EQ(Names(), (std::vector<std::string>{"a.wav", "b.wav", "c.mp3"}));
    EXPECT_EQ(dialogs, 2);
}

// The "FileList" menu, answered from the event loop while it is open.
class FileListMenuTest : public FileListViewFixture {};

TEST_F(FileListMenuTest, WithoutAFocusedSelectedRowBothItemsAreGreyed) {
    ASSERT_EQ(Add({Touch("a.wav")}), 1);
    ClearFocusAndSelection();
    const SeenMenu seen = RightClick(QPoint(300, 200), [](QMenu* menu) { menu->close(); });
    ASSERT_TRUE(seen.seen);
    EXPECT_EQ(seen.texts, (QStringList{"Open Containing Folder", "Play"}));
    EXPECT_EQ(seen.ids, (std::vector<int>{32783, 32784}));
    EXPECT_EQ(seen.enabled, (std::vector<bool>{false, false}));
    EXPECT_TRUE(seen.default_text.isEmpty());
}

// The menu never acts on a row the user did not click. The click comes through the window, where
// the menu opens on the press, before the release.
TEST_F(FileListMenuTest, RightClickOnEmptySpaceClearsTheSelectionAndGreysBothItems) {
    ASSERT_EQ(Add({Touch("a.wav"), Touch("b.wav")}), 2);
    view_.selectionModel()->setCurrentIndex(Model().index(1, 0),
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    const QPoint below_rows(300, RowCentre(1).y() + 100);
    ASSERT_FALSE(view_.indexAt(below_rows).isValid());
    const test::OpenedMenu opened = test::RightClickThroughWindow(view_.viewport(), below_rows);
    EXPECT_EQ(opened.enabled, (std::vector<bool>{false, false}));
    EXPECT_FALSE(view_.selectionModel()->hasSelection());
}

// The list's own menu has the program's look and frame, with or without a work view around it.
TEST_F(FileListMenuTest, TheMenuWearsTheSkinInTheProgramsFrame) {
    ASSERT_EQ(Add({Touch("a.wav")}), 1);
    bool skinned = false;
    int frame_width = 0;
    const SeenMenu seen = RightClick(RowCentre(0), [&](QMenu* menu) {
        skinned = qobject_cast<SkinnedMenuStyle*>(menu->style()) != nullptr;
        frame_width = menu->style()->pixelMetric(QStyle::PM_MenuPanelWidth, nullptr, menu);
        menu->close();
    });
    ASSERT_TRUE(seen.seen);
    EXPECT_TRUE(skinned);
    EXPECT_EQ(frame_width, PopupMenuFrame::kFrameWidth);
}

TEST_F(FileListMenuTest, FocusedRowThatIsNotSelectedGreysBothItems) {
    ASSERT_EQ(Add({Touch("a.wav"), Touch("b.wav")}), 2);
    view_.selectionModel()->setCurrentIndex(Model().index(1, 0), QItemSelectionModel::NoUpdate);
    view_.selectionModel()->select(Model().index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    const std::unique_ptr<QMenu> menu = view_.MakeContextMenu();
    EXPECT_FALSE(menu->actions().at(0)->isEnabled());
    EXPECT_FALSE(menu->actions().at(1)->isEnabled());
}

TEST_F(FileListMenuTest, RightClickOnARowOffersPlayAsTheDefaultAndPlaysIt) {
    const std::string b = Touch("b.wav");
    ASSERT_EQ(Add({Touch("a.wav"), b}), 2);
    test::UrlRecorder opened;
    const SeenMenu seen = RightClick(RowCentre(1), [](QMenu* menu) { Choose(menu, 1); });
    ASSERT_TRUE(seen.seen);
    EXPECT_EQ(seen.enabled, (std::vector<bool>{true, true}));
    EXPECT_EQ(seen.default_text, QStringLiteral("Play"));
    EXPECT_EQ(opened.Urls(), (QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString(b))}));
}

TEST_F(FileListMenuTest, DoubleClickOnARowPlaysIt) {
    const std::string a = Touch("a.wav");
    ASSERT_EQ(Add({a}), 1);
    test::UrlRecorder opened;
    const QPoint pos = RowCentre(0);
    QMouseEvent press(QEvent::MouseButtonDblClick, QPointF(pos), view_.viewport()->mapToGlobal(QPointF(pos)),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view_.viewport(), &press);
    EXPECT_EQ(opened.Urls(), (QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString(a))}));
}

TEST_F(FileListMenuTest, OpenContainingFolderOfAVanishedFileDoesNothing) {
    const std::string a = Touch("a.wav");
    ASSERT_EQ(Add({a}), 1);
    std::filesystem::remove(a);
    test::UrlRecorder opened;
    EXPECT_FALSE(view_.OpenContainingFolder(0));
    QApplication::processEvents();
    EXPECT_TRUE(opened.Urls().isEmpty());
}

// Sorting by header clicks, over rows made to tell the rules apart.
class FileListSortTest : public FileListViewFixture {
protected:
    void SetUp() override {
        FileListViewFixture::SetUp();
        ASSERT_EQ(Add({Touch("d1/b.mp3"), Touch("d2/a.mp3"), Touch("d1/a.mp3"), Touch("d1/B.mp3")}), 4);
    }
    std::vector<std::string> Rows() {
        std::vector<std::string> rows;
        for (int row = 0; row < Model().RowCount(); ++row) {
            const FileListItem& item = Model().Item(row);
            rows.push_back(PathFileName(item.Location()) + "/" + item.Name());
        }
        return rows;
    }
    static std::string PathFileName(const std::string& path) { return path.substr(path.rfind('/') + 1); }
};

TEST_F(FileListSortTest, NameSortsCaseSensitivelyThenByLocationAndReverses) {
    ClickHeader(FileListModel::kNameColumn);
    EXPECT_EQ(Rows(), (std::vector<std::string>{"d1/B.mp3", "d1/a.mp3", "d2/a.mp3", "d1/b.mp3"}));
    EXPECT_EQ(view_.Header()->ArrowOf(FileListModel::kNameColumn), VeFileListHeader::Arrow::kUp);
    ClickHeader(FileListModel::kNameColumn);
    EXPECT_EQ(Rows(), (std::vector<std::string>{"d1/b.mp3", "d2/a.mp3", "d1/a.mp3", "d1/B.mp3"}));
    EXPECT_EQ(view_.Header()->ArrowOf(FileListModel::kNameColumn), VeFileListHeader::Arrow::kDown);
    ClickHeader(FileListModel::kNameColumn);
    EXPECT_EQ(Rows(), (std::vector<std::string>{"d1/B.mp3", "d1/a.mp3", "d2/a.mp3", "d1/b.mp3"}));
}

TEST_F(FileListSortTest, LocationSortsThenByName) {
    ClickHeader(FileListModel::kLocationColumn);
    EXPECT_EQ(Rows(), (std::vector<std::string>{"d1/B.mp3", "d1/a.mp3", "d1/b.mp3", "d2/a.mp3"}));
    ClickHeader(FileListModel::kLocationColumn);
    EXPECT_EQ(Rows(), (std::vector<std::string>{"d2/a.mp3", "d1/b.mp3", "d1/a.mp3", "d1/B.mp3"}));
}

TEST_F(FileListSortTest, ClickOnAnotherColumnStartsAscendingAndMovesTheArrow) {
    ClickHeader(FileListModel::kNameColumn);
    ClickHeader(FileListModel::kNameColumn);
    ASSERT_EQ(view_.SortOrder(), Qt::DescendingOrder);
    ClickHeader(FileListModel::kLocationColumn);
    EXPECT_EQ(view_.SortColumn(), FileListModel::kLocationColumn);
    EXPECT_EQ(view_.SortOrder(), Qt::AscendingOrder);
    EXPECT_EQ(view_.Header()->ArrowOf(FileListModel::kLocationColumn), VeFileListHeader::Arrow::kUp);
    EXPECT_EQ(view_.Header()->ArrowOf(FileListModel::kNameColumn), VeFileListHeader::Arrow::kNone);
    EXPECT_EQ(view_.Delegate()->SortedColumn(), FileListModel::kLocationColumn);
}

TEST_F(FileListSortTest, StatusSortsByStateAndPerCentThenLocationThenName) {
    ASSERT_TRUE(Model().RemoveAll());
    ASSERT_EQ(Add({Touch("d1/n.wav"), Touch("d2/h.wav"), Touch("d1/z.wav"), Touch("d1/h.wav"), Touch("d1/f.wav"),
                   Touch("d1/c.wav"), Touch("d1/g.wav")}),
              7);
    auto progress = [&](const std::string& name) -> TaskProgress& {
        for (int row = 0; row < Model().RowCount(); ++row)
            if (Model().Item(row).Path() == At(name)) return Model().Item(row).Progress();
        throw std::runtime_error(name);
    };
    progress("d2/h.wav").Reset(100);
    progress("d2/h.wav").Advance(50);
    progress("d1/h.wav").Reset(2300);
    progress("d1/h.wav").Advance(1150);
    progress("d1/g.wav").Reset(6100);
    progress("d1/g.wav").Advance(3050);
    progress("d1/z.wav").Reset(2300);
    progress("d1/z.wav").Complete();
    progress("d1/f.wav").Reset(2300);
    progress("d1/f.wav").Advance(2000);
    progress("d1/f.wav").Fail();
    progress("d1/c.wav").Reset(100);
    progress("d1/c.wav").Advance(20);
    progress("d1/c.wav").Cancel();
    ClickHeader(FileListModel::kStatusColumn);
    const std::vector<std::string> ascending{"d1/n.wav", "d1/f.wav", "d1/c.wav", "d1/g.wav",
                                             "d1/h.wav", "d2/h.wav", "d1/z.wav"};
    EXPECT_EQ(Rows(), ascending);
    ClickHeader(FileListModel::kStatusColumn);
    EXPECT_EQ(Rows(), std::vector<std::string>(ascending.rbegin(), ascending.rend()));
}

TEST_F(FileListSortTest, SortArrowIsPaintedOnTheSortedColumnOnly) {
    // The arrow's pixels at the top centre of a section: up is narrow at the top, down at the
    // bottom.
    auto arrow_pixels = [&](int column) {
        QHeaderView* header = view_.Header();
        const QRect area(header->sectionViewportPosition(column) + header->sectionSize(column) / 2 - 4, 1,
                         VeFileListHeader::kArrowWidth + 2, VeFileListHeader::kArrowHeight);
        const QImage image = test::GrabRect(header->viewport(), area);
        std::vector<int> per_row;
        for (int y = 0; y < image.height(); ++y) {
            int count = 0;
            for (int x = 0; x < image.width(); ++x)
                count += image.pixel(x, y) == VeFileListHeader::ArrowColor().rgb() ? 1 : 0;
            per_row.push_back(count);
        }
        return per_row;
    };
    const std::vector<int> none{0, 0, 0, 0};
    EXPECT_EQ(arrow_pixels(FileListModel::kNameColumn), none);
    ClickHeader(FileListModel::kNameColumn);
    EXPECT_EQ(arrow_pixels(FileListModel::kNameColumn), (std::vector<int>{1, 3, 5, 7}));
    EXPECT_EQ(arrow_pixels(FileListModel::kLocationColumn), none);
    ClickHeader(FileListModel::kNameColumn);
    EXPECT_EQ(arrow_pixels(FileListModel::kNameColumn), (std::vector<int>{7, 5, 3, 1}));
    ClickHeader(FileListModel::kStatusColumn);
    EXPECT_EQ(arrow_pixels(FileListModel::kNameColumn), none);
    EXPECT_EQ(arrow_pixels(FileListModel::kStatusColumn), (std::vector<int>{1, 3, 5, 7}));
}

TEST_F(FileListSortTest, HeadersDoNotSortWhileBusy) {
    const std::vector<std::string> before = Rows();
    view_.SetBusy(true);
    EXPECT_FALSE(view_.Header()->sectionsClickable());
    ClickHeader(FileListModel::kNameColumn);
    view_.SortByColumn(FileListModel::kNameColumn);
    EXPECT_EQ(Rows(), before);
    EXPECT_EQ(view_.SortColumn(), -1);
    view_.SetBusy(false);
    EXPECT_TRUE(view_.Header()->sectionsClickable());
}

TEST_F(FileListSortTest, SelectionAndFocusStayWithTheirRows) {
    view_.selectionModel()->setCurrentIndex(Model().index(1, 0),
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    ASSERT_EQ(Model().Item(1).Path(), At("d2/a.mp3"));
    ClickHeader(FileListModel::kLocationColumn);
    const QModelIndexList selected = view_.selectionModel()->selectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(Model().Item(selected[0].row()).Path(), At("d2/a.mp3"));
    EXPECT_EQ(Model().Item(view_.currentIndex().row()).Path(), At("d2/a.mp3"));
}

class FileListDisplayTest : public FileListViewFixture {};

TEST_F(FileListDisplayTest, ColumnsHaveTheirNamesAndWidths) {
    EXPECT_EQ(Model().headerData(0, Qt::Horizontal).toString(), QStringLiteral("Name"));
    EXPECT_EQ(Model().headerData(1, Qt::Horizontal).toString(), QStringLiteral("Location"));
    EXPECT_EQ(Model().headerData(2, Qt::Horizontal).toString(), QStringLiteral("Status"));
    EXPECT_EQ(view_.columnWidth(0), 220);
    EXPECT_EQ(view_.columnWidth(1), 350);
    EXPECT_EQ(view_.columnWidth(2), 130);
}

TEST_F(FileListDisplayTest, NoRowIsSelectedUntilTheUserSelectsOne) {
    ASSERT_EQ(Add({Touch("a.wav"), Touch("b.wav")}), 2);
    view_.setFocus();
    ASSERT_TRUE(test::WaitFor([&] { return view_.hasFocus(); }));
    EXPECT_TRUE(view_.selectionModel()->selectedRows().isEmpty());
}

TEST_F(FileListDisplayTest, NameCarriesTheFileTypeIcon) {
    ASSERT_EQ(Add({Touch("a.wav")}), 1);
    const QVariant icon = Model().data(Model().index(0, FileListModel::kNameColumn), Qt::DecorationRole);
    EXPECT_EQ(icon.userType(), QMetaType::QIcon);
    EXPECT_TRUE(Model().data(Model().index(0, FileListModel::kLocationColumn), Qt::DecorationRole).isNull());
}

TEST_F(FileListDisplayTest, RowNotYetStartedPaintsAnEmptyStatusCell) {
    ASSERT_EQ(Add({Touch("a.wav")}), 1);
    ClearFocusAndSelection();
    const QRect cell = view_.visualRect(Model().index(0, FileListModel::kStatusColumn));
    ASSERT_TRUE(cell.isValid());
    const QImage image = test::GrabRect(view_.viewport(), cell);
    const QRgb background = view_.palette().color(QPalette::Base).rgb();
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ASSERT_EQ(image.pixel(x, y), background) << x << "," << y;
    EXPECT_EQ(Model().data(Model().index(0, FileListModel::kStatusColumn), Qt::AccessibleTextRole).toString(),
              QString());
}

TEST_F(FileListDisplayTest, StartedRowPaintsItsProgressInTheStatusCell) {
    ASSERT_EQ(Add({Touch("a.wav")}), 1);
    ClearFocusAndSelection();
    Model().Item(0).Progress().Reset(3);
    Model().Item(0).Progress().Advance(1);
    view_.viewport()->update();
    const QRect cell = view_.visualRect(Model().index(0, FileListModel::kStatusColumn));
    const QImage image = test::GrabRect(view_.viewport(), cell);
    QImage expected(cell.size(), QImage::Format_RGB32);
    expected.fill(view_.palette().color(QPalette::Base));
    {
        QPainter painter(&expected);
        DrawTaskProgress(Model().Item(0).Progress(), painter, QRect(QPoint(1, 1), cell.size() - QSize(2, 2)));
    }
    EXPECT_EQ(image, expected);
    EXPECT_EQ(Model().data(Model().index(0, FileListModel::kStatusColumn), Qt::AccessibleTextRole).toString(),
              QStringLiteral("33%"));
}

}  // namespace
}  // namespace chm
