#pragma once
#include <QImage>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <linux/capability.h>

namespace chm::test {

// Empty files under `folder` (made with their parent folders); the list looks at names only.
void MakeEmptyFiles(const std::string& folder, const std::vector<std::string>& names);
// `count` empty supported files named "track 0000.mp3", ... in `folder`.
void MakeNumberedFiles(const std::string& folder, int count);
// A stereo 16-bit WAV of sine tones, made by sox.
void MakeWavWithSox(const std::string& path, double seconds);

// What the popup menu opened by a right click showed: its items' states and whether it wore the
// program's skin. Nothing when no menu opened.
struct OpenedMenu {
    std::vector<bool> enabled;
    bool skinned = false;
};
// A right click at `pos` of a view's `viewport`, given to its top-level window as the window
// system delivers one (the menu opens on the press, before the release); the menu that opens is
// read and closed.
OpenedMenu RightClickThroughWindow(QWidget* viewport, QPoint pos);

// Answers the modal windows of one operation in turn: each step waits for an active modal
// widget that it matches and then acts on it. Polled from the event loop, so the steps run
// inside the modal loops. When a step is not met in time, every open dialog is rejected so
// that the test fails instead of hanging.
class ModalSteps {
public:
    using Match = std::function<bool(QWidget*)>;
    using Act = std::function<void(QWidget*)>;

    explicit ModalSteps(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    ~ModalSteps();
    ModalSteps(const ModalSteps&) = delete;
    ModalSteps& operator=(const ModalSteps&) = delete;

    ModalSteps& Then(Match match, Act act);
    int Done() const { return done_; }
    bool AllDone() const { return done_ == static_cast<int>(steps_.size()); }

private:
    void Poll();

    struct Step {
        Match match;
        Act act;
    };
    std::vector<Step> steps_;
    int done_ = 0;
    std::chrono::milliseconds timeout_;
    std::chrono::steady_clock::time_point started_;
    QTimer timer_;
};

// What a message box showed before a button of it was pressed.
struct SeenMessageBox {
    bool seen = false;
    QString text;
    QString caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton default_button = QMessageBox::NoButton;
};

ModalSteps::Match IsMessageBox();
// Records the box into `seen` and presses `button`.
ModalSteps::Act Press(QMessageBox::StandardButton button, SeenMessageBox* seen = nullptr);

// Records the URLs that the desktop is asked to open for one scheme, instead of opening them.
class UrlRecorder : public QObject {
    Q_OBJECT

public:
    explicit UrlRecorder(const QString& scheme = QStringLiteral("file"));
    ~UrlRecorder() override;

    const QList<QUrl>& Urls() const { return urls_; }

public slots:
    void Open(const QUrl& url);

private:
    QString scheme_;
    QList<QUrl> urls_;
};

// While it lives, the calling thread and the threads it starts obey file permissions even
// when the tests run as the superuser (the permission-override capabilities are lowered).
class PermissionChecksOn {
public:
    PermissionChecksOn();
    ~PermissionChecksOn();
    PermissionChecksOn(const PermissionChecksOn&) = delete;
    PermissionChecksOn& operator=(const PermissionChecksOn&) = delete;

private:
    __user_cap_data_struct saved_[2] = {};
    bool changed_ = false;
};

// The pixels of `rect` of a widget as it paints itself now.
QImage GrabRect(QWidget* widget, const QRect& rect);

}  // namespace chm::test
