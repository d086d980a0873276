#pragma once
#include <cstdint>
#include <utility>

#include "engine/task_progress.h"
#include "platform/message_port.h"

namespace chm {

// The progress of one file-list row: every change tells the list which row to repaint.
class RowProgress : public TaskProgress {
public:
    RowProgress(WindowHandle list_window, uintptr_t item_id) : list_window_(std::move(list_window)), item_id_(item_id) {}

    uintptr_t ItemId() const { return item_id_; }

protected:
    void OnChanged() override { Notify(); }
    void OnCancelled() override { Notify(); }
    // A cancelled row already said so; the failure that follows a cancel is not news.
    void OnFailed() override {
        if (!IsCancelled()) Notify();
    }

private:
    void Notify() const { list_window_.Post(kItemProgressNotify, item_id_, 0); }

    WindowHandle list_window_;
    uintptr_t item_id_;
};

}  // namespace chm
