#pragma once
#include <QDialog>
#include <QString>
#include <QStringList>

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace chm {

// The bold first line of the report, drawn by the dialog: the dialog's font with weight 700
// on the button-face colour.
class ReportBoldLine : public QWidget {
    Q_OBJECT

public:
    explicit ReportBoldLine(QWidget* parent = nullptr);
    void SetText(const QString& text);
    const QString& Text() const { return text_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
};

// The report at the end of a complete run: how many files were converted, a way to the folder
// that holds them, and the offer to stop showing itself.
class ConversionReport : public QDialog {
    Q_OBJECT

public:
    static constexpr int kIdd = 241;
    static constexpr int kBoldLineId = 1005;
    static constexpr int kCountLineId = 1006;
    static constexpr int kOpenFolderId = 1007;
    static constexpr int kDontShowId = 1010;
    static constexpr int kShowFailedId = 1011;

    static const QString& CompletedCaption();  // "Conversion Completed"
    static const QString& FailedCaption();     // "Conversion Failed"
    // "%d of %d files %s converted successfully." with "are" for more than one, else "is".
    static QString CountText(int converted, int total);
    // "Cannot open folder: " with the folder in quotation marks and three blanks.
    static QString CannotOpenFolderText(const QString& folder);

    // `total` rows when the run ended, `converted` of them complete; `report_folder` is the
    // effective output folder at that moment.
    // `failed` lists the files that failed, each "name: reason"; with any, a "Show Failed Files"
    // button opens a list of them under the report.
    // `output_to_show`, an output in that folder, is shown selected by "Open Output Folder".
    ConversionReport(int total, int converted, QString report_folder, QWidget* owner,
                     QStringList failed = QStringList(), QString output_to_show = QString());

    const QString& ReportFolder() const { return report_folder_; }
    ReportBoldLine* BoldLine() const { return bold_line_; }
    QLabel* CountLine() const { return count_line_; }
    QCheckBox* DontShowAgain() const { return dont_show_; }
    QPushButton* OpenFolderButton() const { return open_folder_; }
    QPushButton* CloseButton() const { return close_; }
    QPushButton* ShowFailedButton() const { return show_failed_; }
    QPlainTextEdit* FailedList() const { return failed_list_; }
    // Shows or hides the list of failed files; the dialog grows downward to hold it.
    void ToggleFailedList();

    // "Open Output Folder": the folder opens in the file manager, with the output to show
    // selected where there is one, and the report stays; a folder that is gone, or that the
    // desktop cannot open, is reported over the dialog. True when the folder was handed on.
    bool OpenOutputFolder();
    // "Close": a ticked "Don't show this to me again" turns the report off (written at exit).
    void CloseReport();

    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QString report_folder_;
    QString output_to_show_;
    ReportBoldLine* bold_line_;
    QLabel* count_line_;
    QCheckBox* dont_show_;
    QPushButton* open_folder_;
    QPushButton* close_;
    QPushButton* show_failed_ = nullptr;
    QPlainTextEdit* failed_list_ = nullptr;
    QSize closed_size_;
    bool centred_ = false;
};

// Runs the report modally over `owner` (the active window at that moment, or none).
int ShowConversionReport(int total, int converted, const QString& report_folder, QWidget* owner,
                         const QStringList& failed = QStringList(), const QString& output_to_show = QString());

}  // namespace chm
