#include "ui/gfx/images.h"

#include <QPainter>
#include <algorithm>
#include <mutex>

// Q_INIT_RESOURCE must be called outside any namespace. The images live in a static library,
// whose resource registration the linker would otherwise drop as unreferenced.
static void InitProgramImages() { Q_INIT_RESOURCE(chm_images); }

namespace chm::gfx {

namespace {

QImage& ToStraightArgb(QImage& image) {
    if (image.format() != QImage::Format_ARGB32) image.convertTo(QImage::Format_ARGB32);
    return image;
}

}  // namespace

QImage LoadResourceImage(const QString& name) {
    static std::once_flag once;
    std::call_once(once, InitProgramImages);
    QImage image(QStringLiteral(":/images/") + name);
    if (!image.isNull() && image.format() != QImage::Format_ARGB32_Premultiplied)
        image.convertTo(QImage::Format_ARGB32_Premultiplied);
    return image;
}

void DrawStrip(QPainter& painter, const QImage& strip, const QRect& target, bool left_cap, bool right_cap) {
    if (strip.isNull() || target.isEmpty() || strip.width() < 3) return;
    const int h = strip.height();
    int left = target.left();
    int right = target.right() + 1;  // exclusive
    // The pieces are cut out first: a smooth stretch of a sub-rectangle would bleed the caps'
    // colours into the middle.
    if (left_cap) {
        painter.drawImage(QRect(left, target.top(), 1, target.height()), strip.copy(0, 0, 1, h));
        ++left;
    }
    if (right_cap && right > left) {
        painter.drawImage(QRect(right - 1, target.top(), 1, target.height()), strip.copy(strip.width() - 1, 0, 1, h));
        --right;
    }
    if (right > left) {
        painter.drawImage(QRect(left, target.top(), right - left, target.height()),
                          strip.copy(1, 0, strip.width() - 2, h));
    }
}

void BlendWithColor(QImage& image, QColor color, int strength) {
    if (image.isNull()) return;
    const QImage::Format original = image.format();
    ToStraightArgb(image);
    const int s = std::clamp(strength, 0, 255);
    const int cr = color.red(), cg = color.green(), cb = color.blue();
    auto mix = [s](int from, int to) { return (from * (255 - s) + to * s + 127) / 255; };
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = line[x];
            line[x] = qRgba(mix(qRed(p), cr), mix(qGreen(p), cg), mix(qBlue(p), cb), qAlpha(p));
        }
    }
    image.convertTo(original);
}

void Desaturate(QImage& image) {
    if (image.isNull()) return;
    const QImage::Format original = image.format();
    ToStraightArgb(image);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = line[x];
            // Rec. 601 luma weights in 1/1000, as the eye weighs the three primaries.
            const int grey = (qRed(p) * 299 + qGreen(p) * 587 + qBlue(p) * 114 + 500) / 1000;
            line[x] = qRgba(grey, grey, grey, qAlpha(p));
        }
    }
    image.convertTo(original);
}

}  // namespace chm::gfx
