#include "Texts.h"

#include "catalog/Connection.h"
#include "platform/L10n.h"

namespace kovra::ui {

QString mergedFlagTitle(const QString &flags, const QString &label)
{
    return Connection::mergedTitle(flags, label);
}

Texts::Texts(QObject *parent) : QObject(parent) {}

QString Texts::close()
{
    return L10n::text("common.close", u"Закрыть");
}

QString Texts::mergedTitle(const QString &flags, const QString &label) const
{
    return mergedFlagTitle(flags, label);
}

} // namespace kovra::ui
