#include "diagnostics/DiagnosticsUploader.h"

#include "diagnostics/RawProbes.h"
#include "diagnostics/TriageURLs.h"
#include "platform/Async.h"
#include "platform/BuildInfo.h"
#include "platform/Http.h"

#include <QSysInfo>

namespace kovra {
namespace {

constexpr qint64 kMaxReplyBytes = 1 << 20;

QString orUnknown(const char *value)
{
    const QString text = QString::fromUtf8(value);
    return text.isEmpty() ? QStringLiteral("unknown") : text;
}

} // namespace

QString DiagnosticsUploadError::description() const
{
    if (m_kind == Kind::rejected)
        return QStringLiteral("diagnostics upload rejected: HTTP %1").arg(m_statusCode);
    return QStringLiteral("diagnostics upload: no incident code in the reply");
}

QString DiagnosticsUploadError::localizedDescription() const
{
    if (m_kind == Kind::rejected)
        return QStringLiteral("Сервер вернул HTTP %1").arg(m_statusCode);
    return QStringLiteral("Сервер не вернул код инцидента");
}

void DiagnosticsUploadPayload::encode(JsonEncodingContainer &c) const
{
    c.encode("app_version", appVersion);
    c.encode("platform", platform);
    c.encode("device_model", deviceModel);
    c.encode("device_id", deviceID);
    c.encode("entry", entry);
    c.encode("region", region);
    c.encode("logs", logs);
}

DiagnosticsUploadResponse DiagnosticsUploadResponse::decode(const JsonDecodingContainer &c)
{
    return {c.decode<bool>("ok"), c.decodeIfPresent<QString>("incident")};
}

QCoro::Task<DiagnosticsRequestSender::Reply> EphemeralRequestSender::send(QNetworkRequest request, QByteArray body)
{
    const LaterPtr<HttpSession> session(HttpSession::ephemeral(m_timeout).release());
    const QByteArray method("POST");
    const CancellationToken never;
    const HttpResponse response = co_await session->send(method, request, body, never, kMaxReplyBytes);
    co_return Reply{response.isHttp ? response.statusCode : -1, response.body};
}

namespace DiagnosticsUploader {

QString appVersion()
{
    return orUnknown(buildinfo::version()) + QStringLiteral(" (") + orUnknown(buildinfo::number()) + QLatin1Char(')');
}

QString deviceModel()
{
    return QStringLiteral("Linux / ") + QSysInfo::prettyProductName();
}

DiagnosticsUploadPayload payload(const TriageReport &report, AppGroupStore &store, const Options &options)
{
    const Defaults &defaults = *store.defaults();
    DiagnosticsUploadPayload p;
    p.appVersion = options.appVersion;
    p.platform = QStringLiteral("ios");
    p.deviceModel = options.deviceModel;
    p.deviceID = store.deviceID();
    p.entry = defaults.string(AppGroupKey::preferredEntry).value_or(QString());
    p.region = defaults.string(AppGroupKey::selectedRegionID).value_or(QString());
    p.logs = report.plainText();
    return p;
}

QCoro::Task<QString> upload(TriageReport report, AppGroupStore store, Options options)
{
    const QByteArray body = JsonEncoder().encode(payload(report, store, options));
    const std::shared_ptr<DiagnosticsRequestSender> sender =
        options.sender ? options.sender : std::make_shared<EphemeralRequestSender>();

    std::exception_ptr lastFailure = std::make_exception_ptr(URLError(URLError::CannotConnectToHost));
    for (const QUrl &base : options.baseURLs) {
        QNetworkRequest request(appendingPath(base, QStringLiteral("diag")));
        request.setRawHeader("Content-Type", "application/json");
        request.setRawHeader("User-Agent", options.userAgent.toUtf8());
        DiagnosticsRequestSender::Reply reply;
        try {
            const DiagnosticsRequestSender::Reply answer = co_await sender->send(request, body);
            reply = answer;
        } catch (...) {
            lastFailure = std::current_exception();
            continue;
        }
        if (reply.statusCode < 200 || reply.statusCode > 299) {
            lastFailure = std::make_exception_ptr(DiagnosticsUploadError::rejected(reply.statusCode));
            continue;
        }
        std::optional<DiagnosticsUploadResponse> response;
        try {
            response = JsonDecoder().decode<DiagnosticsUploadResponse>(reply.body);
        } catch (...) {
            lastFailure = std::current_exception();
            continue;
        }
        if (response->ok && response->incident && !response->incident->isEmpty())
            co_return *response->incident;
        lastFailure = std::make_exception_ptr(DiagnosticsUploadError::invalidResponse());
    }
    std::rethrow_exception(lastFailure);
}

QString failureText(const std::exception_ptr &error)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const URLError &) {
        return RawProbes::describe(error);
    } catch (...) {
    }
    return localizedDescriptionOf(error);
}

} // namespace DiagnosticsUploader

} // namespace kovra
