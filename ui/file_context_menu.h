#pragma once
#include <QAbstractItemView>
#include <QContextMenuEvent>
#include <QMenu>
#include <memory>

namespace chm {

// The row a list's menu command acts on: the focused row when it is also selected, else -1.
int FocusedSelectedRow(const QAbstractItemView& view);

// A right click on the empty space of a list takes its selection away before the menu opens,
// so that the menu never acts on a row the user did not click.
void ClearSelectionOffItems(QAbstractItemView& view, const QContextMenuEvent& event);

// The skinned file menu of the file list and the search results: "Open Containing Folder" and
// "Play" (the default) with the given command numbers as their data, enabled together.
std::unique_ptr<QMenu> MakeFileContextMenu(QWidget* parent, bool enabled, int open_command, int play_command);

}  // namespace chm
