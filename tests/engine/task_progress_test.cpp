#include "engine/task_progress.h"

#include <gtest/gtest.h>

#include <vector>

namespace chm {
namespace {

// Counts the hooks so that tests can tell a notification from silence.
class CountingProgress : public TaskProgress {
public:
    int changed = 0;
    int cancelled = 0;
    int failed = 0;

protected:
    void OnChanged() override { ++changed; }
    void OnCancelled() override { ++cancelled; }
    void OnFailed() override { ++failed; }
};

TEST(TaskProgressTest, ChildMapsItsPositionIntoTheParentRange) {
    CountingProgress parent;
    parent.Reset(6100);
    auto child = parent.MakeChild(1000, 2000);
    EXPECT_EQ(child->Range(), 1000u);
    EXPECT_EQ(child->Total(), 2000u);
    child->Advance(500);
    EXPECT_EQ(parent.Done(), 250u);
    child->Complete();
    EXPECT_EQ(parent.Done(), 1000u);
}

TEST(TaskProgressTest, ChildStartsAtTheParentsPosition) {
    TaskProgress parent;
    parent.Reset(6100);
    parent.Advance(1000);
    auto child = parent.MakeChild(5100);
    EXPECT_EQ(child->Base(), 1000u);
    EXPECT_EQ(child->Total(), 5100u);
    child->SetPercent(50);
    EXPECT_EQ(parent.Done(), 1000u + 2550u);
    child->Complete();
    EXPECT_EQ(parent.Done(), 6100u);
}

TEST(TaskProgressTest, ChildGetsOnlyTheRemainingRange) {
    TaskProgress parent;
    parent.Reset(100);
    parent.Advance(70);
    auto child = parent.MakeChild(50);
    EXPECT_EQ(child->Range(), 30u);
    EXPECT_EQ(child->Total(), 30u);
}

TEST(TaskProgressTest, GrandchildCompletionReachesTheTop) {
    TaskProgress top;
    top.Reset(1000);
    auto child = top.MakeChild(600);
    auto grandchild = child->MakeChild(child->Total() / 2);
    grandchild->Complete();
    EXPECT_EQ(top.Done(), 300u);
    child->Complete();
    EXPECT_EQ(top.Done(), 600u);
}

TEST(TaskProgressTest, ChildWithZeroTotalChangesNothing) {
    TaskProgress parent;
    parent.Reset(100);
    parent.Advance(100);
    auto child = parent.MakeChild(10);
    EXPECT_EQ(child->Total(), 0u);
    child->Complete();
    EXPECT_EQ(parent.Done(), 100u);
}

TEST(TaskProgressTest, CancelOnChildSetsBothFlagsOnce) {
    CountingProgress parent;
    parent.Reset(10);
    auto child = parent.MakeChild(5);
    child->Cancel();
    EXPECT_TRUE(child->IsCancelled());
    EXPECT_TRUE(parent.IsCancelled());
    EXPECT_EQ(parent.cancelled, 1);
    child->Cancel();
    EXPECT_EQ(parent.cancelled, 1);
}

TEST(TaskProgressTest, ChildSeesTheParentsCancelAndFailure) {
    TaskProgress parent;
    parent.Reset(10);
    auto child = parent.MakeChild(5);
    EXPECT_FALSE(child->IsCancelled());
    parent.Cancel();
    EXPECT_TRUE(child->IsCancelled());
    EXPECT_FALSE(child->IsFailed());
    parent.Fail();
    EXPECT_TRUE(child->IsFailed());
}

TEST(TaskProgressTest, FailOnChildTravelsUpward) {
    CountingProgress parent;
    parent.Reset(10);
    auto child = parent.MakeChild(5);
    auto grandchild = child->MakeChild(5);
    grandchild->Fail();
    EXPECT_TRUE(parent.IsFailed());
    EXPECT_EQ(parent.failed, 1);
    child->Fail();
    EXPECT_EQ(parent.failed, 1);
}

TEST(TaskProgressTest, SetPercentClampsToTheRange) {
    TaskProgress progress;
    progress.Reset(300);
    progress.SetPercent(150);
    EXPECT_EQ(progress.Done(), 300u);
    progress.SetPercent(-5);
    EXPECT_EQ(progress.Done(), 0u);
    progress.SetPercent(33.3f);
    EXPECT_EQ(progress.Done(), 99u);
}

TEST(TaskProgressTest, NotifiesOnlyWhenThePositionChanges) {
    CountingProgress progress;
    progress.Reset(100);
    EXPECT_EQ(progress.changed, 1);
    progress.SetPercent(0);
    progress.Advance(0);
    EXPECT_EQ(progress.changed, 1);
    progress.Advance(10);
    progress.Advance(-20);
    EXPECT_EQ(progress.Done(), 0u);
    EXPECT_EQ(progress.changed, 3);
    progress.Complete();
    progress.Complete();
    EXPECT_EQ(progress.changed, 4);
    progress.Advance(50);
    EXPECT_EQ(progress.changed, 4);
}

TEST(TaskProgressTest, SetTotalFollowsItsThreeOutcomes) {
    CountingProgress progress;
    progress.Reset(100);
    progress.changed = 0;
    EXPECT_FALSE(progress.SetTotal(100));
    EXPECT_FALSE(progress.SetTotal(200));  // done is 0: no notice
    EXPECT_EQ(progress.changed, 0);
    progress.Advance(150);
    progress.changed = 0;
    EXPECT_FALSE(progress.SetTotal(120));  // done lowered to the new total: notice
    EXPECT_EQ(progress.Done(), 120u);
    EXPECT_EQ(progress.changed, 1);
    EXPECT_TRUE(progress.SetTotal(240));
    EXPECT_EQ(progress.changed, 2);
}

TEST(TaskProgressTest, PercentOfAnUnstartedProgressIsZero) {
    TaskProgress progress;
    EXPECT_EQ(progress.Percent(), 0.0);
    progress.Reset(8);
    progress.Advance(2);
    EXPECT_DOUBLE_EQ(progress.Percent(), 25.0);
}

TEST(TaskProgressTest, ResetClearsFlagsAndPosition) {
    TaskProgress progress;
    progress.Reset(10);
    progress.Advance(5);
    progress.Cancel();
    progress.Fail();
    progress.Reset(20);
    EXPECT_EQ(progress.Done(), 0u);
    EXPECT_EQ(progress.Total(), 20u);
    EXPECT_FALSE(progress.IsCancelled());
    EXPECT_FALSE(progress.IsFailed());
}

TEST(TaskProgressTest, OptionalProgressHelpersAcceptNoProgress) {
    EXPECT_FALSE(IsCancelled(nullptr));
    EXPECT_EQ(ProgressShare(nullptr, 0.5), 0u);
    EXPECT_EQ(MakeChildProgress(nullptr, 10), nullptr);
    EXPECT_TRUE(FinishProgress(nullptr, true));
    EXPECT_FALSE(FinishProgress(nullptr, false));
}

TEST(TaskProgressTest, OptionalProgressHelpersActOnAGivenProgress) {
    TaskProgress progress;
    progress.Reset(1000);
    EXPECT_EQ(ProgressShare(&progress, 0.2), 200u);
    EXPECT_EQ(ProgressShare(&progress, 0.0999), 99u);  // whole units, never rounded up
    {
        auto child = MakeChildProgress(&progress, 200);
        ASSERT_NE(child, nullptr);
        child->Reset(10);
        child->Complete();
    }
    EXPECT_EQ(progress.Done(), 200u);
    EXPECT_TRUE(FinishProgress(&progress, true));
    EXPECT_EQ(progress.Done(), 1000u);
    EXPECT_FALSE(progress.IsFailed());
    progress.Cancel();
    EXPECT_TRUE(IsCancelled(&progress));
    EXPECT_FALSE(FinishProgress(&progress, false));
    EXPECT_TRUE(progress.IsFailed());
}

// The innermost step knows best why a file failed: its reason reaches the top of the chain
// first and stays there; notes gather in order; a new start clears both.
TEST(TaskProgressTest, ReasonsAndNotesTravelUpAndTheFirstReasonStays) {
    TaskProgress file;
    file.Reset(100);
    {
        auto step = file.MakeChild(50);
        auto inner = step->MakeChild(10);
        inner->AddNote("first note");
        step->AddNote("second note");
        inner->Fail("the FLAC stream is damaged at 0:01.20");
        step->Fail("the file could not be read");
        EXPECT_TRUE(step->IsFailed());
        EXPECT_EQ(step->FailureReason(), "");  // a child keeps nothing of its own
    }
    EXPECT_TRUE(file.IsFailed());
    EXPECT_EQ(file.FailureReason(), "the FLAC stream is damaged at 0:01.20");
    EXPECT_EQ(file.Notes(), (std::vector<std::string>{"first note", "second note"}));
    EXPECT_FALSE(FinishProgress(&file, false, "too late"));
    EXPECT_EQ(file.FailureReason(), "the FLAC stream is damaged at 0:01.20");
    file.Reset(100);
    EXPECT_EQ(file.FailureReason(), "");
    EXPECT_TRUE(file.Notes().empty());
    file.Fail("");  // an empty reason fails without one
    EXPECT_TRUE(file.IsFailed());
    EXPECT_EQ(file.FailureReason(), "");
}

}  // namespace
}  // namespace chm
