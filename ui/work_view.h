#pragma once
#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <map>
#include <memory>

#include "ui/image_button.h"
#include "ui/notifying_task_progress.h"
#include "ui/qt_message_port.h"

class QAction;
class QMenu;

class QTimer;

namespace chm {

class ConversionWorker;
class GettingStartedPanel;
class VeFileListView;
class VeOutputBoxCtrlBase;
class VeTaskProgressBarCtrl;

// TaskNotify codes that the work view gives the window around it.
constexpr uintptr_t kFrameConversionStarted = 0;
constexpr uintptr_t kFrameAbortRequested = 3;
constexpr uintptr_t kFrameConversionEnded = 5;

// What the work view asks of the main window that hosts it.
class WorkViewHost {
public:
    virtual ~WorkViewHost() = default;
    // kFrameConversionStarted, kFrameAbortRequested or kFrameConversionEnded.
    virtual void OnTaskNotify(uintptr_t code) = 0;
    // The options button's command: the options dialog, modal.
    virtual void ShowOptions() = 0;
};

// The main window's content: the file list (or the getting-started page in its place), the
// action buttons, the output folder box and the overall progress bar over a background
// picture of the program's own. It turns commands into list operations, starts and stops the
// conversion and switches every control between the idle and the busy state.
class DesktopNotice;

class VeWorkView : public QWidget {
    Q_OBJECT

public:
    // Button and menu command ids.
    static constexpr int kAddButton = 104;
    static constexpr int kRemoveButton = 105;
    static constexpr int kClearButton = 106;
    static constexpr int kBrowseButton = 108;
    static constexpr int kConvertButton = 109;
    static constexpr int kOpenFolderButton = 110;
    static constexpr int kShowListButton = 111;
    static constexpr int kShowAtStartButton = 112;
    static constexpr int kOptionsButton = 113;
    static constexpr int kAddFilesCommand = 32778;
    static constexpr int kAddFolderCommand = 32779;
    static constexpr int kAddBySearchCommand = 32780;

    // Client rectangles of the two controls whose place is fixed (right and bottom exclusive
    // in the written form, as window rectangles are).
    static QRect ListRect();       // (9, 75) to (731, 444)
    static QRect OutputBoxRect();  // (118, 464) to (453, 484)
    static QRect ProgressBarRect();

    static const QString& ProgramCaption();  // "Tavorin Channel Merger"
    static const QString& EmptyListMessage();
    static const QString& ExitQuestion();
    static QString CannotOpenFolderText(const QString& folder);
    // The open-file dialog's filter as written for the system dialog ("text|patterns|..."), and
    // the same four filters in Qt's form, "All Supported Formats" last.
    static const QString& AddFilesFilter();
    static QStringList AddFilesNameFilters();

    VeWorkView(WorkViewHost* host, QWidget* parent = nullptr);
    ~VeWorkView() override;

    // Builds the controls over the background picture and takes its size. False when the
    // program's pictures are missing.
    bool Create();

    VeFileListView* FileList() const { return list_; }
    VeOutputBoxCtrlBase* OutputBox() const { return output_box_; }
    VeTaskProgressBarCtrl* ProgressBar() const { return progress_bar_; }
    GettingStartedPanel* Panel() const { return panel_; }
    const TaskProgress& OverallProgress() const { return overall_; }
    VeImageButton* Button(int id) const;
    QMenu* AddMenu() const { return add_menu_.get(); }
    QAction* MenuCommand(int id) const;
    ConversionWorker* Worker() const { return worker_.get(); }
    bool IsBusy() const { return busy_; }
    bool IsShowingStopImages() const { return showing_stop_; }

    // The folder that outputs go to as the user looks for it: the box's value, else the
    // folder of the focused row, the first selected row, or the first row.
    QString EffectiveOutputFolder() const;

    // Every button and menu command by its id.
    void OnCommand(int id);
    // Adds through the list's one add path; after rows were added, the list takes the
    // getting-started page's place. The number of rows added.
    int AddPaths(const QStringList& paths, const std::string& found_under = {});
    void StartConversion();
    void StopConversion();
    // Before the main window closes: true when no conversion runs or the user agrees to stop it.
    // The report of a run that completes while the user is being asked waits for the answer:
    // Yes leaves without it, No shows it.
    bool CanClose();
    // The conversion, if one runs, is aborted and waited for.
    void StopWorkerAndWait();
    // The idle handler: Remove, Clear and Open Output Folder follow the list and the box.
    void UpdateCommandStates();

protected:
    void paintEvent(QPaintEvent* event) override;
    void customEvent(QEvent* event) override;

private:
    VeImageButton* AddButton(int id, const QString& stem, const QPoint& position, const QString& tool_tip);
    void CreateAddMenu();
    void OpenAddMenu();
    void AddFiles();
    void AddFolder();
    void AddBySearch();
    void OpenOutputFolder();
    void ShowFileList();
    void ToggleShowAtStart();
    void OnConvertButton();
    void OnTaskNotify(uintptr_t code);
    void EnterBusy();
    void LeaveBusy();
    void ShowReport();
    // The rows converted and failed (not cancelled) in the last run.
    std::pair<int, int> RunCounts() const;
    void TellHost(uintptr_t code);

    WorkViewHost* host_;
    QImage background_;
    WindowPort port_{this};
    NotifyingTaskProgress overall_;
    ImageSet convert_images_;
    ImageSet stop_images_;
    std::map<int, VeImageButton*> buttons_;
    std::unique_ptr<QMenu> add_menu_;
    VeFileListView* list_ = nullptr;
    GettingStartedPanel* panel_ = nullptr;
    VeOutputBoxCtrlBase* output_box_ = nullptr;
    VeTaskProgressBarCtrl* progress_bar_ = nullptr;
    bool busy_ = false;
    bool showing_stop_ = false;
    bool asking_to_exit_ = false;
    bool report_held_ = false;  // a run completed while the exit question was open
    DesktopNotice* notice_ = nullptr;
    QTimer* notice_timer_ = nullptr;  // the launcher's progress while busy
    // Last: the conversion thread ends before anything it refers to goes.
    std::unique_ptr<ConversionWorker> worker_;
};

}  // namespace chm
