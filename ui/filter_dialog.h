#pragma once
#include <QDialog>
#include <QTimer>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ui/file_filter_worker.h"
#include "ui/qt_message_port.h"

class QLabel;
class QPushButton;

namespace chm {

// The sunken strip of the filter dialog: while running, a band one third of its width, shaded
// from the button face to white, moves across it every 50 ms.
class FilterBusyStrip : public QWidget {
    Q_OBJECT

public:
    static constexpr int kPeriodMs = 50;

    explicit FilterBusyStrip(QWidget* parent);
    void Start();
    void Stop();
    bool IsRunning() const { return timer_.isActive(); }
    int Offset() const { return offset_; }
    // One tick of the animation.
    void Step();

protected:
    void paintEvent(QPaintEvent* event) override;

private:

    QTimer timer_;
    int offset_ = 0;
};

// "Filtering Files...": runs the add filter over the chosen or dropped paths as a modal
// dialog that stays hidden for its first eight timer ticks, so that a short filter ends
// before anything appears. Cancelling asks first; a cancelled filter adds nothing.
class FilterDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr int kTimerPeriodMs = 50;
    static constexpr int kHiddenTicks = 8;

    static const QString& Caption();         // "Filtering Files..."
    static const QString& CancelQuestion();  // "Cancel file filtering?\n\n..."

    FilterDialog(QWidget* owner, std::vector<std::string> paths, std::set<std::string> keys);
    // Kills the timer, then aborts the worker and waits for it without time-out.
    ~FilterDialog() override;

    // Centres on the owner, starts the timer and the worker, and runs modally until the
    // filter finishes (Accepted) or is cancelled (Rejected). The owner's window takes no input
    // from the start, also while the dialog is still hidden.
    int Run();
    // Ends a running filter at once without asking, as a cancel answered Yes (the window it
    // adds to is going away).
    void Abandon();
    // The accepted files; waits for the worker's thread to end first.
    std::vector<std::string> TakeAccepted();

    FileFilterWorker& Worker() { return worker_; }
    QPushButton* CancelButton() const { return cancel_button_; }
    QString QueuedText() const;
    FilterBusyStrip* BusyStrip() const { return busy_strip_; }
    int Ticks() const { return ticks_; }
    // The tick at which the dialog appeared, 0 while it has not.
    int ShownAtTick() const { return shown_at_tick_; }

    // Refuses to show the dialog until the hidden ticks have passed.
    void setVisible(bool visible) override;

public slots:
    // Cancel button, Esc and the close box.
    void reject() override;

protected:
    void customEvent(QEvent* event) override;

private:
    void OnTimer();
    void OnFilterNotify(uintptr_t code, intptr_t count);
    void Finish(int result);
    void CentreOnOwner();

    WindowPort port_{this};
    FileFilterWorker worker_;
    QTimer timer_;
    FilterBusyStrip* busy_strip_ = nullptr;
    QLabel* queued_label_ = nullptr;
    QLabel* count_label_ = nullptr;
    QPushButton* cancel_button_ = nullptr;
    int hidden_count_ = 0;  // counts up to kHiddenTicks; the dialog may not show before
    int ticks_ = 0;
    int shown_at_tick_ = 0;
    bool asking_ = false;             // the cancel question is open
    bool finished_while_asking_ = false;
    bool closed_ = false;
};

}  // namespace chm
