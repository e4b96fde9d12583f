// The development service's own rules, its stand-in pages and its command.

#include "connectivity/AppReachabilityProbe.h"
#include "diagnostics/ConnectivityProbe.h"
#include "diagnostics/RawProbes.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include "devservice/DevServiceRun.h"
#include "support/TestHome.h"

using namespace kovra;
using namespace kovra::test;
using namespace kovra::devservice;
using namespace std::chrono_literals;

namespace {

constexpr qint64 kDay = 24 * 3600;

QUrl rootOf(const QUrl &base)
{
    QUrl root = base;
    root.setPath(QString());
    return root;
}

QString optionsSummary(const DevServiceOptions &o)
{
    QStringList ports;
    for (quint16 p : o.ports)
        ports << QString::number(p);
    QStringList hosts;
    for (int h : o.downHosts)
        hosts << QStringLiteral("%1=down").arg(h);
    for (auto it = o.hostDelays.begin(); it != o.hostDelays.end(); ++it)
        hosts << QStringLiteral("%1=delay:%2").arg(it.key()).arg(it.value().count());
    hosts.sort();
    const auto optional = [](const auto &v) { return v ? QString::number(qint64(*v)) : QStringLiteral("-"); };
    return QStringLiteral("ports=%1 confirm=%2 plan=%3 pay=%4 wake=%5/%6 session=%7 cut=%8 fail=%9 hosts=%10")
        .arg(ports.join(u','))
        .arg(o.confirmAfter)
        .arg(optional(o.subscription))
        .arg(o.payAfter.count())
        .arg(o.wakeAfter.count())
        .arg(o.wakeStoppedFor.count())
        .arg(o.sessionLifetime.count())
        .arg(optional(o.echoCutAt))
        .arg(int(o.probesFail))
        .arg(hosts.join(u','));
}

} // namespace

class DevServiceToolTest : public QObject {
    Q_OBJECT

    TestHome m_home{TestHome::PathsOnly};

private Q_SLOTS:
    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    void options_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("expected"); // the options read, or "error"
        const QString error = QStringLiteral("error");
        QTest::newRow("every option")
            << QStringList{"--ports", "8001,8002,0", "--confirm-after", "0", "--subscription", "exhausted", "--pay-after", "1.5",
                           "--wake-seconds", "5", "--session-seconds", "2", "--echo-cut-at", "30000", "--probes-fail",
                           "--host", "1=down", "--host", "3=delay:250", "--state", "s.json", "--write-targets", "t.json"}
            << "ports=8001,8002,0 confirm=0 plan=2 pay=1500 wake=5000/1000 session=2000 cut=30000 fail=1 hosts=0=down,2=delay:250";
        QTest::newRow("the trial, the rest by default")
            << QStringList{"--subscription", "trial"}
            << "ports= confirm=3 plan=4 pay=10000 wake=30000/2000 session=300000 cut=- fail=0 hosts=";
        QTest::newRow("two ports") << QStringList{"--ports", "8001,8002"} << error;
        QTest::newRow("a port twice") << QStringList{"--ports", "8001,8001,0"} << error;
        QTest::newRow("unknown plan") << QStringList{"--subscription", "gold"} << error;
        QTest::newRow("negative seconds") << QStringList{"--pay-after", "-1"} << error;
        QTest::newRow("infinite seconds") << QStringList{"--wake-seconds", "inf"} << error;
        QTest::newRow("cut beyond the echo bound") << QStringList{"--echo-cut-at", "99999999999"} << error;
        QTest::newRow("fourth host") << QStringList{"--host", "4=down"} << error;
        QTest::newRow("host named twice") << QStringList{"--host", "1=down", "--host", "1=delay:5"} << error;
        QTest::newRow("unknown knob") << QStringList{"--host", "2=slow"} << error;
    }

    void options()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, expected);
        QCommandLineParser parser;
        addDevServiceOptions(parser);
        QVERIFY(parser.parse(QStringList{QStringLiteral("kovra-dev-service")} + arguments));
        QString error;
        const auto options = devServiceOptions(parser, &error);
        QCOMPARE(options ? optionsSummary(*options) : QStringLiteral("error"), expected);
        QCOMPARE(error.isEmpty(), bool(options));
    }

    void requests_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path"); // from the host's root; "<nonce>": the sign-in's
        QTest::addColumn<QString>("token"); // "valid", "forged" or none
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        const QString valid = QStringLiteral("valid");
        QTest::newRow("unknown route") << QByteArray("GET") << "/api/nowhere" << "" << QByteArray() << 404;
        QTest::newRow("wrong method") << QByteArray("GET") << "/api/auth/start_session" << "" << QByteArray() << 405;
        QTest::newRow("no token") << QByteArray("GET") << "/api/me" << "" << QByteArray() << 401;
        QTest::newRow("unknown plan") << QByteArray("POST") << "/api/payment/stars/invoice" << valid << QByteArray(R"({"plan_id":"month_7"})") << 404;
        QTest::newRow("body not JSON") << QByteArray("POST") << "/api/auth/google" << "" << QByteArray("id_token=x") << 422;
        QTest::newRow("poll: used nonce") << QByteArray("GET") << "/api/auth/poll/<nonce>" << "" << QByteArray() << 410;
        QTest::newRow("poll: unknown nonce") << QByteArray("GET") << "/api/auth/poll/never-issued" << "" << QByteArray() << 410;
        QTest::newRow("region not on demand") << QByteArray("POST") << "/api/regions/nl/wake" << valid << QByteArray() << 409;
        QTest::newRow("unknown region") << QByteArray("POST") << "/api/regions/mars/wake" << valid << QByteArray() << 404;
        QTest::newRow("upload: report not text") << QByteArray("POST") << "/api/diag" << "" << QByteArray(R"({"logs":5})") << 422;
        QTest::newRow("upload too large") << QByteArray("POST") << "/api/diag" << ""
                                          << QByteArray(R"({"logs":")") + QByteArray(1024 * 1024, 'x') + "\"}" << 413;
        QTest::newRow("echo: negative") << QByteArray("GET") << "/api/diag/echo?bytes=-1" << "" << QByteArray() << 400;
        QTest::newRow("echo: beyond the bound") << QByteArray("GET") << "/api/diag/echo?bytes=16777217" << "" << QByteArray() << 400;
        QTest::newRow("configuration: wrong key") << QByteArray("GET") << "/api/sub/not-the-key" << "" << QByteArray() << 404;
        QTest::newRow("HEAD of an API page") << QByteArray("HEAD") << "/api/client/version" << "" << QByteArray() << 200;
    }

    void requests()
    {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(QString, token);
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        DevServiceRun run(optionsWith([&](auto &o) { o.confirmAfter = 0; }));
        QVERIFY2(run.started, qPrintable(run.error));
        QString nonce;
        const QString issued = signIn(run.base(), 0, &nonce);
        const QString sent = token == u"valid" ? issued : token;
        QCOMPARE(fetch(rootOf(run.base()), method, QString(path).replace(QStringLiteral("<nonce>"), nonce), sent, body).statusCode, status);
    }

    void hostKnobs()
    {
        DevServiceRun run(optionsWith([](auto &o) { o.downHosts = {0}; o.hostDelays = {{1, 300ms}}; }));
        QVERIFY2(run.started, qPrintable(run.error));
        try {
            fetch(run.base(0), "GET", QStringLiteral("/client/version"));
            QFAIL("a host that is down answered");
        } catch (const URLError &e) {
            QCOMPARE(e.code(), URLError::CannotConnectToHost);
        }
        Pending<HttpResponse> late(sendTo(run.base(1), "GET", QStringLiteral("/client/version")));
        QTRY_COMPARE(run.clock->pendingTimers(), 1);
        QCOMPARE(fetch(run.base(2), "GET", QStringLiteral("/client/version")).statusCode, 200);
        run.clock->advance(299ms);
        QVERIFY(!late.isDone());
        run.clock->advance(1ms);
        QCOMPARE(late.result().statusCode, 200);
        // The stand-in pages are named on the first host that is up.
        QVERIFY(run.service->targets().value("control_plane").toObject().value("check_url").toString().contains(
            QString::number(run.base(1).port())));
    }

    // The client's own probes and diagnostics against the targets file.
    void targets()
    {
        const QString targetsPath = m_home.path() + QStringLiteral("/targets.json");
        DevServiceRun run(optionsWith([&](auto &o) { o.targetsPath = targetsPath; }));
        QVERIFY2(run.started, qPrintable(run.error));
        QFile file(targetsPath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject targets = QJsonDocument::fromJson(file.readAll()).object();
        QCOMPARE(targets, run.service->targets());
        QCOMPARE(targets.value("base_urls").toArray().size(), 3);

        DevServiceRun failingRun(optionsWith([&](auto &o) { o.probesFail = true; }));
        for (const auto &[source, reachable] : {std::pair<const QJsonObject *, int>{&targets, 5}, {nullptr, 0}}) {
            const QJsonObject used = source ? *source : failingRun.service->targets();
            AppReachabilityProbe::Options probeOptions;
            probeOptions.services.clear();
            for (const QJsonValue &v : used.value("reachability").toArray()) {
                const auto product = std::find_if(productReachabilityServices().begin(), productReachabilityServices().end(),
                                                  [&](const auto &s) { return s.name == v["name"].toString(); });
                QVERIFY(product != productReachabilityServices().end());
                probeOptions.services.append({product->name, v["url"].toString(), product->isApp, product->isGating});
            }
            QCOMPARE(probeOptions.services.size(), productReachabilityServices().size());
            const ReachabilitySnapshot snapshot = await(AppReachabilityProbe(probeOptions).probe());
            QCOMPARE(snapshot.reachableCount(), reachable);
        }

        const QJsonObject selfTest = targets.value("self_test").toObject();
        ConnectivityProbeOptions probe;
        probe.targets = {selfTest["resolver_address"].toString(), quint16(selfTest["resolver_port"].toInt()),
                         selfTest["first_name"].toString(),       selfTest["second_name"].toString(),
                         selfTest["trace_url"].toString(),        selfTest["check_url"].toString(),
                         selfTest["check_label"].toString()};
        const ConnectivityReport report = await(ConnectivityProbe::run(
            std::nullopt, AppGroupContainer(m_home.paths(), QStringLiteral("group.test")), QDateTime::currentDateTimeUtc(), probe));
        QCOMPARE(report.classification, ConnectivityClassification::allOk);
        QCOMPARE(report.exitIP, std::optional<QString>(QStringLiteral("203.0.113.45")));
        QCOMPARE(report.exitLoc, std::optional<QString>(QStringLiteral("NL")));

        const QJsonObject runner = targets.value("diagnostics_run").toObject();
        const QString separator = QStringLiteral(" — ");
        QCOMPARE(await(RawProbes::https(runner["exit_ip_url"].toString(), true, 64, separator, 4.0)).detail,
                 QStringLiteral("HTTP 200 — 203.0.113.45"));
        for (const QString &key : {QStringLiteral("ip_url"), QStringLiteral("test_domain_url")})
            QVERIFY(await(RawProbes::https(runner[key].toString(), false, 64, separator, 4.0)).ok);
        QVERIFY(await(RawProbes::tcp(runner["entry_host"].toString(), runner["entry_port"].toInt(), 4.0)).ok);
        QVERIFY(await(RawProbes::dns(runner["resolve_name"].toString(), 4.0)).ok);
        QCOMPARE(await(RawProbes::https(targets.value("control_plane").toObject().value("check_url").toString(), false, 0, {}, 4.0)).detail,
                 QStringLiteral("HTTP 204"));
    }

    // The state survives a restart without holding a token or a nonce; a file that is
    // not a state is set aside.
    void state()
    {
        DevServiceOptions options;
        options.confirmAfter = 0;
        options.statePath = m_home.path() + QStringLiteral("/dev-state.json");
        QString token;
        QString nonce;
        {
            DevServiceRun first(options);
            QVERIFY2(first.started, qPrintable(first.error));
            token = signIn(first.base(), 0, &nonce);
            QCOMPARE(fetch(first.base(), "POST", QStringLiteral("/payment/stars/invoice"), token, R"({"plan_id":"month_1"})").statusCode, 200);
            QCOMPARE(fetch(first.base(), "POST", QStringLiteral("/regions/us-aws/wake"), token).statusCode, 200);
        }
        QFile file(options.statePath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray stored = file.readAll();
        file.close();
        QVERIFY(!stored.contains(token.toUtf8()) && !stored.contains(nonce.toUtf8()));

        {
            DevServiceRun second(options);
            QVERIFY2(second.started, qPrintable(second.error));
            QCOMPARE(objectOf(fetch(second.base(), "GET", QStringLiteral("/me"), token)).value("has_telegram"), QJsonValue(true));
            second.clock->advance(30s);
            const QJsonObject sub = objectOf(fetch(second.base(), "GET", QStringLiteral("/me/subscription"), token));
            // The new account's 7-day trial, then the month paid for.
            QCOMPARE(qint64(sub.value("expire_unix").toDouble()) - second.clock->now().toSecsSinceEpoch() + 30, 37 * kDay);
            // The wake asked for before the restart has run its course.
            QCOMPARE(fetch(second.base(), "POST", QStringLiteral("/regions/us-aws/wake"), token).body, QByteArray(R"({"status":"online"})"));
            const QString secondNonce = objectOf(fetch(second.base(), "POST", QStringLiteral("/auth/start_session"))).value("nonce").toString();
            QCOMPARE(objectOf(fetch(second.base(), "GET", QStringLiteral("/auth/poll/") + secondNonce)).value("is_new"), QJsonValue(false));
        }

        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("{\"user\": 3");
        file.close();
        DevServiceRun third(options);
        QVERIFY2(third.started, qPrintable(third.error));
        QCOMPARE(fetch(third.base(), "GET", QStringLiteral("/me"), token).statusCode, 401);
        QCOMPARE(QDir(m_home.path()).entryList({QStringLiteral("dev-state.json.corrupt-*")}).size(), 1);
        // A state that cannot be written stops the start rather than being lost.
        options.statePath += QStringLiteral("/below-a-file.json");
        QVERIFY(!DevServiceRun(options).started);
    }

    // One line per request with the method, the path and the status; secrets masked.
    void logLines()
    {
        LogCapture log;
        DevServiceRun run(optionsWith([&](auto &o) { o.confirmAfter = 1; }));
        QVERIFY2(run.started, qPrintable(run.error));
        QString nonce;
        const QString token = signIn(run.base(), 1, &nonce);
        const QUrl url(objectOf(fetch(run.base(), "GET", QStringLiteral("/me/subscription"), token)).value("subscription_url").toString());
        fetch(rootOf(run.base()), "GET", url.path() + QStringLiteral("/sing_box?entry=ru-1"));
        fetch(run.base(1), "GET", QStringLiteral("/auth/pol/") + nonce);
        fetch(run.base(2), "GET", QStringLiteral("/me"), QStringLiteral("forged-") + token);
        QCOMPARE(log.texts(QStringLiteral("DevService")),
                 (QStringList{"POST /api/auth/start_session 200 (host 1)", "GET /api/auth/poll/*** 202 (host 1)",
                              "GET /api/auth/poll/*** 200 (host 1)", "GET /api/me/subscription 200 (host 1)",
                              "GET /api/sub/***/sing_box 200 (host 1)", "GET /api/auth/pol/*** 404 (host 2)",
                              "GET /api/me 401 (host 3)"}));
        const QString key = url.path().section(u'/', 3, 3);
        for (const LogLine &line : log.lines()) {
            for (const QString &secret : {token, nonce, key})
                QVERIFY2(!line.text.contains(secret), qPrintable(line.category));
        }
    }

    void command_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("runs until SIGTERM") << QStringList{"--host", "2=down", "--confirm-after", "0"} << 0;
        QTest::newRow("bad option") << QStringList{"--subscription", "gold"} << 2;
    }

    void command()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QProcess process;
        process.start(qEnvironmentVariable("KOVRA_TOOLS_DIR") + QStringLiteral("/dev-service/kovra-dev-service"), arguments);
        QVERIFY(process.waitForStarted());
        QStringList secrets;
        if (exitCode == 0) {
            QTRY_VERIFY_WITH_TIMEOUT(process.canReadLine(), 20'000);
            const QString line = QString::fromUtf8(process.readLine()).trimmed();
            const auto match = QRegularExpression(QStringLiteral("^base-urls: (http://127\\.0\\.0\\.1:\\d+/api),"
                                                                 "http://127\\.0\\.0\\.1:\\d+/api,http://127\\.0\\.0\\.1:\\d+/api$"))
                                   .match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line));
            QString nonce;
            secrets << signIn(QUrl(match.captured(1)), 0, &nonce) << nonce;
            QVERIFY(!secrets.first().isEmpty());
            process.terminate();
        }
        QVERIFY(process.waitForFinished(20'000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), exitCode);
        const QByteArray output = process.readAll() + process.readAllStandardError();
        QVERIFY(output.contains(exitCode == 0 ? "POST /api/auth/start_session 200" : "invalid --subscription"));
        for (const QString &secret : secrets)
            QVERIFY(!output.contains(secret.toUtf8()));
    }
};

QTEST_GUILESS_MAIN(DevServiceToolTest)
#include "itst_dev_service_tool.moc"
