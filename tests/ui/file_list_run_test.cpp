// The list following a real conversion run of WAV files made by sox: the current row moves
// down the list, and each status cell is painted with the row's final state.
#include <gtest/gtest.h>

#include <QPainter>
#include <QScrollBar>
#include <filesystem>

#include "engine/conversion_worker.h"
#include "tests/ui/file_list_view_fixture.h"
#include "ui/task_progress_draw.h"

namespace chm {
namespace {

using test::FileListViewFixture;

// The work view's side of a run: the worker's notices arrive here, and the end of the run is
// passed on to the list.
class RunWindow : public QObject {
public:
    explicit RunWindow(FileListModel& list) : list_(list) {}
    WindowHandle Handle() const { return port_.Handle(); }
    const std::vector<uintptr_t>& Codes() const { return codes_; }
    bool Ended() const {
        return !codes_.empty() && (codes_.back() == kTaskRunCompleted || codes_.back() == kTaskRunEnded);
    }

protected:
    void customEvent(QEvent* event) override {
        if (event->type() != static_cast<QEvent::Type>(kTaskNotify)) return;
        const uintptr_t code = static_cast<PortEvent*>(event)->WParam();
        codes_.push_back(code);
        if (code == kTaskRunCompleted || code == kTaskRunEnded) list_.Handle().Post(kTaskNotify, code, 0);
    }

private:
    FileListModel& list_;
    std::vector<uintptr_t> codes_;
    WindowPort port_{this};
};

class FileListRunTest : public FileListViewFixture {
protected:
    void SetUp() override {
        FileListViewFixture::SetUp();
        QObject::connect(&Model(), &FileListModel::CurrentRowMoved, &listening_,
                         [this](int, int current) {
                             if (currents_.empty() || currents_.back() != current) currents_.push_back(current);
                         });
    }

    // Runs the rows through a conversion worker as the work view starts one.
    void Convert() {
        RunWindow window(Model());
        ConversionWorker worker(window.Handle());
        Model().Handle().Send(kTaskListPrepare, 0, 0);
        const std::vector<FileListItem*> items = Model().ItemsInDisplayOrder();
        worker.Job().Fill(items, "", 0);
        ASSERT_TRUE(worker.Start());
        ASSERT_TRUE(test::WaitFor([&] { return window.Ended(); }, std::chrono::seconds(60)));
        ASSERT_TRUE(test::WaitFor([&] { return Model().IdMapSize() == 0; }));
        worker.StopAndWait();
        EXPECT_EQ(window.Codes().back(), kTaskRunCompleted);
    }

    // The status cell as painted now, and as the progress drawing paints that row's progress on
    // the list's background.
    void ExpectStatusCellPainted(int row) {
        view_.scrollTo(Model().index(row, 0));
        const QRect cell = view_.visualRect(Model().index(row, FileListModel::kStatusColumn));
        ASSERT_TRUE(view_.viewport()->rect().contains(cell)) << row;
        const QImage painted = test::GrabRect(view_.viewport(), cell);
        QImage expected(cell.size(), QImage::Format_RGB32);
        expected.fill(view_.palette().color(QPalette::Base));
        {
            QPainter painter(&expected);
            DrawTaskProgress(Model().Item(row).Progress(), painter, QRect(QPoint(1, 1), cell.size() - QSize(2, 2)));
        }
        EXPECT_EQ(painted, expected) << "row " << row;
    }

    QObject listening_;
    std::vector<int> currents_;
};

TEST_F(FileListRunTest, ConversionMovesTheCurrentRowAndPaintsEachCellToItsEnd) {
    std::filesystem::create_directories(At("in"));
    for (const char* name : {"1.wav", "2.wav", "3.wav"}) test::MakeWavWithSox(At(std::string("in/") + name), 0.3);
    test::WriteTextFile(At("in/4 broken.wav"), "this is no RIFF file at all");
    ASSERT_EQ(Add({At("in")}), 4);
    // Small enough that the list must scroll to follow the run.
    view_.resize(720, view_.header()->height() + 2 * view_.sizeHintForRow(0) + 2 * view_.frameWidth() + 4);
    ASSERT_TRUE(test::WaitFor([&] { return view_.height() < 120; }));
    ClearFocusAndSelection();
    view_.scrollToTop();

    Convert();

    EXPECT_EQ(currents_, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(Model().CurrentRow(), 3);
    EXPECT_GT(view_.verticalScrollBar()->value(), 0);  // it followed the run down the list
    for (int row = 0; row < 3; ++row) {
        const TaskProgress& progress = Model().Item(row).Progress();
        EXPECT_EQ(progress.Total(), kWavBudget);
        EXPECT_EQ(progress.Done(), progress.Total());
        EXPECT_EQ(ProgressText(progress), QStringLiteral("100%"));
        EXPECT_TRUE(std::filesystem::exists(Model().Item(row).OutputPath()));
    }
    EXPECT_TRUE(Model().Item(3).Progress().IsFailed());
    EXPECT_EQ(ProgressText(Model().Item(3).Progress()), QStringLiteral("Failed"));
    EXPECT_FALSE(std::filesystem::exists(Model().Item(3).OutputPath()));
    for (int row = 0; row < 4; ++row) ExpectStatusCellPainted(row);
}

TEST_F(FileListRunTest, ListDoesNotFollowWhenTheCurrentRowWasScrolledAway) {
    test::MakeNumberedFiles(At("many"), 40);
    ASSERT_EQ(Add({At("many")}), 40);
    Model().Handle().Send(kTaskListPrepare, 0, 0);
    Model().Item(0).Progress().Reset(2300);
    ASSERT_TRUE(test::WaitFor([&] { return Model().CurrentRow() == 0; }));
    view_.scrollToBottom();
    const int bottom = view_.verticalScrollBar()->value();
    ASSERT_GT(bottom, 0);
    Model().Item(1).Progress().Reset(2300);
    ASSERT_TRUE(test::WaitFor([&] { return Model().CurrentRow() == 1; }));
    EXPECT_EQ(view_.verticalScrollBar()->value(), bottom);
}

TEST_F(FileListRunTest, ListFollowsTheCurrentRowWhileItIsInView) {
    test::MakeNumberedFiles(At("many"), 40);
    ASSERT_EQ(Add({At("many")}), 40);
    view_.scrollToTop();
    Model().Handle().Send(kTaskListPrepare, 0, 0);
    Model().Item(0).Progress().Reset(2300);
    ASSERT_TRUE(test::WaitFor([&] { return Model().CurrentRow() == 0; }));
    Model().Item(39).Progress().Reset(2300);
    ASSERT_TRUE(test::WaitFor([&] { return Model().CurrentRow() == 39; }));
    const QRect last = view_.visualRect(Model().index(39, 0));
    EXPECT_TRUE(view_.viewport()->rect().intersects(last));
}

}  // namespace
}  // namespace chm
