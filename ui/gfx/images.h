#pragma once
#include <QColor>
#include <QImage>
#include <QRect>
#include <QString>

class QPainter;

namespace chm::gfx {

// The drawing layer of the skinned interface: images are QImages (a bitmap with its own
// drawing surface), drawn with QPainter. Only what the skinned controls use lives here.

// An image of the program's own, compiled in from resources/ ("progress_done.png"); a null
// image when there is none of that name.
QImage LoadResourceImage(const QString& name);

// Draws a strip image into `target`: its first and last columns are 1-pixel caps and the
// columns between them are stretched over the rest; the height is stretched to the target's.
// A cap that is not wanted is covered by the stretched middle instead.
void DrawStrip(QPainter& painter, const QImage& strip, const QRect& target, bool left_cap, bool right_cap);

// Mixes every pixel with `color`: strength 0 leaves the image, 255 gives the colour; the
// image's own transparency is kept.
void BlendWithColor(QImage& image, QColor color, int strength);

// The image effect "Desaturate": every pixel becomes the grey of its luminance; transparency
// is kept.
void Desaturate(QImage& image);

}  // namespace chm::gfx
