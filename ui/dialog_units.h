#pragma once
#include <QFont>
#include <QRect>
#include <QSize>

class QDialog;
class QFrame;
class QWidget;

namespace chm {

// Places a dialog's controls from their dialog units the way the Windows dialog manager does:
// x × the font's average character width / 4, y × its character height / 8.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    // "MS Shell Dlg" 8, asked for by name (the system substitutes where it is absent).
    static QFont ShellDlgFont();

    int BaseX() const { return base_x_; }
    int BaseY() const { return base_y_; }
    int X(int units) const;
    int Y(int units) const;
    QRect Rect(int x, int y, int w, int h) const;
    QSize Size(int w, int h) const;

private:
    int base_x_;
    int base_y_;
};

// An etched horizontal line at `rect` (its height is the line's: two pixels, dark over light).
QFrame* AddEtchedLine(QWidget* parent, const QRect& rect);

// Moves `dialog` so that it is centred over its owner window, or over the available area of
// the screen when it has none.
void CentreOverOwner(QDialog& dialog);

}  // namespace chm
