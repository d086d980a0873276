// The search wizard's frame and its first two pages: the layout in dialog units, the banner,
// the buttons on each page with the default button and the focus, the folder messages, the
// remembered rectangle, and the folder page's settings.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFileDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <filesystem>

#include "app/app_settings.h"
#include "tests/support/test_files.h"
#include "tests/ui/file_list_test_support.h"
#include "tests/ui/search_wizard_test_support.h"
#include "tests/ui/ui_test_support.h"
#include "ui/search_wizard.h"
#include "ui/search_wizard_pages.h"

namespace chm {
namespace {

using test::ModalSteps;
using test::SeenMessageBox;
using test::WizardDriver;

// The dialog manager's conversion, worked out here on its own: base units from the font's
// 52 letters and height, then MulDiv rounding.
struct Units {
    explicit Units(const QFont& font) {
        const QFontMetrics metrics(font);
        x = (metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 26 + 1) / 2;
        y = metrics.height();
    }
    QRect Rect(int l, int t, int w, int h) const {
        return {(l * x + 2) / 4, (t * y + 4) / 8, (w * x + 2) / 4, (h * y + 4) / 8};
    }
    int x = 0;
    int y = 0;
};

class SearchWizardFrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        AppSettings::Instance().ResetToDefaults();
        VeSearchWizard::ForgetRememberedRect();
        driver_ = std::make_unique<WizardDriver>();
    }
    void TearDown() override {
        driver_.reset();
        AppSettings::Instance().ResetToDefaults();
        VeSearchWizard::ForgetRememberedRect();
    }

    VeSearchWizard& Wizard() { return driver_->Wizard(); }
    QPushButton* Back() { return Wizard().BackButton(); }
    QPushButton* Next() { return Wizard().NextButton(); }
    QPushButton* Cancel() { return Wizard().CancelButton(); }
    void ToFolderPage() {
        ASSERT_TRUE(driver_->Show());
        Next()->click();
        ASSERT_EQ(Wizard().PageIndex(), VeSearchWizard::kFolderPage);
    }
    // Presses Next on the folder page with `text` typed and answers the message that comes.
    SeenMessageBox NextWithFolder(const QString& text) {
        Wizard().FolderPage()->FolderEdit()->setText(text);
        SeenMessageBox seen;
        ModalSteps steps;
        steps.Then(test::IsMessageBox(), test::Press(QMessageBox::Ok, &seen));
        Next()->click();
        EXPECT_TRUE(steps.AllDone());
        return seen;
    }

    test::ScratchDir scratch_;
    std::unique_ptr<WizardDriver> driver_;
};

TEST_F(SearchWizardFrameTest, FrameIsLaidOutInTheDialogUnitsOfItsFont) {
    const Units units(Wizard().font());
    EXPECT_EQ(Wizard().windowTitle(), QStringLiteral("Add by Search Wizard"));
    EXPECT_EQ(Wizard().size(), units.Rect(0, 0, 348, 231).size());
    EXPECT_EQ(Wizard().Banner()->geometry(), units.Rect(0, 0, 349, 34));
    EXPECT_EQ(Back()->geometry(), units.Rect(186, 211, 50, 14));
    EXPECT_EQ(Next()->geometry(), units.Rect(236, 211, 50, 14));
    EXPECT_EQ(Cancel()->geometry(), units.Rect(291, 211, 50, 14));
    EXPECT_EQ(Wizard().PageArea()->geometry(), units.Rect(7, 38, 334, 163));
    EXPECT_EQ(Wizard().font().family(), QStringLiteral("MS Shell Dlg"));
    EXPECT_EQ(Wizard().FolderPage()->font().family(), QStringLiteral("Tahoma"));
    EXPECT_EQ(Wizard().FolderPage()->font().pointSize(), 8);
}

TEST_F(SearchWizardFrameTest, FolderPageIsLaidOutInTahomaUnits) {
    VeWizardFolderPage* page = Wizard().FolderPage();
    const Units units(page->font());
    EXPECT_EQ(page->FolderEdit()->geometry(), units.Rect(22, 25, 237, 12));
    EXPECT_EQ(page->BrowseButton()->geometry(), units.Rect(262, 24, 50, 14));
    EXPECT_EQ(page->BrowseButton()->text(), QStringLiteral("Browse..."));
    EXPECT_EQ(page->SubFoldersBox()->geometry(), units.Rect(22, 49, 220, 9));
    EXPECT_EQ(page->SubFoldersBox()->text(), QStringLiteral("Search sub-folders"));
}

TEST_F(SearchWizardFrameTest, OpensOnTheWelcomePageWithNextAsDefault) {
    ASSERT_TRUE(driver_->Show());
    EXPECT_EQ(Wizard().PageIndex(), VeSearchWizard::kWelcomePage);
    EXPECT_TRUE(Wizard().WelcomePage()->isVisible());
    EXPECT_FALSE(Wizard().FolderPage()->isVisible());
    EXPECT_TRUE(Wizard().Banner()->Title().isEmpty());
    EXPECT_FALSE(Wizard().Banner()->WelcomePictureRect().isNull());
    EXPECT_EQ(Back()->text(), QStringLiteral("< Back"));
    EXPECT_EQ(Next()->text(), QStringLiteral("Next >"));
    EXPECT_EQ(Cancel()->text(), QStringLiteral("Cancel"));
    EXPECT_FALSE(Back()->isEnabled());
    EXPECT_TRUE(Next()->isEnabled());
    EXPECT_TRUE(Next()->isDefault());
    EXPECT_EQ(Wizard().focusWidget(), Next());
}

TEST_F(SearchWizardFrameTest, NextShowsTheFolderPageWithItsTitle) {
    ToFolderPage();
    EXPECT_TRUE(Wizard().FolderPage()->isVisible());
    EXPECT_FALSE(Wizard().WelcomePage()->isVisible());
    EXPECT_EQ(driver_->Title(), QStringLiteral("Step 1 of 2 - Select a Folder"));
    EXPECT_TRUE(Wizard().Banner()->WelcomePictureRect().isNull());
    EXPECT_TRUE(Back()->isEnabled());
    EXPECT_TRUE(Next()->isEnabled());
    EXPECT_EQ(Next()->text(), QStringLiteral("Next >"));
    EXPECT_EQ(Cancel()->text(), QStringLiteral("Cancel"));
    EXPECT_TRUE(Next()->isDefault());
}

TEST_F(SearchWizardFrameTest, BackToTheWelcomePageGivesNextTheDefaultAndTheFocus) {
    ToFolderPage();
    // Back holds the default while it has the focus, as a pressed button does.
    Back()->setFocus();
    ASSERT_TRUE(Back()->isDefault());
    Back()->click();
    EXPECT_EQ(Wizard().PageIndex(), VeSearchWizard::kWelcomePage);
    EXPECT_TRUE(Wizard().Banner()->Title().isEmpty());
    EXPECT_FALSE(Back()->isEnabled());
    EXPECT_TRUE(Next()->isDefault());
    EXPECT_EQ(Wizard().focusWidget(), Next());
}

TEST_F(SearchWizardFrameTest, EnteringTheSearchPageMakesAbortTheDefaultWithTheFocus) {
    ToFolderPage();
    Wizard().FolderPage()->FolderEdit()->setText(QString::fromStdString(scratch_.Path()));
    Wizard().FolderPage()->FolderEdit()->setFocus();
    Next()->click();
    // Checked before any message of the search can have arrived.
    EXPECT_EQ(Wizard().PageIndex(), VeSearchWizard::kSearchPage);
    EXPECT_EQ(driver_->Title(), QStringLiteral("Step 2 of 2 - Searching... Please Wait"));
    EXPECT_EQ(Next()->text(), QStringLiteral("Finish"));
    EXPECT_EQ(Cancel()->text(), QStringLiteral("Abort"));
    EXPECT_FALSE(Back()->isEnabled());
    EXPECT_FALSE(Next()->isEnabled());
    EXPECT_TRUE(Cancel()->isEnabled());
    EXPECT_TRUE(Cancel()->isDefault());
    EXPECT_FALSE(Next()->isDefault());
    EXPECT_EQ(Wizard().focusWidget(), Cancel());
    EXPECT_TRUE(driver_->WaitForEnd(1));
}

TEST_F(SearchWizardFrameTest, EmptyFolderTextAsksForAFolderAndStays) {
    ToFolderPage();
    const SeenMessageBox seen = NextWithFolder(QString());
    EXPECT_TRUE(seen.seen);
    EXPECT_EQ(seen.text, QStringLiteral("Please select a folder!"));
    EXPECT_EQ(seen.caption, QStringLiteral("Tavorin Channel Merger"));
    EXPECT_EQ(seen.icon, QMessageBox::Information);
    EXPECT_EQ(Wizard().PageIndex(), VeSearchWizard::kFolderPage);
    EXPECT_EQ(Wizard().SearchPage()->Worker(), nullptr);
}

TEST_F(SearchWizardFrameTest, MissingFolderIsAnInvalidSearchFolderAndStays) {
    ToFolderPage();
    const SeenMessageBox seen = NextWithFolder(QString::fromStdString(scratch_.File("not there")));
    EXPECT_EQ(seen.text, QStringLiteral("Invalid search folder!"));
    EXPECT_EQ(seen.caption, QStringLiteral("Tavorin Channel Merger"));
    EXPECT_EQ(seen.icon, QMessageBox::Information);
    EXPECT_EQ(Wizard().PageIndex(), VeSearchWizard::kFolderPage);
}

TEST_F(SearchWizardFrameTest, AFileIsAnInvalidSearchFolder) {
    test::WriteTextFile(scratch_.File("a.wav"), "");
    ToFolderPage();
    const SeenMessageBox seen = NextWithFolder(QString::fromStdString(scratch_.File("a.wav")));
    EXPECT_EQ(seen.text, QStringLiteral("Invalid search folder!"));
    EXPECT_EQ(Wizard().PageIndex(), VeSearchWizard::kFolderPage);
}

TEST_F(SearchWizardFrameTest, PageIndexIsClampedAndTheSamePageChangesNothing) {
    ToFolderPage();
    Wizard().SetPage(-4);
    EXPECT_EQ(Wizard().PageIndex(), VeSearchWizard::kWelcomePage);
    Wizard().Banner()->SetPage(0, QStringLiteral("kept"));
    Wizard().SetPage(0);
    EXPECT_EQ(driver_->Title(), QStringLiteral("kept"));
}

TEST_F(SearchWizardFrameTest, FocusInThePageAreaMovesIntoTheNewPage) {
    ASSERT_TRUE(driver_->Show());
    Wizard().WelcomePage()->setFocus();
    Wizard().SetPage(VeSearchWizard::kFolderPage);
    EXPECT_EQ(Wizard().focusWidget(), Wizard().FolderPage()->FolderEdit());
}

TEST_F(SearchWizardFrameTest, FocusOnAButtonStaysOutOfTheNewPage) {
    ASSERT_TRUE(driver_->Show());
    Cancel()->setFocus();
    Wizard().SetPage(VeSearchWizard::kFolderPage);
    EXPECT_EQ(Wizard().focusWidget(), Cancel());
}

TEST_F(SearchWizardFrameTest, CancelOnTheFirstPagesClosesAtOnce) {
    ToFolderPage();
    Cancel()->click();
    EXPECT_FALSE(Wizard().isVisible());
    EXPECT_EQ(Wizard().result(), QDialog::Rejected);
    EXPECT_TRUE(Wizard().Output().isEmpty());
}

TEST_F(SearchWizardFrameTest, EscapeCancels) {
    ASSERT_TRUE(driver_->Show());
    test::KeyPress(&Wizard(), Qt::Key_Escape);
    EXPECT_FALSE(Wizard().isVisible());
    EXPECT_EQ(Wizard().result(), QDialog::Rejected);
}

TEST_F(SearchWizardFrameTest, CloseBoxCancels) {
    ToFolderPage();
    EXPECT_TRUE(Wizard().close());
    EXPECT_FALSE(Wizard().isVisible());
    EXPECT_EQ(Wizard().result(), QDialog::Rejected);
}

TEST_F(SearchWizardFrameTest, FirstOpeningIsCentredOnTheOwner) {
    ASSERT_TRUE(driver_->Show());
    const QPoint owner_centre = driver_->Owner().frameGeometry().center();
    const QPoint centre = Wizard().frameGeometry().center();
    EXPECT_LE(std::abs(centre.x() - owner_centre.x()), 1);
    EXPECT_LE(std::abs(centre.y() - owner_centre.y()), 1);
}

TEST_F(SearchWizardFrameTest, RectangleIsRememberedForTheNextOpeningAfterCancel) {
    ASSERT_TRUE(driver_->Show());
    Wizard().move(40, 30);
    Cancel()->click();
    EXPECT_EQ(VeSearchWizard::RememberedRect().topLeft(), QPoint(40, 30));
    EXPECT_EQ(VeSearchWizard::RememberedRect().size(), Wizard().frameGeometry().size());
    driver_->Reopen();
    ASSERT_TRUE(driver_->Show());
    EXPECT_EQ(Wizard().frameGeometry().topLeft(), QPoint(40, 30));
}

TEST_F(SearchWizardFrameTest, RectangleIsNotKeptInTheSettings) {
    ASSERT_TRUE(driver_->Show());
    Wizard().move(41, 31);
    Cancel()->click();
    const std::string file = scratch_.File("Settings.xml");
    ASSERT_TRUE(AppSettings::Instance().Save(file));
    const std::string text = test::ReadTextFile(file);
    EXPECT_EQ(text.find("41"), std::string::npos) << text;
    EXPECT_EQ(text.find("31"), std::string::npos) << text;
}

TEST_F(SearchWizardFrameTest, BannerTitleIsOneLineCutWithAnEllipsisAtTheEnd) {
    ToFolderPage();
    VeSearchWizardBanner* banner = Wizard().Banner();
    EXPECT_EQ(banner->ShownTitle(), QStringLiteral("Step 1 of 2 - Select a Folder"));
    const QString long_title = QStringLiteral("Step 1 of 2 - ") + QString(200, QChar('W'));
    banner->SetPage(1, long_title);
    const QString shown = banner->ShownTitle();
    EXPECT_TRUE(shown.startsWith(QStringLiteral("Step 1 of 2 - W")));
    EXPECT_TRUE(shown.endsWith(QChar(0x2026)));
    QFont title_font(QStringLiteral("Tahoma"));
    title_font.setPixelSize(13);
    title_font.setBold(true);
    EXPECT_LE(QFontMetrics(title_font).horizontalAdvance(shown), banner->TitleRect().width());
}

TEST_F(SearchWizardFrameTest, BannerIsWhiteWithTheTitleInBlack) {
    ToFolderPage();
    VeSearchWizardBanner* banner = Wizard().Banner();
    const QImage image = banner->grab().toImage();
    EXPECT_TRUE(test::NearColor(image.pixel(1, 1), qRgb(255, 255, 255), 0));
    EXPECT_TRUE(test::NearColor(image.pixel(image.width() - 2, image.height() - 2), qRgb(255, 255, 255), 0));
    int dark = 0;
    const QRect title = banner->TitleRect();
    for (int y = title.top(); y <= title.bottom(); ++y)
        for (int x = title.left(); x < title.left() + 60; ++x)
            if (qGray(image.pixel(x, y)) < 40) ++dark;
    EXPECT_GT(dark, 20);
    // The small picture is drawn where it says: its opaque pixels come out as they are.
    const QRect small = banner->SmallPictureRect();
    const QImage picture = banner->SmallPicture().convertToFormat(QImage::Format_ARGB32);
    int opaque = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            if (qAlpha(picture.pixel(x, y)) != 255) continue;
            ++opaque;
            EXPECT_TRUE(test::NearColor(image.pixel(small.topLeft() + QPoint(x, y)), picture.pixel(x, y), 2)) << x << "," << y;
        }
    EXPECT_GT(opaque, 100);
}

// The folder page's settings.
class FolderPageSettingsTest : public SearchWizardFrameTest {};

TEST_F(FolderPageSettingsTest, PageTakesTheFolderAndTheSwitchFromTheSettings) {
    driver_->Destroy();
    AppSettings::Instance().search_folder = scratch_.Path();
    AppSettings::Instance().search_sub = true;
    driver_->Reopen();
    EXPECT_EQ(Wizard().FolderPage()->FolderText(), QString::fromStdString(scratch_.Path()));
    EXPECT_TRUE(Wizard().FolderPage()->SearchSubFolders());
}

TEST_F(FolderPageSettingsTest, TypedFolderAndSwitchComeBackAfterCancel) {
    ToFolderPage();
    Wizard().FolderPage()->FolderEdit()->setText(QStringLiteral("/typed/folder"));
    Wizard().FolderPage()->SubFoldersBox()->setChecked(true);
    Cancel()->click();
    driver_->Reopen();
    EXPECT_EQ(AppSettings::Instance().search_folder, "/typed/folder");
    EXPECT_TRUE(AppSettings::Instance().search_sub);
    EXPECT_EQ(Wizard().FolderPage()->FolderText(), QStringLiteral("/typed/folder"));
    EXPECT_TRUE(Wizard().FolderPage()->SearchSubFolders());
}

TEST_F(FolderPageSettingsTest, SwitchedOffStaysOff) {
    driver_->Destroy();
    AppSettings::Instance().search_sub = true;
    driver_->Reopen();
    ToFolderPage();
    Wizard().FolderPage()->SubFoldersBox()->setChecked(false);
    Cancel()->click();
    driver_->Reopen();
    EXPECT_FALSE(AppSettings::Instance().search_sub);
    EXPECT_FALSE(Wizard().FolderPage()->SearchSubFolders());
}

TEST_F(FolderPageSettingsTest, TypedFolderSurvivesASaveAndLoadOfTheSettingsFile) {
    ToFolderPage();
    const QString folder = QString::fromStdString(scratch_.Path()) + QStringLiteral("/Müsik & <Töne>");
    Wizard().FolderPage()->FolderEdit()->setText(folder);
    Wizard().FolderPage()->SubFoldersBox()->setChecked(true);
    Cancel()->click();
    driver_->Reopen();
    // The settings file of the private configuration folder this program runs with.
    ASSERT_TRUE(AppSettings::Instance().Save());
    AppSettings::Instance().ResetToDefaults();
    ASSERT_TRUE(AppSettings::Instance().Load());
    std::filesystem::remove(AppSettings::SettingsFilePath());
    driver_->Reopen();
    EXPECT_EQ(Wizard().FolderPage()->FolderText(), folder);
    EXPECT_TRUE(Wizard().FolderPage()->SearchSubFolders());
}

// The folder picker.
class BrowseTest : public SearchWizardFrameTest {
protected:
    // Opens the picker and hands it to `act` once it is the active modal window.
    void Browse(const std::function<void(QFileDialog*)>& act) {
        bool answered = false;
        test::ModalAnswer answer([&](QWidget* modal) {
            auto* picker = qobject_cast<QFileDialog*>(modal);
            answered = picker != nullptr;
            if (picker) act(picker);
            else if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
        });
        Wizard().FolderPage()->BrowseButton()->click();
        EXPECT_TRUE(answered);
    }
};

TEST_F(BrowseTest, PickerStartsAtTheTypedFolderAndTakesTheChosenOne) {
    std::filesystem::create_directories(scratch_.File("start"));
    std::filesystem::create_directories(scratch_.File("chosen"));
    ToFolderPage();
    Wizard().FolderPage()->FolderEdit()->setText(QString::fromStdString(scratch_.File("start")));
    QString start, caption;
    Browse([&](QFileDialog* picker) {
        start = picker->directory().absolutePath();
        caption = picker->windowTitle();
        picker->setDirectory(QString::fromStdString(scratch_.File("chosen")));
        static_cast<QDialog*>(picker)->accept();  // QFileDialog hides its accept
    });
    EXPECT_EQ(start, QString::fromStdString(scratch_.File("start")));
    EXPECT_EQ(caption, QStringLiteral("Please select a folder:"));
    EXPECT_EQ(Wizard().FolderPage()->FolderText(), QString::fromStdString(scratch_.File("chosen")));
}

TEST_F(BrowseTest, CancelledPickerLeavesTheTextAsItWas) {
    ToFolderPage();
    Wizard().FolderPage()->FolderEdit()->setText(QString::fromStdString(scratch_.Path()));
    Browse([](QFileDialog* picker) { picker->reject(); });
    EXPECT_EQ(Wizard().FolderPage()->FolderText(), QString::fromStdString(scratch_.Path()));
}

TEST_F(BrowseTest, PickerDoesNotStartAtAFolderThatIsNotThere) {
    ToFolderPage();
    const QString missing = QString::fromStdString(scratch_.File("gone"));
    Wizard().FolderPage()->FolderEdit()->setText(missing);
    QString start;
    Browse([&](QFileDialog* picker) {
        start = picker->directory().absolutePath();
        picker->reject();
    });
    EXPECT_NE(start, missing);
    EXPECT_EQ(Wizard().FolderPage()->FolderText(), missing);
}

}  // namespace
}  // namespace chm
