// The conversion report on real widgets: its texts for every count, the folder button with an
// existing and a missing folder, and "Don't show this to me again".
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <memory>
#include <tuple>

#include "app/app_settings.h"
#include "app/conversion_report.h"
#include "app/header_picture.h"
#include "ui/dialog_units.h"
#include "tests/app/app_ui_test_support.h"
#include "tests/support/test_files.h"
#include "tests/ui/ui_test_support.h"

namespace chm {
namespace {

class ConversionReportTest : public ::testing::Test {
protected:
    void SetUp() override { test::ResetSettings(); }
    void TearDown() override { test::ResetSettings(); }

    std::unique_ptr<ConversionReport> Make(int total, int converted, const QString& folder = QString()) {
        return std::make_unique<ConversionReport>(total, converted, folder, nullptr);
    }

    test::ScratchDir scratch_;
};

TEST_F(ConversionReportTest, OneConvertedFileHasNoCountLine) {
    auto report = Make(1, 1);
    EXPECT_EQ(report->windowTitle(), QStringLiteral("Conversion Completed"));
    EXPECT_EQ(report->BoldLine()->Text(), QStringLiteral("File converted successfully."));
    EXPECT_TRUE(report->CountLine()->isHidden());
}

TEST_F(ConversionReportTest, OneFailedFileIsAFailure) {
    auto report = Make(1, 0);
    EXPECT_EQ(report->windowTitle(), QStringLiteral("Conversion Failed"));
    EXPECT_EQ(report->BoldLine()->Text(), QStringLiteral("Error converting specified file."));
    EXPECT_TRUE(report->CountLine()->isHidden());
}

TEST_F(ConversionReportTest, FiveFilesNoneConverted) {
    auto report = Make(5, 0);
    EXPECT_EQ(report->windowTitle(), QStringLiteral("Conversion Completed"));
    EXPECT_EQ(report->BoldLine()->Text(), QStringLiteral("Conversion completed."));
    EXPECT_FALSE(report->CountLine()->isHidden());
    EXPECT_EQ(report->CountLine()->text(), QStringLiteral("0 of 5 files is converted successfully."));
}

TEST_F(ConversionReportTest, FiveFilesOneConvertedSaysIs) {
    EXPECT_EQ(Make(5, 1)->CountLine()->text(), QStringLiteral("1 of 5 files is converted successfully."));
}

TEST_F(ConversionReportTest, FiveFilesTwoConvertedSaysAre) {
    EXPECT_EQ(Make(5, 2)->CountLine()->text(), QStringLiteral("2 of 5 files are converted successfully."));
}

TEST_F(ConversionReportTest, TheControlsSitWhereTheTemplatePutsThem) {
    auto report = Make(3, 3);
    const DialogUnits du(report->font());
    EXPECT_EQ(report->size(), du.Size(257, 143));
    EXPECT_EQ(report->BoldLine()->geometry(), du.Rect(17, 51, 221, 8));
    EXPECT_EQ(report->CountLine()->geometry(), du.Rect(17, 66, 221, 8));
    EXPECT_EQ(report->OpenFolderButton()->geometry(), du.Rect(14, 120, 86, 14));
    EXPECT_EQ(report->CloseButton()->geometry(), du.Rect(196, 120, 50, 14));
    EXPECT_TRUE(report->CloseButton()->isDefault());
    EXPECT_EQ(report->OpenFolderButton()->text(), QStringLiteral("Open Output Folder"));
    EXPECT_EQ(report->DontShowAgain()->text(), QStringLiteral("Don't show this to me again"));
    EXPECT_FALSE(report->DontShowAgain()->isChecked());
}

// Failed files are listed with their reasons on request, below the report, whose controls stay
// where they are; a run without failures has no such button at all.
TEST_F(ConversionReportTest, FailedFilesAreListedWithTheirReasonsOnRequest) {
    EXPECT_EQ(Make(3, 3)->ShowFailedButton(), nullptr);
    const QStringList failed{QStringLiteral("a.flac: the FLAC stream is damaged at 0:01.20"),
                             QStringLiteral("b.wav: the file does not exist")};
    ConversionReport report(3, 1, QString(), nullptr, failed);
    const DialogUnits du(report.font());
    ASSERT_NE(report.ShowFailedButton(), nullptr);
    EXPECT_EQ(report.ShowFailedButton()->text(), QStringLiteral("Show Failed Files"));
    EXPECT_TRUE(report.FailedList()->isHidden());
    EXPECT_EQ(report.size(), du.Size(257, 143));
    report.ShowFailedButton()->click();
    EXPECT_FALSE(report.FailedList()->isHidden());
    EXPECT_EQ(report.FailedList()->toPlainText(), failed.join(QLatin1Char('\n')));
    EXPECT_GT(report.height(), du.Size(257, 143).height());
    EXPECT_EQ(report.CloseButton()->geometry(), du.Rect(196, 120, 50, 14));
    EXPECT_EQ(report.ShowFailedButton()->text(), QStringLiteral("Hide Failed Files"));
    report.ShowFailedButton()->click();
    EXPECT_TRUE(report.FailedList()->isHidden());
    EXPECT_EQ(report.size(), du.Size(257, 143));
}

TEST_F(ConversionReportTest, TheBoldLineIsBoldOnTheButtonFace) {
    auto report = Make(3, 3);
    report->BoldLine()->resize(400, 20);
    const QImage drawn = report->BoldLine()->grab().toImage();
    const QColor face = report->BoldLine()->palette().color(QPalette::Button);
    EXPECT_EQ(QColor(drawn.pixel(drawn.width() - 2, 1)).rgb(), face.rgb());
    // Bold text covers more of the line than the same text in the regular weight.
    const auto ink = [&face](const QImage& image) {
        int count = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (qGray(image.pixel(x, y)) < qGray(face.rgb()) - 80) ++count;
        return count;
    };
    QImage regular(drawn.size(), QImage::Format_ARGB32);
    regular.fill(face);
    {
        QPainter painter(&regular);
        painter.setFont(report->BoldLine()->font());
        painter.setPen(Qt::black);
        painter.drawText(regular.rect(), Qt::AlignLeft | Qt::AlignVCenter, report->BoldLine()->Text());
    }
    EXPECT_GT(ink(drawn), ink(regular) * 11 / 10);
}

TEST_F(ConversionReportTest, OpenOutputFolderOpensAnExistingFolderAndStaysOpen) {
    test::OpenedUrls opened;
    const QString folder = QString::fromStdString(scratch_.Path());
    auto report = Make(2, 2, folder);
    report->show();
    EXPECT_TRUE(report->OpenOutputFolder());
    ASSERT_EQ(opened.Urls().size(), 1u);
    EXPECT_EQ(opened.Urls()[0], QUrl::fromLocalFile(folder));
    EXPECT_TRUE(report->isVisible());
}

TEST_F(ConversionReportTest, AMissingFolderIsReportedInQuotesWithThreeBlanks) {
    test::OpenedUrls opened;
    const QString folder = QString::fromStdString(scratch_.File("moved away"));
    auto report = Make(2, 1, folder);
    report->show();
    QString text, caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QWidget* owner = nullptr;
    test::ModalAnswer answer([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box) {
            modal->close();
            return;
        }
        text = box->text();
        caption = box->windowTitle();
        icon = box->icon();
        owner = box->parentWidget();
        box->button(QMessageBox::Ok)->click();
    });
    EXPECT_FALSE(report->OpenOutputFolder());
    ASSERT_TRUE(answer.Answered());
    EXPECT_EQ(text, QStringLiteral("Cannot open folder: \"") + folder + QStringLiteral("\"   "));
    EXPECT_EQ(caption, QStringLiteral("Tavorin Channel Merger"));
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_EQ(owner, report.get());
    EXPECT_TRUE(opened.Urls().empty());
    EXPECT_TRUE(report->isVisible());
}

TEST_F(ConversionReportTest, AFolderTheDesktopCannotOpenIsReported) {
    const QString folder = QString::fromStdString(scratch_.Path());
    auto report = Make(2, 2, folder);
    report->show();
    const test::NoDesktopHandlers no_handlers;
    test::SeenMessage box;
    test::ModalAnswer answer([&box](QWidget* modal) { test::ReadMessageBox(modal, box); });
    report->OpenFolderButton()->click();
    ASSERT_TRUE(box.seen);
    EXPECT_EQ(box.text, QStringLiteral("Cannot open folder: \"") + folder + QStringLiteral("\"   "));
    EXPECT_EQ(box.title, QStringLiteral("Tavorin Channel Merger"));
    EXPECT_EQ(box.icon, QMessageBox::Critical);
    EXPECT_EQ(box.owner, report.get());
    EXPECT_TRUE(report->isVisible());
}

TEST_F(ConversionReportTest, CloseWithTheTickTurnsTheReportOff) {
    auto report = Make(2, 2);
    report->show();
    report->DontShowAgain()->setChecked(true);
    EXPECT_TRUE(AppSettings::Instance().show_conversion_report);  // nothing until Close
    report->CloseButton()->click();
    EXPECT_FALSE(AppSettings::Instance().show_conversion_report);
    EXPECT_FALSE(report->isVisible());
    EXPECT_EQ(report->result(), 1);
}

TEST_F(ConversionReportTest, CloseWithoutTheTickKeepsTheReport) {
    auto report = Make(2, 2);
    report->show();
    report->CloseButton()->click();
    EXPECT_TRUE(AppSettings::Instance().show_conversion_report);
}

TEST_F(ConversionReportTest, ShowConversionReportRunsModallyCentredOverItsOwner) {
    QWidget owner;
    owner.setGeometry(100, 80, 600, 400);
    owner.show();
    QRect report_place;
    QString title;
    test::ModalAnswer answer([&](QWidget* modal) {
        auto* report = qobject_cast<ConversionReport*>(modal);
        if (!report) {
            modal->close();
            return;
        }
        title = report->windowTitle();
        report_place = report->frameGeometry();
        report->CloseButton()->click();
    });
    EXPECT_EQ(ShowConversionReport(1, 1, QString(), &owner), 1);
    ASSERT_TRUE(answer.Answered());
    EXPECT_EQ(title, QStringLiteral("Conversion Completed"));
    EXPECT_LE(std::abs(report_place.center().x() - owner.frameGeometry().center().x()), 1);
    EXPECT_LE(std::abs(report_place.center().y() - owner.frameGeometry().center().y()), 1);
}

TEST_F(ConversionReportTest, ScreenReadersFindEveryControlNamedAndTheHeaderTitled) {
    for (const auto& [total, converted, caption] :
         {std::tuple{5, 2, ConversionReport::CompletedCaption()}, std::tuple{1, 0, ConversionReport::FailedCaption()}}) {
        auto report = Make(total, converted, QString::fromStdString(scratch_.Path()));
        report->show();
        EXPECT_EQ(test::AccessibilityFaults(report.get()), QStringList()) << total;
        auto* header = report->findChild<HeaderPicture*>();
        ASSERT_NE(header, nullptr);
        EXPECT_EQ(header->accessibleName(), caption);
        // The bold line is drawn by the dialog: it reads as drawn.
        EXPECT_EQ(QAccessible::queryAccessibleInterface(report->BoldLine())->text(QAccessible::Name),
                  report->BoldLine()->Text());
    }
}

}  // namespace
}  // namespace chm
