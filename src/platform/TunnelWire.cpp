#include "platform/TunnelWire.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QStandardPaths>

#include <sys/stat.h>

namespace kovra::tunnelwire {

QString socketPath()
{
    const QString overridden = qEnvironmentVariable("KOVRA_TUNNEL_SOCKET");
    if (!overridden.isEmpty())
        return overridden;
    QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty())
        runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime + QStringLiteral("/kovra/packet-tunnel.sock");
}

bool ensureSocketDirectory(const QString &socketPath)
{
    const QString dir = QFileInfo(socketPath).absolutePath();
    if (QFileInfo(dir).isDir())
        return true;
    // Only the folder we create gets 0700; parents are made by mkpath as usual.
    QDir().mkpath(QFileInfo(dir).absolutePath());
    if (::mkdir(QFile::encodeName(dir).constData(), 0700) != 0 && !QFileInfo(dir).isDir())
        return false;
    return true;
}

QByteArray encode(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<QJsonObject> decode(const QByteArray &line)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    return doc.object();
}

LineReader::Result LineReader::feed(const QByteArray &chunk)
{
    Result result;
    qsizetype start = 0;
    while (start < chunk.size()) {
        const qsizetype newline = chunk.indexOf('\n', start);
        const qsizetype end = newline < 0 ? chunk.size() : newline;
        if (!m_discarding) {
            // The cap counts the newline, so a line holds at most m_max - 1 bytes.
            if (m_buffer.size() + (end - start) >= m_max) {
                m_buffer.clear();
                m_discarding = true;
                ++result.oversized;
            } else {
                m_buffer.append(chunk.constData() + start, end - start);
            }
        }
        if (newline < 0)
            break;
        if (!m_discarding)
            result.lines.append(std::exchange(m_buffer, QByteArray()));
        m_discarding = false;
        start = newline + 1;
    }
    return result;
}

void LineReader::reset()
{
    m_buffer.clear();
    m_discarding = false;
}

} // namespace kovra::tunnelwire
