// A file manager for tests: owns org.freedesktop.FileManager1 on the session bus and records
// every URI it is asked to show, one line each, in the file named by its argument. Prints
// "ready" once it owns the name.
#include <QCoreApplication>
#include <QDBusConnection>
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

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: fake_file_manager <record file>\n");
        return 2;
    }
    FakeFileManager manager(QString::fromLocal8Bit(argv[1]));
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() ||
        !bus.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &manager, QDBusConnection::ExportAllSlots) ||
        !bus.registerService(QStringLiteral("org.freedesktop.FileManager1"))) {
        std::fprintf(stderr, "fake_file_manager: cannot own org.freedesktop.FileManager1\n");
        return 3;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}

#include "fake_file_manager.moc"
