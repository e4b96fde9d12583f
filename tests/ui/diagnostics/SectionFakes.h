#pragma once

// Scripted collaborators of the sheet's sections: the triage, the sending of its
// report, the host check's reports.

#include "diagnostics/ControlPlaneReachability.h"
#include "diagnostics/DiagnosticsUploader.h"
#include "platform/Async.h"
#include "platform/Http.h"
#include "support/FixedPathSource.h"
#include "support/ScriptedProber.h"
#include "ui/diagnostics/DiagnosticsViewOptions.h"

namespace kovra::test {

// Answers uploads from `replies` in turn (the last repeats); status 0 stands for a
// timed-out request. While `hold` is set each answer waits for `release`.
struct FakeSender final : DiagnosticsRequestSender {
    QList<Reply> replies{{200, R"({"ok":true,"incident":"INC-1"})"}};
    bool hold = false;
    OneShot<void> release;
    int calls = 0;

    QCoro::Task<Reply> send(QNetworkRequest, QByteArray) override
    {
        const Reply reply = replies.value(calls++, replies.last());
        OneShot<void> gate = release;
        if (hold)
            co_await gate.wait();
        if (reply.statusCode == 0)
            throw URLError(URLError::TimedOut);
        co_return reply;
    }
};

// The triage over three base URLs (the first host listed twice, unless `baseURLs` are
// given) through `prober`, without echo sizes or configuration, sent through `sender`
// (the product's own when null).
inline void scriptTriage(ui::DiagnosticsViewOptions &o, std::shared_ptr<ScriptedProber> prober,
                         std::shared_ptr<FakeSender> sender, QList<QUrl> baseURLs = {})
{
    const QList<QUrl> three{QUrl(u"https://a.test/api"_qs), QUrl(u"https://b.test/api"_qs), QUrl(u"https://a.test/v2"_qs)};
    o.baseURLs = baseURLs.isEmpty() ? three : baseURLs;
    o.triage.prober = std::move(prober);
    o.triage.echoSizes = {};
    o.triage.pathSources = FixedPathSource::wifi();
    o.upload.sender = std::move(sender);
}

inline ControlPlaneReachability::Report hostReport(ControlPlaneVerdict verdict, QList<ControlPlaneHostResult> results = {})
{
    ControlPlaneReachability::Report report;
    report.verdict = verdict;
    report.results = std::move(results);
    return report;
}

} // namespace kovra::test
