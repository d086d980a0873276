#include "ui/getting_started_panel.h"

#include <QDropEvent>
#include <QPainter>
#include <utility>

#include "ui/file_list_view.h"
#include "ui/skin_fonts.h"
#include "ui/skin_images.h"

namespace chm {

namespace {

constexpr QRgb kPanelBackground = 0xFFFFFFFF;
constexpr QRgb kHeadingColor = 0xFF2E3D4D;
constexpr QRgb kTextColor = 0xFF4A5866;
constexpr QRgb kStepNumberColor = 0xFF3A70A6;

struct Step {
    const char* title;
    const char* text;
};

constexpr Step kSteps[3] = {
    {"Add your stereo files",
     "Pick MP3, WAV, WMA, FLAC, Ogg Vorbis, Opus, AAC (M4A) or AIFF files or a whole folder with "
     "Add, or drop them here."},
    {"Choose the output folder",
     "Leave it at <Same as Input> to put each mono file beside its original."},
    {"Convert",
     "Each file becomes a mono file of its own format; nothing is overwritten."},
};

}  // namespace

GettingStartedPanel::GettingStartedPanel(QWidget* parent)
    : QWidget(parent),
      checked_(ImageSet::Load(QStringLiteral("check_on"))),
      unchecked_(ImageSet::Load(QStringLiteral("check_off"))),
      steps_{LoadSkinImage(QStringLiteral("step_add.png")), LoadSkinImage(QStringLiteral("step_folder.png")),
             LoadSkinImage(QStringLiteral("step_convert.png"))} {
    setObjectName(QStringLiteral("GettingStartedPanel"));
    show_list_ = new VeImageButton(kShowListId, ImageSet::Load(QStringLiteral("show_list")), this);
    show_list_->SetCaption(QStringLiteral("Go to the File List"), QRect(40, 0, 160, 40), Qt::white, true);
    show_list_->setToolTip(QStringLiteral("Hide this page and show the file list"));
    show_at_start_ = new VeImageButton(kShowAtStartId, checked_, this);
    show_at_start_->SetCaption(QStringLiteral("Show this page when the program starts"), QRect(24, 0, 296, 18),
                               QColor::fromRgba(kTextColor), false, Qt::AlignLeft | Qt::AlignVCenter);
    show_at_start_->setToolTip(QStringLiteral("Whether this page greets you at start-up"));
    PlaceButtons();
}

void GettingStartedPanel::SetShowAtStart(bool on) {
    show_at_start_on_ = on;
    show_at_start_->SetImages(on ? checked_ : unchecked_);
}

bool GettingStartedPanel::IsComplete() const {
    return checked_.IsComplete() && unchecked_.IsComplete() && show_list_->Images().IsComplete() &&
           !steps_[0].isNull() && !steps_[1].isNull() && !steps_[2].isNull();
}

void GettingStartedPanel::SetDropCheck(std::function<bool(const QMimeData*)> accepts) {
    accepts_drop_ = std::move(accepts);
    setAcceptDrops(static_cast<bool>(accepts_drop_));
}

void GettingStartedPanel::dragEnterEvent(QDragEnterEvent* event) {
    VeFileListView::AnswerDrop(event, accepts_drop_ && accepts_drop_(event->mimeData()));
}

void GettingStartedPanel::dragMoveEvent(QDragMoveEvent* event) {
    VeFileListView::AnswerDrop(event, accepts_drop_ && accepts_drop_(event->mimeData()));
}

void GettingStartedPanel::dropEvent(QDropEvent* event) {
    if (!VeFileListView::AnswerDrop(event, accepts_drop_ && accepts_drop_(event->mimeData()))) return;
    QStringList paths;
    for (const std::string& path : VeFileListView::DroppedPaths(event->mimeData())) paths << QString::fromStdString(path);
    emit PathsDropped(paths);
}

void GettingStartedPanel::resizeEvent(QResizeEvent*) { PlaceButtons(); }

void GettingStartedPanel::PlaceButtons() {
    show_list_->move((width() - show_list_->width()) / 2, height() - 96);
    show_at_start_->move(20, height() - 32);
}

void GettingStartedPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor::fromRgba(kPanelBackground));
    painter.setPen(QColor::fromRgba(kHeadingColor));
    painter.setFont(GetSkinFont(SkinFont::kRegular14));
    painter.drawText(QRect(0, 26, width(), 22), Qt::AlignHCenter | Qt::AlignVCenter,
                     QStringLiteral("Turn stereo audio files into mono files in three steps"));

    // Three columns, each a picture, a numbered title and a line of help.
    const int column = (width() - 40) / 3;
    for (int i = 0; i < 3; ++i) {
        const int left = 20 + i * column;
        const QImage& picture = steps_[i];
        painter.drawImage(QPoint(left + (column - picture.width()) / 2, 76), picture);
        painter.setFont(GetSkinFont(SkinFont::kBold13));
        painter.setPen(QColor::fromRgba(kStepNumberColor));
        painter.drawText(QRect(left, 136, column, 18), Qt::AlignHCenter | Qt::AlignVCenter,
                         QStringLiteral("%1. %2").arg(i + 1).arg(QString::fromLatin1(kSteps[i].title)));
        painter.setFont(GetSkinFont(SkinFont::kRegular13));
        painter.setPen(QColor::fromRgba(kTextColor));
        painter.drawText(QRect(left + 12, 160, column - 24, 72), Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap,
                         QString::fromLatin1(kSteps[i].text));
    }
}

}  // namespace chm
