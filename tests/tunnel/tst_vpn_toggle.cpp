#include "core/AppGroupStore.h"
#include "core/TunnelStopReason.h"

#include <QProcess>
#include <QTest>

#include "support/DefaultsContents.h"
#include "support/TestHome.h"

using namespace kovra;
namespace K = AppGroupKey;
using test::contents;

class VPNToggleTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The installed command, run as another process: its writes reach the shared file.
    void toggle_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QVariantMap>("changed"); // empty: refused with the usage line
        QTest::newRow("on") << QStringList{"--vpn", "on"} << QVariantMap{{K::pendingVPNCommand, "connect"}};
        QTest::newRow("off") << QStringList{"--vpn", "off"}
                             << QVariantMap{{K::pendingVPNCommand, "disconnect"}, {K::wantsConnected, false}};
        QTest::newRow("upper case") << QStringList{"--vpn", "ON"} << QVariantMap{};
    }
    void toggle()
    {
        QFETCH(QStringList, args);
        QFETCH(QVariantMap, changed);
        // A suite as the app leaves it: migrated, connected, with an older stop reason.
        test::TestHome home{test::TestHome::PathsOnly};
        const auto suite = Defaults::suite(home.paths(), AppGroupStore::kSuiteName);
        const QByteArray oldReason = R"({"source":"reload","recordedAt":1,"isPending":false})";
        suite->setObjects({{K::migratedLegacyGuard, true}, {K::wantsConnected, true}, {K::lastStopReason, oldReason}});
        QVariantMap expected = contents(*suite);
        const QDateTime from = QDateTime::currentDateTimeUtc();
        QProcess kovra;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.configHome());
        environment.insert(QStringLiteral("XDG_DATA_HOME"), home.dataHome());
        kovra.setProcessEnvironment(environment);
        kovra.start(qEnvironmentVariable("KOVRA_TOOLS_DIR") + "/kovra-cli/kovra", args);
        QVERIFY2(kovra.waitForFinished(30000), qPrintable(kovra.errorString()));
        QCOMPARE(kovra.exitStatus(), QProcess::NormalExit);
        QCOMPARE(kovra.exitCode(), changed.isEmpty() ? 2 : 0);
        QCOMPARE(kovra.readAllStandardError(), changed.isEmpty() ? QByteArray("usage: kovra --vpn on|off\n") : QByteArray());

        // Everything but the stop reason is as before with `changed` applied; "off"
        // records a fresh pending user stop.
        QVariantMap after = contents(*suite);
        const QByteArray reasonBytes = after.take(K::lastStopReason).toByteArray();
        expected.remove(K::lastStopReason);
        expected.insert(changed);
        QCOMPARE(after, expected);
        if (!changed.contains(K::wantsConnected)) {
            QCOMPARE(reasonBytes, oldReason);
            return;
        }
        const auto reason = JsonDecoder().decode<TunnelStopReason>(reasonBytes);
        QVERIFY(reason.source == TunnelStopReason::Source::userStop && reason.isPending);
        QVERIFY2(reason.recordedAt >= from.addMSecs(-1) && reason.recordedAt <= QDateTime::currentDateTimeUtc(),
                 reasonBytes.constData());
    }
};

QTEST_GUILESS_MAIN(VPNToggleTest)
#include "tst_vpn_toggle.moc"
