#include "ui/file_manager.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QStringList>
#include <QUrl>
#include <QWidget>

#include "ui/message_box.h"

namespace chm {
namespace {

const QString kService = QStringLiteral("org.freedesktop.FileManager1");
const QString kObjectPath = QStringLiteral("/org/freedesktop/FileManager1");
const QString kInterface = QStringLiteral("org.freedesktop.FileManager1");
const QString kProgramCaption = QStringLiteral("Tavorin Channel Merger");

// The window that asked for the latest open, for the desktop opener's late answer.
QPointer<QWidget> asking_owner;

bool OpenLocal(const QString& path, QWidget* owner) {
    asking_owner = owner;
    // Starting the handler can take a moment; the box that may follow must not keep the
    // wait cursor.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool opened = QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    QApplication::restoreOverrideCursor();
    return opened;
}

class DesktopOpener : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    Q_INVOKABLE void Open(const QUrl& url) {
        const QString path = url.toLocalFile();
        const QPointer<QWidget> owner = asking_owner;
        // Parented, so the process object goes with the program; an xdg-open still waiting
        // then is ended, and what it started lives on.
        auto* opener = new QProcess(this);
        opener->setProgram(QStringLiteral("xdg-open"));
        opener->setArguments({path});
        opener->setStandardOutputFile(QProcess::nullDevice());
        opener->setStandardErrorFile(QProcess::nullDevice());
        const auto failed = [path, owner] {
            QWidget* over = owner ? owner.data() : QApplication::activeWindow();
            if (QFileInfo(path).isDir())
                FileManager::TellCannotOpenFolder(over, path);
            else
                FileManager::TellCannotOpenFile(over, path);
        };
        connect(opener, &QProcess::finished, this, [opener, failed](int code, QProcess::ExitStatus status) {
            opener->deleteLater();
            if (status != QProcess::NormalExit || code != 0) failed();
        });
        connect(opener, &QProcess::errorOccurred, this, [opener, failed](QProcess::ProcessError error) {
            if (error != QProcess::FailedToStart) return;
            opener->deleteLater();
            failed();
        });
        opener->start();
    }
};

}  // namespace

void FileManager::InstallDesktopOpener() {
    auto* opener = new DesktopOpener(QApplication::instance());  // lives as long as the application
    QDesktopServices::setUrlHandler(QStringLiteral("file"), opener, "Open");
}

QString FileManager::CannotOpenFolderText(const QString& folder) {
    return QStringLiteral("Cannot open folder: \"") + folder + QStringLiteral("\"   ");
}

QString FileManager::CannotOpenFileText(const QString& file) {
    return QStringLiteral("Cannot open file: \"") + file + QStringLiteral("\"   ");
}

void FileManager::TellCannotOpenFolder(QWidget* owner, const QString& folder) {
    ShowCenteredMessageBox(owner, CannotOpenFolderText(folder), kProgramCaption, kMbOk | kMbIconError);
}

void FileManager::TellCannotOpenFile(QWidget* owner, const QString& file) {
    ShowCenteredMessageBox(owner, CannotOpenFileText(file), kProgramCaption, kMbOk | kMbIconError);
}

bool FileManager::OpenFolder(const QString& folder, QWidget* owner) {
    if (OpenLocal(folder, owner)) return true;
    TellCannotOpenFolder(owner, folder);
    return false;
}

bool FileManager::OpenFile(const QString& file, QWidget* owner) {
    if (OpenLocal(file, owner)) return true;
    TellCannotOpenFile(owner, file);
    return false;
}

QString FileManager::UriOf(const QString& path) { return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded); }

QString FileManager::FolderOf(const QString& path) { return QFileInfo(path).absolutePath(); }

void FileManager::ShowItem(const QString& path, QWidget* owner, std::function<void(bool shown)> done) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        OpenFolder(FolderOf(path), owner);
        if (done) done(false);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kObjectPath, kInterface, QStringLiteral("ShowItems"));
    call << QStringList{UriOf(path)} << QString();  // no start-up notification id
    // Asked without waiting: a file manager that is slow to start must not freeze the list.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kCallTimeoutMs), QApplication::instance());
    const auto answered = [path, owner = QPointer<QWidget>(owner), done = std::move(done)](
                              QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        const QDBusPendingReply<> reply = *finished;
        const bool shown = !reply.isError();
        if (!shown) {
            const QString folder = FolderOf(path);
            // A window that went away meanwhile has nobody left to tell.
            if (!OpenLocal(folder, owner) && owner) TellCannotOpenFolder(owner, folder);
        }
        if (done) done(shown);
    };
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, answered);
}

}  // namespace chm

#include "file_manager.moc"
