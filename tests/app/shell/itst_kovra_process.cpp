#include "app/CommandLine.h"
#include "app/shell/SingleInstance.h"
#include "core/AppGroupStore.h"
#include "core/TunnelStopReason.h"
#include "tunnel/VPNToggleIntent.h"

#include <QLocalServer>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <array>
#include <csignal>

#include "support/DefaultsContents.h"
#include "support/FakeService.h"
#include "support/TestHome.h"

using namespace kovra;
namespace K = AppGroupKey;
using test::contents;

namespace {

// The state letter of /proc/<pid>/stat ('T': stopped); 0 when unreadable.
char processState(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    const qsizetype end = line.lastIndexOf(')'); // the command may hold spaces
    return end >= 0 && end + 2 < line.size() ? line[end + 2] : 0;
}

// The built executable in a private home: its own XDG folders, keychain service,
// unreachable API hosts and no tunnel provider.
struct KovraHome {
    test::TestHome home{test::TestHome::PathsOnly};
    QString keychain = test::uniqueName(QStringLiteral("kovra-exe"));
    // Started with these quit signals ignored (as `nohup` or a script's background job
    // leave them), the others at their default whatever this process has.
    QList<int> ignoredSignals;
    // Added to the launch's environment.
    QMap<QString, QString> environment;

    QString instanceFolder() const { return home.runtimeDir() + QStringLiteral("/kovra"); }
    QString lockPath() const { return instanceFolder() + u'/' + SingleInstance::kLockFileName; }
    QString socketPath() const { return instanceFolder() + u'/' + SingleInstance::kSocketFileName; }

    // `display`: false takes away every way to reach a display. `leakCheck`: false for an
    // app that showed windows: the graphics driver it loaded is unloaded before the leak
    // check, which then cannot tell the driver's kept allocations from leaks.
    void start(QProcess &kovra, const QStringList &args, bool display = true, bool leakCheck = true) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        const QString closed = test::FakeService::closedPortURL(QStringLiteral("/")).toString();
        for (const auto &[name, value] : {std::pair("XDG_CONFIG_HOME", home.configHome()),
                                          {"XDG_DATA_HOME", home.dataHome()}, {"XDG_RUNTIME_DIR", home.runtimeDir()},
                                          {"KOVRA_KEYCHAIN_SERVICE", keychain}, {"KOVRA_REDUCE_MOTION", "1"},
                                          {"KOVRA_API_BASE_URLS", QStringList{closed, closed, closed}.join(u',')}})
            environment.insert(QString::fromLatin1(name), value);
        environment.remove(QStringLiteral("KOVRA_TUNNEL_SOCKET"));
        if (!leakCheck)
            environment.insert(QStringLiteral("ASAN_OPTIONS"),
                               environment.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":detect_leaks=0"));
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            if (!display)
                environment.remove(QString::fromLatin1(name));
        for (auto it = this->environment.cbegin(); it != this->environment.cend(); ++it)
            environment.insert(it.key(), it.value());
        kovra.setProcessEnvironment(environment);
        std::array<bool, NSIG> ignored{};
        for (const int signo : ignoredSignals)
            ignored[signo] = true;
        // Between fork and exec: only async-signal-safe calls.
        kovra.setChildProcessModifier([ignored] {
            for (const int signo : {SIGTERM, SIGINT, SIGHUP})
                ::signal(signo, ignored[signo] ? SIG_IGN : SIG_DFL);
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
        });
        kovra.start(QStringLiteral(KOVRA_EXECUTABLE), args);
    }
    // Runs a launch to its end; its exit code, or -1 when it did not end normally.
    int run(const QStringList &args, QByteArray *errors = nullptr, bool display = true,
            QByteArray *output = nullptr) const
    {
        QProcess kovra;
        start(kovra, args, display);
        if (!kovra.waitForFinished(30000) || kovra.exitStatus() != QProcess::NormalExit)
            return -1;
        if (errors)
            *errors = kovra.readAllStandardError();
        if (output)
            *output = kovra.readAllStandardOutput();
        return kovra.exitCode();
    }
    // Whether the app started by `kovra` holds the lock and listens.
    bool listening(const QProcess &kovra) const
    {
        return kovra.state() == QProcess::Running && lockHolder() == kovra.processId() && QFile::exists(socketPath());
    }
    qint64 lockHolder() const
    {
        qint64 pid = 0;
        QString host, app;
        return QLockFile(lockPath()).getLockInfo(&pid, &host, &app) ? pid : 0;
    }
};

} // namespace

class KovraProcessTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Nothing but the app itself needs a display: the VPN switch (its writes reach the
    // shared file), the help, the version and the refusal of anything else all answer
    // without one, and none of them starts an app.
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QByteArray>("errors");
        QTest::addColumn<QVariantMap>("changed");
        const QByteArray none, toggleUsage(kToggleUsageLine), usage = usageText();
        QTest::newRow("on") << QStringList{"--vpn", "on"} << 0 << none << none
                            << QVariantMap{{K::pendingVPNCommand, "connect"}};
        QTest::newRow("off") << QStringList{"--vpn", "off"} << 0 << none << none
                             << QVariantMap{{K::pendingVPNCommand, "disconnect"}, {K::wantsConnected, false}};
        QTest::newRow("upper case") << QStringList{"--vpn", "ON"} << 2 << none << toggleUsage << QVariantMap{};
        QTest::newRow("no value") << QStringList{"--vpn"} << 2 << none << toggleUsage << QVariantMap{};
        QTest::newRow("extra argument") << QStringList{"--vpn", "on", "now"} << 2 << none << toggleUsage
                                        << QVariantMap{};
        QTest::newRow("--help") << QStringList{"--help"} << 0 << usage << none << QVariantMap{};
        QTest::newRow("-h") << QStringList{"-h"} << 0 << usage << none << QVariantMap{};
        QTest::newRow("--version") << QStringList{"--version"} << 0 << versionText() << none << QVariantMap{};
        QTest::newRow("not ours") << QStringList{"--show"} << 2 << none << usage << QVariantMap{};
        QTest::newRow("help and more") << QStringList{"--help", "now"} << 2 << none << usage << QVariantMap{};
    }
    void commandLine()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, output);
        QFETCH(QByteArray, errors);
        QFETCH(QVariantMap, changed);
        // A suite as the app leaves it: migrated, connected, with an older stop reason.
        KovraHome k;
        const auto suite = Defaults::suite(k.home.paths(), AppGroupStore::kSuiteName);
        const QByteArray oldReason = R"({"source":"reload","recordedAt":1,"isPending":false})";
        suite->setObjects({{K::migratedLegacyGuard, true}, {K::wantsConnected, true}, {K::lastStopReason, oldReason}});
        QVariantMap expected = contents(*suite);
        const QDateTime from = QDateTime::currentDateTimeUtc();
        QByteArray printed, complained;
        QCOMPARE(k.run(args, &complained, false, &printed), exitCode);
        QCOMPARE(printed, output);
        QCOMPARE(complained, errors);
        // No contact with a running app: the instance folder was never made.
        QVERIFY(!QFile::exists(k.instanceFolder()));

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

    // Qt's own options go with the app (a session manager restarts it with -session
    // ID); anything else must be one of ours, alone.
    void launchAction_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<LaunchAction>("action");
        const auto run = LaunchAction::RunApp, refuse = LaunchAction::Refuse;
        QTest::newRow("nothing") << QStringList{} << run;
        QTest::newRow("Qt options") << QStringList{"-session", "1a2b", "--platform", "xcb", "-reverse", "-style=Fusion"}
                                    << run;
        QTest::newRow("Qt option without its value") << QStringList{"-session"} << refuse;
        QTest::newRow("Qt option with a value it does not join") << QStringList{"-platform=xcb"} << refuse;
        QTest::newRow("help after a Qt option") << QStringList{"-platform", "offscreen", "-h"} << LaunchAction::PrintHelp;
        QTest::newRow("help and version") << QStringList{"--help", "--version"} << refuse;
        QTest::newRow("the switch, checked later") << QStringList{"--vpn"} << LaunchAction::SwitchVPN;
    }
    void launchAction()
    {
        QFETCH(QStringList, args);
        QFETCH(LaunchAction, action);
        QCOMPARE(launchActionFor(QStringList{QStringLiteral("kovra")} + args), action);
    }

    // A second launch hands over to the running app, which shows its window. A lock
    // and a socket left by a killed app are taken over by the next one.
    void oneAppPerUser()
    {
        KovraHome k;
        QProcess first, next;
        k.start(first, {});
        QTRY_VERIFY_WITH_TIMEOUT(k.listening(first), 30000);
        QCOMPARE(k.run({}), 0);
        QByteArray log;
        QTRY_VERIFY_WITH_TIMEOUT((log += first.readAllStandardError()).contains("another launch asked for the main window"),
                                 10000);
        QVERIFY(k.listening(first));

        first.kill();
        QVERIFY(first.waitForFinished(10000));
        QVERIFY(QFile::exists(k.lockPath()) && QFile::exists(k.socketPath()));
        k.start(next, {});
        QTRY_VERIFY_WITH_TIMEOUT(k.listening(next), 30000);
        QCOMPARE(k.run({}), 0);
        next.terminate();
        QVERIFY(next.waitForFinished(10000));
    }

    // A desktop ends its session with SIGTERM: the app quits as on Ctrl+Q, with exit code
    // 0 and neither lock nor socket left behind. A signal ignored when the app was
    // started (`nohup`, a script's background job) stays ignored, also during the quit;
    // one that is not ignored, arriving while the quit runs, ends the process at once.
    // `together`: sent while the app is stopped, so that the second comes during the
    // quit of the first.
    void quitsOnSignal_data()
    {
        QTest::addColumn<QList<int>>("ignored");
        QTest::addColumn<QList<int>>("sent");
        QTest::addColumn<bool>("together");
        QTest::addColumn<bool>("endsAtOnce"); // else quits with exit code 0
        using Signals = QList<int>;
        QTest::newRow("SIGTERM") << Signals{} << Signals{SIGTERM} << false << false;
        QTest::newRow("SIGINT") << Signals{} << Signals{SIGINT} << false << false;
        QTest::newRow("SIGHUP") << Signals{} << Signals{SIGHUP} << false << false;
        QTest::newRow("SIGHUP ignored") << Signals{SIGHUP} << Signals{SIGHUP, SIGTERM} << false << false;
        QTest::newRow("SIGINT ignored") << Signals{SIGINT} << Signals{SIGINT, SIGTERM} << false << false;
        QTest::newRow("SIGINT ignored, during the quit")
            << Signals{SIGINT} << Signals{SIGTERM, SIGINT} << true << false;
        QTest::newRow("SIGINT during the quit") << Signals{} << Signals{SIGTERM, SIGINT} << true << true;
    }
    void quitsOnSignal()
    {
        QFETCH(QList<int>, ignored);
        QFETCH(QList<int>, sent);
        QFETCH(bool, together);
        QFETCH(bool, endsAtOnce);
        KovraHome k;
        k.ignoredSignals = ignored;
        QProcess kovra;
        k.start(kovra, {}, true, false);
        QTRY_VERIFY_WITH_TIMEOUT(k.listening(kovra), 30000);
        const auto pid = pid_t(kovra.processId());
        if (together) {
            QCOMPARE(::kill(pid, SIGSTOP), 0);
            QTRY_VERIFY(processState(pid) == 'T');
        }
        for (const int signo : sent)
            QCOMPARE(::kill(pid, signo), 0);
        if (together)
            QCOMPARE(::kill(pid, SIGCONT), 0);
        QVERIFY(kovra.waitForFinished(10000));
        const QByteArray log = kovra.readAllStandardError();
        if (endsAtOnce) {
            // Either may come first (threads take them in parallel); the other ends it.
            QVERIFY2(kovra.exitStatus() == QProcess::CrashExit && sent.contains(kovra.exitCode()), log.constData());
            return;
        }
        QVERIFY2(kovra.exitStatus() == QProcess::NormalExit && kovra.exitCode() == 0, log.constData());
        QVERIFY(log.contains("quitting"));
        // The one signal that was not ignored, and no other, made the quit.
        const auto quitting = std::find_if(sent.cbegin(), sent.cend(), [&](int s) { return !ignored.contains(s); });
        QVERIFY(quitting != sent.cend());
        QVERIFY2(log.count("received SIG") == 1 && log.contains(QByteArray("received SIG") + sigabbrev_np(*quitting)),
                 log.constData());
        QVERIFY(!QFile::exists(k.lockPath()) && !QFile::exists(k.socketPath()));
    }

    // A window whose QML cannot be built (here a module that depends on one that is not
    // installed): the app names the file and the missing module, lets go of the lock
    // and ends with exit code 1; it never uses the object it did not get.
    void unbuildableWindow_data()
    {
        QTest::addColumn<QString>("module");
        QTest::addColumn<QString>("file");
        QTest::newRow("the root view's") << "QtQuick.Layouts" << "qrc:/qt/qml/Kovra/Main/RootView.qml";
        QTest::newRow("the main window's") << "QtQuick.Controls" << "qrc:/qt/qml/Kovra/Shell/MainWindow.qml";
    }
    void unbuildableWindow()
    {
        QFETCH(QString, module);
        QFETCH(QString, file);
        // Found before the installed one, it takes its place.
        QTemporaryDir imports;
        const QString folder = imports.filePath(QString(module).replace(u'.', u'/'));
        QVERIFY(QDir().mkpath(folder));
        QFile qmldir(folder + QStringLiteral("/qmldir"));
        QVERIFY(qmldir.open(QIODevice::WriteOnly));
        qmldir.write(QStringLiteral("module %1\nimport Kovra.NotInstalled\n").arg(module).toUtf8());
        qmldir.close();
        KovraHome k;
        k.environment.insert(QStringLiteral("QML_IMPORT_PATH"), imports.path());
        QByteArray errors;
        QCOMPARE(k.run({}, &errors), 1);
        QVERIFY2(errors.contains("cannot build " + file.toUtf8()), errors.constData());
        QVERIFY2(errors.contains("module \"Kovra.NotInstalled\" is not installed"), errors.constData());
        QVERIFY(!QFile::exists(k.lockPath()) && !QFile::exists(k.socketPath()));
    }

    // A live holder that does not answer (no socket, or one that stays silent): the
    // launch gives up with a message and exit code 1.
    void silentHolder_data()
    {
        QTest::addColumn<bool>("listens");
        QTest::newRow("no socket") << false;
        QTest::newRow("silent socket") << true;
    }
    void silentHolder()
    {
        QFETCH(bool, listens);
        KovraHome k;
        QVERIFY(QDir().mkpath(k.instanceFolder()));
        QLockFile lock(k.lockPath());
        QVERIFY(lock.tryLock(0));
        QLocalServer silent;
        QVERIFY(!listens || silent.listen(k.socketPath()));
        QByteArray errors;
        QCOMPARE(k.run({}, &errors), 1);
        QVERIFY2(errors.contains("did not answer"), errors.constData());
        QCOMPARE(k.lockHolder(), QCoreApplication::applicationPid());
    }
};

QTEST_GUILESS_MAIN(KovraProcessTest)
#include "itst_kovra_process.moc"
