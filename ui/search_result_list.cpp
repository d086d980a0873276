#include "ui/search_result_list.h"

#include <QContextMenuEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPointer>

#include "engine/paths.h"
#include "platform/file_system.h"
#include "ui/file_context_menu.h"
#include "ui/file_manager.h"
#include "ui/skinned_menu.h"
#include "ui/search_wizard_parts.h"

namespace chm {

// ---------------------------------------------------------------------------------------------
// SearchResultModel

SearchResultModel::SearchResultModel(QObject* parent) : QAbstractTableModel(parent) {}

void SearchResultModel::Append(std::vector<std::string> paths) {
    if (paths.empty()) return;
    const int first = RowCount();
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(paths.size()) - 1);
    rows_.reserve(rows_.size() + paths.size());
    for (std::string& path : paths) rows_.push_back(Row{1, std::move(path)});
    endInsertRows();
}

void SearchResultModel::Clear() {
    if (rows_.empty()) return;
    beginResetModel();
    rows_.clear();
    endResetModel();
}

void SearchResultModel::Toggle(int row) {
    if (row < 0 || row >= RowCount()) return;
    SetChecked(row, rows_[static_cast<size_t>(row)].checked == 0);
}

void SearchResultModel::SetChecked(int row, bool checked) {
    if (row < 0 || row >= RowCount()) return;
    rows_[static_cast<size_t>(row)].checked = checked ? 1 : 0;
    CheckedChanged(row, row);
}

void SearchResultModel::SetAllChecked(bool checked) {
    if (rows_.empty()) return;
    for (Row& row : rows_) row.checked = checked ? 1 : 0;
    CheckedChanged(0, RowCount() - 1);
}

void SearchResultModel::CheckedChanged(int first, int last) {
    emit dataChanged(index(first, kCheckColumn), index(last, kCheckColumn), {kCheckedRole});
}

std::vector<std::string> SearchResultModel::CheckedPaths() const {
    std::vector<std::string> paths;
    for (const Row& row : rows_)
        if (row.checked != 0) paths.push_back(row.path);
    return paths;
}

int SearchResultModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : RowCount(); }

int SearchResultModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QVariant SearchResultModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= RowCount()) return {};
    const Row& row = RowAt(index.row());
    switch (role) {
        case Qt::DisplayRole:
            if (index.column() == kNameColumn) return QString::fromStdString(PathFileName(row.path));
            if (index.column() == kLocationColumn) return QString::fromStdString(PathFolder(row.path, false));
            return {};  // the check column is painted
        case Qt::DecorationRole:
            if (index.column() == kNameColumn) return IconFor(row.path);
            return {};
        case kCheckedRole:
            return row.checked != 0;
        case Qt::AccessibleTextRole:
            if (index.column() == kCheckColumn)
                return row.checked != 0 ? QStringLiteral("Checked") : QStringLiteral("Not checked");
            return data(index, Qt::DisplayRole);
        case Qt::TextAlignmentRole:
            if (index.column() == kCheckColumn) return QVariant::fromValue(Qt::Alignment(Qt::AlignCenter));
            return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
        default:
            return {};
    }
}

QVariant SearchResultModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(section == kCheckColumn ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter));
    if (role != Qt::DisplayRole) return {};
    if (section == kNameColumn) return QStringLiteral("Name");
    if (section == kLocationColumn) return QStringLiteral("Location");
    return QString();  // the check column has no title
}

Qt::ItemFlags SearchResultModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

QIcon SearchResultModel::IconFor(const std::string& path) const {
    const QFileInfo info(QString::fromStdString(path));
    const QString type = info.suffix().toLower();
    auto found = icons_.find(type);
    if (found != icons_.end()) return *found;
    QIcon icon = icon_provider_.icon(info);
    if (icon.isNull()) icon = icon_provider_.icon(QAbstractFileIconProvider::File);
    icons_.insert(type, icon);
    return icon;
}

// ---------------------------------------------------------------------------------------------
// SearchResultDelegate

SearchResultDelegate::SearchResultDelegate(QObject* parent)
    : QStyledItemDelegate(parent),
      checked_(LoadWizardImage(QStringLiteral("wizard_check_on.png"))),
      unchecked_(LoadWizardImage(QStringLiteral("wizard_check_off.png"))) {}

QRect SearchResultDelegate::CheckRect(const QRect& cell) {
    return {cell.left() + (cell.width() - kCheckSize) / 2, cell.top() + (cell.height() - kCheckSize) / 2, kCheckSize,
            kCheckSize};
}

void SearchResultDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QStyledItemDelegate::paint(painter, option, index);
    if (index.column() != SearchResultModel::kCheckColumn) return;
    const bool checked = index.data(SearchResultModel::kCheckedRole).toBool();
    painter->save();
    painter->setClipRect(option.rect);  // a column narrower than the picture shows part of it
    painter->drawImage(CheckRect(option.rect).topLeft(), CheckImage(checked));
    painter->restore();
}

// ---------------------------------------------------------------------------------------------
// VeSearchResultList

VeSearchResultList::VeSearchResultList(QWidget* parent)
    : QTreeView(parent), model_(new SearchResultModel(this)), delegate_(new SearchResultDelegate(this)) {
    setModel(model_);
    setItemDelegate(delegate_);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    setAccessibleName(QStringLiteral("Recommended files"));

    QHeaderView* columns = header();
    columns->setSectionsClickable(false);
    columns->setSectionsMovable(false);
    columns->setStretchLastSection(false);
    // The rule below keeps the check column at 19 px while there are rows; without rows any
    // width goes, as in the system's list.
    columns->setMinimumSectionSize(0);
    columns->resizeSection(SearchResultModel::kNameColumn, kNameWidth);
    columns->resizeSection(SearchResultModel::kCheckColumn, kCheckWidth);
    columns->resizeSection(SearchResultModel::kLocationColumn, kLocationWidth);
    // Inserted as Name, check, Location; shown with the check column first.
    columns->moveSection(columns->visualIndex(SearchResultModel::kCheckColumn), 0);
    connect(columns, &QHeaderView::sectionResized, this, &VeSearchResultList::OnSectionResized);
    connect(this, &QAbstractItemView::clicked, this, &VeSearchResultList::OnClicked);
}

void VeSearchResultList::OnSectionResized(int section, int /*old_size*/, int new_size) {
    if (section == SearchResultModel::kCheckColumn && new_size < kCheckWidth && model_->RowCount() > 0)
        header()->resizeSection(SearchResultModel::kCheckColumn, kCheckWidth);
}

void VeSearchResultList::OnClicked(const QModelIndex& index) {
    // clicked comes for the left button only, and not for the second click of a double click.
    if (index.isValid() && index.column() == SearchResultModel::kCheckColumn) model_->Toggle(index.row());
}

void VeSearchResultList::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Space) return QTreeView::keyPressEvent(event);
    // Space is the check box's key: it selects the focused row as the system's list does
    // (Ctrl+Space toggles the selection) and, unless it is the key's auto-repeat, toggles the
    // check. The item view's own Space would also start a keyboard search for " ".
    const QModelIndex focused = currentIndex();
    if (focused.isValid()) {
        const auto how = (event->modifiers() & Qt::ControlModifier) ? QItemSelectionModel::Toggle
                                                                    : QItemSelectionModel::ClearAndSelect;
        selectionModel()->select(focused, how | QItemSelectionModel::Rows);
        if (!event->isAutoRepeat()) model_->Toggle(focused.row());
    }
    event->accept();
}

bool VeSearchResultList::Play(int row) {
    if (row < 0 || row >= model_->RowCount()) return false;
    return FileManager::OpenFile(QString::fromStdString(model_->RowAt(row).path), this);
}

bool VeSearchResultList::OpenContainingFolder(int row) {
    if (row < 0 || row >= model_->RowCount()) return false;
    const std::string& path = model_->RowAt(row).path;
    if (!PathExists(path)) return false;
    FileManager::ShowItem(QString::fromStdString(path), this, [list = QPointer<VeSearchResultList>(this)](bool shown) {
        if (list) emit list->ContainingFolderShown(shown);
    });
    return true;
}

int VeSearchResultList::FocusedSelectedRow() const { return chm::FocusedSelectedRow(*this); }

std::unique_ptr<QMenu> VeSearchResultList::MakeContextMenu() {
    return MakeFileContextMenu(this, FocusedSelectedRow() >= 0, kOpenContainingFolderCommand, kPlayCommand);
}

void VeSearchResultList::RunCommand(int command) {
    const int row = FocusedSelectedRow();
    if (row < 0) return;
    if (command == kOpenContainingFolderCommand) OpenContainingFolder(row);
    if (command == kPlayCommand) Play(row);
}

void VeSearchResultList::contextMenuEvent(QContextMenuEvent* event) {
    // Only inside the item area: the header is a window of its own and never gets here.
    if (event->reason() == QContextMenuEvent::Mouse && !viewport()->rect().contains(event->pos())) return;
    ClearSelectionOffItems(*this, *event);
    std::unique_ptr<QMenu> menu = MakeContextMenu();
    QAction* chosen = TrackSkinnedMenu(*menu, event->globalPos());
    if (chosen) RunCommand(chosen->data().toInt());
}

void VeSearchResultList::mouseDoubleClickEvent(QMouseEvent* event) {
    const QModelIndex index = indexAt(event->position().toPoint());
    if (index.isValid() && event->button() == Qt::LeftButton) {
        Play(index.row());
        event->accept();
        return;
    }
    QTreeView::mouseDoubleClickEvent(event);
}

}  // namespace chm
