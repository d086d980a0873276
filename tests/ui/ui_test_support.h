#pragma once
#include <QApplication>
#include <QColor>
#include <QImage>
#include <QStringList>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QWidget>
#include <chrono>
#include <functional>
#include <ostream>

// Failing expectations on texts print them readably.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

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

// While it lives the desktop offers no handler for opening files or folders: PATH names an
// empty folder (no xdg-open, no file manager) and no desktop session is named.
class NoDesktopHandlers {
public:
    NoDesktopHandlers();
    ~NoDesktopHandlers();
    NoDesktopHandlers(const NoDesktopHandlers&) = delete;
    NoDesktopHandlers& operator=(const NoDesktopHandlers&) = delete;

private:
    QTemporaryDir empty_;
    std::vector<std::pair<const char*, QByteArray>> saved_;
};

// What a message box showed, read by ReadMessageBox.
struct SeenMessage {
    bool seen = false;
    QString text, title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QWidget* owner = nullptr;
};
// Reads `modal` when it is a message box and presses its first button; any other modal
// window is closed.
void ReadMessageBox(QWidget* modal, SeenMessage& seen);

// Walks the accessible tree of `root` as a screen reader sees it (the shown part; the rows of
// item views are the model's and are left out) and returns one line per fault: a control the
// user can operate or focus that has no accessible name, or a label whose accessible name is
// not the text it shows.
QStringList AccessibilityFaults(QWidget* root);

// Compares colours channel by channel within `tolerance`.
bool NearColor(QRgb a, QRgb b, int tolerance);

}  // namespace chm::test
