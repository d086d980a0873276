#pragma once
#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/test_files.h"
#include "tests/ui/file_list_test_support.h"
#include "tests/ui/ui_test_support.h"
#include "ui/file_list_header.h"
#include "ui/file_list_model.h"
#include "ui/file_list_view.h"
#include "ui/filter_dialog.h"

namespace chm::test {

// A file list shown as a window of its own on the offscreen platform, over a scratch folder.
class FileListViewFixture : public ::testing::Test {
protected:
    void SetUp() override {
        view_.resize(720, 370);
        ASSERT_TRUE(ShowAndActivate(&view_));
    }

    FileListModel& Model() { return view_.Model(); }
    std::string At(const std::string& name) const { return scratch_.File(name); }
    std::string Touch(const std::string& name) {
        MakeEmptyFiles(scratch_.Path(), {name});
        return At(name);
    }
    int Add(const std::vector<std::string>& paths) { return view_.AddPaths(paths); }

    std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (int row = 0; row < Model().RowCount(); ++row) names.push_back(Model().Item(row).Name());
        return names;
    }
    std::vector<std::string> Paths() {
        std::vector<std::string> paths;
        for (int row = 0; row < Model().RowCount(); ++row) paths.push_back(Model().Item(row).Path());
        return paths;
    }

    // A left click on a column header, as the mouse gives it.
    void ClickHeader(int column) {
        QHeaderView* header = view_.Header();
        const QPoint pos(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
        const QPointF global = header->viewport()->mapToGlobal(QPointF(pos));
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(pos), global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(header->viewport(), &press);
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(pos), global, Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(header->viewport(), &release);
    }

    // Takes the focus and the current row away, so that a cell paints only its content.
    void ClearFocusAndSelection() {
        view_.clearSelection();
        view_.setCurrentIndex(QModelIndex());
        view_.clearFocus();
    }

    struct SeenMenu {
        bool seen = false;
        QStringList texts;
        std::vector<int> ids;
        std::vector<bool> enabled;
        QString default_text;
    };

    // Opens the menu with a right click at `pos` of the item area; `act` runs on the open menu.
    SeenMenu RightClick(QPoint pos, const std::function<void(QMenu*)>& act) {
        SeenMenu seen;
        auto poll = std::make_shared<std::function<void()>>();
        std::weak_ptr<std::function<void()>> weak = poll;
        *poll = [&, weak, act] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (menu && menu->isVisible()) {
                seen.seen = true;
                for (QAction* action : menu->actions()) {
                    seen.texts.append(action->text());
                    seen.ids.push_back(action->data().toInt());
                    seen.enabled.push_back(action->isEnabled());
                }
                if (menu->defaultAction()) seen.default_text = menu->defaultAction()->text();
                act(menu);
                return;
            }
            if (auto next = weak.lock()) QTimer::singleShot(10, [next] { (*next)(); });
        };
        QTimer::singleShot(0, [poll] { (*poll)(); });
        const QPoint global = view_.viewport()->mapToGlobal(pos);
        // The right button's press selects and focuses the row under it, as a real click does.
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(pos), QPointF(global), Qt::RightButton, Qt::RightButton,
                          Qt::NoModifier);
        QApplication::sendEvent(view_.viewport(), &press);
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(pos), QPointF(global), Qt::RightButton, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(view_.viewport(), &release);
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, global);
        QApplication::sendEvent(view_.viewport(), &event);
        return seen;
    }
    QPoint RowCentre(int row) { return view_.visualRect(Model().index(row, 0)).center(); }
    static void Choose(QMenu* menu, int index) {
        menu->setActiveAction(menu->actions().at(index));
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(menu, &press);
    }

    ScratchDir scratch_;
    VeFileListView view_;
};

inline bool IsVisibleFilterDialog(QWidget* widget) {
    return qobject_cast<FilterDialog*>(widget) != nullptr && widget->isVisible();
}

}  // namespace chm::test
