#include <gtest/gtest.h>

#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <filesystem>

#include "app/app_settings.h"
#include "tests/support/test_files.h"
#include "tests/ui/ui_test_support.h"
#include "ui/output_box.h"

namespace chm {
namespace {

constexpr QRgb kEditable = qRgb(0xCE, 0xE2, 0xEF);
constexpr QRgb kReadOnly = qRgb(0xB4, 0xD2, 0xE7);

// Pixels of the placeholder's grey: neutral (the box's backgrounds are blue) and near 0x8C.
int GreyPixels(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (test::NearColor(p, qRgb(0x8C, 0x8C, 0x8C), 24) && std::abs(qRed(p) - qBlue(p)) <= 4) ++count;
        }
    }
    return count;
}

// The smallest rectangle holding every pixel of the image that is not `background`.
QRect InkBounds(const QImage& image, QRgb background) {
    QRect bounds;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != background) bounds |= QRect(x, y, 1, 1);
    return bounds;
}

class OutputBox : public ::testing::Test {
protected:
    OutputBox() {
        window_.setGeometry(100, 100, 480, 120);
        box_ = new VeOutputBoxCtrlBase(&window_, QRect(10, 10, 335, 20));  // owned by the window
        other_ = new QPushButton(QStringLiteral("Browse..."), &window_);
        other_->setGeometry(360, 10, 80, 22);
    }
    void TearDown() override { AppSettings::Instance().ResetToDefaults(); }

    QImage Grab() const { return box_->grab().toImage(); }

    void FocusElsewhere() {
        other_->setFocus(Qt::OtherFocusReason);
        ASSERT_TRUE(test::WaitFor([this] { return other_->hasFocus(); }));
    }
    void FocusEdit() {
        box_->Edit()->setFocus(Qt::OtherFocusReason);
        ASSERT_TRUE(test::WaitFor([this] { return box_->Edit()->hasFocus(); }));
    }

    // Answers the next folder picker: records where it started and its title, then chooses
    // `choose`, or cancels when it is empty.
    struct PickerSeen {
        bool seen = false;
        QString title;
        QString start;
    };
    test::ModalAnswer AnswerPicker(PickerSeen& seen, const QString& choose) {
        return test::ModalAnswer([&seen, choose](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            if (!dialog) {
                modal->close();
                return;
            }
            seen.seen = true;
            seen.title = dialog->windowTitle();
            seen.start = dialog->directory().absolutePath();
            if (choose.isEmpty()) {
                dialog->reject();
            } else {
                dialog->setDirectory(choose);
                static_cast<QDialog*>(dialog)->accept();
            }
        });
    }

    test::ScratchDir scratch_;
    QWidget window_;
    VeOutputBoxCtrlBase* box_;
    QPushButton* other_;
};

TEST_F(OutputBox, EditCoversTheBoxButItsTopTwoPixels) {
    EXPECT_EQ(box_->geometry(), QRect(10, 10, 335, 20));
    EXPECT_EQ(box_->Edit()->geometry(), QRect(0, 2, 335, 18));
}

TEST_F(OutputBox, BlanksOnlyCountAsEmpty) {
    box_->SetValue(QStringLiteral("   \t "));
    EXPECT_EQ(box_->Value(), QString());
    EXPECT_TRUE(VeOutputBoxCtrlBase::IsValidFolderValue(box_->Value()));
    EXPECT_TRUE(box_->ValidateForStart(&window_));
    EXPECT_EQ(EffectiveOutputFolder(box_->Value(), QString(), QString(), QStringLiteral("/music/a.mp3")),
              QStringLiteral("/music"));
}

TEST_F(OutputBox, FolderWithATrailingBlankIsAcceptedAfterTrimming) {
    box_->SetValue(QString::fromStdString(scratch_.Path()) + QStringLiteral(" "));
    EXPECT_EQ(box_->Value(), QString::fromStdString(scratch_.Path()));
    EXPECT_TRUE(box_->ValidateForStart(&window_));
}

TEST_F(OutputBox, NullTextEmptiesTheBox) {
    box_->SetValue(QStringLiteral("/somewhere"));
    box_->SetValue(QString());
    EXPECT_TRUE(box_->Edit()->text().isEmpty());
    EXPECT_EQ(box_->Value(), QString());
}

TEST_F(OutputBox, PlaceholderShowsOnlyWhileEmptyAndUnfocused) {
    ASSERT_TRUE(test::ShowAndActivate(&window_));
    FocusElsewhere();
    EXPECT_TRUE(box_->Edit()->ShowsPlaceholder());
    const QImage unfocused = Grab();
    EXPECT_GT(GreyPixels(unfocused), 20);
    EXPECT_EQ(unfocused.pixel(1, 0), kEditable);

    FocusEdit();
    EXPECT_FALSE(box_->Edit()->ShowsPlaceholder());
    EXPECT_EQ(GreyPixels(Grab()), 0);

    FocusElsewhere();  // the focus leaves an empty box: the placeholder is back
    EXPECT_GT(GreyPixels(Grab()), 20);
}

TEST_F(OutputBox, TextHidesThePlaceholder) {
    ASSERT_TRUE(test::ShowAndActivate(&window_));
    FocusElsewhere();
    box_->SetValue(QStringLiteral("/data/out"));
    EXPECT_FALSE(box_->Edit()->ShowsPlaceholder());
    EXPECT_EQ(GreyPixels(Grab()), 0);
}

TEST_F(OutputBox, PlaceholderSitsWhereTypedTextWould) {
    ASSERT_TRUE(test::ShowAndActivate(&window_));
    FocusElsewhere();
    const QRect placeholder = InkBounds(Grab(), kEditable);
    box_->SetValue(VeOutputBoxCtrlBase::Placeholder());
    const QRect typed = InkBounds(Grab(), kEditable);
    ASSERT_FALSE(placeholder.isEmpty());
    EXPECT_NEAR(placeholder.left(), typed.left(), 1);
    EXPECT_NEAR(placeholder.top(), typed.top(), 1);
    EXPECT_NEAR(placeholder.width(), typed.width(), 2);
}

TEST_F(OutputBox, BlanksShowNoPlaceholder) {
    // The edit paints normally as soon as it has any text, even text that counts as empty.
    box_->SetValue(QStringLiteral("  "));
    EXPECT_FALSE(box_->Edit()->ShowsPlaceholder());
}

TEST_F(OutputBox, ReadOnlySwitchChangesTheBackgroundAtOnce) {
    ASSERT_TRUE(test::ShowAndActivate(&window_));
    FocusElsewhere();
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    int paints = 0;
    class PaintCounter : public QObject {
    public:
        explicit PaintCounter(int& count) : count_(count) {}
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint) ++count_;
            return false;
        }
        int& count_;
    } counter(paints);
    box_->installEventFilter(&counter);
    box_->SetReadOnly(true);
    EXPECT_GT(paints, 0);  // painted before SetReadOnly returned, not at the next idle time
    box_->removeEventFilter(&counter);

    EXPECT_TRUE(box_->IsReadOnly());
    EXPECT_TRUE(box_->Edit()->isReadOnly());
    const QImage read_only = Grab();
    EXPECT_EQ(read_only.pixel(1, 0), kReadOnly);                         // the container
    EXPECT_EQ(read_only.pixel(read_only.width() - 2, 10), kReadOnly);    // the edit
    EXPECT_GT(GreyPixels(read_only), 20);                                // still empty: placeholder

    box_->SetValue(QStringLiteral("/data/out"));
    EXPECT_EQ(Grab().pixel(Grab().width() - 2, 10), kReadOnly);

    box_->SetReadOnly(false);
    const QImage editable = Grab();
    EXPECT_EQ(editable.pixel(1, 0), kEditable);
    EXPECT_EQ(editable.pixel(editable.width() - 2, 10), kEditable);
}

TEST_F(OutputBox, MissingFolderStopsTheStartWithTheMessage) {
    box_->SetValue(QString::fromStdString(scratch_.File("missing")));
    QString text, title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    test::ModalAnswer answer([&](QWidget* modal) {
        auto* message = qobject_cast<QMessageBox*>(modal);
        if (!message) {
            modal->close();
            return;
        }
        text = message->text();
        title = message->windowTitle();
        icon = message->icon();
        message->button(QMessageBox::Ok)->click();
    });
    EXPECT_FALSE(box_->ValidateForStart(&window_));
    EXPECT_TRUE(answer.Answered());
    EXPECT_EQ(text, QStringLiteral("Output folder is invalid or does not exist. \n\n"
                                   "Please select another folder and try again.    "));
    EXPECT_EQ(title, QStringLiteral("Tavorin Channel Merger"));
    EXPECT_EQ(icon, QMessageBox::Information);
}

TEST_F(OutputBox, FileInsteadOfAFolderIsInvalid) {
    test::WriteTextFile(scratch_.File("a.txt"), "x");
    EXPECT_FALSE(VeOutputBoxCtrlBase::IsValidFolderValue(QString::fromStdString(scratch_.File("a.txt"))));
    EXPECT_TRUE(VeOutputBoxCtrlBase::IsValidFolderValue(QString::fromStdString(scratch_.Path())));
    EXPECT_TRUE(VeOutputBoxCtrlBase::IsValidFolderValue(QString()));
}

TEST_F(OutputBox, BrowseStartsInTheCurrentFolderAndTakesTheChoice) {
    std::filesystem::create_directories(scratch_.File("chosen"));
    ASSERT_TRUE(test::ShowAndActivate(&window_));
    box_->SetValue(QString::fromStdString(scratch_.Path()));
    PickerSeen seen;
    auto answer = AnswerPicker(seen, QString::fromStdString(scratch_.File("chosen")));
    EXPECT_TRUE(box_->Browse(other_));
    ASSERT_TRUE(seen.seen);
    EXPECT_EQ(seen.title, QStringLiteral("Please select a folder:"));
    EXPECT_EQ(seen.start, QString::fromStdString(scratch_.Path()));
    EXPECT_EQ(box_->Value(), QString::fromStdString(scratch_.File("chosen")));
    EXPECT_EQ(window_.focusWidget(), other_);  // the focus went to Browse
}

TEST_F(OutputBox, CancelledBrowseLeavesTheText) {
    box_->SetValue(QString::fromStdString(scratch_.Path()));
    PickerSeen seen;
    auto answer = AnswerPicker(seen, QString());
    EXPECT_FALSE(box_->Browse(other_));
    EXPECT_TRUE(seen.seen);
    EXPECT_EQ(box_->Value(), QString::fromStdString(scratch_.Path()));
}

TEST_F(OutputBox, BrowseWithAMissingValueStartsAtTheDefaultPlace) {
    const QString missing = QString::fromStdString(scratch_.File("gone"));
    box_->SetValue(missing);
    PickerSeen seen;
    auto answer = AnswerPicker(seen, QString());
    box_->Browse(other_);
    ASSERT_TRUE(seen.seen);
    EXPECT_NE(seen.start, missing);
    EXPECT_TRUE(QDir(seen.start).exists());
    EXPECT_EQ(box_->Value(), missing);
}

TEST_F(OutputBox, TakesAndGivesBackTheOutputFolderSetting) {
    AppSettings::Instance().output_folder = "/srv/music/mono";
    box_->LoadFromSettings();
    EXPECT_EQ(box_->Value(), QStringLiteral("/srv/music/mono"));
    box_->SetValue(QStringLiteral("  /srv/out folder  "));
    box_->StoreToSettings();
    EXPECT_EQ(AppSettings::Instance().output_folder, "/srv/out folder");
}

TEST_F(OutputBox, EmptySettingShowsThePlaceholder) {
    box_->SetValue(QStringLiteral("/old"));
    AppSettings::Instance().output_folder.clear();
    box_->LoadFromSettings();
    EXPECT_EQ(box_->Value(), QString());
    EXPECT_TRUE(box_->Edit()->ShowsPlaceholder());
}

TEST_F(OutputBox, NonAsciiFolderSurvivesTheSetting) {
    box_->SetValue(QStringLiteral("/music/Überspielt/\u97f3\u697d"));
    box_->StoreToSettings();
    box_->SetValue(QString());
    box_->LoadFromSettings();
    EXPECT_EQ(box_->Value(), QStringLiteral("/music/Überspielt/\u97f3\u697d"));
}

TEST_F(OutputBox, FieldHasAnAccessibleName) {
    EXPECT_FALSE(box_->Edit()->accessibleName().isEmpty());
    box_->setToolTip(QStringLiteral("Folder for the converted files"));
    EXPECT_EQ(box_->Edit()->accessibleName(), QStringLiteral("Folder for the converted files"));
}

TEST(EffectiveOutputFolder, ValueFirstThenFocusedSelectedAndFirstRow) {
    const QString a = QStringLiteral("/a/one.mp3"), b = QStringLiteral("/b/two.wav"), c = QStringLiteral("/c/three.wma");
    EXPECT_EQ(EffectiveOutputFolder(QStringLiteral(" /out "), a, b, c), QStringLiteral("/out"));
    EXPECT_EQ(EffectiveOutputFolder(QString(), a, b, c), QStringLiteral("/a"));
    EXPECT_EQ(EffectiveOutputFolder(QString(), QString(), b, c), QStringLiteral("/b"));
    EXPECT_EQ(EffectiveOutputFolder(QString(), QString(), QString(), c), QStringLiteral("/c"));
    EXPECT_EQ(EffectiveOutputFolder(QStringLiteral("  "), QString(), QString(), QString()), QString());
}

}  // namespace
}  // namespace chm
