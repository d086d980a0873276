#include "tests/ui/search_wizard_test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "search/folder_search_worker.h"
#include "tests/ui/ui_test_support.h"
#include "ui/search_result_list.h"
#include "ui/search_wizard_pages.h"

namespace chm::test {
namespace {

void Run(const std::string& command) {
    const int status = std::system(command.c_str());
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("failed: " + command);
}

// Made once per program in a folder of its own, removed when the program ends.
const std::string& SlowMp3Master() {
    static ScratchDir folder;
    static const std::string path = [] {
        const std::string second = folder.File("second.mp3");
        // No Xing frame and no tags: the file is frames only, so that copies of it in a row
        // make one long, valid stream.
        Run("ffmpeg -hide_banner -loglevel error -nostdin -y -filter_complex "
            "'sine=frequency=440:duration=1[l];sine=frequency=660:duration=1[r];[l][r]amerge=inputs=2' "
            "-ac 2 -c:a libmp3lame -b:a 64k -write_xing 0 -id3v2_version 0 -write_id3v1 0 -f mp3 '" +
            second + "'");
        const std::vector<uint8_t> frames = ReadFileBytes(second);
        std::vector<uint8_t> long_file;
        constexpr int kRepeats = 1200;  // 20 minutes, some 10 MB
        long_file.reserve(frames.size() * kRepeats);
        for (int i = 0; i < kRepeats; ++i) long_file.insert(long_file.end(), frames.begin(), frames.end());
        const std::string slow = folder.File("slow.mp3");
        WriteFileBytes(slow, long_file);
        return slow;
    }();
    return path;
}

}  // namespace

void MakeStereoWav(const std::string& path) {
    Run("sox -n -r 22050 -c 2 -b 16 '" + path + "' synth 0.2 sine 440 sine 660 2>/dev/null");
}

void MakeMonoWav(const std::string& path) { Run("sox -n -r 22050 -c 1 -b 16 '" + path + "' synth 0.2 sine 440 2>/dev/null"); }

void LinkSlowMp3s(const std::string& folder, int count) {
    const std::string& master = SlowMp3Master();
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/slow %03d.mp3", i);
        if (::link(master.c_str(), (folder + name).c_str()) != 0) throw std::runtime_error("cannot link " + master);
    }
}

std::vector<std::string> WorkerRecommendations(const std::string& folder, bool recurse) {
    auto port = std::make_shared<RecordingPort>();
    FolderSearchWorker worker{WindowHandle(port)};
    worker.SetJob(folder, recurse);
    if (!worker.Start()) return {};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (worker.IsRunning() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    worker.StopAndWait();
    std::vector<std::string> results;
    worker.TakeResults(results);
    return results;
}

QStringList ToQStrings(const std::vector<std::string>& paths) {
    QStringList list;
    for (const std::string& path : paths) list.append(QString::fromStdString(path));
    return list;
}

WizardDriver::WizardDriver() {
    owner_.setWindowTitle(QStringLiteral("Owner"));
    owner_.setGeometry(100, 80, 900, 640);
    owner_.show();
    Reopen();
}

WizardDriver::~WizardDriver() { Destroy(); }

void WizardDriver::Destroy() {
    if (wizard_ && wizard_->isVisible()) wizard_->done(QDialog::Rejected);
    wizard_.reset();
}

void WizardDriver::Reopen() {
    Destroy();
    wizard_ = std::make_unique<VeSearchWizard>(&owner_);
    *notices_ = 0;
    *ends_ = 0;
    *last_end_ = -1;
    ends_before_ = 0;
    Connect();
}

void WizardDriver::Connect() {
    QObject::connect(wizard_->SearchPage(), &VeWizardSearchPage::Notified,
                     [notices = notices_, ends = ends_, last_end = last_end_](quintptr code, qintptr) {
                         ++*notices;
                         if (code == kSearchAborted || code == kSearchCompleted) {
                             ++*ends;
                             *last_end = static_cast<int>(code);
                         }
                     });
}

bool WizardDriver::Show() { return ShowAndActivate(wizard_.get()); }

bool WizardDriver::StartSearch(const std::string& folder, bool recurse) {
    if (!wizard_->isVisible() && !Show()) return false;
    if (wizard_->PageIndex() == VeSearchWizard::kWelcomePage) wizard_->NextButton()->click();
    if (wizard_->PageIndex() != VeSearchWizard::kFolderPage) return false;
    wizard_->FolderPage()->FolderEdit()->setText(QString::fromStdString(folder));
    wizard_->FolderPage()->SubFoldersBox()->setChecked(recurse);
    ends_before_ = *ends_;
    wizard_->NextButton()->click();
    return wizard_->PageIndex() == VeSearchWizard::kSearchPage;
}

bool WizardDriver::WaitForEnd(int ends) {
    if (ends < 0) ends = ends_before_ + 1;
    return WaitFor([this, ends] { return *ends_ >= ends && !wizard_->SearchPage()->IsSearching(); },
                   std::chrono::seconds(120));
}

bool WizardDriver::WaitForRows(int rows) {
    return WaitFor([this, rows] { return Rows() >= rows; }, std::chrono::seconds(60));
}

int WizardDriver::Rows() { return wizard_->SearchPage()->ResultList()->Model().RowCount(); }

QString WizardDriver::Status() { return wizard_->SearchPage()->StatusLine()->text(); }

QString WizardDriver::Title() { return wizard_->Banner()->Title(); }

void ClickAt(QWidget* widget, QPoint pos, Qt::MouseButton button) {
    const QPointF global = widget->mapToGlobal(QPointF(pos));
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(pos), global, button, button, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(pos), global, button, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

void KeyPress(QWidget* widget, int key, bool auto_repeat) {
    // With the text that the keyboard gives along.
    const QString text = key == Qt::Key_Space ? QStringLiteral(" ") : QString();
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text, auto_repeat);
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text, auto_repeat);
    QApplication::sendEvent(widget, &release);
}

}  // namespace chm::test
