#pragma once

#include "account/AppleAuthService.h"
#include "account/AuthState.h"
#include "account/GoogleAuthService.h"
#include "account/MeStore.h"
#include "ui/account/AccountScreens.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>
#include <QUrlQuery>

#include "support/Await.h"
#include "support/FakeServiceClient.h"
#include "support/ManualClock.h"
#include "support/MemoryTokenStore.h"
#include "support/RecordingUrlOpener.h"

namespace kovra::test {

inline const QString kStoredToken = QStringLiteral("tok-stored-51c2");
inline const QString kIssuedToken = QStringLiteral("tok-issued-7f3a");

// Sign in with Apple answering as scripted, always after performRequest() returns;
// `Held` keeps the request until answer() is called.
struct ScriptedAppleProvider final : AppleIDProvider {
    enum Answer { Token, Cancel, NoToken, Fail, Held };
    bool available = true;
    Answer script = Token;
    int requests = 0;
    Callbacks held;

    bool isAvailable() const override { return available; }
    void performRequest(AppleIDRequest, Callbacks callbacks) override
    {
        ++requests;
        if (script == Held)
            held = std::move(callbacks);
        else
            QTimer::singleShot(0, [callbacks, a = script] { deliver(callbacks, a); });
    }
    void answer(Answer a) { deliver(held, a); }
    static void deliver(const Callbacks &c, Answer a)
    {
        if (a == Cancel || a == Fail)
            c.failed(std::make_exception_ptr(AppleIDAuthorizationError(
                a == Cancel ? AppleIDAuthorizationError::canceled : AppleIDAuthorizationError::failed, "refused")));
        else
            c.completed({true, a == NoToken ? std::nullopt : std::optional<QByteArray>("apple-id-token")});
    }
};

// The user's browser for the Google sign-in: follows the authorization page straight
// back to the app's loopback redirect with a code (or a denial), or is left open
// until the test calls finish().
struct ScriptedBrowser {
    enum Mode { Approves, Denies, LeftOpen };
    Mode mode = Approves;
    int opened = 0;
    QUrl lastPage;
    QNetworkAccessManager network;

    bool open(const QUrl &page)
    {
        ++opened;
        lastPage = page;
        if (mode != LeftOpen)
            finish(mode);
        return true;
    }
    void finish(Mode how)
    {
        const QUrlQuery query(lastPage);
        QUrl target(query.queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded));
        const QString state = query.queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded);
        target.setQuery((how == Denies ? QStringLiteral("error=access_denied") : QStringLiteral("code=c-1"))
                        + QStringLiteral("&state=") + state);
        QNetworkReply *reply = network.get(QNetworkRequest(target));
        QObject::connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
    }
};

// The settings screen's collaborators over the fake service: the session (signed
// in), the user store, Apple over a scripted provider, Google over a scripted browser
// whose token endpoint is the fake service's "/oauth/token", a recording link
// opener, and the session hook emptying the user store.
struct SettingsRig {
    static constexpr std::chrono::milliseconds kGoogleBound{std::chrono::minutes(5)};

    FakeServiceClient api{kStoredToken};
    FakeService &service = api.service;
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::shared_ptr<Defaults> defaults = Defaults::inMemory();
    std::shared_ptr<MemoryTokenStore> tokens = std::make_shared<MemoryTokenStore>(kStoredToken);
    std::shared_ptr<RecordingUrlOpener> opener;
    AuthState auth;
    MeStore me;
    ScriptedAppleProvider *appleProvider = new ScriptedAppleProvider;
    AppleAuthService apple;
    ScriptedBrowser browser;
    GoogleAuthService google;
    int sessionEnds = 0;

    explicit SettingsRig(QStringList refusedLinks = {})
        : opener(std::make_shared<RecordingUrlOpener>(std::move(refusedLinks))),
          auth(std::make_shared<AuthService>(&api.client, tokens), tokens, AppGroupStore(defaults, nullptr), opener,
               AuthState::Options{std::chrono::seconds(2), 60, clock}),
          me(std::make_shared<MeService>(&api.client), &auth),
          apple(&api.client, tokens, std::unique_ptr<AppleIDProvider>(appleProvider)),
          google(&api.client, tokens,
                 GoogleSignInConfig{QStringLiteral("client-1"), {}, QUrl(QStringLiteral("http://127.0.0.1:9/authorize")),
                                    QUrl(service.baseURLs().first().toString() + QStringLiteral("/oauth/token"))},
                 {[this](const QUrl &page) { return browser.open(page); }, kGoogleBound, clock})
    {
        auth.setOnSessionInvalidated([this] {
            ++sessionEnds;
            me.reset();
        });
        await(auth.restore());
    }

    ui::AccountServices services(ui::AccountLinks links = {})
    {
        ui::AccountServices s;
        s.authState = &auth, s.meStore = &me, s.appleService = &apple, s.googleService = &google;
        s.appGroup = AppGroupStore(defaults, nullptr), s.linkOpener = opener, s.clock = clock, s.links = std::move(links);
        return s;
    }

    // The user record the service answers with.
    void scriptMe(const QByteArray &json)
    {
        service.script(FakeService::anyHost, "GET", QStringLiteral("/me"), {FakeReply::json(200, json)});
    }
    // Loads that record into the store.
    void loadMe(const QByteArray &json)
    {
        scriptMe(json);
        await(me.refresh());
    }
    int requestsTo(const QString &path) const
    {
        const QList<RecordedRequest> all = service.requests();
        return int(std::count_if(all.cbegin(), all.cend(), [&path](const RecordedRequest &r) { return r.path == path; }));
    }
};

} // namespace kovra::test
