#include "AccountPageModel.h"

#include "platform/Property.h"

namespace kovra::ui {

AccountPageModel::AccountPageModel(QString navigationTitle, QObject *parent)
    : QObject(parent), m_navigationTitle(std::move(navigationTitle))
{
}

AccountPageModel::~AccountPageModel()
{
    if (m_showing)
        m_showing->cancel();
}

void AccountPageModel::setShown(bool shown)
{
    if (shown == m_shown)
        return;
    m_shown = shown;
    if (shown) {
        m_showing.emplace();
    } else if (m_showing) {
        m_showing->cancel();
        m_showing.reset();
    }
    Q_EMIT shownChanged();
    if (shown)
        onShown();
    else
        onHidden();
}

void AccountPageModel::adopt(QObject *page)
{
    if (page && page != parent())
        setParent(page);
}

CancellationToken AccountPageModel::showingToken() const
{
    if (m_showing)
        return m_showing->token();
    CancellationSource ended;
    ended.cancel();
    return ended.token();
}

void AccountPageModel::setNavigationTitle(const QString &title)
{
    updateProperty(m_navigationTitle, title, this, &AccountPageModel::navigationTitleChanged);
}

} // namespace kovra::ui
