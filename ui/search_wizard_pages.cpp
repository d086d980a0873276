#include "ui/search_wizard_pages.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QToolBar>
#include <algorithm>

#include "app/app_settings.h"
#include "platform/file_system.h"
#include "search/folder_search_worker.h"
#include "ui/filter_dialog.h"
#include "ui/search_result_list.h"
#include "ui/search_wizard_parts.h"

namespace chm {
namespace {

constexpr int kToolButtonSize = 16;
// The tool bar stands this many pixels above the strip's rectangle.
constexpr int kToolBarLift = 2;

QLabel* MakeStatic(QWidget* parent, const DialogUnits& units, const QString& text, int x, int y, int w, int h) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(units.Rect(x, y, w, h));
    return label;
}

// Children of a page inherit its font; the templates are in that font's dialog units.
DialogUnits PageUnits(QWidget* page) {
    page->setFont(WizardPageFont());
    return DialogUnits(page->font());
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Welcome page

VeWizardWelcomePage::VeWizardWelcomePage(QWidget* parent) : QWidget(parent) {
    setAccessibleName(QStringLiteral("Welcome"));
    const DialogUnits units = PageUnits(this);
    QLabel* title = MakeStatic(this, units, QStringLiteral("Welcome to the Add by Search Wizard"), 9, 9, 284, 8);
    title->setObjectName(QStringLiteral("welcome_title"));
    QLabel* about = MakeStatic(this, units,
                               QStringLiteral("This wizard will help you choose stereo audio files for conversion by "
                                              "searching through a folder you specify."),
                               22, 25, 289, 21);
    about->setWordWrap(true);
    about->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    MakeStatic(this, units, QStringLiteral("Click Next to continue, or Cancel to exit."), 22, 149, 289, 8);
}

// ---------------------------------------------------------------------------------------------
// Folder page

const QString& VeWizardFolderPage::BrowsePrompt() {
    static const QString prompt = QStringLiteral("Please select a folder:");
    return prompt;
}

VeWizardFolderPage::VeWizardFolderPage(QWidget* parent) : QWidget(parent) {
    setAccessibleName(QStringLiteral("Select a Folder"));
    const DialogUnits units = PageUnits(this);
    MakeStatic(this, units, QStringLiteral("Please select a folder to search for stereo audio files:"), 9, 9, 302, 8);

    edit_ = new QLineEdit(this);
    edit_->setGeometry(units.Rect(22, 25, 237, 12));
    edit_->setAccessibleName(QStringLiteral("Search folder"));
    edit_->setText(QString::fromStdString(AppSettings::Instance().search_folder));

    browse_ = new QPushButton(QStringLiteral("Browse..."), this);
    browse_->setGeometry(units.Rect(262, 24, 50, 14));
    connect(browse_, &QPushButton::clicked, this, &VeWizardFolderPage::Browse);

    sub_folders_ = new QCheckBox(QStringLiteral("Search sub-folders"), this);
    sub_folders_->setGeometry(units.Rect(22, 49, 220, 9));
    sub_folders_->setChecked(AppSettings::Instance().search_sub);

    MakeStatic(this, units, QStringLiteral("Click Next to start searching. You can abort the process at any time."), 22,
               149, 289, 8);
}

VeWizardFolderPage::~VeWizardFolderPage() {
    AppSettings& settings = AppSettings::Instance();
    settings.search_folder = FolderText().toStdString();
    settings.search_sub = SearchSubFolders();
}

QString VeWizardFolderPage::FolderText() const { return edit_->text(); }

bool VeWizardFolderPage::SearchSubFolders() const { return sub_folders_->isChecked(); }

void VeWizardFolderPage::Browse() {
    const QString text = FolderText();
    const QString start = !text.isEmpty() && IsDirectory(text.toStdString()) ? text : QString();
    const QString chosen = QFileDialog::getExistingDirectory(this, BrowsePrompt(), start, QFileDialog::ShowDirsOnly);
    if (!chosen.isEmpty() && IsDirectory(chosen.toStdString())) edit_->setText(chosen);
}

// ---------------------------------------------------------------------------------------------
// Search page

QString VeWizardSearchPage::FilteringText(intptr_t count) {
    return QStringLiteral("Filtering files... %1").arg(static_cast<qulonglong>(count));
}

QString VeWizardSearchPage::CountText(int rows) {
    if (rows == 0) return QStringLiteral("No files recommended for conversion.");
    return QStringLiteral("%1 files recommended for conversion:").arg(rows);
}

const QString& VeWizardSearchPage::HintText() {
    static const QString text = QStringLiteral("Click Finish to add the checked files.");
    return text;
}

VeWizardSearchPage::VeWizardSearchPage(QWidget* parent, QObject* frame) : QWidget(parent), frame_(frame) {
    setAccessibleName(QStringLiteral("Search"));
    const DialogUnits units = PageUnits(this);

    // The status and count lines have no names of their own: they read as they show.
    status_ = MakeStatic(this, units, QString(), 9, 9, 301, 8);

    busy_strip_ = new FilterBusyStrip(this);
    busy_strip_->setAccessibleName(QStringLiteral("Searching"));
    count_ = MakeStatic(this, units, QString(), 96, 26, 145, 8);
    progress_ = new QProgressBar(this);
    progress_->setTextVisible(false);
    progress_->setAccessibleName(QStringLiteral("Analyzing"));

    // The strip and the bar are never shown together: both take the rectangle that spans the
    // two, and the count line starts at its left edge.
    shared_rect_ = units.Rect(22, 25, 64, 12).united(units.Rect(252, 25, 60, 12));
    busy_strip_->setGeometry(shared_rect_);
    progress_->setGeometry(shared_rect_);
    count_->move(shared_rect_.left(), count_->y());

    list_ = new VeSearchResultList(this);
    list_->setGeometry(units.Rect(22, 42, 290, 100));
    hint_ = MakeStatic(this, units, HintText(), 22, 149, 290, 8);

    tool_bar_ = new QToolBar(this);
    tool_bar_->setMovable(false);
    tool_bar_->setFloatable(false);
    tool_bar_->setIconSize(QSize(kToolButtonSize, kToolButtonSize));
    tool_bar_->setAccessibleName(QStringLiteral("Check tools"));
    const QImage strip = LoadWizardImage(QStringLiteral("wizard_tools.png"));
    auto add_tool = [&](int index, const QString& text, const QString& tip, int command) {
        QAction* action = tool_bar_->addAction(QIcon(QPixmap::fromImage(StripImage(strip, index, kToolButtonSize))), text);
        action->setToolTip(tip);
        action->setStatusTip(text);
        action->setData(command);
        connect(action, &QAction::triggered, this, [this, command] { Command(command); });
        return action;
    };
    // The tool tips are the part after the line break of "Check all files\nCheck All Files".
    check_all_ = add_tool(0, QStringLiteral("Check all files"), QStringLiteral("Check All Files"), kCheckAllFilesCommand);
    uncheck_all_ =
        add_tool(1, QStringLiteral("Uncheck all files"), QStringLiteral("Uncheck All Files"), kUncheckAllFilesCommand);
    tool_bar_->adjustSize();
    tool_bar_->move(shared_rect_.right() + 1 - tool_bar_->width(), shared_rect_.top() - kToolBarLift);

    for (QWidget* hidden : {static_cast<QWidget*>(busy_strip_), static_cast<QWidget*>(count_),
                            static_cast<QWidget*>(progress_), static_cast<QWidget*>(list_), static_cast<QWidget*>(hint_),
                            static_cast<QWidget*>(tool_bar_)})
        hidden->hide();

    refresh_timer_.setSingleShot(true);
    connect(&refresh_timer_, &QTimer::timeout, this, &VeWizardSearchPage::RefreshDisplay);
}

VeWizardSearchPage::~VeWizardSearchPage() {
    refresh_timer_.stop();
    // Aborts the search (waking it if paused) and waits for its thread without time-out.
    worker_.reset();
}

// A thread that has reported the end of its run is only leaving: the search is over.
bool VeWizardSearchPage::IsSearching() const { return worker_ && worker_->IsRunning() && !run_ended_; }

void VeWizardSearchPage::StartSearch(const QString& folder, bool recurse) {
    // 2.
    ResetPage();
    // 3.
    if (!worker_) worker_ = std::make_unique<FolderSearchWorker>(port_.Handle());
    if (worker_->IsRunning()) {
        // The old run goes on, unless it has already reported its end and its thread is only
        // leaving: then it is waited for, or this search would never start.
        if (!run_ended_) return;
        worker_->StopAndWait();
    }
    // 4.
    worker_->SetJob(folder.toStdString(), recurse);
    run_ended_ = false;
    // A thread that the system refuses ends the search at once, as an aborted one.
    if (!worker_->Start()) OnSearchNotify(kSearchAborted, 0);
}

void VeWizardSearchPage::ResetPage() {
    status_->clear();
    busy_strip_->hide();
    busy_strip_->Start();
    for (QWidget* widget : {static_cast<QWidget*>(progress_), static_cast<QWidget*>(count_),
                            static_cast<QWidget*>(hint_), static_cast<QWidget*>(tool_bar_), static_cast<QWidget*>(list_)})
        widget->hide();
    list_->setUpdatesEnabled(false);
    list_->Model().Clear();
    list_->setUpdatesEnabled(true);
    list_->update();
    refresh_timer_.stop();
    position_ = 0;
    analyzing_path_.clear();
    analyzing_pending_ = false;
    scroll_pending_ = false;
}

QString VeWizardSearchPage::AnalyzingText(const QString& path) const {
    static const QString prefix = QStringLiteral("Analyzing ");
    const QFontMetrics metrics(status_->font());
    const int room = std::max(0, status_->contentsRect().width() - metrics.horizontalAdvance(prefix));
    return prefix + metrics.elidedText(path, Qt::ElideMiddle, room);
}

void VeWizardSearchPage::customEvent(QEvent* event) {
    if (event->type() != static_cast<QEvent::Type>(kSearchNotify)) return QWidget::customEvent(event);
    const auto* notify = static_cast<PortEvent*>(event);
    OnSearchNotify(notify->WParam(), notify->LParam());
}

void VeWizardSearchPage::OnSearchNotify(uintptr_t code, intptr_t count) {
    switch (code) {
        case kSearchFilterBegin:
            SetStatus(QStringLiteral("Filtering files..."));
            if (busy_strip_->isHidden()) busy_strip_->show();
            break;
        case kSearchFilterProgress:
            SetStatus(FilteringText(count));
            break;
        case kSearchFilterEnd:
            SetStatus(FilteringText(count));
            busy_strip_->Stop();
            if (!busy_strip_->isHidden()) busy_strip_->hide();
            break;
        case kSearchAnalyzeBegin:
            progress_->setRange(0, static_cast<int>(std::clamp<intptr_t>(count, 0, INT32_MAX)));
            progress_->setValue(0);
            position_ = 0;
            SetStatus(QStringLiteral("Analyzing files..."));
            break;
        case kSearchAnalyzeFile: {
            // Only the latest file is shown, when the display next follows.
            const std::string current = worker_ ? worker_->CurrentFile() : std::string();
            if (!current.empty()) {
                analyzing_path_ = QString::fromStdString(current);
                analyzing_pending_ = true;
            }
            if (progress_->isHidden()) progress_->show();
            if (position_ < progress_->maximum()) ++position_;
            ScheduleRefresh();
            break;
        }
        case kSearchRecommended: {
            if (list_->isHidden()) list_->show();
            std::vector<std::string> taken;
            if (worker_ && worker_->TakeResults(taken)) {
                list_->Model().Append(std::move(taken));
                scroll_pending_ = true;
                ScheduleRefresh();
            }
            break;
        }
        case kSearchAnalyzeEnd:
            position_ = progress_->maximum();
            progress_->setValue(position_);
            break;
        case kSearchAborted:
            busy_strip_->Stop();
            if (!busy_strip_->isHidden()) busy_strip_->hide();
            SetStatus(QStringLiteral("Search aborted."));
            EndSteps(code);
            break;
        case kSearchCompleted:
            if (!busy_strip_->isHidden()) busy_strip_->hide();
            SetStatus(QStringLiteral("Search completed."));
            EndSteps(code);
            break;
        default:
            break;
    }
    emit Notified(code, count);
}

void VeWizardSearchPage::SetStatus(const QString& text) {
    // A status written now replaces any "Analyzing" line still waiting for the display.
    analyzing_pending_ = false;
    status_->setText(text);
}

void VeWizardSearchPage::ScheduleRefresh() {
    if (refresh_timer_.isActive()) return;
    const qint64 since = since_refresh_.isValid() ? since_refresh_.elapsed() : kDisplayPeriodMs;
    refresh_timer_.start(static_cast<int>(std::max<qint64>(0, kDisplayPeriodMs - since)));
}

void VeWizardSearchPage::RefreshDisplay() {
    refresh_timer_.stop();
    since_refresh_.start();
    if (progress_->value() != position_) progress_->setValue(position_);
    if (analyzing_pending_) {
        analyzing_pending_ = false;
        status_->setText(AnalyzingText(analyzing_path_));
    }
    if (scroll_pending_) {
        scroll_pending_ = false;
        const int rows = list_->Model().RowCount();
        if (rows > 0) list_->scrollTo(list_->Model().index(rows - 1, 0));
    }
}

void VeWizardSearchPage::EndSteps(uintptr_t code) {
    run_ended_ = true;
    RefreshDisplay();
    if (!progress_->isHidden()) progress_->hide();
    const int rows = list_->Model().RowCount();
    if (rows > 0) {
        tool_bar_->show();
        hint_->show();
    }
    if (count_->isHidden()) count_->show();
    count_->setText(CountText(rows));
    PortEvent forwarded(kSearchNotify, code, rows);
    QCoreApplication::sendEvent(frame_, &forwarded);
}

void VeWizardSearchPage::Command(int command) {
    if (command == kCheckAllFilesCommand) list_->SetAllChecked(true);
    if (command == kUncheckAllFilesCommand) list_->SetAllChecked(false);
}

}  // namespace chm
