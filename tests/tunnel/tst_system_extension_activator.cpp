#include "platform/Log.h"
#include "tunnel/SystemExtensionActivator.h"

#include <QSignalSpy>
#include <QTest>

#include "support/Await.h"
#include "support/FakeExtensionManager.h"

using namespace kovra;
using namespace std::chrono_literals;
using Callback = test::FakeExtensionManager::Callback;
using State = SystemExtensionState;

Q_DECLARE_METATYPE(Callback::Kind)

class SystemExtensionActivatorTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void firstAnswerDecidesTheState_data()
    {
        QTest::addColumn<Callback::Kind>("answer");
        QTest::addColumn<QString>("error");
        QTest::addColumn<State>("expected");
        QTest::addColumn<QString>("logLine");
        QTest::newRow("completed") << Callback::Completed << "" << State::activated()
                                   << "sysext request finished: completed";
        QTest::newRow("after reboot") << Callback::WillCompleteAfterReboot << "" << State::needsReboot()
                                      << "sysext request finished: willCompleteAfterReboot";
        QTest::newRow("failed") << Callback::Failed << "no socket at /run/x.sock" << State::failed("no socket at /run/x.sock")
                                << "sysext activation failed: no socket at /run/x.sock";
        QTest::newRow("needs approval") << Callback::NeedsApproval << "" << State::needsApproval()
                                        << "sysext activation needs user approval in System Settings";
    }
    void firstAnswerDecidesTheState()
    {
        QFETCH(Callback::Kind, answer);
        QFETCH(QString, error);
        QFETCH(State, expected);
        QFETCH(QString, logLine);
        test::FakeExtensionManager manager(QList<Callback>{{answer, error}});
        SystemExtensionActivator activator(manager);
        LogCapture capture;

        QCOMPARE(test::await(activator.activate()), expected);
        QCOMPARE(activator.state(), expected);
        QCOMPARE(manager.submitCount(), 1);
        QCOMPARE(manager.requests().first()->identifier(), QStringLiteral("com.kovra.client-sign-box.PacketTunnel"));
        QCOMPARE(capture.texts(QStringLiteral("SystemExtension")), QStringList{logLine});
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
        QCOMPARE(manager.submitCount(), 2);
        QSignalSpy changes(&activator, &SystemExtensionActivator::stateChanged);
        QCOMPARE(test::await(activator.activate()), State::activated());
        QCOMPARE(manager.submitCount(), 2);
        QCOMPARE(changes.size(), 0);
    }

    void approvalThenCompletionActivatesWithoutANewCall()
    {
        test::FakeExtensionManager manager(QList<Callback>{{Callback::NeedsApproval}, {Callback::Completed, {}, 50ms}});
        SystemExtensionActivator activator(manager);
        QSignalSpy changes(&activator, &SystemExtensionActivator::stateChanged);
        LogCapture capture;

        QCOMPARE(test::await(activator.activate()), State::needsApproval());
        QTRY_COMPARE(activator.state(), State::activated());
        QCOMPARE(manager.submitCount(), 1);
        QCOMPARE(changes.size(), 3); // activating, needsApproval, activated
        QCOMPARE(capture.texts(QStringLiteral("SystemExtension")),
                 QStringList({"sysext activation needs user approval in System Settings",
                              "sysext request finished: completed"}));
    }

    void replacingAnInstalledVersionIsAlwaysAllowed()
    {
        test::FakeExtensionManager manager(QList<Callback>{{Callback::AskReplacement}, {Callback::Completed}});
        SystemExtensionActivator activator(manager);
        QCOMPARE(test::await(activator.activate()), State::activated());
        QCOMPARE(manager.replacementAnswers(), QList{SystemExtensionReplacementAction::Replace});
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
