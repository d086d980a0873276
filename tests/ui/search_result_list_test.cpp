// The search wizard's result list on its own: columns, the check column's width rule and its
// pictures, toggling by click and Space, Play, Open Containing Folder and the "FileList" menu.
#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QTimer>
#include <QUrl>
#include <filesystem>

#include "tests/support/test_files.h"
#include "tests/ui/file_list_test_support.h"
#include "tests/ui/search_wizard_test_support.h"
#include "tests/ui/ui_test_support.h"
#include "ui/search_result_list.h"

namespace chm {
namespace {

class SearchResultListTest : public ::testing::Test {
protected:
    void SetUp() override {
        list_.resize(460, 220);
        ASSERT_TRUE(test::ShowAndActivate(&list_));
    }
    SearchResultModel& Model() { return list_.Model(); }
    // Real files, so that the shell actions have something to act on.
    void AddFiles(int count) {
        std::vector<std::string> paths;
        for (int i = 0; i < count; ++i) {
            const std::string path = scratch_.File("song " + std::to_string(i) + ".wav");
            test::WriteTextFile(path, "");
            paths.push_back(path);
        }
        Model().Append(paths);
    }
    QRect Cell(int row, int column) { return list_.visualRect(Model().index(row, column)); }
    void Focus(int row, bool select) {
        list_.selectionModel()->setCurrentIndex(Model().index(row, 0), select ? QItemSelectionModel::ClearAndSelect |
                                                                                    QItemSelectionModel::Rows
                                                                              : QItemSelectionModel::Clear);
    }

    test::ScratchDir scratch_;
    VeSearchResultList list_;
};

TEST_F(SearchResultListTest, ColumnsAreInsertedNameCheckLocationAndShownCheckFirst) {
    QHeaderView* header = list_.header();
    EXPECT_EQ(Model().columnCount(), 3);
    EXPECT_EQ(Model().headerData(0, Qt::Horizontal).toString(), QStringLiteral("Name"));
    EXPECT_EQ(Model().headerData(1, Qt::Horizontal).toString(), QString());
    EXPECT_EQ(Model().headerData(2, Qt::Horizontal).toString(), QStringLiteral("Location"));
    EXPECT_EQ(header->sectionSize(SearchResultModel::kNameColumn), 140);
    EXPECT_EQ(header->sectionSize(SearchResultModel::kCheckColumn), 19);
    EXPECT_EQ(header->sectionSize(SearchResultModel::kLocationColumn), 250);
    EXPECT_EQ(header->visualIndex(SearchResultModel::kCheckColumn), 0);
    EXPECT_EQ(header->visualIndex(SearchResultModel::kNameColumn), 1);
    EXPECT_EQ(header->visualIndex(SearchResultModel::kLocationColumn), 2);
    EXPECT_EQ(Model().headerData(1, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>(), Qt::AlignCenter);
}

TEST_F(SearchResultListTest, ListIsAFullRowReportView) {
    EXPECT_EQ(list_.selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_TRUE(list_.allColumnsShowFocus());
    EXPECT_FALSE(list_.rootIsDecorated());
    EXPECT_FALSE(list_.header()->sectionsClickable());
}

TEST_F(SearchResultListTest, NameAndLocationComeFromThePath) {
    Model().Append({"/music/live/one.mp3"});
    EXPECT_EQ(Model().data(Model().index(0, SearchResultModel::kNameColumn)).toString(), QStringLiteral("one.mp3"));
    EXPECT_EQ(Model().data(Model().index(0, SearchResultModel::kLocationColumn)).toString(), QStringLiteral("/music/live"));
    EXPECT_FALSE(Model().data(Model().index(0, SearchResultModel::kNameColumn), Qt::DecorationRole).value<QIcon>().isNull());
    EXPECT_EQ(Model().RowAt(0).checked, 1);
}

TEST_F(SearchResultListTest, CheckColumnStaysAtLeast19PixelsWhileThereAreRows) {
    AddFiles(2);
    list_.header()->resizeSection(SearchResultModel::kCheckColumn, 5);
    EXPECT_EQ(list_.header()->sectionSize(SearchResultModel::kCheckColumn), 19);
    list_.header()->resizeSection(SearchResultModel::kCheckColumn, 30);
    EXPECT_EQ(list_.header()->sectionSize(SearchResultModel::kCheckColumn), 30);
    Model().Clear();
    list_.header()->resizeSection(SearchResultModel::kCheckColumn, 5);
    EXPECT_EQ(list_.header()->sectionSize(SearchResultModel::kCheckColumn), 5);
}

TEST_F(SearchResultListTest, CheckPictureIsDrawnCentredInTheCell) {
    AddFiles(2);
    Model().SetChecked(1, false);
    list_.header()->resizeSection(SearchResultModel::kCheckColumn, 40);
    const QImage shot = list_.viewport()->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    for (int row = 0; row < 2; ++row) {
        const QRect cell = Cell(row, SearchResultModel::kCheckColumn);
        const QRect box = SearchResultDelegate::CheckRect(cell);
        EXPECT_EQ(box.size(), QSize(13, 13));
        EXPECT_LE(std::abs((box.left() - cell.left()) - (cell.right() - box.right())), 1);
        EXPECT_LE(std::abs((box.top() - cell.top()) - (cell.bottom() - box.bottom())), 1);
        const QImage picture = list_.Delegate()->CheckImage(row == 0).convertToFormat(QImage::Format_ARGB32);
        EXPECT_EQ(shot.copy(box), picture) << "row " << row;
    }
    EXPECT_NE(list_.Delegate()->CheckImage(true), list_.Delegate()->CheckImage(false));
}

TEST_F(SearchResultListTest, LeftClickOnTheCheckColumnTogglesItsRow) {
    AddFiles(3);
    test::ClickAt(list_.viewport(), Cell(1, SearchResultModel::kCheckColumn).center());
    EXPECT_EQ(Model().RowAt(1).checked, 0);
    EXPECT_EQ(Model().RowAt(0).checked, 1);
    test::ClickAt(list_.viewport(), Cell(1, SearchResultModel::kCheckColumn).center());
    EXPECT_EQ(Model().RowAt(1).checked, 1);
}

TEST_F(SearchResultListTest, ClicksElsewhereToggleNothing) {
    AddFiles(2);
    test::ClickAt(list_.viewport(), Cell(0, SearchResultModel::kNameColumn).center());
    test::ClickAt(list_.viewport(), Cell(0, SearchResultModel::kLocationColumn).center());
    test::ClickAt(list_.viewport(), Cell(1, SearchResultModel::kCheckColumn).center(), Qt::RightButton);
    EXPECT_EQ(Model().CheckedPaths().size(), 2u);
}

TEST_F(SearchResultListTest, SpaceTogglesTheFocusedRowButNotItsAutoRepeat) {
    AddFiles(3);
    list_.setFocus();
    Focus(2, true);
    test::KeyPress(&list_, Qt::Key_Space);
    EXPECT_EQ(Model().RowAt(2).checked, 0);
    test::KeyPress(&list_, Qt::Key_Space, true);
    EXPECT_EQ(Model().RowAt(2).checked, 0);
    test::KeyPress(&list_, Qt::Key_Space);
    EXPECT_EQ(Model().RowAt(2).checked, 1);
    EXPECT_EQ(Model().RowAt(0).checked, 1);
}

TEST_F(SearchResultListTest, DoubleClickPlaysTheFile) {
    AddFiles(2);
    test::UrlRecorder recorder;
    const QPoint pos = Cell(1, SearchResultModel::kNameColumn).center();
    test::ClickAt(list_.viewport(), pos);
    QMouseEvent twice(QEvent::MouseButtonDblClick, QPointF(pos), list_.viewport()->mapToGlobal(QPointF(pos)),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list_.viewport(), &twice);
    ASSERT_EQ(recorder.Urls().size(), 1);
    EXPECT_EQ(recorder.Urls()[0], QUrl::fromLocalFile(QString::fromStdString(Model().RowAt(1).path)));
}

TEST_F(SearchResultListTest, PlayWithoutAHandlerTellsTheUser) {
    AddFiles(2);
    const test::NoDesktopHandlers no_handlers;
    test::SeenMessage box;
    test::ModalAnswer answer([&box](QWidget* modal) { test::ReadMessageBox(modal, box); });
    const QPoint pos = Cell(1, SearchResultModel::kNameColumn).center();
    test::ClickAt(list_.viewport(), pos);
    QMouseEvent twice(QEvent::MouseButtonDblClick, QPointF(pos), list_.viewport()->mapToGlobal(QPointF(pos)),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list_.viewport(), &twice);
    ASSERT_TRUE(box.seen);
    EXPECT_EQ(box.text, QStringLiteral("Cannot open file: \"") + QString::fromStdString(Model().RowAt(1).path) +
                            QStringLiteral("\"   "));
    EXPECT_EQ(box.title, QStringLiteral("Tavorin Channel Merger"));
    EXPECT_EQ(box.icon, QMessageBox::Critical);
    EXPECT_EQ(box.owner, &list_);
}

TEST_F(SearchResultListTest, MenuIsGreyedWithoutAFocusedSelectedRow) {
    AddFiles(2);
    std::unique_ptr<QMenu> menu = list_.MakeContextMenu();
    EXPECT_EQ(menu->title(), QStringLiteral("FileList"));
    ASSERT_EQ(menu->actions().size(), 2);
    EXPECT_EQ(menu->actions()[0]->text(), QStringLiteral("Open Containing Folder"));
    EXPECT_EQ(menu->actions()[1]->text(), QStringLiteral("Play"));
    for (QAction* action : menu->actions()) EXPECT_FALSE(action->isEnabled());
    EXPECT_EQ(menu->defaultAction(), nullptr);
    // Focused but not selected: still greyed.
    Focus(1, false);
    menu = list_.MakeContextMenu();
    for (QAction* action : menu->actions()) EXPECT_FALSE(action->isEnabled());
}

TEST_F(SearchResultListTest, MenuOfAFocusedSelectedRowHasPlayAsDefault) {
    AddFiles(2);
    Focus(1, true);
    std::unique_ptr<QMenu> menu = list_.MakeContextMenu();
    for (QAction* action : menu->actions()) EXPECT_TRUE(action->isEnabled());
    ASSERT_NE(menu->defaultAction(), nullptr);
    EXPECT_EQ(menu->defaultAction()->text(), QStringLiteral("Play"));
    EXPECT_EQ(menu->defaultAction()->data().toInt(), 32784);
    EXPECT_EQ(menu->actions()[0]->data().toInt(), 32783);
}

TEST_F(SearchResultListTest, RightClickInTheItemsOpensTheMenuAndPlayPlays) {
    AddFiles(2);
    Focus(0, true);
    test::UrlRecorder recorder;
    QString title;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) return;
        poll.stop();
        title = menu->title();
        menu->setActiveAction(menu->actions()[1]);
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(menu, &enter);
    });
    poll.start();
    const QPoint pos = Cell(0, SearchResultModel::kNameColumn).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, list_.viewport()->mapToGlobal(pos));
    QApplication::sendEvent(list_.viewport(), &event);
    EXPECT_EQ(title, QStringLiteral("FileList"));
    ASSERT_EQ(recorder.Urls().size(), 1);
    EXPECT_EQ(recorder.Urls()[0], QUrl::fromLocalFile(QString::fromStdString(Model().RowAt(0).path)));
}

// A right click below the rows, through the window (the menu opens on the press): the selection
// goes first, and the skinned menu offers nothing to act on.
TEST_F(SearchResultListTest, RightClickBelowTheRowsClearsTheSelectionAndGreysTheMenu) {
    AddFiles(2);
    Focus(1, true);
    const QPoint below_rows(200, Cell(1, SearchResultModel::kNameColumn).bottom() + 60);
    ASSERT_FALSE(list_.indexAt(below_rows).isValid());
    const test::OpenedMenu opened = test::RightClickThroughWindow(list_.viewport(), below_rows);
    EXPECT_EQ(opened.enabled, (std::vector<bool>{false, false}));
    EXPECT_TRUE(opened.skinned);
    EXPECT_FALSE(list_.selectionModel()->hasSelection());
}

TEST_F(SearchResultListTest, OpenContainingFolderShowsAnExistingFile) {
    AddFiles(1);
    Focus(0, true);
    test::UrlRecorder recorder;
    bool answered = false, by_file_manager = false;
    QObject::connect(&list_, &VeSearchResultList::ContainingFolderShown, [&](bool shown) {
        answered = true;
        by_file_manager = shown;
    });
    list_.RunCommand(32783);
    ASSERT_TRUE(test::WaitFor([&] { return answered; }, std::chrono::seconds(15)));
    // Without a file manager on the bus the file's folder is opened instead.
    if (!by_file_manager) {
        ASSERT_EQ(recorder.Urls().size(), 1);
        EXPECT_EQ(recorder.Urls()[0], QUrl::fromLocalFile(QString::fromStdString(scratch_.Path())));
    }
}

TEST_F(SearchResultListTest, OpenContainingFolderOfAVanishedFileDoesNothing) {
    AddFiles(1);
    std::filesystem::remove(Model().RowAt(0).path);
    test::UrlRecorder recorder;
    EXPECT_FALSE(list_.OpenContainingFolder(0));
    EXPECT_TRUE(recorder.Urls().isEmpty());
}

TEST_F(SearchResultListTest, PlayCommandOpensTheFocusedFile) {
    AddFiles(3);
    Focus(2, true);
    test::UrlRecorder recorder;
    list_.RunCommand(32784);
    ASSERT_EQ(recorder.Urls().size(), 1);
    EXPECT_EQ(recorder.Urls()[0], QUrl::fromLocalFile(QString::fromStdString(Model().RowAt(2).path)));
}

}  // namespace
}  // namespace chm
