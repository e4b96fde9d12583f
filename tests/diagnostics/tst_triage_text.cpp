#include "diagnostics/NetworkTriage.h"

#include <QTest>

using namespace kovra;

Q_DECLARE_METATYPE(kovra::TriageBodyOutcome)

namespace {

// Steps from "<host>/<name>/<ok 0|1>/<gotResponse 0|1>" texts.
QList<TriageStep> steps(const QStringList &specs)
{
    QList<TriageStep> out;
    for (const QString &spec : specs) {
        const QStringList f = spec.split(u'/');
        out.append({f[0], f[1], f[2] == u"1", 1, QString(), f[3] == u"1"});
    }
    return out;
}

QStringList passingHost(const QString &host)
{
    return {host + "/dns/1/1", host + "/tcp/1/1", host + "/head/1/1", host + "/echo:1024/1/1", host + "/config/1/1"};
}

} // namespace

class TriageTextTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void summarize_data()
    {
        QTest::addColumn<QStringList>("specs");
        QTest::addColumn<QString>("summary");
        const QStringList a = passingHost("a");
        QTest::newRow("nothing ran") << QStringList{} << "проверки не выполнялись";
        QTest::newRow("all passed") << a + passingHost("b") << "все проверки прошли";
        QTest::newRow("one host works, two fail in order of appearance")
            << QStringList{"c/dns/0/1"} + a + QStringList{"b/dns/1/1", "b/head/0/1", "c/tcp/0/1"}
            << "работает через a; не отвечает c, b";
        QTest::newRow("only config fails on b") << a + QStringList{"b/dns/1/1", "b/echo:1024/1/1", "b/config/0/1"}
                                                << "работает через a; не отвечает b";
        QTest::newRow("body breaks, a working path")
            << QStringList{"b/echo:1024/1/1", "b/echo:65536/0/1"} + a << "тело ответа обрывается начиная с 64 КБ, рабочий путь есть: a";
        QTest::newRow("first answering echo failure counts, no working host")
            << QStringList{"a/echo:1024/0/0", "a/echo:x/0/1", "a/echo:/0/1", "a/echo:99999999999999999999/0/1", "b/echo:1000/0/1", "c/echo:4096/0/1"}
            << "тело ответа обрывается начиная с 1000 Б";
        QTest::newRow("echo failure after a host that works")
            << a + QStringList{"b/head/0/1", "b/echo:+2048/0/1"} << "тело ответа обрывается начиная с 2 КБ, рабочий путь есть: a";
        QTest::newRow("nothing answers") << QStringList{"a/dns/0/1", "a/echo:1024/0/0", "b/tcp/0/1"}
                                         << "ни один хост не отвечает";
    }
    void summarize()
    {
        QFETCH(QStringList, specs);
        QFETCH(QString, summary);
        QCOMPARE(NetworkTriage::summarize(steps(specs)), summary);
    }

    void sizeText_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("1023") << 1023ll << "1023 Б";
        QTest::newRow("1024") << 1024ll << "1 КБ";
        QTest::newRow("1000") << 1000ll << "1000 Б";
        QTest::newRow("65536") << 65536ll << "64 КБ";
    }
    void sizeText()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(NetworkTriage::sizeText(bytes), text);
    }

    void detailText_data()
    {
        QTest::addColumn<TriageBodyOutcome>("outcome");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("complete");
        QTest::newRow("complete") << TriageBodyOutcome{200, 35, 4096, 4096, 80, {}}
                                  << "HTTP 200, 4096/4096 B, head 35ms, done 80ms" << true;
        QTest::newRow("refused") << TriageBodyOutcome{{}, {}, 0, {}, 12, QStringLiteral("cannot connect")}
                                 << "no HTTP response, 0/unknown B, done 12ms, error cannot connect" << false;
        QTest::newRow("no stated length") << TriageBodyOutcome{204, 0, 7, {}, 0, {}}
                                          << "HTTP 204, 7/unknown B, head 0ms, done 0ms" << true;
    }
    void detailText()
    {
        QFETCH(TriageBodyOutcome, outcome);
        QFETCH(QString, text);
        QFETCH(bool, complete);
        QCOMPARE(outcome.detailText(), text);
        QCOMPARE(outcome.isComplete(), complete);
    }

    void reportText()
    {
        const TriageReport report{QDateTime(QDate(2025, 3, 1), QTime(12, 15, 0, 400), Qt::OffsetFromUTC, 10800),
                                  NetworkPathType::cellular,
                                  {{"api1.test", "dns", true, 12, "192.0.2.1", true}, {"api1.test", "echo:1024", false, 0, "", false}},
                                  QStringLiteral("ни один хост не отвечает")};
        QCOMPARE(report.plainText(), QStringLiteral("Kovra S — подробная проверка сети без VPN\n"
                                                    "taken_at=2025-03-01T09:15:00Z net=cellular\n"
                                                    "summary=ни один хост не отвечает\n"
                                                    "api1.test dns ok 12ms 192.0.2.1\n"
                                                    "api1.test echo:1024 fail 0ms "));
        QCOMPARE(report.steps[0].rowText(), QStringLiteral("api1.test  dns  ok  192.0.2.1"));
    }

    // The configuration URL from a stored subscription URL and preferred entry.
    void configurationURL_data()
    {
        QTest::addColumn<QVariant>("subscription"); // invalid: not stored
        QTest::addColumn<QVariant>("entry");
        QTest::addColumn<QString>("url"); // empty: none
        const QVariant none;
        QTest::newRow("empty") << QVariant("") << none << "";
        QTest::newRow("not a URL") << QVariant("http://exa mple.com/%zz") << none << "";
        QTest::newRow("suffix with a slash kept")
            << QVariant("https://s.test/sub/sing_box/?caps=x&a=1&caps=y&entry=old") << QVariant("")
            << "https://s.test/sub/sing_box/?a=1&entry=old&caps=awg,vlessenc";
        QTest::newRow("items replaced, others and encodings kept")
            << QVariant("https://s.test/p%20q/sing_box?entry=old&x=%26y&flag") << QVariant("a&b=c%41")
            << "https://s.test/p%20q/sing_box?x=%26y&flag&caps=awg,vlessenc&entry=a%26b%3Dc%2541";
        QTest::newRow("root path") << QVariant("https://s.test") << none << "https://s.test/sing_box?caps=awg,vlessenc";
    }
    void configurationURL()
    {
        QFETCH(QVariant, subscription);
        QFETCH(QVariant, entry);
        QFETCH(QString, url);
        auto defaults = Defaults::inMemory();
        defaults->setObject(AppGroupKey::subscriptionURL, subscription);
        defaults->setObject(AppGroupKey::preferredEntry, entry);
        const std::optional<QUrl> made = NetworkTriage::configurationURL(*defaults);
        QCOMPARE(made ? made->toString(QUrl::FullyEncoded) : QString(), url);
    }
};

QTEST_GUILESS_MAIN(TriageTextTest)
#include "tst_triage_text.moc"
