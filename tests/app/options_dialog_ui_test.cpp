// The options dialog on real widgets: the current method's button, OK, Cancel and "Reset to
// Defaults", and its template's layout.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QPushButton>
#include <QRadioButton>
#include <memory>

#include "app/app_settings.h"
#include "ui/dialog_units.h"
#include "app/header_picture.h"
#include "app/options_dialog.h"
#include "tests/app/app_ui_test_support.h"
#include "tests/ui/ui_test_support.h"
#include "ui/message_box.h"

namespace chm {
namespace {

class OptionsDialogTest : public ::testing::Test {
protected:
    void SetUp() override { test::ResetSettings(); }
    void TearDown() override { test::ResetSettings(); }

    std::unique_ptr<OptionsDialog> Make(int method) {
        AppSettings::Instance().conversion_method = method;
        return std::make_unique<OptionsDialog>(nullptr);
    }

    static bool Checked(const OptionsDialog& dialog, int id) { return dialog.RadioButton(id)->isChecked(); }
};

TEST_F(OptionsDialogTest, TheCurrentMethodIsSelected) {
    EXPECT_TRUE(Checked(*Make(0), OptionsDialog::kMixId));
    EXPECT_TRUE(Checked(*Make(1), OptionsDialog::kKeepLeftId));
    EXPECT_TRUE(Checked(*Make(2), OptionsDialog::kKeepRightId));
    // Any other value stands for the right channel.
    EXPECT_TRUE(Checked(*Make(7), OptionsDialog::kKeepRightId));
    auto dialog = Make(1);
    EXPECT_FALSE(Checked(*dialog, OptionsDialog::kMixId));
    EXPECT_FALSE(Checked(*dialog, OptionsDialog::kKeepRightId));
}

TEST_F(OptionsDialogTest, OkStoresTheChosenMethod) {
    auto dialog = Make(0);
    dialog->show();
    dialog->RadioButton(OptionsDialog::kKeepRightId)->click();
    EXPECT_EQ(AppSettings::Instance().conversion_method, 0);
    dialog->OkButton()->click();
    EXPECT_EQ(AppSettings::Instance().conversion_method, 2);
    EXPECT_EQ(dialog->result(), kIdOk);
}

TEST_F(OptionsDialogTest, ResetSelectsMixChannelsAndStoresNothingYet) {
    auto dialog = Make(1);
    dialog->show();
    dialog->ResetButton()->click();
    EXPECT_TRUE(Checked(*dialog, OptionsDialog::kMixId));
    EXPECT_FALSE(Checked(*dialog, OptionsDialog::kKeepLeftId));
    EXPECT_FALSE(Checked(*dialog, OptionsDialog::kKeepRightId));
    EXPECT_EQ(AppSettings::Instance().conversion_method, 1);
}

TEST_F(OptionsDialogTest, CancelAfterResetKeepsTheMethod) {
    auto dialog = Make(2);
    dialog->show();
    dialog->ResetButton()->click();
    dialog->CancelButton()->click();
    EXPECT_EQ(AppSettings::Instance().conversion_method, 2);
    EXPECT_EQ(dialog->result(), kIdCancel);
}

// The dates and folders boxes show their settings; OK stores them, Reset clears them without
// storing, Cancel keeps what was stored.
TEST_F(OptionsDialogTest, TheDatesAndFoldersBoxesAreStoredByOkOnly) {
    struct Box {
        QCheckBox* (OptionsDialog::*box)() const;
        bool AppSettings::*setting;
        const char* text;
    };
    for (const Box& b : {Box{&OptionsDialog::KeepDatesBox, &AppSettings::keep_dates, "Keep the source's dates"},
                         Box{&OptionsDialog::KeepTreeBox, &AppSettings::keep_tree,
                             "Recreate the source folders in the output folder"}}) {
        SCOPED_TRACE(b.text);
        auto dialog = Make(0);
        dialog->show();
        QCheckBox* box = (dialog.get()->*b.box)();
        EXPECT_EQ(box->text(), QString::fromUtf8(b.text));
        EXPECT_FALSE(box->isChecked());
        // The whole text shows.
        EXPECT_GE(box->width(), box->sizeHint().width());
        box->click();
        EXPECT_FALSE(AppSettings::Instance().*b.setting);
        dialog->OkButton()->click();
        EXPECT_TRUE(AppSettings::Instance().*b.setting);

        auto again = std::make_unique<OptionsDialog>(nullptr);
        again->show();
        EXPECT_TRUE((again.get()->*b.box)()->isChecked());
        again->ResetButton()->click();
        EXPECT_FALSE((again.get()->*b.box)()->isChecked());
        again->CancelButton()->click();
        EXPECT_TRUE(AppSettings::Instance().*b.setting);
    }
}

TEST_F(OptionsDialogTest, EscapeIsCancel) {
    auto dialog = Make(1);
    dialog->show();
    dialog->RadioButton(OptionsDialog::kMixId)->click();
    dialog->reject();
    EXPECT_EQ(AppSettings::Instance().conversion_method, 1);
    EXPECT_EQ(dialog->result(), kIdCancel);
}

TEST_F(OptionsDialogTest, TheControlsSitWhereTheTemplatePutsThem) {
    auto dialog = Make(0);
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Options"));
    const DialogUnits du(dialog->font());
    EXPECT_EQ(dialog->size(), du.Size(280, 175));
    EXPECT_EQ(dialog->ResetButton()->geometry(), du.Rect(14, 153, 86, 14));
    EXPECT_EQ(dialog->OkButton()->geometry(), du.Rect(163, 153, 50, 14));
    EXPECT_EQ(dialog->CancelButton()->geometry(), du.Rect(218, 153, 50, 14));
    EXPECT_TRUE(dialog->OkButton()->isDefault());
    EXPECT_EQ(dialog->RadioButton(OptionsDialog::kMixId)->text(), QStringLiteral("Mix channels"));
    EXPECT_EQ(dialog->RadioButton(OptionsDialog::kKeepLeftId)->text(), QStringLiteral("Keep left channel only"));
    EXPECT_EQ(dialog->RadioButton(OptionsDialog::kKeepRightId)->text(), QStringLiteral("Keep right channel only"));
    EXPECT_EQ(dialog->RadioButton(OptionsDialog::kMixId)->x(), du.X(29));
    EXPECT_EQ(dialog->RadioButton(OptionsDialog::kKeepLeftId)->geometry().center().y(), du.Rect(29, 91, 108, 8).center().y());
}

TEST_F(OptionsDialogTest, DialogUnitsFollowTheFont) {
    QFont font = DialogUnits::ShellDlgFont();
    EXPECT_EQ(font.family(), QStringLiteral("MS Shell Dlg"));
    EXPECT_EQ(font.pointSize(), 8);
    const DialogUnits du(font);
    EXPECT_GT(du.BaseX(), 2);
    EXPECT_GT(du.BaseY(), 6);
    EXPECT_EQ(du.X(4), du.BaseX());
    EXPECT_EQ(du.Y(8), du.BaseY());
    EXPECT_EQ(du.X(400), du.BaseX() * 100);
}

TEST_F(OptionsDialogTest, ScreenReadersFindEveryControlNamedAndTheHeaderTitled) {
    auto dialog = Make(0);
    dialog->show();
    EXPECT_EQ(test::AccessibilityFaults(dialog.get()), QStringList());
    auto* header = dialog->findChild<HeaderPicture*>();
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->accessibleName(), QStringLiteral("Options"));
}

}  // namespace
}  // namespace chm
