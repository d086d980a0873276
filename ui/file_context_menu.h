#pragma once
#include <QAbstractItemView>
#include <QMenu>
#include <memory>

namespace chm {

// The row a list's menu command acts on: the focused row when it is also selected, else -1.
int FocusedSelectedRow(const QAbstractItemView& view);

// The skinned file menu of the file list and the search results: "Open Containing Folder" and
// "Play" (the default) with the given command numbers as their data, enabled together.
std::unique_ptr<QMenu> MakeFileContextMenu(QWidget* parent, bool enabled, int open_command, int play_command);

}  // namespace chm
