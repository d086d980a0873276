// Test media and a driver for the search wizard on real folders.
#pragma once
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/test_files.h"
#include "ui/search_wizard.h"

namespace chm::test {

// WAV files made by sox: 0.2 s of sine tones, two different ones for a stereo file.
void MakeStereoWav(const std::string& path);
void MakeMonoWav(const std::string& path);
// A stereo MP3 of some 10 MB (made once per program by ffmpeg, a second of tones repeated),
// linked under `count` names "slow NNN.mp3" in `folder`. Its information query reads the whole
// file, so the analysis of these files takes long enough to be caught while it runs.
void LinkSlowMp3s(const std::string& folder, int count);

// What the folder search itself recommends for a folder, in its order: the reference that the
// wizard's rows are compared with.
std::vector<std::string> WorkerRecommendations(const std::string& folder, bool recurse);

QStringList ToQStrings(const std::vector<std::string>& paths);

// A wizard shown over an owner window of its own on the offscreen platform, with the search
// page's notices counted.
class WizardDriver {
public:
    WizardDriver();
    ~WizardDriver();
    WizardDriver(const WizardDriver&) = delete;
    WizardDriver& operator=(const WizardDriver&) = delete;

    VeSearchWizard& Wizard() { return *wizard_; }
    QWidget& Owner() { return owner_; }
    // The wizard goes, as after its closing (its folder page stores the settings).
    void Destroy();
    // Makes a new wizard (the old one goes first), not yet shown.
    void Reopen();
    // Shows the wizard (modal to the application, as exec would have it) and waits until it
    // is the active window.
    bool Show();

    // From the welcome page through the folder page to the search, with the folder typed in.
    bool StartSearch(const std::string& folder, bool recurse);
    // Waits until `ends` runs have ended (code 7 or 8) and the worker's thread is gone; by
    // default for the end of the search that StartSearch started. False on time-out.
    bool WaitForEnd(int ends = -1);
    bool WaitForRows(int rows);

    int Notices() const { return *notices_; }
    int Ends() const { return *ends_; }
    int LastEndCode() const { return *last_end_; }
    int Rows();
    QString Status();
    QString Title();

private:
    void Connect();

    QWidget owner_;
    std::unique_ptr<VeSearchWizard> wizard_;
    std::shared_ptr<int> notices_ = std::make_shared<int>(0);
    std::shared_ptr<int> ends_ = std::make_shared<int>(0);
    std::shared_ptr<int> last_end_ = std::make_shared<int>(-1);
    int ends_before_ = 0;
};

// A left click in a widget at `pos`, as the mouse gives it (press and release).
void ClickAt(QWidget* widget, QPoint pos, Qt::MouseButton button = Qt::LeftButton);
void KeyPress(QWidget* widget, int key, bool auto_repeat = false);

}  // namespace chm::test
