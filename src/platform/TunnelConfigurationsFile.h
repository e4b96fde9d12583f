#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QUuid>

#include <memory>
#include <optional>

namespace kovra {

class Clock;

// The file of saved VPN configurations: {"configurations": [entry, ...]}, each entry
// an object with its "identifier" (a UUID). It holds the subscription URL with its
// token, so it is written owner-only (0600) in an owner-only folder (0700).
class TunnelConfigurationsFile {
public:
    TunnelConfigurationsFile(QString path, std::shared_ptr<Clock> clock);

    QString path() const { return m_path; }

    // The entries in file order. An absent file has none; a damaged one is moved aside
    // (logged) and has none, so the next write starts afresh. Throws
    // VPNError(ConfigurationReadWriteFailed) when the file cannot be read or moved aside.
    QJsonArray read() const;
    // Replaces the file atomically. Throws VPNError(ConfigurationReadWriteFailed).
    void write(const QJsonArray &entries) const;

    // The identifier of an entry; none when it is not an object with a valid UUID.
    static std::optional<QUuid> identifierOf(const QJsonValue &entry);
    // The index of the entry with this identifier, or -1.
    static qsizetype indexOf(const QJsonArray &entries, const QUuid &identifier);

private:
    QString m_path;
    std::shared_ptr<Clock> m_clock;
};

} // namespace kovra
