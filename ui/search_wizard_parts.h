#pragma once
#include <QFont>
#include <QImage>
#include <QRect>
#include <QString>

#include "ui/dialog_units.h"

namespace chm {

// What the search wizard's frame, pages and result list share: the control ids of its
// templates, their fonts and the wizard's own pictures.

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

// "Tahoma" 8 for the pages (the frame has the dialogs' "MS Shell Dlg" 8): asked for by name, the
// system's substitute is used where the font is absent.
QFont WizardPageFont();
// The banner's title: "Tahoma" 13 px bold.
QFont WizardTitleFont();

// A picture of the wizard's own (resources/chm_wizard.qrc): "wizard_welcome.png",
// "wizard_small.png", "wizard_check_on.png", "wizard_check_off.png", "wizard_tools.png".
QImage LoadWizardImage(const QString& name);

// One image of a strip of square images side by side, with magenta 0xFF00FF made transparent.
QImage StripImage(const QImage& strip, int index, int size);

}  // namespace chm
