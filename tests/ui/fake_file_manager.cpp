// A desktop for tests: owns org.freedesktop.FileManager1 and org.freedesktop.Notifications on the
// session bus and records, one line each, in the file named by its argument, every URI it is
// asked to show, every notification ("notify SUMMARY: BODY") and every launcher progress signal
// ("launcher PERCENT VISIBLE"). With --activate it activates each notification at once, as a
// click would. Prints "ready" once it owns the names.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QTimer>
#include <QVariantMap>
#include <QFile>
#include <QStringList>
#include <QTextStream>
#include <cstdio>

namespace {

class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    explicit FakeFileManager(QString record_path) : record_path_(std::move(record_path)) {}

public slots:
    void ShowItems(const QStringList& uris, const QString& /*startup_id*/) { Record(QStringLiteral("item"), uris); }
    void ShowFolders(const QStringList& uris, const QString& /*startup_id*/) { Record(QStringLiteral("folder"), uris); }
    void ShowItemProperties(const QStringList& uris, const QString& /*startup_id*/) {
        Record(QStringLiteral("properties"), uris);
    }

private:
    void Record(const QString& kind, const QStringList& uris) {
        QFile file(record_path_);
        if (!file.open(QIODevice::Append | QIODevice::Text)) return;
        QTextStream out(&file);
        for (const QString& uri : uris) out << kind << ' ' << uri << '\n';
    }

    QString record_path_;
};

void Append(const QString& record_path, const QString& line) {
    QFile file(record_path);
    if (!file.open(QIODevice::Append | QIODevice::Text)) return;
    QTextStream(&file) << line << '\n';
}

class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    FakeNotifications(QString record_path, bool activate) : record_path_(std::move(record_path)), activate_(activate) {}

public slots:
    uint Notify(const QString& /*app*/, uint /*replaces*/, const QString& /*icon*/, const QString& summary,
                const QString& body, const QStringList& /*actions*/, const QVariantMap& /*hints*/, int /*timeout*/) {
        Append(record_path_, QStringLiteral("notify ") + summary + QStringLiteral(": ") + body);
        const uint id = ++last_id_;
        if (activate_)
            QTimer::singleShot(50, this, [id] {
                QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                                                 QStringLiteral("org.freedesktop.Notifications"),
                                                                 QStringLiteral("ActionInvoked"));
                signal << id << QStringLiteral("default");
                QDBusConnection::sessionBus().send(signal);
            });
        return id;
    }
    QStringList GetCapabilities() { return {QStringLiteral("actions"), QStringLiteral("body")}; }
    void LauncherUpdate(const QString& /*app_uri*/, const QVariantMap& properties) {
        Append(record_path_, QStringLiteral("launcher %1 %2")
                                 .arg(qRound(properties.value(QStringLiteral("progress")).toDouble() * 100))
                                 .arg(properties.value(QStringLiteral("progress-visible")).toBool() ? 1 : 0));
    }

private:
    QString record_path_;
    bool activate_;
    uint last_id_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2 && !(argc == 3 && QByteArray(argv[2]) == "--activate")) {
        std::fprintf(stderr, "usage: fake_file_manager <record file> [--activate]\n");
        return 2;
    }
    FakeFileManager manager(QString::fromLocal8Bit(argv[1]));
    FakeNotifications notifications(QString::fromLocal8Bit(argv[1]), argc == 3);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() ||
        !bus.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &manager, QDBusConnection::ExportAllSlots) ||
        !bus.registerService(QStringLiteral("org.freedesktop.FileManager1")) ||
        !bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &notifications,
                            QDBusConnection::ExportAllSlots) ||
        !bus.registerService(QStringLiteral("org.freedesktop.Notifications")) ||
        !bus.connect(QString(), QString(), QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"),
                     &notifications, SLOT(LauncherUpdate(QString, QVariantMap)))) {
        std::fprintf(stderr, "fake_file_manager: cannot own its names on the bus\n");
        return 3;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}

#include "fake_file_manager.moc"
