#include "app/header_picture.h"

#include <QEvent>
#include <QPainter>

#include "ui/skin_images.h"

namespace chm {

HeaderPicture::HeaderPicture(QWidget* parent) : QWidget(parent), picture_(LoadSkinImage(QStringLiteral("header.png"))) {
    setAccessibleName(window()->windowTitle());
    window()->installEventFilter(this);
}

bool HeaderPicture::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window() && event->type() == QEvent::WindowTitleChange) setAccessibleName(window()->windowTitle());
    return QWidget::eventFilter(watched, event);
}

void HeaderPicture::paintEvent(QPaintEvent*) {
    if (picture_.isNull() || height() <= 0) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const int width = picture_.width() * height() / picture_.height();
    painter.drawImage(QRect(0, 0, width, height()), picture_);
    // A control wider than the scaled picture continues with its last column.
    if (width < this->width())
        painter.drawImage(QRect(width, 0, this->width() - width, height()),
                          picture_.copy(picture_.width() - 1, 0, 1, picture_.height()));
}

}  // namespace chm
