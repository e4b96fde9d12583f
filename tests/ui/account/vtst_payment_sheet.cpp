#include "account/AuthState.h"
#include "account/PaymentWaitingState.h"
#include "account/PaymentsService.h"
#include "account/SubscriptionService.h"
#include "account/SubscriptionStore.h"
#include "core/APIError.h"
#include "platform/DesktopUrlOpener.h"
#include "ui/account/AccountScreens.h"
#include "ui/design/Brand.h"
#include "ui/design/SheetHost.h"

#include "support/Await.h"
#include "support/FakeServiceClient.h"
#include "support/ManualClock.h"
#include "support/MemoryTokenStore.h"
#include "support/view/ViewHarness.h"


#include <QAccessible>
#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QStandardPaths>

using namespace kovra;
using namespace kovra::test;
using namespace kovra::ui;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(kovra::test::FakeReply)
using Method = PaymentMethodSheet::Method;

namespace {

const QString kStarsPath = u"/payment/stars/invoice"_s;
const QString kCryptoPath = u"/payment/cryptobot/invoice"_s;
const TariffEntry kPlan{u"plan-3m"_s, {3, 500, 380, 4.5, 100}};

// An invoice whose link is `link` under `field` (an empty field is no link field).
FakeReply invoice(const QString &field, const QString &link, std::chrono::milliseconds delay = {})
{
    return FakeReply::json(200, QJsonDocument(QJsonObject{{u"payment_id"_s, u"p-17"_s}, {field, link}}).toJson(), delay);
}

// What the sheet works with: the fake service's client, a signed-in session, the
// subscription store, and the desktop's link opener whose handler query answers as
// `tgHandler` says ("echo" names an application, "false" none) and whose hand-over
// only records the link. The wait polls every 3 s of a manual clock.
struct Rig {
    FakeServiceClient api{u"tok-pay-5e1c"_s};
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::shared_ptr<MemoryTokenStore> tokens = std::make_shared<MemoryTokenStore>(u"tok-stored-77b0"_s);
    QStringList launched;
    std::shared_ptr<UrlOpener> opener;
    AuthState auth;
    SubscriptionStore subscriptions;
    PaymentsService payments{&api.client};
    AccountScreens screens{[this] {
        AccountServices s;
        s.authState = &auth, s.subscriptionStore = &subscriptions, s.paymentsService = &payments;
        s.linkOpener = opener, s.clock = clock, s.paymentPoll = {3s, 5};
        return s;
    }()};

    explicit Rig(bool tgHandler = true)
        : opener(std::make_shared<DesktopUrlOpener>(DesktopUrlOpener::Options{
              QStandardPaths::findExecutable(tgHandler ? u"echo"_s : u"false"_s), 3s, clock,
              [this](const QUrl &url) { return launched.append(url.toString()), true; }})),
          auth(std::make_shared<AuthService>(&api.client, tokens), tokens, AppGroupStore(Defaults::inMemory(), nullptr),
               opener, AuthState::Options{2s, 60, clock}),
          subscriptions(std::make_shared<SubscriptionService>(&api.client), AppGroupStore(Defaults::inMemory(), nullptr),
                        &auth, {clock})
    {
        await(auth.restore());
    }
};

} // namespace

class PaymentSheetTest : public ViewTestCase {
    Q_OBJECT

    std::unique_ptr<Rig> m_rig;
    QPointer<SheetHost> m_host;
    QPointer<PaymentMethodSheet> m_sheet;

    QQuickItem *find(const QString &name) const { return ViewHarness::findIn(m_host->window()->contentItem(), name); }
    bool shown(const QString &name) const { return find(name) && find(name)->isVisible(); }
    void click(const QString &name) { clickCentre(m_host->window(), find(name)); }
    void saveSheet(const QString &name) { view().saveScreenshot(name, m_host->window()); }

private Q_SLOTS:
    void init()
    {
        ViewTestCase::init();
        m_rig = std::make_unique<Rig>();
        QVERIFY(view().showQml("Rectangle { width: 800; height: 700; color: Brand.background }"));
    }
    void cleanup()
    {
        if (m_host)
            m_host->close();
        QTRY_VERIFY(!m_host);
        ViewTestCase::cleanup();
    }

    // Every way an invoice request ends: the error row, what went to the desktop (busy
    // until then), whether the wait started; the POST went to the method's endpoint
    // with the plan id, once, though the busy sheet was tapped and paid again; a 401
    // ends the session and closes the sheet. A second payment reuses the wait.
    // Closed (or also destroyed) while the request runs: the request runs to its end
    // and a 401 still ends the session; anything else opens nothing, starts no wait
    // and changes nothing.
    void invoiceOutcome_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<FakeReply>("reply");
        QTest::addColumn<bool>("tgHandler");
        QTest::addColumn<QString>("closing");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("opened");
        const QString bad = u"Некорректная ссылка на оплату."_s;
        const auto row = [](const char *name, Method method, const FakeReply &reply, const QString &error,
                            const QString &opened = {}, bool handler = true, const QString &closing = {}) {
            QTest::newRow(name) << int(method) << reply << handler << closing << error << opened;
        };
        const auto link = [](const QString &url) { return invoice(u"invoice_url"_s, url); };
        const QString https = u"https://pay.example/1?start=a1"_s;
        row("https", Method::stars, link(https), {}, https);
        row("tg, handler", Method::crypto, invoice(u"pay_url"_s, u"tg://resolve?domain=CryptoBot&start=IV1"_s), {},
            u"tg://resolve?domain=CryptoBot&start=IV1"_s);
        row("tg, no handler", Method::stars, link(u"tg://invoice?slug=a1"_s), u"Не удалось открыть Telegram для оплаты."_s, {},
            false);
        row("http", Method::crypto, link(u"http://pay.example/1"_s), bad);
        row("no scheme", Method::stars, link(u"pay.example/1"_s), bad);
        row("upper-case scheme", Method::stars, link(u"HTTPS://pay.example/1"_s), bad);
        row("no URL", Method::crypto, link(u"https://pay.example/%zz"_s), bad);
        row("500", Method::stars, FakeReply::json(500), u"Ошибка сервера (500)."_s);
        row("401", Method::crypto, FakeReply::json(401), {});
        row("https, closed", Method::stars, link(https), {}, {}, true, u"closed"_s);
        row("https, destroyed", Method::stars, link(https), {}, {}, true, u"destroyed"_s);
        row("401, closed", Method::crypto, FakeReply::json(401), {}, {}, true, u"closed"_s);
        row("401, destroyed", Method::crypto, FakeReply::json(401), {}, {}, true, u"destroyed"_s);
        row("500, closed", Method::stars, FakeReply::json(500), {}, {}, true, u"closed"_s);
    }
    void invoiceOutcome()
    {
        QFETCH(int, method);
        QFETCH(FakeReply, reply);
        QFETCH(bool, tgHandler);
        QFETCH(QString, closing);
        QFETCH(QString, opened);
        m_rig = std::make_unique<Rig>(tgHandler);
        const QString path = method ? kCryptoPath : kStarsPath;
        m_rig->api.service.script(FakeService::anyHost, "POST", path, {reply});
        std::unique_ptr<PaymentMethodSheet> sheet(m_rig->screens.paymentMethod(kPlan));
        QSignalSpy dismissals(sheet.get(), &PaymentMethodSheet::dismissRequested);
        qsizetype launchedWhenIdle = -1;
        connect(sheet.get(), &PaymentMethodSheet::isPayingChanged, this, [&] { launchedWhenIdle = m_rig->launched.size(); });
        QVERIFY(sheet->selected() == Method::stars && sheet->errorText().isEmpty() && !sheet->showsWaiting());
        sheet->select(method);
        sheet->pay();
        sheet->select(1 - method);
        sheet->pay();
        const Operation<void> work = sheet->payment();
        if (!closing.isEmpty())
            sheet->cancel();
        if (closing == u"destroyed")
            sheet.reset();
        await(work.waitForEnd());
        const bool refused = reply.status == 401;
        QCOMPARE(APIError::kindOf(m_rig->auth.lastError()), refused ? std::optional(APIError::Kind::unauthorized) : std::nullopt);
        QCOMPARE(m_rig->auth.statusKind(), refused ? AuthState::StatusKind::anonymous : AuthState::StatusKind::authenticated);
        QCOMPARE(m_rig->launched, opened.isEmpty() ? QStringList() : QStringList{opened});
        QCOMPARE(launchedWhenIdle, m_rig->launched.size());
        QCOMPARE(m_rig->api.service.requestCount(), 1);
        QCOMPARE(m_rig->api.service.requests().first().path, path);
        QCOMPARE(QJsonDocument::fromJson(m_rig->api.service.requests().first().body), QJsonDocument(QJsonObject{{u"plan_id"_s, kPlan.planID}}));
        if (!sheet)
            return;
        QTEST(sheet->errorText(), "error");
        QCOMPARE(sheet->showsWaiting(), !opened.isEmpty());
        QVERIFY(sheet->isPaying() == !closing.isEmpty() && sheet->selected() == Method(method));
        QCOMPARE(dismissals.count(), refused && closing.isEmpty() ? 1 : 0);
        if (const QPointer<PaymentWaitingState> wait = sheet->waiting()) {
            wait->cancel();
            QVERIFY(!sheet->showsWaiting());
            sheet->pay();
            const Operation<void> again = sheet->payment();
            await(again.waitForEnd());
            QVERIFY(sheet->waiting() == wait && sheet->showsWaiting());
        }
    }

    // A window-modal child of its opener at 420 by 520 under the chrome titled
    // "Оплата", light and dark: a tapped row is the chosen one (one spoken element with
    // its state); while paying the pay button is disabled with the white spinner; an
    // error on the red tint; then the waiting view. Each dismissal, while the wait
    // polls, ends the presentation once, destroys the view-model and stops the poll.
    void presentation_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("close button") << u"closeButton"_s;
        QTest::newRow("escape, dark") << u"escape"_s;
        QTest::newRow("window manager, dark") << u"window manager"_s;
        QTest::newRow("the waiting view's close") << u"action0"_s;
    }
    void presentation()
    {
        QFETCH(QString, how);
        m_host = m_rig->screens.presentPaymentMethod(view().window(), kPlan, &view().engine());
        m_sheet = m_host ? m_host->findChild<PaymentMethodSheet *>() : nullptr;
        QVERIFY(m_sheet && QTest::qWaitForWindowExposed(m_host->window()));
        QQuickWindow *window = m_host->window();
        QVERIFY(window->transientParent() == view().window() && window->modality() == Qt::WindowModal);
        QCOMPARE(window->minimumSize(), QSize(420, 520));
        QVERIFY(window->title() == u"Оплата"_s && find(u"title"_s)->property("text") == window->title());
        click(u"cryptoRow"_s);
        QAccessibleInterface *row = QAccessible::queryAccessibleInterface(find(u"cryptoRow"_s));
        QCOMPARE(row->text(QAccessible::Name), u"USDT через CryptoBot, 4.50 USDT"_s);
        QVERIFY(row->role() == QAccessible::Button && row->state().checked
                && !QAccessible::queryAccessibleInterface(find(u"starsRow"_s))->state().checked);
        QQuickItem *pay = find(u"payButton"_s);
        QCOMPARE(pay->mapToScene(QPointF(pay->width(), pay->height())), QPointF(420 - 24, 520 - 24));
        saveSheet(u"chooser"_s);

        m_rig->api.service.script(FakeService::anyHost, "POST", kCryptoPath, {invoice({}, {}, 400ms)});
        click(u"payButton"_s);
        QTRY_VERIFY(!pay->isEnabled() && shown(u"paySpinner"_s));
        QCOMPARE(find(u"payLabel"_s)->property("text").toString(), u"Создаём счёт…"_s);
        QCOMPARE(argb(find(u"paySpinner"_s)->property("color").value<QColor>()), argb(Qt::white));
        saveSheet(u"busy"_s);
        QTRY_VERIFY(shown(u"errorRow"_s));
        QCOMPARE(find(u"errorText"_s)->property("text").toString(), m_sheet->errorText());
        QCOMPARE(argb(find(u"errorRow"_s)->property("color").value<QColor>()), argb(withAlpha(view().brand().danger(), 0.1)));
        saveSheet(u"error"_s);

        m_rig->api.service.script(FakeService::anyHost, "POST", kCryptoPath, {invoice(u"pay_url"_s, u"https://pay.example/1"_s)});
        click(u"payButton"_s);
        QTRY_VERIFY(shown(u"waitingView"_s) && !shown(u"chooser"_s));
        const QPointer<PaymentWaitingState> wait = m_sheet->waiting();
        QCOMPARE(window->size(), QSize(420, 520));
        saveSheet(u"waiting"_s);
        QSignalSpy dismissed(m_host, &SheetHost::dismissed);
        if (how == u"escape") {
            window->requestActivate();
            QTRY_COMPARE(QGuiApplication::focusWindow(), static_cast<QWindow *>(window));
            QTest::keyClick(window, Qt::Key_Escape);
        } else if (how == u"window manager") {
            window->close();
        } else {
            click(how);
        }
        QTRY_VERIFY(!m_host && !m_sheet && !wait);
        QCOMPARE(dismissed.count(), 1);
        QTRY_COMPARE(m_rig->clock->pendingTimers(), 0);
    }
};

QTEST_MAIN(PaymentSheetTest)
#include "vtst_payment_sheet.moc"
