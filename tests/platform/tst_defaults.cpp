#include "platform/Defaults.h"
#include "platform/Log.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>
#include <QUrl>

#include <cmath>
#include <thread>
#include <unistd.h>

#include "support/TestHome.h"

using namespace kovra;
using kovra::test::TestHome;

namespace {

QString suiteFile(const TestHome &home, const QString &name)
{
    return home.configHome() + QStringLiteral("/kovra/") + name + QStringLiteral(".json");
}

// A second, independent store over the same file, as another process has it:
// opened through a symlinked config folder, so its path differs from every cached one.
std::shared_ptr<Defaults> otherView(const TestHome &home, const QString &name)
{
    static int n = 0;
    const QString link = home.path() + QStringLiteral("/view-%1").arg(++n);
    if (!QFile::link(home.configHome(), link))
        return nullptr;
    qputenv("XDG_CONFIG_HOME", link.toUtf8());
    auto view = Defaults::suite(name);
    qputenv("XDG_CONFIG_HOME", home.configHome().toUtf8());
    return view;
}

bool sameValue(const QVariant &a, const QVariant &b)
{
    if (a.metaType() != b.metaType())
        return false;
    if (a.metaType().id() == QMetaType::Double && std::isnan(a.toDouble()))
        return std::isnan(b.toDouble());
    return a == b;
}

// Every typed getter's answer for a key, in one line.
QString typedView(const Defaults &d, const QString &k)
{
    const auto show = [](const auto &value, auto text) { return value ? text(*value) : QStringLiteral("-"); };
    return QStringList{
        QStringLiteral("b=") + show(d.boolean(k), [](bool b) { return QString::fromLatin1(b ? "true" : "false"); }),
        QStringLiteral("i=") + show(d.integer(k), [](qint64 i) { return QString::number(i); }),
        QStringLiteral("n=") + show(d.number(k), [](double x) { return QString::number(x); }),
        QStringLiteral("s=") + show(d.string(k), [](const QString &s) { return s; }),
        QStringLiteral("l=") + show(d.stringList(k), [](const QStringList &l) { return l.join(QLatin1Char(',')); }),
        QStringLiteral("d=") + show(d.data(k), [](const QByteArray &b) { return QString::fromLatin1(b.toHex()); }),
        QStringLiteral("t=") + show(d.date(k), [](const QDateTime &t) { return t.toString(Qt::ISODateWithMs); }),
    }.join(QLatin1Char(' '));
}

void writeRaw(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

const QDateTime kDate = QDateTime::fromMSecsSinceEpoch(1700000000123, Qt::OffsetFromUTC, 3 * 3600);

enum class Unopenable { ConfigHomeIsFile, KovraIsFile, SuiteFileIsFolder, LockIsFolder, UnreadableFile, ReadOnlyFolder, BadName };

} // namespace

Q_DECLARE_METATYPE(Unopenable)

class DefaultsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void roundTrip_data()
    {
        QTest::addColumn<QVariant>("input");
        QTest::addColumn<QVariant>("expected");
        const auto row = [](const char *name, const QVariant &in, const QVariant &out) { QTest::newRow(name) << in << out; };
        row("true", true, true);
        row("false", false, false);
        row("integer", QVariant::fromValue(qint64(-42)), QVariant::fromValue(qint64(-42)));
        row("integer max", QVariant::fromValue(std::numeric_limits<qint64>::max()), QVariant::fromValue(std::numeric_limits<qint64>::max()));
        row("integer min", QVariant::fromValue(std::numeric_limits<qint64>::min()), QVariant::fromValue(std::numeric_limits<qint64>::min()));
        row("whole double stays double", 2.0, 2.0);
        row("double", 0.1, 0.1);
        row("NaN", std::nan(""), std::nan(""));
        row("-infinity", -qInf(), -qInf());
        row("string", QStringLiteral("Привет, \"мир\" 🌍"), QStringLiteral("Привет, \"мир\" 🌍"));
        row("empty string", QString(), QString(""));
        row("string list", QStringList{QStringLiteral("a"), QString(), QStringLiteral("ё")}, QStringList{QStringLiteral("a"), QString(), QStringLiteral("ё")});
        row("data", QByteArray("\x00\xff{\"\n", 5), QByteArray("\x00\xff{\"\n", 5));
        row("date with milliseconds", kDate, kDate);
        row("int becomes integer", 7, QVariant::fromValue(qint64(7)));
        row("unsigned over qint64 becomes double", QVariant::fromValue(quint64(1) << 63), QVariant(0x1p63));
        row("url becomes string", QUrl(QStringLiteral("https://a.example/x?y=1")), QStringLiteral("https://a.example/x?y=1"));
        row("variant list becomes string list", QVariantList{QStringLiteral("x"), 3}, QStringList{QStringLiteral("x"), QStringLiteral("3")});
        row("date becomes date-time", QDate(2024, 2, 29), QDateTime(QDate(2024, 2, 29), QTime(0, 0), Qt::UTC));
    }
    void roundTrip()
    {
        QFETCH(QVariant, input);
        QFETCH(QVariant, expected);
        TestHome home;
        auto memory = Defaults::inMemory();
        auto store = Defaults::suite(QStringLiteral("rt"));
        QVERIFY(store);
        memory->setObject(QStringLiteral("k"), input);
        store->setObject(QStringLiteral("k"), input);
        QVERIFY(store->synchronize());
        const QList<std::pair<const char *, std::shared_ptr<Defaults>>> views{
            {"in memory", memory}, {"writer", store}, {"second handle", Defaults::suite(QStringLiteral("rt"))},
            {"other view", otherView(home, QStringLiteral("rt"))}};
        for (const auto &[name, view] : views) {
            QVERIFY2(view, name);
            const QVariant got = view->object(QStringLiteral("k"));
            QVERIFY2(sameValue(got, expected), qPrintable(QStringLiteral("%1: %2").arg(QLatin1String(name), QDebug::toString(got))));
        }
    }

    void typedReads_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("expected");
        QTest::newRow("Boolean") << QVariant(true) << "b=true i=- n=- s=- l=- d=- t=-";
        QTest::newRow("integer 1 is not a Boolean") << QVariant::fromValue(qint64(1)) << "b=- i=1 n=1 s=- l=- d=- t=-";
        QTest::newRow("whole double") << QVariant(-3.0) << "b=- i=-3 n=-3 s=- l=- d=- t=-";
        QTest::newRow("fractional double") << QVariant(2.5) << "b=- i=- n=2.5 s=- l=- d=- t=-";
        QTest::newRow("double beyond integers") << QVariant(1e19) << "b=- i=- n=1e+19 s=- l=- d=- t=-";
        QTest::newRow("lowest integer as double") << QVariant(-0x1p63) << "b=- i=-9223372036854775808 n=-9.22337e+18 s=- l=- d=- t=-";
        QTest::newRow("NaN") << QVariant(std::nan("")) << "b=- i=- n=nan s=- l=- d=- t=-";
        QTest::newRow("text true") << QVariant(QStringLiteral("true")) << "b=- i=- n=- s=true l=- d=- t=-";
        QTest::newRow("list") << QVariant(QStringList{QStringLiteral("a"), QStringLiteral("b")}) << "b=- i=- n=- s=- l=a,b d=- t=-";
        QTest::newRow("data") << QVariant(QByteArray("\x01\xff")) << "b=- i=- n=- s=- l=- d=01ff t=-";
        QTest::newRow("date") << QVariant(kDate) << "b=- i=- n=- s=- l=- d=- t=2023-11-14T22:13:20.123Z";
        QTest::newRow("absent") << QVariant() << "b=- i=- n=- s=- l=- d=- t=-";
    }
    void typedReads()
    {
        QFETCH(QVariant, stored);
        QFETCH(QString, expected);
        TestHome home;
        auto memory = Defaults::inMemory();
        memory->setObject(QStringLiteral("k"), stored);
        Defaults::suite(QStringLiteral("typed"))->setObject(QStringLiteral("k"), stored);
        QCOMPARE(typedView(*memory, QStringLiteral("k")), expected);
        QCOMPARE(typedView(*otherView(home, QStringLiteral("typed")), QStringLiteral("k")), expected);
    }

    void removal_data()
    {
        QTest::addColumn<int>("how");
        QTest::newRow("remove") << 0;
        QTest::newRow("invalid variant") << 1;
        QTest::newRow("null pointer variant") << 2;
    }
    void removal()
    {
        QFETCH(int, how);
        TestHome home;
        auto store = Defaults::suite(QStringLiteral("rm"));
        store->set(QStringLiteral("gone"), QStringLiteral("x"));
        store->set(QStringLiteral("kept"), true);
        if (how == 0)
            store->remove(QStringLiteral("gone"));
        else
            store->setObject(QStringLiteral("gone"), how == 1 ? QVariant() : QVariant::fromValue(nullptr));
        store->remove(QStringLiteral("never there"));
        for (const auto &view : {store, otherView(home, QStringLiteral("rm"))}) {
            QVERIFY(!view->contains(QStringLiteral("gone")));
            QCOMPARE(view->keys(), QStringList{QStringLiteral("kept")});
        }
    }

    void handlesShareOneStorePerFile()
    {
        TestHome home;
        auto a = Defaults::suite(QStringLiteral("shared"));
        auto b = Defaults::suite(QStringLiteral("shared"));
        QCOMPARE(a.get(), b.get());
        a->set(QStringLiteral("k"), 5);
        QCOMPARE(b->integer(QStringLiteral("k")), 5);
        QCOMPARE(Defaults::standard().get(), Defaults::standard().get());
        QVERIFY(Defaults::standard().get() != a.get());
        {
            TestHome elsewhere;
            auto c = Defaults::suite(QStringLiteral("shared"));
            QVERIFY(c && c.get() != a.get());
            QVERIFY(!c->contains(QStringLiteral("k")));
        }
        QCOMPARE(Defaults::suite(QStringLiteral("shared")).get(), a.get());
        QVERIFY(Defaults::inMemory().get() != Defaults::inMemory().get());
    }

    void corruptFileIsMovedAside_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("whileOpen");
        QTest::newRow("garbage") << QByteArray("not json at all") << false;
        QTest::newRow("truncated") << QByteArray("{\"a\": {\"type\": \"bool\", \"va") << false;
        QTest::newRow("array") << QByteArray("[1, 2]") << false;
        QTest::newRow("binary") << QByteArray("\x00\xff\x00", 3) << false;
        QTest::newRow("garbage while open") << QByteArray("}{") << true;
    }
    void corruptFileIsMovedAside()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, whileOpen);
        TestHome home;
        const QString file = suiteFile(home, QStringLiteral("bad"));
        LogCapture capture;
        std::shared_ptr<Defaults> store;
        if (whileOpen) {
            store = Defaults::suite(QStringLiteral("bad"));
            store->set(QStringLiteral("old"), 1);
        }
        writeRaw(file, bytes);
        if (!whileOpen)
            store = Defaults::suite(QStringLiteral("bad"));
        QVERIFY(store);
        QCOMPARE(store->keys(), QStringList());

        const QStringList aside = QDir(QFileInfo(file).path()).entryList({QStringLiteral("bad.json.corrupt-*")});
        QCOMPARE(aside.size(), 1);
        QVERIFY(QRegularExpression(QStringLiteral("^bad\\.json\\.corrupt-\\d{8}T\\d{6}\\.\\d{3}Z$")).match(aside[0]).hasMatch());
        QFile kept(QFileInfo(file).path() + QLatin1Char('/') + aside[0]);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), bytes);
        const auto lines = capture.lines(QStringLiteral("Defaults"));
        QCOMPARE(lines.size(), 1);
        QCOMPARE(lines[0].level, LogLevel::Error);
        QVERIFY(lines[0].text.contains(kept.fileName()));

        store->set(QStringLiteral("k"), QStringLiteral("v"));
        QVERIFY(store->synchronize());
        QCOMPARE(otherView(home, QStringLiteral("bad"))->string(QStringLiteral("k")), QStringLiteral("v"));
        QCOMPARE(capture.lines(QStringLiteral("Defaults")).size(), 1);
    }

    void entriesNotUnderstoodAreSkippedAndKept()
    {
        TestHome home;
        const QString file = suiteFile(home, QStringLiteral("mixed"));
        writeRaw(file, R"({"good": {"type": "bool", "value": true},
                           "future": {"type": "colour", "value": "red"},
                           "bare": 5,
                           "mistyped": {"type": "bool", "value": 1},
                           "fraction": {"type": "integer", "value": 1.5},
                           "bad data": {"type": "data", "value": "***"}})");
        auto store = Defaults::suite(QStringLiteral("mixed"));
        QCOMPARE(store->keys(), QStringList{QStringLiteral("good")});
        store->set(QStringLiteral("new"), 1);
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QJsonObject onDisk = QJsonDocument::fromJson(f.readAll()).object();
        QCOMPARE(onDisk.value(QStringLiteral("future")).toObject().value(QStringLiteral("value")).toString(), QStringLiteral("red"));
        QCOMPARE(onDisk.value(QStringLiteral("bare")).toInt(), 5);
        QVERIFY(QDir(QFileInfo(file).path()).entryList({QStringLiteral("*corrupt*")}).isEmpty());
    }

    void unopenableSuiteIsNull_data()
    {
        QTest::addColumn<Unopenable>("situation");
        QTest::addColumn<QString>("name");
        QTest::newRow("config folder is a file") << Unopenable::ConfigHomeIsFile << "s";
        QTest::newRow("kovra folder is a file") << Unopenable::KovraIsFile << "s";
        QTest::newRow("suite file is a folder") << Unopenable::SuiteFileIsFolder << "s";
        QTest::newRow("lock file is a folder") << Unopenable::LockIsFolder << "s";
        QTest::newRow("file unreadable") << Unopenable::UnreadableFile << "s";
        QTest::newRow("folder read-only") << Unopenable::ReadOnlyFolder << "s";
        QTest::newRow("empty name") << Unopenable::BadName << "";
        QTest::newRow("name climbs out") << Unopenable::BadName << "..";
        QTest::newRow("name with slash") << Unopenable::BadName << "../../etc/x";
    }
    void unopenableSuiteIsNull()
    {
        QFETCH(Unopenable, situation);
        QFETCH(QString, name);
        if ((situation == Unopenable::UnreadableFile || situation == Unopenable::ReadOnlyFolder) && ::geteuid() == 0)
            QSKIP("permissions do not bind root");
        TestHome home;
        const QString folder = home.configHome() + QStringLiteral("/kovra");
        const QString file = suiteFile(home, QStringLiteral("s"));
        QDir().mkpath(folder);
        switch (situation) {
        case Unopenable::ConfigHomeIsFile:
            QDir(home.configHome()).removeRecursively();
            writeRaw(home.configHome(), "x");
            break;
        case Unopenable::KovraIsFile:
            QDir(folder).removeRecursively();
            writeRaw(folder, "x");
            break;
        case Unopenable::SuiteFileIsFolder:
            QDir().mkpath(file);
            break;
        case Unopenable::LockIsFolder:
            QDir().mkpath(file + QStringLiteral(".lock"));
            break;
        case Unopenable::UnreadableFile:
            writeRaw(file, "{}");
            QFile::setPermissions(file, QFile::WriteOwner);
            break;
        case Unopenable::ReadOnlyFolder:
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
            break;
        case Unopenable::BadName:
            break;
        }
        LogCapture capture;
        QVERIFY(!Defaults::suite(name));
        QVERIFY(!capture.texts(QStringLiteral("Defaults")).isEmpty());
        const auto standard = Defaults::standard();
        QVERIFY(standard);
        standard->set(QStringLiteral("k"), true);
        QCOMPARE(standard->boolean(QStringLiteral("k")), true);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // Another writer's change must be seen even when the new file has the size of
    // the old one and the file system hands out the freed inode number again.
    void viewsSeeEachOthersSameSizeChanges()
    {
        TestHome home;
        auto a = Defaults::suite(QStringLiteral("pingpong"));
        auto b = otherView(home, QStringLiteral("pingpong"));
        for (int i = 0; i < 50; ++i) {
            const QString value = i % 2 ? QStringLiteral("x") : QStringLiteral("y");
            a->set(QStringLiteral("a"), QStringLiteral("z"));
            a->set(QStringLiteral("a"), value);
            QCOMPARE(b->string(QStringLiteral("a")), value);
            b->set(QStringLiteral("b"), value);
            QCOMPARE(a->string(QStringLiteral("b")), value);
        }
    }

    // A writer replaces only the keys it changed, even when its view of the others is stale.
    void writerKeepsOthersKeys()
    {
        TestHome home;
        auto a = Defaults::suite(QStringLiteral("merge"));
        auto b = otherView(home, QStringLiteral("merge"));
        a->set(QStringLiteral("shared"), 1);
        QCOMPARE(b->integer(QStringLiteral("shared")), 1);
        a->set(QStringLiteral("shared"), 2);
        a->set(QStringLiteral("gone"), 3);
        a->remove(QStringLiteral("gone"));
        b->set(QStringLiteral("own"), 1); // b has not read since a's changes
        auto fresh = otherView(home, QStringLiteral("merge"));
        QCOMPARE(fresh->keys(), (QStringList{QStringLiteral("own"), QStringLiteral("shared")}));
        QCOMPARE(fresh->integer(QStringLiteral("shared")), 2);
    }

    void threadsLoseNoWrites()
    {
        TestHome home;
        auto store = Defaults::suite(QStringLiteral("threads"));
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([store, t] {
                for (int i = 0; i < 25; ++i) {
                    store->set(QStringLiteral("t%1-%2").arg(t).arg(i), i);
                    store->keys();
                }
            });
        }
        for (auto &thread : threads)
            thread.join();
        auto fresh = otherView(home, QStringLiteral("threads"));
        QCOMPARE(fresh->keys().size(), 100);
        QCOMPARE(fresh->integer(QStringLiteral("t3-24")), 24);
    }

    // A failed write keeps the change in this process and is retried by synchronize().
    void failedWriteIsReportedAndRetried()
    {
        TestHome home;
        auto store = Defaults::suite(QStringLiteral("io"));
        const QString blocker = suiteFile(home, QStringLiteral("io")) + QStringLiteral(".tmp");
        QVERIFY(QDir().mkpath(blocker)); // the temporary file cannot be created
        LogCapture capture;
        store->set(QStringLiteral("k"), 1);
        QCOMPARE(capture.lines(QStringLiteral("Defaults")).size(), 1);
        QVERIFY(!store->synchronize());
        QCOMPARE(store->integer(QStringLiteral("k")), 1);
        QVERIFY(!otherView(home, QStringLiteral("io"))->contains(QStringLiteral("k")));
        QVERIFY(QDir(blocker).removeRecursively());
        QVERIFY(store->synchronize());
        QCOMPARE(otherView(home, QStringLiteral("io"))->integer(QStringLiteral("k")), 1);
    }
};

QTEST_GUILESS_MAIN(DefaultsTest)
#include "tst_defaults.moc"
