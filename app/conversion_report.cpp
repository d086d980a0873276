#include "app/conversion_report.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>

#include "app/app_settings.h"
#include "app/header_picture.h"
#include "ui/dialog_units.h"
#include "ui/file_manager.h"
#include "ui/message_box.h"

namespace chm {

ReportBoldLine::ReportBoldLine(QWidget* parent) : QWidget(parent) {}

void ReportBoldLine::SetText(const QString& text) {
    text_ = text;
    setAccessibleName(text);
    update();
}

void ReportBoldLine::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Button));
    QFont bold = font();
    bold.setWeight(QFont::Bold);
    painter.setFont(bold);
    painter.setPen(palette().color(QPalette::ButtonText));
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text_);
}

const QString& ConversionReport::CompletedCaption() {
    static const QString text = QStringLiteral("Conversion Completed");
    return text;
}

const QString& ConversionReport::FailedCaption() {
    static const QString text = QStringLiteral("Conversion Failed");
    return text;
}

QString ConversionReport::CountText(int converted, int total) {
    return QStringLiteral("%1 of %2 files %3 converted successfully.")
        .arg(converted)
        .arg(total)
        .arg(converted > 1 ? QStringLiteral("are") : QStringLiteral("is"));
}

QString ConversionReport::CannotOpenFolderText(const QString& folder) {
    return FileManager::CannotOpenFolderText(folder);
}

ConversionReport::ConversionReport(int total, int converted, QString report_folder, QWidget* owner,
                                   QStringList failed, QString output_to_show)
    : QDialog(owner), report_folder_(std::move(report_folder)), output_to_show_(std::move(output_to_show)) {
    setObjectName(QStringLiteral("ConversionReport"));
    setWindowTitle(CompletedCaption());
    setFont(DialogUnits::ShellDlgFont());
    const DialogUnits du(font());
    setFixedSize(du.Size(257, 143));

    // The controls of the dialog's template, in its order (all children of the dialog).
    auto* header = new HeaderPicture(this);
    header->setGeometry(du.Rect(0, 0, 280, 34));
    AddEtchedLine(this, du.Rect(0, 34, 281, 1));
    bold_line_ = new ReportBoldLine(this);
    bold_line_->setObjectName(QString::number(kBoldLineId));
    bold_line_->setGeometry(du.Rect(17, 51, 221, 8));
    bold_line_->SetText(QStringLiteral("Conversion completed."));
    count_line_ = new QLabel(QStringLiteral("90 of 100 files are converted successfully."), this);
    count_line_->setObjectName(QString::number(kCountLineId));
    count_line_->setGeometry(du.Rect(17, 66, 221, 8));
    dont_show_ = new QCheckBox(QStringLiteral("Don't show this to me again"), this);
    dont_show_->setObjectName(QString::number(kDontShowId));
    dont_show_->setGeometry(du.Rect(144, 95, 101, 8).adjusted(0, -2, 0, 2));
    AddEtchedLine(this, du.Rect(8, 111, 243, 1));
    open_folder_ = new QPushButton(QStringLiteral("Open Output Folder"), this);
    open_folder_->setObjectName(QString::number(kOpenFolderId));
    open_folder_->setGeometry(du.Rect(14, 120, 86, 14));
    open_folder_->setAutoDefault(false);
    close_ = new QPushButton(QStringLiteral("Close"), this);
    close_->setObjectName(QString::number(kIdOk));
    close_->setGeometry(du.Rect(196, 120, 50, 14));
    close_->setDefault(true);
    connect(open_folder_, &QPushButton::clicked, this, [this] { OpenOutputFolder(); });
    connect(close_, &QPushButton::clicked, this, [this] { CloseReport(); });

    // 2. One file that did not convert.
    if (total < 2 && converted == 0) setWindowTitle(FailedCaption());
    // 3.
    if (total < 2)
        bold_line_->SetText(converted > 0 ? QStringLiteral("File converted successfully.")
                                          : QStringLiteral("Error converting specified file."));
    // 4.
    if (total > 1) count_line_->setText(CountText(converted, total));
    else count_line_->hide();
    // The files that failed, each with its reason, on request: below everything else, so that
    // the report looks as it always did until the list is asked for.
    closed_size_ = size();
    if (failed.isEmpty()) return;
    show_failed_ = new QPushButton(QStringLiteral("Show Failed Files"), this);
    show_failed_->setObjectName(QString::number(kShowFailedId));
    show_failed_->setGeometry(du.Rect(14, 91, 86, 14));
    show_failed_->setAutoDefault(false);
    failed_list_ = new QPlainTextEdit(failed.join(QLatin1Char('\n')), this);
    failed_list_->setObjectName(QStringLiteral("FailedFiles"));
    failed_list_->setReadOnly(true);
    failed_list_->setLineWrapMode(QPlainTextEdit::NoWrap);
    failed_list_->setAccessibleName(QStringLiteral("Failed files"));
    failed_list_->setGeometry(du.Rect(8, 142, 241, 76));
    failed_list_->hide();
    connect(show_failed_, &QPushButton::clicked, this, [this] { ToggleFailedList(); });
}

void ConversionReport::ToggleFailedList() {
    if (!failed_list_) return;
    const bool show = failed_list_->isHidden();
    const DialogUnits du(font());
    setFixedSize(show ? du.Size(257, 226) : closed_size_);
    failed_list_->setVisible(show);
    show_failed_->setText(show ? QStringLiteral("Hide Failed Files") : QStringLiteral("Show Failed Files"));
}

bool ConversionReport::OpenOutputFolder() {
    const QFileInfo folder(report_folder_);
    // A folder that is gone, or one the desktop has no handler for, is reported over the dialog.
    if (!report_folder_.isEmpty() && folder.exists() && folder.isDir()) {
        // The file manager shows the output selected; without one the folder opens.
        if (!output_to_show_.isEmpty() && QFileInfo(output_to_show_).isFile() &&
            QDir::cleanPath(FileManager::FolderOf(output_to_show_)) == QDir::cleanPath(folder.absoluteFilePath())) {
            FileManager::ShowItem(output_to_show_, this);
            return true;
        }
        return FileManager::OpenFolder(report_folder_, this);
    }
    FileManager::TellCannotOpenFolder(this, report_folder_);
    return false;
}

void ConversionReport::CloseReport() {
    if (dont_show_->isChecked()) AppSettings::Instance().show_conversion_report = false;
    done(kIdOk);
}

// Escape and the close box end the report like its Close button: a tick the user set is not
// thrown away because the window was closed another way.
void ConversionReport::reject() { CloseReport(); }

void ConversionReport::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!centred_) {
        centred_ = true;
        CentreOverOwner(*this);
    }
}

int ShowConversionReport(int total, int converted, const QString& report_folder, QWidget* owner,
                         const QStringList& failed, const QString& output_to_show) {
    ConversionReport report(total, converted, report_folder, owner, failed, output_to_show);
    return report.exec();
}

}  // namespace chm
