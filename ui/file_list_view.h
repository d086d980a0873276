#pragma once
#include <QPointer>
#include <QStringList>
#include <QTreeView>
#include <deque>
#include <memory>
#include <string>
#include <vector>

class QDropEvent;
class QMenu;
class QMimeData;

namespace chm {

class FileListModel;
class FilterDialog;
class VeFileListDelegate;
class VeFileListHeader;

// The file list of the work view: the rows of its model in three columns, every way of
// adding files (all through AddPaths), removal, sorting by a header click, the "FileList"
// context menu, dropped files and folders, and a running conversion's current row.
class VeFileListView : public QTreeView {
    Q_OBJECT

public:
    static constexpr int kNameWidth = 220;
    static constexpr int kLocationWidth = 350;
    static constexpr int kStatusWidth = 130;
    // From this many accepted files on, adding asks first.
    static constexpr size_t kAddQuestionThreshold = 500;
    // Command ids of the "FileList" menu.
    static constexpr int kOpenContainingFolderCommand = 32783;
    static constexpr int kPlayCommand = 32784;

    static QString AddQuestion(size_t count);  // "%d files are to be added.\n\n..."
    static const QString& ClearQuestion();

    explicit VeFileListView(QWidget* parent = nullptr);
    ~VeFileListView() override;

    FileListModel& Model() const { return *model_; }
    VeFileListHeader* Header() const { return header_; }
    VeFileListDelegate* Delegate() const { return delegate_; }

    // The one add path of every source: filters the paths in the background (folders at any
    // depth), asks when 500 or more files would be added, then appends them. The number of
    // rows added; 0 when cancelled. Paths that come while another add is filtering wait for it
    // and are added after it (that add's count includes them; this call gives 0).
    // A file found below a folder of `paths` remembers that folder, or `found_under` (the
    // folder a search looked in) where it lies below that.
    int AddPaths(const std::vector<std::string>& paths, const std::string& found_under = {});
    int AddPaths(const QStringList& paths, const std::string& found_under = {});
    void RemoveSelected();
    // Nothing happens on an empty list. With `ask` the user confirms first.
    void Clear(bool ask);
    void SelectAll();
    // Asks the file manager to show the row's file; false when the file is not there.
    bool OpenContainingFolder(int row);
    // Opens the row's file with the desktop's default application.
    bool Play(int row);

    // Set by the work view while a conversion runs: no drops, no removal, no sorting.
    void SetBusy(bool busy);
    bool IsBusy() const;
    // The work view's say on the Delete key (its Remove command's state).
    void SetRemovalEnabled(bool enabled) { removal_enabled_ = enabled; }
    bool IsAdding() const { return adding_; }
    // Ends an add that is filtering without adding anything, and forgets the adds waiting for
    // it; a question already open after a filter is still answered.
    void CancelAdding();

    // A click on a column header: ascending at first, reversed by each further click on the
    // same column.
    void SortByColumn(int column);
    int SortColumn() const { return sort_column_; }
    Qt::SortOrder SortOrder() const { return sort_order_; }

    // True when a drop of `data` would be taken: not busy, local files, at least one of them a
    // folder or of a supported type.
    bool AcceptsDrop(const QMimeData* data) const;
    static std::vector<std::string> DroppedPaths(const QMimeData* data);
    // Answers a drag or drop: taken as a link when `acceptable` and the source offers linking,
    // refused otherwise. True when taken.
    static bool AnswerDrop(QDropEvent* event, bool acceptable);

    // The "FileList" menu as it stands for the focused row.
    std::unique_ptr<QMenu> MakeContextMenu();

signals:
    // The filter dialog of an add, made and about to run.
    void FilterDialogOpening(FilterDialog* dialog);
    // An add, with the adds that waited for it, has returned.
    void AddingEnded();
    // The answer to OpenContainingFolder: true when the file manager showed the file, false
    // when its folder was opened instead.
    void ContainingFolderShown(bool by_file_manager);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    // Steps 2 to 6 of an add, for one set of paths.
    int FilterAndAdd(const std::vector<std::string>& paths, const std::string& found_under);
    void OnCurrentRowMoved(int previous, int current);
    bool IsRowVisible(int row) const;
    // The focused row when it is also selected, else -1.
    int FocusedSelectedRow() const;

    FileListModel* model_;
    VeFileListHeader* header_;
    VeFileListDelegate* delegate_;
    int sort_column_ = -1;
    Qt::SortOrder sort_order_ = Qt::AscendingOrder;
    bool removal_enabled_ = true;
    bool adding_ = false;
    QPointer<FilterDialog> filter_dialog_;               // the running add's
    // Adds that came while it filtered, each with its search folder.
    std::deque<std::pair<std::vector<std::string>, std::string>> waiting_adds_;
};

}  // namespace chm
