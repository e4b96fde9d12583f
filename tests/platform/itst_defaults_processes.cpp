#include "platform/Defaults.h"

#include <QProcess>
#include <QTest>

#include <memory>
#include <vector>

#include "support/TestHome.h"

using namespace kovra;
using kovra::test::TestHome;

namespace {

const QString kWriter = QStringLiteral(KOVRA_DEFAULTS_WRITER);

// Runs the writer helper to its end; true when it reported every write done.
bool runWriter(const QStringList &args)
{
    QProcess p;
    p.start(kWriter, args);
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
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
        TestHome home;
        const int n = 200;
        auto store = Defaults::suite(QStringLiteral("group"));
        for (int i = 0; i < n; ++i)
            store->set(QStringLiteral("b%1").arg(i), -1);

        std::vector<std::unique_ptr<QProcess>> writers;
        for (const QStringList &args : {QStringList{QStringLiteral("set"), QStringLiteral("a")},
                                        QStringList{secondAction, QStringLiteral("b")}}) {
            auto &p = writers.emplace_back(std::make_unique<QProcess>());
            p->start(kWriter, QStringList{QStringLiteral("--barrier"), QStringLiteral("group")} + args
                         + QStringList{QString::number(n), QStringLiteral("1000")});
            QVERIFY(p->waitForReadyRead(30000));
            QCOMPARE(p->readLine().trimmed(), QByteArray("ready"));
        }
        for (auto &p : writers)
            p->write("go\n");
        for (auto &p : writers) {
            QVERIFY(p->waitForFinished(60000));
            QCOMPARE(p->exitCode(), 0);
        }

        // This process opened the suite before the writers ran and never synchronises.
        const bool removed = secondAction == QLatin1String("remove");
        QCOMPARE(store->keys().size(), removed ? n : 2 * n);
        for (int i = 0; i < n; ++i) {
            QCOMPARE(store->integer(QStringLiteral("a%1").arg(i)), 1000 + i);
            const auto b = store->integer(QStringLiteral("b%1").arg(i));
            QCOMPARE(b, removed ? std::nullopt : std::optional<qint64>(1000 + i));
        }
    }

    // A reader sees what another process changed, without synchronising, for
    // same-size rewrites too; and its own later write keeps that change.
    void readerSeesOtherProcessChanges()
    {
        TestHome home;
        auto store = Defaults::suite(QStringLiteral("group"));
        store->set(QStringLiteral("k0"), 1);
        for (int value = 2; value < 8; ++value) {
            QVERIFY(runWriter({QStringLiteral("group"), QStringLiteral("set"), QStringLiteral("k"), QStringLiteral("1"), QString::number(value)}));
            QCOMPARE(store->integer(QStringLiteral("k0")), value);
        }
        store->set(QStringLiteral("mine"), true);
        QVERIFY(runWriter({QStringLiteral("group"), QStringLiteral("remove"), QStringLiteral("k"), QStringLiteral("1")}));
        QVERIFY(!store->contains(QStringLiteral("k0")));
        QCOMPARE(store->boolean(QStringLiteral("mine")), true);
    }
};

QTEST_GUILESS_MAIN(DefaultsProcessesTest)
#include "itst_defaults_processes.moc"
