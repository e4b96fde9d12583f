#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>

namespace kovra::ui {

class Appearance;

// The menu-bar icon: a symbol (see Symbols) drawn monochrome into 22 and 44 pixel
// images, light while `appearance` is dark and dark while it is light (light with
// no appearance). The icon is drawn again only when the symbol or the appearance
// changes; iconChanged announces each new one. Lives on the GUI thread.
class MenuBarIcon : public QObject {
    Q_OBJECT
public:
    static constexpr int kSizes[] = {22, 44};

    explicit MenuBarIcon(Appearance *appearance, QObject *parent = nullptr);

    QIcon icon() const { return m_icon; }
    QString symbol() const { return m_symbol; }
    void setSymbol(const QString &symbol);

    // The symbol in one colour on a transparent square of each size; an unknown
    // symbol draws nothing.
    static QIcon draw(const QString &symbol, bool darkAppearance);

Q_SIGNALS:
    void iconChanged();

private:
    void redraw();

    QPointer<Appearance> m_appearance;
    QString m_symbol;
    bool m_drawnDark = false;
    QIcon m_icon;
};

} // namespace kovra::ui
