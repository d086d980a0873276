#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace chm {

// Numbers of the messages that jobs post to windows; the Qt layer uses them as event types.
constexpr uint32_t kWmApp = 0x8000;
constexpr uint32_t kFilterNotify = kWmApp + 1001;
constexpr uint32_t kTaskListPrepare = kWmApp + 1002;
constexpr uint32_t kTaskNotify = kWmApp + 1003;
constexpr uint32_t kItemProgressNotify = kWmApp + 1004;
constexpr uint32_t kSearchNotify = kWmApp + 1006;

struct PortMessage {
    uint32_t message;
    uintptr_t wparam;
    intptr_t lparam;
    bool operator==(const PortMessage&) const = default;
};

// The seam between background jobs and windows: the user interface implements it, a job only
// posts to it. Implementations must accept calls from any thread.
class MessagePort {
public:
    virtual ~MessagePort() = default;
    // Queued for the window's thread; returns at once.
    virtual void Post(uint32_t message, uintptr_t wparam, intptr_t lparam) = 0;
    // Handled by the window before it returns; the handler's result.
    virtual intptr_t Send(uint32_t message, uintptr_t wparam, intptr_t lparam) = 0;
};

// What a job is given instead of a window: it may outlive the window, and then every post is a
// silent no-op.
class WindowHandle {
public:
    WindowHandle() = default;
    template <typename Port>
    WindowHandle(const std::shared_ptr<Port>& port) : port_(port) {}  // NOLINT: a handle stands for its port

    bool IsAlive() const { return !port_.expired(); }
    // False when the window is gone.
    bool Post(uint32_t message, uintptr_t wparam, intptr_t lparam) const;
    // 0 when the window is gone.
    intptr_t Send(uint32_t message, uintptr_t wparam, intptr_t lparam) const;

private:
    std::weak_ptr<MessagePort> port_;
};

// Records everything posted or sent, for tests and for the command line's own loop.
class RecordingPort : public MessagePort {
public:
    void Post(uint32_t message, uintptr_t wparam, intptr_t lparam) override;
    intptr_t Send(uint32_t message, uintptr_t wparam, intptr_t lparam) override;

    std::vector<PortMessage> Messages() const;
    size_t Count(uint32_t message) const;
    void Clear();
    void SetSendResult(intptr_t result);

private:
    mutable std::mutex mutex_;
    std::vector<PortMessage> messages_;
    intptr_t send_result_ = 0;
};

}  // namespace chm
