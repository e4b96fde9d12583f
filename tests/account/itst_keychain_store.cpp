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

namespace {
const QString kJwt = QStringLiteral("jwt");

QString serviceName() { return test::uniqueName(QStringLiteral("kovra-test")); }
std::optional<QByteArray> stored(const QString &service) { return test::await(Keychain(service).read(kJwt)); }
} // namespace

class KeychainStoreTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Stored secrets are binary: an embedded NUL and high bytes survive the keyring,
    // and bytes that are no UTF-8 read as no token.
    void bytesThatAreNoTextReadAsNoToken()
    {
        const QString service = serviceName();
        const QByteArray bytes("a\0b\xff\xfe tok\xc3", 10);
        test::await(Keychain(service).write(kJwt, bytes));
        QCOMPARE(stored(service), std::optional<QByteArray>(bytes));
        QCOMPARE(test::await(KeychainStore(service).currentJWT()), OptionalText());
        QVERIFY(test::await(Keychain(service).remove(kJwt)));
    }

    // Every call ends within its bound, without the secret in any log line: a read gives
    // no token, a write or removal throws and leaves the item as it was.
    void callsAreBounded()
    {
        const QString service = serviceName();
        const QByteArray secret = "secret-token-value";
        test::await(Keychain(service).write(kJwt, secret));
        const Keychain stalled(service, 0ms);

        LogCapture capture;
        QCOMPARE(test::await(stalled.read(kJwt)), std::nullopt);
        QVERIFY_THROWS_EXCEPTION(KeychainError, test::await(stalled.write(kJwt, "other")));
        QVERIFY_THROWS_EXCEPTION(KeychainError, test::await(stalled.remove(kJwt)));
        QCOMPARE(capture.texts(QStringLiteral("Keychain")),
                 QStringList{u"keychain read timed out after 0 ms (service %1, account jwt)"_qs.arg(service)});
        QCOMPARE(stored(service), std::optional<QByteArray>(secret));
        test::await(Keychain(service).remove(kJwt));
    }

    // The keyring is reached off the GUI thread: while it is busy the event loop runs on.
    void guiThreadRunsWhileTheKeyringIsBusy()
    {
        const QString service = serviceName();
        test::await(KeychainStore(service).saveJWT(u"токен-✓"_qs));
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
        QCOMPARE(read.result(), OptionalText(u"токен-✓"_qs));
        KeychainStore other(service);
        test::await(other.deleteJWT());
        test::await(other.deleteJWT()); // already absent: ignored
        QCOMPARE(test::await(KeychainStore(service).currentJWT()), OptionalText());
    }
};

QTEST_GUILESS_MAIN(KeychainStoreTest)
#include "itst_keychain_store.moc"
