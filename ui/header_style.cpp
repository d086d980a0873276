#include "ui/header_style.h"

#include <QLinearGradient>
#include <QPainter>
#include <QStyleOptionHeader>
#include <algorithm>

#include "ui/file_list_header.h"
#include "ui/skin_fonts.h"

namespace chm {

namespace {

bool IsSortedSection(const QStyleOptionHeader& header, const QWidget* widget) {
    const auto* list_header = qobject_cast<const VeFileListHeader*>(widget);
    return list_header && header.section >= 0 && list_header->SortedSection() == header.section;
}

void DrawSection(const QStyleOptionHeader& header, QPainter& painter, const QWidget* widget) {
    const QRect& r = header.rect;
    const bool enabled = header.state & QStyle::State_Enabled;
    QColor top = QColor::fromRgba(HeaderSkinStyle::kFace);
    QColor bottom = QColor::fromRgba(HeaderSkinStyle::kFaceBottom);
    if (enabled && (header.state & QStyle::State_Sunken)) {
        top = bottom = QColor::fromRgba(HeaderSkinStyle::kPressedFace);
    } else if (enabled && (header.state & QStyle::State_MouseOver)) {
        top = QColor::fromRgba(HeaderSkinStyle::kFace);
        bottom = QColor::fromRgba(HeaderSkinStyle::kHotFace);
    } else if (IsSortedSection(header, widget)) {
        top = QColor::fromRgba(HeaderSkinStyle::kFace);
        bottom = QColor::fromRgba(HeaderSkinStyle::kSortedFace);
    }
    QLinearGradient face(r.topLeft(), r.bottomLeft());
    face.setColorAt(0, top);
    face.setColorAt(1, bottom);
    painter.fillRect(r, face);
    // A divider at the right end of each section and the border under them all.
    painter.fillRect(QRect(r.right(), r.top() + 3, 1, r.height() - 6), QColor::fromRgba(HeaderSkinStyle::kDivider));
    painter.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), QColor::fromRgba(HeaderSkinStyle::kBorder));
}

void DrawLabel(const QStyleOptionHeader& header, QPainter& painter) {
    const bool enabled = header.state & QStyle::State_Enabled;
    painter.setFont(GetSkinFont(SkinFont::kRegular13));
    painter.setPen(enabled ? QColor(Qt::black) : QColor::fromRgba(HeaderSkinStyle::kDisabledText));
    const QRect text_rect = header.rect.adjusted(HeaderSkinStyle::kTextPadding, 0, -HeaderSkinStyle::kTextPadding, 0);
    const Qt::Alignment horizontal = header.textAlignment & Qt::AlignHorizontal_Mask;
    const QString text = painter.fontMetrics().elidedText(header.text, Qt::ElideRight, text_rect.width());
    painter.drawText(text_rect, static_cast<int>(horizontal ? horizontal : Qt::AlignLeft) | Qt::AlignVCenter | Qt::TextSingleLine,
                     text);
}

}  // namespace

HeaderSkinStyle::HeaderSkinStyle() = default;

void HeaderSkinStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                                  const QWidget* widget) const {
    const auto* header = qstyleoption_cast<const QStyleOptionHeader*>(option);
    if (header && (element == CE_HeaderSection || element == CE_HeaderLabel || element == CE_Header)) {
        painter->save();
        if (element != CE_HeaderLabel) DrawSection(*header, *painter, widget);
        if (element != CE_HeaderSection) DrawLabel(*header, *painter);
        painter->restore();
        return;
    }
    if (element == CE_HeaderEmptyArea) {
        QStyleOptionHeader empty;
        empty.QStyleOption::operator=(*option);
        empty.section = -1;
        painter->save();
        DrawSection(empty, *painter, nullptr);
        painter->restore();
        return;
    }
    QProxyStyle::drawControl(element, option, painter, widget);
}

QSize HeaderSkinStyle::sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                                        const QWidget* widget) const {
    QSize result = QProxyStyle::sizeFromContents(type, option, size, widget);
    if (type == CT_HeaderSection) result.setHeight(std::max(result.height(), QFontMetrics(GetSkinFont(SkinFont::kRegular13)).height() + 8));
    return result;
}

void ApplyHeaderSkin(QHeaderView& header) {
    if (qobject_cast<HeaderSkinStyle*>(header.style())) return;
    auto* style = new HeaderSkinStyle;  // a child of the header, goes with it
    style->setParent(&header);
    header.setStyle(style);
    header.setFont(GetSkinFont(SkinFont::kRegular13));
}

}  // namespace chm
