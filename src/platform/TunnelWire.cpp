#include "platform/TunnelWire.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include <cmath>
#include <limits>

#include <sys/stat.h>
#include <unistd.h>

namespace kovra::tunnelwire {
namespace {

QString folderOf(const QString &socketPath)
{
    return QFileInfo(socketPath).absolutePath();
}

} // namespace

QString socketPath(const PlatformPaths &paths, const QString &socketOverride)
{
    if (!socketOverride.isEmpty())
        return socketOverride;
    return paths.runtimeDir + QStringLiteral("/kovra/packet-tunnel.sock");
}

std::optional<QString> socketDirectoryProblem(const QString &socketPath)
{
    const QString dir = folderOf(socketPath);
    struct stat st {};
    if (::stat(QFile::encodeName(dir).constData(), &st) != 0)
        return std::nullopt; // missing: nothing to trust or distrust yet
    if (!S_ISDIR(st.st_mode))
        return QStringLiteral("the socket folder %1 is not a folder").arg(dir);
    if (st.st_uid != ::geteuid())
        return QStringLiteral("the socket folder %1 belongs to uid %2, not to this user (uid %3)")
            .arg(dir)
            .arg(st.st_uid)
            .arg(::geteuid());
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return QStringLiteral("the socket folder %1 is writable by others (mode %2)")
            .arg(dir)
            .arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'));
    return std::nullopt;
}

std::optional<QString> prepareSocketDirectory(const QString &socketPath)
{
    const QString dir = folderOf(socketPath);
    // A missing runtime folder is made too; like it, every folder made here is private.
    QStringList missing;
    for (QString at = dir; !QFileInfo::exists(at) && !QDir(at).isRoot(); at = QFileInfo(at).absolutePath())
        missing.prepend(at);
    for (const QString &at : std::as_const(missing)) {
        if (::mkdir(QFile::encodeName(at).constData(), 0700) != 0 && !QFileInfo(at).isDir())
            return QStringLiteral("cannot create the socket folder %1: %2").arg(at, QString::fromLocal8Bit(strerror(errno)));
    }
    return socketDirectoryProblem(socketPath);
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

std::optional<qint64> exactInteger(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double d = value.toDouble();
    if (!std::isfinite(d) || std::trunc(d) != d || std::fabs(d) > 9007199254740992.0)
        return std::nullopt;
    return qint64(d);
}

ProviderLine parseProviderLine(const QByteArray &line)
{
    if (line.trimmed().isEmpty())
        return BlankLine{};
    const auto object = decode(line);
    if (!object)
        return DroppedLine{QStringLiteral("dropped a malformed line from the tunnel provider (%1 bytes)").arg(line.size())};
    if (object->contains(QStringLiteral("event"))) {
        const auto status = exactInteger(object->value(QStringLiteral("status")));
        if (object->value(QStringLiteral("event")).toString() != QLatin1String(kEventStatus) || !status || *status < 0
            || *status > 5)
            return DroppedLine{QStringLiteral("dropped an invalid event from the tunnel provider")};
        return StatusEvent{VPNStatus(int(*status))};
    }
    const QJsonValue id = object->value(QStringLiteral("id"));
    if (!id.isDouble() || std::trunc(id.toDouble()) != id.toDouble())
        return DroppedLine{QStringLiteral("dropped a line from the tunnel provider without event or request id")};
    const auto exact = exactInteger(id);
    if (!exact)
        return DroppedLine{QStringLiteral("dropped a reply with an out-of-range request id from the tunnel provider")};
    return ReplyLine{*exact, object->value(QStringLiteral("ok")).toBool(false), *object};
}

VPNError replyError(const QJsonObject &reply)
{
    const QJsonObject error = reply.value(QStringLiteral("error")).toObject();
    const qint64 code = exactInteger(error.value(QStringLiteral("code"))).value_or(0);
    return VPNError(code >= std::numeric_limits<int>::min() && code <= std::numeric_limits<int>::max() ? int(code) : 0,
                    error.value(QStringLiteral("message")).toString(),
                    error.value(QStringLiteral("domain")).toString(QStringLiteral("unknown")));
}

QString errorText(const QJsonObject &reply)
{
    const VPNError error = replyError(reply);
    return QStringLiteral("%1 %2: %3").arg(error.domain()).arg(error.code()).arg(error.message());
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
