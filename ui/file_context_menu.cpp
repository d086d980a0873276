#include "ui/file_context_menu.h"

#include <QItemSelectionModel>

#include "ui/skinned_menu.h"

namespace chm {

int FocusedSelectedRow(const QAbstractItemView& view) {
    const QModelIndex focused = view.currentIndex();
    if (!focused.isValid() || !view.selectionModel()->isRowSelected(focused.row(), QModelIndex())) return -1;
    return focused.row();
}

void ClearSelectionOffItems(QAbstractItemView& view, const QContextMenuEvent& event) {
    // Where the menu opens on the press, the button's release has not cleared it yet.
    if (event.reason() == QContextMenuEvent::Mouse && !view.indexAt(event.pos()).isValid()) view.clearSelection();
}

std::unique_ptr<QMenu> MakeFileContextMenu(QWidget* parent, bool enabled, int open_command, int play_command) {
    auto menu = std::make_unique<VeSkinnedMenu>(QStringLiteral("FileList"), parent);
    menu->setAccessibleName(QStringLiteral("FileList"));
    QAction* open = menu->addAction(QStringLiteral("Open Containing Folder"));
    open->setData(open_command);
    QAction* play = menu->addAction(QStringLiteral("Play"));
    play->setData(play_command);
    open->setEnabled(enabled);
    play->setEnabled(enabled);
    if (enabled) menu->setDefaultAction(play);
    return menu;
}

}  // namespace chm
