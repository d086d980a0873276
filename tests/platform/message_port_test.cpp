#include "platform/message_port.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

namespace chm {
namespace {

TEST(MessagePortTest, MessageNumbersAreTheWindowsOnes) {
    EXPECT_EQ(kTaskNotify, 0x83EBu);
    EXPECT_EQ(kItemProgressNotify, 0x83ECu);
    EXPECT_EQ(kSearchNotify, 0x83EEu);
}

TEST(MessagePortTest, PostReachesALivePort) {
    auto port = std::make_shared<RecordingPort>();
    WindowHandle window(port);
    EXPECT_TRUE(window.Post(kTaskNotify, 1, 2));
    port->SetSendResult(5);
    EXPECT_EQ(window.Send(kTaskListPrepare, 3, 4), 5);
    const std::vector<PortMessage> expected{{kTaskNotify, 1, 2}, {kTaskListPrepare, 3, 4}};
    EXPECT_EQ(port->Messages(), expected);
}

TEST(MessagePortTest, PostToAGoneWindowIsANoOp) {
    auto port = std::make_shared<RecordingPort>();
    WindowHandle window(port);
    port.reset();
    EXPECT_FALSE(window.IsAlive());
    EXPECT_FALSE(window.Post(kTaskNotify, 1, 2));
    EXPECT_EQ(window.Send(kTaskListPrepare, 0, 0), 0);
    WindowHandle none;
    EXPECT_FALSE(none.Post(kTaskNotify, 0, 0));
}

TEST(MessagePortTest, PostsFromManyThreadsAreAllKept) {
    auto port = std::make_shared<RecordingPort>();
    WindowHandle window(port);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&window, t] {
            for (int i = 0; i < 1000; ++i) window.Post(kItemProgressNotify, static_cast<uintptr_t>(t), i);
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(port->Count(kItemProgressNotify), 4000u);
}

}  // namespace
}  // namespace chm
