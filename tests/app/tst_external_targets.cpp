#include "app/ExternalTargets.h"
#include "dev-service/DevTargets.h"

#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

using namespace kovra;

namespace {

// What the local service writes, with one piece of its compact text replaced.
QByteArray targetsWith(const char *from = "", const char *to = "")
{
    QByteArray text = QJsonDocument(devservice::targetsJson({}, QUrl(QStringLiteral("http://127.0.0.1:4001")))).toJson(QJsonDocument::Compact);
    return *from ? text.replace(from, to) : text;
}

} // namespace

class ExternalTargetsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The local service's file points every public target at it (the services keep
    // their roles); anything else stops the start with a message naming the file.
    void load_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // "absent": no file
        QTest::addColumn<QString>("reason");   // empty: accepted
        QTest::newRow("local service") << targetsWith() << QString();
        QTest::newRow("absent") << QByteArray("absent") << QStringLiteral("no such file");
        QTest::newRow("too large") << QByteArray(ExternalTargets::kMaxFileBytes + 1, ' ') << QStringLiteral("larger");
        QTest::newRow("not JSON") << QByteArray("{\"reachability\": [") << QStringLiteral("decode");
        QTest::newRow("key missing") << targetsWith("\"trace_url\"", "\"trace\"") << QStringLiteral("trace_url");
        QTest::newRow("four services") << targetsWith(",{\"name\":\"Meta\",\"url\":\"http://127.0.0.1:4001/probe/5\"}")
                                       << QStringLiteral("5 services");
        QTest::newRow("port 0") << targetsWith("\"entry_port\":4001", "\"entry_port\":0") << QStringLiteral("port");
        QTest::newRow("file URL") << targetsWith("\"check_url\":\"http://127.0.0.1:4001/generate_204\",\"first",
                                                 "\"check_url\":\"file:///etc/passwd\",\"first")
                                  << QStringLiteral("URL");
        QTest::newRow("host with a path") << targetsWith("\"entry_host\":\"127.0.0.1\"", "\"entry_host\":\"a/b\"")
                                          << QStringLiteral("host");
    }
    void load()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("targets.json"));
        QFile f(file);
        QVERIFY(bytes == "absent" || (f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.flush()));
        try {
            const ExternalTargets t = ExternalTargets::load(file);
            QVERIFY2(reason.isEmpty(), "accepted");
            const ReachabilityService &apple = t.reachability.at(1);
            const DiagnosticsTargets &d = t.diagnosticsRun;
            QCOMPARE(QStringList({apple.name, apple.url, QString::number(apple.isGating), t.selfTest.traceURL,
                                  d.testDomainURL, d.testDomain, QString::number(d.entryPort), t.controlCheckURL}),
                     QStringList({"Apple", "http://127.0.0.1:4001/probe/2", "1", "http://127.0.0.1:4001/cdn-cgi/trace",
                                  "http://localhost:4001/", "localhost", "4001", "http://127.0.0.1:4001/generate_204"}));
        } catch (const StartupError &error) {
            const QString text = error.description();
            QVERIFY2(!reason.isEmpty() && text.startsWith(QStringLiteral("KOVRA_TARGETS_FILE %1: ").arg(file))
                         && text.contains(reason),
                     qPrintable(text));
        }
    }
};

QTEST_GUILESS_MAIN(ExternalTargetsTest)
#include "tst_external_targets.moc"
