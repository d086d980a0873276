#pragma once
#include <QHeaderView>
#include <QProxyStyle>
#include <QRgb>

namespace chm {

// The file list's column headers in the look of the skinned menus: "Tahoma" 13 px on the
// menus' light face, grey 0xA6A6A6 text when disabled, one line, vertically centred; the
// sorted column's header is highlighted.
class HeaderSkinStyle : public QProxyStyle {
    Q_OBJECT

public:
    static constexpr QRgb kFace = 0xFFFBFBFB;
    static constexpr QRgb kFaceBottom = 0xFFEEF0F3;
    static constexpr QRgb kHotFace = 0xFFDDEBF5;
    static constexpr QRgb kPressedFace = 0xFFC9DEEE;
    static constexpr QRgb kSortedFace = 0xFFE8F1F8;
    static constexpr QRgb kBorder = 0xFF8D9199;
    static constexpr QRgb kDivider = 0xFFD5D8DD;
    static constexpr QRgb kDisabledText = 0xFFA6A6A6;
    static constexpr int kTextPadding = 6;

    HeaderSkinStyle();

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override;
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget) const override;
};

// Gives `header` the skinned look for its whole life.
void ApplyHeaderSkin(QHeaderView& header);

}  // namespace chm
