#include "ui/output_box.h"

#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

#include "app/app_settings.h"
#include "engine/paths.h"
#include "ui/gfx/color_ref.h"
#include "ui/message_box.h"

namespace chm {

namespace {

constexpr int kEditTop = 2;  // the edit leaves the box's top 2 pixels to its background

const QString& Caption() {
    static const QString caption = QStringLiteral("Tavorin Channel Merger");
    return caption;
}

}  // namespace

VeOutputEdit::VeOutputEdit(VeOutputBoxCtrlBase* box) : QLineEdit(box), box_(box) {
    setFrame(false);
}

bool VeOutputEdit::ShowsPlaceholder() const { return !hasFocus() && text().isEmpty(); }

void VeOutputEdit::paintEvent(QPaintEvent* event) {
    if (!ShowsPlaceholder()) {
        QLineEdit::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.fillRect(rect(), box_->BackgroundColor());
    // Where the line edit itself puts its first character, so that nothing jumps when the
    // user clicks into the box.
    QStyleOptionFrame option;
    initStyleOption(&option);
    QRect text_rect = style()->subElementRect(QStyle::SE_LineEditContents, &option, this);
    text_rect = text_rect.marginsRemoved(textMargins()).adjusted(2, 1, -2, -1);
    painter.setFont(font());
    painter.setPen(ColorFromColorRef(kOutputBoxPlaceholderColor));
    painter.setBackgroundMode(Qt::TransparentMode);
    painter.drawText(text_rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, VeOutputBoxCtrlBase::Placeholder());
}

void VeOutputEdit::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    update();
}

void VeOutputEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    update();
}

const QString& VeOutputBoxCtrlBase::Placeholder() {
    static const QString text = QStringLiteral("<Same as Input>");
    return text;
}

const QString& VeOutputBoxCtrlBase::BrowsePrompt() {
    static const QString text = QStringLiteral("Please select a folder:");
    return text;
}

const QString& VeOutputBoxCtrlBase::InvalidFolderMessage() {
    static const QString text = QStringLiteral(
        "Output folder is invalid or does not exist. \n\nPlease select another folder and try again.    ");
    return text;
}

VeOutputBoxCtrlBase::VeOutputBoxCtrlBase(QWidget* parent) : QWidget(parent), edit_(new VeOutputEdit(this)) {
    edit_->setAccessibleName(QStringLiteral("Output folder"));
    setAccessibleName(edit_->accessibleName());
    ApplyEditColors();
    PlaceEdit();
}

VeOutputBoxCtrlBase::VeOutputBoxCtrlBase(QWidget* parent, const QRect& rect) : VeOutputBoxCtrlBase(parent) {
    setGeometry(rect);
    PlaceEdit();  // a hidden widget hears of its size only when it is shown
}

QString VeOutputBoxCtrlBase::Value() const { return edit_->text().trimmed(); }

void VeOutputBoxCtrlBase::SetValue(const QString& text) { edit_->setText(text.isNull() ? QString() : text); }

void VeOutputBoxCtrlBase::SetReadOnly(bool read_only) {
    edit_->setReadOnly(read_only);
    ApplyEditColors();
    // At once, not at the next idle paint: the state change must be seen as the run starts.
    repaint();
    edit_->repaint();
}

bool VeOutputBoxCtrlBase::IsReadOnly() const { return edit_->isReadOnly(); }

QColor VeOutputBoxCtrlBase::BackgroundColor() const {
    return ColorFromColorRef(IsReadOnly() ? kOutputBoxReadOnlyBackground : kOutputBoxEditableBackground);
}

bool VeOutputBoxCtrlBase::Browse(QWidget* browse_button) {
    if (browse_button) browse_button->setFocus(Qt::OtherFocusReason);
    const QString current = Value();
    const QString start = !current.isEmpty() && QFileInfo(current).isDir() ? current : QString();
    const QString chosen =
        QFileDialog::getExistingDirectory(window(), BrowsePrompt(), start, QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty()) return false;
    SetValue(chosen);
    return true;
}

bool VeOutputBoxCtrlBase::IsValidFolderValue(const QString& value) {
    const QString trimmed = value.trimmed();
    return trimmed.isEmpty() || QFileInfo(trimmed).isDir();
}

bool VeOutputBoxCtrlBase::ValidateForStart(QWidget* owner) const {
    if (IsValidFolderValue(Value())) return true;
    ShowCenteredMessageBox(owner, InvalidFolderMessage(), Caption(), kMbOk | kMbIconInformation);
    return false;
}

void VeOutputBoxCtrlBase::LoadFromSettings() { SetValue(QString::fromStdString(AppSettings::Instance().output_folder)); }

void VeOutputBoxCtrlBase::StoreToSettings() const { AppSettings::Instance().output_folder = Value().toStdString(); }

void VeOutputBoxCtrlBase::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), BackgroundColor());
}

void VeOutputBoxCtrlBase::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    PlaceEdit();
}

bool VeOutputBoxCtrlBase::event(QEvent* event) {
    // A tool tip given by the work view names the field for assistive tools too.
    if (event->type() == QEvent::ToolTipChange && !toolTip().isEmpty()) {
        edit_->setToolTip(toolTip());
        edit_->setAccessibleName(toolTip());
        setAccessibleName(toolTip());
    }
    return QWidget::event(event);
}

void VeOutputBoxCtrlBase::PlaceEdit() { edit_->setGeometry(0, kEditTop, width(), std::max(0, height() - kEditTop)); }

void VeOutputBoxCtrlBase::ApplyEditColors() {
    QPalette palette = edit_->palette();
    const QColor background = BackgroundColor();
    palette.setColor(QPalette::Base, background);
    palette.setColor(QPalette::Window, background);
    edit_->setPalette(palette);
}

QString EffectiveOutputFolder(const QString& value, const QString& focused_row_path,
                              const QString& first_selected_row_path, const QString& first_row_path) {
    const QString trimmed = value.trimmed();
    if (!trimmed.isEmpty()) return trimmed;
    for (const QString* path : {&focused_row_path, &first_selected_row_path, &first_row_path}) {
        if (!path->isEmpty()) return QString::fromStdString(PathFolder(path->toStdString(), false));
    }
    return {};
}

}  // namespace chm
