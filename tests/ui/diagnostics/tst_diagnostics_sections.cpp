#include "platform/Json.h"
#include "ui/diagnostics/DetailCards.h"
#include "ui/diagnostics/StatusSection.h"

#include <QTest>

using namespace kovra;
using namespace kovra::ui;

namespace {

// 20:06:05.789 at +03:00: 17:06:05 UTC.
const QDateTime kTime(QDate(2026, 12, 5), QTime(20, 6, 5, 789), Qt::OffsetFromUTC, 3 * 3600);
const QString kFetched = u"label|config-fetched.json (до очистки, секреты → ***)"_qs;
const QString kSanitized = u"label|config-sanitized.json (после правил R1–R5, идёт в Libbox)"_qs;

// A card as QML reads it: "title [tone] time", "kind|text" per row, "copy|text"; "-" for none.
QStringList describe(const std::optional<ResultCard> &card)
{
    const QVariantMap f = ResultCard::fields(card);
    QStringList out{f.value(u"title"_qs).toString() + u" ["_qs + QVariant::fromValue(TextTone::Value(f.value(u"titleTone"_qs).toInt())).toString()
                    + u"] "_qs + f.value(u"time"_qs).toString()};
    for (const QVariant &row : f.value(u"rows"_qs).toList())
        out.append(row.toMap().value(u"kind"_qs).toString() + u'|' + row.toMap().value(u"text"_qs).toString());
    if (f.contains(u"copyText"_qs))
        out.append(u"copy|"_qs + f.value(u"copyText"_qs).toString());
    return card ? out : QStringList{u"-"_qs};
}

} // namespace

class DiagnosticsSectionsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The tag is the input: "running", "<passed>/<total>" (a report), "connected", "failure".
    void statusLine_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("look"); // tone, dot, glow
        const QString none = u"Проблема на пути к серверам — попробуйте другую локацию"_qs;
        const QString idle = u"Нажмите «Запустить ещё раз»"_qs;
        QTest::newRow("running 6/6 connected failure") << u"Запускаю пробы…"_qs << u"Secondary -"_qs;
        QTest::newRow("6/6 connected failure") << u"Соединение работает: открываются 6 из 6 сервисов"_qs
                                               << u"Success Connected glow"_qs;
        QTest::newRow("2/6") << u"Работает частично: открываются 2 из 6 сервисов"_qs << u"Warning Warning"_qs;
        QTest::newRow("0/6") << none << u"Danger Danger"_qs;
        QTest::newRow("0/0 failure") << none << u"Danger Danger"_qs;
        QTest::newRow("connected") << idle << u"Secondary -"_qs;
        QTest::newRow("connected failure") << idle << u"Secondary -"_qs;
        QTest::newRow("failure") << u"Не удалось запустить туннель"_qs << u"Danger Danger"_qs;
        QTest::newRow("nothing") << u"Туннель не подключён"_qs << u"Secondary -"_qs;
    }
    void statusLine()
    {
        const QString tag = QString::fromLatin1(QTest::currentDataTag());
        std::optional<DiagnosticsReport> report;
        if (const qsizetype slash = tag.indexOf(u'/'); slash > 0) {
            report.emplace();
            for (int i = 0; i < tag.mid(slash + 1, 1).toInt(); ++i)
                report->probes.append({QUuid::createUuid(), u"probe"_qs, i < tag.mid(slash - 1, 1).toInt(), 5, QString()});
        }
        const StatusLine line = StatusLine::compose(tag.contains(u"running"), report, tag.contains(u"connected"),
                                                    tag.contains(u"failure"));
        QTEST(line.text, "text");
        QTEST(QVariant::fromValue(line.tone).toString() + u' ' + (line.dot ? QVariant::fromValue(*line.dot).toString() : u"-"_qs)
                  + (line.glow ? u" glow"_qs : QString()),
              "look");
        // The summary and the failure are headlines beside a dot; the rest plain lines.
        QCOMPARE(line.headline, line.dot.has_value());
    }

    // Both start-up cards: the time in UTC to the second, else none (the failure) or
    // "время неизвестно" (the last start-up); the text whole, copied as it stands.
    void startupCards()
    {
        const QString log = u"step 1: ok\nstep 2: <b>fail</b> %@ ***\n"_qs;
        const QStringList body{u"text|"_qs + log, u"copy|"_qs + log};
        const auto failure = [&](std::optional<QDateTime> time) { return describe(StatusSection::startupFailureCard({{log, time}})); };
        const auto startup = [&](std::optional<QDateTime> time) { return describe(DetailCards::lastStartupCard({{log, time}})); };
        QCOMPARE(failure(kTime), QStringList{u"Почему туннель не запустился [Danger] 2026-12-05T17:06:05Z"_qs} + body);
        QCOMPARE(failure(QDateTime()), QStringList{u"Почему туннель не запустился [Danger] "_qs} + body);
        QCOMPARE(startup(kTime), QStringList{u"Последний запуск туннеля [Primary] 2026-12-05T17:06:05Z"_qs} + body);
        QCOMPARE(startup(std::nullopt), QStringList{u"Последний запуск туннеля [Primary] время неизвестно"_qs} + body);
        QVERIFY(!StatusSection::startupFailureCard(std::nullopt) && !DetailCards::lastStartupCard(std::nullopt));
    }

    // The tunnel's status as the provider sends it, and the card's rows.
    void tunnelStatusCard_data()
    {
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("all absent") << QByteArray(R"({"singboxRunning":false,"recentLogs":[]})")
                                    << QStringList{u"text|sing-box: остановлен · интерфейс: — · idx —"_qs};
        QTest::newRow("index 0") << QByteArray(R"({"singboxRunning":true,"ifaceName":"utun7","ifaceIndex":0,"recentLogs":[]})")
                                 << QStringList{u"text|sing-box: работает · интерфейс: utun7 · idx 0"_qs};
        QTest::newRow("negative index, error, logs")
            << QByteArray(R"({"singboxRunning":true,"ifaceName":"tun0","ifaceIndex":-3,"tunOpenError":"EPERM %@ <b>",
                             "recentLogs":["a"," b "],"activeOutboundTag":"de-1"})")
            << QStringList{u"text|sing-box: работает · интерфейс: tun0 · idx -3"_qs,
                           u"error|ошибка открытия tun: EPERM %@ <b>"_qs, u"label|Последние логи"_qs, u"text|a\n b "_qs};
        QTest::newRow("opened, empty error, one empty log line")
            << QByteArray(R"({"singboxRunning":false,"ifaceIndex":12,"lastTunOpenAt":"2026-12-05T20:06:05+03:00",
                             "tunOpenError":"","recentLogs":[""]})")
            << QStringList{u"text|sing-box: остановлен · интерфейс: — · idx 12"_qs, u"text|tun открыт: 2026-12-05T17:06:05Z"_qs,
                           u"error|ошибка открытия tun: "_qs, u"label|Последние логи"_qs, u"text|"_qs};
    }
    void tunnelStatusCard()
    {
        QFETCH(QByteArray, status);
        QFETCH(QStringList, rows);
        const JsonDecoder decoder(KeyDecoding::useDefaultKeys, DateDecoding::iso8601);
        QCOMPARE(describe(DetailCards::tunnelStatusCard(decoder.decode<TunnelStatusReport>(status))),
                 QStringList{u"Туннель [Primary] "_qs} + rows);
    }

    // The engine's lines in one block, each kept as it stands; none: no card.
    void reliabilityCard()
    {
        QCOMPARE(describe(DetailCards::reliabilityCard({})), QStringList{u"-"_qs});
        QCOMPARE(describe(DetailCards::reliabilityCard({u"a"_qs})), (QStringList{u"Движок надёжности [Primary] "_qs, u"text|a"_qs}));
        QCOMPARE(describe(DetailCards::reliabilityCard({u"a"_qs, u" b "_qs, u""_qs})).last(), u"text|a\n b \n"_qs);
    }

    // Each block only when its text is present (an empty one is); the copy text joins
    // the present ones with one empty line between them; all absent: no card. The tag
    // tells whether the snapshot has a time.
    void fetchedConfigCard_data()
    {
        QTest::addColumn<QString>("texts"); // summary|fetched|sanitized, "-" for an absent one
        QTest::addColumn<QStringList>("card");
        const QString json = u"{\"uuid\":\"***\",\n \"tag\":\"<b>de</b>\"}"_qs;
        const QString dated = u"Полученный конфиг [Primary] 2026-12-05T17:06:05Z"_qs;
        QTest::newRow("dated, all absent") << u"-|-|-"_qs << QStringList{u"-"_qs};
        QTest::newRow("summary only") << u"S\n|-|-"_qs
                                      << QStringList{u"Полученный конфиг [Primary] "_qs, u"text|S\n"_qs, u"copy|S\n"_qs};
        QTest::newRow("dated, fetched missing")
            << u"S|-|"_qs + json << QStringList{dated, u"text|S"_qs, kSanitized, u"text|"_qs + json, u"copy|S\n\n"_qs + json};
        QTest::newRow("dated, empty summary, fetched only")
            << u"|"_qs + json + u"|-"_qs << QStringList{dated, u"text|"_qs, kFetched, u"text|"_qs + json, u"copy|\n\n"_qs + json};
        QTest::newRow("dated, all three, sanitized empty")
            << u"S|"_qs + json + u"|"_qs
            << QStringList{dated, u"text|S"_qs, kFetched, u"text|"_qs + json, kSanitized, u"text|"_qs,
                           u"copy|S\n\n"_qs + json + u"\n\n"_qs};
    }
    void fetchedConfigCard()
    {
        QFETCH(QString, texts);
        const QStringList t = texts.split(u'|');
        const auto text = [](const QString &v) { return v == u"-" ? std::nullopt : std::optional(v); };
        const bool dated = QByteArray(QTest::currentDataTag()).startsWith("dated");
        QTEST(describe(DetailCards::fetchedConfigCard(FetchedConfigDiagnostics::Snapshot{
                  text(t[0]), text(t[1]), text(t[2]), dated ? std::optional(kTime) : std::nullopt})),
              "card");
    }
};

QTEST_GUILESS_MAIN(DiagnosticsSectionsTest)
#include "tst_diagnostics_sections.moc"
