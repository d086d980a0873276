#pragma once
#include <QLineEdit>
#include <QString>
#include <QWidget>
#include <cstdint>

namespace chm {

class VeOutputBoxCtrlBase;

// Windows COLORREF values (0x00BBGGRR) of the box.
constexpr uint32_t kOutputBoxEditableBackground = 0xEFE2CE;
constexpr uint32_t kOutputBoxReadOnlyBackground = 0xE7D2B4;
constexpr uint32_t kOutputBoxPlaceholderColor = 0x8C8C8C;

// The edit inside the output box: a plain line edit that, while it is empty and without the
// focus, shows the grey placeholder "<Same as Input>" on the box's background instead.
class VeOutputEdit : public QLineEdit {
    Q_OBJECT

public:
    explicit VeOutputEdit(VeOutputBoxCtrlBase* box);
    // True while the placeholder is what the edit shows.
    bool ShowsPlaceholder() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    VeOutputBoxCtrlBase* box_;
};

// The output folder box of the work view. Its value is the edit's text trimmed of white space;
// empty means beside each input file.
class VeOutputBoxCtrlBase : public QWidget {
    Q_OBJECT

public:
    static const QString& Placeholder();   // "<Same as Input>"
    static const QString& BrowsePrompt();  // "Please select a folder:"
    static const QString& InvalidFolderMessage();

    explicit VeOutputBoxCtrlBase(QWidget* parent = nullptr);
    // Creates the box at `rect` of its parent, the edit covering all of it but the top 2 pixels.
    VeOutputBoxCtrlBase(QWidget* parent, const QRect& rect);

    QString Value() const;
    // A null text empties the box.
    void SetValue(const QString& text);

    void SetReadOnly(bool read_only);
    bool IsReadOnly() const;
    QColor BackgroundColor() const;
    VeOutputEdit* Edit() const { return edit_; }

    // The Browse button's command: the focus moves to `browse_button`, the folder picker opens
    // in the current value when that is an existing folder (else at its default place), and a
    // confirmed choice becomes the text. True when the user chose a folder.
    bool Browse(QWidget* browse_button);

    // Empty, or an existing folder.
    static bool IsValidFolderValue(const QString& value);
    // Before a conversion starts: true when the value is valid; otherwise tells the user over
    // `owner` and returns false.
    bool ValidateForStart(QWidget* owner) const;

    // Persistence: the box takes the output_folder setting when the work view is made and
    // gives the trimmed value back when the work view goes.
    void LoadFromSettings();
    void StoreToSettings() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;

private:
    void ApplyEditColors();
    void PlaceEdit();

    VeOutputEdit* edit_;
};

// The folder the converted files go to as the user would look for it: the box's value when
// it is not empty, else the folder of the focused row, or of the first selected row, or of
// the first row (each a row's file path, empty when there is no such row); empty when the
// list is empty.
QString EffectiveOutputFolder(const QString& value, const QString& focused_row_path,
                              const QString& first_selected_row_path, const QString& first_row_path);

}  // namespace chm
