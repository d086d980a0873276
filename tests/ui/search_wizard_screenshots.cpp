// Renders the search wizard on its pages into PNG files under <build>/tests/ui/screenshots, to
// look at: the welcome page, the folder page, the search page while it filters and while it
// analyses, a finished search with rows, and one that found nothing.
#include <stdlib.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <cstdio>
#include <filesystem>
#include <string>

#include "search/folder_search_worker.h"
#include "tests/search/search_test_media.h"
#include "tests/support/test_files.h"
#include "tests/ui/search_wizard_test_support.h"
#include "tests/ui/ui_test_support.h"
#include "ui/filter_dialog.h"
#include "ui/search_result_list.h"
#include "ui/search_wizard.h"
#include "ui/search_wizard_pages.h"

namespace chm::test {
namespace {

bool Save(QWidget& widget, const char* name) {
    QCoreApplication::processEvents();
    const QString path = QStringLiteral(CHM_SCREENSHOT_DIR "/") + QString::fromLatin1(name);
    const bool saved = widget.grab().save(path);
    std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
    return saved;
}

int Main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    QDir().mkpath(QStringLiteral(CHM_SCREENSHOT_DIR));
    ScratchDir scratch;
    const std::string music = scratch.File("Music/Live recordings");
    std::filesystem::create_directories(music + "/2019 Summer tour");
    MakeStereoWav(music + "/Opening night.wav");
    MakeMonoWav(music + "/Interview (mono).wav");
    search::WriteMp3(music + "/Encore.mp3", 2);
    search::WriteWma(music + "/Backstage.wma", 2);
    MakeStereoWav(music + "/2019 Summer tour/Soundcheck with a rather long name that will not fit.wav");
    LinkSlowMp3s(music + "/2019 Summer tour", 12);
    const std::string mono = scratch.File("Mono only");
    std::filesystem::create_directories(mono);
    MakeMonoWav(mono + "/voice.wav");

    bool ok = true;
    WizardDriver driver;
    VeSearchWizard& wizard = driver.Wizard();
    if (!driver.Show()) return 1;
    ok &= Save(wizard, "search_wizard_welcome.png");

    wizard.NextButton()->click();
    wizard.FolderPage()->FolderEdit()->setText(QString::fromStdString(music));
    wizard.FolderPage()->SubFoldersBox()->setChecked(true);
    ok &= Save(wizard, "search_wizard_folder.png");

    // Held at its first pause point, the search shows its filtering look.
    wizard.NextButton()->click();
    FolderSearchWorker* worker = wizard.SearchPage()->Worker();
    worker->Pause();
    WaitFor([&] { return wizard.SearchPage()->BusyStrip()->isVisible(); });
    for (int i = 0; i < 24; ++i) wizard.SearchPage()->BusyStrip()->Step();
    ok &= Save(wizard, "search_wizard_filtering.png");
    worker->Resume();

    WaitFor([&] { return driver.Rows() >= 5 && driver.Status().startsWith(QStringLiteral("Analyzing /")); },
            std::chrono::seconds(60));
    ok &= Save(wizard, "search_wizard_analyzing.png");

    driver.WaitForEnd();
    VeSearchResultList* list = wizard.SearchPage()->ResultList();
    list->Model().SetChecked(1, false);
    list->selectionModel()->setCurrentIndex(list->Model().index(0, 0),
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    ok &= Save(wizard, "search_wizard_finished.png");

    wizard.BackButton()->click();
    wizard.FolderPage()->FolderEdit()->setText(QString::fromStdString(mono));
    wizard.NextButton()->click();
    driver.WaitForEnd(2);
    ok &= Save(wizard, "search_wizard_nothing_found.png");
    return ok ? 0 : 1;
}

}  // namespace
}  // namespace chm::test

int main(int argc, char** argv) { return chm::test::Main(argc, argv); }
