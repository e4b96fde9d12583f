#include "diagnostics/AppGroupFiles.h"
#include "diagnostics/ExtensionSnapshots.h"
#include "platform/AppGroupContainer.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include "support/TestHome.h"

using namespace kovra;

namespace {

const QString kGroup = QStringLiteral("group.test");
const QDateTime kBase(QDate(2025, 3, 1), QTime(9, 30), Qt::UTC);

// "-": no file; "<bad>": bytes that are not UTF-8; anything else: the file's text.
void put(const QString &root, const QString &relative, const QString &content, int day)
{
    if (content == u"-")
        return;
    QDir().mkpath(QFileInfo(root + u'/' + relative).path());
    QFile file(root + u'/' + relative);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content == u"<bad>" ? QByteArray("ok \xc3\x28") : content.toUtf8());
    QVERIFY(file.flush());
    QVERIFY(file.setFileTime(kBase.addDays(day), QFileDevice::FileModificationTime));
}

std::optional<QString> text(const QString &content)
{
    if (content == u"-" || content == u"<bad>")
        return std::nullopt;
    return content;
}

} // namespace

class ExtensionFilesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The summary's file is dated day 1, the fetched configuration day 2, the sanitised one day 3.
    void fetchedConfig_data()
    {
        QTest::addColumn<QStringList>("contents"); // summary, fetched, sanitized
        QTest::addColumn<int>("day");              // of modifiedAt; -1: no snapshot
        QTest::newRow("only the fetched file") << QStringList{"-", "{\"a\":1}", "-"} << 2;
        QTest::newRow("all three: the sanitised file dates it")
            << QStringList{"summary", "{}", "{\"b\":\"***\"}"} << 3;
        QTest::newRow("summary only") << QStringList{"line 1\nline 2", "-", "-"} << 1;
        QTest::newRow("empty summary counts") << QStringList{"", "-", "-"} << 1;
        QTest::newRow("none") << QStringList{"-", "-", "-"} << -1;
        QTest::newRow("none readable") << QStringList{"<bad>", "<bad>", "-"} << -1;
        QTest::newRow("unreadable sanitised file still dates it") << QStringList{"summary", "-", "<bad>"} << 3;
    }
    void fetchedConfig()
    {
        QFETCH(QStringList, contents);
        QFETCH(int, day);
        test::TestHome home(test::TestHome::PathsOnly);
        const QString root = AppGroupContainer(home.paths(), kGroup).path();
        put(root, DiagnosticsFiles::configSummary, contents[0], 1);
        put(root, DiagnosticsFiles::configFetched, contents[1], 2);
        put(root, DiagnosticsFiles::configSanitized, contents[2], 3);
        const auto snapshot = FetchedConfigDiagnostics::load(AppGroupContainer(home.paths(), kGroup));
        QCOMPARE(snapshot.has_value(), day >= 0);
        if (!snapshot)
            return;
        QCOMPARE(snapshot->summary, text(contents[0]));
        QCOMPARE(snapshot->redactedConfig, text(contents[1]));
        QCOMPARE(snapshot->sanitizedConfig, text(contents[2]));
        QCOMPARE(snapshot->modifiedAt, std::optional<QDateTime>(kBase.addDays(day)));
    }

    void startupNotes_data()
    {
        QTest::addColumn<bool>("failureNote"); // last-startup-failure.txt, else last-startup.txt
        QTest::addColumn<QString>("content");
        QTest::addColumn<QString>("container"); // "lookup", "given" (a folder of its own), "missing"
        QTest::addColumn<bool>("present");
        QTest::newRow("start note") << false << "started 12:00\n" << "lookup" << true;
        QTest::newRow("failure note, empty") << true << "" << "lookup" << true;
        QTest::newRow("start note not UTF-8") << false << "<bad>" << "lookup" << false;
        QTest::newRow("failure note missing") << true << "-" << "lookup" << false;
        QTest::newRow("given container") << true << "tun open failed: EPERM" << "given" << true;
        QTest::newRow("no container") << false << "started" << "missing" << false;
    }
    void startupNotes()
    {
        QFETCH(bool, failureNote);
        QFETCH(QString, content);
        QFETCH(QString, container);
        QFETCH(bool, present);
        test::TestHome home(test::TestHome::PathsOnly);
        const QString root = container == u"given" ? home.path() + QStringLiteral("/elsewhere")
                                                   : AppGroupContainer(home.paths(), kGroup).path();
        put(root, failureNote ? DiagnosticsFiles::lastStartupFailure : DiagnosticsFiles::lastStartup, content, 4);
        const QString group = container == u"missing" ? QStringLiteral("..") : kGroup;
        const std::optional<QString> given =
            container == u"given" ? std::optional<QString>(root) : std::nullopt;
        const auto snapshot = failureNote ? LastStartupFailureDiagnostics::load(AppGroupContainer(home.paths(), group), given)
                                          : LastStartupDiagnostics::load(AppGroupContainer(home.paths(), group), given);
        QCOMPARE(snapshot.has_value(), present);
        if (present)
            QCOMPARE(*snapshot, (LastStartupDiagnostics::Snapshot{content, kBase.addDays(4)}));
    }

    // How the writer ends: the file's text afterwards, or the error it logs.
    void writeText_data()
    {
        QTest::addColumn<QString>("setup"); // what is in the container before
        QTest::addColumn<QString>("relative");
        QTest::addColumn<QString>("logged"); // empty: written
        const QString path = DiagnosticsFiles::connectivityLast;
        QTest::newRow("creates the folder") << "empty container" << path << "";
        QTest::newRow("replaces the old report") << "old report" << path << "";
        QTest::newRow("container missing") << "no container" << path << "self-test: app group container missing";
        QTest::newRow("folder is a file") << "diagnostics is a file" << path
                                          << "self-test: write diagnostics/connectivity-last.txt failed: cannot create ";
        QTest::newRow("target is a folder") << "target is a folder" << path
                                            << "self-test: write diagnostics/connectivity-last.txt failed: Is a directory";
        QTest::newRow("path leaves the container") << "empty container" << "../escaped.txt"
                                                   << "self-test: write ../escaped.txt failed: ";
    }
    void writeText()
    {
        QFETCH(QString, setup);
        QFETCH(QString, relative);
        QFETCH(QString, logged);
        test::TestHome home(test::TestHome::PathsOnly);
        const QString group = setup == u"no container" ? QStringLiteral("..") : kGroup;
        const QString root = AppGroupContainer(home.paths(), kGroup).path();
        QVERIFY(QDir().mkpath(root));
        if (setup == u"old report")
            put(root, relative, QStringLiteral("old"), 0);
        if (setup == u"diagnostics is a file")
            put(root, QStringLiteral("diagnostics"), QStringLiteral("keep"), 0);
        if (setup == u"target is a folder")
            put(root, relative + QStringLiteral("/inner.txt"), QStringLiteral("keep"), 0);

        LogCapture capture;
        const Logger log(QStringLiteral("FilesTest"));
        AppGroupFiles::writeText(QByteArrayLiteral("report ✓\n"), relative, AppGroupContainer(home.paths(), group), log, QStringLiteral("self-test"));

        const QStringList lines = capture.texts(QStringLiteral("FilesTest"));
        if (logged.isEmpty()) {
            QCOMPARE(lines, QStringList());
            QFile file(root + u'/' + relative);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), QByteArrayLiteral("report ✓\n"));
            QCOMPARE(file.permissions() & 0x7777, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        } else {
            QCOMPARE(lines.size(), 1);
            QVERIFY2(lines.first().startsWith(logged), qPrintable(lines.first()));
            QCOMPARE(capture.lines(QStringLiteral("FilesTest")).first().level, LogLevel::Error);
        }
        // Whatever happened, nothing half-written is left and what was there is intact.
        const QStringList left = QDir(root + QStringLiteral("/diagnostics")).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
        QVERIFY2(left.filter(QStringLiteral(".tmp")).isEmpty(), qPrintable(left.join(u',')));
        if (setup == u"diagnostics is a file" || setup == u"target is a folder") {
            QFile kept(setup == u"diagnostics is a file" ? root + QStringLiteral("/diagnostics")
                                                          : root + u'/' + relative + QStringLiteral("/inner.txt"));
            QVERIFY(kept.open(QIODevice::ReadOnly));
            QCOMPARE(kept.readAll(), QByteArray("keep"));
        }
        QVERIFY(!QFile::exists(home.dataHome() + QStringLiteral("/kovra/escaped.txt")));
    }
};

QTEST_GUILESS_MAIN(ExtensionFilesTest)
#include "tst_extension_files.moc"
