// Renders the file list with rows in every state, sorted by its status column, and the filter
// dialog, into PNG files so that their look can be checked by eye: file_list_screenshots [folder].
#include <stdlib.h>

#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QPainter>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/task_progress.h"
#include "ui/file_list_model.h"
#include "ui/file_list_view.h"
#include "ui/filter_dialog.h"
#include "ui/popup_menu_frame.h"

namespace {

bool Save(const QImage& image, const QString& folder, const QString& name) {
    const bool ok = image.save(folder + "/" + name + ".png") &&
                    image.scaled(image.size() * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                        .save(folder + "/" + name + "_x2.png");
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(folder + "/" + name + ".png"));
    return ok;
}

QImage Render(QWidget& widget) {
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    widget.render(&image);
    return image;
}

struct Row {
    const char* path;
    uint32_t total;
    uint32_t done;
    bool cancel;
    bool fail;
};

bool RenderList(const QString& folder, const std::string& media) {
    const Row rows[] = {
        {"Albums/Blue Train/01 Blue Train.mp3", 6100, 6100, false, false},
        {"Albums/Blue Train/02 Moment's Notice.mp3", 6100, 2013, false, false},
        {"Albums/Blue Train/03 Locomotion.mp3", 0, 0, false, false},
        {"Recordings/interview (raw).wav", 2300, 2300, false, true},
        {"Recordings/lecture 2024-03-11.wma", 4100, 900, true, false},
        {"Recordings/a very long file name that does not fit into its column at all.pcm", 2300, 1, false, false},
        {"Recordings/X.MP3", 0, 0, false, false},
        {"Recordings/x.mp3", 2300, 2299, false, false},
    };
    std::vector<std::string> paths;
    for (const Row& row : rows) {
        const std::filesystem::path path = std::filesystem::path(media) / row.path;
        std::filesystem::create_directories(path.parent_path());
        if (std::FILE* file = std::fopen(path.c_str(), "w")) std::fclose(file);
        paths.push_back(path.string());
    }
    chm::VeFileListView view;
    view.resize(722, 240);
    view.show();
    if (view.Model().AddAccepted(paths) != static_cast<int>(paths.size())) return false;
    for (int i = 0; i < view.Model().RowCount(); ++i) {
        chm::TaskProgress& progress = view.Model().Item(i).Progress();
        const Row& row = rows[i];
        if (row.total == 0) continue;
        progress.Reset(row.total);
        progress.Advance(row.done);
        if (row.fail) progress.Fail();
        if (row.cancel) progress.Cancel();
    }
    QApplication::processEvents();
    bool ok = Save(Render(view), folder, "file_list_unsorted");
    view.selectionModel()->setCurrentIndex(view.Model().index(1, 0),
                                           QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    view.SortByColumn(chm::FileListModel::kStatusColumn);
    QApplication::processEvents();
    ok = Save(Render(view), folder, "file_list_by_status") && ok;
    // The "FileList" menu for the focused, selected row, and for no row, framed as it opens.
    for (const bool with_row : {true, false}) {
        if (!with_row) view.selectionModel()->clear();
        std::unique_ptr<QMenu> menu = view.MakeContextMenu();
        chm::PopupMenuFrame frame;
        frame.OnWindowCreated(menu.get());
        menu->adjustSize();
        ok = Save(Render(*menu), folder, with_row ? "file_list_menu" : "file_list_menu_greyed") && ok;
    }
    view.SortByColumn(chm::FileListModel::kStatusColumn);
    view.SortByColumn(chm::FileListModel::kNameColumn);
    view.SortByColumn(chm::FileListModel::kNameColumn);
    QApplication::processEvents();
    ok = Save(Render(view), folder, "file_list_by_name_descending") && ok;
    return ok;
}

bool RenderFilterDialog(const QString& folder) {
    chm::FilterDialog dialog(nullptr, {}, {});
    // The count as the filter posts it.
    chm::PortEvent progress(chm::kFilterNotify, chm::kFilterProgress, 120);
    QApplication::sendEvent(&dialog, &progress);
    dialog.BusyStrip()->Start();
    for (int i = 0; i < 12; ++i) dialog.BusyStrip()->Step();
    return Save(Render(dialog), folder, "filter_dialog");
}

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(CHM_SCREENSHOT_DIR);
    QDir().mkpath(folder);
    std::string media = "/tmp/chm-list-shots-XXXXXX";
    if (!::mkdtemp(media.data())) return 1;
    const bool ok = RenderList(folder, media) && RenderFilterDialog(folder);
    std::error_code ec;
    std::filesystem::remove_all(media, ec);
    return ok ? 0 : 1;
}
