#pragma once
#include <QFont>
#include <QImage>
#include <QRect>
#include <QString>

namespace chm {

// What the search wizard's frame, pages and result list share: the control ids of its
// templates, their fonts, the dialog-unit conversion and the wizard's own pictures.

// Frame.
constexpr int kWizardBannerId = 1297;
constexpr int kWizardBackId = 1294;
constexpr int kWizardNextId = 1295;
constexpr int kWizardCancelId = 2;
constexpr int kWizardPageAreaId = 1299;
// Welcome page.
constexpr int kWizardWelcomeTitleId = 1023;
// Folder page.
constexpr int kWizardFolderEditId = 1014;
constexpr int kWizardBrowseId = 1015;
constexpr int kWizardSubFoldersId = 1016;
// Search page.
constexpr int kWizardStatusId = 1013;
constexpr int kWizardBusyStripId = 1022;
constexpr int kWizardCountId = 1025;
constexpr int kWizardProgressId = 1017;
constexpr int kWizardResultListId = 1019;
constexpr int kWizardHintId = 1024;
// Commands of the search page.
constexpr int kCheckAllFilesCommand = 32781;
constexpr int kUncheckAllFilesCommand = 32782;
constexpr int kOpenContainingFolderCommand = 32783;
constexpr int kPlayCommand = 32784;

// The templates are laid out in dialog units of their font, as the Windows dialog manager
// places them: x units are a quarter of the average character width, y units an eighth of the
// character height.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);
    int BaseX() const { return base_x_; }
    int BaseY() const { return base_y_; }
    // Rounded as MulDiv rounds.
    int X(int units) const { return (units * base_x_ + 2) / 4; }
    int Y(int units) const { return (units * base_y_ + 4) / 8; }
    QRect Rect(int x, int y, int w, int h) const { return {X(x), Y(y), X(w), Y(h)}; }

private:
    int base_x_ = 1;
    int base_y_ = 1;
};

// "MS Shell Dlg" 8 for the frame, "Tahoma" 8 for the pages: asked for by name, the system's
// substitute is used where the font is absent.
QFont WizardFrameFont();
QFont WizardPageFont();
// The banner's title: "Tahoma" 13 px bold.
QFont WizardTitleFont();

// A picture of the wizard's own (resources/chm_wizard.qrc): "wizard_welcome.png",
// "wizard_small.png", "wizard_check_on.png", "wizard_check_off.png", "wizard_tools.png".
QImage LoadWizardImage(const QString& name);

// One image of a strip of square images side by side, with magenta 0xFF00FF made transparent.
QImage StripImage(const QImage& strip, int index, int size);

}  // namespace chm
