#pragma once
#include <QColor>
#include <QStyledItemDelegate>

namespace chm {

class FileListModel;

// Paints the file list's cells: name and location as text (the name with its file-type
// icon), the status cell with the progress drawing of the row, and the sorted column on its
// highlight colour.
class VeFileListDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    // The sorted column's background, the shade the system's list views give it.
    static QColor SortedColumnColor() { return QColor(0xF7, 0xF7, 0xF7); }

    VeFileListDelegate(const FileListModel& model, QObject* parent);

    // -1: no column is sorted.
    void SetSortedColumn(int column) { sorted_column_ = column; }
    int SortedColumn() const { return sorted_column_; }
    // The colour the list's cells stand on in `column`.
    QColor BackgroundOf(int column, const QPalette& palette) const;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    void PaintStatus(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const;

    const FileListModel& model_;
    int sorted_column_ = -1;
};

}  // namespace chm
