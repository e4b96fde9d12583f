#include "diagnostics/BodyProbe.h"

#include "diagnostics/RawProbes.h"
#include "platform/Async.h"
#include "platform/Http.h"
#include "platform/HttpBodyGuard.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>

#include <array>

namespace kovra {
namespace {

using std::chrono::milliseconds;

// How much of the body Qt may hold before this code has counted (and dropped) it. Qt loses
// a connection closed while it holds a body back from its reader (the download then waits
// for its time-out, or ends as if whole), so no body the probe fetches (echoes, a
// configuration) comes near this.
constexpr qint64 kReadAhead = 4 * 1024 * 1024;

// One download in flight: counts the body as it arrives, watches the two bounds and
// resolves `result` once the reply has finished.
class StreamedDownload : public QObject {
public:
    StreamedDownload(const QNetworkRequest &request, const BodyProbeOptions &options, std::shared_ptr<Clock> clock)
        : m_clock(std::move(clock)), m_start(m_clock->monotonicNow()), m_idleTimeout(options.idleTimeout)
    {
        auto *nam = new QNetworkAccessManager(this);
        m_reply = nam->get(request);
        m_reply->setReadBufferSize(kReadAhead);
        m_readAhead = HttpBodyGuard::instance().allowReadAhead(kReadAhead);
        connect(m_reply, &QNetworkReply::metaDataChanged, this, [this] { noteHead(); });
        connect(m_reply, &QNetworkReply::readyRead, this, [this] {
            count();
            armIdleTimer();
        });
        connect(m_reply, &QNetworkReply::finished, this, [this] { finish(); });
#if QT_CONFIG(ssl)
        connect(m_reply, &QNetworkReply::sslErrors, this,
                [this](const QList<QSslError> &errors) { m_certificateRejected = !errors.isEmpty(); });
#endif
        m_totalTimer = m_clock->startTimer(options.totalTimeout, [this] { abortTimedOut(); });
        armIdleTimer();
    }

    ~StreamedDownload() override
    {
        if (m_reply) {
            disconnect(m_reply, nullptr, this, nullptr);
            m_reply->abort();
        }
    }

    OneShot<TriageBodyOutcome> result;

private:
    qint64 elapsedMS() const
    {
        return std::chrono::duration_cast<milliseconds>(m_clock->monotonicNow() - m_start).count();
    }

    void noteHead()
    {
        if (!m_outcome.headMS)
            m_outcome.headMS = elapsedMS();
        const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        m_outcome.statusCode.reset();
        if (isHttpReply(*m_reply) && status.isValid())
            m_outcome.statusCode = status.toInt();
        m_outcome.expectedBytes.reset();
        bool ok = false;
        const qint64 length = m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&ok);
        if (ok && length >= 0)
            m_outcome.expectedBytes = length;
    }

    void count()
    {
        std::array<char, 16 * 1024> buffer;
        for (;;) {
            const qint64 n = m_reply->read(buffer.data(), qint64(buffer.size()));
            if (n <= 0)
                break;
            m_outcome.bytesReceived += n;
            HttpBodyGuard::instance().delivered(n);
        }
    }

    void armIdleTimer()
    {
        m_idleTimer = m_clock->startTimer(m_idleTimeout, [this] { abortTimedOut(); });
    }

    void abortTimedOut()
    {
        if (m_timedOut || !m_reply || m_reply->isFinished())
            return;
        m_timedOut = true;
        m_totalTimer.reset();
        m_idleTimer.reset();
        // Aborting finishes the reply inside the call; leave the timer's callback first.
        QMetaObject::invokeMethod(m_reply, &QNetworkReply::abort, Qt::QueuedConnection);
    }

    void finish()
    {
        count();
        m_totalTimer.reset();
        m_idleTimer.reset();
        std::optional<URLError::Code> failure =
            URLError::failureOf(*m_reply, m_certificateRejected, m_outcome.bytesReceived);
        // This download's own abort on a time-out ends it as cancelled.
        if (m_timedOut && m_reply->error() == QNetworkReply::OperationCanceledError)
            failure = URLError::TimedOut;
        // A head that came without its own signal still counts.
        if (!m_outcome.headMS && m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
            noteHead();
        if (failure)
            m_outcome.error = RawProbes::describe(std::make_exception_ptr(URLError(*failure)));
        m_outcome.elapsedMS = elapsedMS();
        m_reply = nullptr;
        m_readAhead.reset();
        result.resolve(m_outcome);
    }

    std::shared_ptr<Clock> m_clock;
    MonotonicInstant m_start;
    milliseconds m_idleTimeout;
    QPointer<QNetworkReply> m_reply;
    std::unique_ptr<ClockTimer> m_totalTimer;
    std::unique_ptr<ClockTimer> m_idleTimer;
    // What the body guard allows Qt to hold of this body while it is read.
    std::unique_ptr<HttpBodyGuard::ReadAhead> m_readAhead;
    TriageBodyOutcome m_outcome;
    bool m_timedOut = false;
    bool m_certificateRejected = false;
};

} // namespace

namespace NetworkTriage {

QCoro::Task<TriageBodyOutcome> bodyProbe(QUrl url, BodyProbeOptions options)
{
    const std::shared_ptr<Clock> clock = options.clock ? options.clock : Clock::system();
    QNetworkRequest request(url);
    request.setRawHeader("Accept-Encoding", "identity");
    request.setRawHeader("User-Agent", options.userAgent.toUtf8());
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    const LaterPtr<StreamedDownload> download(new StreamedDownload(request, options, clock));
    const TriageBodyOutcome outcome = co_await download->result.wait();
    co_return outcome;
}

} // namespace NetworkTriage

} // namespace kovra
