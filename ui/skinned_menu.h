#pragma once
#include <QMenu>
#include <QPoint>
#include <QProxyStyle>
#include <cstdint>

namespace chm {

// The look of the program's menus ("Add", "FileList"): items in "Tahoma" 13 px, the default
// item in bold, disabled items in grey 0xA6A6A6; the text runs from 31 pixels after the item's
// left edge to 20 pixels before its right edge, text after a tab right-aligned, one line,
// vertically centred. The frame around the items is the popup-menu frame's.
class SkinnedMenuStyle : public QProxyStyle {
    Q_OBJECT

public:
    static constexpr int kTextLeft = 31;
    static constexpr int kTextRightGap = 20;
    static constexpr int kGutterWidth = 23;  // the frame's gutter, continued under the items
    static constexpr int kItemHeight = 22;
    static constexpr int kSeparatorHeight = 7;
    static constexpr int kTabGap = 24;  // least room between an item's text and its tab part
    static constexpr QRgb kDisabledText = 0xFFA6A6A6;
    static constexpr QRgb kItemBackground = 0xFFFBFBFB;
    static constexpr QRgb kGutter = 0xFFE1E3E7;
    static constexpr QRgb kSelectedFill = 0xFFDDEBF5;
    static constexpr QRgb kSelectedBorder = 0xFF9CCBEE;
    static constexpr QRgb kSeparator = 0xFFC5C9CF;

    // Without a base the application's kind of style lies under it; a base passes to it.
    explicit SkinnedMenuStyle(QStyle* base = nullptr);

    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget) const override;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override;
};

// Gives `menu` the skinned look for its whole life, also across a frame style that the
// popup-menu frame puts on it when it opens: that style is kept under the skin.
void ApplyMenuSkin(QMenu& menu);

// A menu with the skinned look from the start.
class VeSkinnedMenu : public QMenu {
    Q_OBJECT

public:
    explicit VeSkinnedMenu(const QString& title, QWidget* parent = nullptr);
    explicit VeSkinnedMenu(QWidget* parent = nullptr) : VeSkinnedMenu(QString(), parent) {}
};

// Opens `menu` modally at `position` (global) with the program's popup-menu frame registered
// while it is open, like every skinned menu. The chosen action, or null.
QAction* TrackSkinnedMenu(QMenu& menu, const QPoint& position);

}  // namespace chm
