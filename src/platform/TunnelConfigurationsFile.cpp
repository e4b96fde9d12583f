#include "platform/TunnelConfigurationsFile.h"

#include "platform/AtomicFile.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/VPNError.h"

#include <QFile>
#include <QJsonDocument>

namespace kovra {
namespace {

const QString kConfigurations = QStringLiteral("configurations");
const QString kIdentifier = QStringLiteral("identifier");

} // namespace

TunnelConfigurationsFile::TunnelConfigurationsFile(QString path, std::shared_ptr<Clock> clock)
    : m_path(std::move(path)), m_clock(clock ? std::move(clock) : Clock::system())
{
}

QJsonArray TunnelConfigurationsFile::read() const
{
    QFile file(m_path);
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly))
        throw VPNError(VPNError::ConfigurationReadWriteFailed,
                       QStringLiteral("cannot read %1: %2").arg(m_path, file.errorString()));
    const auto doc = QJsonDocument::fromJson(file.readAll());
    if (doc.isObject())
        return doc.object().value(kConfigurations).toArray();

    // A damaged file holds nothing usable, but it is kept aside for inspection rather
    // than overwritten by the next save.
    file.close();
    QString error;
    const auto aside = files::moveAside(m_path, m_clock->now(), &error);
    if (!aside)
        throw VPNError(VPNError::ConfigurationReadWriteFailed,
                       QStringLiteral("%1 is not a valid configurations file and cannot be moved aside: %2")
                           .arg(m_path, error));
    Logger(QStringLiteral("TunnelSession"))
        .error(QStringLiteral("%1 is not a valid configurations file; moved it aside to %2").arg(m_path, *aside));
    return {};
}

void TunnelConfigurationsFile::write(const QJsonArray &entries) const
{
    const QByteArray text = QJsonDocument(QJsonObject{{kConfigurations, entries}}).toJson(QJsonDocument::Indented);
    QString error;
    if (!files::writeAtomically(m_path, text, &error))
        throw VPNError(VPNError::ConfigurationReadWriteFailed, QStringLiteral("cannot write %1: %2").arg(m_path, error));
}

std::optional<QUuid> TunnelConfigurationsFile::identifierOf(const QJsonValue &entry)
{
    if (!entry.isObject())
        return std::nullopt;
    const QUuid id(entry.toObject().value(kIdentifier).toString());
    if (id.isNull())
        return std::nullopt;
    return id;
}

qsizetype TunnelConfigurationsFile::indexOf(const QJsonArray &entries, const QUuid &identifier)
{
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (identifierOf(entries.at(i)) == identifier)
            return i;
    }
    return -1;
}

} // namespace kovra
