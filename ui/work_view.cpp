#include "ui/work_view.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QPainter>
#include <QTimer>
#include <algorithm>
#include <utility>

#include "app/app_settings.h"
#include "app/conversion_report.h"
#include "engine/conversion_worker.h"
#include "engine/file_list_item.h"
#include "platform/message_port.h"
#include "ui/file_list_header.h"
#include "ui/file_list_model.h"
#include "ui/file_list_view.h"
#include "ui/desktop_notice.h"
#include "ui/file_manager.h"
#include "ui/getting_started_panel.h"
#include "ui/header_style.h"
#include "ui/message_box.h"
#include "ui/output_box.h"
#include "ui/search_wizard.h"
#include "ui/skin_fonts.h"
#include "ui/skin_images.h"
#include "ui/skinned_menu.h"
#include "ui/task_progress_bar.h"

namespace chm {

namespace {

constexpr QRgb kTitleColor = 0xFF2E3D4D;
constexpr QRgb kSubtitleColor = 0xFF5A6977;
constexpr QRgb kLabelColor = 0xFF2E3D4D;

// The toolbar buttons' caption line, under their pictures.
const QRect kToolbarCaption(0, 37, 76, 16);

bool IsExistingFolder(const QString& path) {
    const QFileInfo info(path);
    return !path.isEmpty() && info.exists() && info.isDir();
}

}  // namespace

QRect VeWorkView::ListRect() { return QRect(QPoint(9, 75), QPoint(731, 444) - QPoint(1, 1)); }

QRect VeWorkView::OutputBoxRect() { return QRect(QPoint(118, 464), QPoint(453, 484) - QPoint(1, 1)); }

QRect VeWorkView::ProgressBarRect() { return QRect(118, 496, 400, 18); }

const QString& VeWorkView::ProgramCaption() {
    static const QString text = QStringLiteral("Tavorin Channel Merger");
    return text;
}

const QString& VeWorkView::EmptyListMessage() {
    static const QString text = QStringLiteral("Please add one or more audio files and try again.    ");
    return text;
}

const QString& VeWorkView::ExitQuestion() {
    static const QString text = QStringLiteral("Are you sure you want to stop conversion and exit?    ");
    return text;
}

QString VeWorkView::CannotOpenFolderText(const QString& folder) { return FileManager::CannotOpenFolderText(folder); }

const QString& VeWorkView::AddFilesFilter() {
    static const QString text = QStringLiteral(
        "MP3 (*.mp3)|*.mp3|WAV (*.wav;*.pcm)|*.wav;*.pcm|WMA (*.wma)|*.wma|FLAC (*.flac)|*.flac|"
        "Ogg Vorbis (*.ogg;*.oga)|*.ogg;*.oga|Opus (*.opus)|*.opus|AAC (*.m4a)|*.m4a|AIFF (*.aif;*.aiff)|*.aif;*.aiff|"
        "All Supported Formats|*.mp3;*.wav;*.pcm;*.wma;*.flac;*.ogg;*.oga;*.opus;*.m4a;*.aif;*.aiff|");
    return text;
}

QStringList VeWorkView::AddFilesNameFilters() {
    // Qt reads a filter's patterns from the parentheses of its text, separated by blanks: each
    // entry's text keeps its words, and its patterns go in parentheses in Qt's form.
    QStringList filters;
    const QStringList parts = AddFilesFilter().split(u'|', Qt::SkipEmptyParts);
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString text = parts[i];
        if (const qsizetype open = text.indexOf(u'('); open >= 0) text = text.left(open);
        filters << text.trimmed() + QStringLiteral(" (") + parts[i + 1].split(u';').join(u' ') + u')';
    }
    return filters;
}

VeWorkView::VeWorkView(WorkViewHost* host, QWidget* parent) : QWidget(parent), host_(host) {
    setObjectName(QStringLiteral("VeWorkView"));
    notice_ = new DesktopNotice(this);
    notice_timer_ = new QTimer(this);
    notice_timer_->setInterval(500);
    connect(notice_timer_, &QTimer::timeout, this, [this] { notice_->RunProgress(overall_.Percent() / 100.0); });
}

VeWorkView::~VeWorkView() {
    // The box's value goes back to the settings; a run still going is stopped before the rows
    // it refers to go with the list.
    if (output_box_) output_box_->StoreToSettings();
    StopWorkerAndWait();
    worker_.reset();
    if (progress_bar_) progress_bar_->SetProgress(nullptr);
    overall_.SetObserver({});
}

bool VeWorkView::Create() {
    background_ = LoadSkinImage(QStringLiteral("work_view_background.png"));
    convert_images_ = ImageSet::Load(QStringLiteral("convert"));
    stop_images_ = ImageSet::Load(QStringLiteral("stop"));
    if (background_.isNull() || !convert_images_.IsComplete() || !stop_images_.IsComplete()) return false;
    setFixedSize(background_.size());

    list_ = new VeFileListView(this);
    list_->setGeometry(ListRect());
    ApplyHeaderSkin(*list_->header());
    panel_ = new GettingStartedPanel(this);
    panel_->setGeometry(ListRect());
    if (!panel_->IsComplete()) return false;

    output_box_ = new VeOutputBoxCtrlBase(this, OutputBoxRect());
    output_box_->LoadFromSettings();
    progress_bar_ = new VeTaskProgressBarCtrl(this);
    progress_bar_->setGeometry(ProgressBarRect());
    progress_bar_->SetProgress(&overall_);
    progress_bar_->hide();
    overall_.SetObserver([this] { progress_bar_->OnProgressChanged(); });

    AddButton(kAddButton, QStringLiteral("add"), QPoint(405, 6), QStringLiteral("Add files to the list"));
    AddButton(kRemoveButton, QStringLiteral("remove"), QPoint(495, 6),
              QStringLiteral("Remove the selected files from the list"));
    AddButton(kClearButton, QStringLiteral("clear"), QPoint(575, 6), QStringLiteral("Remove all files from the list"));
    AddButton(kOptionsButton, QStringLiteral("options"), QPoint(655, 6),
              QStringLiteral("Choose how the two channels become one"));
    AddButton(kBrowseButton, QStringLiteral("browse"), QPoint(458, 463), QStringLiteral("Choose the output folder"));
    AddButton(kOpenFolderButton, QStringLiteral("open_folder"), QPoint(490, 463),
              QStringLiteral("Open the output folder"));
    // Picture-only buttons: their names are what a screen reader says for them.
    buttons_[kBrowseButton]->setAccessibleName(QStringLiteral("Browse for output folder"));
    buttons_[kOpenFolderButton]->setAccessibleName(QStringLiteral("Open output folder"));
    VeImageButton* convert = AddButton(kConvertButton, QString(), QPoint(548, 461), QString());
    convert->SetImages(convert_images_);
    convert->SetCaption(QStringLiteral("Convert"), QRect(54, 0, 104, 54), Qt::white, true);
    convert->setToolTip(QStringLiteral("Convert every file in the list to mono"));
    const std::pair<int, const char*> captions[] = {
        {kAddButton, "Add"}, {kRemoveButton, "Remove"}, {kClearButton, "Clear"}, {kOptionsButton, "Options"}};
    for (const auto& [id, caption] : captions)
        buttons_[id]->SetCaption(QString::fromLatin1(caption), kToolbarCaption, QColor::fromRgba(kLabelColor));
    for (const auto& [id, button] : buttons_)
        if (!button->Images().IsComplete()) return false;
    // Initially nothing can be removed or cleared; the idle handler takes over from here.
    buttons_[kRemoveButton]->setEnabled(false);
    buttons_[kClearButton]->setEnabled(false);
    list_->SetRemovalEnabled(false);

    panel_->SetShowAtStart(AppSettings::Instance().show_getting_started);
    connect(panel_->ShowListButton(), &QAbstractButton::clicked, this, [this] { OnCommand(kShowListButton); });
    connect(panel_->ShowAtStartButton(), &QAbstractButton::clicked, this, [this] { OnCommand(kShowAtStartButton); });
    // What is dropped on the page goes the list's way.
    panel_->SetDropCheck([this](const QMimeData* data) { return list_->AcceptsDrop(data); });
    connect(panel_, &GettingStartedPanel::PathsDropped, this, [this](const QStringList& paths) { AddPaths(paths); },
            Qt::QueuedConnection);
    if (AppSettings::Instance().show_getting_started) {
        list_->hide();
    } else {
        panel_->hide();
    }
    CreateAddMenu();

    // Whenever the loop is about to wait for events, the command states catch up.
    if (auto* dispatcher = QAbstractEventDispatcher::instance(thread()))
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &VeWorkView::UpdateCommandStates);
    UpdateCommandStates();
    return true;
}

VeImageButton* VeWorkView::AddButton(int id, const QString& stem, const QPoint& position, const QString& tool_tip) {
    auto* button = new VeImageButton(id, stem.isEmpty() ? ImageSet() : ImageSet::Load(stem), this);
    button->move(position);
    button->setToolTip(tool_tip);
    connect(button, &QAbstractButton::clicked, this, [this, id] { OnCommand(id); });
    buttons_[id] = button;
    return button;
}

void VeWorkView::CreateAddMenu() {
    add_menu_ = std::make_unique<VeSkinnedMenu>(QStringLiteral("Add"));
    const auto add = [this](int id, const char* text) {
        QAction* action = add_menu_->addAction(QString::fromLatin1(text));
        action->setData(id);
        action->setObjectName(QString::number(id));
        return action;
    };
    add(kAddFilesCommand, "Add Files...");
    add(kAddFolderCommand, "Add Folder...");
    add_menu_->addSeparator();
    add(kAddBySearchCommand, "Add by Search...");
}

VeImageButton* VeWorkView::Button(int id) const {
    const auto it = buttons_.find(id);
    if (it != buttons_.end()) return it->second;
    if (panel_ && id == kShowListButton) return panel_->ShowListButton();
    if (panel_ && id == kShowAtStartButton) return panel_->ShowAtStartButton();
    return nullptr;
}

QAction* VeWorkView::MenuCommand(int id) const {
    if (!add_menu_) return nullptr;
    for (QAction* action : add_menu_->actions())
        if (!action->isSeparator() && action->data().toInt() == id) return action;
    return nullptr;
}

QString VeWorkView::EffectiveOutputFolder() const {
    const FileListModel& model = list_->Model();
    const auto path_of = [&model](int row) {
        return row >= 0 && row < model.RowCount() ? QString::fromStdString(model.Item(row).Path()) : QString();
    };
    const QModelIndex current = list_->currentIndex();
    int first_selected = -1;
    if (const QItemSelectionModel* selection = list_->selectionModel()) {
        for (const QModelIndex& index : selection->selectedRows())
            if (first_selected < 0 || index.row() < first_selected) first_selected = index.row();
    }
    return chm::EffectiveOutputFolder(output_box_->Value(), path_of(current.isValid() ? current.row() : -1),
                                      path_of(first_selected), path_of(0));
}

void VeWorkView::OnCommand(int id) {
    switch (id) {
        case kAddButton: OpenAddMenu(); break;
        case kRemoveButton: list_->RemoveSelected(); break;
        case kClearButton: list_->Clear(true); break;
        case kOptionsButton:
            if (host_) host_->ShowOptions();
            break;
        case kBrowseButton: output_box_->Browse(buttons_[kBrowseButton]); break;
        case kConvertButton: OnConvertButton(); break;
        case kOpenFolderButton: OpenOutputFolder(); break;
        case kShowListButton: ShowFileList(); break;
        case kShowAtStartButton: ToggleShowAtStart(); break;
        case kAddFilesCommand: AddFiles(); break;
        case kAddFolderCommand: AddFolder(); break;
        case kAddBySearchCommand: AddBySearch(); break;
        default: break;
    }
}

void VeWorkView::OpenAddMenu() {
    VeImageButton* button = buttons_[kAddButton];
    QAction* chosen = TrackSkinnedMenu(*add_menu_, button->mapToGlobal(QPoint(0, button->height())));
    if (chosen && chosen->isEnabled()) OnCommand(chosen->data().toInt());
}

int VeWorkView::AddPaths(const QStringList& paths, const std::string& found_under) {
    const int added = list_->AddPaths(paths, found_under);
    if (added > 0 && list_->isHidden()) ShowFileList();
    return added;
}

void VeWorkView::AddFiles() {
    QFileDialog dialog(window());
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    const QStringList filters = AddFilesNameFilters();
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.last());
    if (dialog.exec() != QDialog::Accepted) return;
    AddPaths(dialog.selectedFiles());
}

// The checked recommendations go through the ordinary add path, with its filter and questions.
void VeWorkView::AddBySearch() {
    QString folder;
    const QStringList paths = RunSearchWizard(this, &folder);
    if (!paths.isEmpty()) AddPaths(paths, folder.toStdString());
}

void VeWorkView::AddFolder() {
    std::string& added_folder = AppSettings::Instance().added_folder;
    const QString start = QString::fromStdString(added_folder);
    const QString folder = QFileDialog::getExistingDirectory(window(), VeOutputBoxCtrlBase::BrowsePrompt(),
                                                             IsExistingFolder(start) ? start : QString(),
                                                             QFileDialog::ShowDirsOnly);
    if (!IsExistingFolder(folder)) return;
    added_folder = folder.toStdString();
    AddPaths(QStringList{folder});
}

void VeWorkView::OpenOutputFolder() {
    const QString folder = EffectiveOutputFolder();
    if (IsExistingFolder(folder)) FileManager::OpenFolder(folder, this);
    else FileManager::TellCannotOpenFolder(this, folder);
}

void VeWorkView::ShowFileList() {
    panel_->hide();
    list_->show();
}

void VeWorkView::ToggleShowAtStart() {
    bool& show = AppSettings::Instance().show_getting_started;
    show = !show;
    panel_->SetShowAtStart(show);
}

void VeWorkView::OnConvertButton() {
    if (busy_) StopConversion();
    else StartConversion();
}

void VeWorkView::StartConversion() {
    // 1. Also before the started notice has arrived: a second start must not restart the
    //    thread of the run already going.
    if (busy_ || (worker_ && worker_->IsRunning())) return;
    FileListModel& model = list_->Model();
    // 2.
    if (model.RowCount() == 0) {
        ShowCenteredMessageBox(this, EmptyListMessage(), ProgramCaption(), kMbOk | kMbIconInformation);
        return;
    }
    // 3.
    if (!output_box_->ValidateForStart(this)) return;
    // 4.
    list_->scrollTo(model.index(0, 0));
    overall_.Reset(static_cast<uint32_t>(model.RowCount()));
    // 5. The list rebuilds its id map before any row reports.
    model.Handle().Send(kTaskListPrepare, 0, 0);
    // 6.
    if (!worker_) worker_ = std::make_unique<ConversionWorker>(port_.Handle());
    const QString folder = output_box_->Value();
    const std::vector<FileListItem*> items = model.ItemsInDisplayOrder();
    worker_->Job().Fill(items, folder.toStdString(), AppSettings::Instance().conversion_method,
                        AppSettings::Instance().keep_dates, AppSettings::Instance().keep_tree);
    // 7.
    if (folder.isEmpty() || IsExistingFolder(folder)) worker_->Start();
}

void VeWorkView::StopConversion() {
    if (!worker_ || !worker_->IsRunning()) return;
    worker_->Abort();
    buttons_[kConvertButton]->setEnabled(false);
    TellHost(kFrameAbortRequested);
}

bool VeWorkView::CanClose() {
    if (!busy_) return true;
    asking_to_exit_ = true;
    const bool leave = ShowCenteredMessageBox(this, ExitQuestion(), QStringLiteral("Confirm Exit"),
                                              kMbYesNo | kMbIconQuestion | kMbDefButton2) == kIdYes;
    asking_to_exit_ = false;
    // The report comes once the question has gone, not over it.
    if (std::exchange(report_held_, false) && !leave)
        QMetaObject::invokeMethod(this, &VeWorkView::ShowReport, Qt::QueuedConnection);
    return leave;
}

void VeWorkView::StopWorkerAndWait() {
    if (worker_ && worker_->IsRunning()) worker_->StopAndWait();
}

void VeWorkView::UpdateCommandStates() {
    if (!list_) return;
    const bool selected = list_->selectionModel() && list_->selectionModel()->hasSelection();
    const bool remove = !busy_ && selected;
    buttons_[kRemoveButton]->setEnabled(remove);
    list_->SetRemovalEnabled(remove);
    buttons_[kClearButton]->setEnabled(!busy_ && list_->Model().RowCount() > 0);
    buttons_[kOpenFolderButton]->setEnabled(!EffectiveOutputFolder().isEmpty());
}

void VeWorkView::customEvent(QEvent* event) {
    if (event->type() == static_cast<QEvent::Type>(kTaskNotify)) {
        OnTaskNotify(static_cast<PortEvent*>(event)->WParam());
        return;
    }
    QWidget::customEvent(event);
}

void VeWorkView::OnTaskNotify(uintptr_t code) {
    switch (code) {
        case kTaskRunStarted:
            if (!busy_) EnterBusy();
            return;
        case kTaskFileFinished:
            if (busy_) overall_.Advance(1);
            return;
        case kTaskRunCompleted:
            overall_.Complete();
            break;
        case kTaskRunEnded:
            overall_.Cancel();
            break;
        default:
            return;
    }
    notice_timer_->stop();
    const auto [converted, failed] = RunCounts();
    notice_->RunEnded(converted, failed);
    if (busy_) LeaveBusy();
    list_->Model().Handle().Send(kTaskNotify, code, 0);
    if (code != kTaskRunCompleted || !AppSettings::Instance().show_conversion_report) return;
    if (asking_to_exit_) report_held_ = true;
    else ShowReport();
}

void VeWorkView::EnterBusy() {
    busy_ = true;
    for (int id : {kAddButton, kRemoveButton, kClearButton, kOptionsButton, kBrowseButton})
        buttons_[id]->setEnabled(false);
    list_->SetBusy(true);
    output_box_->SetReadOnly(true);
    progress_bar_->show();
    progress_bar_->SetAnimation(true);
    VeImageButton* convert = buttons_[kConvertButton];
    convert->SetImages(stop_images_);
    convert->SetCaption(QStringLiteral("Stop"), QRect(54, 0, 104, 54), Qt::white, true);
    convert->setToolTip(QStringLiteral("Stop the conversion"));
    showing_stop_ = true;
    update();  // the bar's label
    notice_->RunStarted();
    notice_timer_->start();
    TellHost(kFrameConversionStarted);
}

void VeWorkView::LeaveBusy() {
    busy_ = false;
    const bool selected = list_->selectionModel() && list_->selectionModel()->hasSelection();
    buttons_[kAddButton]->setEnabled(true);
    buttons_[kRemoveButton]->setEnabled(selected);
    buttons_[kClearButton]->setEnabled(list_->Model().RowCount() > 0);
    buttons_[kOptionsButton]->setEnabled(true);
    buttons_[kBrowseButton]->setEnabled(true);
    list_->SetBusy(false);
    output_box_->SetReadOnly(false);
    progress_bar_->SetAnimation(false);
    progress_bar_->setVisible(overall_.Done() != 0);
    VeImageButton* convert = buttons_[kConvertButton];
    convert->SetImages(convert_images_);
    convert->SetCaption(QStringLiteral("Convert"), QRect(54, 0, 104, 54), Qt::white, true);
    convert->setToolTip(QStringLiteral("Convert every file in the list to mono"));
    convert->setEnabled(true);
    showing_stop_ = false;
    update();
    TellHost(kFrameConversionEnded);
}

std::pair<int, int> VeWorkView::RunCounts() const {
    const FileListModel& model = list_->Model();
    int converted = 0;
    int failed = 0;
    for (int row = 0; row < model.RowCount(); ++row) {
        const RowProgress& progress = model.Item(row).Progress();
        if (progress.Total() > 0 && progress.Done() == progress.Total()) ++converted;
        if (progress.IsFailed() && !progress.IsCancelled()) ++failed;
    }
    return {converted, failed};
}

void VeWorkView::ShowReport() {
    const FileListModel& model = list_->Model();
    int converted = 0;
    QStringList failed;
    const QString folder = QDir::cleanPath(EffectiveOutputFolder());
    QString output_to_show;  // the first output in the folder the report opens
    for (int row = 0; row < model.RowCount(); ++row) {
        const FileListItem& item = model.Item(row);
        const RowProgress& progress = item.Progress();
        if (progress.Total() > 0 && progress.Done() == progress.Total()) {
            ++converted;
            const QString output = QString::fromStdString(item.OutputPath());
            if (output_to_show.isEmpty() && !output.isEmpty() && QDir::cleanPath(FileManager::FolderOf(output)) == folder)
                output_to_show = output;
        }
        if (progress.IsFailed() && !progress.IsCancelled())
            failed << QString::fromStdString(item.Name() + ": " + progress.FailureReason());
    }
    ShowConversionReport(model.RowCount(), converted, EffectiveOutputFolder(), QApplication::activeWindow(), failed,
                         output_to_show);
}

void VeWorkView::TellHost(uintptr_t code) {
    if (host_) host_->OnTaskNotify(code);
}

void VeWorkView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), background_);
    painter.setPen(QColor::fromRgba(kTitleColor));
    painter.setFont(GetSkinFont(SkinFont::kRegular14));
    painter.drawText(QRect(68, 15, 320, 18), Qt::AlignLeft | Qt::AlignVCenter, ProgramCaption());
    painter.setPen(QColor::fromRgba(kSubtitleColor));
    painter.setFont(GetSkinFont(SkinFont::kRegular13));
    // The formats alone: with "Stereo ... to mono" around them they no longer fit the 320 pixels.
    painter.drawText(QRect(68, 35, 320, 16), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("MP3, WAV, WMA, FLAC, Ogg, Opus, AAC, AIFF"));
    painter.setPen(QColor::fromRgba(kLabelColor));
    painter.drawText(QRect(16, 464, 96, 20), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("Output folder:"));
    if (progress_bar_ && progress_bar_->isVisible())
        painter.drawText(QRect(16, ProgressBarRect().top(), 96, ProgressBarRect().height()),
                         Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("Progress:"));
}

}  // namespace chm
