#include "ui/image_button.h"

#include <QPainter>
#include <QStyleOptionFocusRect>

#include "ui/gfx/images.h"
#include "ui/skin_images.h"
#include "ui/skin_fonts.h"

namespace chm {

ImageSet ImageSet::Load(const QString& stem) {
    ImageSet set;
    set.normal = LoadSkinImage(stem + QStringLiteral("_normal.png"));
    set.hot = LoadSkinImage(stem + QStringLiteral("_hot.png"));
    set.pressed = LoadSkinImage(stem + QStringLiteral("_pressed.png"));
    set.disabled = Greyed(set.normal);
    return set;
}

QImage ImageSet::Greyed(const QImage& normal) {
    QImage greyed = normal;
    gfx::Desaturate(greyed);
    gfx::BlendWithColor(greyed, Qt::white, 128);
    return greyed;
}

VeImageButton::VeImageButton(int id, const ImageSet& images, QWidget* parent) : QAbstractButton(parent), id_(id) {
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_Hover);
    setObjectName(QStringLiteral("button_%1").arg(id));
    SetImages(images);
}

void VeImageButton::SetImages(const ImageSet& images) {
    images_ = images;
    if (images_.disabled.isNull()) images_.disabled = ImageSet::Greyed(images_.normal);
    setFixedSize(images_.normal.size() / std::max(1.0, images_.normal.devicePixelRatio()));
    update();
}

void VeImageButton::SetCaption(const QString& caption, const QRect& rect, QColor color, bool bold,
                               Qt::Alignment alignment) {
    caption_ = caption;
    caption_rect_ = rect;
    caption_color_ = color;
    caption_bold_ = bold;
    caption_alignment_ = alignment;
    setAccessibleName(caption);
    update();
}

const QImage& VeImageButton::CurrentImage() const {
    if (!isEnabled()) return images_.disabled;
    if (isDown()) return images_.pressed;
    if (hot_) return images_.hot;
    return images_.normal;
}

QSize VeImageButton::sizeHint() const { return images_.normal.size(); }

void VeImageButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), CurrentImage());
    if (!caption_.isEmpty()) {
        painter.setFont(GetSkinFont(caption_bold_ ? SkinFont::kBold13 : SkinFont::kRegular13));
        painter.setPen(isEnabled() ? caption_color_ : QColor::fromRgba(kDisabledCaption));
        // Pressed, the caption moves with the picture's face.
        const QRect rect = caption_rect_.translated(isDown() && isEnabled() ? QPoint(0, 1) : QPoint());
        painter.drawText(rect, static_cast<int>(caption_alignment_) | Qt::TextSingleLine, caption_);
    }
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = rect().adjusted(2, 2, -2, -2);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
}

void VeImageButton::enterEvent(QEnterEvent* event) {
    hot_ = true;
    update();
    QAbstractButton::enterEvent(event);
}

void VeImageButton::leaveEvent(QEvent* event) {
    hot_ = false;
    update();
    QAbstractButton::leaveEvent(event);
}

}  // namespace chm
