#include "SupportChecklistModel.h"

#include "SupportContact.h"

#include "platform/L10n.h"

namespace kovra::ui {

SupportChecklistModel::SupportChecklistModel(std::shared_ptr<UrlOpener> opener, AccountLinks links, QObject *parent)
    : AccountPageModel(L10n::text("settings.support.checklist.header", u"Не работает VPN?"), parent),
      m_supportContact(new SupportContact(std::move(opener), std::move(links), this))
{
}

QList<SupportChecklistStep> SupportChecklistModel::steps()
{
    return {
        {1, L10n::text("settings.support.checklist.step1", u"Попробуйте «⚡ Авто» или другую локацию в списке подключений"),
         QStringLiteral("bolt.fill")},
        {2, L10n::text("settings.support.checklist.step2", u"Проверьте, есть ли интернет без VPN"), QStringLiteral("wifi")},
        {3, L10n::text("settings.support.checklist.step3", u"Выключите VPN и включите заново"), QStringLiteral("power")},
        {4, L10n::text("settings.support.checklist.step4", u"Ничего не помогло — напишите нам, разберёмся"),
         QStringLiteral("paperplane.fill")},
    };
}

QVariantList SupportChecklistModel::stepsVariant() const
{
    QVariantList rows;
    for (const SupportChecklistStep &step : steps())
        rows << QVariantMap{{QStringLiteral("number"), L10n::format(QStringLiteral("%lld"), {qint64(step.id)})},
                            {QStringLiteral("title"), step.title},
                            {QStringLiteral("systemImage"), step.systemImage}};
    return rows;
}

} // namespace kovra::ui
