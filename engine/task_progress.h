#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace chm {

class ChildProgress;

// Progress and status of one task: a file, a whole run or a step of either. Written by one
// worker thread, painted by the interface thread; hence every field is a lone atomic.
class TaskProgress {
public:
    TaskProgress() = default;
    virtual ~TaskProgress() = default;
    TaskProgress(const TaskProgress&) = delete;
    TaskProgress& operator=(const TaskProgress&) = delete;

    virtual bool IsCancelled() const { return cancelled_.load(); }
    virtual void Cancel();
    virtual bool IsFailed() const { return failed_.load(); }
    virtual void Fail();
    // Fails with a reason in plain words, for the user ("the output folder is full"). The first
    // reason given since the last Reset is the one kept: the innermost step knows best.
    void Fail(const std::string& reason);
    // A remark on a task that did not fail for it ("source ends early: ..."); kept in order.
    void AddNote(const std::string& note);
    // Both are kept by the progress at the top of a chain; a child hands them upward.
    std::string FailureReason() const;
    std::vector<std::string> Notes() const;

    void Reset(uint32_t total);
    bool SetTotal(uint32_t n);
    void Advance(int64_t n);
    void SetPercent(float percent);
    void Complete();
    double Percent() const;
    std::unique_ptr<ChildProgress> MakeChild(uint32_t units, uint32_t child_total = 0);

    uint32_t Total() const { return total_.load(); }
    uint32_t Done() const { return done_.load(); }
    // Text is set and read on the interface thread only.
    const std::wstring& Text() const { return text_; }
    void SetText(std::wstring text) { text_ = std::move(text); }

protected:
    virtual void OnChanged() {}
    virtual void OnCancelled() {}
    virtual void OnFailed() {}
    virtual void KeepReason(const std::string& reason);
    virtual void KeepNote(const std::string& note);
    // Sets the position without the bounds checks of the public operations; used by children.
    void SetDoneAndNotify(uint32_t done);
    bool OwnCancelled() const { return cancelled_.load(); }
    bool OwnFailed() const { return failed_.load(); }

private:
    friend class ChildProgress;
    std::atomic<uint32_t> total_{0};
    std::atomic<uint32_t> done_{0};
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> failed_{false};
    std::wstring text_;
    // Written by the worker, read by the interface: strings need the lock.
    mutable std::mutex remarks_lock_;
    std::string reason_;
    std::vector<std::string> notes_;
};

// Covers a sub-range of a parent: its own position maps into the parent's units, and its
// cancel and failure travel upward.
class ChildProgress : public TaskProgress {
public:
    ChildProgress(TaskProgress& parent, uint32_t range, uint32_t base) : parent_(parent), range_(range), base_(base) {}

    bool IsCancelled() const override;
    void Cancel() override;
    bool IsFailed() const override;
    void Fail() override;
    using TaskProgress::Fail;

    uint32_t Range() const { return range_; }
    uint32_t Base() const { return base_; }

protected:
    void OnChanged() override;
    void KeepReason(const std::string& reason) override { parent_.KeepReason(reason); }
    void KeepNote(const std::string& note) override { parent_.KeepNote(note); }

private:
    TaskProgress& parent_;
    uint32_t range_;
    uint32_t base_;
};

// For the steps of the engine that take an optional progress (null: nobody watches).
bool IsCancelled(const TaskProgress* progress);
// The whole units of the progress's total that `fraction` of it is; 0 without a progress.
uint32_t ProgressShare(const TaskProgress* progress, double fraction);
std::unique_ptr<ChildProgress> MakeChildProgress(TaskProgress* progress, uint32_t units);
// Completes or fails the progress as `ok` says, and returns `ok`.
bool FinishProgress(TaskProgress* progress, bool ok);
// The same, with the reason of a failure (ignored when `ok`, or when empty).
bool FinishProgress(TaskProgress* progress, bool ok, const std::string& reason);

}  // namespace chm
