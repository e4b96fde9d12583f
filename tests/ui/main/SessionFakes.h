#pragma once

// The session state over the fake service: an in-memory token store, a recording
// link opener and a manual clock (the poll waits on it, so a sign-in stays waiting).

#include "account/AuthState.h"

#include "support/Await.h"
#include "support/FakeServiceClient.h"
#include "support/ManualClock.h"
#include "support/MemoryTokenStore.h"
#include "support/RecordingUrlOpener.h"

#include <QDateTime>

namespace kovra::test {

inline const QString kDeepLink = QStringLiteral("tg://resolve?domain=kovra_bot&start=n1");
inline const QString kWebLink = QStringLiteral("https://t.me/kovra_bot?start=n1");

struct SessionRig {
    // `token`: stored before the session state reads the store.
    explicit SessionRig(std::optional<QString> token = std::nullopt)
        : tokens(std::make_shared<MemoryTokenStore>(std::move(token))),
          auth(std::make_shared<AuthService>(&api.client, tokens), tokens, AppGroupStore(Defaults::inMemory(), nullptr),
               opener, AuthState::Options{std::chrono::seconds(2), 60, clock})
    {
        await(auth.restore());
    }

    // The service's answers to a sign-in start and to its polls.
    void scriptSignIn(int startStatus, int pollStatus = 202)
    {
        const QByteArray session = R"({"nonce":"n1","deep_link":")" + kDeepLink.toUtf8() + R"(","https_link":")"
                                   + kWebLink.toUtf8() + R"(","expires_in_seconds":600})";
        api.service.script(FakeService::anyHost, "POST", QStringLiteral("/auth/start_session"),
                           {FakeReply::json(startStatus, startStatus == 200 ? session : QByteArray())});
        api.service.script(FakeService::anyHost, "GET", QStringLiteral("/auth/poll/n1"),
                           {FakeReply::json(pollStatus, {})});
    }
    void setStatus(AuthState::StatusKind kind)
    {
        using S = AuthState::Status;
        auth.setStatus(kind == AuthState::StatusKind::linking
                           ? S::linking(QStringLiteral("n1"), QDateTime(QDate(2030, 1, 1), QTime(0, 0), Qt::UTC))
                       : kind == AuthState::StatusKind::authenticated ? S::authenticated()
                                                                      : S::anonymous());
    }

    FakeServiceClient api;
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::shared_ptr<MemoryTokenStore> tokens;
    std::shared_ptr<RecordingUrlOpener> opener = std::make_shared<RecordingUrlOpener>();
    AuthState auth;
};

} // namespace kovra::test
