#pragma once
#include <QPoint>
#include <QRect>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <memory>

#include "ui/work_view.h"

namespace chm {

// The container between the frame and the work view: it takes the work view's size and keeps
// the view filling it.
class VeViewBase : public QWidget {
    Q_OBJECT

public:
    VeViewBase(WorkViewHost* host, QWidget* parent);
    // Makes the work view; false when it cannot be made.
    bool Create();
    VeWorkView* WorkView() const { return view_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    WorkViewHost* host_;
    VeWorkView* view_ = nullptr;
};

// The program's top-level window: it hosts the work view, gives the program its title, shows
// by an animated title that a conversion runs or is being stopped, remembers its place between
// runs and asks before quitting during a conversion. One per process.
class MainFrame : public QWidget, public WorkViewHost {
    Q_OBJECT

public:
    enum class TitleMode { kConverting = 0, kAborting = 1 };
    static constexpr int kTitlePeriodMs = 500;

    static const QString& NormalTitle();  // "Tavorin Channel Merger"
    // "Tavorin - Converting...  " or "Tavorin - Aborting...  " and the spinner's character.
    static QString AnimatedTitle(TitleMode mode, int spinner);
    // The process-wide spinner position: "-", "\", "|", "/"; never reset.
    static int SpinnerCounter();
    static QChar SpinnerCharacter(int index);
    // Where the window goes at its first showing: at `stored` when the window lies wholly in
    // `work_area`; centred in it when it would start left of or above it; otherwise at
    // `stored`, even hanging over the right or bottom edge.
    static QPoint FirstPlace(QPoint stored, QSize size, const QRect& work_area);

    // The one frame of the process, made on first use.
    static MainFrame& Instance();
    // The frame if it was made, else null.
    static MainFrame* Existing();
    // Ends the frame before the application goes (at process exit).
    static void DestroyInstance();

    ~MainFrame() override;

    // The window's creation: loads the settings, makes the work view inside its container and
    // takes its size, sets the normal title. False when the work view cannot be made.
    bool Create();
    bool IsCreated() const { return created_; }
    // True once the window has been destroyed (its content gone, the settings saved).
    bool IsWindowDestroyed() const { return destroyed_; }

    VeWorkView* WorkView() const { return view_base_ ? view_base_->WorkView() : nullptr; }
    TitleMode CurrentTitleMode() const { return title_mode_; }
    bool IsTitleTimerRunning() const { return title_timer_ != 0; }

    // WorkViewHost
    void OnTaskNotify(uintptr_t code) override;
    void ShowOptions() override;

    void setVisible(bool visible) override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    MainFrame();

    void RestorePosition();
    void StartTitleTimer();
    void StopTitleTimer();
    // What the system's window destruction does: the frame's own end (timer, position, quit),
    // then every child, then the settings are written once.
    void DestroyWindow();
    void OnDestroy();
    void OnNcDestroy();

    std::unique_ptr<VeViewBase> view_base_;
    TitleMode title_mode_ = TitleMode::kConverting;
    int title_timer_ = 0;
    bool shown_once_ = false;
    bool created_ = false;
    bool destroyed_ = false;
    bool close_after_add_ = false;
};

}  // namespace chm
