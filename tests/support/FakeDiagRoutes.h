#pragma once

#include "support/FakeService.h"

#include <QList>
#include <QString>

namespace kovra::test::FakeDiagRoutes {

// The service's echo download ("diag/echo?bytes=<n>") and the proxy configuration
// download, as scripted answers of the fake service.

// `bytes` bytes with their length announced. With a `breakAfter` below `bytes`, the
// full length is still announced but the connection closes after `breakAfter` bytes.
// Without `announce` no length is stated and the body ends when the connection closes.
FakeReply echo(qint64 bytes, qint64 breakAfter = -1, int status = 200, bool announce = true);

// The echo route of one host answers the sizes in the order given (the order in which
// a client asks for them); the last answer repeats.
void scriptEcho(FakeService &service, int host, const QList<qint64> &sizes, qint64 breakAfter = -1, int status = 200);

// A configuration download at `path` (below the host's root, not its "/api" prefix).
void scriptConfiguration(FakeService &service, int host, const QString &path, const QByteArray &body, int status = 200);

} // namespace kovra::test::FakeDiagRoutes
