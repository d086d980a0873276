#include "ui/file_list_view.h"

#include <sys/stat.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPointer>
#include <QScrollBar>
#include <QTimer>
#include <QUrl>

#include "audio/audio_file_type.h"
#include "engine/output_tree.h"
#include "platform/file_system.h"
#include "ui/file_list_delegate.h"
#include "ui/file_list_header.h"
#include "ui/file_list_model.h"
#include "ui/file_context_menu.h"
#include "ui/file_manager.h"
#include "ui/filter_dialog.h"
#include "ui/message_box.h"
#include "ui/skinned_menu.h"

namespace chm {
namespace {

// The wait cursor for as long as it lives.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

// Sets a flag for as long as it lives.
class FlagScope {
public:
    explicit FlagScope(bool& flag) : flag_(flag) { flag_ = true; }
    ~FlagScope() { flag_ = false; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& flag_;
};

// Switches a widget's drawing off for as long as it lives, then repaints it once.
class RedrawOff {
public:
    explicit RedrawOff(QWidget* widget) : widget_(widget) { widget_->setUpdatesEnabled(false); }
    ~RedrawOff() {
        widget_->setUpdatesEnabled(true);
        widget_->update();
    }
    RedrawOff(const RedrawOff&) = delete;
    RedrawOff& operator=(const RedrawOff&) = delete;

private:
    QWidget* widget_;
};

bool IsFolderOrSupported(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) return true;
    return GetAudioFileType(path) != AudioFileType::Unsupported;
}

constexpr uint32_t kQuestionStyle = kMbYesNo | kMbIconQuestion | kMbDefButton2;

// For each accepted file, the folder it was found under: the search's folder, else the added
// folder it lies below; empty for a file added alone.
std::vector<std::string> FoundUnder(const std::vector<std::string>& accepted, const std::vector<std::string>& inputs,
                                    const std::string& searched) {
    std::vector<std::string> folders;
    for (const std::string& input : inputs)
        if (IsDirectory(input)) folders.push_back(input);
    std::vector<std::string> roots(accepted.size());
    std::string relative;
    for (size_t i = 0; i < accepted.size(); ++i) {
        if (TreePathOf(accepted[i], searched, relative)) {
            roots[i] = searched;
            continue;
        }
        for (const std::string& folder : folders)
            if (TreePathOf(accepted[i], folder, relative)) {
                roots[i] = folder;
                break;
            }
    }
    return roots;
}

}  // namespace

QString VeFileListView::AddQuestion(size_t count) {
    return QStringLiteral("%1 files are to be added.\n\nAre you sure you want to continue?           ").arg(count);
}

const QString& VeFileListView::ClearQuestion() {
    static const QString text =
        QStringLiteral("This will remove all items from the list.     \n\nAre you sure you want to continue?");
    return text;
}

VeFileListView::VeFileListView(QWidget* parent)
    : QTreeView(parent),
      model_(new FileListModel(this)),
      header_(new VeFileListHeader(this)),
      delegate_(new VeFileListDelegate(*model_, this)) {
    setHeader(header_);
    setModel(model_);
    setItemDelegate(delegate_);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);  // sorting follows the list's own rules, on header clicks
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DropOnly);
    setDropIndicatorShown(false);
    setAccessibleName(QStringLiteral("File list"));

    // After setSortingEnabled, which takes the headers' clicks away.
    header_->setSectionsClickable(true);
    header_->setSectionsMovable(false);
    header_->setStretchLastSection(false);
    header_->resizeSection(FileListModel::kNameColumn, kNameWidth);
    header_->resizeSection(FileListModel::kLocationColumn, kLocationWidth);
    header_->resizeSection(FileListModel::kStatusColumn, kStatusWidth);
    connect(header_, &QHeaderView::sectionClicked, this, &VeFileListView::SortByColumn);
    connect(model_, &FileListModel::CurrentRowMoved, this, &VeFileListView::OnCurrentRowMoved);
}

VeFileListView::~VeFileListView() = default;

int VeFileListView::AddPaths(const QStringList& paths, const std::string& found_under) {
    std::vector<std::string> list;
    list.reserve(static_cast<size_t>(paths.size()));
    for (const QString& path : paths) list.push_back(path.toStdString());
    return AddPaths(list, found_under);
}

int VeFileListView::AddPaths(const std::vector<std::string>& paths, const std::string& found_under) {
    // 1.
    if (paths.empty()) return 0;
    // A drop taken just before an add began arrives while it filters: it waits its turn.
    if (adding_) {
        waiting_adds_.emplace_back(paths, found_under);
        return 0;
    }
    int added = 0;
    {
        const FlagScope adding(adding_);
        added = FilterAndAdd(paths, found_under);
        while (!waiting_adds_.empty()) {
            const auto [next, next_found_under] = std::move(waiting_adds_.front());
            waiting_adds_.pop_front();
            added += FilterAndAdd(next, next_found_under);
        }
    }
    emit AddingEnded();
    return added;
}

int VeFileListView::FilterAndAdd(const std::vector<std::string>& paths, const std::string& found_under) {
    // 2.
    std::vector<std::string> accepted;
    {
        FilterDialog dialog(window(), paths, model_->Keys());
        filter_dialog_ = &dialog;
        emit FilterDialogOpening(&dialog);
        if (dialog.Run() != QDialog::Accepted) return 0;
        accepted = dialog.TakeAccepted();
    }
    // 3.
    if (accepted.size() >= kAddQuestionThreshold &&
        ShowCenteredMessageBox(window(), AddQuestion(accepted.size()), QStringLiteral("Confirm Add Files"),
                               kQuestionStyle) != kIdYes)
        return 0;
    // 4.
    const WaitCursor wait;
    int added = 0;
    {
        const RedrawOff redraw_off(this);
        // 5. Each file remembers the folder it was found under, for an output tree like it.
        added = model_->AddAccepted(accepted, FoundUnder(accepted, paths, found_under));
        // 6.
        if (added > 0) scrollTo(model_->index(model_->RowCount() - 1, 0));
    }
    return added;
}

void VeFileListView::CancelAdding() {
    waiting_adds_.clear();
    if (filter_dialog_) filter_dialog_->Abandon();
}

void VeFileListView::RemoveSelected() {
    if (IsBusy()) return;
    std::vector<int> rows;
    for (const QModelIndex& index : selectionModel()->selectedRows()) rows.push_back(index.row());
    if (rows.empty()) return;
    const RedrawOff redraw_off(this);
    model_->RemoveRows(std::move(rows));
}

void VeFileListView::Clear(bool ask) {
    if (model_->RowCount() == 0 || IsBusy()) return;
    if (ask && ShowCenteredMessageBox(window(), ClearQuestion(), QStringLiteral("Confirm Clear"), kQuestionStyle) != kIdYes)
        return;
    const RedrawOff redraw_off(this);
    model_->RemoveAll();
}

void VeFileListView::SelectAll() { selectAll(); }

bool VeFileListView::OpenContainingFolder(int row) {
    if (row < 0 || row >= model_->RowCount()) return false;
    const std::string& path = model_->Item(row).Path();
    if (!PathExists(path)) return false;
    FileManager::ShowItem(QString::fromStdString(path), this, [list = QPointer<VeFileListView>(this)](bool shown) {
        if (list) emit list->ContainingFolderShown(shown);
    });
    return true;
}

bool VeFileListView::Play(int row) {
    if (row < 0 || row >= model_->RowCount()) return false;
    return FileManager::OpenFile(QString::fromStdString(model_->Item(row).Path()), this);
}

void VeFileListView::SetBusy(bool busy) {
    model_->SetBusy(busy);
    // While busy the headers stop acting as buttons.
    header_->setSectionsClickable(!busy);
    viewport()->update();
}

bool VeFileListView::IsBusy() const { return model_->IsBusy(); }

void VeFileListView::SortByColumn(int column) {
    if (IsBusy() || column < 0 || column >= FileListModel::kColumnCount) return;
    const WaitCursor wait;
    if (column == sort_column_) {
        sort_order_ = sort_order_ == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    } else {
        sort_column_ = column;
        sort_order_ = Qt::AscendingOrder;
    }
    model_->sort(sort_column_, sort_order_);
    header_->SetSortArrow(sort_column_, sort_order_);
    delegate_->SetSortedColumn(sort_column_);
    viewport()->update();
}

bool VeFileListView::AcceptsDrop(const QMimeData* data) const {
    if (IsBusy() || adding_ || !data || !data->hasUrls()) return false;
    for (const std::string& path : DroppedPaths(data))
        if (IsFolderOrSupported(path)) return true;
    return false;
}

std::vector<std::string> VeFileListView::DroppedPaths(const QMimeData* data) {
    std::vector<std::string> paths;
    if (!data) return paths;
    // Whole paths, however long: a path cut to a fixed buffer would name another file.
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) paths.push_back(url.toLocalFile().toStdString());
    return paths;
}

bool VeFileListView::AnswerDrop(QDropEvent* event, bool acceptable) {
    if (!acceptable || !(event->possibleActions() & Qt::LinkAction)) {
        event->ignore();
        return false;
    }
    event->setDropAction(Qt::LinkAction);
    event->accept();
    return true;
}

void VeFileListView::dragEnterEvent(QDragEnterEvent* event) { AnswerDrop(event, AcceptsDrop(event->mimeData())); }

void VeFileListView::dragMoveEvent(QDragMoveEvent* event) { AnswerDrop(event, AcceptsDrop(event->mimeData())); }

void VeFileListView::dragLeaveEvent(QDragLeaveEvent* event) { event->accept(); }

void VeFileListView::dropEvent(QDropEvent* event) {
    if (!AnswerDrop(event, AcceptsDrop(event->mimeData()))) return;
    // The drag source is answered first; the filter's modal loop runs afterwards.
    QTimer::singleShot(0, this, [this, paths = DroppedPaths(event->mimeData())] { AddPaths(paths); });
}

void VeFileListView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::NoModifier) {
        if (!IsBusy() && removal_enabled_) RemoveSelected();
        event->accept();
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        SelectAll();
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}

int VeFileListView::FocusedSelectedRow() const { return chm::FocusedSelectedRow(*this); }

std::unique_ptr<QMenu> VeFileListView::MakeContextMenu() {
    return MakeFileContextMenu(this, FocusedSelectedRow() >= 0, kOpenContainingFolderCommand, kPlayCommand);
}

void VeFileListView::contextMenuEvent(QContextMenuEvent* event) {
    // Only inside the item area: the header is a window of its own and never gets here.
    if (event->reason() == QContextMenuEvent::Mouse && !viewport()->rect().contains(event->pos())) return;
    ClearSelectionOffItems(*this, *event);
    std::unique_ptr<QMenu> menu = MakeContextMenu();
    const int row = FocusedSelectedRow();
    QAction* chosen = TrackSkinnedMenu(*menu, event->globalPos());
    if (!chosen || row < 0) return;
    if (chosen->data().toInt() == kOpenContainingFolderCommand) OpenContainingFolder(row);
    if (chosen->data().toInt() == kPlayCommand) Play(row);
}

void VeFileListView::mouseDoubleClickEvent(QMouseEvent* event) {
    const QModelIndex index = indexAt(event->position().toPoint());
    if (index.isValid() && event->button() == Qt::LeftButton) {
        Play(index.row());
        event->accept();
        return;
    }
    QTreeView::mouseDoubleClickEvent(event);
}

bool VeFileListView::IsRowVisible(int row) const {
    if (row < 0 || row >= model_->RowCount()) return false;
    const QRect rect = visualRect(model_->index(row, 0));
    return rect.isValid() && viewport()->rect().intersects(rect);
}

void VeFileListView::OnCurrentRowMoved(int previous, int current) {
    // The list follows the run only while the user has not scrolled the current row away.
    if (previous != current && IsRowVisible(previous)) scrollTo(model_->index(current, 0));
}

}  // namespace chm
