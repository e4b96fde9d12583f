#pragma once

// The real "kovra" executable as a child process, signed in against kovra-dev-service
// and kovra-dev-provider (also children) in a private home with a keychain item of its
// own; and the bare Qt Quick windows it is measured against, started as children of
// the benchmark itself. Run it where a Secret Service answers and a display is, e.g.
// under scripts/with-test-env. The executables are found beside the benchmark's build
// folder (bench/../src/app/kovra, bench/../tools/...); KOVRA_BENCH_APP names another
// "kovra" to measure (an older build, say, for a comparison in the same conditions).

#include "account/KeychainStore.h"
#include "tunnel/ProviderConfiguration.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QQuickView>
#include <QQuickWindow>
#include <QTest>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>

#include "support/Await.h"
#include "support/FakeProvider.h"
#include "support/TestHome.h"

namespace kovra::bench {

inline qint64 monotonicMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The line a child prints on its first frame: "first-frame <monotonic ms>".
inline constexpr char kFirstFrameLine[] = "first-frame ";

// The bare window of the comparison, 780 by 520: `qml` is the content of a QQuickView.
// Prints the first-frame line like "kovra" does, then runs until it is terminated.
inline int runBareWindow(int argc, char **argv, const QByteArray &qml)
{
    QGuiApplication application(argc, argv);
    QQuickView view;
    QObject::connect(
        &view, &QQuickWindow::frameSwapped, &view,
        [] {
            static std::atomic_bool printed = false;
            if (!printed.exchange(true)) {
                std::printf("%s%lld\n", kFirstFrameLine, static_cast<long long>(monotonicMs()));
                std::fflush(stdout);
            }
        },
        Qt::DirectConnection);
    view.setResizeMode(QQuickView::SizeRootObjectToView);
    view.resize(780, 520);
    const QString file = QDir::temp().filePath(QStringLiteral("kovra-bench-%1.qml").arg(QCoreApplication::applicationPid()));
    {
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly) || out.write(qml) != qml.size())
            return 1;
    }
    view.setSource(QUrl::fromLocalFile(file));
    QFile::remove(file);
    if (view.status() != QQuickView::Ready)
        return 1;
    view.show();
    return QGuiApplication::exec();
}

// A Rectangle and a Text.
inline const QByteArray kBareWindowQml = R"(import QtQuick
Rectangle {
    color: "white"
    Text { anchors.centerIn: parent; text: "Kovra S"; font.pixelSize: 17 }
}
)";

// Only the connect button's pulsing ring, as the home window draws it: a 2-wide
// stroke of the 116-wide disc's circle, scaled 1 to 1.16 while fading from 0.6 to 0
// over 1.3 s (ease-out), then back, for ever.
inline const QByteArray kRingWindowQml = R"(import QtQuick
Rectangle {
    color: "white"
    Rectangle {
        property real phase
        anchors.centerIn: parent
        width: 118; height: width; radius: width / 2
        color: "transparent"
        border.width: 2; border.color: "#34c759"
        scale: 1 + 0.16 * phase
        opacity: (1 - phase) * 0.6
        SequentialAnimation on phase {
            loops: Animation.Infinite
            NumberAnimation { from: 0; to: 1; duration: 1300; easing.type: Easing.OutQuad }
            NumberAnimation { from: 1; to: 0; duration: 1300; easing.type: Easing.OutQuad }
        }
    }
}
)";

// CPU seconds (user and system) a child has used so far, from /proc/<pid>/stat.
inline double cpuSecondsOf(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray stat = file.readAll();
    // Fields after the command's closing parenthesis; utime and stime are the 14th and 15th.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK))
                              : 0;
}

// The CPU time of each live thread of a child so far, in milliseconds to the
// microsecond (from /proc/<pid>/task/<tid>/schedstat), by "<name>/<tid>".
inline std::map<QString, double> threadCpuMsOf(qint64 pid)
{
    std::map<QString, double> threads;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile name(tasks.filePath(task + QStringLiteral("/comm")));
        QFile schedstat(tasks.filePath(task + QStringLiteral("/schedstat")));
        if (!name.open(QIODevice::ReadOnly) || !schedstat.open(QIODevice::ReadOnly))
            continue;
        const qint64 nanoseconds = schedstat.readAll().split(' ').first().toLongLong();
        threads[QString::fromUtf8(name.readAll().trimmed()) + u'/' + task] = double(nanoseconds) / 1e6;
    }
    return threads;
}

// A child's resident memory in MB, from /proc/<pid>/statm; 0 when unreadable.
inline double residentMBOf(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/statm").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = file.readAll().split(' ');
    return fields.size() > 1 ? double(fields[1].toLongLong()) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0) : 0;
}

// A child process, terminated (then killed) when the object goes.
class Child {
public:
    Child() { m_process.setProcessChannelMode(QProcess::SeparateChannels); }
    ~Child() { stop(); }

    void start(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment)
    {
        m_process.setProcessEnvironment(environment);
        m_startedAt = monotonicMs();
        m_process.start(program, arguments);
        m_process.waitForStarted();
    }
    bool running() const { return m_process.state() == QProcess::Running; }
    qint64 pid() const { return m_process.processId(); }
    qint64 startedAt() const { return m_startedAt; }
    QString output()
    {
        m_output += m_process.readAllStandardOutput();
        m_output += m_process.readAllStandardError();
        return QString::fromUtf8(m_output);
    }
    // Waits for the first-frame line; the milliseconds from the start, or none.
    std::optional<qint64> awaitFirstFrame(int timeoutMs = 60'000)
    {
        (void)QTest::qWaitFor([this] { return output().contains(QLatin1String(kFirstFrameLine)) || !running(); }, timeoutMs);
        const QString text = output();
        const qsizetype at = text.indexOf(QLatin1String(kFirstFrameLine));
        if (at < 0)
            return std::nullopt;
        return text.mid(at + qsizetype(sizeof kFirstFrameLine) - 1).section(u'\n', 0, 0).toLongLong() - m_startedAt;
    }
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(10'000)) {
            m_process.kill();
            m_process.waitForFinished(2000);
        }
    }

private:
    QProcess m_process;
    QByteArray m_output;
    qint64 m_startedAt = 0;
};

// The environment's base with the private home's folders.
inline QProcessEnvironment homeEnvironment(const test::TestHome &home)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.configHome());
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.dataHome());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.runtimeDir());
    environment.insert(QStringLiteral("KOVRA_PRINT_FIRST_FRAME"), QStringLiteral("1"));
    return environment;
}

// The two development tools, a signed-in account and the tunnel's configuration in a
// private home; launch()
// starts "kovra" against them as often as wanted (one at a time).
class KovraUnderTest {
public:
    static QString buildPath(const QString &relative)
    {
        return QDir(QCoreApplication::applicationDirPath() + QStringLiteral("/..")).absoluteFilePath(relative);
    }

    // False, with the reason on stderr, when the tools did not come up or the sign-in failed.
    bool prepare()
    {
        const QProcessEnvironment environment = homeEnvironment(m_home);
        m_service.start(buildPath(QStringLiteral("tools/dev-service/kovra-dev-service")),
                        {QStringLiteral("--write-targets"), targetsFile()}, environment);
        m_provider.start(buildPath(QStringLiteral("tools/dev-provider/kovra-dev-provider")),
                         {QStringLiteral("--socket"), socketPath(), QStringLiteral("--connect-delay"), QStringLiteral("100")},
                         environment);
        (void)QTest::qWaitFor([this] { return m_service.output().contains(QStringLiteral("base-urls: ")) || !m_service.running(); },
                        15'000);
        (void)QTest::qWaitFor([this] { return QFile::exists(socketPath()) || !m_provider.running(); }, 15'000);
        if (!m_service.running() || !m_provider.running() || !QFile::exists(targetsFile())) {
            std::fprintf(stderr, "the development tools did not start:\n%s\n%s\n", qPrintable(m_service.output()),
                         qPrintable(m_provider.output()));
            return false;
        }
        m_baseURLs = m_service.output().section(QStringLiteral("base-urls: "), 1).section(u'\n', 0, 0).trimmed();
        const std::optional<QString> token = signIn();
        if (!token) {
            std::fprintf(stderr, "the sign-in at the development service failed\n");
            return false;
        }
        test::await(KeychainStore(m_keychain).saveJWT(*token));
        m_signedIn = true;
        // The tunnel's configuration, as an earlier connect leaves it.
        TunnelPreferences preferences(test::tunnelOptions(m_home.paths(), socketPath()));
        test::saveConfiguration(preferences, kPacketTunnelBundleID);
        return true;
    }
    ~KovraUnderTest()
    {
        if (m_signedIn)
            test::await(KeychainStore(m_keychain).deleteJWT());
    }

    // Starts "kovra"; the child is running unless it failed at once.
    std::unique_ptr<Child> launch() const
    {
        QProcessEnvironment environment = homeEnvironment(m_home);
        environment.insert(QStringLiteral("KOVRA_API_BASE_URLS"), m_baseURLs);
        environment.insert(QStringLiteral("KOVRA_TUNNEL_SOCKET"), socketPath());
        environment.insert(QStringLiteral("KOVRA_TARGETS_FILE"), targetsFile());
        environment.insert(QStringLiteral("KOVRA_KEYCHAIN_SERVICE"), m_keychain);
        auto child = std::make_unique<Child>();
        const QString app = qEnvironmentVariable("KOVRA_BENCH_APP");
        child->start(app.isEmpty() ? buildPath(QStringLiteral("src/app/kovra")) : app, {}, environment);
        return child;
    }

    // Asks the provider to start the tunnel (as the app's own start does); the app
    // follows its status. True once the provider took the request.
    bool startTunnel() const
    {
        QLocalSocket socket;
        socket.connectToServer(socketPath());
        if (!socket.waitForConnected(5000))
            return false;
        socket.write(R"({"id":1,"method":"start","options":{},"configuration":{}})"
                     "\n");
        socket.flush();
        QElapsedTimer waited;
        waited.start();
        QByteArray lines;
        while (!lines.contains("\"ok\"") && waited.elapsed() < 5000 && socket.waitForReadyRead(500))
            lines += socket.readAll();
        return lines.contains("\"ok\":true");
    }

    QString providerLog() { return m_provider.output(); }

private:
    QString targetsFile() const { return m_home.path() + QStringLiteral("/targets.json"); }
    QString socketPath() const { return m_home.runtimeDir() + QStringLiteral("/kovra/packet-tunnel.sock"); }

    std::optional<QString> signIn()
    {
        QNetworkAccessManager network;
        QNetworkRequest request(QUrl(m_baseURLs.section(u',', 0, 0) + QStringLiteral("/auth/google")));
        request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
        std::unique_ptr<QNetworkReply> reply(network.post(request, R"({"id_token":"bench"})"));
        (void)QTest::qWaitFor([&] { return reply->isFinished(); }, 10'000);
        const QString token =
            QJsonDocument::fromJson(reply->readAll()).object().value(QStringLiteral("access_token")).toString();
        return token.isEmpty() ? std::nullopt : std::optional(token);
    }

    test::TestHome m_home{test::TestHome::PathsOnly};
    QString m_keychain = test::uniqueName(QStringLiteral("kovra-bench"));
    Child m_service;
    Child m_provider;
    QString m_baseURLs;
    bool m_signedIn = false;
};

} // namespace kovra::bench
