#include "ui/skin_fonts.h"

#include <QApplication>

namespace chm {

namespace {

QFont MakeFont(int pixel_height, int weight) {
    QFont font = QApplication::font();
    font.setFamily(QStringLiteral("Tahoma"));
    font.setPixelSize(pixel_height);
    font.setWeight(static_cast<QFont::Weight>(weight));
    return font;
}

}  // namespace

const QFont& GetSkinFont(SkinFont which) {
    static const QFont regular13 = MakeFont(13, 400);
    static const QFont bold13 = MakeFont(13, 700);
    static const QFont regular14 = MakeFont(14, 400);
    switch (which) {
        case SkinFont::kBold13: return bold13;
        case SkinFont::kRegular14: return regular14;
        case SkinFont::kRegular13: break;
    }
    return regular13;
}

}  // namespace chm
