#pragma once
#include <QEvent>
#include <QObject>
#include <QPointer>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/message_port.h"

namespace chm {

// A job's message as a window receives it: a QEvent whose type is the message number
// (kTaskNotify is event type 0x83EB), handled in the receiver's customEvent.
class PortEvent : public QEvent {
public:
    PortEvent(uint32_t message, uintptr_t wparam, intptr_t lparam);

    uint32_t Message() const { return static_cast<uint32_t>(type()); }
    uintptr_t WParam() const { return wparam_; }
    intptr_t LParam() const { return lparam_; }
    // The answer to a sent message; posted messages have nobody to hear it.
    void SetResult(intptr_t result) { result_ = result; }
    intptr_t Result() const { return result_; }

private:
    uintptr_t wparam_;
    intptr_t lparam_;
    intptr_t result_ = 0;
};

// The message port of a Qt window: what jobs post becomes a posted PortEvent on the receiver's
// thread. Callable from any thread. Once closed (its window is going) every post is dropped
// and every send, even one already waiting, returns 0.
class QtMessagePort final : public MessagePort {
public:
    explicit QtMessagePort(QObject* receiver);
    ~QtMessagePort() override;
    QtMessagePort(const QtMessagePort&) = delete;
    QtMessagePort& operator=(const QtMessagePort&) = delete;

    void Post(uint32_t message, uintptr_t wparam, intptr_t lparam) override;
    // On the receiver's thread the event is delivered at once; from another thread the call
    // waits until the receiver's thread has handled it, or until the port is closed.
    intptr_t Send(uint32_t message, uintptr_t wparam, intptr_t lparam) override;

    // Called on the receiver's thread before the receiver goes; wakes waiting senders.
    void Close();
    bool IsClosed() const;
    // Sends from other threads that wait for their answer right now.
    size_t WaitingSends() const;

private:
    struct SendCall;
    class SendCallGuard;

    intptr_t SendAcross(QObject* receiver, std::unique_lock<std::mutex>& lock, uint32_t message, uintptr_t wparam,
                        intptr_t lparam);

    mutable std::mutex mutex_;
    QPointer<QObject> receiver_;
    bool closed_ = false;
    std::vector<std::shared_ptr<SendCall>> waiting_;
};

// Held by a window as a member: owns the window's port and hands out the handles that jobs
// keep. The port is closed when the window goes, so a job that outlives it posts into nothing.
class WindowPort {
public:
    explicit WindowPort(QObject* receiver) : port_(std::make_shared<QtMessagePort>(receiver)) {}
    ~WindowPort() { port_->Close(); }
    WindowPort(const WindowPort&) = delete;
    WindowPort& operator=(const WindowPort&) = delete;

    WindowHandle Handle() const { return WindowHandle(port_); }
    QtMessagePort& Port() const { return *port_; }

private:
    std::shared_ptr<QtMessagePort> port_;
};

}  // namespace chm
