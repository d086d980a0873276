#include "app/main_frame.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTimerEvent>
#include <utility>

#include "app/app_settings.h"
#include "app/options_dialog.h"
#include "ui/file_list_view.h"
#include "ui/skin_images.h"

namespace chm {

namespace {

// The spinner of the title, shared by every run of the process.
int g_spinner_counter = 0;

std::unique_ptr<MainFrame>& Holder() {
    static std::unique_ptr<MainFrame> frame;
    return frame;
}

QRect WorkArea() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

}  // namespace

VeViewBase::VeViewBase(WorkViewHost* host, QWidget* parent) : QWidget(parent), host_(host) {
    setObjectName(QStringLiteral("VeViewBase"));
}

bool VeViewBase::Create() {
    view_ = new VeWorkView(host_, this);  // a child of the container, goes with it
    if (!view_->Create()) return false;
    resize(view_->size());
    view_->setGeometry(rect());
    return true;
}

void VeViewBase::resizeEvent(QResizeEvent*) {
    if (view_) view_->setGeometry(rect());
}

const QString& MainFrame::NormalTitle() {
    static const QString text = QStringLiteral("Tavorin Channel Merger");
    return text;
}

QString MainFrame::AnimatedTitle(TitleMode mode, int spinner) {
    const QString text =
        mode == TitleMode::kAborting ? QStringLiteral("Tavorin - Aborting...  ") : QStringLiteral("Tavorin - Converting...  ");
    return text + SpinnerCharacter(spinner);
}

int MainFrame::SpinnerCounter() { return g_spinner_counter; }

QChar MainFrame::SpinnerCharacter(int index) {
    static const QChar characters[4] = {u'-', u'\\', u'|', u'/'};
    return characters[((index % 4) + 4) % 4];
}

QPoint MainFrame::FirstPlace(QPoint stored, QSize size, const QRect& work_area) {
    const QRect moved(stored, size);
    // 2.
    if (work_area.contains(moved)) return stored;
    // 3.
    if (moved.left() < work_area.left() || moved.top() < work_area.top())
        return QPoint(work_area.left() + (work_area.width() - size.width()) / 2,
                      work_area.top() + (work_area.height() - size.height()) / 2);
    return stored;
}

MainFrame& MainFrame::Instance() {
    auto& frame = Holder();
    if (!frame) frame.reset(new MainFrame);
    return *frame;
}

MainFrame* MainFrame::Existing() { return Holder().get(); }

void MainFrame::DestroyInstance() { Holder().reset(); }

MainFrame::MainFrame() : QWidget(nullptr, Qt::Window) {
    setObjectName(QStringLiteral("MainFrame"));
    setWindowTitle(NormalTitle());
    setWindowIcon(QIcon(QPixmap::fromImage(LoadSkinImage(QStringLiteral("program_icon_256.png")))));
}

MainFrame::~MainFrame() { DestroyWindow(); }

bool MainFrame::Create() {
    if (created_ || destroyed_) return created_;
    // 1. The work view takes its start values from the settings.
    AppSettings::Instance().Load();
    // 2. A fixed size that cannot be maximised.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    // 3.
    view_base_ = std::make_unique<VeViewBase>(this, this);
    if (!view_base_->Create()) {
        view_base_.reset();
        return false;
    }
    // A close that came during an add is made once the add has returned.
    connect(WorkView()->FileList(), &VeFileListView::AddingEnded, this, [this] {
        if (std::exchange(close_after_add_, false)) close();
    }, Qt::QueuedConnection);
    setFixedSize(view_base_->size());
    view_base_->move(0, 0);
    // 4.
    setWindowTitle(NormalTitle());
    view_base_->show();
    created_ = true;
    return true;
}

void MainFrame::setVisible(bool visible) {
    // The first showing puts the window where it was last time.
    if (visible && !isVisible() && !shown_once_) {
        shown_once_ = true;
        RestorePosition();
    }
    QWidget::setVisible(visible);
}

void MainFrame::RestorePosition() {
    const AppSettings& settings = AppSettings::Instance();
    const QPoint stored(settings.main_frame_x, settings.main_frame_y);
    // The window's own rectangle, its frame included as far as the platform knows it.
    if (!testAttribute(Qt::WA_WState_Created)) create();
    move(FirstPlace(stored, frameGeometry().size(), WorkArea()));
}

void MainFrame::OnTaskNotify(uintptr_t code) {
    switch (code) {
        case kFrameConversionStarted:
            title_mode_ = TitleMode::kConverting;
            if (!destroyed_) StartTitleTimer();  // the title changes at the first tick
            break;
        case kFrameAbortRequested:
            title_mode_ = TitleMode::kAborting;
            break;
        case kFrameConversionEnded:
            title_mode_ = TitleMode::kConverting;
            StopTitleTimer();
            setWindowTitle(NormalTitle());
            break;
        default:
            break;
    }
}

void MainFrame::StartTitleTimer() {
    if (title_timer_ == 0) title_timer_ = startTimer(kTitlePeriodMs);
}

void MainFrame::StopTitleTimer() {
    if (title_timer_ == 0) return;
    killTimer(title_timer_);
    title_timer_ = 0;
}

void MainFrame::timerEvent(QTimerEvent* event) {
    if (title_timer_ == 0 || event->timerId() != title_timer_) {
        QWidget::timerEvent(event);
        return;
    }
    g_spinner_counter = (g_spinner_counter + 1) % 4;
    setWindowTitle(AnimatedTitle(title_mode_, g_spinner_counter));
}

void MainFrame::ShowOptions() {
    OptionsDialog dialog(this);
    dialog.exec();
}

void MainFrame::closeEvent(QCloseEvent* event) {
    VeWorkView* view = WorkView();
    // An add that is filtering runs inside this very event's loop and uses the list: it is
    // ended first, and the close comes again once it has returned.
    if (!destroyed_ && view && view->FileList()->IsAdding()) {
        event->ignore();
        close_after_add_ = true;
        view->FileList()->CancelAdding();
        return;
    }
    // 1. A running conversion is stopped only when the user says so.
    if (destroyed_ || (view && !view->CanClose())) {
        event->ignore();
        return;
    }
    event->accept();
    // 2.
    hide();
    // 3. The current file ends as cancelled and its partial output is deleted first.
    if (view) view->StopWorkerAndWait();
    // 4.
    DestroyWindow();
}

void MainFrame::DestroyWindow() {
    if (destroyed_ || !created_) return;
    destroyed_ = true;
    OnDestroy();
    // The children go: the work view stores the output folder and stops its worker.
    view_base_.reset();
    OnNcDestroy();
}

void MainFrame::OnDestroy() {
    StopTitleTimer();
    // The normal (not minimised) place of the window, in screen coordinates.
    QPoint place = frameGeometry().topLeft();
    if (isMinimized()) place = normalGeometry().topLeft() - (geometry().topLeft() - frameGeometry().topLeft());
    AppSettings& settings = AppSettings::Instance();
    settings.main_frame_x = place.x();
    settings.main_frame_y = place.y();
    // The loop ends with 1 once this event is done.
    QCoreApplication::exit(1);
}

void MainFrame::OnNcDestroy() { AppSettings::Instance().Save(); }

}  // namespace chm
