#include "DiagnosticsFakes.h"

#include "support/view/ViewHarness.h"
#include "ui/design/Brand.h"
#include "ui/diagnostics/DiagnosticsModule.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QQuickWindow>

using namespace kovra;
using namespace kovra::ui;
using test::argb;

namespace {

const QDateTime kTime(QDate(2026, 12, 5), QTime(20, 6, 5, 789), Qt::OffsetFromUTC, 3 * 3600);
const QString kFailure = u"tun: open /dev/net/tun: <b>permission denied</b>\nretry 1 of 3"_qs;
const QString kLog = u"17:06:01 start\n17:06:02 fetch config: 200, 48213 bytes, uuid=***\n17:06:05 <i>tun up</i>"_qs;
const QString kConfig = u"{\"outbounds\":[{\"type\":\"vless\",\"uuid\":\"***\",\"tag\":\"<de-1>\"}"_qs
                        + u",{\"type\":\"vless\",\"uuid\":\"***\",\"tag\":\"nl-2\"}"_qs.repeated(30) + u"]}"_qs;

} // namespace

class DiagnosticsCardsViewTest : public test::ViewTestCase {
    Q_OBJECT

    test::FakeTelemetry m_telemetry;
    test::FakeControlPlane m_controlPlane;
    test::TestHome m_home{test::TestHome::PathsOnly};

    // A named item of the card a named slot shows.
    QQuickItem *part(const QString &slot, const QString &name)
    {
        return test::ViewHarness::findIn(view().find(slot)->property("item").value<QQuickItem *>(), name);
    }

private Q_SLOTS:
    // Everything present, the tunnel connected, 2 of 6 probes passing; or the tunnel
    // connecting (its status is not asked for, though the provider would answer), no
    // engine, only a start-up failure file, 6 of 6 passing.
    void sheet_data()
    {
        QTest::addColumn<bool>("full");
        QTest::addColumn<QList<int>>("lines"); // the status line's kinds, from the first
        const QList<int> connected{StatusLine::Idle, StatusLine::Running, StatusLine::Summary};
        const QList<int> connecting{StatusLine::Disconnected, StatusLine::StartupFailure, connected[1], connected[2]};
        QTest::newRow("full") << true << connected;
        QTest::newRow("full, dark") << true << connected;
        QTest::newRow("connecting") << false << connecting;
    }
    void sheet()
    {
        QFETCH(bool, full);
        registerDiagnosticsModule();
        auto prober = std::make_shared<test::ScriptedProber>();
        test::scriptProbes(*prober, {{true, 12, u"ok"_qs}, {true, 48, u"ok"_qs}, {!full, 4000, u"timeout"_qs}});
        m_controlPlane = {};
        auto options = test::sheetOptions(m_home.paths(), prober, m_controlPlane);
        // The view holds the controller weakly; it has no use for it once the run is over.
        test::TunnelRig rig(full ? 3 : 2);
        rig.provider.setMessageReply(u"status"_qs, provider::ProviderServer::Reply::withData(R"({"singboxRunning":true,
            "ifaceName":"utun7","ifaceIndex":0,"lastTunOpenAt":"2026-12-05T17:06:05Z","tunOpenError":"EBUSY <b>",
            "recentLogs":["17:06:04 router: started","17:06:05 outbound de-1 selected"]})"));
        options.loaders.startupFailure = [](auto &) { return std::optional(LastStartupDiagnostics::Snapshot{kFailure, kTime}); };
        if (full) {
            m_telemetry.lines = {u"17:06:10 probe de-1 ok 48 ms"_qs, u"17:07:10 verdict: healthy"_qs};
            options.loaders.lastStartup = [](auto &) { return std::optional(LastStartupDiagnostics::Snapshot{kLog, {}}); };
            options.loaders.fetchedConfig = [](auto &) {
                return std::optional(FetchedConfigDiagnostics::Snapshot{u"7 outbounds, 2 rules"_qs, kConfig, kConfig, kTime});
            };
        }
        // Lives as long as the engine, so after the items.
        auto *model = new DiagnosticsView(&rig.controller, full ? &m_telemetry : nullptr, std::move(options),
                                          &view().engine());
        QList<int> lines{model->statusSection()->line().kind};
        const QObject scope;
        connect(model->statusSection(), &StatusSection::lineChanged, &scope, [&] { lines << model->statusSection()->line().kind; });
        model->appear();
        QVERIFY(view().show(u"Kovra.Diagnostics/DiagnosticsSheet"_qs, {{u"model"_qs, QVariant::fromValue(model)}}));
        QTRY_VERIFY(model->hasReport() && m_controlPlane.calls.size() == (full ? 0 : 1));

        QCOMPARE(view().argb(u"statusText"_qs), argb(full ? view().brand().warning() : view().brand().success()));
        QCOMPARE(view().value(u"statusDot"_qs, u"glow"_qs).toBool(), !full);
        QTEST(lines, "lines");
        QCOMPARE(argb(part(u"startupFailureCard"_qs, u"cardTitle"_qs)->property("color").value<QColor>()), argb(view().brand().danger()));
        view().saveScreenshot(u"top"_qs);

        model->setShowTechnicalDetails(true);
        QVERIFY(view().waitForFrame());
        for (const QString &name : {u"tunnelStatusCard"_qs, u"reliabilityCard"_qs, u"lastStartupCard"_qs, u"fetchedConfigCard"_qs})
            QCOMPARE(view().isShown(name), full);
        if (!full)
            return;
        QCOMPARE(part(u"lastStartupCard"_qs, u"cardRow"_qs)->property("text").toString(), kLog);
        QCOMPARE(part(u"lastStartupCard"_qs, u"cardRow"_qs)->property("textFormat").toInt(), int(Qt::PlainText));
        QQuickItem *scroller = view().find(u"scroller"_qs);
        const qreal tunnel = view().find(u"tunnelStatusCard"_qs)->mapToItem(scroller->property("contentItem").value<QQuickItem *>(), QPointF()).y();
        for (const qreal y : {tunnel, scroller->property("contentHeight").toReal() - scroller->height()}) {
            scroller->setProperty("contentY", y);
            view().saveScreenshot(y == tunnel ? u"tunnel"_qs : u"end"_qs);
        }
        // The last copy control on screen is the fetched configuration's.
        const QPointF copy = part(u"fetchedConfigCard"_qs, u"copyButton"_qs)->mapToScene(QPointF(8, 8));
        QTest::mouseClick(view().window(), Qt::LeftButton, {}, copy.toPoint());
        QCOMPARE(QGuiApplication::clipboard()->text(), u"7 outbounds, 2 rules\n\n"_qs + kConfig + u"\n\n"_qs + kConfig);
    }
};

QTEST_MAIN(DiagnosticsCardsViewTest)
#include "vtst_diagnostics_cards.moc"
