#pragma once
#include <QTimer>
#include <QWidget>

#include "engine/task_progress.h"

namespace chm {

// The overall progress bar under the file list: draws the work view's TaskProgress with the
// one progress drawing, text centred, and while a conversion runs sweeps a highlight across
// it every 65 ms.
class VeTaskProgressBarCtrl : public QWidget {
    Q_OBJECT

public:
    static constexpr int kAnimationPeriodMs = 65;
    static constexpr int kHighlightStep = 4;

    explicit VeTaskProgressBarCtrl(QWidget* parent = nullptr);

    // The progress shown, owned by the work view; null shows nothing.
    void SetProgress(const TaskProgress* progress);
    const TaskProgress* Progress() const { return progress_; }

    // On: the highlight starts again at the left and moves until the work is complete. Off:
    // the bar stops and shows the progress as it stands.
    void SetAnimation(bool on);
    bool IsAnimationOn() const { return animation_on_; }
    bool IsTimerRunning() const { return timer_.isActive(); }
    int TimerInterval() const { return timer_.interval(); }
    int HighlightOffset() const { return highlight_offset_; }
    static int HighlightWidth();

public slots:
    // The change notice of the progress: repaint, and stop the animation at completion.
    void OnProgressChanged();
    // One step of the animation (the timer's slot).
    void OnAnimationTimer();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool IsComplete() const;
    void UpdateAccessibleText();

    const TaskProgress* progress_ = nullptr;
    QTimer timer_;
    bool animation_on_ = false;
    int highlight_offset_ = 0;
};

}  // namespace chm
