#include "ui/account/AccountModule.h"
#include "ui/account/AccountPageModel.h"
#include "ui/design/Brand.h"
#include "ui/design/SheetHost.h"
#include "ui/main/HomeNotice.h"
#include "ui/main/MainModule.h"

#include "HomeFakes.h"
#include "support/view/ViewHarness.h"
#include "ui/diagnostics/DiagnosticsFakes.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>

using namespace kovra;
using namespace kovra::ui;
using namespace kovra::test;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

using V = ConnectivityVerdict;
using Ext = FakeExtensionManager::Callback;
using Visual = ConnectButtonVisual::Value;

namespace {

enum Banner { none = -1, startError = -2 };
const QString kStartError = u"Не удалось подключиться. Попробуйте ещё раз."_s;

// name, status, verdict, banner (an extension answer, none or startError); the
// button's look and the status text's colour.
using ScreenRow = std::tuple<const char *, int, V, int, Visual, const char *>;
const ScreenRow kScreenRows[] = {
    {"idle", 1, V::idle, none, Visual::Idle, "textSecondary"},
    {"progress, reboot", 2, V::idle, Ext::WillCompleteAfterReboot, Visual::Progress, "warning"},
    {"checking, start error", 3, V::checking, startError, Visual::ConnectedChecking, "success"},
    {"verified, approval", 3, V::online, Ext::NeedsApproval, Visual::Verified, "success"},
    {"failed, extension failed", 3, V::degraded, Ext::Failed, Visual::Failed, "danger"},
};

} // namespace

class HomeViewTest : public ViewTestCase {
    Q_OBJECT

    std::unique_ptr<HomeRig> m_rig;
    std::shared_ptr<ScriptedProber> m_prober;
    FakeControlPlane m_controlPlane;

    // The home view of a rig whose route goes through РФ-1 to Амстердам, `width` wide.
    QQuickItem *showHome(int width = 1000, int height = 640)
    {
        m_rig.reset();
        m_rig = std::make_unique<HomeRig>(u"ru-1"_s, u"nl"_s, [this](HomeRig &rig) {
            m_prober = std::make_shared<ScriptedProber>(rig.clock);
            HomeModel::Options options;
            options.diagnostics = sheetOptions(rig.home.paths(), m_prober, m_controlPlane, rig.clock);
            options.diagnostics.baseURLs = {FakeService::closedPortURL()};
            return options;
        });
        m_rig->api.service.script(FakeService::anyHost, "GET", u"/me/subscription"_s,
                                  {FakeReply::json(200, kActiveSubscription)});
        return view().show(u"Kovra.Main/HomeView"_s,
                           {{"model", QVariant::fromValue(&m_rig->model)}, {"width", width}, {"height", height}},
                           {.margin = 0});
    }

private Q_SLOTS:
    void initTestCase()
    {
        registerMainModule();
        registerAccountModule();
    }
    void cleanup()
    {
        ViewTestCase::cleanup();
        if (m_rig)
            m_rig->clock->advance(10s);
        m_rig.reset();
    }

    // Each button look with a banner (the last one also dark): the status text in the
    // dot state's colour, the glow with the verdict online, the banner's button only for
    // approval, the row locked in transition; the layout at most 840 wide, padded 24,
    // the hero card 250 wide beside a right column of at least 280.
    void screens_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; i < int(std::size(kScreenRows)); ++i)
            QTest::newRow(std::get<0>(kScreenRows[i])) << i;
        QTest::newRow("failed, extension failed, dark") << int(std::size(kScreenRows)) - 1;
    }
    void screens()
    {
        QFETCH(int, row);
        const auto [name, status, verdict, banner, visual, role] = kScreenRows[row];
        QVERIFY(showHome());
        HomeRig &rig = *m_rig;
        rig.provider.setStatus(status);
        rig.engine.set(verdict);
        QTRY_COMPARE(rig.extensions.submitCount(), 1);
        rig.extensions.deliver({banner >= 0 ? Ext::Kind(banner) : Ext::Completed, u"no provider"_s});
        if (banner == startError)
            rig.coordinator.hero()->showStartError(kStartError);
        QTRY_COMPARE(view().value(u"connectButton"_s, u"visual"_s).toInt(), int(visual));
        QTRY_VERIFY(rig.model.canInteract());
        QTRY_COMPARE(view().real(u"connectButton"_s, u"opacity"_s), 1.0);
        QTRY_COMPARE(view().real(u"noticeBanner"_s, u"opacity"_s), banner == none ? 0.0 : 1.0);
        QCOMPARE(view().isShown(u"noticeBanner"_s), banner != none);
        QCOMPARE(view().isShown(u"bannerAction"_s), banner == Ext::NeedsApproval);

        QCOMPARE(view().argb(u"statusText"_s), argb(view().brand().property(role).value<QColor>()));
        QCOMPARE(view().value(u"statusDot"_s, u"glow"_s).toBool(), verdict == V::online);
        const bool locked = status == 2;
        QCOMPARE(view().value(u"connectionRow"_s, u"enabled"_s).toBool(), !locked);
        QCOMPARE(view().isShown(u"connectionChevron"_s), !locked);
        QVERIFY(view().isShown(u"connectionLabel"_s) && !view().isShown(u"autoSymbol"_s));

        const auto real = [&](const char *name, const char *property) {
            return view().real(QString::fromLatin1(name), QString::fromLatin1(property));
        };
        const qreal slot = real("noticeSlot", "height");
        QCOMPARE((QList<qreal>{real("homeContent", "width"), real("homeContent", "x"), real("homeContent", "y"),
                               real("heroCard", "width"), real("rightColumn", "x"), real("heroRow", "y")}),
                 (QList<qreal>{840.0 - 48, (1000 - 840) / 2 + 24.0, 24.0, 250.0, 250.0 + 16, slot + 16}));
        QVERIFY(real("rightColumn", "width") >= 280 && slot >= 32);
        view().saveScreenshot(u"home"_s);
    }

    // Both sheets open as window-modal child windows of the home window, titled, at
    // least their minimum size. Escape clears the flag; set again, the flag opens the
    // sheet anew, and cleared, closes it.
    void sheets_data()
    {
        QTest::addColumn<bool>("diagnostics");
        QTest::newRow("diagnostics") << true;
        QTest::newRow("picker") << false;
    }
    void sheets()
    {
        QFETCH(bool, diagnostics);
        QVERIFY(showHome(800, 600));
        HomeModel &model = m_rig->model;
        const auto flag = [&] { return diagnostics ? model.showDiagnostics() : model.showConnectionPicker(); };
        const auto setFlag = [&](bool on) { diagnostics ? model.setShowDiagnostics(on) : model.setShowConnectionPicker(on); };
        clickCentre(view().window(), view().find(diagnostics ? u"diagnosticsButton"_s : u"connectionRow"_s));
        for (const bool escape : {true, false}) {
            QPointer<SheetHost> host = diagnostics ? model.diagnosticsSheet() : model.connectionPickerSheet();
            QVERIFY(flag() && host && QTest::qWaitForWindowExposed(host->window()));
            QQuickWindow *window = host->window();
            QCOMPARE(std::tuple(window->transientParent(), window->modality(), window->title(), window->minimumSize()),
                     std::tuple(static_cast<QWindow *>(view().window()), Qt::WindowModal,
                                diagnostics ? u"Диагностика"_s : u"Подключение"_s,
                                diagnostics ? QSize(480, 520) : QSize(460, 520)));
            QCOMPARE(ViewHarness::findIn(window->contentItem(), u"title"_s)->property("text"), window->title());
            if (escape) {
                QVERIFY(view().waitForFrame());
                // The sheet's own window, in place of the home window's picture.
                view().saveScreenshot(u"sheet"_s, window);
                window->requestActivate();
                QTRY_COMPARE(QGuiApplication::focusWindow(), static_cast<QWindow *>(window));
                QTest::keyClick(window, Qt::Key_Escape);
                QVERIFY(!flag());
            } else {
                setFlag(false);
            }
            QVERIFY(!window->isVisible());
            QTRY_VERIFY(!host);
            QVERIFY(!flag());
            if (escape)
                setFlag(true);
        }
    }

    // A pushed page brings the back control and its title; going back restores both.
    void navigation()
    {
        QQuickItem *home = showHome();
        QVERIFY(home);
        QCOMPARE(view().value(u"homeTitle"_s, u"text"_s).toString(), u"Kovra S"_s);
        QPointer<AccountPageModel> page = new AccountPageModel(u"Подписка"_s);
        const QVariantMap properties{{"model", QVariant::fromValue(page.data())}};
        QMetaObject::invokeMethod(home, "push", Q_ARG(QVariant, u"qrc:/qt/qml/Kovra/Account/AccountPage.qml"_s),
                                  Q_ARG(QVariant, properties));
        QTRY_VERIFY(page && page->isShown());
        QVERIFY(view().isShown(u"backButton"_s));
        QCOMPARE(view().value(u"homeTitle"_s, u"text"_s).toString(), u"Подписка"_s);
        clickCentre(view().window(), view().find(u"backButton"_s));
        QTRY_VERIFY(!page);
        QVERIFY(!view().isShown(u"backButton"_s));
        QCOMPARE(view().value(u"homeTitle"_s, u"text"_s).toString(), u"Kovra S"_s);
    }

    // The banner's button only with both a title and an action; the text wraps and
    // can be selected with the mouse.
    void banner_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("hasAction");
        QTest::newRow("title and action") << u"Открыть настройки"_s << true;
        QTest::newRow("title without action") << u"Открыть настройки"_s << false;
        QTest::newRow("action without title") << QString() << true;
    }
    void banner()
    {
        QFETCH(QString, title);
        QFETCH(bool, hasAction);
        QQuickItem *banner = view().showQml(
            "import Kovra.Main\nNoticeBanner { width: 380; tone: NoticeTone.Warning\n"
            " text: \"Разрешите запуск службы туннеля Kovra S и подключитесь снова.\" }",
            {{"actionTitle", title}, {"hasAction", hasAction}});
        QVERIFY(banner);
        const bool shows = !title.isEmpty() && hasAction;
        QCOMPARE(view().isShown(u"bannerAction"_s), shows);
        QCOMPARE(view().argb(u"bannerSymbol"_s), argb(view().brand().warning()));
        QQuickItem *text = view().find(u"bannerText"_s);
        QVERIFY(text->height() > 2 * QFontMetricsF(view().brand().captionFont()).height());
        QSignalSpy triggered(banner, SIGNAL(actionTriggered()));
        if (shows)
            clickCentre(view().window(), view().find(u"bannerAction"_s));
        QCOMPARE(triggered.size(), shows ? 1 : 0);
        view().saveScreenshot(u"banner"_s);

        const QPoint from = text->mapToScene({2, 4}).toPoint(), to = text->mapToScene({text->width() - 2, 4}).toPoint();
        QTest::mousePress(view().window(), Qt::LeftButton, {}, from);
        QTest::mouseMove(view().window(), to);
        QTest::mouseRelease(view().window(), Qt::LeftButton, {}, to);
        QVERIFY(!text->property("selectedText").toString().isEmpty());
    }

    // A banner comes and goes with a move and a fade, a change shows the old one going
    // first; with reduce motion each change is at once. The slot keeps its height.
    void noticeTransitions_data()
    {
        QTest::addColumn<bool>("reduceMotion");
        QTest::newRow("animated") << false;
        QTest::newRow("reduce motion") << true;
    }
    void noticeTransitions()
    {
        QFETCH(bool, reduceMotion);
        view().appearance().setReduceMotion(reduceMotion);
        auto clock = std::make_shared<ManualClock>();
        ConnectionHeroState hero([] { return VPNStatus::Disconnected; }, {.clock = clock});
        HomeNotice notice(&hero, nullptr, nullptr);
        QVERIFY(view().showQml("import Kovra.Main\nHomeNoticeSlot { width: 400 }",
                               {{"notice", QVariant::fromValue(&notice)}}));
        const auto opacity = [&] { return view().real(u"noticeBanner"_s, u"opacity"_s); };
        const auto text = [&] { return view().value(u"bannerText"_s, u"text"_s).toString(); };
        QCOMPARE(view().real(u"noticeSlot"_s, u"height"_s), 32.0);
        QVERIFY(!view().isShown(u"noticeBanner"_s));

        hero.showStartError(u"первая"_s);
        QCOMPARE(opacity() == 1.0, reduceMotion);
        QTRY_COMPARE(opacity(), 1.0);
        hero.showStartError(u"вторая"_s);
        QCOMPARE(text(), reduceMotion ? u"вторая"_s : u"первая"_s);
        QTRY_VERIFY(text() == u"вторая" && opacity() == 1.0);
        clock->advance(6s);
        QCOMPARE(view().isShown(u"noticeBanner"_s), !reduceMotion);
        QTRY_VERIFY(!view().isShown(u"noticeBanner"_s));
        QCOMPARE(view().real(u"noticeSlot"_s, u"height"_s), 32.0);
    }
};

QTEST_MAIN(HomeViewTest)
#include "vtst_home_view.moc"
