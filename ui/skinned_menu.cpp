#include "ui/skinned_menu.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QStyleOptionMenuItem>
#include <algorithm>

#include "ui/popup_menu_frame.h"
#include "ui/skin_fonts.h"

namespace chm {

namespace {

const QFont& ItemFont(const QStyleOptionMenuItem& item) {
    return GetSkinFont(item.menuItemType == QStyleOptionMenuItem::DefaultItem ? SkinFont::kBold13
                                                                              : SkinFont::kRegular13);
}

// The text before the first tab, and what follows it (the part drawn right-aligned).
std::pair<QString, QString> SplitAtTab(const QString& text) {
    const qsizetype tab = text.indexOf(u'\t');
    if (tab < 0) return {text, QString()};
    return {text.left(tab), text.mid(tab + 1)};
}

void FillGutteredBackground(QPainter& painter, const QRect& rect, int gutter_left) {
    painter.fillRect(rect, QColor::fromRgba(SkinnedMenuStyle::kItemBackground));
    const QRect gutter(QPoint(std::max(rect.left(), gutter_left), rect.top()),
                       QPoint(std::min(rect.right(), gutter_left + SkinnedMenuStyle::kGutterWidth - 1), rect.bottom()));
    if (gutter.isValid()) painter.fillRect(gutter, QColor::fromRgba(SkinnedMenuStyle::kGutter));
}

void DrawCheckMark(QPainter& painter, const QRect& item) {
    const QPointF c(item.left() + SkinnedMenuStyle::kGutterWidth / 2.0, item.center().y() + 0.5);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0x33, 0x44, 0x55), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPolyline(QPolygonF({c + QPointF(-4, 0), c + QPointF(-1, 3), c + QPointF(4, -3)}));
    painter.restore();
}

void DrawSubmenuArrow(QPainter& painter, const QRect& item, const QColor& color) {
    const int x = item.right() - SkinnedMenuStyle::kTextRightGap / 2 - 2;
    const int y = item.center().y();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawPolygon(QPolygonF({QPointF(x, y - 4), QPointF(x + 4, y), QPointF(x, y + 4)}));
    painter.restore();
}

void DrawMenuItem(const QStyleOptionMenuItem& item, QPainter& painter) {
    const QRect& r = item.rect;
    FillGutteredBackground(painter, r, r.left());
    if (item.menuItemType == QStyleOptionMenuItem::Separator) {
        const int y = r.top() + r.height() / 2;
        painter.fillRect(QRect(r.left() + SkinnedMenuStyle::kTextLeft, y, r.width() - SkinnedMenuStyle::kTextLeft, 1),
                         QColor::fromRgba(SkinnedMenuStyle::kSeparator));
        return;
    }
    const bool enabled = item.state & QStyle::State_Enabled;
    if (enabled && (item.state & QStyle::State_Selected)) {
        const QRect box = r.adjusted(1, 0, -2, -1);
        painter.fillRect(box, QColor::fromRgba(SkinnedMenuStyle::kSelectedFill));
        painter.setPen(QColor::fromRgba(SkinnedMenuStyle::kSelectedBorder));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(box);
    }
    if (item.checkType != QStyleOptionMenuItem::NotCheckable && item.checked) DrawCheckMark(painter, r);

    const QColor text_color = enabled ? QColor(Qt::black) : QColor::fromRgba(SkinnedMenuStyle::kDisabledText);
    const QRect text_rect = r.adjusted(SkinnedMenuStyle::kTextLeft, 0, -SkinnedMenuStyle::kTextRightGap, 0);
    const auto [text, tab_text] = SplitAtTab(item.text);
    painter.setFont(ItemFont(item));
    painter.setPen(text_color);
    const int flags = Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextShowMnemonic;
    painter.drawText(text_rect, flags | Qt::AlignLeft, text);
    if (!tab_text.isEmpty()) painter.drawText(text_rect, flags | Qt::AlignRight, tab_text);
    if (item.menuItemType == QStyleOptionMenuItem::SubMenu) DrawSubmenuArrow(painter, r, text_color);
}

// Keeps the skin on top of whatever style the menu is given later.
class MenuSkinKeeper : public QObject {
public:
    explicit MenuSkinKeeper(QMenu& menu) : QObject(&menu), menu_(menu) { menu.installEventFilter(this); }

    void Wrap() {
        QStyle* current = menu_.style();
        if (qobject_cast<SkinnedMenuStyle*>(current)) return;
        // The application's style belongs to the application; a style of the menu's own (the
        // popup-menu frame's) goes under the skin, which then owns it.
        auto* skin = current == QApplication::style() ? new SkinnedMenuStyle() : new SkinnedMenuStyle(current);
        skin->setParent(&menu_);
        menu_.setStyle(skin);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &menu_ && event->type() == QEvent::StyleChange) Wrap();
        return false;
    }

private:
    QMenu& menu_;
};

}  // namespace

SkinnedMenuStyle::SkinnedMenuStyle(QStyle* base) : QProxyStyle(base) {}

QSize SkinnedMenuStyle::sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                                         const QWidget* widget) const {
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (type != CT_MenuItem || !item) return QProxyStyle::sizeFromContents(type, option, size, widget);
    if (item->menuItemType == QStyleOptionMenuItem::Separator) return QSize(kTextLeft + kTextRightGap, kSeparatorHeight);
    const QFontMetrics metrics(ItemFont(*item));
    const auto [text, tab_text] = SplitAtTab(item->text);
    QString plain = text;
    plain.remove(u'&');  // a mnemonic marker takes no room
    int width = kTextLeft + metrics.horizontalAdvance(plain) + kTextRightGap;
    const int tab_width = std::max(item->reservedShortcutWidth, tab_text.isEmpty() ? 0 : metrics.horizontalAdvance(tab_text));
    if (tab_width > 0) width += kTabGap + tab_width;
    return QSize(width, std::max(kItemHeight, metrics.height() + 6));
}

void SkinnedMenuStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                                   const QWidget* widget) const {
    if (element == CE_MenuItem) {
        if (const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option)) {
            painter->save();
            DrawMenuItem(*item, *painter);
            painter->restore();
            return;
        }
    }
    if (element == CE_MenuEmptyArea) {
        const int frame = pixelMetric(PM_MenuPanelWidth, option, widget);
        const int margin = pixelMetric(PM_MenuHMargin, option, widget);
        painter->save();
        FillGutteredBackground(*painter, option->rect, option->rect.left() + frame + margin);
        painter->restore();
        return;
    }
    QProxyStyle::drawControl(element, option, painter, widget);
}

void SkinnedMenuStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                                     const QWidget* widget) const {
    if (element == PE_PanelMenu) {
        painter->fillRect(option->rect, QColor::fromRgba(kItemBackground));
        return;
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}

void ApplyMenuSkin(QMenu& menu) {
    const QObjectList& children = menu.children();
    if (std::any_of(children.begin(), children.end(),
                    [](const QObject* child) { return dynamic_cast<const MenuSkinKeeper*>(child) != nullptr; }))
        return;
    menu.setFont(GetSkinFont(SkinFont::kRegular13));
    auto* keeper = new MenuSkinKeeper(menu);  // a child of the menu, goes with it
    keeper->Wrap();
}

VeSkinnedMenu::VeSkinnedMenu(const QString& title, QWidget* parent) : QMenu(title, parent) { ApplyMenuSkin(*this); }

QAction* TrackSkinnedMenu(QMenu& menu, const QPoint& position) {
    ApplyMenuSkin(menu);
    const PopupMenuFrame frame;
    return menu.exec(position);
}

}  // namespace chm
