// Renders the progress drawing and the output box in each of their states into PNG files, so
// that their look can be checked by eye: ui_screenshots [folder].
#include <stdlib.h>

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPainter>
#include <QVBoxLayout>
#include <cstdio>

#include "engine/task_progress.h"
#include "ui/output_box.h"
#include "ui/task_progress_bar.h"
#include "ui/task_progress_draw.h"

namespace {

using chm::TaskProgress;

// Scaled up 4 times as well, so that single pixels (caps, frame) can be seen.
bool Save(const QImage& image, const QString& folder, const QString& name) {
    const bool ok = image.save(folder + "/" + name + ".png") &&
                    image.scaled(image.size() * 4, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                        .save(folder + "/" + name + "_x4.png");
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(folder + "/" + name + ".png"));
    return ok;
}

bool RenderBar(const QString& folder, const QString& name, uint32_t total, uint32_t done, bool cancel, bool fail,
               int highlight_ticks = 0) {
    TaskProgress progress;
    progress.Reset(total);
    progress.Advance(done);
    if (fail) progress.Fail();
    if (cancel) progress.Cancel();
    chm::VeTaskProgressBarCtrl bar;
    bar.SetProgress(&progress);
    bar.resize(300, 20);
    bar.show();
    if (highlight_ticks > 0) {
        bar.SetAnimation(true);
        for (int i = 0; i < highlight_ticks; ++i) bar.OnAnimationTimer();
    }
    QImage image(bar.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    bar.render(&image);
    return Save(image, folder, name);
}

bool RenderCells(const QString& folder) {
    // Status cells as the file list draws them: 120 x 18, on the list's white.
    const struct { uint32_t total, done; bool cancel, fail; } cells[] = {
        {3, 0, false, false}, {3, 1, false, false}, {3, 3, false, false}, {3, 1, true, false}, {3, 2, false, true}};
    QImage image(130, 5 * 22, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    int y = 2;
    for (const auto& cell : cells) {
        TaskProgress progress;
        progress.Reset(cell.total);
        progress.Advance(cell.done);
        if (cell.fail) progress.Fail();
        if (cell.cancel) progress.Cancel();
        chm::DrawTaskProgress(progress, painter, QRect(5, y, 120, 18));
        y += 22;
    }
    painter.end();
    return Save(image, folder, "progress_cells");
}

bool RenderBox(const QString& folder, const QString& name, bool focus, bool read_only, const QString& text) {
    QWidget window;
    window.resize(360, 40);
    QLineEdit other(&window);
    other.setGeometry(0, 0, 10, 10);
    chm::VeOutputBoxCtrlBase box(&window, QRect(10, 10, 335, 20));
    box.SetValue(text);
    box.SetReadOnly(read_only);
    window.show();
    window.activateWindow();
    QApplication::setActiveWindow(&window);
    (focus ? static_cast<QWidget*>(box.Edit()) : &other)->setFocus();
    for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();
    return Save(box.grab().toImage(), folder, name);
}

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(CHM_SCREENSHOT_DIR);
    QDir().mkpath(folder);
    bool ok = true;
    ok &= RenderBar(folder, "bar_0", 3, 0, false, false);
    ok &= RenderBar(folder, "bar_33", 3, 1, false, false);
    ok &= RenderBar(folder, "bar_100", 3, 3, false, false);
    ok &= RenderBar(folder, "bar_cancelled", 3, 1, true, false);
    ok &= RenderBar(folder, "bar_failed", 3, 2, false, true);
    ok &= RenderBar(folder, "bar_33_running", 3, 1, false, false, 25);
    ok &= RenderBar(folder, "bar_0_running", 3, 0, false, false, 40);
    ok &= RenderCells(folder);
    ok &= RenderBox(folder, "box_empty_unfocused", false, false, QString());
    ok &= RenderBox(folder, "box_empty_focused", true, false, QString());
    ok &= RenderBox(folder, "box_text", false, false, QStringLiteral("/home/user/Music/Mono"));
    ok &= RenderBox(folder, "box_read_only", false, true, QString());
    ok &= RenderBox(folder, "box_read_only_text", false, true, QStringLiteral("/home/user/Music/Mono"));
    return ok ? 0 : 1;
}
