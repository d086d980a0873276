#include "tests/ui/ui_test_support.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdlib>
#include <memory>

namespace chm::test {

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
