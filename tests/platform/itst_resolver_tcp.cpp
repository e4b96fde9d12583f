#include "platform/Resolver.h"
#include "platform/TcpConnection.h"

#include <QFutureWatcher>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <QThreadPool>

#include <netdb.h>

using namespace kovra;

Q_DECLARE_METATYPE(kovra::TcpConnection::State)

namespace {

// A resolver whose look-ups answer with fixed addresses or a fixed error.
std::shared_ptr<Resolver> scriptedResolver(QStringList addresses, int code = 0)
{
    return std::make_shared<Resolver>([addresses, code](const QString &) {
        AddressLookup result;
        result.code = code;
        result.message = code ? QStringLiteral("scripted failure") : QString();
        result.addresses = code ? QStringList() : addresses;
        return result;
    });
}

} // namespace

class ResolverTcpTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void systemLookup_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("code");
        QTest::addColumn<QStringList>("addresses");
        QTest::newRow("IPv4 literal") << "127.0.0.1" << 0 << QStringList{"127.0.0.1"};
        QTest::newRow("IPv6 literal") << "::1" << 0 << QStringList{"::1"};
        QTest::newRow("empty name") << "" << int(EAI_NONAME) << QStringList();
        QTest::newRow("zero byte inside") << QStringLiteral("127.0.0.1\u0000x") << int(EAI_NONAME) << QStringList();
    }
    void systemLookup()
    {
        QFETCH(QString, host);
        QFETCH(int, code);
        QFETCH(QStringList, addresses);
        const AddressLookup result = Resolver::systemLookup(host);
        QCOMPARE(result.code, code);
        QCOMPARE(result.addresses, addresses);
        QCOMPARE(result.message.isEmpty(), code == 0);
    }

    // A look-up that hangs holds a thread of the resolver's own: the caller goes on, the
    // global pool stays idle, and other look-ups still finish.
    void hangingLookupBlocksNobody()
    {
        QSemaphore release;
        QThread *lookupThread = nullptr;
        QThread *const gui = QThread::currentThread();
        {
            Resolver resolver([&](const QString &host) {
                lookupThread = QThread::currentThread();
                if (host == QLatin1String("hang"))
                    release.tryAcquire(1, 20000);
                return AddressLookup{0, {}, {host}};
            });
            const QFuture<AddressLookup> hanging = resolver.resolve(QStringLiteral("hang"));
            QFutureWatcher<AddressLookup> watcher;
            watcher.setFuture(resolver.resolve(QStringLiteral("other")));
            QTRY_VERIFY(watcher.isFinished());
            QCOMPARE(watcher.result().addresses, QStringList{"other"});
            QVERIFY(!hanging.isFinished());
            QCOMPARE(QThreadPool::globalInstance()->activeThreadCount(), 0);
            release.release();
        }
        QVERIFY(lookupThread && lookupThread != gui);
    }

    void connection_data()
    {
        QTest::addColumn<QString>("host");       // "listening", "closed", or a name for the resolver
        QTest::addColumn<QStringList>("lookup"); // what the resolver answers for a name
        QTest::addColumn<int>("lookupCode");
        QTest::addColumn<TcpConnection::State>("state");
        QTest::addColumn<QString>("error");
        using S = TcpConnection::State;
        QTest::newRow("listening address") << "listening" << QStringList() << 0 << S::ready << "";
        QTest::newRow("refused address waits") << "closed" << QStringList() << 0 << S::waiting << "Connection refused";
        QTest::newRow("name, second address listens")
            << "service.test" << QStringList{"closed", "listening"} << 0 << S::ready << "";
        QTest::newRow("name, no address listens")
            << "service.test" << QStringList{"closed", "closed"} << 0 << S::waiting << "Connection refused";
        QTest::newRow("name not found waits") << "service.test" << QStringList() << int(EAI_NONAME) << S::waiting
                                              << "scripted failure";
        QTest::newRow("name without addresses") << "service.test" << QStringList() << 0 << S::waiting << "no addresses";
    }
    void connection()
    {
        QFETCH(QString, host);
        QFETCH(QStringList, lookup);
        QFETCH(int, lookupCode);
        QFETCH(TcpConnection::State, state);
        QFETCH(QString, error);
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        // Nothing listens on 127.0.0.2, so connects there are refused.
        const auto address = [](const QString &what) {
            return what == QLatin1String("closed") ? QStringLiteral("127.0.0.2") : QStringLiteral("127.0.0.1");
        };
        QStringList addresses;
        for (const QString &a : lookup)
            addresses << address(a);
        const bool named = host != QLatin1String("listening") && host != QLatin1String("closed");
        TcpConnection connection(named ? host : address(host), server.serverPort(),
                                 scriptedResolver(addresses, lookupCode));
        QSignalSpy changes(&connection, &TcpConnection::stateChanged);
        connection.start();
        QCOMPARE(changes.size(), 0); // never from inside start()
        QTRY_COMPARE(connection.state(), state);
        if (state != TcpConnection::State::ready)
            QCOMPARE(connection.errorText(), error);
        QCOMPARE(changes.last().first().value<TcpConnection::State>(), state);
        if (state == TcpConnection::State::ready) {
            QTRY_VERIFY(server.hasPendingConnections());
            QTcpSocket *peer = server.nextPendingConnection();
            connection.cancel();
            QCOMPARE(connection.state(), TcpConnection::State::cancelled);
            QTRY_COMPARE(peer->state(), QAbstractSocket::UnconnectedState);
            QTRY_COMPARE(changes.last().first().value<TcpConnection::State>(), TcpConnection::State::cancelled);
        }
    }
};

QTEST_GUILESS_MAIN(ResolverTcpTest)
#include "itst_resolver_tcp.moc"
