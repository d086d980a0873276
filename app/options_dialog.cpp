#include "app/options_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

#include "app/app_settings.h"
#include "app/header_picture.h"
#include "ui/dialog_units.h"
#include "ui/message_box.h"

namespace chm {

OptionsDialog::OptionsDialog(QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("OptionsDialog"));
    setWindowTitle(QStringLiteral("Options"));
    setFont(DialogUnits::ShellDlgFont());
    const DialogUnits du(font());
    setFixedSize(du.Size(280, 175));

    // The controls of the dialog's template, in its order (all children of the dialog).
    auto* header = new HeaderPicture(this);
    header->setGeometry(du.Rect(0, 0, 280, 31));
    AddEtchedLine(this, du.Rect(0, 34, 281, 1));
    auto* caption = new QLabel(QStringLiteral("Conversion method:"), this);
    caption->setGeometry(du.Rect(15, 52, 66, 8).adjusted(0, -1, 0, 1));
    AddEtchedLine(this, du.Rect(85, 56, 184, 1));
    methods_ = new QButtonGroup(this);
    const struct {
        int id;
        const char* text;
        int y;
    } radios[] = {{kMixId, "Mix channels", 74}, {kKeepLeftId, "Keep left channel only", 91},
                  {kKeepRightId, "Keep right channel only", 108}};
    for (const auto& radio : radios) {
        auto* button = new QRadioButton(QString::fromLatin1(radio.text), this);
        button->setObjectName(QString::number(radio.id));
        button->setGeometry(du.Rect(29, radio.y, 108, 8).adjusted(0, -2, 0, 2));
        methods_->addButton(button, radio.id);
    }
    // Off by default: an output has the time of its conversion, and goes directly into the
    // output folder.
    keep_dates_ = new QCheckBox(QStringLiteral("Keep the source's dates"), this);
    keep_dates_->setObjectName(QString::number(kKeepDatesId));
    keep_dates_->setGeometry(du.Rect(15, 121, 150, 8).adjusted(0, -2, 0, 2));
    keep_dates_->setChecked(AppSettings::Instance().keep_dates);
    keep_tree_ = new QCheckBox(QStringLiteral("Recreate the source folders in the output folder"), this);
    keep_tree_->setObjectName(QString::number(kKeepTreeId));
    keep_tree_->setGeometry(du.Rect(15, 132, 250, 8).adjusted(0, -2, 0, 2));
    keep_tree_->setChecked(AppSettings::Instance().keep_tree);
    AddEtchedLine(this, du.Rect(8, 144, 264, 1));
    reset_ = new QPushButton(QStringLiteral("Reset to Defaults"), this);
    reset_->setObjectName(QString::number(kResetId));
    reset_->setGeometry(du.Rect(14, 153, 86, 14));
    reset_->setAutoDefault(false);
    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setObjectName(QString::number(kIdOk));
    ok_->setGeometry(du.Rect(163, 153, 50, 14));
    ok_->setDefault(true);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setObjectName(QString::number(kIdCancel));
    cancel_->setGeometry(du.Rect(218, 153, 50, 14));
    cancel_->setAutoDefault(false);
    connect(reset_, &QPushButton::clicked, this, &OptionsDialog::ResetToDefaults);
    connect(ok_, &QPushButton::clicked, this, &OptionsDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &OptionsDialog::reject);

    // The current method's button; values outside 0..1 are the right channel's.
    const int method = AppSettings::Instance().conversion_method;
    RadioButton(method == 0 ? kMixId : method == 1 ? kKeepLeftId : kKeepRightId)->setChecked(true);
}

QRadioButton* OptionsDialog::RadioButton(int id) const { return qobject_cast<QRadioButton*>(methods_->button(id)); }

int OptionsDialog::SelectedMethod() const {
    if (RadioButton(kMixId)->isChecked()) return 0;
    if (RadioButton(kKeepLeftId)->isChecked()) return 1;
    return 2;
}

// Selects "Mix channels" (the group clears the other two) and clears the dates and folders boxes;
// nothing is stored yet.
void OptionsDialog::ResetToDefaults() {
    RadioButton(kMixId)->setChecked(true);
    keep_dates_->setChecked(false);
    keep_tree_->setChecked(false);
}

void OptionsDialog::accept() {
    AppSettings::Instance().conversion_method = SelectedMethod();  // written to the file at exit
    AppSettings::Instance().keep_dates = keep_dates_->isChecked();
    AppSettings::Instance().keep_tree = keep_tree_->isChecked();
    done(kIdOk);
}

void OptionsDialog::reject() { done(kIdCancel); }

void OptionsDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!centred_) {
        centred_ = true;
        CentreOverOwner(*this);
    }
}

}  // namespace chm
