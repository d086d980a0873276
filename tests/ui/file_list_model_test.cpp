// The file list's model on its own, without a window: rows, the duplicate guard, the row
// identities and the notices of a run, the comparison rules of the sort.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/conversion_worker.h"
#include "tests/support/test_files.h"
#include "tests/ui/file_list_test_support.h"
#include "tests/ui/ui_test_support.h"
#include "ui/file_list_model.h"

namespace chm {
namespace {

class FileListModelTest : public ::testing::Test {
protected:
    std::string At(const std::string& name) const { return scratch_.File(name); }
    std::string Touch(const std::string& name) {
        test::MakeEmptyFiles(scratch_.Path(), {name});
        return At(name);
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (int row = 0; row < model_.RowCount(); ++row) names.push_back(model_.Item(row).Name());
        return names;
    }

    test::ScratchDir scratch_;
    FileListModel model_;
};

TEST_F(FileListModelTest, AddItemTrimsTheInputAndSplitsNameAndLocation) {
    const std::string path = Touch("song.mp3");
    EXPECT_EQ(model_.AddItem("  " + path + "\t "), 0);
    ASSERT_EQ(model_.RowCount(), 1);
    EXPECT_EQ(model_.Item(0).Path(), path);
    EXPECT_EQ(model_.Item(0).Name(), "song.mp3");
    EXPECT_EQ(model_.Item(0).Location(), scratch_.Path());
    EXPECT_EQ(model_.data(model_.index(0, FileListModel::kNameColumn)).toString(), QStringLiteral("song.mp3"));
    EXPECT_EQ(model_.data(model_.index(0, FileListModel::kLocationColumn)).toString(),
              QString::fromStdString(scratch_.Path()));
    EXPECT_TRUE(model_.data(model_.index(0, FileListModel::kStatusColumn)).isNull());
}

TEST_F(FileListModelTest, AddItemRefusesFoldersMissingFilesAndUnsupportedTypes) {
    std::filesystem::create_directories(At("album.mp3"));
    Touch("notes.txt");
    EXPECT_EQ(model_.AddItem(At("album.mp3")), -1);
    EXPECT_EQ(model_.AddItem(At("gone.wav")), -1);
    EXPECT_EQ(model_.AddItem(At("notes.txt")), -1);
    EXPECT_EQ(model_.AddItem(""), -1);
    EXPECT_EQ(model_.RowCount(), 0);
}

TEST_F(FileListModelTest, AddItemRefusesAPipeWithAnAudioName) {
    ASSERT_EQ(::mkfifo(At("x.wav").c_str(), 0600), 0);
    EXPECT_EQ(model_.AddItem(At("x.wav")), -1);
}

TEST_F(FileListModelTest, NormalisingMarksFoldersAndKeepsBackslashes) {
    std::filesystem::create_directories(At("dir"));
    EXPECT_EQ(FileListModel::NormalizeListPath(" " + At("dir") + " "), At("dir") + "/");
    EXPECT_EQ(FileListModel::NormalizeListPath(At("dir") + "/"), At("dir") + "/");
    EXPECT_EQ(FileListModel::NormalizeListPath(At("a\\b.wav")), At("a\\b.wav"));
}

TEST_F(FileListModelTest, BackslashIsPartOfTheFileName) {
    const std::string path = Touch("live\\take.wav");
    EXPECT_EQ(model_.AddAccepted({path}), 1);
    EXPECT_EQ(model_.Item(0).Name(), "live\\take.wav");
    EXPECT_EQ(model_.Item(0).Location(), scratch_.Path());
}

TEST_F(FileListModelTest, SameFileTwiceGivesOneRow) {
    const std::string path = Touch("a.mp3");
    EXPECT_EQ(model_.AddAccepted({path, path}), 1);
    EXPECT_EQ(model_.AddAccepted({" " + path}), 0);
    EXPECT_EQ(model_.RowCount(), 1);
    EXPECT_EQ(model_.Keys(), (std::set<std::string>{path}));
}

TEST_F(FileListModelTest, NamesDifferingInCaseAreTwoRows) {
    const std::string upper = Touch("X.MP3");
    const std::string lower = Touch("x.mp3");
    EXPECT_EQ(model_.AddAccepted({upper, lower}), 2);
    EXPECT_EQ(Names(), (std::vector<std::string>{"X.MP3", "x.mp3"}));
    EXPECT_EQ(model_.Keys().size(), 2u);
}

TEST_F(FileListModelTest, ItemIdsAreNeverReused) {
    const std::string a = Touch("a.wav");
    const std::string b = Touch("b.wav");
    model_.AddAccepted({a, b});
    const uint32_t first = model_.Item(0).Id();
    const uint32_t second = model_.Item(1).Id();
    EXPECT_GT(second, first);
    model_.RemoveRows({0});
    model_.AddAccepted({a});
    EXPECT_GT(model_.Item(1).Id(), second);
}

TEST_F(FileListModelTest, RemovedRowsTakeTheirKeysAlong) {
    const std::string a = Touch("a.wav");
    const std::string b = Touch("b.wav");
    const std::string c = Touch("c.wav");
    model_.AddAccepted({a, b, c});
    EXPECT_TRUE(model_.RemoveRows({2, 0, 2}));
    EXPECT_EQ(Names(), (std::vector<std::string>{"b.wav"}));
    EXPECT_EQ(model_.Keys(), (std::set<std::string>{b}));
    EXPECT_EQ(model_.AddAccepted({a, c}), 2);
    EXPECT_EQ(Names(), (std::vector<std::string>{"b.wav", "a.wav", "c.wav"}));
}

TEST_F(FileListModelTest, NothingIsRemovedWhileBusy) {
    model_.AddAccepted({Touch("a.wav")});
    model_.SetBusy(true);
    EXPECT_FALSE(model_.RemoveRows({0}));
    EXPECT_FALSE(model_.RemoveAll());
    EXPECT_EQ(model_.RowCount(), 1);
    model_.SetBusy(false);
    EXPECT_TRUE(model_.RemoveAll());
    EXPECT_EQ(model_.RowCount(), 0);
    EXPECT_TRUE(model_.Keys().empty());
}

TEST_F(FileListModelTest, StatusSortNumbers) {
    TaskProgress progress;
    EXPECT_EQ(FileListModel::StatusSortValue(progress), -2);
    progress.Reset(300);
    EXPECT_EQ(FileListModel::StatusSortValue(progress), 0);
    progress.Advance(100);
    EXPECT_EQ(FileListModel::StatusSortValue(progress), 33);
    progress.Cancel();
    EXPECT_EQ(FileListModel::StatusSortValue(progress), 33);
    progress.Fail();
    EXPECT_EQ(FileListModel::StatusSortValue(progress), -1);
    progress.Reset(2300);
    progress.Complete();
    EXPECT_EQ(FileListModel::StatusSortValue(progress), 100);
}

// A failed row says why wherever the pointer rests on it and to screen readers; a converted
// row, its notes; a row that was cancelled or never converted, nothing.
TEST_F(FileListModelTest, RowsTellTheirReasonAndNotesAsTooltipAndDescription) {
    model_.AddAccepted({Touch("a.flac"), Touch("b.ogg"), Touch("c.wav")});
    ASSERT_EQ(model_.RowCount(), 3);
    const auto remark = [&](int row, int role) {
        return model_.data(model_.index(row, FileListModel::kStatusColumn), role).toString();
    };
    RowProgress& failed = model_.Item(0).Progress();
    failed.Reset(100);
    failed.Fail("the FLAC stream is damaged at 0:01.20");
    RowProgress& noted = model_.Item(1).Progress();
    noted.Reset(100);
    noted.AddNote("source ends early: 0:00.03 of 0:02.00");
    noted.Complete();
    for (int role : {int(Qt::ToolTipRole), int(Qt::AccessibleDescriptionRole)}) {
        EXPECT_EQ(remark(0, role), QStringLiteral("the FLAC stream is damaged at 0:01.20"));
        EXPECT_EQ(remark(1, role), QStringLiteral("source ends early: 0:00.03 of 0:02.00"));
        EXPECT_TRUE(model_.data(model_.index(2, FileListModel::kNameColumn), role).isNull());
    }
    EXPECT_EQ(model_.data(model_.index(0, FileListModel::kNameColumn), Qt::ToolTipRole).toString(),
              QStringLiteral("the FLAC stream is damaged at 0:01.20"));
}

// The notices of a run, as the work view and the rows' progress post them.
class FileListModelRunTest : public FileListModelTest {
protected:
    void SetUp() override {
        model_.AddAccepted({Touch("a.wav"), Touch("b.wav"), Touch("c.wav")});
        QObject::connect(&model_, &FileListModel::CurrentRowMoved,
                         [this](int previous, int current) { moves_.push_back({previous, current}); });
    }
    bool WaitForMoves(size_t count) {
        return test::WaitFor([&] { return moves_.size() >= count; }, std::chrono::seconds(5));
    }

    std::vector<std::pair<int, int>> moves_;
};

TEST_F(FileListModelRunTest, PrepareMapsEveryIdToItsRow) {
    EXPECT_EQ(model_.IdMapSize(), 0u);
    model_.Handle().Send(kTaskListPrepare, 0, 0);
    ASSERT_EQ(model_.IdMapSize(), 3u);
    for (int row = 0; row < 3; ++row) EXPECT_EQ(model_.RowOfId(model_.Item(row).Id()), row);
    EXPECT_EQ(model_.CurrentRow(), -1);
}

TEST_F(FileListModelRunTest, ProgressOfARowMakesItTheCurrentRow) {
    model_.Handle().Send(kTaskListPrepare, 0, 0);
    std::vector<QModelIndex> changed;
    const QObject listening;  // the connection ends with it
    QObject::connect(&model_, &FileListModel::dataChanged, &listening,
                     [&](const QModelIndex& first, const QModelIndex&) { changed.push_back(first); });
    model_.Item(1).Progress().Reset(2300);  // posts from the row's progress
    ASSERT_TRUE(WaitForMoves(1));
    EXPECT_EQ(model_.CurrentRow(), 1);
    EXPECT_EQ(moves_[0], std::make_pair(-1, 1));
    ASSERT_GE(changed.size(), 1u);
    EXPECT_EQ(changed[0], model_.index(1, FileListModel::kStatusColumn));
    model_.Item(2).Progress().Reset(2300);
    ASSERT_TRUE(WaitForMoves(2));
    EXPECT_EQ(moves_[1], std::make_pair(1, 2));
}

TEST_F(FileListModelRunTest, ProgressOutsideARunIsIgnored) {
    model_.Item(1).Progress().Reset(2300);
    model_.Handle().Post(kItemProgressNotify, 999999, 0);
    QCoreApplication::sendPostedEvents(&model_);
    // A later notice that is known shows that the earlier ones were handled and dropped.
    model_.Handle().Send(kTaskListPrepare, 0, 0);
    model_.Handle().Post(kItemProgressNotify, model_.Item(0).Id(), 0);
    ASSERT_TRUE(WaitForMoves(1));
    EXPECT_EQ(moves_, (std::vector<std::pair<int, int>>{{-1, 0}}));
}

TEST_F(FileListModelRunTest, EndOfARunClearsTheIdMap) {
    for (uintptr_t code : {kTaskRunCompleted, kTaskRunEnded}) {
        model_.Handle().Send(kTaskListPrepare, 0, 0);
        ASSERT_EQ(model_.IdMapSize(), 3u);
        model_.Handle().Post(kTaskNotify, kTaskFileFinished, 0);
        model_.Handle().Post(kTaskNotify, code, 0);
        ASSERT_TRUE(test::WaitFor([&] { return model_.IdMapSize() == 0; }, std::chrono::seconds(5))) << code;
    }
}

TEST_F(FileListModelRunTest, SortKeepsTheIdMapOnItsItems) {
    model_.Handle().Send(kTaskListPrepare, 0, 0);
    model_.sort(FileListModel::kNameColumn, Qt::DescendingOrder);
    EXPECT_EQ(Names(), (std::vector<std::string>{"c.wav", "b.wav", "a.wav"}));
    for (int row = 0; row < 3; ++row) EXPECT_EQ(model_.RowOfId(model_.Item(row).Id()), row);
}

}  // namespace
}  // namespace chm
