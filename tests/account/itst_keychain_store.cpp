#include "account/KeychainStore.h"
#include "platform/Keychain.h"
#include "platform/Log.h"

#include <QSemaphore>
#include <QTest>
#include <QThreadPool>
#include <QTimer>

#include "support/Await.h"
#include "support/TestHome.h"

using namespace kovra;
using namespace std::chrono_literals;

using OptionalText = std::optional<QString>;
Q_DECLARE_METATYPE(OptionalText)

namespace {
const QString kJwt = QStringLiteral("jwt");

QString serviceName()
{
    return test::uniqueName(QStringLiteral("kovra-test"));
}

std::optional<QByteArray> stored(const QString &service)
{
    return test::await(Keychain(service).read(kJwt));
}
} // namespace

class KeychainStoreTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void storedBytesReadAsToken_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<OptionalText>("expected");
        QTest::newRow("utf-8 text") << QStringLiteral("токен-✓").toUtf8() << OptionalText(u"токен-✓"_qs);
        // Stored secrets are binary: an embedded NUL and high bytes survive the keyring.
        QTest::newRow("binary, invalid utf-8") << QByteArray("a\0b\xff\xfe tok\xc3", 10) << OptionalText();
        QTest::newRow("truncated sequence") << QByteArray("abc\xe2\x82") << OptionalText();
    }
    void storedBytesReadAsToken()
    {
        QFETCH(QByteArray, stored);
        QFETCH(OptionalText, expected);
        const QString service = serviceName();
        Keychain raw(service);
        test::await(raw.write(kJwt, stored));
        QCOMPARE(test::await(raw.read(kJwt)), std::optional<QByteArray>(stored));
        QCOMPARE(test::await(KeychainStore(service).currentJWT()), expected);
        QVERIFY(test::await(raw.remove(kJwt)));
    }

    void instancesShareTheTokenThroughTheKeyring()
    {
        const QString service = serviceName();
        KeychainStore first(service), second(service);

        QCOMPARE(test::await(first.currentJWT()), OptionalText());
        test::await(first.saveJWT(QStringLiteral("token-a")));
        QCOMPARE(test::await(second.currentJWT()), OptionalText(u"token-a"_qs));
        QCOMPARE(test::await(KeychainStore(serviceName()).currentJWT()), OptionalText()); // another service sees nothing

        test::await(second.saveJWT(QStringLiteral("token-b")));
        QCOMPARE(test::await(first.currentJWT()), OptionalText(u"token-b"_qs));

        test::await(first.deleteJWT());
        QCOMPARE(test::await(second.currentJWT()), OptionalText());
        test::await(second.deleteJWT()); // already absent: ignored
        QCOMPARE(test::await(Keychain(service).remove(kJwt)), false);
    }

    // Every call ends within its bound, without the secret in any log line: a read gives
    // no token, a write or removal throws and leaves the item as it was.
    void callsAreBounded_data()
    {
        QTest::addColumn<QString>("call");
        QTest::addColumn<QString>("error"); // empty: none thrown
        QTest::addColumn<QStringList>("logged");
        QTest::newRow("read") << "read" << QString()
                              << QStringList{"keychain read timed out after 0 ms (service %1, account jwt)"};
        QTest::newRow("write") << "write" << "keychain write timed out after 0 ms" << QStringList();
        QTest::newRow("remove") << "remove" << "keychain remove timed out after 0 ms" << QStringList();
    }
    void callsAreBounded()
    {
        QFETCH(QString, call);
        QFETCH(QString, error);
        QFETCH(QStringList, logged);
        const QString service = serviceName();
        const QByteArray secret = "secret-token-value";
        test::await(Keychain(service).write(kJwt, secret));
        const Keychain stalled(service, 0ms);

        LogCapture capture;
        QString thrown;
        try {
            if (call == u"read")
                QCOMPARE(test::await(stalled.read(kJwt)), std::nullopt);
            else if (call == u"write")
                test::await(stalled.write(kJwt, "other"));
            else
                test::await(stalled.remove(kJwt));
        } catch (const KeychainError &e) {
            thrown = e.description();
        }
        QCOMPARE(thrown, error);
        QCOMPARE(capture.texts(QStringLiteral("Keychain")), logged.replaceInStrings(u"%1"_qs, service));
        QCOMPARE(stored(service), std::optional<QByteArray>(secret));
        test::await(Keychain(service).remove(kJwt));
    }

    // The keyring is reached off the GUI thread: while it is busy the event loop runs on.
    void guiThreadRunsWhileTheKeyringIsBusy()
    {
        const QString service = serviceName();
        test::await(KeychainStore(service).saveJWT(QStringLiteral("token-c")));
        QThreadPool workers;
        workers.setMaxThreadCount(1);
        QSemaphore release;
        workers.start([&release] { release.acquire(); }); // the only worker is busy

        test::Pending<OptionalText> read(KeychainStore(service, Keychain::kDefaultTimeout, &workers).currentJWT());
        bool ticked = false;
        QTimer::singleShot(0, [&ticked] { ticked = true; });
        QTRY_VERIFY(ticked);
        QVERIFY(!read.isDone());
        release.release();
        QCOMPARE(read.result(), OptionalText(u"token-c"_qs));
        test::await(KeychainStore(service).deleteJWT());
    }
};

QTEST_GUILESS_MAIN(KeychainStoreTest)
#include "itst_keychain_store.moc"
