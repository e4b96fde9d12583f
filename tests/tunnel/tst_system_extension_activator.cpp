#include "tunnel/SystemExtensionActivator.h"

#include <QTest>

#include "support/Await.h"
#include "support/FakeExtensionManager.h"

using namespace kovra;
using namespace std::chrono_literals;
using Callback = test::FakeExtensionManager::Callback;
using State = SystemExtensionState;

Q_DECLARE_METATYPE(QList<Callback>)

class SystemExtensionActivatorTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The first answer decides what activate() returns; an approval later completed
    // activates without a new call; replacing an installed version is always allowed.
    void answers_data()
    {
        QTest::addColumn<QList<Callback>>("script");
        QTest::addColumn<State>("result");
        QTest::addColumn<State>("final");
        QTest::addColumn<QStringList>("log");
        const QString completed = QStringLiteral("sysext request finished: completed");
        const QString approval = QStringLiteral("sysext activation needs user approval in System Settings");
        QTest::newRow("completed") << QList<Callback>{{Callback::Completed}} << State::activated() << State::activated()
                                   << QStringList{completed};
        QTest::newRow("failed") << QList<Callback>{{Callback::Failed, "no socket at /run/x.sock"}}
                                << State::failed("no socket at /run/x.sock") << State::failed("no socket at /run/x.sock")
                                << QStringList{"sysext activation failed: no socket at /run/x.sock"};
        QTest::newRow("approval, then completion") << QList<Callback>{{Callback::NeedsApproval}, {Callback::Completed, {}, 50ms}}
                                                   << State::needsApproval() << State::activated()
                                                   << QStringList{approval, completed};
        QTest::newRow("replacement") << QList<Callback>{{Callback::AskReplacement}, {Callback::Completed}}
                                     << State::activated() << State::activated() << QStringList{completed};
    }
    void answers()
    {
        QFETCH(QList<Callback>, script);
        QFETCH(State, result);
        QFETCH(State, final);
        QFETCH(QStringList, log);
        test::FakeExtensionManager manager(script);
        SystemExtensionActivator activator(manager);
        LogCapture capture;

        QCOMPARE(test::await(activator.activate()), result);
        QTRY_COMPARE(activator.state(), final);
        QCOMPARE(manager.submitCount(), 1);
        QCOMPARE(capture.texts(QStringLiteral("SystemExtension")), log);
        const auto asked = std::count_if(script.begin(), script.end(), [](const Callback &c) { return c.kind == Callback::AskReplacement; });
        QCOMPARE(manager.replacementAnswers(), QList<SystemExtensionReplacementAction>(asked, SystemExtensionReplacementAction::Replace));
    }

    void concurrentCallersShareOneRequestAndActivatedIsFinal()
    {
        test::FakeExtensionManager manager(QList<Callback>{{Callback::Failed, "boom", 20ms}});
        SystemExtensionActivator activator(manager);
        test::Pending<State> first(activator.activate());
        test::Pending<State> second(activator.activate());
        QCOMPARE(activator.state(), State::activating());
        QCOMPARE(first.result(), State::failed("boom"));
        QCOMPARE(second.result(), State::failed("boom"));
        QCOMPARE(manager.submitCount(), 1);

        // With nothing in flight the next call asks again; once activated, nobody asks.
        manager.setScript({{Callback::Completed}});
        QCOMPARE(test::await(activator.activate()), State::activated());
        QCOMPARE(test::await(activator.activate()), State::activated());
        QCOMPARE(manager.submitCount(), 2);
    }

    void activatorGoneEndsTheWaitAsUnknown()
    {
        test::FakeExtensionManager manager; // never answers
        auto activator = std::make_unique<SystemExtensionActivator>(manager);
        test::Pending<State> pending(activator->activate());
        activator.reset();
        QCOMPARE(pending.result(), State::unknown());
        // A late answer to the old request must reach nobody (the sanitizer would see it).
        manager.deliver({Callback::Completed});
        QTest::qWait(20);
    }
};

QTEST_GUILESS_MAIN(SystemExtensionActivatorTest)
#include "tst_system_extension_activator.moc"
