#include "platform/message_port.h"

#include <algorithm>

namespace chm {

bool WindowHandle::Post(uint32_t message, uintptr_t wparam, intptr_t lparam) const {
    auto port = port_.lock();
    if (!port) return false;
    port->Post(message, wparam, lparam);
    return true;
}

intptr_t WindowHandle::Send(uint32_t message, uintptr_t wparam, intptr_t lparam) const {
    auto port = port_.lock();
    return port ? port->Send(message, wparam, lparam) : 0;
}

void RecordingPort::Post(uint32_t message, uintptr_t wparam, intptr_t lparam) {
    std::lock_guard lock(mutex_);
    messages_.push_back({message, wparam, lparam});
}

intptr_t RecordingPort::Send(uint32_t message, uintptr_t wparam, intptr_t lparam) {
    std::lock_guard lock(mutex_);
    messages_.push_back({message, wparam, lparam});
    return send_result_;
}

std::vector<PortMessage> RecordingPort::Messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

size_t RecordingPort::Count(uint32_t message) const {
    std::lock_guard lock(mutex_);
    return static_cast<size_t>(std::count_if(messages_.begin(), messages_.end(),
                                             [message](const PortMessage& m) { return m.message == message; }));
}

void RecordingPort::Clear() {
    std::lock_guard lock(mutex_);
    messages_.clear();
}

void RecordingPort::SetSendResult(intptr_t result) {
    std::lock_guard lock(mutex_);
    send_result_ = result;
}

}  // namespace chm
