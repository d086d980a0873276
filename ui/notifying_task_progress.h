#pragma once
#include <functional>
#include <utility>

#include "engine/task_progress.h"

namespace chm {

// A progress that calls its observer on every change notice (position, cancel, failure);
// the work view's overall progress, whose observer repaints the overall bar. Changed on the
// interface thread only, so the observer runs there.
class NotifyingTaskProgress : public TaskProgress {
public:
    void SetObserver(std::function<void()> observer) { observer_ = std::move(observer); }

protected:
    void OnChanged() override { Notify(); }
    void OnCancelled() override { Notify(); }
    void OnFailed() override { Notify(); }

private:
    void Notify() const {
        if (observer_) observer_();
    }

    std::function<void()> observer_;
};

}  // namespace chm
