#include "ui/file_list_model.h"

#include <sys/stat.h>

#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <numeric>

#include "audio/audio_file_type.h"
#include "engine/conversion_worker.h"
#include "engine/task_progress.h"
#include "ui/task_progress_draw.h"

namespace chm {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

int CompareText(const std::string& a, const std::string& b) {
    const int result = a.compare(b);
    return result < 0 ? -1 : (result > 0 ? 1 : 0);
}

}  // namespace

FileListModel::FileListModel(QObject* parent) : QAbstractTableModel(parent) {}

FileListModel::~FileListModel() = default;

std::string FileListModel::NormalizeListPath(std::string_view path) {
    while (!path.empty() && IsBlank(path.front())) path.remove_prefix(1);
    while (!path.empty() && IsBlank(path.back())) path.remove_suffix(1);
    std::string result(path);
    struct stat status {};
    if (!result.empty() && result.back() != '/' && ::stat(result.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
        result += '/';
    return result;
}

std::unique_ptr<FileListItem> FileListModel::MakeItem(const std::string& path) const {
    const std::string normalized = NormalizeListPath(path);
    // It must exist and be no folder; beyond that, only a regular file can be read as audio,
    // and a pipe or device opened later by a conversion could block it for ever.
    struct stat status {};
    if (normalized.empty() || ::stat(normalized.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return nullptr;
    if (GetAudioFileType(normalized) == AudioFileType::Unsupported) return nullptr;
    return std::make_unique<FileListItem>(normalized, Handle());
}

int FileListModel::AddItem(const std::string& path) {
    std::unique_ptr<FileListItem> item = MakeItem(path);
    if (!item) return -1;
    const int row = RowCount();
    beginInsertRows(QModelIndex(), row, row);
    rows_.push_back(std::move(item));
    endInsertRows();
    return row;
}

int FileListModel::AddAccepted(const std::vector<std::string>& paths, const std::vector<std::string>& found_under) {
    // The rows are made first and inserted in one step, which a view takes in at once.
    std::vector<std::unique_ptr<FileListItem>> added;
    for (size_t i = 0; i < paths.size(); ++i) {
        const std::string normalized = NormalizeListPath(paths[i]);
        if (keys_.count(KeyOf(normalized)) != 0) continue;
        std::unique_ptr<FileListItem> item = MakeItem(normalized);
        if (!item) continue;
        if (i < found_under.size()) item->SetFoundUnder(found_under[i]);
        keys_.insert(KeyOf(item->Path()));
        added.push_back(std::move(item));
    }
    if (added.empty()) return 0;
    const int first = RowCount();
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(added.size()) - 1);
    for (auto& item : added) rows_.push_back(std::move(item));
    endInsertRows();
    return static_cast<int>(added.size());
}

bool FileListModel::RemoveRows(std::vector<int> rows) {
    if (busy_) return false;
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    rows.erase(std::remove_if(rows.begin(), rows.end(), [this](int row) { return row < 0 || row >= RowCount(); }),
               rows.end());
    // From the bottom up, a run of neighbouring rows at a time, so that indices below stay valid.
    while (!rows.empty()) {
        const int last = rows.back();
        int first = last;
        rows.pop_back();
        while (!rows.empty() && rows.back() == first - 1) {
            first = rows.back();
            rows.pop_back();
        }
        beginRemoveRows(QModelIndex(), first, last);
        for (int row = first; row <= last; ++row) keys_.erase(KeyOf(rows_[static_cast<size_t>(row)]->Path()));
        rows_.erase(rows_.begin() + first, rows_.begin() + last + 1);
        if (current_row_ > last)
            current_row_ -= last - first + 1;
        else if (current_row_ >= first)
            current_row_ = -1;
        endRemoveRows();
    }
    if (!id_map_.empty()) RebuildIdMap();
    return true;
}

bool FileListModel::RemoveAll() {
    if (busy_) return false;
    if (rows_.empty()) return true;
    beginResetModel();
    keys_.clear();
    rows_.clear();
    id_map_.clear();
    current_row_ = -1;
    endResetModel();
    return true;
}

std::vector<FileListItem*> FileListModel::ItemsInDisplayOrder() const {
    std::vector<FileListItem*> items;
    items.reserve(rows_.size());
    for (const auto& row : rows_) items.push_back(row.get());
    return items;
}

int FileListModel::RowOfId(uint32_t id) const {
    const auto found = id_map_.find(id);
    return found == id_map_.end() ? -1 : found->second;
}

int FileListModel::StatusSortValue(const TaskProgress& progress) {
    const uint32_t total = progress.Total();
    if (total == 0) return -2;
    if (progress.IsFailed()) return -1;
    // A cancelled row counts by how far it got.
    return static_cast<int>(uint64_t{std::min(progress.Done(), total)} * 100 / total);
}

int FileListModel::Compare(int column, const FileListItem& a, const FileListItem& b) {
    int result = 0;
    switch (column) {
        case kNameColumn:
            result = CompareText(a.Name(), b.Name());
            if (result == 0) result = CompareText(a.Location(), b.Location());
            break;
        case kLocationColumn:
            result = CompareText(a.Location(), b.Location());
            if (result == 0) result = CompareText(a.Name(), b.Name());
            break;
        case kStatusColumn: {
            const int difference = StatusSortValue(a.Progress()) - StatusSortValue(b.Progress());
            result = difference < 0 ? -1 : (difference > 0 ? 1 : 0);
            if (result == 0) result = CompareText(a.Location(), b.Location());
            if (result == 0) result = CompareText(a.Name(), b.Name());
            break;
        }
        default:
            break;
    }
    return result;
}

void FileListModel::sort(int column, Qt::SortOrder order) {
    if (busy_ || column < 0 || column >= kColumnCount) return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    // old_of_new[i]: the row that goes to position i. Equal rows keep their order.
    std::vector<int> old_of_new(rows_.size());
    std::iota(old_of_new.begin(), old_of_new.end(), 0);
    const bool ascending = order == Qt::AscendingOrder;
    std::stable_sort(old_of_new.begin(), old_of_new.end(), [&](int a, int b) {
        const int result = Compare(column, *rows_[static_cast<size_t>(a)], *rows_[static_cast<size_t>(b)]);
        return ascending ? result < 0 : result > 0;
    });
    std::vector<int> new_of_old(rows_.size());
    std::vector<std::unique_ptr<FileListItem>> sorted(rows_.size());
    for (size_t i = 0; i < old_of_new.size(); ++i) {
        new_of_old[static_cast<size_t>(old_of_new[i])] = static_cast<int>(i);
        sorted[i] = std::move(rows_[static_cast<size_t>(old_of_new[i])]);
    }
    rows_ = std::move(sorted);
    // Selection and focus stay with their rows.
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& index : before)
        after.append(this->index(new_of_old[static_cast<size_t>(index.row())], index.column()));
    changePersistentIndexList(before, after);
    if (current_row_ >= 0) current_row_ = new_of_old[static_cast<size_t>(current_row_)];
    if (!id_map_.empty()) RebuildIdMap();
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void FileListModel::RebuildIdMap() {
    id_map_.clear();
    id_map_.reserve(rows_.size());
    for (size_t row = 0; row < rows_.size(); ++row) id_map_[rows_[row]->Id()] = static_cast<int>(row);
}

void FileListModel::customEvent(QEvent* event) {
    const auto type = static_cast<uint32_t>(event->type());
    if (type != kTaskListPrepare && type != kItemProgressNotify && type != kTaskNotify)
        return QAbstractTableModel::customEvent(event);
    auto* message = static_cast<PortEvent*>(event);
    if (type == kTaskListPrepare) {
        OnTaskListPrepare();
    } else if (type == kItemProgressNotify) {
        OnItemProgress(message->WParam());
    } else if (message->WParam() == kTaskRunCompleted || message->WParam() == kTaskRunEnded) {
        id_map_.clear();
    }
}

void FileListModel::OnTaskListPrepare() {
    current_row_ = -1;
    RebuildIdMap();
}

void FileListModel::OnItemProgress(uintptr_t id) {
    if (id > UINT32_MAX) return;
    const int row = RowOfId(static_cast<uint32_t>(id));
    if (row < 0) return;  // a row removed since, or a run that has ended
    const int previous = current_row_;
    current_row_ = row;
    emit CurrentRowMoved(previous, row);
    const QModelIndex cell = index(row, kStatusColumn);
    emit dataChanged(cell, cell);
}

int FileListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : RowCount(); }

int FileListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QVariant FileListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= RowCount()) return {};
    const FileListItem& item = Item(index.row());
    switch (role) {
        case Qt::DisplayRole:
            if (index.column() == kNameColumn) return QString::fromStdString(item.Name());
            if (index.column() == kLocationColumn) return QString::fromStdString(item.Location());
            return {};  // the status cell is painted, not written
        case Qt::DecorationRole:
            if (index.column() == kNameColumn) return IconFor(item);
            return {};
        case Qt::AccessibleTextRole:
            if (index.column() == kStatusColumn) return ProgressText(item.Progress());
            return data(index, Qt::DisplayRole);
        case Qt::ToolTipRole:
        case Qt::AccessibleDescriptionRole:
            // A failed row says why, wherever the pointer rests on it; a converted one, what
            // was worth noting ("source ends early: ...").
            return RemarkText(item.Progress());
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
        default:
            return {};
    }
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    if (role != Qt::DisplayRole) return {};
    switch (section) {
        case kNameColumn:
            return QStringLiteral("Name");
        case kLocationColumn:
            return QStringLiteral("Location");
        case kStatusColumn:
            return QStringLiteral("Status");
        default:
            return {};
    }
}

Qt::ItemFlags FileListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

QVariant FileListModel::RemarkText(const TaskProgress& progress) {
    if (progress.IsCancelled()) return {};
    if (progress.IsFailed()) {
        const std::string reason = progress.FailureReason();
        return reason.empty() ? QVariant() : QVariant(QString::fromStdString(reason));
    }
    QStringList notes;
    for (const std::string& note : progress.Notes()) notes << QString::fromStdString(note);
    return notes.isEmpty() ? QVariant() : QVariant(notes.join(QLatin1Char('\n')));
}

QIcon FileListModel::IconFor(const FileListItem& item) const {
    const QFileInfo info(QString::fromStdString(item.Path()));
    const QString type = info.suffix().toLower();
    auto found = icons_.find(type);
    if (found != icons_.end()) return *found;
    QIcon icon = icon_provider_.icon(info);
    if (icon.isNull()) icon = icon_provider_.icon(QAbstractFileIconProvider::File);
    icons_.insert(type, icon);
    return icon;
}

}  // namespace chm
