#include "platform/job_thread.h"

#include <system_error>

namespace chm {

JobThread::~JobThread() { Join(); }

bool JobThread::Start(std::function<int()> body) {
    if (thread_.joinable()) return false;
    auto state = std::make_shared<State>();
    try {
        thread_ = std::thread([state, body = std::move(body)] {
            state->exit_code.store(body());
            state->finished.store(true);
        });
    } catch (const std::system_error&) {
        return false;
    }
    state_ = std::move(state);
    return true;
}

void JobThread::Join() {
    if (thread_.joinable()) thread_.join();
}

}  // namespace chm
