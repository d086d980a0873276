#include "ui/file_manager.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QStringList>
#include <QUrl>

namespace chm {
namespace {

const QString kService = QStringLiteral("org.freedesktop.FileManager1");
const QString kObjectPath = QStringLiteral("/org/freedesktop/FileManager1");
const QString kInterface = QStringLiteral("org.freedesktop.FileManager1");

}  // namespace

QString FileManager::UriOf(const QString& path) { return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded); }

void FileManager::OpenFolderOf(const QString& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}

void FileManager::ShowItem(const QString& path, std::function<void(bool shown)> done) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        OpenFolderOf(path);
        if (done) done(false);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kObjectPath, kInterface, QStringLiteral("ShowItems"));
    call << QStringList{UriOf(path)} << QString();  // no start-up notification id
    // Asked without waiting: a file manager that is slow to start must not freeze the list.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kCallTimeoutMs), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished,
                     [path, done = std::move(done)](QDBusPendingCallWatcher* finished) {
                         const QDBusPendingReply<> reply = *finished;
                         const bool shown = !reply.isError();
                         if (!shown) OpenFolderOf(path);
                         finished->deleteLater();
                         if (done) done(shown);
                     });
}

}  // namespace chm
