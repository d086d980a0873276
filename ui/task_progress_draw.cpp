#include "ui/task_progress_draw.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>

#include "ui/gfx/color_ref.h"
#include "ui/gfx/images.h"

namespace chm {

namespace {

constexpr QRgb kTextColor = Rgb(0, 0, 0);

void FillFrame(QPainter& painter, const QRect& rect, const QColor& color) {
    painter.fillRect(QRect(rect.left(), rect.top(), rect.width(), 1), color);
    painter.fillRect(QRect(rect.left(), rect.bottom(), rect.width(), 1), color);
    painter.fillRect(QRect(rect.left(), rect.top(), 1, rect.height()), color);
    painter.fillRect(QRect(rect.right(), rect.top(), 1, rect.height()), color);
}

uint32_t FrameColorOf(bool cancelled, bool failed) {
    if (cancelled) return kProgressFrameCancelled;
    if (failed) return kProgressFrameFailed;
    return kProgressFrameNormal;
}

bool IsVisible(const QPainter& painter, const QRect& rect) {
    if (rect.isEmpty()) return false;
    return !painter.hasClipping() || painter.clipRegion().intersects(rect);
}

void DrawStrips(QPainter& painter, const QRect& inside, uint32_t done, uint32_t total) {
    const ProgressImages& images = ProgressImages::Get();
    const int done_width = ProgressDoneWidth(done, total, inside.width());
    const bool complete = done >= total;
    if (done_width > 0)
        gfx::DrawStrip(painter, images.done, QRect(inside.left(), inside.top(), done_width, inside.height()), true,
                       complete);
    if (done_width < inside.width())
        gfx::DrawStrip(painter, images.remaining,
                       QRect(inside.left() + done_width, inside.top(), inside.width() - done_width, inside.height()),
                       done == 0, true);
}

void DrawHighlight(QPainter& painter, const QRect& inside, int offset) {
    const QImage& highlight = ProgressImages::Get().highlight;
    if (highlight.isNull()) return;
    painter.save();
    painter.setClipRect(inside, Qt::IntersectClip);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(inside.left() + offset - highlight.width(), inside.top(), highlight.width(), inside.height()),
                      highlight);
    painter.restore();
}

void DrawText(QPainter& painter, const QRect& rect, const QString& text, ProgressTextLayout layout) {
    painter.save();
    painter.setFont(ProgressFont());
    painter.setPen(QColor::fromRgb(kTextColor));
    painter.setBackgroundMode(Qt::TransparentMode);
    int flags = Qt::AlignVCenter | Qt::TextSingleLine;
    if (layout == ProgressTextLayout::kBar) {
        flags |= Qt::AlignHCenter;
    } else {
        const bool fits = QFontMetrics(ProgressFont()).horizontalAdvance(text) <= rect.width();
        flags |= fits ? Qt::AlignHCenter : Qt::AlignLeft;
    }
    painter.setClipRect(rect, Qt::IntersectClip);
    painter.drawText(rect, flags, text);
    painter.restore();
}

QString TextFor(uint32_t total, uint32_t done, bool cancelled, bool failed) {
    if (total == 0) return {};
    if (cancelled) return QStringLiteral("Cancelled");
    if (failed) return QStringLiteral("Failed");
    return QStringLiteral("%1%").arg(static_cast<unsigned>(uint64_t{std::min(done, total)} * 100 / total));
}

}  // namespace

const ProgressImages& ProgressImages::Get() {
    static const ProgressImages images{gfx::LoadResourceImage(QStringLiteral("progress_done.png")),
                                       gfx::LoadResourceImage(QStringLiteral("progress_remaining.png")),
                                       gfx::LoadResourceImage(QStringLiteral("progress_highlight.png"))};
    return images;
}

const QFont& ProgressFont() {
    static const QFont font = [] {
        QFont f(QStringLiteral("Tahoma"));  // by name; the system substitutes where it is absent
        f.setPixelSize(13);
        f.setWeight(QFont::Normal);
        return f;
    }();
    return font;
}

int ProgressDoneWidth(uint32_t done, uint32_t total, int inside_width) {
    if (total == 0 || done == 0 || inside_width <= 0) return 0;
    if (done >= total) return inside_width;
    // 64 bits: done x width overflows 32 for long files counted in samples.
    return static_cast<int>(uint64_t{done} * static_cast<uint64_t>(inside_width - 2) / total + 1);
}

QString ProgressText(const TaskProgress& progress) {
    return TextFor(progress.Total(), progress.Done(), progress.IsCancelled(), progress.IsFailed());
}

void DrawTaskProgress(const TaskProgress& progress, QPainter& painter, const QRect& rect, ProgressTextLayout layout,
                      int highlight_offset) {
    // One reading of the fields: the worker may move them while this paints.
    const uint32_t total = progress.Total();
    const uint32_t done = std::min(progress.Done(), total);
    const bool cancelled = progress.IsCancelled();
    const bool failed = progress.IsFailed();
    const QRect inside = rect.adjusted(1, 1, -1, -1);
    if (total == 0 || inside.width() <= 2 || !IsVisible(painter, rect)) return;

    FillFrame(painter, rect, ColorFromColorRef(FrameColorOf(cancelled, failed)));
    if (cancelled) {
        painter.fillRect(inside, ColorFromColorRef(kProgressFillCancelled));
    } else if (failed) {
        painter.fillRect(inside, ColorFromColorRef(kProgressFillFailed));
    } else {
        DrawStrips(painter, inside, done, total);
        if (highlight_offset >= 0 && done < total) DrawHighlight(painter, inside, highlight_offset);
    }
    DrawText(painter, rect, TextFor(total, done, cancelled, failed), layout);
}

}  // namespace chm
