#pragma once

#include "connectivity/AppReachabilityProbe.h"
#include "diagnostics/ConnectivityProbe.h"
#include "diagnostics/DiagnosticsRunner.h"
#include "platform/Error.h"

#include <QList>
#include <QString>

namespace kovra {

// Start-up cannot go on; the text says what to fix (it names the file or variable).
class StartupError : public Error {
public:
    explicit StartupError(QString text) : m_text(std::move(text)) {}
    QString description() const override { return m_text; }

private:
    QString m_text;
};

// Every public host, address, name and page the app probes besides the service's API:
// the reachability services, the in-tunnel self-test, the quick diagnostics and the
// control check page of the host check. The defaults are the public ones; a targets
// file (what `kovra-dev-service --write-targets` writes) points all of them elsewhere.
struct ExternalTargets {
    // In probe order, with their app and gating roles.
    QList<ReachabilityService> reachability = productReachabilityServices();
    ConnectivityTargets selfTest;
    DiagnosticsTargets diagnosticsRun;
    QString controlCheckURL = QStringLiteral("https://www.google.com/generate_204");

    static constexpr qint64 kMaxFileBytes = 256 * 1024;

    // The targets of a file: one JSON object with "reachability" (one {"name","url"}
    // per product service, in the same order; each keeps its role), "self_test",
    // "diagnostics_run" and "control_plane", every member required (a "base_urls"
    // member is allowed and ignored: the API base URLs have their own override).
    // URLs must be absolute http(s) URLs, ports 1 to 65535, names non-empty. Throws
    // StartupError naming the file when it is missing, unreadable, too large or not
    // such an object.
    static ExternalTargets load(const QString &file);
    // The same from the file's bytes; `file` only names it in the error.
    static ExternalTargets parse(const QByteArray &bytes, const QString &file);
};

} // namespace kovra
