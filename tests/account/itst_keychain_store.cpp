#include "account/KeychainStore.h"
#include "platform/Keychain.h"
#include "platform/Log.h"

#include <QTest>

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
        raw.write(kJwt, stored);
        QCOMPARE(raw.read(kJwt), std::optional<QByteArray>(stored));
        QCOMPARE(KeychainStore(service).currentJWT(), expected);
        raw.remove(kJwt);
    }

    void instancesShareTheTokenThroughTheKeyring()
    {
        const QString service = serviceName();
        KeychainStore first(service), second(service);

        QCOMPARE(first.currentJWT(), OptionalText());
        first.saveJWT(QStringLiteral("token-a"));
        QCOMPARE(second.currentJWT(), OptionalText(u"token-a"_qs));
        QCOMPARE(KeychainStore(serviceName()).currentJWT(), OptionalText()); // another service sees nothing

        second.saveJWT(QStringLiteral("token-b"));
        QCOMPARE(first.currentJWT(), OptionalText(u"token-b"_qs));

        first.deleteJWT();
        QCOMPARE(second.currentJWT(), OptionalText());
        second.deleteJWT(); // already absent: ignored
        QCOMPARE(Keychain(service).remove(kJwt), false);
        QCOMPARE(first.currentJWT(), OptionalText());
    }

    // A read that outlives its time-out gives no token; the log line never carries it.
    void readThatTimesOutGivesNoTokenAndLogsWithoutIt()
    {
        const QString service = serviceName();
        const QString secret = QStringLiteral("secret-token-value");
        KeychainStore(service).saveJWT(secret);

        LogCapture capture;
        QCOMPARE(KeychainStore(service, 0ms).currentJWT(), OptionalText());
        const QStringList lines = capture.texts(QStringLiteral("Keychain"));
        QCOMPARE(lines.size(), 1);
        QVERIFY(lines.first().contains(u"timed out"_qs));
        QVERIFY(!lines.first().contains(secret));

        capture.clear();
        QCOMPARE(KeychainStore(service).currentJWT(), OptionalText(secret));
        QVERIFY(capture.texts(QStringLiteral("Keychain")).isEmpty());
        KeychainStore(service).deleteJWT();
    }
};

QTEST_GUILESS_MAIN(KeychainStoreTest)
#include "itst_keychain_store.moc"
