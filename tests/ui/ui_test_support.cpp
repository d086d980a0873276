#include "tests/ui/ui_test_support.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdlib>
#include <QAbstractButton>
#include <QAccessible>
#include <QLabel>
#include <memory>
#include <string_view>

namespace chm::test {

NoDesktopHandlers::NoDesktopHandlers() {
    for (const char* name :
         {"PATH", "XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID"})
        saved_.emplace_back(name, qgetenv(name));
    qputenv("PATH", empty_.path().toLocal8Bit());
    for (const auto& [name, value] : saved_)
        if (std::string_view(name) != "PATH") qunsetenv(name);
}

NoDesktopHandlers::~NoDesktopHandlers() {
    for (const auto& [name, value] : saved_) {
        if (value.isNull()) qunsetenv(name);
        else qputenv(name, value);
    }
}

void ReadMessageBox(QWidget* modal, SeenMessage& seen) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (!box) {
        modal->close();
        return;
    }
    seen.seen = true;
    seen.text = box->text();
    seen.title = box->windowTitle();
    seen.icon = box->icon();
    seen.owner = box->parentWidget();
    box->buttons().first()->click();
}

namespace {

bool IsOperable(QAccessible::Role role) {
    switch (role) {
        case QAccessible::PushButton:
        case QAccessible::CheckBox:
        case QAccessible::RadioButton:
        case QAccessible::ComboBox:
        case QAccessible::EditableText:
        case QAccessible::SpinBox:
        case QAccessible::Slider:
        case QAccessible::ProgressBar:
        case QAccessible::ButtonMenu:
        case QAccessible::ButtonDropDown:
        case QAccessible::Link:
        case QAccessible::List:
        case QAccessible::Table:
        case QAccessible::Tree:
        case QAccessible::Dialog:
        case QAccessible::Window: return true;
        default: return false;
    }
}

void WalkAccessible(QAccessibleInterface* node, const QString& path, QStringList& faults) {
    if (!node || !node->isValid() || node->state().invisible) return;
    QObject* object = node->object();
    const QString name = node->text(QAccessible::Name);
    const QString where = path + u'/' + (object ? QString::fromLatin1(object->metaObject()->className()) : QString()) +
                          u'#' + (object ? object->objectName() : QString()) +
                          QStringLiteral("(role %1)").arg(node->role());
    if ((IsOperable(node->role()) || node->state().focusable) && name.trimmed().isEmpty())
        faults << where + QStringLiteral(": no name");
    if (auto* label = qobject_cast<QLabel*>(object); label && name != label->text())
        faults << where + QStringLiteral(": reads \"%1\" but shows \"%2\"").arg(name, label->text());
    const QAccessible::Role role = node->role();
    if (role == QAccessible::List || role == QAccessible::Table || role == QAccessible::Tree) return;
    for (int i = 0; i < node->childCount(); ++i) WalkAccessible(node->child(i), where, faults);
}

}  // namespace

QStringList AccessibilityFaults(QWidget* root) {
    QStringList faults;
    WalkAccessible(QAccessible::queryAccessibleInterface(root), QString(), faults);
    return faults;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeout.count()) return condition();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

ModalAnswer::ModalAnswer(Handler answer, std::chrono::milliseconds timeout)
    : answered_(std::make_shared<bool>(false)), alive_(std::make_shared<bool>(true)) {
    auto poll = std::make_shared<std::function<void()>>();
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    std::weak_ptr<std::function<void()>> weak_poll = poll;
    *poll = [answered = answered_, alive = alive_, answer, timeout, clock, weak_poll] {
        if (!*alive) return;
        if (QWidget* modal = QApplication::activeModalWidget(); modal && modal->isVisible()) {
            *answered = true;
            answer(modal);
            return;
        }
        if (clock->elapsed() > timeout.count()) {
            // Nobody answered in time: close what is open so that the test fails instead of
            // hanging in a modal loop.
            for (QWidget* top : QApplication::topLevelWidgets())
                if (auto* dialog = qobject_cast<QDialog*>(top); dialog && dialog->isVisible()) dialog->reject();
            return;
        }
        if (auto next = weak_poll.lock()) QTimer::singleShot(10, [next] { (*next)(); });
    };
    QTimer::singleShot(0, [poll] { (*poll)(); });
}

ModalAnswer::~ModalAnswer() { *alive_ = false; }

bool ShowAndActivate(QWidget* window) {
    window->show();
    window->activateWindow();
    QApplication::setActiveWindow(window);
    return WaitFor([window] { return window->isVisible() && window->isActiveWindow(); });
}

bool NearColor(QRgb a, QRgb b, int tolerance) {
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

}  // namespace chm::test
