#pragma once
#include "ui/window_create_hook.h"

namespace chm {

// Gives every popup menu that opens while it exists the program's frame: a 1-pixel border
// in RGB(0x8D, 0x91, 0x99) and, inside it, the frame in RGB(0xE1, 0xE3, 0xE7) up to 23 pixels
// right of the items' left edge (the gutter) and RGB(0xFB, 0xFB, 0xFB) elsewhere. Registered by
// the code that opens a skinned menu for as long as the menu is open.
class PopupMenuFrame : public WindowCreateHandler {
public:
    // Width of the frame around the items, border included, as the system's menus have.
    static constexpr int kFrameWidth = 3;
    static constexpr int kGutterWidth = 23;

    PopupMenuFrame() { WindowCreateHook::Register(this); }
    ~PopupMenuFrame() override { WindowCreateHook::Unregister(this); }
    PopupMenuFrame(const PopupMenuFrame&) = delete;
    PopupMenuFrame& operator=(const PopupMenuFrame&) = delete;

    bool OnWindowCreated(QWidget* window) override;
};

}  // namespace chm
