#include "cli/cli_port.h"

#include <utility>

namespace chm {

CliPort::CliPort(Handler handler) : handler_(std::move(handler)) {}

CliPort::~CliPort() {
    // A sender must never wait for a loop that has gone.
    std::lock_guard lock(mutex_);
    for (Entry& entry : queue_)
        if (entry.reply) entry.reply->set_value(0);
}

void CliPort::Post(uint32_t message, uintptr_t wparam, intptr_t lparam) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back({{message, wparam, lparam}, nullptr});
    }
    arrived_.notify_one();
}

intptr_t CliPort::Send(uint32_t message, uintptr_t wparam, intptr_t lparam) {
    if (std::this_thread::get_id() == owner_) return handler_({message, wparam, lparam});
    std::promise<intptr_t> reply;
    std::future<intptr_t> result = reply.get_future();
    {
        std::lock_guard lock(mutex_);
        queue_.push_back({{message, wparam, lparam}, &reply});
    }
    arrived_.notify_one();
    return result.get();
}

void CliPort::DispatchNext() {
    Entry entry;
    {
        std::unique_lock lock(mutex_);
        arrived_.wait(lock, [this] { return !queue_.empty(); });
        entry = queue_.front();
        queue_.pop_front();
    }
    const intptr_t result = handler_(entry.message);
    if (entry.reply) entry.reply->set_value(result);
}

}  // namespace chm
