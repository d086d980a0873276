#pragma once
#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ui/qt_message_port.h"

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QToolBar;

namespace chm {

class FilterBusyStrip;
class FolderSearchWorker;
class VeSearchResultList;

// The pages of the search wizard: child widgets of the frame's page area, laid out in the
// dialog units of "Tahoma" 8, one shown at a time.

// Page 0: what the wizard does.
class VeWizardWelcomePage : public QWidget {
    Q_OBJECT

public:
    explicit VeWizardWelcomePage(QWidget* parent);
};

// Page 1: the folder to search and whether to enter its sub-folders, taken from the settings
// when the page is made and stored back when it goes, however the wizard ends.
class VeWizardFolderPage : public QWidget {
    Q_OBJECT

public:
    static const QString& BrowsePrompt();  // "Please select a folder:"

    explicit VeWizardFolderPage(QWidget* parent);
    // Stores the edit text to search_folder and the check box to search_sub.
    ~VeWizardFolderPage() override;

    QString FolderText() const;
    bool SearchSubFolders() const;
    QLineEdit* FolderEdit() const { return edit_; }
    QPushButton* BrowseButton() const { return browse_; }
    QCheckBox* SubFoldersBox() const { return sub_folders_; }

    // The folder picker: it starts at the edit's folder when that exists; a confirmed folder
    // that exists replaces the text.
    void Browse();

private:
    QLineEdit* edit_ = nullptr;
    QPushButton* browse_ = nullptr;
    QCheckBox* sub_folders_ = nullptr;
};

// Page 2: runs the folder search and shows what it recommends. It receives the worker's
// SearchNotify, and forwards the end of every run (codes 7 and 8) to the frame with the number
// of rows in lParam.
class VeWizardSearchPage : public QWidget {
    Q_OBJECT

public:
    // The display follows the worker at most this often: the worker posts a message per file,
    // far more than anyone can read, and repainting for each would stall the window.
    static constexpr int kDisplayPeriodMs = 25;

    static QString FilteringText(intptr_t count);                // "Filtering files... %u"
    static QString CountText(int rows);                          // "%u files recommended ..." / "No files ..."
    static const QString& HintText();                            // "Click Finish to add the checked files."

    VeWizardSearchPage(QWidget* parent, QObject* frame);
    // Aborts the worker and waits for its thread.
    ~VeWizardSearchPage() override;

    // Resets the page and starts a search; a run that is still going is left alone.
    void StartSearch(const QString& folder, bool recurse);
    // Null before the first search.
    FolderSearchWorker* Worker() const { return worker_.get(); }
    // A run has started and not yet reported its end.
    bool IsSearching() const;

    // "Analyzing " and the path shortened in the middle so that the whole line fits the status
    // line.
    QString AnalyzingText(const QString& path) const;

    // Brings what the page shows up to date with everything received (normally done by a
    // timer at most every kDisplayPeriodMs).
    void RefreshDisplay();

    QLabel* StatusLine() const { return status_; }
    FilterBusyStrip* BusyStrip() const { return busy_strip_; }
    QLabel* CountLine() const { return count_; }
    QProgressBar* ProgressBar() const { return progress_; }
    VeSearchResultList* ResultList() const { return list_; }
    QLabel* Hint() const { return hint_; }
    QToolBar* ToolBar() const { return tool_bar_; }
    QAction* CheckAllAction() const { return check_all_; }
    QAction* UncheckAllAction() const { return uncheck_all_; }
    // The rectangle that the busy strip and the progress bar share.
    QRect SharedRect() const { return shared_rect_; }
    // The progress position as received, before the display shows it.
    int ProgressPosition() const { return position_; }

signals:
    // After each SearchNotify has been handled, for whoever watches the search.
    void Notified(quintptr code, qintptr count);

protected:
    void customEvent(QEvent* event) override;

private:
    void OnSearchNotify(uintptr_t code, intptr_t count);
    void ResetPage();
    void SetStatus(const QString& text);
    void EndSteps(uintptr_t code);
    void ScheduleRefresh();
    void Command(int command);

    // Declared before the worker: the worker is stopped first, then the port is closed.
    WindowPort port_{this};
    std::unique_ptr<FolderSearchWorker> worker_;
    QObject* frame_;
    QLabel* status_ = nullptr;
    FilterBusyStrip* busy_strip_ = nullptr;
    QLabel* count_ = nullptr;
    QProgressBar* progress_ = nullptr;
    VeSearchResultList* list_ = nullptr;
    QLabel* hint_ = nullptr;
    QToolBar* tool_bar_ = nullptr;
    QAction* check_all_ = nullptr;
    QAction* uncheck_all_ = nullptr;
    QRect shared_rect_;

    // What was received and is not shown yet.
    bool run_ended_ = true;  // the last run's code 7 or 8 has come
    int position_ = 0;
    QString analyzing_path_;
    bool analyzing_pending_ = false;
    bool scroll_pending_ = false;
    QTimer refresh_timer_;
    QElapsedTimer since_refresh_;
};

}  // namespace chm
