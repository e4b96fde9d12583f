#include "ui/account/LinkedAccounts.h"
#include "ui/account/SettingsModel.h"
#include "ui/account/SupportChecklistModel.h"

#include <QPointer>
#include <QTest>

#include "SettingsFakes.h"

using namespace kovra;
using namespace kovra::ui;
using namespace kovra::test;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(std::optional<kovra::MeOut>)

namespace {

const QString kConflict = u"Этот аккаунт уже привязан к другому пользователю."_s;
const QString kExpired = u"Сессия истекла. Войдите снова."_s;
const QString kGeneric = u"Не удалось привязать аккаунт. Попробуйте позже."_s;

// "tg apple:a@x google" (an e-mail after the colon); "-" for a record with nothing
// linked, "" for no record.
std::optional<MeOut> record(const QString &spec)
{
    if (spec.isEmpty())
        return std::nullopt;
    MeOut me;
    for (const QString &part : spec.split(u' ', Qt::SkipEmptyParts)) {
        const QString name = part.section(u':', 0, 0);
        const std::optional<QString> email = part.contains(u':') ? std::optional(part.section(u':', 1)) : std::nullopt;
        me.hasTelegram |= name == u"tg";
        if (name == u"apple")
            me.hasApple = true, me.appleEmail = email;
        if (name == u"google")
            me.hasGoogle = true, me.googleEmail = email;
    }
    return me;
}

// Per row: the linked value ("•" with the dot) or "+" for the link button ("+…" while
// its flow runs), "(off)" when disabled, "(n/a)" with an unavailability note.
QString describe(const QList<LinkedAccountRow> &rows)
{
    QStringList out;
    for (const LinkedAccountRow &r : rows)
        out << (r.connectedValue ? *r.connectedValue + (r.showsConnectedDot ? u"•"_s : u""_s)
                                 : (r.isLinking ? u"+…"_s : u"+"_s))
                   + (r.isDisabled ? u"(off)"_s : u""_s) + (r.unavailableNote.isEmpty() ? u""_s : u"(n/a)"_s);
    return out.join(u" | "_s);
}

bool allDisabled(const SettingsModel &model)
{
    return std::all_of(model.accountRows().cbegin(), model.accountRows().cend(),
                       [](const LinkedAccountRow &r) { return r.isDisabled; });
}

FakeReply loginReply()
{
    return FakeReply::json(200, uR"({"access_token":"%1","is_new":false})"_s.arg(kIssuedToken).toUtf8());
}

// How the sign-in ends: with a token, cancelled, without a token, failing, left
// open past the bound (Google), or with a token once the screen has gone.
enum Identity { Token, Cancelled, NoToken, ProviderFails, LeftOpen, TokenAfterScreenGone };

// Scripts the identity step of `method` (Apple's provider, or Google's browser and
// token endpoint).
void scriptIdentity(SettingsRig &rig, LinkedAccount::Value method, Identity identity)
{
    if (method == LinkedAccount::Apple) {
        const ScriptedAppleProvider::Answer answers[] = {ScriptedAppleProvider::Token, ScriptedAppleProvider::Cancel,
                                                         ScriptedAppleProvider::NoToken, ScriptedAppleProvider::Fail,
                                                         ScriptedAppleProvider::Held, ScriptedAppleProvider::Held};
        rig.appleProvider->script = answers[identity];
        return;
    }
    rig.browser.mode = identity == Cancelled                                  ? ScriptedBrowser::Denies
                       : identity == LeftOpen || identity == TokenAfterScreenGone ? ScriptedBrowser::LeftOpen
                                                                                  : ScriptedBrowser::Approves;
    const QByteArray tokens = identity == ProviderFails ? R"({"error":"invalid_grant"})"
                              : identity == NoToken     ? R"({"access_token":"at"})"
                                                        : R"({"access_token":"at","id_token":"google-id-token"})";
    rig.service.script(FakeService::anyHost, "POST", u"/oauth/token"_s,
                       {FakeReply::json(identity == ProviderFails ? 400 : 200, tokens)});
}

QString linkPath(LinkedAccount::Value method)
{
    return method == LinkedAccount::Apple ? u"/auth/apple/link"_s : u"/auth/google/link"_s;
}

} // namespace

class SettingsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    void rows_data()
    {
        QTest::addColumn<QString>("record");
        QTest::addColumn<QString>("running"); // a flow: apple, google, telegram
        QTest::addColumn<bool>("appleAvailable");
        QTest::addColumn<QString>("rows");
        QTest::addColumn<QString>("signInAgainWith"); // the end of the sign-out message
        QTest::newRow("no record yet") << "" << "" << true << "+ | + | +" << "Telegram.";
        QTest::newRow("nothing linked") << "-" << "" << true << "+ | + | +" << "Apple.";
        QTest::newRow("telegram") << "tg" << "" << true << "Подключён• | + | +" << "Telegram.";
        QTest::newRow("apple with e-mail") << "apple:a@x.ru" << "" << true << "+ | a@x.ru | +" << "Apple.";
        QTest::newRow("apple without e-mail") << "apple" << "" << true << "+ | Подключён | +" << "Apple.";
        QTest::newRow("apple, empty e-mail") << "apple:" << "" << true << "+ | Подключён | +" << "Apple.";
        QTest::newRow("google with e-mail") << "google:g@x.ru" << "" << true << "+ | + | g@x.ru" << "Google.";
        QTest::newRow("apple and google") << "apple google:g@x.ru" << "" << true << "+ | Подключён | g@x.ru"
                                          << "Apple или Google.";
        QTest::newRow("all three") << "tg apple:a@x.ru google" << "" << true << "Подключён• | a@x.ru | Подключён"
                                   << "Telegram.";
        QTest::newRow("apple flow") << "-" << "apple" << true << "+(off) | +…(off) | +(off)" << "Apple.";
        QTest::newRow("telegram sign-in") << "-" << "telegram" << true << "+(off) | +(off) | +(off)" << "Apple.";
        QTest::newRow("no Apple sign-in here") << "-" << "" << false << "+ | +(off)(n/a) | +" << "Apple.";
        QTest::newRow("linked Apple, none here") << "apple:a@x.ru" << "" << false << "+ | a@x.ru(off)(n/a) | +"
                                                 << "Apple.";
    }
    void rows()
    {
        QFETCH(QString, record);
        QFETCH(QString, running);
        QFETCH(bool, appleAvailable);
        const std::optional<MeOut> me = ::record(record);
        const LinkingState linking{running == u"apple", running == u"google", running == u"telegram"};
        QTEST(describe(LinkedAccountRow::of(me, linking, appleAvailable, true)), "rows");
        QFETCH(QString, signInAgainWith);
        QVERIFY2(logoutConfirmMessage(me).endsWith(u" через "_s + signInAgainWith), qPrintable(logoutConfirmMessage(me)));
    }

    // Each way an Apple or Google link ends. The rows are disabled while it runs and
    // the flag is cleared on every path; only a success refreshes the record. A flow
    // whose screen went away ("gone") still links, refreshes, or ends the session.
    void linkOutcomes_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<int>("identity");
        QTest::addColumn<int>("linkStatus"); // the link request's answer (none without an identity)
        QTest::addColumn<QString>("linkError");
        QTest::addColumn<QString>("failureLine");
        for (const auto method : {LinkedAccount::Apple, LinkedAccount::Google}) {
            const bool apple = method == LinkedAccount::Apple;
            const auto row = [&](const char *tag) -> QTestData & {
                return QTest::addRow("%s: %s", apple ? "apple" : "google", tag) << int(method);
            };
            row("linked") << int(Token) << 200 << "" << "";
            row("cancelled") << int(Cancelled) << 0 << "" << "";
            row("conflict") << int(Token) << 409 << kConflict << "";
            row("unauthorized") << int(Token) << 401 << kExpired << "";
            row("server error") << int(Token) << 502 << kGeneric << "server rejected: server 502";
            row("no identity token") << int(NoToken) << 0 << kGeneric << "no identity token";
            row("provider error") << int(ProviderFails) << 0 << kGeneric
                                  << (apple ? u"authorization error 1004: refused"_s
                                            : u"Google sign-in: token request failed (HTTP 400 invalid_grant)"_s);
            row("gone, linked") << int(TokenAfterScreenGone) << 200 << "" << "";
            row("gone, unauthorized") << int(TokenAfterScreenGone) << 401 << "" << "";
        }
        QTest::newRow("google: browser left open") << int(LinkedAccount::Google) << int(LeftOpen) << 0 << "" << "";
    }
    void linkOutcomes()
    {
        QFETCH(int, method);
        QFETCH(int, identity);
        QFETCH(int, linkStatus);
        QFETCH(QString, failureLine);
        const auto m = LinkedAccount::Value(method);
        const QString name = m == LinkedAccount::Apple ? u"apple"_s : u"google"_s;
        SettingsRig rig;
        rig.scriptMe(R"({"has_telegram":true,"has_apple":true,"has_google":true})");
        scriptIdentity(rig, m, Identity(identity));
        rig.service.script(FakeService::anyHost, "POST", linkPath(m),
                           {linkStatus == 200 ? loginReply() : FakeReply::json(linkStatus)});
        auto model = std::make_unique<SettingsModel>(rig.services());
        LogCapture log;

        model->linkTap(m);
        QVERIFY(m == LinkedAccount::Apple ? model->isLinkingApple() : model->isLinkingGoogle());
        QVERIFY(allDisabled(*model));
        if (identity == LeftOpen || identity == TokenAfterScreenGone)
            QTRY_VERIFY(rig.appleProvider->requests + rig.clock->pendingTimers() > 0);
        if (identity == LeftOpen)
            rig.clock->advance(SettingsRig::kGoogleBound);
        if (identity == TokenAfterScreenGone) {
            model.reset();
            m == LinkedAccount::Apple ? rig.appleProvider->answer(ScriptedAppleProvider::Token)
                                      : rig.browser.finish(ScriptedBrowser::Approves);
            QTRY_COMPARE(rig.requestsTo(u"/me"_s) + rig.sessionEnds, 1);
        } else {
            QTRY_VERIFY(!model->isLinkInProgress());
            QTEST(model->linkErrorText(), "linkError");
            QVERIFY(!allDisabled(*model));
            QCOMPARE(model->accountRows().at(m).connectedValue.has_value(), linkStatus == 200);
        }
        QStringList lines{u"link %1 tapped"_s.arg(name)};
        if (!failureLine.isEmpty())
            lines << u"link %1 failed: %2"_s.arg(name, failureLine);
        QCOMPARE(log.texts(u"Settings"_s), lines);
        QCOMPARE(rig.requestsTo(u"/me"_s), int(linkStatus == 200));
        QCOMPARE(rig.requestsTo(linkPath(m)), int(linkStatus != 0));
        QTRY_COMPARE(rig.tokens->token, linkStatus == 200 ? std::optional(kIssuedToken)
                                        : linkStatus == 401 ? std::nullopt : std::optional(kStoredToken));
        QCOMPARE(rig.sessionEnds, int(linkStatus == 401));
        QCOMPARE(APIError::kindOf(rig.auth.lastError()),
                 linkStatus == 401 ? std::optional(APIError::Kind::unauthorized) : std::nullopt);
        if (!model)
            return;
        // The next tap clears the text at once.
        scriptIdentity(rig, m, Cancelled);
        model->linkTap(m);
        QCOMPARE(model->linkErrorText(), QString());
        QTRY_VERIFY(!model->isLinkInProgress());
    }

    // The service links the identity but its session token cannot be saved: the screen
    // says what the keyring lacks, as the sign-in screen does, not "try later"; the log
    // gets the keyring's words once, and the stored session stays.
    void aLinkWhoseTokenCannotBeSaved_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("linkError");
        for (const auto method : {LinkedAccount::Apple, LinkedAccount::Google}) {
            const char *name = method == LinkedAccount::Apple ? "apple" : "google";
            QTest::addRow("%s: no Secret Service", name)
                << int(method) << int(KeychainError::Kind::noSecretService)
                << u"Не найдено хранилище паролей. Для входа нужно хранилище со службой Secret Service: GNOME Keyring, "
                   u"KWallet или KeePassXC. Запустите его и войдите снова."_s;
            QTest::addRow("%s: locked", name) << int(method) << int(KeychainError::Kind::refused)
                                              << u"Хранилище паролей заблокировано. Разблокируйте его и войдите снова."_s;
        }
    }
    void aLinkWhoseTokenCannotBeSaved()
    {
        QFETCH(int, method);
        QFETCH(int, kind);
        const auto m = LinkedAccount::Value(method);
        const QString name = m == LinkedAccount::Apple ? u"apple"_s : u"google"_s;
        SettingsRig rig;
        scriptIdentity(rig, m, Token);
        rig.service.script(FakeService::anyHost, "POST", linkPath(m), {loginReply()});
        const KeychainError failure(u"the keyring's own words"_s, KeychainError::Kind(kind));
        rig.tokens->saveFailure = failure;
        SettingsModel model(rig.services());
        LogCapture log;

        model.linkTap(m);
        QTRY_VERIFY(!model.isLinkInProgress());
        QTEST(model.linkErrorText(), "linkError");
        QCOMPARE(log.texts(u"Settings"_s),
                 (QStringList{u"link %1 tapped"_s.arg(name), u"link %1 failed: %2"_s.arg(name, failure.description())}));
        QCOMPARE(std::tuple(rig.requestsTo(u"/me"_s), rig.tokens->token, rig.sessionEnds),
                 std::tuple(0, std::optional(kStoredToken), 0));
        QVERIFY(!log.texts().join(u'|').contains(kIssuedToken));
    }

    // The bot's link of a started sign-in is opened once; a start that fails opens
    // nothing, also when an earlier sign-in (ended by the service) left its links behind.
    void telegram()
    {
        const auto session = [](const QString &nonce) {
            return FakeReply::json(200, uR"({"nonce":"%1","deep_link":"tg://resolve?domain=kovra_bot&start=%1",)"
                                        uR"("https_link":"https://t.me/kovra_bot?start=%1","expires_in_seconds":600})"_s
                                            .arg(nonce)
                                            .toUtf8());
        };
        const QString link = u"tg://resolve?domain=kovra_bot&start=%1"_s;
        SettingsRig rig;
        SettingsModel model(rig.services());
        rig.service.script(FakeService::anyHost, "POST", u"/auth/start_session"_s,
                           {session(u"n-1"_s), FakeReply::json(500), session(u"n-2"_s)});
        rig.service.script(FakeService::anyHost, "GET", u"/auth/poll/n-1"_s, {FakeReply::json(410)});
        rig.service.script(FakeService::anyHost, "GET", u"/auth/poll/n-2"_s, {FakeReply::json(202)});
        model.linkTap(LinkedAccount::Telegram);
        QTRY_COMPARE(rig.opener->asked.size(), 1);
        QTRY_COMPARE(rig.auth.statusKind(), AuthState::StatusKind::authenticated);
        QVERIFY(!rig.auth.pendingDeepLinkText().isEmpty());

        model.linkTap(LinkedAccount::Telegram);
        QTRY_COMPARE(rig.requestsTo(u"/auth/start_session"_s), 2);
        QTRY_COMPARE(APIError::kindOf(rig.auth.lastError()), std::optional(APIError::Kind::server));
        QCOMPARE(rig.opener->askedTexts(), QStringList{link.arg(u"n-1"_s)});

        model.linkTap(LinkedAccount::Telegram);
        QTRY_COMPARE(rig.auth.statusKind(), AuthState::StatusKind::linking);
        QVERIFY(allDisabled(model));
        QTRY_COMPARE(rig.opener->askedTexts(), (QStringList{link.arg(u"n-1"_s), link.arg(u"n-2"_s)}));
    }

    // Contact support opens the bot's deep link, or its web page when no application
    // takes the deep link; the checklist's button does the same. The privacy link
    // opens its page.
    void links_data()
    {
        QTest::addColumn<QStringList>("refused");
        QTest::addColumn<QStringList>("opened"); // contact support, then the privacy link
        const QString tg = u"tg://resolve?domain=kovra_help"_s, privacy = u"https://kovra.test/privacy"_s;
        QTest::newRow("telegram installed") << QStringList() << QStringList{tg, privacy};
        QTest::newRow("no tg handler") << QStringList{tg} << QStringList{tg, u"https://t.me/kovra_help"_s, privacy};
    }
    void links()
    {
        QFETCH(QStringList, refused);
        auto opener = std::make_shared<RecordingUrlOpener>(refused);
        AccountServices services;
        services.linkOpener = opener;
        services.links = {u"kovra_help"_s, QUrl(u"https://t.me/kovra_help"_s), QUrl(u"https://kovra.test/privacy"_s)};
        SettingsModel model(services);
        QMetaObject::invokeMethod(model.supportContact(), "open");
        const QStringList contacted = opener->askedTexts();
        model.openPrivacyPolicy();
        QTEST(opener->askedTexts(), "opened");
        opener->asked.clear();
        std::unique_ptr<SupportChecklistModel> checklist(model.makeSupportChecklist());
        QMetaObject::invokeMethod(checklist->supportContact(), "open");
        QCOMPARE(opener->askedTexts(), contacted);
    }

    // Every showing asks for the user record, which the rows follow.
    void eachShowingRefreshesTheRecord()
    {
        SettingsRig rig;
        rig.scriptMe(R"({"has_telegram":false,"has_apple":true,"apple_email":"a@x.ru"})");
        SettingsModel model(rig.services());
        model.setShown(true);
        QTRY_COMPARE(describe(model.accountRows()), u"+ | a@x.ru | +"_s);
        rig.scriptMe(R"({"has_telegram":true,"has_apple":true})");
        model.setShown(false);
        model.setShown(true);
        QTRY_COMPARE(describe(model.accountRows()), u"Подключён• | Подключён | +"_s);
        QCOMPARE(rig.requestsTo(u"/me"_s), 2);
    }
};

QTEST_GUILESS_MAIN(SettingsTest)
#include "itst_settings.moc"
