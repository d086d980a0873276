#include "ui/desktop_notice.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>
#include <algorithm>
#include <cmath>

namespace chm {
namespace {

const QString kNotifications = QStringLiteral("org.freedesktop.Notifications");
const QString kNotificationsPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kLauncherInterface = QStringLiteral("com.canonical.Unity.LauncherEntry");
constexpr int kNotifyTimeoutMs = 5000;

}  // namespace

const QString& DesktopNotice::DesktopEntry() {
    static const QString entry = QStringLiteral("tavorin-channel-merger");
    return entry;
}

DesktopNotice::DesktopNotice(QWidget* view, qint64 long_run_ms)
    : QObject(view), view_(view), long_run_ms_(long_run_ms) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected())
        bus.connect(kNotifications, kNotificationsPath, kNotifications, QStringLiteral("ActionInvoked"), this,
                    SLOT(OnActionInvoked(uint, QString)));
}

QString DesktopNotice::Summary(int converted, int failed) {
    QString text = converted == 1 ? QStringLiteral("1 file converted") : QStringLiteral("%1 files converted").arg(converted);
    if (failed > 0) text += QStringLiteral(", %1 failed").arg(failed);
    return text;
}

void DesktopNotice::RunStarted() {
    run_.start();
    last_percent_ = -1;
    RunProgress(0.0);
}

void DesktopNotice::RunProgress(double fraction) {
    const int percent = static_cast<int>(std::floor(std::clamp(fraction, 0.0, 1.0) * 100.0));
    if (percent == last_percent_) return;
    last_percent_ = percent;
    SendLauncher(percent / 100.0, true);
}

void DesktopNotice::RunEnded(int converted, int failed) {
    SendLauncher(0.0, false);
    last_percent_ = -1;
    const bool long_run = run_.isValid() && run_.elapsed() >= long_run_ms_;
    run_.invalidate();
    // The user who is looking at the window sees the report; one who went elsewhere hears.
    if (!long_run || !view_ || view_->window()->isActiveWindow()) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    QDBusMessage call = QDBusMessage::createMethodCall(kNotifications, kNotificationsPath, kNotifications,
                                                       QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), DesktopEntry());
    call << QStringLiteral("Tavorin Channel Merger") << uint{0} << DesktopEntry() << QStringLiteral("Conversion finished")
         << Summary(converted, failed) << QStringList{QStringLiteral("default"), QStringLiteral("Show")} << hints
         << -1;
    // Without waiting: a notification server that is slow must not hold the window.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kNotifyTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        const QDBusPendingReply<uint> reply = *finished;
        notification_ = reply.isError() ? 0 : reply.value();
    });
}

void DesktopNotice::OnActionInvoked(uint id, const QString& action) {
    if (id == 0 || id != notification_ || action != QStringLiteral("default")) return;
    notification_ = 0;
    if (!view_) return;
    QWidget* window = view_->window();
    window->showNormal();
    window->raise();
    window->activateWindow();
    // The report, where it is open, is the window's own modal dialog: it comes along.
}

void DesktopNotice::SendLauncher(double progress, bool visible) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    QDBusMessage update = QDBusMessage::createSignal(QStringLiteral("/com/canonical/unity/launcherentry/tavorin"),
                                                     kLauncherInterface, QStringLiteral("Update"));
    QVariantMap properties;
    properties.insert(QStringLiteral("progress"), progress);
    properties.insert(QStringLiteral("progress-visible"), visible);
    update << QStringLiteral("application://%1.desktop").arg(DesktopEntry()) << properties;
    bus.send(update);
}

}  // namespace chm
