#include "platform/TunnelWire.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include "Mutator.h"

using namespace kovra;
using namespace kovra::tunnelwire;

namespace {

mode_t modeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Lines a provider sends, and lines only a broken or hostile one would.
const QList<QByteArray> kSeeds = {
    R"({"event":"status","status":3})",
    R"({"event":"status","status":0})",
    R"({"id":7,"ok":true,"data":"eyJhcHBsaWVkIjp0cnVlfQ=="})",
    R"({"id":8,"ok":true,"data":null})",
    R"({"id":9,"ok":false,"error":{"domain":"VPNErrorDomain","code":3,"message":"no route"}})",
    R"({"id":10,"ok":true,"status":5})",
    R"({"id":1e300,"ok":true})",
    R"({"event":"status","status":-1e300})",
    R"([{"id":1},{"event":"status"}])",
};

// Numbers the mutations put in place of digits, among other pieces.
const QList<QByteArray> kHostile = {"1e300", "-1e300", "9223372036854775808", "-9223372036854775809",
                                    "18446744073709551616", "4.5", "-0", "1e-320", "9007199254740993",
                                    "2", "\"3\"", "null", "true", "[]", "{}"};

} // namespace

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
        LineReader reader(8);
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

    // The socket's folder is made owner-only; an existing one that another user owns or
    // others may write to is refused, since anyone who can write there can stand in for
    // the provider.
    void socketFolder_data()
    {
        QTest::addColumn<int>("mode"); // of an existing folder; -1: missing, -2: a file
        QTest::addColumn<bool>("otherOwner");
        QTest::addColumn<QString>("problem");
        QTest::newRow("missing with its parents: all made 0700") << -1 << false << "";
        QTest::newRow("readable by all") << 0755 << false << "";
        QTest::newRow("group-writable") << 0770 << false << "the socket folder %1 is writable by others (mode 0770)";
        QTest::newRow("sticky, world-writable") << 01777 << false
                                                << "the socket folder %1 is writable by others (mode 1777)";
        QTest::newRow("another user's") << 0700 << true << "the socket folder %1 belongs to uid 65534";
        QTest::newRow("a file") << -2 << false << "the socket folder %1 is not a folder";
    }
    void socketFolder()
    {
        QFETCH(int, mode);
        QFETCH(bool, otherOwner);
        QFETCH(QString, problem);
        QTemporaryDir home;
        // A missing folder sits below a missing runtime folder and its missing parent.
        const QString dir = home.filePath(mode == -1 ? QStringLiteral("run/user/kovra") : QStringLiteral("kovra"));
        if (mode == -2)
            QVERIFY(QFile(dir).open(QIODevice::WriteOnly));
        if (mode >= 0) {
            QVERIFY(QDir().mkdir(dir));
            QCOMPARE(::chmod(QFile::encodeName(dir).constData(), mode_t(mode)), 0);
        }
        if (otherOwner && ::chown(QFile::encodeName(dir).constData(), 65534, 65534) != 0)
            QSKIP("changing a folder's owner needs root");

        const auto found = prepareSocketDirectory(dir + QStringLiteral("/p.sock"));

        QCOMPARE(bool(found), !problem.isEmpty());
        if (found)
            QVERIFY2(found->startsWith(problem.arg(dir)), qPrintable(*found));
        if (mode == -1) {
            for (const QString &made : {dir, home.filePath(QStringLiteral("run/user")), home.filePath(QStringLiteral("run"))})
                QCOMPARE(modeOf(made), mode_t(0700));
        }
    }

    // Hostile numbers never become integers out of range; every line is read or dropped
    // with the line its drop is logged with.
    void providerLines_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("read"); // "status N", "reply N ok|failed", "blank" or the drop's log line
        QTest::newRow("status") << QByteArray(R"({"event":"status","status":3.0})") << "status 3";
        QTest::newRow("status out of range") << QByteArray(R"({"event":"status","status":1e300})")
                                             << "dropped an invalid event from the tunnel provider";
        QTest::newRow("failed reply") << QByteArray(R"({"id":4,"ok":false})") << "reply 4 failed";
        QTest::newRow("largest exact id") << QByteArray(R"({"id":9007199254740992,"ok":true})")
                                          << "reply 9007199254740992 ok";
        QTest::newRow("id 1e300") << QByteArray(R"({"id":1e300,"ok":true})")
                                  << "dropped a reply with an out-of-range request id from the tunnel provider";
        QTest::newRow("fractional id") << QByteArray(R"({"id":1.5})")
                                       << "dropped a line from the tunnel provider without event or request id";
        QTest::newRow("not an object") << QByteArray("[1]")
                                       << "dropped a malformed line from the tunnel provider (3 bytes)";
        QTest::newRow("spaces") << QByteArray("  \t") << "blank";
    }
    void providerLines()
    {
        QFETCH(QByteArray, line);
        QTEST(describe(parseProviderLine(line)), "read");
    }

    void errorCodesOutOfRangeReadAsZero()
    {
        QCOMPARE(errorText({{"error", QJsonObject{{"domain", "D"}, {"code", 1e300}, {"message", "m"}}}}),
                 QStringLiteral("D 0: m"));
    }

    // A few thousand mutations of valid and hostile lines, under the sanitizers: nothing
    // crashes or converts out of range, and every line has exactly one reading.
    void mutatedLinesAreReadOrDropped()
    {
        test::Mutator mutator(20240611, kSeeds, kHostile);
        QList<int> kinds(std::variant_size_v<ProviderLine>);
        QSet<QString> dropReasons;
        QElapsedTimer budget;
        budget.start();
        int done = 0;
        for (; done < 6000 && budget.elapsed() < 20000; ++done) {
            const QByteArray line = mutator.mutate(done).replace('\n', ' ');
            const ProviderLine parsed = parseProviderLine(line);
            if (const auto *event = std::get_if<StatusEvent>(&parsed))
                QVERIFY(int(event->status) >= 0 && int(event->status) <= 5);
            if (const auto *reply = std::get_if<ReplyLine>(&parsed))
                QVERIFY(reply->id >= -9007199254740992LL && reply->id <= 9007199254740992LL);
            if (const auto *dropped = std::get_if<DroppedLine>(&parsed))
                dropReasons.insert(dropped->reason.section(QLatin1Char('('), 0, 0));
            ++kinds[int(parsed.index())];
        }
        QVERIFY(done >= 1000);
        // The mutations reach every reading and every reason to drop, so the loop tested something.
        QVERIFY(kinds[1] > 0 && kinds[2] > 0 && kinds[3] > 0); // statuses, replies, drops
        QCOMPARE(dropReasons.size(), 4);
    }

private:
    static QString describe(const ProviderLine &parsed)
    {
        if (std::holds_alternative<BlankLine>(parsed))
            return QStringLiteral("blank");
        if (const auto *event = std::get_if<StatusEvent>(&parsed))
            return QStringLiteral("status %1").arg(int(event->status));
        if (const auto *reply = std::get_if<ReplyLine>(&parsed))
            return QStringLiteral("reply %1 %2").arg(reply->id).arg(reply->ok ? "ok" : "failed");
        return std::get<DroppedLine>(parsed).reason;
    }
};

QTEST_GUILESS_MAIN(TunnelWireTest)
#include "tst_tunnel_wire.moc"
