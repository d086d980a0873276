#pragma once
#include <QImage>
#include <QString>

namespace chm {

// A picture of the main window's skin (resources/skin/, compiled in); a null image when there
// is none of that name.
QImage LoadSkinImage(const QString& name);

}  // namespace chm
