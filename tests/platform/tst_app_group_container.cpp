#include "platform/AppGroupContainer.h"

#include "support/TestHome.h"

#include <QDir>
#include <QFile>
#include <QTest>

using namespace kovra;

class AppGroupContainerTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void writesAndReadsBelowTheDataHome()
    {
        test::TestHome home(test::TestHome::PathsOnly);
        AppGroupContainer container(home.paths(), QStringLiteral("group.test"));
        QCOMPARE(container.path(), home.dataHome() + QStringLiteral("/kovra/group.test"));
        QVERIFY(!container.read(QStringLiteral("diagnostics/last-startup.txt")));
        QVERIFY(container.write(QStringLiteral("diagnostics/last-startup.txt"), "first"));
        QVERIFY(container.write(QStringLiteral("diagnostics/last-startup.txt"), "second"));
        QCOMPARE(container.read(QStringLiteral("diagnostics/last-startup.txt")).value(), QByteArray("second"));
        // Atomic writes leave no temporary files behind.
        QCOMPARE(QDir(container.path() + QStringLiteral("/diagnostics")).entryList(QDir::Files),
                 QStringList{QStringLiteral("last-startup.txt")});
    }

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

QTEST_GUILESS_MAIN(AppGroupContainerTest)
#include "tst_app_group_container.moc"
