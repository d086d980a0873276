#pragma once
#include <QApplication>
#include <QColor>
#include <QImage>
#include <QWidget>
#include <chrono>
#include <functional>

namespace chm::test {

// Runs the event loop until `condition` holds or `timeout` passes; the condition's last value.
bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Arranges for `answer` to run on the next modal widget of type T that becomes active (found
// by polling QApplication::activeModalWidget from the event loop, so it runs inside the
// modal loop). If none appears within the time-out, `answered` stays false.
class ModalAnswer {
public:
    using Handler = std::function<void(QWidget*)>;
    explicit ModalAnswer(Handler answer, std::chrono::milliseconds timeout = std::chrono::seconds(20));
    ~ModalAnswer();
    ModalAnswer(const ModalAnswer&) = delete;
    ModalAnswer& operator=(const ModalAnswer&) = delete;

    bool Answered() const { return *answered_; }

private:
    std::shared_ptr<bool> answered_;
    std::shared_ptr<bool> alive_;
};

// Shows `window` and makes it the active window, waiting until it is.
bool ShowAndActivate(QWidget* window);

// Compares colours channel by channel within `tolerance`.
bool NearColor(QRgb a, QRgb b, int tolerance);

}  // namespace chm::test
