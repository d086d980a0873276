#include "platform/job_thread.h"

#include <system_error>

namespace chm {

JobThread::~JobThread() { Join(); }

bool JobThread::Start(std::function<int()> body) {
    if (thread_.joinable()) return false;
    auto state = std::make_shared<State>();
    state_ = state;
    try {
        // The body waits until the thread object is assigned: a job that aborts itself from
        // its own thread asks whether its thread exists.
        thread_ = std::thread([state, body = std::move(body)] {
            state->launched.wait(false);
            state->exit_code.store(body());
            state->finished.store(true);
        });
    } catch (const std::system_error&) {
        return false;
    }
    state->launched.store(true);
    state->launched.notify_one();
    return true;
}

void JobThread::Join() {
    if (thread_.joinable()) thread_.join();
}

}  // namespace chm
