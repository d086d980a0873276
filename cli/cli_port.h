#pragma once
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include "platform/message_port.h"

namespace chm {

// The command line's "window": messages posted from any thread wait in a queue until the
// thread that made the port handles them, one by one, as a window's message loop would.
class CliPort : public MessagePort {
public:
    using Handler = std::function<intptr_t(const PortMessage&)>;

    // The handler runs on the thread that makes the port, which must also call DispatchNext.
    explicit CliPort(Handler handler);
    ~CliPort() override;

    void Post(uint32_t message, uintptr_t wparam, intptr_t lparam) override;
    // On the port's own thread the handler runs at once; any other thread waits until the
    // message loop has handled the message.
    intptr_t Send(uint32_t message, uintptr_t wparam, intptr_t lparam) override;

    // Waits without time-out for the next message and hands it to the handler.
    void DispatchNext();

private:
    struct Entry {
        PortMessage message;
        std::promise<intptr_t>* reply;  // set for a sent message; the sender waits on it
    };

    Handler handler_;
    std::thread::id owner_ = std::this_thread::get_id();
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<Entry> queue_;
};

}  // namespace chm
