#include "ui/main/MenuBarIcon.h"

#include "ui/design/Appearance.h"
#include "ui/design/Symbols.h"

#include <QFont>
#include <QPainter>
#include <QPixmap>

namespace kovra::ui {

MenuBarIcon::MenuBarIcon(Appearance *appearance, QObject *parent) : QObject(parent), m_appearance(appearance)
{
    if (appearance) {
        connect(appearance, &Appearance::darkChanged, this, [this] {
            if (m_appearance && m_appearance->isDark() != m_drawnDark && !m_symbol.isEmpty())
                redraw();
        });
    }
}

void MenuBarIcon::setSymbol(const QString &symbol)
{
    if (symbol == m_symbol && !m_icon.isNull())
        return;
    m_symbol = symbol;
    redraw();
}

void MenuBarIcon::redraw()
{
    m_drawnDark = m_appearance && m_appearance->isDark();
    m_icon = draw(m_symbol, m_drawnDark);
    Q_EMIT iconChanged();
}

QIcon MenuBarIcon::draw(const QString &symbol, bool darkAppearance)
{
    const QString glyph = Symbols::ligature(symbol);
    const QColor ink = darkAppearance ? QColor(0xF2, 0xF2, 0xF7) : QColor(0x1C, 0x1C, 0x1E);
    QIcon icon;
    for (const int size : kSizes) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        if (!glyph.isEmpty()) {
            QPainter painter(&pixmap);
            painter.setRenderHint(QPainter::TextAntialiasing);
            QFont font(Symbols::fontFamily());
            // The glyphs fill their em square with a small margin of their own.
            font.setPixelSize(size);
            painter.setFont(font);
            painter.setPen(ink);
            painter.drawText(QRect(0, 0, size, size), Qt::AlignCenter, glyph);
        }
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace kovra::ui
