#pragma once
#include <QObject>
#include <QPointer>
#include <QWidget>

namespace chm {

// While it exists, the user's input to `window` and to everything inside it is dropped (mouse,
// keys, wheel, touch, context menus, drops), as for a window under a modal dialog; its painting,
// timers and posted messages go on. A dialog that runs modally while it is still hidden holds
// one over its owner, so that the owner takes no input from the first moment.
class WindowInputBlock : public QObject {
public:
    explicit WindowInputBlock(QWidget* window);
    ~WindowInputBlock() override;
    WindowInputBlock(const WindowInputBlock&) = delete;
    WindowInputBlock& operator=(const WindowInputBlock&) = delete;

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> window_;
};

}  // namespace chm
