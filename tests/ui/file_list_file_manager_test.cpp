// "Open Containing Folder" on a private session bus: a test file manager that owns
// org.freedesktop.FileManager1 is asked to show the file; without one the folder is opened.
#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QFile>
#include <QProcess>
#include <filesystem>

#include "app/conversion_report.h"
#include "tests/support/test_files.h"
#include "tests/ui/file_list_view_fixture.h"
#include "ui/desktop_notice.h"
#include "ui/file_manager.h"

namespace chm {
namespace {

using test::FileListViewFixture;

class FileManagerTest : public FileListViewFixture {
protected:
    void SetUp() override {
        FileListViewFixture::SetUp();
        ASSERT_FALSE(qgetenv("DBUS_SESSION_BUS_ADDRESS").isEmpty()) << "run under dbus-run-session";
        QObject::connect(&view_, &VeFileListView::ContainingFolderShown, &listening_,
                         [this](bool by_file_manager) { answers_.push_back(by_file_manager); });
    }
    void TearDown() override {
        if (manager_.state() != QProcess::NotRunning) {
            manager_.terminate();
            if (!manager_.waitForFinished(5000)) manager_.kill();
            manager_.waitForFinished(5000);
        }
    }

    // Starts the test file manager; true once it owns the name on the bus.
    bool StartFileManager(bool activate_notifications = false) {
        record_ = QString::fromStdString(At("shown.txt"));
        manager_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList arguments{record_};
        if (activate_notifications) arguments << QStringLiteral("--activate");
        manager_.start(QStringLiteral(CHM_FAKE_FILE_MANAGER), arguments);
        if (!manager_.waitForStarted(10000)) return false;
        while (!manager_.canReadLine())
            if (!manager_.waitForReadyRead(10000)) return false;
        return manager_.readLine().trimmed() == "ready";
    }
    QStringList Recorded() const {
        QFile file(record_);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
        return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }
    bool WaitForAnswer() { return test::WaitFor([&] { return !answers_.empty(); }); }

    QObject listening_;
    std::vector<bool> answers_;
    QProcess manager_;
    QString record_;
};

TEST_F(FileManagerTest, FileManagerIsAskedToShowTheFile) {
    const std::string path = Touch("my music/song #1 (live).mp3");
    ASSERT_EQ(Add({path}), 1);
    ASSERT_TRUE(StartFileManager());
    test::UrlRecorder opened;
    EXPECT_TRUE(view_.OpenContainingFolder(0));
    ASSERT_TRUE(WaitForAnswer());
    EXPECT_EQ(answers_, (std::vector<bool>{true}));
    const QString uri = QUrl::fromLocalFile(QString::fromStdString(path)).toString(QUrl::FullyEncoded);
    EXPECT_EQ(Recorded(), (QStringList{QStringLiteral("item ") + uri}));
    EXPECT_TRUE(uri.startsWith(QStringLiteral("file:///")));
    EXPECT_TRUE(opened.Urls().isEmpty());
}

TEST_F(FileManagerTest, ContextMenuItemReachesTheFileManager) {
    const std::string path = Touch("a.wav");
    ASSERT_EQ(Add({path}), 1);
    ASSERT_TRUE(StartFileManager());
    const SeenMenu seen = RightClick(RowCentre(0), [](QMenu* menu) { Choose(menu, 0); });
    ASSERT_TRUE(seen.seen);
    ASSERT_TRUE(WaitForAnswer());
    EXPECT_EQ(Recorded(), (QStringList{QStringLiteral("item ") + FileManager::UriOf(QString::fromStdString(path))}));
}

TEST_F(FileManagerTest, WithoutAFileManagerTheFolderIsOpened) {
    const std::string path = Touch("folder/a.wav");
    ASSERT_EQ(Add({path}), 1);
    test::UrlRecorder opened;
    EXPECT_TRUE(view_.OpenContainingFolder(0));
    ASSERT_TRUE(WaitForAnswer());
    EXPECT_EQ(answers_, (std::vector<bool>{false}));
    EXPECT_EQ(opened.Urls(), (QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString(At("folder")))}));
}

TEST_F(FileManagerTest, WithoutAFileManagerOrAHandlerTheUserIsTold) {
    const std::string path = Touch("folder/a.wav");
    ASSERT_EQ(Add({path}), 1);
    const test::NoDesktopHandlers no_handlers;
    test::SeenMessage box;
    test::ModalAnswer answer([&box](QWidget* modal) { test::ReadMessageBox(modal, box); });
    const SeenMenu seen = RightClick(RowCentre(0), [](QMenu* menu) { Choose(menu, 0); });
    ASSERT_TRUE(seen.seen);
    ASSERT_TRUE(WaitForAnswer());
    EXPECT_EQ(answers_, (std::vector<bool>{false}));
    ASSERT_TRUE(box.seen);
    EXPECT_EQ(box.text, QStringLiteral("Cannot open folder: \"") + QString::fromStdString(At("folder")) +
                            QStringLiteral("\"   "));
    EXPECT_EQ(box.title, QStringLiteral("Tavorin Channel Merger"));
    EXPECT_EQ(box.icon, QMessageBox::Critical);
}

TEST_F(FileManagerTest, PlayWithoutAHandlerTellsTheUser) {
    const std::string path = Touch("b.wav");
    ASSERT_EQ(Add({path}), 1);
    const test::NoDesktopHandlers no_handlers;
    test::SeenMessage box;
    test::ModalAnswer answer([&box](QWidget* modal) { test::ReadMessageBox(modal, box); });
    const SeenMenu seen = RightClick(RowCentre(0), [](QMenu* menu) { Choose(menu, 1); });
    ASSERT_TRUE(seen.seen);
    ASSERT_TRUE(test::WaitFor([&box] { return box.seen; }));
    EXPECT_EQ(box.text,
              QStringLiteral("Cannot open file: \"") + QString::fromStdString(path) + QStringLiteral("\"   "));
    EXPECT_EQ(box.title, QStringLiteral("Tavorin Channel Merger"));
    EXPECT_EQ(box.icon, QMessageBox::Critical);
    EXPECT_EQ(box.owner, &view_);
}

// The desktop opener: xdg-open's exit code decides, not its start. A stand-in xdg-open on the
// path records what it was given and exits as a desktop without a handler does (3) or as one
// that opened the folder (0).
TEST_F(FileManagerTest, TheDesktopOpenerTellsWhenXdgOpenFindsNoHandler) {
    const std::string folder = At("out");
    std::filesystem::create_directories(folder);
    const std::string bin = At("bin");
    std::filesystem::create_directories(bin);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QByteArray::fromStdString(bin));
    FileManager::InstallDesktopOpener();
    for (const int code : {3, 0}) {
        SCOPED_TRACE(code);
        const std::string record = At("opened" + std::to_string(code) + ".txt");
        test::WriteTextFile(bin + "/xdg-open", "#!/bin/sh\necho \"$1\" >> '" + record + "'\nexit " +
                                                   std::to_string(code) + "\n");
        std::filesystem::permissions(bin + "/xdg-open", std::filesystem::perms::owner_all);
        test::SeenMessage box;
        test::ModalAnswer answer([&box](QWidget* modal) { test::ReadMessageBox(modal, box); });
        EXPECT_TRUE(FileManager::OpenFolder(QString::fromStdString(folder), &view_));
        // The whole line: the file exists a moment before the line is in it.
        ASSERT_TRUE(test::WaitFor([&] { return std::filesystem::exists(record) && test::ReadTextFile(record) == folder + "\n"; }))
            << (std::filesystem::exists(record) ? test::ReadTextFile(record) : "nothing");
        if (code == 0) {
            // Time for a box that must not come.
            EXPECT_FALSE(test::WaitFor([&box] { return box.seen; }, std::chrono::milliseconds(500)));
        } else {
            ASSERT_TRUE(test::WaitFor([&box] { return box.seen; }));
            EXPECT_EQ(box.text, QStringLiteral("Cannot open folder: \"") + QString::fromStdString(folder) +
                                    QStringLiteral("\"   "));
            EXPECT_EQ(box.owner, &view_);
        }
    }
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    qputenv("PATH", path);
}

// The report's "Open Output Folder" asks the file manager to show an output selected.
TEST_F(FileManagerTest, TheReportShowsTheOutputSelected) {
    const std::string output = Touch("out/song.wav");
    ASSERT_TRUE(StartFileManager());
    ConversionReport report(1, 1, QString::fromStdString(At("out")), &view_, {}, QString::fromStdString(output));
    report.show();
    EXPECT_TRUE(report.OpenOutputFolder());
    ASSERT_TRUE(test::WaitFor([&] { return !Recorded().isEmpty(); }));
    EXPECT_EQ(Recorded(), (QStringList{QStringLiteral("item ") + FileManager::UriOf(QString::fromStdString(output))}));
}

// A long run that ends while the window is not the active one is told by a notification whose
// activation brings the window back; none while the window is active. The launcher icon hears
// the progress while the run is busy.
TEST_F(FileManagerTest, ALongRunEndingBehindOtherWindowsIsNotified) {
    ASSERT_TRUE(StartFileManager(true));
    DesktopNotice notice(&view_, 0);  // every run is long enough
    notice.RunStarted();
    notice.RunProgress(0.504);
    QWidget other;
    other.resize(100, 100);
    ASSERT_TRUE(test::ShowAndActivate(&other));
    ASSERT_FALSE(view_.isActiveWindow());
    notice.RunEnded(2, 1);
    const QString told = QStringLiteral("notify Conversion finished: 2 files converted, 1 failed");
    ASSERT_TRUE(test::WaitFor([&] { return Recorded().contains(told); })) << Recorded().join(u'|').toStdString();
    EXPECT_TRUE(test::WaitFor([&] { return view_.isActiveWindow(); }));
    EXPECT_TRUE(test::WaitFor([&] { return Recorded().contains(QStringLiteral("launcher 0 0")); }));
    const QStringList launcher = Recorded().filter(QStringLiteral("launcher"));
    EXPECT_EQ(launcher, (QStringList{QStringLiteral("launcher 0 1"), QStringLiteral("launcher 50 1"),
                                     QStringLiteral("launcher 0 0")}));

    // Looked at: the report says it, the desktop does not.
    notice.RunStarted();
    notice.RunEnded(1, 0);
    EXPECT_FALSE(test::WaitFor([&] { return Recorded().filter(QStringLiteral("notify")).size() > 1; },
                               std::chrono::milliseconds(500)));
    EXPECT_EQ(DesktopNotice::Summary(1, 0), QStringLiteral("1 file converted"));
}

}  // namespace
}  // namespace chm
