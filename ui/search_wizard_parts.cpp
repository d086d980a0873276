#include "ui/search_wizard_parts.h"

#include <QFontMetrics>
#include <algorithm>
#include <mutex>

#include "ui/gfx/images.h"

// Q_INIT_RESOURCE must be called outside any namespace. The pictures live in a static library,
// whose resource registration the linker would otherwise drop as unreferenced.
static void InitWizardImages() { Q_INIT_RESOURCE(chm_wizard); }

namespace chm {

QFont WizardPageFont() {
    QFont font(QStringLiteral("Tahoma"));
    font.setPointSize(8);
    return font;
}

QFont WizardTitleFont() {
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(13);
    font.setBold(true);
    return font;
}

QImage LoadWizardImage(const QString& name) {
    static std::once_flag once;
    std::call_once(once, InitWizardImages);
    return gfx::LoadResourceImage(name);
}

QImage StripImage(const QImage& strip, int index, int size) {
    QImage image = strip.copy(index * size, 0, size, size).convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if ((line[x] & 0x00FFFFFF) == 0x00FF00FF) line[x] = 0;
    }
    return image;
}

}  // namespace chm
