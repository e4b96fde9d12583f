#include "platform/TunnelWire.h"

#include <QTest>

#include <sys/stat.h>

#include "support/TestHome.h"

using namespace kovra;

class TunnelWireTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void lines_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QList<QByteArray>>("lines");
        QTest::addColumn<int>("oversized");
        // The cap is 8 bytes, newline included.
        QTest::newRow("split lines") << QList<QByteArray>{"a\nb", "c", "\n\nd"} << QList<QByteArray>{"a", "bc", ""} << 0;
        QTest::newRow("longest allowed") << QList<QByteArray>{"1234567\n"} << QList<QByteArray>{"1234567"} << 0;
        QTest::newRow("one byte over") << QList<QByteArray>{"12345678\nok\n"} << QList<QByteArray>{"ok"} << 1;
        QTest::newRow("two over, across chunks") << QList<QByteArray>{"1234", "5678", "90", "\n123456789\nok\n"}
                                                 << QList<QByteArray>{"ok"} << 2;
        QTest::newRow("long run without newline") << QList<QByteArray>{QByteArray(100, 'x'), QByteArray(100, 'y')}
                                                  << QList<QByteArray>{} << 1;
    }
    void lines()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QList<QByteArray>, lines);
        QFETCH(int, oversized);
        tunnelwire::LineReader reader(8);
        QList<QByteArray> got;
        int dropped = 0;
        for (const auto &chunk : chunks) {
            const auto result = reader.feed(chunk);
            got += result.lines;
            dropped += result.oversized;
        }
        QCOMPARE(got, lines);
        QCOMPARE(dropped, oversized);
    }

    void socketPathFollowsTheEnvironment()
    {
        test::TestHome home;
        qunsetenv("KOVRA_TUNNEL_SOCKET");
        QCOMPARE(tunnelwire::socketPath(), home.runtimeDir() + QStringLiteral("/kovra/packet-tunnel.sock"));
        qputenv("KOVRA_TUNNEL_SOCKET", "/tmp/kv-other.sock");
        QCOMPARE(tunnelwire::socketPath(), QStringLiteral("/tmp/kv-other.sock"));
        qunsetenv("KOVRA_TUNNEL_SOCKET");
    }

    void socketFolderIsPrivate()
    {
        test::TestHome home;
        const QString dir = home.runtimeDir() + QStringLiteral("/kovra");
        QVERIFY(tunnelwire::ensureSocketDirectory(dir + QStringLiteral("/packet-tunnel.sock")));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(dir).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0700));
    }

    void encodedLineRoundTrips()
    {
        const QJsonObject object{{"id", 7}, {"method", "message"}, {"data", "e30="}};
        const QByteArray line = tunnelwire::encode(object);
        QCOMPARE(line.indexOf('\n'), line.size() - 1);
        QCOMPARE(tunnelwire::decode(line.chopped(1)), std::optional(object));
        QVERIFY(!tunnelwire::decode("[1]"));
        QVERIFY(!tunnelwire::decode("{\"a\":"));
    }
};

QTEST_GUILESS_MAIN(TunnelWireTest)
#include "tst_tunnel_wire.moc"
