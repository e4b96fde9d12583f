#include "core/AppGroupStore.h"
#include "core/TunnelStopReason.h"
#include "tunnel/VPNToggleIntent.h"

#include <QProcess>
#include <QTest>

#include "support/DefaultsContents.h"
#include "support/TestHome.h"

using namespace kovra;
namespace K = AppGroupKey;
using test::contents;

namespace {
const QByteArray kOldReason = R"({"source":"reload","recordedAt":1,"isPending":false})";
} // namespace

class VPNToggleTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void toggle_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("separateProcess");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QVariantMap>("changed");
        QTest::addColumn<bool>("freshStopReason");
        const QVariantMap off{{K::pendingVPNCommand, "disconnect"}, {K::wantsConnected, false}};
        QTest::newRow("on") << QStringList{"--vpn", "on"} << false << 0
                            << QVariantMap{{K::pendingVPNCommand, "connect"}} << false;
        QTest::newRow("off") << QStringList{"--vpn", "off"} << false << 0 << off << true;
        QTest::newRow("no value") << QStringList{"--vpn"} << false << 2 << QVariantMap{} << false;
        QTest::newRow("upper case") << QStringList{"--vpn", "ON"} << false << 2 << QVariantMap{} << false;
        QTest::newRow("extra argument") << QStringList{"--vpn", "off", "now"} << false << 2 << QVariantMap{} << false;
        // The installed command, as another process: its writes reach the shared file.
        QTest::newRow("command off") << QStringList{"--vpn", "off"} << true << 0 << off << true;
        QTest::newRow("command bad value") << QStringList{"--vpn", "maybe"} << true << 2 << QVariantMap{} << false;
    }
    void toggle()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, separateProcess);
        QFETCH(int, exitCode);
        QFETCH(QVariantMap, changed);
        QFETCH(bool, freshStopReason);

        // A suite as the app leaves it: migrated, connected, with an older stop reason.
        test::TestHome home{test::TestHome::PathsOnly};
        const auto suite = Defaults::suite(home.paths(), AppGroupStore::kSuiteName);
        suite->set(K::migratedLegacyGuard, true);
        suite->set(K::wantsConnected, true);
        suite->set(K::lastStopReason, kOldReason);
        suite->set(K::subscriptionURL, "https://sub.example/a");
        QVariantMap expected = contents(*suite);
        const QDateTime from = QDateTime::currentDateTimeUtc();
        if (separateProcess) {
            QProcess kovra;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.configHome());
            environment.insert(QStringLiteral("XDG_DATA_HOME"), home.dataHome());
            kovra.setProcessEnvironment(environment);
            kovra.start(qEnvironmentVariable("KOVRA_TOOLS_DIR") + "/kovra-cli/kovra", args);
            QVERIFY2(kovra.waitForFinished(30000), qPrintable(kovra.errorString()));
            QCOMPARE(kovra.exitStatus(), QProcess::NormalExit);
            QCOMPARE(kovra.exitCode(), exitCode);
            QCOMPARE(kovra.readAllStandardError(), exitCode ? QByteArray("usage: kovra --vpn on|off\n") : QByteArray());
        } else {
            QCOMPARE(runToggleCommandLine(QStringList{"kovra"} + args, home.paths()), exitCode);
        }
        const QDateTime to = QDateTime::currentDateTimeUtc();

        // Everything but the stop reason must be as before with `changed` applied.
        QVariantMap after = contents(*suite);
        const QByteArray reasonBytes = after.take(K::lastStopReason).toByteArray();
        expected.remove(K::lastStopReason);
        expected.insert(changed);
        QCOMPARE(after, expected);
        if (!freshStopReason) {
            QCOMPARE(reasonBytes, kOldReason);
            return;
        }
        // "off" records a fresh pending user stop.
        const auto reason = JsonDecoder().decode<TunnelStopReason>(reasonBytes);
        QCOMPARE(reason.providerReasonRawValue, std::optional<qint64>());
        QVERIFY(reason.source == TunnelStopReason::Source::userStop);
        QVERIFY(reason.isPending);
        QVERIFY2(reason.recordedAt >= from.addMSecs(-1) && reason.recordedAt <= to, reasonBytes.constData());
    }
};

QTEST_GUILESS_MAIN(VPNToggleTest)
#include "tst_vpn_toggle.moc"
