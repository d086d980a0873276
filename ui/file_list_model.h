#pragma once
#include <QAbstractTableModel>
#include <QFileIconProvider>
#include <QHash>
#include <QIcon>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/file_list_item.h"
#include "ui/qt_message_port.h"

namespace chm {

class TaskProgress;

// The rows of the file list, one per input file, with the duplicate guard, the row
// identities that a conversion reports by, and the row being converted. It is also the
// window that the rows' progress and the conversion's notices are posted to, so it follows a
// run without any view.
class FileListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { kNameColumn = 0, kLocationColumn = 1, kStatusColumn = 2, kColumnCount = 3 };

    explicit FileListModel(QObject* parent = nullptr);
    ~FileListModel() override;

    // Trims white space at both ends and gives a folder a trailing "/". The separator is
    // already "/", and a backslash is an ordinary character of a file name here.
    static std::string NormalizeListPath(std::string_view path);
    // The duplicate key of a normalised path: the path itself, case kept, since this platform
    // tells X.MP3 from x.mp3.
    static const std::string& KeyOf(const std::string& normalized_path) { return normalized_path; }

    // Normalises and appends one existing, supported regular file; the new row or -1. The key
    // set is the caller's business (AddAccepted keeps it).
    int AddItem(const std::string& path);
    // The accepted paths of a filter in order, each added unless its key is present already;
    // the number of rows added.
    // `found_under`, where given, holds for each path the folder it was found under.
    int AddAccepted(const std::vector<std::string>& paths, const std::vector<std::string>& found_under = {});
    // Deletes the rows (any order, repeats allowed) with their keys; refused while busy, since a
    // running conversion refers to the rows' items.
    bool RemoveRows(std::vector<int> rows);
    // Deletes every row and key; refused while busy.
    bool RemoveAll();

    const std::set<std::string>& Keys() const { return keys_; }
    int RowCount() const { return static_cast<int>(rows_.size()); }
    FileListItem& Item(int row) const { return *rows_.at(static_cast<size_t>(row)); }
    // What a conversion run is given: every row's item, in display order.
    std::vector<FileListItem*> ItemsInDisplayOrder() const;

    // Where the rows' progress and the run's notices go.
    WindowHandle Handle() const { return port_.Handle(); }

    bool IsBusy() const { return busy_; }
    void SetBusy(bool busy) { busy_ = busy; }
    int CurrentRow() const { return current_row_; }
    // The row of an item id while a run is prepared or running; -1 for any other id.
    int RowOfId(uint32_t id) const;
    size_t IdMapSize() const { return id_map_.size(); }

    // The sort number of a row's progress: -2 not started, -1 failed, else the whole per cent.
    static int StatusSortValue(const TaskProgress& progress);
    // The comparison of two rows for a column, ascending: negative when `a` goes first.
    static int Compare(int column, const FileListItem& a, const FileListItem& b);

    // QAbstractItemModel
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Refused while busy: the id map refers to row positions.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

signals:
    // A run's progress moved to `current`; `previous` was the current row before (or -1).
    void CurrentRowMoved(int previous, int current);

protected:
    void customEvent(QEvent* event) override;

private:
    // Checks one path and makes its item; null when it may not become a row.
    std::unique_ptr<FileListItem> MakeItem(const std::string& path) const;
    void OnTaskListPrepare();
    void OnItemProgress(uintptr_t id);
    void RebuildIdMap();
    QIcon IconFor(const FileListItem& item) const;
    // The reason of a failed row, or the notes of a converted one; none for the others.
    static QVariant RemarkText(const TaskProgress& progress);

    WindowPort port_{this};
    std::vector<std::unique_ptr<FileListItem>> rows_;
    std::set<std::string> keys_;  // always the keys of the rows
    std::unordered_map<uint32_t, int> id_map_;
    int current_row_ = -1;
    bool busy_ = false;
    mutable QFileIconProvider icon_provider_;
    mutable QHash<QString, QIcon> icons_;  // by lower-case extension: one look per file type
};

}  // namespace chm
