#pragma once
#include <QString>
#include <cstdint>

#include "ui/window_create_hook.h"

class QWidget;

namespace chm {

// Message-box style bits and results, with the values of the Windows message box so that a
// style or an answer reads the same everywhere in the program.
constexpr uint32_t kMbOk = 0x00000000;
constexpr uint32_t kMbOkCancel = 0x00000001;
constexpr uint32_t kMbYesNoCancel = 0x00000003;
constexpr uint32_t kMbYesNo = 0x00000004;
constexpr uint32_t kMbIconHand = 0x00000010;
constexpr uint32_t kMbIconError = kMbIconHand;
constexpr uint32_t kMbIconQuestion = 0x00000020;
constexpr uint32_t kMbIconExclamation = 0x00000030;
constexpr uint32_t kMbIconInformation = 0x00000040;
constexpr uint32_t kMbDefButton1 = 0x00000000;
constexpr uint32_t kMbDefButton2 = 0x00000100;
constexpr uint32_t kMbDefButton3 = 0x00000200;

constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

// Shows a modal message box centred over `owner` (over the available screen area when it is
// null) and returns the button pressed (kIdOk ...). The text is shown exactly as given, blanks
// at its end included. Message boxes are shown one registration at a time; called from any
// thread but the interface thread, nothing is shown and the result is 0.
int ShowCenteredMessageBox(QWidget* owner, const QString& text, const QString& caption, uint32_t style);

// Centres every dialog that appears while it exists over its owner window (the available
// screen area when it has none). Registers itself on construction, leaves on destruction.
class MessageBoxCentring : public WindowCreateHandler {
public:
    MessageBoxCentring() { WindowCreateHook::Register(this); }
    ~MessageBoxCentring() override { WindowCreateHook::Unregister(this); }
    MessageBoxCentring(const MessageBoxCentring&) = delete;
    MessageBoxCentring& operator=(const MessageBoxCentring&) = delete;

    bool OnWindowCreated(QWidget* window) override;
};

}  // namespace chm
