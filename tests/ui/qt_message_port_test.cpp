#include <gtest/gtest.h>

#include <QThread>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/ui/ui_test_support.h"
#include "ui/qt_message_port.h"

namespace chm {
namespace {

// A window-like receiver: records what reaches it and answers sent messages with wparam + 1.
class Receiver : public QObject {
public:
    Receiver() : port_(this) {}

    WindowHandle Handle() const { return port_.Handle(); }
    QtMessagePort& Port() const { return port_.Port(); }

    std::vector<PortMessage> Received() const {
        std::lock_guard lock(mutex_);
        return received_;
    }
    bool HandledOnItsThread() const { return handled_on_own_thread_; }

protected:
    void customEvent(QEvent* event) override {
        auto* message = dynamic_cast<PortEvent*>(event);
        if (!message) return;
        handled_on_own_thread_ = handled_on_own_thread_ && QThread::currentThread() == thread();
        {
            std::lock_guard lock(mutex_);
            received_.push_back({message->Message(), message->WParam(), message->LParam()});
        }
        message->SetResult(static_cast<intptr_t>(message->WParam()) + 1);
    }

private:
    WindowPort port_;
    mutable std::mutex mutex_;
    std::vector<PortMessage> received_;
    bool handled_on_own_thread_ = true;
};

class QtPort : public ::testing::Test {
protected:
    std::unique_ptr<Receiver> receiver_ = std::make_unique<Receiver>();
};

TEST_F(QtPort, PostFromAWorkerArrivesAsAnEventOfTheMessageNumber) {
    WindowHandle handle = receiver_->Handle();
    std::thread worker([handle] {
        handle.Post(kTaskNotify, 1, -5);
        handle.Post(kItemProgressNotify, 77, 0);
    });
    worker.join();
    ASSERT_TRUE(test::WaitFor([&] { return receiver_->Received().size() == 2; }));
    const auto received = receiver_->Received();
    EXPECT_EQ(received[0], (PortMessage{kTaskNotify, 1, -5}));
    EXPECT_EQ(received[1], (PortMessage{kItemProgressNotify, 77, 0}));
    EXPECT_EQ(received[0].message, 0x83EBu);
    EXPECT_TRUE(receiver_->HandledOnItsThread());
}

TEST_F(QtPort, PostIsQueuedNotDeliveredAtOnce) {
    receiver_->Handle().Post(kTaskNotify, 0, 0);
    EXPECT_TRUE(receiver_->Received().empty());
    EXPECT_TRUE(test::WaitFor([&] { return receiver_->Received().size() == 1; }));
}

TEST_F(QtPort, PostToAWindowThatIsGoneIsANoOp) {
    WindowHandle handle = receiver_->Handle();
    receiver_.reset();
    EXPECT_FALSE(handle.IsAlive());
    EXPECT_FALSE(handle.Post(kTaskNotify, 2, 0));
    EXPECT_EQ(handle.Send(kTaskNotify, 2, 0), 0);
}

TEST_F(QtPort, ClosedPortDropsPosts) {
    auto port = std::make_shared<QtMessagePort>(receiver_.get());
    port->Close();
    port->Post(kTaskNotify, 1, 0);
    EXPECT_EQ(port->Send(kTaskNotify, 1, 0), 0);
    QCoreApplication::processEvents();
    EXPECT_TRUE(receiver_->Received().empty());
}

TEST_F(QtPort, SendOnTheWindowsThreadIsHandledBeforeItReturns) {
    EXPECT_EQ(receiver_->Handle().Send(kTaskListPrepare, 41, 0), 42);
    ASSERT_EQ(receiver_->Received().size(), 1u);
    EXPECT_EQ(receiver_->Received()[0].message, kTaskListPrepare);
}

TEST_F(QtPort, SendFromAWorkerWaitsForTheWindowsAnswer) {
    WindowHandle handle = receiver_->Handle();
    std::atomic<intptr_t> answer{-1};
    std::thread worker([&] { answer = handle.Send(kTaskListPrepare, 9, 0); });
    EXPECT_TRUE(test::WaitFor([&] { return answer.load() != -1; }));
    worker.join();
    EXPECT_EQ(answer.load(), 10);
    EXPECT_TRUE(receiver_->HandledOnItsThread());
}

TEST_F(QtPort, SendWaitingWhenTheWindowGoesReturnsZero) {
    WindowHandle handle = receiver_->Handle();
    std::atomic<intptr_t> answer{-1};
    std::thread worker([&] { answer = handle.Send(kTaskListPrepare, 9, 0); });
    // Without running the event loop, so that the send cannot be answered.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (receiver_->Port().WaitingSends() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(receiver_->Port().WaitingSends(), 1u);
    receiver_.reset();  // the window closes its port: the worker is released
    worker.join();
    EXPECT_EQ(answer.load(), 0);
    QCoreApplication::processEvents();
}

TEST_F(QtPort, PortEventCarriesItsParameters) {
    PortEvent event(kSearchNotify, 3, -4);
    EXPECT_EQ(event.type(), static_cast<QEvent::Type>(kSearchNotify));
    EXPECT_EQ(event.Message(), kSearchNotify);
    EXPECT_EQ(event.WParam(), 3u);
    EXPECT_EQ(event.LParam(), -4);
    EXPECT_EQ(event.Result(), 0);
}

}  // namespace
}  // namespace chm
