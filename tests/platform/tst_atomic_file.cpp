#include "platform/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace kovra;

class AtomicFileTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void writesOwnerOnlyFilesInOwnerOnlyFolders()
    {
        QTemporaryDir dir;
        const QString path = dir.path() + QStringLiteral("/a/b/file.json");
        QString error;
        struct stat st;
        QVERIFY(files::writeAtomically(path, "one", &error, {}, &st));
        QVERIFY(files::writeAtomically(path, "two", &error));
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
};

QTEST_GUILESS_MAIN(AtomicFileTest)
#include "tst_atomic_file.moc"
