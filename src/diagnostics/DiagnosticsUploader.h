#pragma once

#include "core/APIClient.h"
#include "core/AppGroupStore.h"
#include "diagnostics/TriageRecords.h"
#include "platform/Error.h"
#include "platform/Json.h"

#include <QByteArray>
#include <QList>
#include <QNetworkRequest>
#include <QString>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <memory>
#include <optional>

namespace kovra {

// The service refused a diagnostics upload, or accepted it without an incident code.
class DiagnosticsUploadError : public Error {
public:
    enum class Kind { rejected, invalidResponse };

    static DiagnosticsUploadError rejected(int statusCode) { return DiagnosticsUploadError(Kind::rejected, statusCode); }
    static DiagnosticsUploadError invalidResponse() { return DiagnosticsUploadError(Kind::invalidResponse, 0); }

    Kind kind() const { return m_kind; }
    // The refusing status (rejected only).
    int statusCode() const { return m_statusCode; }
    // "diagnostics upload rejected: HTTP 500", "diagnostics upload: no incident code in the reply".
    QString description() const override;
    // "Сервер вернул HTTP 500", "Сервер не вернул код инцидента".
    QString localizedDescription() const override;

private:
    DiagnosticsUploadError(Kind kind, int statusCode) : m_kind(kind), m_statusCode(statusCode) {}
    Kind m_kind;
    int m_statusCode;
};

// The upload's JSON body: seven strings under their snake_case keys, in this order.
struct DiagnosticsUploadPayload {
    QString appVersion;
    QString platform;
    QString deviceModel;
    QString deviceID;
    QString entry;
    QString region;
    QString logs;

    void encode(JsonEncodingContainer &c) const;
};

// The service's reply; other members are ignored.
struct DiagnosticsUploadResponse {
    bool ok = false;
    std::optional<QString> incident;

    static DiagnosticsUploadResponse decode(const JsonDecodingContainer &c);
};

// What sends one upload request: the status (-1 for an answer that is not HTTP) and
// the reply body. Throws on transport failures.
class DiagnosticsRequestSender {
public:
    struct Reply {
        int statusCode = 0;
        QByteArray body;
    };
    virtual ~DiagnosticsRequestSender() = default;
    virtual QCoro::Task<Reply> send(QNetworkRequest request, QByteArray body) = 0;
};

// The product's sender: a POST over a fresh ephemeral session per request, bounded by
// the time-out; a reply body beyond 1 MiB is cut there (and then does not decode).
class EphemeralRequestSender final : public DiagnosticsRequestSender {
public:
    explicit EphemeralRequestSender(std::chrono::milliseconds timeout = std::chrono::seconds(10)) : m_timeout(timeout) {}
    QCoro::Task<Reply> send(QNetworkRequest request, QByteArray body) override;

private:
    std::chrono::milliseconds m_timeout;
};

// Sends a finished triage report to the service, anonymously (no Authorization
// header, not through the API client), and returns the incident code support can
// look it up by. Keeps no state between calls.
namespace DiagnosticsUploader {

// "<version> (<build>)", each "unknown" when the build did not set it.
QString appVersion();
// "Linux / " and the operating system's name and version.
QString deviceModel();

struct Options {
    // Tried one after another until one returns an incident code; "diag" is appended.
    // The app hands in the list its API client was given; default: the built-in one.
    QList<QUrl> baseURLs = APIClient::builtInBaseURLs();
    QString userAgent = APIClient::userAgent();
    QString appVersion = DiagnosticsUploader::appVersion();
    QString deviceModel = DiagnosticsUploader::deviceModel();
    // Default: EphemeralRequestSender.
    std::shared_ptr<DiagnosticsRequestSender> sender;
};

// The body for the report: platform "ios" (what the service expects of every client),
// the device id (created when missing), the preferred entry and selected region (empty
// when not stored) and the report's plain text as "logs".
DiagnosticsUploadPayload payload(const TriageReport &report, AppGroupStore &store, const Options &options);

// POSTs the payload to each base URL in turn and returns the first non-empty incident
// of a 2xx reply with "ok" true. When none gives one, throws the last failure: the
// sender's error, DiagnosticsUploadError::rejected (status outside 2xx),
// JsonDecodingError (a reply that does not decode) or
// DiagnosticsUploadError::invalidResponse; URLError(CannotConnectToHost) without base
// URLs. An encoding failure is thrown before anything is sent.
QCoro::Task<QString> upload(TriageReport report, AppGroupStore store, Options options = {});

// What the user is shown of an upload failure: the short text of RawProbes::describe()
// for a transport failure ("cannot connect"), else the error's localised description.
QString failureText(const std::exception_ptr &error);

} // namespace DiagnosticsUploader

} // namespace kovra
