#pragma once
#include <QDialog>

class QButtonGroup;
class QCheckBox;
class QPushButton;
class QRadioButton;

namespace chm {

// "Options": the conversion method, and whether outputs keep their source's dates. The choices
// are stored in the settings by OK only; they take effect from the next run.
class OptionsDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr int kIdd = 240;
    static constexpr int kMixId = 1030;
    static constexpr int kKeepLeftId = 1031;
    static constexpr int kKeepRightId = 1033;
    static constexpr int kResetId = 1000;
    static constexpr int kKeepDatesId = 1040;
    static constexpr int kKeepTreeId = 1041;

    explicit OptionsDialog(QWidget* owner);

    // The radio button of a control id (kMixId ...), or null.
    QRadioButton* RadioButton(int id) const;
    QCheckBox* KeepDatesBox() const { return keep_dates_; }
    QCheckBox* KeepTreeBox() const { return keep_tree_; }
    QPushButton* ResetButton() const { return reset_; }
    QPushButton* OkButton() const { return ok_; }
    QPushButton* CancelButton() const { return cancel_; }
    // The method the buttons stand for now: 0 for 1030, 1 for 1031, else 2.
    int SelectedMethod() const;

    void ResetToDefaults();
    void accept() override;  // OK: stores the method, ends with 1
    void reject() override;  // Cancel: ends with 2, nothing stored

protected:
    void showEvent(QShowEvent* event) override;

private:
    QButtonGroup* methods_;
    QCheckBox* keep_dates_;
    QCheckBox* keep_tree_;
    QPushButton* reset_;
    QPushButton* ok_;
    QPushButton* cancel_;
    bool centred_ = false;
};

}  // namespace chm
