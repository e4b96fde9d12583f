#include "platform/AppGroupContainer.h"
#include "platform/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include "support/TestHome.h"

using namespace kovra;

class PrivateFilesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void writesOwnerOnlyFilesInOwnerOnlyFolders()
    {
        QTemporaryDir dir;
        const QString path = dir.path() + QStringLiteral("/a/b/file.json");
        QVERIFY(files::writeAtomically(path, "one"));
        QVERIFY(files::writeAtomically(path, "two"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("two"));
        struct stat now;
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &now), 0);
        QCOMPARE(now.st_mode & 0777, mode_t(0600));
        QCOMPARE(::stat(QFile::encodeName(dir.path() + QStringLiteral("/a")).constData(), &now), 0);
        QCOMPARE(now.st_mode & 0777, mode_t(0700));
        // No temporary file is left behind.
        QCOMPARE(QDir(dir.path() + QStringLiteral("/a/b")).entryList(QDir::Files), QStringList{"file.json"});
    }

    void movesAsideUnderFreshNamesInTheSameMillisecond()
    {
        QTemporaryDir dir;
        const QString path = dir.path() + QStringLiteral("/f.json");
        const QDateTime at(QDate(2025, 1, 2), QTime(3, 4, 5, 678), Qt::UTC);
        QStringList targets;
        for (int i = 0; i < 3; ++i) {
            QVERIFY(files::writeAtomically(path, QByteArray::number(i)));
            const auto target = files::moveAside(path, at);
            QVERIFY(target);
            targets << QFileInfo(*target).fileName();
        }
        QCOMPARE(targets, (QStringList{"f.json.corrupt-20250102T030405.678Z", "f.json.corrupt-20250102T030405.678Z-2",
                                       "f.json.corrupt-20250102T030405.678Z-3"}));
        QVERIFY(!QFile::exists(path));
        QString error;
        QVERIFY(!files::moveAside(path, at, &error));
        QVERIFY(!error.isEmpty());
    }

    // An app group container never reads or writes outside its folder.
    void refusesPathsOutsideTheFolder_data()
    {
        QTest::addColumn<QString>("suite");
        QTest::addColumn<QString>("relative");
        QTest::newRow("parent climb") << "group.test" << "../escaped.txt";
        QTest::newRow("inner climb") << "group.test" << "diagnostics/../../escaped.txt";
        QTest::newRow("absolute") << "group.test" << "/tmp/escaped.txt";
        QTest::newRow("empty") << "group.test" << "";
        QTest::newRow("suite climbs") << ".." << "escaped.txt";
        QTest::newRow("suite with slash") << "a/../.." << "escaped.txt";
    }
    void refusesPathsOutsideTheFolder()
    {
        QFETCH(QString, suite);
        QFETCH(QString, relative);
        test::TestHome home(test::TestHome::PathsOnly);
        AppGroupContainer container(home.paths(), suite);
        QVERIFY(container.filePath(relative).isEmpty());
        QVERIFY(!container.write(relative, "x"));
        QVERIFY(!container.read(relative));
        QVERIFY(!QFile::exists(home.dataHome() + QStringLiteral("/escaped.txt")));
        QVERIFY(!QFile::exists(home.dataHome() + QStringLiteral("/kovra/escaped.txt")));
    }
};

QTEST_GUILESS_MAIN(PrivateFilesTest)
#include "tst_private_files.moc"
