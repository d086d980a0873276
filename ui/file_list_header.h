#pragma once
#include <QColor>
#include <QHeaderView>

namespace chm {

// The column headers of the file list. The sorted column shows the sort arrow at the top
// centre of its header, up for ascending and down for descending, and only that column.
class VeFileListHeader : public QHeaderView {
    Q_OBJECT

public:
    enum class Arrow { kNone, kUp, kDown };
    static constexpr int kArrowWidth = 7;
    static constexpr int kArrowHeight = 4;
    static QColor ArrowColor() { return QColor(0x56, 0x5F, 0x6E); }

    explicit VeFileListHeader(QWidget* parent = nullptr);

    // -1 removes the arrow.
    void SetSortArrow(int section, Qt::SortOrder order);
    int SortedSection() const { return sorted_section_; }
    Arrow ArrowOf(int section) const;

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logical_index) const override;

private:
    int sorted_section_ = -1;
    Qt::SortOrder order_ = Qt::AscendingOrder;
};

}  // namespace chm
