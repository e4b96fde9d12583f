#pragma once

#include "platform/PlatformPaths.h"
#include "platform/VPNError.h"
#include "platform/VPNStatus.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>
#include <variant>

// The line protocol between the app and the tunnel provider process, shared by the
// app's client and the provider side (the development provider and the test fake).
//
// One JSON object per line (UTF-8, at most kMaxLineBytes including the newline).
// Requests: {"id": N, "method": "start"|"stop"|"message"|"getStatus", ...}; "start"
// carries "options" and "configuration", "message" carries "data" (base64).
// Replies: {"id": N, "ok": true|false, "error": {"domain","code","message"}}, a
// "message" reply with "data" (base64) or null, a "getStatus" reply with "status".
// Events: {"event": "status", "status": 0..5}, on every change and once on connect.
namespace kovra::tunnelwire {

inline constexpr qsizetype kMaxLineBytes = 1024 * 1024;

inline constexpr char kMethodStart[] = "start";
inline constexpr char kMethodStop[] = "stop";
inline constexpr char kMethodMessage[] = "message";
inline constexpr char kMethodGetStatus[] = "getStatus";
inline constexpr char kEventStatus[] = "status";

// The environment variable that names another provider socket. Only the start-up and
// the tools read it, once, and hand its text to socketPath().
inline constexpr char kSocketOverrideVariable[] = "KOVRA_TUNNEL_SOCKET";

// `socketOverride` when it is not empty, else <runtimeDir>/kovra/packet-tunnel.sock.
QString socketPath(const PlatformPaths &paths, const QString &socketOverride);

// Why the folder of a socket path must not be used: it is no folder, belongs to another
// user, or others than its owner may write to it (anyone who can write there can put a
// socket of their own in the provider's place). None when it is usable or missing.
std::optional<QString> socketDirectoryProblem(const QString &socketPath);
// Creates the folder of a socket path and every missing folder above it with mode 0700,
// then checks it as socketDirectoryProblem() does. None when it is usable.
std::optional<QString> prepareSocketDirectory(const QString &socketPath);

// One compact JSON line, newline included.
QByteArray encode(const QJsonObject &object);
// The object of one line (without its newline); none when it is not a JSON object.
std::optional<QJsonObject> decode(const QByteArray &line);

// The integer a JSON number stands for, when it is a whole number that a double holds
// exactly (magnitude up to 2^53); none otherwise. Every id and count read off the
// wire goes through this before it becomes an integer.
std::optional<qint64> exactInteger(const QJsonValue &value);

// What one line from the provider holds, as the app's client reads it.
struct BlankLine {};
struct StatusEvent {
    VPNStatus status;
};
struct ReplyLine {
    qint64 id;
    bool ok;
    QJsonObject object; // the whole reply
};
// A line that is dropped; `reason` is the line logged for it.
struct DroppedLine {
    QString reason;
};
using ProviderLine = std::variant<BlankLine, StatusEvent, ReplyLine, DroppedLine>;

ProviderLine parseProviderLine(const QByteArray &line);

// The "error" of a failed reply as a VPN error of the provider's domain and code; a
// missing domain reads "unknown", a missing or out-of-range code 0.
VPNError replyError(const QJsonObject &reply);
// "<domain> <code>: <message>" of a failed reply's "error".
QString errorText(const QJsonObject &reply);

// Splits a byte stream into lines, never holding more than the cap: a line that grows
// past the cap is dropped up to the next newline and counted as oversized.
class LineReader {
public:
    explicit LineReader(qsizetype maxLineBytes = kMaxLineBytes) : m_max(maxLineBytes) {}

    struct Result {
        QList<QByteArray> lines; // without their newlines
        int oversized = 0;       // lines dropped since the last call
    };
    Result feed(const QByteArray &chunk);
    void reset();

private:
    qsizetype m_max;
    QByteArray m_buffer;
    bool m_discarding = false;
};

} // namespace kovra::tunnelwire
