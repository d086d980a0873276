#include "engine/task_progress.h"

#include <algorithm>
#include <cmath>

namespace chm {

void TaskProgress::Cancel() {
    if (cancelled_.exchange(true)) return;
    OnCancelled();
}

void TaskProgress::Fail() {
    if (failed_.exchange(true)) return;
    OnFailed();
}

void TaskProgress::Fail(const std::string& reason) {
    if (!reason.empty()) KeepReason(reason);
    Fail();
}

void TaskProgress::AddNote(const std::string& note) {
    if (!note.empty()) KeepNote(note);
}

void TaskProgress::KeepReason(const std::string& reason) {
    std::lock_guard lock(remarks_lock_);
    if (reason_.empty()) reason_ = reason;
}

void TaskProgress::KeepNote(const std::string& note) {
    std::lock_guard lock(remarks_lock_);
    notes_.push_back(note);
}

std::string TaskProgress::FailureReason() const {
    std::lock_guard lock(remarks_lock_);
    return reason_;
}

std::vector<std::string> TaskProgress::Notes() const {
    std::lock_guard lock(remarks_lock_);
    return notes_;
}

void TaskProgress::Reset(uint32_t total) {
    {
        std::lock_guard lock(remarks_lock_);
        reason_.clear();
        notes_.clear();
    }
    total_ = total;
    done_ = 0;
    cancelled_ = false;
    failed_ = false;
    OnChanged();
}

bool TaskProgress::SetTotal(uint32_t n) {
    if (n == total_) return false;
    const uint32_t done = done_;
    total_ = n;
    if (done > n) {
        done_ = n;
        OnChanged();
        return false;
    }
    if (done == 0 || (n > 0 && done == n)) return false;
    OnChanged();
    return true;
}

void TaskProgress::Advance(int64_t n) {
    const int64_t next = std::clamp<int64_t>(int64_t{done_} + n, 0, int64_t{total_});
    if (static_cast<uint32_t>(next) == done_) return;
    done_ = static_cast<uint32_t>(next);
    OnChanged();
}

void TaskProgress::SetPercent(float percent) {
    // NaN counts as 0 so that a broken duration can never push the position anywhere.
    const float p = std::isnan(percent) ? 0.0f : std::clamp(percent, 0.0f, 100.0f);
    const uint32_t total = total_;
    const double scaled = std::trunc(static_cast<double>(p) * total * 0.01);
    const uint32_t next = std::min(static_cast<uint32_t>(scaled), total);
    if (next == done_) return;
    done_ = next;
    OnChanged();
}

void TaskProgress::Complete() {
    if (done_ == total_) return;
    done_ = total_.load();
    OnChanged();
}

double TaskProgress::Percent() const {
    const uint32_t total = total_;
    if (total == 0) return 0.0;
    return std::min(static_cast<double>(done_) * 100.0 / total, 100.0);
}

std::unique_ptr<ChildProgress> TaskProgress::MakeChild(uint32_t units, uint32_t child_total) {
    const uint32_t done = done_;
    const uint32_t range = std::min(units, total_ - done);
    auto child = std::make_unique<ChildProgress>(*this, range, done);
    child->total_ = child_total != 0 ? child_total : range;
    return child;
}

void TaskProgress::SetDoneAndNotify(uint32_t done) {
    done_ = done;
    OnChanged();
}

bool ChildProgress::IsCancelled() const { return OwnCancelled() || parent_.IsCancelled(); }

bool ChildProgress::IsFailed() const { return OwnFailed() || parent_.IsFailed(); }

void ChildProgress::Cancel() {
    TaskProgress::Cancel();
    parent_.Cancel();
}

void ChildProgress::Fail() {
    TaskProgress::Fail();
    parent_.Fail();
}

void ChildProgress::OnChanged() {
    const uint32_t total = Total();
    if (total == 0) return;
    const uint32_t done = Done();
    uint64_t value = base_;
    value += done == total ? range_ : uint64_t{range_} * done / total;
    const uint32_t mapped = static_cast<uint32_t>(std::min<uint64_t>(value, parent_.Total()));
    if (mapped != parent_.Done()) parent_.SetDoneAndNotify(mapped);
}

bool IsCancelled(const TaskProgress* progress) { return progress && progress->IsCancelled(); }

uint32_t ProgressShare(const TaskProgress* progress, double fraction) {
    return progress ? static_cast<uint32_t>(std::trunc(progress->Total() * fraction)) : 0;
}

std::unique_ptr<ChildProgress> MakeChildProgress(TaskProgress* progress, uint32_t units) {
    return progress ? progress->MakeChild(units) : nullptr;
}

bool FinishProgress(TaskProgress* progress, bool ok, const std::string& reason) {
    if (progress && !ok && !reason.empty()) progress->Fail(reason);
    return FinishProgress(progress, ok);
}

bool FinishProgress(TaskProgress* progress, bool ok) {
    if (progress) {
        if (ok)
            progress->Complete();
        else
            progress->Fail();
    }
    return ok;
}

}  // namespace chm
