#include "platform/DesktopUrlOpener.h"

#include "platform/Async.h"

#include <QPointer>
#include <QProcess>

namespace kovra {
namespace {

// What the query may print: one desktop file name.
constexpr qint64 kMaxQueryOutput = 4096;

bool isWebScheme(const QString &scheme)
{
    return scheme == QLatin1String("https") || scheme == QLatin1String("http");
}

// A scheme as URLs carry it: a letter, then letters, digits, "+", "-" or ".".
bool isPlainScheme(const QString &scheme)
{
    if (scheme.isEmpty() || !scheme.at(0).isLetter() || scheme.at(0).unicode() > 0x7f)
        return false;
    for (const QChar c : scheme) {
        const char16_t u = c.unicode();
        const bool ok = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') || u == u'+'
                        || u == u'-' || u == u'.';
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

DesktopUrlOpener::DesktopUrlOpener(Options options) : m_options(std::move(options))
{
    if (!m_options.launch)
        m_options.launch = [program = m_options.xdgOpen](const QUrl &url) { return launchDetached(url, program); };
}

bool DesktopUrlOpener::launchDetached(const QUrl &url, const QString &program)
{
    // Not QDesktopServices: without a browser it prints the whole link.
    QProcess process;
    process.setProgram(program);
    process.setArguments({url.toString(QUrl::FullyEncoded)});
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    return process.startDetached();
}

QCoro::Task<bool> DesktopUrlOpener::openURL(QUrl url)
{
    if (!url.isValid() || !isPlainScheme(url.scheme()))
        co_return false;
    // Copied into the frame: the opener may go while the query runs.
    const std::function<bool(const QUrl &)> launch = m_options.launch;
    if (!isWebScheme(url.scheme())) {
        const bool registered = co_await hasSchemeHandler(url.scheme());
        if (!registered)
            co_return false;
    }
    co_return launch(url);
}

QCoro::Task<bool> DesktopUrlOpener::hasSchemeHandler(QString scheme) const
{
    if (!isPlainScheme(scheme))
        co_return false;
    const std::shared_ptr<Clock> clock = m_options.clock;
    const std::chrono::milliseconds bound = m_options.queryBound;
    const Logger log = m_log;

    // The process deletes itself once it has ended (or failed to start), also after
    // this frame has given up on it.
    auto *process = new QProcess;
    OneShot<bool> answer;
    QObject::connect(process, &QProcess::finished, process,
                     [process, answer](int code, QProcess::ExitStatus status) mutable {
                         const QByteArray output = process->read(kMaxQueryOutput).trimmed();
                         answer.resolve(status == QProcess::NormalExit && code == 0 && !output.isEmpty());
                         process->deleteLater();
                     });
    QObject::connect(process, &QProcess::errorOccurred, process, [process, answer](QProcess::ProcessError error) mutable {
        if (error != QProcess::FailedToStart)
            return; // a crash also ends in finished()
        answer.resolve(false);
        process->deleteLater();
    });
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    const QPointer<QProcess> running(process);
    process->start(m_options.xdgMime, {QStringLiteral("query"), QStringLiteral("default"),
                                       QStringLiteral("x-scheme-handler/") + scheme});

    const std::optional<bool> registered = co_await answer.waitFor(bound, *clock);
    if (!registered) {
        log.notice(QStringLiteral("no answer for x-scheme-handler/%1 within %2 ms").arg(scheme).arg(bound.count()));
        if (running)
            running->kill();
        co_return false;
    }
    co_return *registered;
}

} // namespace kovra
