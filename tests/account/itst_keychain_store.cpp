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
enum Step { Read, ReadTimesOut, Save, SaveFails, Delete };

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

    // Every call ends within its bound, as a time-out, and leaves the item as it was.
    // The keychain logs nothing; the store logs a read or a removal that fails (it goes
    // no further) once, with the keyring's words, and throws a failed save unlogged
    // (its caller reports it). The secret reaches no log line.
    void callsAreBounded()
    {
        const QString service = serviceName();
        const QByteArray secret = "secret-token-value";
        test::await(Keychain(service).write(kJwt, secret));
        const Keychain stalled(service, 0ms, nullptr, 0ms);
        KeychainStore stalledStore(service, 0ms, nullptr, 0ms);

        LogCapture capture;
        QStringList thrown;
        const auto failure = [&thrown](auto task) {
            try {
                test::await(std::move(task));
            } catch (const KeychainError &e) {
                thrown << e.description() + (e.kind() == KeychainError::Kind::timedOut ? u" (timedOut)"_qs : u""_qs);
            }
        };
        failure(stalled.read(kJwt));
        failure(stalled.write(kJwt, "other"));
        failure(stalled.remove(kJwt));
        QCOMPARE(capture.texts(), QStringList());
        QCOMPARE(test::await(stalledStore.currentJWT()), OptionalText());
        test::await(stalledStore.deleteJWT());
        failure(stalledStore.saveJWT(u"other"_qs));
        QCOMPARE(thrown, (QStringList{u"keychain read timed out after 0 ms (timedOut)"_qs,
                                      u"keychain write timed out after 0 ms (timedOut)"_qs,
                                      u"keychain remove timed out after 0 ms (timedOut)"_qs,
                                      u"keychain write timed out after 0 ms (timedOut)"_qs}));
        const QString line = u"%1 the session token failed (keychain service %2): keychain %3 timed out after 0 ms"_qs;
        QCOMPARE(capture.texts(u"KeychainStore"_qs),
                 (QStringList{line.arg(u"reading"_qs, service, u"read"_qs), line.arg(u"removing"_qs, service, u"remove"_qs)}));
        QCOMPARE(capture.texts().size(), 2);
        QVERIFY(!capture.texts().join(u'|').contains(QString::fromLatin1(secret)));
        QCOMPARE(stored(service), std::optional<QByteArray>(secret));

        // A write or a removal may wait for the user to unlock the keyring: the read's
        // bound does not cut it short.
        const Keychain quickReads(service, 0ms);
        test::await(quickReads.write(kJwt, "answered"));
        QCOMPARE(stored(service), std::optional<QByteArray>("answered"));
        QVERIFY(test::await(quickReads.remove(kJwt)));
    }

    // The keyring is reached off the GUI thread: while it is busy the event loop runs on.
    void guiThreadRunsWhileTheKeyringIsBusy()
    {
        const QString service = serviceName();
        test::await(Keychain(service).write(kJwt, u"токен-✓"_qs.toUtf8()));
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

    // Once read, the token stays in memory for every store over the service and follows
    // what the stores write; a read or a write that fails leaves nothing remembered.
    void tokenIsReadOnceThenFollowsWrites_data()
    {
        QTest::addColumn<QList<int>>("steps");
        QTest::addColumn<OptionalText>("expected");
        QTest::newRow("read") << QList<int>{Read} << OptionalText(u"old"_qs);
        QTest::newRow("save") << QList<int>{Read, Save} << OptionalText(u"new"_qs);
        QTest::newRow("delete") << QList<int>{Read, Delete} << OptionalText();
        QTest::newRow("failed save") << QList<int>{Read, SaveFails} << OptionalText(u"old"_qs);
        QTest::newRow("timed-out read") << QList<int>{ReadTimesOut} << OptionalText(u"old"_qs);
    }

    void tokenIsReadOnceThenFollowsWrites()
    {
        QFETCH(QList<int>, steps);
        QFETCH(OptionalText, expected);
        const QString service = serviceName();
        test::await(Keychain(service).write(kJwt, "old"));
        for (const int step : steps) {
            switch (Step(step)) {
            case Read:
                QCOMPARE(test::await(KeychainStore(service).currentJWT()), OptionalText(u"old"_qs));
                break;
            case ReadTimesOut:
                QCOMPARE(test::await(KeychainStore(service, 0ms).currentJWT()), OptionalText());
                break;
            case Save:
                test::await(KeychainStore(service).saveJWT(u"new"_qs));
                break;
            case SaveFails:
                QVERIFY_THROWS_EXCEPTION(KeychainError,
                                         test::await(KeychainStore(service, 0ms, nullptr, 0ms).saveJWT(u"new"_qs)));
                break;
            case Delete:
                test::await(KeychainStore(service).deleteJWT());
                break;
            }
        }
        QCOMPARE(test::await(KeychainStore(service).currentJWT()), expected);

        // From here on a read answers without the keyring: its only worker is busy.
        QThreadPool workers;
        workers.setMaxThreadCount(1);
        QSemaphore release;
        workers.start([&release] { release.acquire(); });
        test::Pending<OptionalText> read(KeychainStore(service, Keychain::kDefaultTimeout, &workers).currentJWT());
        const bool fromMemory = read.isDone();
        release.release();
        QVERIFY(fromMemory);
        QCOMPARE(read.result(), expected);
        test::await(Keychain(service).remove(kJwt));
    }
};

QTEST_GUILESS_MAIN(KeychainStoreTest)
#include "itst_keychain_store.moc"
