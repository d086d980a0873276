#pragma once
#include <QAbstractButton>
#include <QColor>
#include <QImage>
#include <QRect>
#include <QString>

namespace chm {

// The pictures of one look of an image button, one per state. A missing greyed picture is made
// from the normal one: "Desaturate", then blended half-way (128 of 255) with white.
struct ImageSet {
    QImage normal;
    QImage hot;      // under the mouse
    QImage pressed;
    QImage disabled;

    // "<stem>_normal.png", "<stem>_hot.png", "<stem>_pressed.png" of the program's images.
    static ImageSet Load(const QString& stem);
    static QImage Greyed(const QImage& normal);
    bool IsComplete() const { return !normal.isNull() && !hot.isNull() && !pressed.isNull() && !disabled.isNull(); }
};

// An action button of the work view drawn from the program's own pictures, with a tool tip and
// an optional caption that the button draws in the skinned font. Its size is its pictures'.
class VeImageButton : public QAbstractButton {
    Q_OBJECT

public:
    static constexpr QRgb kDisabledCaption = 0xFFA6A6A6;

    VeImageButton(int id, const ImageSet& images, QWidget* parent = nullptr);

    int Id() const { return id_; }
    // Replaces the pictures (the convert and stop looks of one button, a check box's two looks).
    void SetImages(const ImageSet& images);
    const ImageSet& Images() const { return images_; }
    // The caption and where in the button it goes.
    void SetCaption(const QString& caption, const QRect& rect, QColor color = Qt::black, bool bold = false,
                    Qt::Alignment alignment = Qt::AlignCenter);
    const QString& Caption() const { return caption_; }
    // The picture the button shows now.
    const QImage& CurrentImage() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    int id_;
    ImageSet images_;
    QString caption_;
    QRect caption_rect_;
    QColor caption_color_ = Qt::black;
    bool caption_bold_ = false;
    Qt::Alignment caption_alignment_ = Qt::AlignCenter;
    bool hot_ = false;
};

}  // namespace chm
