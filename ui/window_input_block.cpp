#include "ui/window_input_block.h"

#include <QApplication>
#include <QDropEvent>
#include <QEvent>

namespace chm {

namespace {

bool IsUserInput(QEvent::Type type) {
    switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::ContextMenu:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletMove:
        case QEvent::TabletRelease:
        case QEvent::NativeGesture:
        // No hover look either: a control that lights up would look as if it could be clicked.
        case QEvent::Enter:
        case QEvent::HoverEnter:
        case QEvent::HoverMove:
            return true;
        default:
            return false;
    }
}

}  // namespace

WindowInputBlock::WindowInputBlock(QWidget* window) : window_(window) {
    if (window_ && qApp) qApp->installEventFilter(this);
}

WindowInputBlock::~WindowInputBlock() {
    if (qApp) qApp->removeEventFilter(this);
}

bool WindowInputBlock::eventFilter(QObject* watched, QEvent* event) {
    if (!window_ || !watched->isWidgetType() || !IsUserInput(event->type())) return false;
    if (static_cast<QWidget*>(watched)->window() != window_) return false;
    // A refused drag must say so, or its source would show that it can drop here.
    if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove || event->type() == QEvent::Drop)
        static_cast<QDropEvent*>(event)->ignore();
    return true;
}

}  // namespace chm
