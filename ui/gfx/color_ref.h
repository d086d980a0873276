#pragma once
#include <QColor>
#include <QRgb>
#include <cstdint>

namespace chm {

// The look's colours are written as Windows COLORREF values, 0x00BBGGRR. This is the one place
// where that byte order becomes Qt's, so that no caller swaps bytes by hand.
constexpr QRgb ColorRefToRgb(uint32_t colorref) {
    return qRgb(static_cast<int>(colorref & 0xFF), static_cast<int>((colorref >> 8) & 0xFF),
                static_cast<int>((colorref >> 16) & 0xFF));
}

inline QColor ColorFromColorRef(uint32_t colorref) { return QColor::fromRgb(ColorRefToRgb(colorref)); }

// Colours written RGB(r, g, b) are already in Qt's order.
constexpr QRgb Rgb(int r, int g, int b) { return qRgb(r, g, b); }

}  // namespace chm
