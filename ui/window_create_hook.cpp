#include "ui/window_create_hook.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>
#include <algorithm>

namespace chm {

namespace {

class CreateFilter : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

struct HookState {
    std::unique_ptr<CreateFilter> filter;
    std::vector<WindowCreateHandler*> handlers;
    int install_count = 0;
};

// Touched on the interface thread only, like every window.
HookState& State() {
    static HookState state;
    return state;
}

bool CreateFilter::eventFilter(QObject* watched, QEvent* event) {
    // A window is shown for the first time (or again after it was hidden, which for a popup
    // menu is a new popup): the widget's own show handling and its placement come after this.
    if (event->type() != QEvent::Show || event->spontaneous() || !watched->isWidgetType()) return false;
    auto* widget = static_cast<QWidget*>(watched);
    if (!widget->isWindow()) return false;
    // A handler may unregister itself (or another) while it runs: walk a copy.
    const auto handlers = State().handlers;
    for (WindowCreateHandler* handler : handlers) {
        const auto& current = State().handlers;
        if (std::find(current.begin(), current.end(), handler) == current.end()) continue;
        if (handler->OnWindowCreated(widget)) break;
    }
    return false;
}

}  // namespace

void WindowCreateHook::Register(WindowCreateHandler* handler) {
    auto& state = State();
    state.handlers.push_back(handler);
    if (!state.filter && qApp) {
        state.filter = std::make_unique<CreateFilter>();
        qApp->installEventFilter(state.filter.get());
        ++state.install_count;
    }
}

void WindowCreateHook::Unregister(WindowCreateHandler* handler) {
    auto& state = State();
    auto it = std::find(state.handlers.begin(), state.handlers.end(), handler);
    if (it == state.handlers.end()) return;
    state.handlers.erase(it);
    if (state.handlers.empty() && state.filter) {
        if (qApp) qApp->removeEventFilter(state.filter.get());
        state.filter.reset();
    }
}

QObject* WindowCreateHook::InstalledFilter() { return State().filter.get(); }

int WindowCreateHook::InstallCount() { return State().install_count; }

size_t WindowCreateHook::HandlerCount() { return State().handlers.size(); }

}  // namespace chm
