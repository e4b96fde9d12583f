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
        QTest::newRow("ascii token") << QByteArray("eyJhbGciOiJIUzI1NiJ9.e30.sig") << OptionalText(u"eyJhbGciOiJIUzI1NiJ9.e30.sig"_qs);
        QTest::newRow("utf-8 text") << QStringLiteral("токен-✓").toUtf8() << OptionalText(u"токен-✓"_qs);
        QTest::newRow("empty") << QByteArray("") << OptionalText(QString());
        QTest::newRow("invalid utf-8") << QByteArray("\xff\xfe tok\xc3") << OptionalText();
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

    void rawBytesRoundTrip()
    {
        // Secrets are binary: an embedded NUL and high bytes survive.
        const QByteArray bytes("a\0b\xff\x01", 5);
        Keychain raw(serviceName());
        raw.write(QStringLiteral("blob"), bytes);
        QCOMPARE(raw.read(QStringLiteral("blob")), std::optional<QByteArray>(bytes));
        QCOMPARE(raw.read(QStringLiteral("other")), std::optional<QByteArray>());
        QVERIFY(raw.remove(QStringLiteral("blob")));
    }

    void instancesShareTheTokenThroughTheKeyring()
    {
        const QString service = serviceName();
        KeychainStore first(service), second(service), elsewhere(serviceName());

        QCOMPARE(first.currentJWT(), OptionalText());
        first.saveJWT(QStringLiteral("token-a"));
        QCOMPARE(second.currentJWT(), OptionalText(u"token-a"_qs));
        QCOMPARE(elsewhere.currentJWT(), OptionalText());

        second.saveJWT(QStringLiteral("token-b"));
        QCOMPARE(first.currentJWT(), OptionalText(u"token-b"_qs));
        QCOMPARE(KeychainStore(service).currentJWT(), OptionalText(u"token-b"_qs));

        first.deleteJWT();
        QCOMPARE(second.currentJWT(), OptionalText());
        second.deleteJWT(); // already absent: ignored
        QCOMPARE(Keychain(service).remove(kJwt), false);
        QCOMPARE(first.currentJWT(), OptionalText());
    }

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
