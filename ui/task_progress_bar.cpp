#include "ui/task_progress_bar.h"

#include <QPainter>

#include "ui/task_progress_draw.h"

namespace chm {

VeTaskProgressBarCtrl::VeTaskProgressBarCtrl(QWidget* parent) : QWidget(parent) {
    timer_.setInterval(kAnimationPeriodMs);
    connect(&timer_, &QTimer::timeout, this, &VeTaskProgressBarCtrl::OnAnimationTimer);
    UpdateAccessibleText();
}

void VeTaskProgressBarCtrl::SetProgress(const TaskProgress* progress) {
    progress_ = progress;
    OnProgressChanged();
}

void VeTaskProgressBarCtrl::SetAnimation(bool on) {
    animation_on_ = on;
    highlight_offset_ = 0;
    if (on && !IsComplete())
        timer_.start();
    else
        timer_.stop();
    update();
}

int VeTaskProgressBarCtrl::HighlightWidth() { return ProgressImages::Get().highlight.width(); }

void VeTaskProgressBarCtrl::OnProgressChanged() {
    if (IsComplete()) timer_.stop();
    UpdateAccessibleText();
    update();
}

void VeTaskProgressBarCtrl::OnAnimationTimer() {
    if (IsComplete()) {
        timer_.stop();
        update();
        return;
    }
    if (!isVisible()) return;
    highlight_offset_ += kHighlightStep;
    if (highlight_offset_ >= width() + HighlightWidth()) highlight_offset_ = 0;
    update();
}

void VeTaskProgressBarCtrl::paintEvent(QPaintEvent* /*event*/) {
    if (!progress_) return;
    QPainter painter(this);
    const int offset = animation_on_ && timer_.isActive() ? highlight_offset_ : -1;
    DrawTaskProgress(*progress_, painter, rect(), ProgressTextLayout::kBar, offset);
}

bool VeTaskProgressBarCtrl::IsComplete() const { return !progress_ || progress_->Done() >= progress_->Total(); }

void VeTaskProgressBarCtrl::UpdateAccessibleText() {
    // Read out as what it shows: "33%", "Cancelled", "Failed".
    const QString text = progress_ ? ProgressText(*progress_) : QString();
    setAccessibleName(text.isEmpty() ? QStringLiteral("Progress") : text);
}

}  // namespace chm
