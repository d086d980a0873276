// Photographs the real main window on an X display (run by take_screenshots.sh under Xvfb):
// idle with rows, a running conversion, the report at its end, the "Add" menu and the options
// dialog. Each picture is what the X server shows, taken from the screen, not rendered apart.
//
// Usage: app_screenshots OUTPUT_FOLDER
#include <stdlib.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include "app/app_settings.h"
#include "app/conversion_report.h"
#include "app/main_frame.h"
#include "app/options_dialog.h"
#include "engine/file_list_item.h"
#include "tests/app/app_ui_test_support.h"
#include "ui/file_list_model.h"
#include "ui/file_list_view.h"
#include "ui/output_box.h"
#include "ui/work_view.h"
#include "wm/gstreamer_setup.h"

namespace {

using namespace std::chrono_literals;
using chm::test::RunLoopUntil;

QString g_output;

// The screen's picture of a rectangle (screen coordinates), after the window has drawn.
bool Photograph(const QString& name, const QRect& area) {
    RunLoopUntil([] { return false; }, 400ms);
    QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    const QString path = g_output + u'/' + name;
    const bool saved = shot.save(path);
    std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
    return saved;
}

QRect Around(const QWidget& a, const QWidget& b) { return a.frameGeometry().united(b.frameGeometry()).adjusted(-8, -8, 8, 8); }

// Runs `action` on the next modal window once it shows, from inside its own loop.
void OnNextModal(const std::function<void(QWidget*)>& action) {
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [poll, action] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible()) {
            action(modal);
            return;
        }
        QTimer::singleShot(20, [poll] { (*poll)(); });
    };
    QTimer::singleShot(0, [poll] { (*poll)(); });
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: app_screenshots OUTPUT_FOLDER\n");
        return 2;
    }
    g_output = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(g_output);
    // Private settings and temporary files, and sample files of its own.
    char base[] = "/tmp/demo-XXXXXX";
    if (!::mkdtemp(base)) return 2;
    const std::string root = base;
    std::filesystem::create_directories(root + "/config");
    std::filesystem::create_directories(root + "/tmp");
    std::filesystem::create_directories(root + "/Music/Live at the Old Mill");
    std::filesystem::create_directories(root + "/Music/Field Recordings");
    std::filesystem::create_directories(root + "/mono");
    ::setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    ::setenv("TMPDIR", (root + "/tmp").c_str(), 1);

    int result = 1;
    {
        QApplication app(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        if (!chm::EnsureGstreamer()) return 2;
        const struct {
            const char* name;
            double seconds;
        } files[] = {{"Live at the Old Mill/01 Opening.wav", 40},   {"Live at the Old Mill/02 Harbour Song.wav", 25},
                     {"Live at the Old Mill/03 Encore.wav", 18},    {"Field Recordings/Rain on the Roof.wav", 30},
                     {"Field Recordings/Morning Birds.wav", 600}, {"Field Recordings/Night Train.wav", 20}};
        QStringList paths;
        for (const auto& file : files) {
            const std::string path = root + "/Music/" + file.name;
            chm::test::WriteStereoWav(path, file.seconds);
            paths << QString::fromStdString(path);
        }
        chm::AppSettings::Instance().show_getting_started = false;
        chm::MainFrame& frame = chm::MainFrame::Instance();
        if (!frame.Create()) return 3;
        frame.show();
        RunLoopUntil([&frame] { return frame.isVisible(); }, 5s);
        chm::VeWorkView* view = frame.WorkView();
        view->AddPaths(paths);
        view->OutputBox()->SetValue(QString::fromStdString(root + "/mono"));
        view->FileList()->selectionModel()->select(view->FileList()->Model().index(1, 0),
                                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
        view->FileList()->setCurrentIndex(view->FileList()->Model().index(1, 0));
        bool ok = Photograph(QStringLiteral("idle_with_rows.png"), frame.frameGeometry());

        // The "Add" menu as it opens under its button.
        QTimer::singleShot(0, [&] {
            RunLoopUntil([] { return QApplication::activePopupWidget() != nullptr; }, 5s);
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                menu->setActiveAction(menu->actions().value(1));
                ok = Photograph(QStringLiteral("add_menu.png"),
                                frame.frameGeometry().united(menu->frameGeometry()).intersected(QRect(
                                    frame.frameGeometry().topLeft() + QPoint(300, 0), QSize(440, 200)))) && ok;
                menu->close();
            }
        });
        view->Button(chm::VeWorkView::kAddButton)->click();

        // A run: photographed while the long file converts, then the report.
        bool reported = false;
        OnNextModal([&](QWidget* modal) {
            ok = Photograph(QStringLiteral("report.png"), Around(frame, *modal)) && ok;
            if (auto* report = qobject_cast<chm::ConversionReport*>(modal)) report->CloseButton()->click();
            reported = true;
        });
        view->Button(chm::VeWorkView::kConvertButton)->click();
        chm::FileListModel& model = view->FileList()->Model();
        RunLoopUntil([&model] {
            const chm::RowProgress& p = model.Item(4).Progress();
            return p.Total() > 0 && p.Done() * 100 / p.Total() >= 30;
        }, 120s);
        ok = Photograph(QStringLiteral("running.png"), frame.frameGeometry()) && ok;
        RunLoopUntil([&reported] { return reported; }, 120s);

        // The options dialog over the window.
        OnNextModal([&](QWidget* modal) {
            ok = Photograph(QStringLiteral("options.png"), Around(frame, *modal)) && ok;
            if (auto* options = qobject_cast<chm::OptionsDialog*>(modal)) options->CancelButton()->click();
        });
        view->Button(chm::VeWorkView::kOptionsButton)->click();

        // Closing the window ends the loop with 1, as in the program.
        QTimer::singleShot(0, &frame, [&frame] { frame.close(); });
        const int code = QApplication::exec();
        chm::MainFrame::DestroyInstance();
        result = ok && code == 1 ? 0 : 1;
    }
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    return result;
}
