#include "platform/AppGroupContainer.h"
#include "platform/AtomicFile.h"
#include "platform/Defaults.h"
#include "platform/Log.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSize>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <thread>
#include <sys/stat.h>

#include "support/DefaultsContents.h"
#include "support/TestHome.h"

using namespace kovra;
using kovra::test::TestHome;

namespace {

QString suiteFile(const TestHome &home, const QString &name)
{
    return home.configHome() + QStringLiteral("/kovra/") + name + QStringLiteral(".json");
}

std::shared_ptr<Defaults> open(const TestHome &home, const QString &name)
{
    return Defaults::suite(home.paths(), name);
}

// A second, independent store over the same file, as another process has it:
// opened through a symlinked config folder, so its path differs from every cached one.
std::shared_ptr<Defaults> otherView(const TestHome &home, const QString &name)
{
    static int n = 0;
    PlatformPaths paths = home.paths();
    paths.configHome = home.path() + QStringLiteral("/view-%1").arg(++n);
    if (!QFile::link(home.configHome(), paths.configHome))
        return nullptr;
    return Defaults::suite(paths, name);
}

// The answers of the typed getters that give one, in one line.
QString typedView(const Defaults &d, const QString &k)
{
    QStringList out;
    const auto add = [&out](const char *tag, const auto &value, auto text) {
        if (value)
            out << QLatin1String(tag) + text(*value);
    };
    add("b=", d.boolean(k), [](bool b) { return QString::fromLatin1(b ? "true" : "false"); });
    add("i=", d.integer(k), [](qint64 i) { return QString::number(i); });
    add("n=", d.number(k), [](double x) { return QString::number(x); });
    add("s=", d.string(k), [](const QString &s) { return s; });
    add("l=", d.stringList(k), [](const QStringList &l) { return l.join(QLatin1Char(',')); });
    add("d=", d.data(k), [](const QByteArray &b) { return QString::fromLatin1(b.toHex()); });
    add("t=", d.date(k), [](const QDateTime &t) { return t.toString(Qt::ISODateWithMs); });
    return out.join(QLatin1Char(' '));
}

mode_t modeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 0;
}

void writeRaw(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

const QDateTime kDate = QDateTime::fromMSecsSinceEpoch(1700000000123, Qt::OffsetFromUTC, 3 * 3600);

} // namespace

Q_DECLARE_METATYPE(QList<kovra::Defaults::Change>)

class DefaultsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // What a value reads back as, and which typed getters answer for it: a Boolean only when
    // stored as one, integers also as numbers, whole doubles also as integers.
    void roundTrip_data()
    {
        QTest::addColumn<QVariant>("input");
        QTest::addColumn<QVariant>("expected");
        QTest::addColumn<QString>("typed");
        const auto row = [](const char *name, const QVariant &in, const QVariant &out, const char *typed) {
            QTest::newRow(name) << in << out << QString::fromUtf8(typed);
        };
        const QVariant max = QVariant::fromValue(std::numeric_limits<qint64>::max());
        const QStringList list{QStringLiteral("a"), QString(), QStringLiteral("ё")};
        const QString text = QStringLiteral("Привет, \"мир\" 🌍");
        row("int 1 is an integer, not a Boolean", 1, QVariant::fromValue(qint64(1)), "i=1 n=1");
        row("integer max", max, max, "i=9223372036854775807 n=9.22337e+18");
        row("double beyond integers", 1e19, 1e19, "n=1e+19");
        row("lowest integer as double", -0x1p63, -0x1p63, "i=-9223372036854775808 n=-9.22337e+18");
        row("NaN", std::nan(""), std::nan(""), "n=nan");
        row("string", text, text, "s=Привет, \"мир\" 🌍");
        row("string list", list, list, "l=a,,ё");
        row("data", QByteArray("\x00\xff{\"\n", 5), QByteArray("\x00\xff{\"\n", 5), "d=00ff7b220a");
        row("date with milliseconds", kDate, kDate, "t=2023-11-14T22:13:20.123Z");
        row("unsigned over qint64 becomes double", QVariant::fromValue(quint64(1) << 63), QVariant(0x1p63), "n=9.22337e+18");
        row("invalid variant removes", QVariant(), QVariant(), "");
    }
    void roundTrip()
    {
        QFETCH(QVariant, input);
        QFETCH(QVariant, expected);
        TestHome home(TestHome::PathsOnly);
        auto memory = Defaults::inMemory();
        auto store = open(home, QStringLiteral("rt"));
        QVERIFY(store);
        for (const auto &target : {memory, store}) {
            target->set(QStringLiteral("k"), "old"); // a removal must not leave the old value behind
            target->setObject(QStringLiteral("k"), input);
        }
        QVERIFY(store->synchronize());
        // In memory, in the writer and in another view of the file; the type is part of the value.
        for (const auto &view : {memory, store, otherView(home, QStringLiteral("rt"))}) {
            const QVariant got = view->object(QStringLiteral("k"));
            QCOMPARE(got.metaType(), expected.metaType());
            QVERIFY2(got == expected || expected != expected, qPrintable(QDebug::toString(got))); // NaN is not equal to itself
            QTEST(typedView(*view, QStringLiteral("k")), "typed");
        }
    }

    // The files hold the subscription URL: only the owner may read them.
    void filesAreOwnerOnly()
    {
        TestHome home(TestHome::PathsOnly);
        open(home, QStringLiteral("private"))->set(QStringLiteral("k"), 1);
        // The data file is an atomic write (below).
        QCOMPARE(modeOf(suiteFile(home, QStringLiteral("private")) + ".lock"), mode_t(0600));
    }

    // A file that does not parse is moved aside, never lost, with a line naming it; also
    // when it turns up while the store is open. Entries not understood are skipped and
    // kept in the file. Either way the store goes on working.
    void damagedFiles_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("whileOpen");
        QTest::addColumn<QStringList>("keys");
        QTest::newRow("garbage") << QByteArray("not json at all") << false << QStringList();
        QTest::newRow("garbage while open") << QByteArray("}{") << true << QStringList();
        QTest::newRow("entries not understood")
            << QByteArray(R"({"good": {"type": "bool", "value": true}, "future": {"type": "colour", "value": "red"},
                             "bare": 5, "mistyped": {"type": "bool", "value": 1}})")
            << false << QStringList{"good"};
    }
    void damagedFiles()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, whileOpen);
        QFETCH(QStringList, keys);
        TestHome home(TestHome::PathsOnly);
        const QString file = suiteFile(home, QStringLiteral("bad"));
        LogCapture capture;
        std::shared_ptr<Defaults> store = whileOpen ? open(home, QStringLiteral("bad")) : nullptr;
        if (store)
            store->set(QStringLiteral("old"), 1);
        writeRaw(file, bytes);
        if (!store)
            store = open(home, QStringLiteral("bad"));
        QCOMPARE(store->keys(), keys);

        const QStringList aside = QDir(QFileInfo(file).path()).entryList({QStringLiteral("bad.json.corrupt-*")});
        QCOMPARE(aside.size(), keys.isEmpty() ? 1 : 0);
        QCOMPARE(capture.texts(QStringLiteral("Defaults")).size(), aside.size());
        if (!aside.isEmpty()) {
            QFile kept(QFileInfo(file).path() + QLatin1Char('/') + aside[0]);
            QVERIFY(kept.open(QIODevice::ReadOnly));
            QCOMPARE(kept.readAll(), bytes);
            QVERIFY(capture.texts(QStringLiteral("Defaults")).first().contains(kept.fileName()));
        }
        store->set(QStringLiteral("k"), QStringLiteral("v"));
        QVERIFY(store->synchronize());
        QCOMPARE(otherView(home, QStringLiteral("bad"))->string(QStringLiteral("k")), QStringLiteral("v"));
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(QJsonDocument::fromJson(f.readAll()).object().contains(QStringLiteral("future")), !keys.isEmpty());
    }

    void unopenableSuiteIsNull_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("config folder is a file") << "s";
        QTest::newRow("name with slash") << "../../etc/x";
        QTest::newRow("relative config folder") << "s";
    }
    void unopenableSuiteIsNull()
    {
        QFETCH(QString, name);
        const QByteArray situation = QTest::currentDataTag();
        TestHome home(TestHome::PathsOnly);
        PlatformPaths paths = home.paths();
        QDir().mkpath(home.configHome() + QStringLiteral("/kovra"));
        if (situation == "config folder is a file") {
            QDir(home.configHome()).removeRecursively();
            writeRaw(home.configHome(), "x");
        } else if (situation == "relative config folder") {
            paths.configHome = QStringLiteral("config");
        }
        LogCapture capture;
        QVERIFY(!Defaults::suite(paths, name));
        QVERIFY(!capture.texts(QStringLiteral("Defaults")).isEmpty());
    }

    // A batch applies its changes in order, in one write; a value with no stored form
    // rejects the whole batch.
    void batchChanges_data()
    {
        QTest::addColumn<QList<Defaults::Change>>("changes");
        QTest::addColumn<bool>("stored");
        QTest::addColumn<QVariantMap>("expected");
        const QString a = QStringLiteral("a"), b = QStringLiteral("b"), c = QStringLiteral("c");
        const QVariant one = QVariant::fromValue(qint64(1)), two = QVariant::fromValue(qint64(2));
        const QVariantMap before{{a, one}, {b, two}};
        QTest::newRow("later change of a key wins") << QList<Defaults::Change>{{c, 1}, {c, QVariant()}, {a, QVariant()}, {c, 2}}
                                                    << true << QVariantMap{{b, two}, {c, two}};
        QTest::newRow("one unstorable value stores nothing")
            << QList<Defaults::Change>{{a, QVariant()}, {c, QVariant(QSize(1, 2))}} << false << before;
    }
    void batchChanges()
    {
        QFETCH(QList<Defaults::Change>, changes);
        QFETCH(bool, stored);
        TestHome home(TestHome::PathsOnly);
        auto store = open(home, QStringLiteral("batch"));
        store->setObjects({{QStringLiteral("a"), 1}, {QStringLiteral("b"), 2}});
        LogCapture capture;
        QCOMPARE(store->setObjects(changes), stored);
        QCOMPARE(capture.lines(QStringLiteral("Defaults")).isEmpty(), stored);
        for (const auto &view : {store, otherView(home, QStringLiteral("batch"))})
            QTEST(test::contents(*view), "expected");
    }

    // Threads of one process share the store: every write of each reaches the file.
    void threadsLoseNoWrites()
    {
        TestHome home(TestHome::PathsOnly);
        auto store = open(home, QStringLiteral("threads"));
        std::vector<std::jthread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([store, t] {
                for (int i = 0; i < 25; ++i) {
                    store->set(QStringLiteral("t%1-%2").arg(t).arg(i), i);
                    store->keys();
                }
            });
        threads.clear(); // joins
        auto fresh = otherView(home, QStringLiteral("threads"));
        QCOMPARE(fresh->keys().size(), 100);
        QCOMPARE(fresh->integer(QStringLiteral("t3-24")), 24);
    }

    // A failed write keeps the change in this process and is retried by synchronize().
    void failedWriteIsReportedAndRetried()
    {
        TestHome home(TestHome::PathsOnly);
        auto store = open(home, QStringLiteral("io"));
        const QString blocker = suiteFile(home, QStringLiteral("io")) + QStringLiteral(".tmp");
        QVERIFY(QDir().mkpath(blocker)); // the temporary file cannot be created
        LogCapture capture;
        QVERIFY(!store->setObjects({{QStringLiteral("k"), 1}}));
        QCOMPARE(capture.lines(QStringLiteral("Defaults")).size(), 1);
        QVERIFY(!store->synchronize());
        QCOMPARE(store->integer(QStringLiteral("k")), 1);
        QVERIFY(!otherView(home, QStringLiteral("io"))->contains(QStringLiteral("k")));
        QVERIFY(QDir(blocker).removeRecursively());
        QVERIFY(store->synchronize());
        QCOMPARE(otherView(home, QStringLiteral("io"))->integer(QStringLiteral("k")), 1);
    }

    void writesOwnerOnlyFilesInOwnerOnlyFolders()
    {
        QTemporaryDir dir;
        const QString path = dir.path() + QStringLiteral("/a/b/file.json");
        QVERIFY(files::writeAtomically(path, "one"));
        QVERIFY(files::writeAtomically(path, "two"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("two"));
        QCOMPARE(modeOf(path), mode_t(0600));
        QCOMPARE(modeOf(dir.path() + QStringLiteral("/a")), mode_t(0700));
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
        TestHome home(TestHome::PathsOnly);
        AppGroupContainer container(home.paths(), suite);
        QVERIFY(container.filePath(relative).isEmpty());
        QVERIFY(!container.write(relative, "x"));
        QVERIFY(!container.read(relative));
        QVERIFY(!QFile::exists(home.dataHome() + QStringLiteral("/escaped.txt")));
        QVERIFY(!QFile::exists(home.dataHome() + QStringLiteral("/kovra/escaped.txt")));
    }
};

QTEST_GUILESS_MAIN(DefaultsTest)
#include "tst_defaults.moc"
