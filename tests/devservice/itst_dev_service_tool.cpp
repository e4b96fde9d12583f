// The development service's state across restarts.

#include <QDir>
#include <QFile>
#include <QTest>

#include "devservice/DevServiceRun.h"
#include "support/TestHome.h"

using namespace kovra;
using namespace kovra::test;
using namespace kovra::devservice;
using namespace std::chrono_literals;

namespace {

constexpr qint64 kDay = 24 * 3600;

} // namespace

class DevServiceToolTest : public QObject {
    Q_OBJECT

    TestHome m_home{TestHome::PathsOnly};

private Q_SLOTS:
    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

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

};

QTEST_GUILESS_MAIN(DevServiceToolTest)
#include "itst_dev_service_tool.moc"
