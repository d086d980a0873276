#pragma once
#include <QAbstractTableModel>
#include <QFileIconProvider>
#include <QHash>
#include <QIcon>
#include <QImage>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <memory>
#include <string>
#include <vector>

class QMenu;

namespace chm {

// The rows of the search wizard's result list: one recommended file each, checked when it
// is made. Name and location are worked out from the path whenever the view asks.
class SearchResultModel : public QAbstractTableModel {
    Q_OBJECT

public:
    // Inserted in this order; the view shows the check column first.
    enum Column { kNameColumn = 0, kCheckColumn = 1, kLocationColumn = 2, kColumnCount = 3 };
    // The row's checked flag as a bool, for the delegate.
    static constexpr int kCheckedRole = Qt::UserRole + 1;

    // One search result row.
    struct Row {
        int checked = 1;
        std::string path;
    };

    explicit SearchResultModel(QObject* parent = nullptr);

    int RowCount() const { return static_cast<int>(rows_.size()); }
    const Row& RowAt(int row) const { return rows_.at(static_cast<size_t>(row)); }
    // Appends one checked row per path, in order.
    void Append(std::vector<std::string> paths);
    void Clear();
    void Toggle(int row);
    void SetChecked(int row, bool checked);
    void SetAllChecked(bool checked);
    // The paths of the checked rows, in row order.
    std::vector<std::string> CheckedPaths() const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    QIcon IconFor(const std::string& path) const;
    void CheckedChanged(int first, int last);

    std::vector<Row> rows_;
    mutable QFileIconProvider icon_provider_;
    mutable QHash<QString, QIcon> icons_;  // by lower-case extension: one look per file type
};

// Paints the check column: the row's 13 x 13 check-box picture centred in the cell, over the
// row's ordinary background and selection.
class SearchResultDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    static constexpr int kCheckSize = 13;

    explicit SearchResultDelegate(QObject* parent);
    const QImage& CheckImage(bool checked) const { return checked ? checked_ : unchecked_; }
    // Where the picture goes in a cell.
    static QRect CheckRect(const QRect& cell);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    QImage checked_;
    QImage unchecked_;
};

// The result list (control 1019): report view with full-row selection; the check column is
// toggled by a left click on it and by Space; "Play" (also a double click) and "Open
// Containing Folder" from the "FileList" context menu.
class VeSearchResultList : public QTreeView {
    Q_OBJECT

public:
    static constexpr int kNameWidth = 140;
    static constexpr int kCheckWidth = 19;
    static constexpr int kLocationWidth = 250;

    explicit VeSearchResultList(QWidget* parent = nullptr);

    SearchResultModel& Model() const { return *model_; }
    SearchResultDelegate* Delegate() const { return delegate_; }

    void SetAllChecked(bool checked) { model_->SetAllChecked(checked); }
    // Opens the row's file with the desktop's default application.
    bool Play(int row);
    // Asks the file manager to show the row's file; false (nothing done) when the file is gone.
    bool OpenContainingFolder(int row);
    // The focused row when it is also selected, else -1.
    int FocusedSelectedRow() const;
    // The "FileList" menu as it stands for the focused row.
    std::unique_ptr<QMenu> MakeContextMenu();
    // Runs one command of the menu on the focused row.
    void RunCommand(int command);

signals:
    // The answer to OpenContainingFolder: true when the file manager showed the file, false
    // when its folder was opened instead.
    void ContainingFolderShown(bool by_file_manager);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void OnClicked(const QModelIndex& index);
    void OnSectionResized(int section, int old_size, int new_size);

    SearchResultModel* model_;
    SearchResultDelegate* delegate_;
};

}  // namespace chm
