#include "ui/file_context_menu.h"

#include <QItemSelectionModel>

namespace chm {

int FocusedSelectedRow(const QAbstractItemView& view) {
    const QModelIndex focused = view.currentIndex();
    if (!focused.isValid() || !view.selectionModel()->isRowSelected(focused.row(), QModelIndex())) return -1;
    return focused.row();
}

std::unique_ptr<QMenu> MakeFileContextMenu(QWidget* parent, bool enabled, int open_command, int play_command) {
    auto menu = std::make_unique<QMenu>(QStringLiteral("FileList"), parent);
    menu->setAccessibleName(QStringLiteral("FileList"));
    // The skinned menus' text: "Tahoma" 13 px (the default item in bold), greyed items in
    // 0xA6A6A6.
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(13);
    menu->setFont(font);
    QPalette palette = menu->palette();
    for (QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, QColor(0xA6, 0xA6, 0xA6));
    menu->setPalette(palette);
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
