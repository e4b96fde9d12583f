#include "ui/account/TariffChoice.h"
#include "ui/account/TariffListModel.h"

#include <QTest>

#include "BuyFakes.h"

using namespace kovra;
using namespace kovra::ui;
using namespace Qt::StringLiterals;

namespace {

std::optional<QString> orNone(const QString &id)
{
    return id.isEmpty() ? std::nullopt : std::optional<QString>(id);
}

} // namespace

class BuyChoiceTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Order, best value, each card's saving ("-" for none) and flags as the list
    // model draws them, and the selection a load leaves after `before`.
    void plansOfALoad_data()
    {
        QTest::addColumn<QString>("spec");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("order");
        QTest::addColumn<QString>("best");
        QTest::addColumn<QString>("savings");
        QTest::addColumn<QString>("selected");
        const QString four = u"m12:12/2400 m1:1/300 m6:6/1500 m3:3/800"_s;
        QTest::newRow("four plans") << four << "" << "m1 m3 m6 m12" << "m12" << "- 11 17 33" << "m12";
        QTest::newRow("kept") << four << "m3" << "m1 m3 m6 m12" << "m12" << "- 11 17 33" << "m3";
        QTest::newRow("gone: best value") << four << "m24" << "m1 m3 m6 m12" << "m12" << "- 11 17 33" << "m12";
        QTest::newRow("tie: earlier wins") << "z:4/1000 y:2/500 x:1/300" << "" << "x y z" << "y" << "- 17 17" << "y";
        QTest::newRow("equal months keep key order") << "k2:1/300 k1:1/300" << "" << "k1 k2" << "k1" << "- -" << "k1";
        QTest::newRow("no one-month plan") << "a:3/900 b:6/1500" << "" << "a b" << "b" << "- -" << "b";
        QTest::newRow("one-month plan free") << "a:1/0 b:3/600" << "" << "a b" << "a" << "- -" << "a";
        QTest::newRow("single plan, gone selection") << "a:3/900" << "b" << "a" << "" << "-" << "a";
        QTest::newRow("single one-month plan") << "a:1/300" << "" << "a" << "" << "-" << "a";
        QTest::newRow("months 0 and negative count as 1")
            << "a:1/300 z:0/100 n:-2/150" << "" << "n z a" << "z" << "50 67 -" << "z";
        QTest::newRow("longer plan no cheaper") << "a:1/300 b:3/900 c:6/2000" << "" << "a b c" << "a" << "- - -" << "a";
        QTest::newRow("empty map clears") << "" << "a" << "" << "" << "" << "";
    }
    void plansOfALoad()
    {
        QFETCH(QString, spec);
        QFETCH(QString, before);
        QFETCH(QString, best);
        QFETCH(QString, selected);
        const QList<TariffEntry> entries = tariffEntries(test::tariffsOf(spec));
        QStringList ids;
        for (const TariffEntry &entry : entries)
            ids << entry.planID;
        QTEST(ids.join(u' '), "order");
        QCOMPARE(bestValuePlanID(entries), orNone(best));
        const std::optional<QString> selection = selectionAfterLoad(entries, orNone(before));
        QCOMPARE(selection, orNone(selected));

        TariffListModel model;
        model.setEntries(entries, selection);
        QStringList shown;
        for (int row = 0; row < model.rowCount(); ++row) {
            const QVariantMap card = model.card(row);
            const QString saving = card.value(u"savingsText"_s).toString();
            shown << (saving.isEmpty() ? u"-"_s : saving.mid(3).chopped(1)); // "≈ −17%"
            QCOMPARE(card.value(u"isSelected"_s).toBool(), entries[row].planID == selected);
            QCOMPARE(card.value(u"isBestValue"_s).toBool(), entries[row].planID == best);
        }
        QTEST(shown.join(u' '), "savings");
    }

    // What the screen shows for each state of the user record (a record with or
    // without Telegram, an error only, nothing yet) and of the tariffs: the body for
    // loading (first load), failed, loaded and empty, and whether the bar shows.
    void bodyAndBar_data()
    {
        QTest::addColumn<int>("record"); // 0 none, 1 without Telegram, 2 with Telegram
        QTest::addColumn<bool>("recordFailed");
        QTest::addColumn<QString>("bodies"); // P placeholder, G gate, E error, L list
        QTest::addColumn<QString>("bars");
        QTest::newRow("without Telegram") << 1 << false << "GGGG" << "0000";
        QTest::newRow("without Telegram, failed refresh") << 1 << true << "GGGG" << "0000";
        QTest::newRow("with Telegram") << 2 << false << "PELL" << "0010";
        QTest::newRow("error only") << 0 << true << "PELL" << "0010";
        QTest::newRow("nothing yet") << 0 << false << "PPPP" << "0000";
    }
    void bodyAndBar()
    {
        QFETCH(int, record);
        QFETCH(bool, recordFailed);
        std::optional<MeOut> me;
        if (record > 0)
            me = MeOut{.hasTelegram = record == 2};
        const UserGate gate = userGate(me, recordFailed);
        // Loading with no list, failed with no list, loaded, empty (and a reload or a
        // failure over a list changes nothing shown).
        const struct { bool loading, failed, hasTariffs; } states[] = {
            {true, false, false}, {false, true, false}, {false, false, true}, {false, false, false}};
        QString shownBodies, shownBars;
        for (const auto &s : states) {
            shownBodies += QStringLiteral("PGEL").at(buyBody(gate, s.loading, s.failed, s.hasTariffs));
            shownBars += showsContinueBar(gate, s.hasTariffs) ? u'1' : u'0';
            if (s.hasTariffs)
                QCOMPARE(buyBody(gate, true, true, true), buyBody(gate, false, false, true));
        }
        QTEST(shownBodies, "bodies");
        QTEST(shownBars, "bars");
    }
};

QTEST_GUILESS_MAIN(BuyChoiceTest)
#include "tst_buy_choice.moc"
