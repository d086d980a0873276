#pragma once
#include <QObject>
#include <memory>
#include <vector>

class QWidget;

namespace chm {

// One handler of new top-level windows (dialogs, message boxes, popup menus).
class WindowCreateHandler {
public:
    virtual ~WindowCreateHandler() = default;
    // Called for each top-level window that is about to appear, before it is placed on the
    // screen. True stops the walk: the handlers after this one do not see the window.
    virtual bool OnWindowCreated(QWidget* window) = 0;
};

// The process-wide hook on window creation: one application event filter, installed on the
// interface thread when the first handler registers and removed when the last one leaves,
// that hands every new top-level window to the registered handlers in their order.
class WindowCreateHook {
public:
    static void Register(WindowCreateHandler* handler);
    static void Unregister(WindowCreateHandler* handler);

    // The installed filter, or null while no handler is registered.
    static QObject* InstalledFilter();
    // How many times a filter has been installed since the process began.
    static int InstallCount();
    static size_t HandlerCount();
};

}  // namespace chm
