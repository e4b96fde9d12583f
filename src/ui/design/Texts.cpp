#include "Texts.h"

#include "platform/L10n.h"

#include <QStringList>

namespace kovra::ui {

namespace {
const QString kArrow = QStringLiteral(" → ");

QString joinPart(const QString &flag, const QString &name)
{
    if (flag.isEmpty())
        return name;
    if (name.isEmpty())
        return flag;
    return flag + u' ' + name;
}
} // namespace

QString mergedFlagTitle(const QString &flags, const QString &label)
{
    const QStringList flagParts = flags.split(kArrow);
    const QStringList nameParts = label.split(kArrow);
    if (flagParts.size() == nameParts.size()) {
        QStringList merged;
        for (qsizetype i = 0; i < flagParts.size(); ++i)
            merged.append(joinPart(flagParts[i].trimmed(), nameParts[i].trimmed()));
        return merged.join(kArrow);
    }
    return flags.isEmpty() ? label : flags + u' ' + label;
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
