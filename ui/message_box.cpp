#include "ui/message_box.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <algorithm>
#include <mutex>

namespace chm {

namespace {

std::recursive_mutex& MessageBoxLock() {
    // Recursive like a critical section: a box may open while another one runs its loop on
    // the same thread.
    static std::recursive_mutex lock;
    return lock;
}

QRect AvailableArea(const QWidget* widget) {
    const QScreen* screen = widget->screen();
    if (!screen) screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

void CentreDialog(QWidget* dialog) {
    const QWidget* owner = dialog->parentWidget() ? dialog->parentWidget()->window() : nullptr;
    const QRect area = owner ? owner->frameGeometry() : AvailableArea(dialog);
    if (area.isEmpty()) return;
    const QSize size = dialog->frameGeometry().size();
    QPoint top_left(area.left() + (area.width() - size.width()) / 2, area.top() + (area.height() - size.height()) / 2);
    // Like the system's own centring, keep the whole box on the owner's screen.
    const QRect screen = AvailableArea(owner ? owner : dialog);
    if (!screen.isEmpty()) {
        top_left.setX(std::clamp(top_left.x(), screen.left(), std::max(screen.left(), screen.right() + 1 - size.width())));
        top_left.setY(std::clamp(top_left.y(), screen.top(), std::max(screen.top(), screen.bottom() + 1 - size.height())));
    }
    dialog->move(top_left);
}

// Stays with one dialog from its first show until it is first painted. A message box takes
// its final size while it handles its own show event, after the hook has seen it; every
// resize until the window is really on the screen moves it back to the centre.
class DialogCentring : public QObject {
public:
    explicit DialogCentring(QWidget* dialog) : QObject(dialog), dialog_(dialog) {
        dialog->installEventFilter(this);
        CentreDialog(dialog);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != dialog_) return false;
        switch (event->type()) {
            case QEvent::Resize:
                CentreDialog(dialog_);
                break;
            case QEvent::Paint:
            case QEvent::Hide:
                dialog_->removeEventFilter(this);
                deleteLater();
                break;
            default:
                break;
        }
        return false;
    }

private:
    QWidget* dialog_;
};

QMessageBox::Icon IconOf(uint32_t style) {
    switch (style & 0xF0) {
        case kMbIconHand: return QMessageBox::Critical;
        case kMbIconQuestion: return QMessageBox::Question;
        case kMbIconExclamation: return QMessageBox::Warning;
        case kMbIconInformation: return QMessageBox::Information;
        default: return QMessageBox::NoIcon;
    }
}

// The buttons in the order that the default-button bits count them.
std::vector<QMessageBox::StandardButton> ButtonsOf(uint32_t style) {
    switch (style & 0x0F) {
        case kMbOkCancel: return {QMessageBox::Ok, QMessageBox::Cancel};
        case kMbYesNoCancel: return {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel};
        case kMbYesNo: return {QMessageBox::Yes, QMessageBox::No};
        default: return {QMessageBox::Ok};
    }
}

// The button's text as it is read out: mnemonic markers removed, "&&" kept as "&".
QString WithoutMnemonic(const QString& text) {
    QString plain;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'&') {
            if (i + 1 < text.size() && text[i + 1] == u'&') plain += u'&';
            else continue;
            ++i;
            continue;
        }
        plain += text[i];
    }
    return plain;
}

int ResultOf(QMessageBox::StandardButton button) {
    switch (button) {
        case QMessageBox::Ok: return kIdOk;
        case QMessageBox::Cancel: return kIdCancel;
        case QMessageBox::Yes: return kIdYes;
        case QMessageBox::No: return kIdNo;
        default: return 0;
    }
}

// The answer when the box was closed without a button: what Escape gives.
int ClosedResult(const std::vector<QMessageBox::StandardButton>& buttons) {
    if (std::find(buttons.begin(), buttons.end(), QMessageBox::Cancel) != buttons.end()) return kIdCancel;
    if (std::find(buttons.begin(), buttons.end(), QMessageBox::No) != buttons.end()) return kIdNo;
    return kIdOk;
}

}  // namespace

bool MessageBoxCentring::OnWindowCreated(QWidget* window) {
    if (!qobject_cast<QDialog*>(window)) return false;
    const QObjectList& children = window->children();
    const bool centring = std::any_of(children.begin(), children.end(),
                                      [](QObject* child) { return dynamic_cast<DialogCentring*>(child) != nullptr; });
    // The centring object is a child of the dialog and goes with it at the latest.
    if (!centring) new DialogCentring(window);
    return false;
}

int ShowCenteredMessageBox(QWidget* owner, const QString& text, const QString& caption, uint32_t style) {
    if (!qApp || QThread::currentThread() != qApp->thread()) return 0;
    std::lock_guard lock(MessageBoxLock());
    MessageBoxCentring centring;

    QMessageBox box(owner);
    box.setWindowTitle(caption);
    box.setTextFormat(Qt::PlainText);  // shown as written: no markup guess, blanks kept
    box.setText(text);
    box.setIcon(IconOf(style));
    const auto buttons = ButtonsOf(style);
    for (QMessageBox::StandardButton button : buttons) {
        QPushButton* added = box.addButton(button);
        added->setAccessibleName(WithoutMnemonic(added->text()));
    }
    const size_t default_index = (style & 0xF00) >> 8;
    box.setDefaultButton(buttons[std::min(default_index, buttons.size() - 1)]);

    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    const int result = clicked ? ResultOf(box.standardButton(clicked)) : 0;
    return result != 0 ? result : ClosedResult(buttons);
}

}  // namespace chm
