#include "AccountPageLink.h"

namespace kovra::ui {

AccountPageLink::AccountPageLink(QObject *parent) : QObject(parent) {}

void AccountPageLink::set(const QString &title, const QString &pageFile, Maker maker)
{
    m_maker = std::move(maker);
    const QString page = pageFile.isEmpty() ? QString() : QStringLiteral("qrc:/qt/qml/Kovra/Account/") + pageFile;
    if (title == m_title && page == m_page)
        return;
    m_title = title;
    m_page = page;
    Q_EMIT changed();
}

void AccountPageLink::setTitle(const QString &title)
{
    if (title == m_title)
        return;
    m_title = title;
    Q_EMIT changed();
}

AccountPageModel *AccountPageLink::makePage() const
{
    return m_maker && !m_page.isEmpty() ? m_maker() : nullptr;
}

} // namespace kovra::ui
