#include "core/APIError.h"
#include "ui/account/BuyModel.h"

#include <QSignalSpy>
#include <QTest>

#include "BuyFakes.h"

using namespace kovra;
using namespace kovra::test;
using namespace kovra::ui;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

const QString kTariffs = u"/payment/tariffs"_s;

QString ids(const BuyModel &model)
{
    QStringList out;
    for (const TariffEntry &entry : model.tariffs())
        out << entry.planID;
    return out.join(u' ');
}

} // namespace

class BuyTest : public QObject {
    Q_OBJECT

    std::unique_ptr<BuyRig> m_rig;
    QPointer<BuyModel> m_model;

    // A shown screen whose first load has ended, over a record with Telegram.
    void showLoaded(const QString &spec)
    {
        m_rig->scriptMe({BuyRig::record(true)});
        m_rig->scriptTariffs({FakeReply::json(200, BuyRig::plans(spec))});
        m_model->setShown(true);
        QTRY_VERIFY(!m_model->isLoading() && m_rig->me.hasLatest());
    }

private Q_SLOTS:
    void init()
    {
        m_rig = std::make_unique<BuyRig>();
        m_model = AccountScreens(m_rig->services()).buy();
    }
    void cleanup()
    {
        delete m_model;
        m_rig.reset();
    }

    // Reloads keep the selection while its plan is offered, move it to the best value
    // when not, and clear it with an empty map, which leaves no plans, no features and
    // no bar. The continue button follows the selected plan.
    void reloads()
    {
        showLoaded(u"m12:12/2400 m1:1/300 m3:3/800"_s);
        QCOMPARE(ids(*m_model), u"m1 m3 m12"_s);
        QCOMPARE(m_model->selectedID(), u"m12"_s);
        m_model->select(u"m3"_s);
        m_model->select(u"nowhere"_s);
        QCOMPARE(m_model->continueTitle(), u"Перейти к оплате · ≈ 800 ₽"_s);

        const struct { QString spec, order, selected; } reloads[] = {
            {u"m1:1/300 m3:3/700/50 m6:6/1200"_s, u"m1 m3 m6"_s, u"m3"_s},
            {u"m1:1/300 m6:6/1200"_s, u"m1 m6"_s, u"m6"_s},
            {QString(), QString(), QString()},
        };
        for (const auto &reload : reloads) {
            m_rig->scriptTariffs({FakeReply::json(200, BuyRig::plans(reload.spec))});
            await(m_model->load());
            QCOMPARE(ids(*m_model), reload.order);
            QCOMPARE(m_model->selectedIDText(), reload.selected);
        }
        QVERIFY(m_model->body() == BuyBody::List && !m_model->showsContinueBar());
        QVERIFY(m_model->includedFeatures().isEmpty() && !m_model->canContinue());
        QCOMPARE(m_model->continueTitle(), u"Выберите тариф"_s);
    }

    // A 401 ends the session, then sets its last error, and shows no error here; any
    // other failure shows the error card while there is no list, and only then. A
    // retry shows the placeholder until its own result arrives.
    void failures()
    {
        m_rig->scriptMe({BuyRig::record(true)});
        m_rig->scriptTariffs({FakeReply::json(500)});
        m_model->setShown(true);
        QTRY_VERIFY(m_model->body() == BuyBody::Error);
        QCOMPARE(m_model->loadErrorText(), localizedDescriptionOf(std::make_exception_ptr(APIError::server(500))));

        m_rig->scriptTariffs({FakeReply::json(200, BuyRig::plans(u"a:1/300"_s), 200ms), FakeReply::json(503)});
        m_model->retry();
        QCOMPARE(m_model->body(), BuyBody::Placeholder);
        QTRY_VERIFY(m_model->body() == BuyBody::List && m_model->showsContinueBar());
        await(m_model->load()); // 503 over a list: kept, nothing shown
        QVERIFY(m_model->loadError() && m_model->body() == BuyBody::List && ids(*m_model) == u"a"_s);

        QStringList events;
        connect(&m_rig->auth, &AuthState::statusChanged, this,
                [&] { events << u"status %1"_s.arg(int(m_rig->auth.statusKind())); });
        connect(&m_rig->auth, &AuthState::lastErrorChanged, this, [&] { events << u"lastError"_s; });
        connect(m_model, &BuyModel::loadErrorChanged, this, [&] { events << u"loadError"_s; });
        m_rig->scriptTariffs({FakeReply::json(401)});
        await(m_model->load());
        QCOMPARE(events, QStringList({u"status %1"_s.arg(int(AuthState::StatusKind::anonymous)), u"lastError"_s,
                                      u"loadError"_s}));
        QCOMPARE(APIError::kindOf(m_rig->auth.lastError()), APIError::Kind::unauthorized);
        QVERIFY(!m_model->loadError() && !m_model->isLoading() && m_rig->sessionEnds == 1);
    }

    // Retries are not guarded: each sends its request, and the results apply in the
    // order they arrive (the later one wins, whichever was pressed first).
    void retriesApplyInTheOrderTheyEnd()
    {
        m_rig->scriptTariffs({FakeReply::json(200, BuyRig::plans(u"slow:1/300"_s), 500ms),
                              FakeReply::json(200, BuyRig::plans(u"fast:1/300"_s))});
        m_model->retry();
        m_model->retry();
        QTRY_COMPARE(ids(*m_model), u"fast"_s);
        QVERIFY(!m_model->isLoading()); // the first to end cleared it while the other runs
        QTRY_COMPARE(ids(*m_model), u"slow"_s);
        QCOMPARE(m_rig->requestsTo(kTariffs), 2);
    }

    // The showing's task: the record and the tariffs requested together; tariffs
    // first, the record's request is aborted and the refresh ends as a failed one.
    void startUpTask()
    {
        m_rig->scriptMe({FakeReply::silent()});
        m_rig->scriptTariffs({FakeReply::json(200, BuyRig::plans(u"a:1/300 b:3/800"_s), 600ms)});
        m_model->setShown(true);
        QVERIFY(m_rig->service.waitForRequests(2));
        QVERIFY(m_rig->me.isLoading() && m_model->isLoading());
        QTRY_VERIFY(!m_model->isLoading());
        QVERIFY(m_rig->service.waitForClosedEarly(1));
        QCOMPARE(m_rig->requestsTo(u"/me"_s, true), 1);
        QTRY_VERIFY(!m_rig->me.isLoading());
        QVERIFY(m_rig->me.error() && m_model->body() == BuyBody::List);
    }

    // Leaving the page cancels its task: covered by another page, the load ends as a
    // failed one and the next showing runs it again; destroyed, nothing is written
    // (the sanitizer sees any late write).
    void leavingThePage_data()
    {
        QTest::addColumn<bool>("destroyed");
        QTest::newRow("covered, then back") << false;
        QTest::newRow("destroyed") << true;
    }
    void leavingThePage()
    {
        QFETCH(bool, destroyed);
        m_rig->scriptMe({FakeReply::silent(), BuyRig::record(false)});
        m_rig->scriptTariffs({FakeReply::silent(), FakeReply::json(200, BuyRig::plans(u"a:1/300"_s))});
        m_model->setShown(true);
        QVERIFY(m_rig->service.waitForRequests(2));
        if (destroyed)
            delete m_model;
        else
            m_model->setShown(false);
        QVERIFY(m_rig->service.waitForClosedEarly(2));
        QTRY_VERIFY(!m_rig->me.isLoading());
        if (destroyed)
            return;
        QTRY_VERIFY(!m_model->isLoading());
        QVERIFY(isCancellation(m_model->loadError()));
        m_model->setShown(true);
        QTRY_VERIFY(m_model->body() == BuyBody::Gate && ids(*m_model) == u"a"_s);
        QVERIFY(!m_model->showsContinueBar());
        QCOMPARE(m_rig->service.requestCount(), 4);
    }
};

QTEST_MAIN(BuyTest)
#include "itst_buy.moc"
