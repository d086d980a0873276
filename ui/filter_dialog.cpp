#include "ui/filter_dialog.h"

#include <QApplication>
#include <QEventLoop>
#include <QFontMetrics>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <utility>

#include "ui/dialog_units.h"
#include "ui/message_box.h"
#include "ui/window_input_block.h"

namespace chm {

FilterBusyStrip::FilterBusyStrip(QWidget* parent) : QWidget(parent) {
    timer_.setInterval(kPeriodMs);
    connect(&timer_, &QTimer::timeout, this, &FilterBusyStrip::Step);
}

void FilterBusyStrip::Start() {
    offset_ = 0;
    timer_.start();
    update();
}

void FilterBusyStrip::Stop() {
    timer_.stop();
    update();
}

void FilterBusyStrip::Step() {
    // The band enters at the left edge and leaves at the right, then starts again.
    const int band = width() / 3;
    offset_ += std::max(2, width() / 40);
    if (offset_ > width() + band) offset_ = 0;
    update();
}

void FilterBusyStrip::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    const QRect outer = rect();
    const QColor face = palette().color(QPalette::Button);
    // A 1-pixel sunken edge: shadow at the top and left, light at the bottom and right.
    painter.fillRect(outer, face);
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawLine(outer.topLeft(), outer.topRight());
    painter.drawLine(outer.topLeft(), outer.bottomLeft());
    painter.setPen(palette().color(QPalette::Light));
    painter.drawLine(outer.bottomLeft(), outer.bottomRight());
    painter.drawLine(outer.topRight(), outer.bottomRight());
    if (!timer_.isActive()) return;
    const QRect inside = outer.adjusted(1, 1, -1, -1);
    const int band = inside.width() / 3;
    const QRect strip(inside.left() + offset_ - band, inside.top(), band, inside.height());
    QLinearGradient shade(strip.topLeft(), strip.topRight());
    shade.setColorAt(0.0, face);
    shade.setColorAt(0.5, Qt::white);
    shade.setColorAt(1.0, face);
    painter.setClipRect(inside);
    painter.fillRect(strip, shade);
}

const QString& FilterDialog::Caption() {
    static const QString caption = QStringLiteral("Filtering Files...");
    return caption;
}

const QString& FilterDialog::CancelQuestion() {
    static const QString text = QStringLiteral("Cancel file filtering?\n\nIf you click Yes, no files will be added.     ");
    return text;
}

FilterDialog::FilterDialog(QWidget* owner, std::vector<std::string> paths, std::set<std::string> keys)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                         Qt::MSWindowsFixedSizeDialogHint),
      worker_(port_.Handle(), std::move(paths), std::move(keys)) {
    setWindowTitle(Caption());
    setModal(true);
    setFont(DialogUnits::ShellDlgFont());
    const DialogUnits units(font());
    setFixedSize(units.X(178), units.Y(50));

    busy_strip_ = new FilterBusyStrip(this);
    busy_strip_->setGeometry(units.Rect(9, 9, 160, 12));
    busy_strip_->setAccessibleName(QStringLiteral("Filtering"));

    queued_label_ = new QLabel(QStringLiteral("Queued: "), this);
    queued_label_->setGeometry(units.Rect(11, 29, 28, 8));
    queued_label_->setAccessibleName(QStringLiteral("Queued"));

    count_label_ = new QLabel(this);
    count_label_->setGeometry(units.Rect(45, 29, 35, 8));
    count_label_->setAccessibleName(QStringLiteral("Queued files"));

    cancel_button_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_button_->setGeometry(units.Rect(119, 27, 50, 14));
    cancel_button_->setAccessibleName(QStringLiteral("Cancel"));
    connect(cancel_button_, &QPushButton::clicked, this, &FilterDialog::reject);

    timer_.setInterval(kTimerPeriodMs);
    connect(&timer_, &QTimer::timeout, this, &FilterDialog::OnTimer);
}

FilterDialog::~FilterDialog() {
    // 6.
    timer_.stop();
    worker_.StopAndWait();
}

int FilterDialog::Run() {
    if (closed_) return result();  // a dialog runs once
    // 1.
    CentreOnOwner();
    timer_.start();
    if (!worker_.Start()) return QDialog::Rejected;
    // The dialog is modal from here on even while hidden: the owner's input is blocked by hand
    // until it shows (a hidden dialog blocks nothing by itself), and a loop of its own runs until
    // it ends, since QDialog::exec would show it at once.
    const WindowInputBlock owner_blocked(parentWidget() ? parentWidget()->window() : nullptr);
    QEventLoop loop;
    connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
    if (!closed_) loop.exec(QEventLoop::DialogExec);
    return result();
}

std::vector<std::string> FilterDialog::TakeAccepted() {
    // The end hook may still be running on the worker's thread.
    worker_.StopAndWait();
    return worker_.TakeOutput();
}

QString FilterDialog::QueuedText() const { return count_label_->text(); }

void FilterDialog::CentreOnOwner() {
    QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
    const QRect area = owner ? owner->frameGeometry()
                             : (screen() ? screen()->availableGeometry() : QRect(0, 0, width(), height()));
    move(area.center() - QPoint(width() / 2, height() / 2));
}

void FilterDialog::setVisible(bool visible) {
    // 2. Showing is refused until the hidden ticks have passed.
    if (visible && hidden_count_ < kHiddenTicks) return;
    QDialog::setVisible(visible);
}

void FilterDialog::OnTimer() {
    ++ticks_;
    // 2.
    if (hidden_count_ < kHiddenTicks) {
        ++hidden_count_;
        return;
    }
    if (isVisible() || closed_) return;
    show();
    if (isMinimized()) showNormal();
    raise();
    activateWindow();
    shown_at_tick_ = ticks_;
    busy_strip_->Start();
}

void FilterDialog::customEvent(QEvent* event) {
    if (event->type() != static_cast<QEvent::Type>(kFilterNotify)) return QDialog::customEvent(event);
    const auto* notify = static_cast<PortEvent*>(event);
    OnFilterNotify(notify->WParam(), notify->LParam());
}

void FilterDialog::OnFilterNotify(uintptr_t code, intptr_t count) {
    // After a cancel the dialog has ended; what the worker still posts has no effect.
    if (closed_) return;
    if (code == kFilterProgress) {
        // 3.
        const QString text = QString::number(count);
        if (isEnabled() && count_label_->text() != text) count_label_->setText(text);
        return;
    }
    if (code != kFilterFinished) return;
    // 4. While the cancel question is open the answer decides: Yes still adds nothing.
    if (asking_) {
        finished_while_asking_ = true;
        return;
    }
    Finish(QDialog::Accepted);
}

void FilterDialog::reject() {
    // 5.
    if (closed_ || asking_) return;
    if (!worker_.IsRunning()) {
        Finish(QDialog::Rejected);
        return;
    }
    worker_.Pause();
    asking_ = true;
    const int answer = ShowCenteredMessageBox(this, CancelQuestion(), QStringLiteral("Confirm Cancel"),
                                              kMbYesNo | kMbIconQuestion | kMbDefButton2);
    asking_ = false;
    if (answer == kIdYes) {
        worker_.Abort();
        Finish(QDialog::Rejected);
        return;
    }
    worker_.Resume();
    // The filter ended while the question was open; No lets its result stand.
    if (finished_while_asking_) Finish(QDialog::Accepted);
}

void FilterDialog::Abandon() {
    worker_.Abort();
    Finish(QDialog::Rejected);
}

void FilterDialog::Finish(int result) {
    if (closed_) return;
    closed_ = true;
    timer_.stop();
    busy_strip_->Stop();
    done(result);
}

}  // namespace chm
