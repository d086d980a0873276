#include "tests/ui/file_list_test_support.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QPushButton>
#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QMenu>
#include <QPixmap>
#include <QPointer>
#include <QTest>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "tests/support/test_files.h"
#include "ui/skinned_menu.h"

namespace chm::test {

void MakeEmptyFiles(const std::string& folder, const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        const std::filesystem::path path = std::filesystem::path(folder) / name;
        std::filesystem::create_directories(path.parent_path());
        WriteTextFile(path.string(), "");
    }
}

void MakeNumberedFiles(const std::string& folder, int count) {
    std::filesystem::create_directories(folder);
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "track %04d.mp3", i);
        WriteTextFile(folder + "/" + name, "");
    }
}

void MakeWavWithSox(const std::string& path, double seconds) {
    const std::string command = "sox -n -r 44100 -c 2 -b 16 '" + path + "' synth " + std::to_string(seconds) +
                                " sine 440 sine 660 2>/dev/null";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("sox failed for " + path);
}

OpenedMenu RightClickThroughWindow(QWidget* viewport, QPoint pos) {
    OpenedMenu opened;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&opened] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) return;
        for (QAction* action : menu->actions()) opened.enabled.push_back(action->isEnabled());
        opened.skinned = qobject_cast<SkinnedMenuStyle*>(menu->style()) != nullptr;
        menu->close();
    });
    poll.start();
    QWidget* top = viewport->window();
    QTest::mouseClick(top->windowHandle(), Qt::RightButton, Qt::NoModifier, viewport->mapTo(top, pos));
    return opened;
}

ModalSteps::ModalSteps(std::chrono::milliseconds timeout) : timeout_(timeout), started_(std::chrono::steady_clock::now()) {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
}

ModalSteps::~ModalSteps() { timer_.stop(); }

ModalSteps& ModalSteps::Then(Match match, Act act) {
    steps_.push_back({std::move(match), std::move(act)});
    return *this;
}

void ModalSteps::Poll() {
    if (AllDone()) return;
    if (std::chrono::steady_clock::now() - started_ > timeout_) {
        timer_.stop();
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<QDialog*>(top); dialog && dialog->isVisible()) dialog->reject();
        return;
    }
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible()) return;
    Step& step = steps_[static_cast<size_t>(done_)];
    if (!step.match(modal)) return;
    ++done_;
    // The act may open a modal loop of its own (a button that asks). It runs from a timer of its
    // own, since this timer is not fired again while its own handler is still running.
    QPointer<QWidget> target = modal;
    QTimer::singleShot(0, [act = step.act, target] {
        if (target) act(target);
    });
}

ModalSteps::Match IsMessageBox() {
    return [](QWidget* widget) { return qobject_cast<QMessageBox*>(widget) != nullptr; };
}

ModalSteps::Act Press(QMessageBox::StandardButton button, SeenMessageBox* seen) {
    return [button, seen](QWidget* widget) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (!box) return;
        if (seen) {
            seen->seen = true;
            seen->text = box->text();
            seen->caption = box->windowTitle();
            seen->icon = box->icon();
            seen->buttons = box->standardButtons();
            seen->default_button = box->defaultButton() ? box->standardButton(box->defaultButton()) : QMessageBox::NoButton;
        }
        if (QAbstractButton* pressed = box->button(button)) pressed->click();
    };
}

UrlRecorder::UrlRecorder(const QString& scheme) : scheme_(scheme) { QDesktopServices::setUrlHandler(scheme_, this, "Open"); }

UrlRecorder::~UrlRecorder() { QDesktopServices::unsetUrlHandler(scheme_); }

void UrlRecorder::Open(const QUrl& url) { urls_.append(url); }

namespace {

constexpr uint32_t kOverrideBits = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);

bool CapGet(__user_cap_data_struct* data) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(SYS_capget, &header, data) == 0;
}

bool CapSet(const __user_cap_data_struct* data) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(SYS_capset, &header, data) == 0;
}

}  // namespace

PermissionChecksOn::PermissionChecksOn() {
    if (!CapGet(saved_) || (saved_[0].effective & kOverrideBits) == 0) return;
    __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
    lowered[0].effective &= ~kOverrideBits;
    changed_ = CapSet(lowered);
    if (!changed_) throw std::runtime_error("cannot lower the permission-override capabilities");
}

PermissionChecksOn::~PermissionChecksOn() {
    if (changed_) CapSet(saved_);
}

QImage GrabRect(QWidget* widget, const QRect& rect) {
    return widget->grab(rect).toImage().convertToFormat(QImage::Format_RGB32);
}

}  // namespace chm::test
