#include <gtest/gtest.h>

#include <QPainter>

#include "tests/ui/ui_test_support.h"
#include "ui/notifying_task_progress.h"
#include "ui/task_progress_bar.h"
#include "ui/task_progress_draw.h"

namespace chm {
namespace {

class ProgressBar : public ::testing::Test {
protected:
    ProgressBar() {
        progress_.SetObserver([this] { bar_.OnProgressChanged(); });
        progress_.Reset(3);
        bar_.SetProgress(&progress_);
        bar_.resize(100, 20);
        bar_.show();
    }

    NotifyingTaskProgress progress_;
    VeTaskProgressBarCtrl bar_;
};

TEST_F(ProgressBar, AnimationRunsOnASixtyFiveMillisecondTimer) {
    EXPECT_FALSE(bar_.IsTimerRunning());
    bar_.SetAnimation(true);
    EXPECT_TRUE(bar_.IsTimerRunning());
    EXPECT_EQ(bar_.TimerInterval(), 65);
    EXPECT_EQ(bar_.HighlightOffset(), 0);
}

TEST_F(ProgressBar, EachTickMovesTheHighlightFourPixels) {
    bar_.SetAnimation(true);
    bar_.OnAnimationTimer();
    EXPECT_EQ(bar_.HighlightOffset(), 4);
    bar_.OnAnimationTimer();
    EXPECT_EQ(bar_.HighlightOffset(), 8);
}

TEST_F(ProgressBar, HighlightWrapsAtTheBarWidthPlusItsOwnWidth) {
    bar_.SetAnimation(true);
    const int limit = bar_.width() + VeTaskProgressBarCtrl::HighlightWidth();
    ASSERT_GT(VeTaskProgressBarCtrl::HighlightWidth(), 0);
    const int ticks_before_wrap = (limit - 1) / 4;  // the last offset still below the limit
    for (int i = 0; i < ticks_before_wrap; ++i) bar_.OnAnimationTimer();
    EXPECT_EQ(bar_.HighlightOffset(), ticks_before_wrap * 4);
    EXPECT_LT(bar_.HighlightOffset(), limit);
    bar_.OnAnimationTimer();
    EXPECT_EQ(bar_.HighlightOffset(), 0);
    bar_.OnAnimationTimer();
    EXPECT_EQ(bar_.HighlightOffset(), 4);
}

TEST_F(ProgressBar, TimerStopsWhenDoneReachesTotal) {
    bar_.SetAnimation(true);
    progress_.Advance(2);
    EXPECT_TRUE(bar_.IsTimerRunning());
    progress_.Advance(1);  // the change notice reaches the bar
    EXPECT_FALSE(bar_.IsTimerRunning());
    EXPECT_TRUE(bar_.IsAnimationOn());
}

TEST_F(ProgressBar, TickOnACompleteProgressStopsAndDoesNotMove) {
    TaskProgress silent;  // changes without telling the bar
    silent.Reset(2);
    bar_.SetProgress(&silent);
    bar_.SetAnimation(true);
    bar_.OnAnimationTimer();
    silent.Complete();
    bar_.OnAnimationTimer();
    EXPECT_FALSE(bar_.IsTimerRunning());
    EXPECT_EQ(bar_.HighlightOffset(), 4);
}

TEST_F(ProgressBar, HiddenBarDoesNotMove) {
    bar_.SetAnimation(true);
    bar_.hide();
    bar_.OnAnimationTimer();
    EXPECT_EQ(bar_.HighlightOffset(), 0);
    EXPECT_TRUE(bar_.IsTimerRunning());
}

TEST_F(ProgressBar, SwitchingOffStopsAndKeepsTheLastState) {
    bar_.SetAnimation(true);
    progress_.Advance(1);
    bar_.OnAnimationTimer();
    bar_.SetAnimation(false);
    EXPECT_FALSE(bar_.IsTimerRunning());
    QImage expected(bar_.size(), QImage::Format_ARGB32_Premultiplied);
    expected.fill(Qt::transparent);
    {
        QPainter painter(&expected);
        DrawTaskProgress(progress_, painter, expected.rect(), ProgressTextLayout::kBar);
    }
    QImage shown(bar_.size(), QImage::Format_ARGB32_Premultiplied);
    shown.fill(Qt::transparent);
    bar_.render(&shown, QPoint(), QRegion(), QWidget::RenderFlags());
    EXPECT_EQ(shown, expected);
}

TEST_F(ProgressBar, AnimationDoesNotStartOnACompleteProgress) {
    progress_.Complete();
    bar_.SetAnimation(true);
    EXPECT_FALSE(bar_.IsTimerRunning());
}

TEST_F(ProgressBar, RunningBarShowsTheHighlight) {
    progress_.Advance(1);
    bar_.SetAnimation(true);
    for (int i = 0; i < 8; ++i) bar_.OnAnimationTimer();
    QImage lit(bar_.size(), QImage::Format_ARGB32_Premultiplied);
    lit.fill(Qt::transparent);
    bar_.render(&lit, QPoint(), QRegion(), QWidget::RenderFlags());
    QImage expected(bar_.size(), QImage::Format_ARGB32_Premultiplied);
    expected.fill(Qt::transparent);
    {
        QPainter painter(&expected);
        DrawTaskProgress(progress_, painter, expected.rect(), ProgressTextLayout::kBar, 32);
    }
    EXPECT_EQ(lit, expected);
}

TEST_F(ProgressBar, ChangeNoticesRepaintWithTheNewText) {
    EXPECT_EQ(bar_.accessibleName(), QStringLiteral("0%"));
    progress_.Advance(1);
    EXPECT_EQ(bar_.accessibleName(), QStringLiteral("33%"));
    int paints = 0;
    class PaintCounter : public QObject {
    public:
        explicit PaintCounter(int& count) : count_(count) {}
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint) ++count_;
            return false;
        }
        int& count_;
    } counter(paints);
    bar_.installEventFilter(&counter);
    // Let the repaint of the first change happen before counting the next one.
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    paints = 0;
    progress_.Cancel();
    EXPECT_EQ(bar_.accessibleName(), QStringLiteral("Cancelled"));
    EXPECT_TRUE(test::WaitFor([&] { return paints > 0; }));
    bar_.removeEventFilter(&counter);
}

}  // namespace
}  // namespace chm
