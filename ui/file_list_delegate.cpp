#include "ui/file_list_delegate.h"

#include <QPainter>

#include "ui/file_list_model.h"
#include "ui/task_progress_draw.h"

namespace chm {

VeFileListDelegate::VeFileListDelegate(const FileListModel& model, QObject* parent)
    : QStyledItemDelegate(parent), model_(model) {}

QColor VeFileListDelegate::BackgroundOf(int column, const QPalette& palette) const {
    return column == sorted_column_ ? SortedColumnColor() : palette.color(QPalette::Base);
}

void VeFileListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    if (index.column() == FileListModel::kStatusColumn) {
        PaintStatus(painter, option, index);
        return;
    }
    if (index.column() == sorted_column_) painter->fillRect(option.rect, SortedColumnColor());
    QStyledItemDelegate::paint(painter, option, index);
}

void VeFileListDelegate::PaintStatus(QPainter* painter, const QStyleOptionViewItem& option,
                                     const QModelIndex& index) const {
    const TaskProgress& progress = model_.Item(index.row()).Progress();
    const QRect bar = option.rect.adjusted(1, 1, -1, -1);
    // A row that has not started, and a cell whose bar would have no inside, show only the
    // background.
    if (progress.Total() == 0 || bar.width() - 2 <= 2) {
        painter->fillRect(option.rect, BackgroundOf(index.column(), option.palette));
        return;
    }
    if (index.column() == sorted_column_) painter->fillRect(option.rect, SortedColumnColor());
    // The row's selection still shows in the 1-pixel margin around the bar.
    QStyledItemDelegate::paint(painter, option, index);
    DrawTaskProgress(progress, *painter, bar, ProgressTextLayout::kCell);
}

}  // namespace chm
