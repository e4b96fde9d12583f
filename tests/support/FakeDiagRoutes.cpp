#include "support/FakeDiagRoutes.h"

namespace kovra::test::FakeDiagRoutes {

FakeReply echo(qint64 bytes, qint64 breakAfter, int status, bool announce)
{
    FakeReply reply;
    reply.status = status;
    const bool breaks = breakAfter >= 0 && breakAfter < bytes;
    reply.body = QByteArray(breaks ? breakAfter : bytes, 'e');
    reply.headers = {{"Content-Type", "application/octet-stream"}};
    // The fake closes the connection after a body whose length it does not announce
    // itself; the announced length then comes from here.
    reply.announceLength = announce && !breaks;
    if (breaks)
        reply.headers.append({"Content-Length", QByteArray::number(bytes)});
    return reply;
}

void scriptEcho(FakeService &service, int host, const QList<qint64> &sizes, qint64 breakAfter, int status)
{
    QList<FakeReply> replies;
    for (qint64 size : sizes)
        replies << echo(size, breakAfter, status);
    service.script(host, "GET", QStringLiteral("/diag/echo"), replies);
}

void scriptConfiguration(FakeService &service, int host, const QString &path, const QByteArray &body, int status)
{
    FakeReply reply = FakeReply::json(status, body);
    service.script(host, "GET", path, {reply});
}

} // namespace kovra::test::FakeDiagRoutes
