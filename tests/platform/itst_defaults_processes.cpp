#include "platform/Defaults.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QSet>
#include <QTest>

#include <memory>
#include <optional>
#include <vector>

#include "support/TestHome.h"

using namespace kovra;
using kovra::test::TestHome;

namespace {

const QString kWriter = QStringLiteral(KOVRA_DEFAULTS_WRITER);

const QString kSuite = QStringLiteral("group");

// Starts the writer helper on the home's suite, waiting for "go".
bool startWriter(QProcess &p, const TestHome &home, const QStringList &args)
{
    p.start(kWriter, QStringList{QStringLiteral("--barrier"), home.configHome(), kSuite} + args);
    return p.waitForStarted(30000) && p.waitForReadyRead(30000) && p.readLine().trimmed() == "ready";
}

bool endedWell(QProcess &p)
{
    return (p.state() == QProcess::NotRunning || p.waitForFinished(60000)) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// The integer values of the keys starting with `prefix` in the file as it is now:
// what any other process reading it would see. None when the file does not parse.
std::optional<QMap<QString, qint64>> valuesOnDisk(const QString &file, const QString &prefix)
{
    QFile f(file);
    QMap<QString, qint64> values;
    if (!f.open(QIODevice::ReadOnly))
        return values;
    const QJsonDocument document = QJsonDocument::fromJson(f.readAll());
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject entries = document.object();
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        if (it.key().startsWith(prefix))
            values.insert(it.key(), it.value().toObject().value(QStringLiteral("value")).toInteger());
    }
    return values;
}

} // namespace

class DefaultsProcessesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Two processes write at the same moment; each must keep the other's keys.
    void concurrentWritersLoseNothing_data()
    {
        QTest::addColumn<QString>("secondAction");
        QTest::newRow("both set") << "set";
        QTest::newRow("one sets, one removes") << "remove";
    }
    void concurrentWritersLoseNothing()
    {
        QFETCH(QString, secondAction);
        TestHome home(TestHome::PathsOnly);
        const int n = 200;
        auto store = Defaults::suite(home.paths(), kSuite);
        for (int i = 0; i < n; ++i)
            store->set(QStringLiteral("b%1").arg(i), -1);

        std::vector<std::unique_ptr<QProcess>> writers;
        for (const QStringList &args : {QStringList{QStringLiteral("set"), QStringLiteral("a")},
                                        QStringList{secondAction, QStringLiteral("b")}}) {
            auto &p = writers.emplace_back(std::make_unique<QProcess>());
            QVERIFY(startWriter(*p, home, args + QStringList{QString::number(n), QStringLiteral("1000")}));
        }
        for (auto &p : writers)
            p->write("go\n");
        for (auto &p : writers)
            QVERIFY(endedWell(*p));

        // This process opened the suite before the writers ran and never synchronises.
        const bool removed = secondAction == QLatin1String("remove");
        QCOMPARE(store->keys().size(), removed ? n : 2 * n);
        for (int i = 0; i < n; ++i) {
            QCOMPARE(store->integer(QStringLiteral("a%1").arg(i)), 1000 + i);
            const auto b = store->integer(QStringLiteral("b%1").arg(i));
            QCOMPARE(b, removed ? std::nullopt : std::optional<qint64>(1000 + i));
        }
    }

    // Another process writes batches (all keys set to the round's number, then all
    // removed) while this one keeps reading the file: every version it sees holds
    // all of a batch or none of it.
    void batchIsSeenWholeOrNotAtAll()
    {
        TestHome home(TestHome::PathsOnly);
        const int n = 28, rounds = 301;
        auto store = Defaults::suite(home.paths(), kSuite);
        store->set(QStringLiteral("other"), true);
        const QString file = home.configHome() + QStringLiteral("/kovra/") + kSuite + QStringLiteral(".json");

        QProcess writer;
        QVERIFY(startWriter(writer, home, {QStringLiteral("batch"), QStringLiteral("s"), QString::number(n), QString::number(rounds)}));
        writer.write("go\n");
        QSet<qint64> seen; // round numbers seen, 0 for none of the keys
        do {
            const auto values = valuesOnDisk(file, QStringLiteral("s"));
            QVERIFY2(values, "the file did not parse");
            const QList<qint64> distinct = QSet<qint64>(values->begin(), values->end()).values();
            QVERIFY2(values->isEmpty() || (values->size() == n && distinct.size() == 1),
                     qPrintable(QStringLiteral("%1 keys, values %2").arg(values->size()).arg(QDebug::toString(distinct))));
            seen.insert(values->isEmpty() ? 0 : distinct.first());
        } while (!writer.waitForFinished(1));
        QVERIFY(endedWell(writer));
        QVERIFY2(seen.size() > 2, "the reader saw too few versions of the file to tell anything");

        QCOMPARE(store->keys().size(), n + 1);
        QCOMPARE(store->integer(QStringLiteral("s0")), rounds);
        QCOMPARE(store->boolean(QStringLiteral("other")), true);
    }
};

QTEST_GUILESS_MAIN(DefaultsProcessesTest)
#include "itst_defaults_processes.moc"
