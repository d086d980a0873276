#include "ui/dialog_units.h"

#include <QDialog>
#include <QFontMetrics>
#include <QFrame>
#include <QGuiApplication>
#include <QScreen>
#include <algorithm>

namespace chm {

namespace {

// MulDiv: the product divided, rounded to the nearest integer.
int MulDiv(int value, int numerator, int denominator) {
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator : (product - half) / denominator);
}

}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    // The average width of the 52 letters, rounded, as GdiGetCharDimensions gives it.
    const int letters = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    base_x_ = std::max(1, (letters / 26 + 1) / 2);
    base_y_ = std::max(1, metrics.height());
}

QFont DialogUnits::ShellDlgFont() {
    QFont font(QStringLiteral("MS Shell Dlg"));
    font.setPointSize(8);
    return font;
}

int DialogUnits::X(int units) const { return MulDiv(units, base_x_, 4); }

int DialogUnits::Y(int units) const { return MulDiv(units, base_y_, 8); }

QRect DialogUnits::Rect(int x, int y, int w, int h) const { return QRect(X(x), Y(y), X(w), Y(h)); }

QSize DialogUnits::Size(int w, int h) const { return QSize(X(w), Y(h)); }

QFrame* AddEtchedLine(QWidget* parent, const QRect& rect) {
    auto* line = new QFrame(parent);  // a child of the dialog, goes with it
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(rect.x(), rect.y(), rect.width(), 2);
    return line;
}

void CentreOverOwner(QDialog& dialog) {
    const QWidget* owner = dialog.parentWidget() ? dialog.parentWidget()->window() : nullptr;
    QRect area;
    if (owner && owner->isVisible()) area = owner->frameGeometry();
    if (area.isEmpty()) {
        const QScreen* screen = QGuiApplication::primaryScreen();
        if (screen) area = screen->availableGeometry();
    }
    if (area.isEmpty()) return;
    const QSize size = dialog.frameGeometry().size();
    dialog.move(area.left() + (area.width() - size.width()) / 2, area.top() + (area.height() - size.height()) / 2);
}

}  // namespace chm
