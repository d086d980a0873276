#include "engine/row_progress.h"

#include <gtest/gtest.h>

#include <memory>

namespace chm {
namespace {

TEST(RowProgressTest, PostsItemProgressForEveryChange) {
    auto port = std::make_shared<RecordingPort>();
    RowProgress row(port, 42);
    row.Reset(100);
    auto child = row.MakeChild(50);
    child->Advance(10);
    const auto messages = port->Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1], (PortMessage{0x83EC, 42, 0}));
}

TEST(RowProgressTest, CancelledThenFailedPostsOnlyForTheCancel) {
    auto port = std::make_shared<RecordingPort>();
    RowProgress row(port, 7);
    row.Cancel();
    EXPECT_EQ(port->Count(kItemProgressNotify), 1u);
    row.Fail();
    EXPECT_EQ(port->Count(kItemProgressNotify), 1u);
    EXPECT_TRUE(row.IsFailed());
}

TEST(RowProgressTest, FailureWithoutCancelPosts) {
    auto port = std::make_shared<RecordingPort>();
    RowProgress row(port, 7);
    row.Fail();
    EXPECT_EQ(port->Count(kItemProgressNotify), 1u);
}

TEST(RowProgressTest, PostingAfterTheListIsGoneIsHarmless) {
    auto port = std::make_shared<RecordingPort>();
    RowProgress row(port, 1);
    port.reset();
    row.Reset(10);
    row.Complete();
    row.Cancel();
    EXPECT_TRUE(row.IsCancelled());
}

}  // namespace
}  // namespace chm
