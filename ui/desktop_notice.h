#pragma once
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

namespace chm {

// What the desktop hears of a run, over the session bus: a notification
// (org.freedesktop.Notifications) when a long run ends while the window is not the active one,
// which brings the window back when activated; and the run's progress on the program's launcher
// icon (com.canonical.Unity.LauncherEntry, read by docks and KDE). Where the desktop has neither,
// nothing happens and nothing is said.
class DesktopNotice : public QObject {
    Q_OBJECT

public:
    static constexpr qint64 kLongRunMs = 10000;
    static const QString& DesktopEntry();  // "tavorin-channel-merger"

    // `view` is a widget of the window that runs the conversions.
    explicit DesktopNotice(QWidget* view, qint64 long_run_ms = kLongRunMs);

    void RunStarted();
    // The share done, 0 to 1; the launcher hears of whole percents only.
    void RunProgress(double fraction);
    // Says how the run ended, if it was long and the window is not active; activating the
    // notification raises the window, with the report where it is open.
    void RunEnded(int converted, int failed);

    // "12 files converted, 1 failed"; "1 file converted".
    static QString Summary(int converted, int failed);

private slots:
    void OnActionInvoked(uint id, const QString& action);

private:
    void SendLauncher(double progress, bool visible);

    QPointer<QWidget> view_;
    qint64 long_run_ms_;
    QElapsedTimer run_;
    int last_percent_ = -1;
    uint notification_ = 0;
};

}  // namespace chm
