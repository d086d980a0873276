// "Open Containing Folder" on a private session bus: a test file manager that owns
// org.freedesktop.FileManager1 is asked to show the file; without one the folder is opened.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <filesystem>

#include "tests/ui/file_list_view_fixture.h"
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
    bool StartFileManager() {
        record_ = QString::fromStdString(At("shown.txt"));
        manager_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        manager_.start(QStringLiteral(CHM_FAKE_FILE_MANAGER), {record_});
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

}  // namespace
}  // namespace chm
