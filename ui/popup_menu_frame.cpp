#include "ui/popup_menu_frame.h"

#include <QMenu>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOption>

#include "ui/gfx/color_ref.h"

namespace chm {

namespace {

constexpr QRgb kBorderColor = Rgb(0x8D, 0x91, 0x99);
constexpr QRgb kGutterColor = Rgb(0xE1, 0xE3, 0xE7);
constexpr QRgb kFrameColor = Rgb(0xFB, 0xFB, 0xFB);

// The menu's own style, wrapping the application's: a frame of fixed width with the items
// right inside it, and the frame painted in the program's colours.
class MenuFrameStyle : public QProxyStyle {
public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override {
        switch (metric) {
            case PM_MenuPanelWidth: return PopupMenuFrame::kFrameWidth;
            case PM_MenuHMargin:
            case PM_MenuVMargin: return 0;
            default: return QProxyStyle::pixelMetric(metric, option, widget);
        }
    }

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        if (element != PE_FrameMenu) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        const QRect window = option->rect;
        const int fw = PopupMenuFrame::kFrameWidth;
        const QRect client = window.adjusted(fw, fw, -fw, -fw);
        painter->save();
        painter->setClipRegion(QRegion(window).subtracted(QRegion(client)), Qt::IntersectClip);
        painter->fillRect(window, QColor::fromRgb(kFrameColor));
        painter->fillRect(QRect(QPoint(window.left() + 1, window.top() + 1),
                                QPoint(client.left() + PopupMenuFrame::kGutterWidth - 1, window.bottom() - 1)),
                          QColor::fromRgb(kGutterColor));
        const QColor border = QColor::fromRgb(kBorderColor);
        painter->fillRect(QRect(window.left(), window.top(), window.width(), 1), border);
        painter->fillRect(QRect(window.left(), window.bottom(), window.width(), 1), border);
        painter->fillRect(QRect(window.left(), window.top(), 1, window.height()), border);
        painter->fillRect(QRect(window.right(), window.top(), 1, window.height()), border);
        painter->restore();
    }
};

}  // namespace

bool PopupMenuFrame::OnWindowCreated(QWidget* window) {
    auto* menu = qobject_cast<QMenu*>(window);
    if (!menu || dynamic_cast<MenuFrameStyle*>(menu->style())) return false;
    // The style is a child of the menu: a menu outlives this handler and keeps its frame.
    auto* style = new MenuFrameStyle;
    style->setParent(menu);
    menu->setStyle(style);  // the menu fits its size to the new frame at once
    return false;
}

}  // namespace chm
