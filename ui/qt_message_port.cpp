#include "ui/qt_message_port.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <algorithm>

namespace chm {

namespace {

// Reserves the message numbers with Qt so that no other part of the program is handed one of
// them by QEvent::registerEventType.
void ReserveMessageNumbers() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (uint32_t message : {kFilterNotify, kTaskListPrepare, kTaskNotify, kItemProgressNotify, kSearchNotify})
            QEvent::registerEventType(static_cast<int>(message));
    });
}

}  // namespace

PortEvent::PortEvent(uint32_t message, uintptr_t wparam, intptr_t lparam)
    : QEvent(static_cast<QEvent::Type>(message)), wparam_(wparam), lparam_(lparam) {}

// One send from another thread, waiting for its answer.
struct QtMessagePort::SendCall {
    enum class State { kWaiting, kAnswered, kAbandoned };
    std::mutex mutex;
    std::condition_variable changed;
    State state = State::kWaiting;
    intptr_t result = 0;

    // True when this call moved out of waiting.
    bool Finish(State next, intptr_t value) {
        std::lock_guard lock(mutex);
        if (state != State::kWaiting) return false;
        state = next;
        result = value;
        changed.notify_all();
        return true;
    }
    bool IsWaiting() {
        std::lock_guard lock(mutex);
        return state == State::kWaiting;
    }
};

// Travels inside the queued call: if Qt drops the call undelivered (its receiver was deleted),
// the sender is released with 0 instead of waiting for ever.
class QtMessagePort::SendCallGuard {
public:
    explicit SendCallGuard(std::shared_ptr<SendCall> call) : call_(std::move(call)) {}
    ~SendCallGuard() { call_->Finish(SendCall::State::kAbandoned, 0); }
    SendCallGuard(const SendCallGuard&) = delete;
    SendCallGuard& operator=(const SendCallGuard&) = delete;
    SendCall& Call() const { return *call_; }

private:
    std::shared_ptr<SendCall> call_;
};

QtMessagePort::QtMessagePort(QObject* receiver) : receiver_(receiver) { ReserveMessageNumbers(); }

QtMessagePort::~QtMessagePort() { Close(); }

void QtMessagePort::Post(uint32_t message, uintptr_t wparam, intptr_t lparam) {
    // The lock keeps Close (and with it the receiver's destruction) from slipping in between
    // the check and the post; Qt drops events still queued for an object that is deleted.
    std::lock_guard lock(mutex_);
    if (closed_ || receiver_.isNull()) return;
    auto event = std::make_unique<PortEvent>(message, wparam, lparam);
    QCoreApplication::postEvent(receiver_.data(), event.release());
}

intptr_t QtMessagePort::Send(uint32_t message, uintptr_t wparam, intptr_t lparam) {
    std::unique_lock lock(mutex_);
    if (closed_ || receiver_.isNull()) return 0;
    QObject* receiver = receiver_.data();
    if (receiver->thread() != QThread::currentThread()) return SendAcross(receiver, lock, message, wparam, lparam);
    lock.unlock();
    PortEvent event(message, wparam, lparam);
    QCoreApplication::sendEvent(receiver, &event);
    return event.Result();
}

intptr_t QtMessagePort::SendAcross(QObject* receiver, std::unique_lock<std::mutex>& lock, uint32_t message,
                                   uintptr_t wparam, intptr_t lparam) {
    auto call = std::make_shared<SendCall>();
    waiting_.push_back(call);
    auto guard = std::make_shared<SendCallGuard>(call);
    QPointer<QObject> target(receiver);
    // Queued rather than Qt::BlockingQueuedConnection: the wait below can be ended by Close,
    // so a window that waits for this job while it is being destroyed cannot deadlock with it.
    QMetaObject::invokeMethod(
        receiver,
        [guard, target, message, wparam, lparam] {
            if (target.isNull() || !guard->Call().IsWaiting()) return;
            PortEvent event(message, wparam, lparam);
            QCoreApplication::sendEvent(target.data(), &event);
            guard->Call().Finish(SendCall::State::kAnswered, event.Result());
        },
        Qt::QueuedConnection);
    guard.reset();
    lock.unlock();

    intptr_t result = 0;
    {
        std::unique_lock call_lock(call->mutex);
        call->changed.wait(call_lock, [&] { return call->state != SendCall::State::kWaiting; });
        result = call->result;
    }
    lock.lock();
    waiting_.erase(std::remove(waiting_.begin(), waiting_.end(), call), waiting_.end());
    return result;
}

void QtMessagePort::Close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    receiver_.clear();
    for (const auto& call : waiting_) call->Finish(SendCall::State::kAbandoned, 0);
}

bool QtMessagePort::IsClosed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

size_t QtMessagePort::WaitingSends() const {
    std::lock_guard lock(mutex_);
    return static_cast<size_t>(
        std::count_if(waiting_.begin(), waiting_.end(), [](const auto& call) { return call->IsWaiting(); }));
}

}  // namespace chm
