#include "ui/file_list_header.h"

#include <QPainter>

namespace chm {

VeFileListHeader::VeFileListHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    setSectionsClickable(true);
    setHighlightSections(false);
    setSortIndicatorShown(false);  // the arrow is drawn here, with the system's directions
    setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void VeFileListHeader::SetSortArrow(int section, Qt::SortOrder order) {
    sorted_section_ = section;
    order_ = order;
    viewport()->update();
}

VeFileListHeader::Arrow VeFileListHeader::ArrowOf(int section) const {
    if (section < 0 || section != sorted_section_) return Arrow::kNone;
    return order_ == Qt::AscendingOrder ? Arrow::kUp : Arrow::kDown;
}

void VeFileListHeader::paintSection(QPainter* painter, const QRect& rect, int logical_index) const {
    // The base leaves the painter clipped to nothing; the arrow needs the section's own clip.
    painter->save();
    QHeaderView::paintSection(painter, rect, logical_index);
    painter->restore();
    const Arrow arrow = ArrowOf(logical_index);
    if (arrow == Arrow::kNone || rect.width() < 12) return;
    // A small triangle, 7 pixels wide and 4 high, centred in the top edge of the section,
    // drawn row by row so that it stays crisp.
    const int left = rect.center().x() - 3;
    const int top = rect.top() + 1;
    painter->save();
    painter->setClipRect(rect);
    for (int row = 0; row < kArrowHeight; ++row) {
        const int inset = arrow == Arrow::kUp ? kArrowHeight - 1 - row : row;
        painter->fillRect(QRect(left + inset, top + row, kArrowWidth - 2 * inset, 1), ArrowColor());
    }
    painter->restore();
}

}  // namespace chm
