#include "platform/Log.h"
#include "tunnel/SystemExtensionActivator.h"

#include <QSignalSpy>
#include <QTest>

#include "support/Await.h"
#include "support/FakeExtensionManager.h"

using namespace kovra;
using namespace std::chrono_literals;
using Callback = test::FakeExtensionManager::Callback;

Q_DECLARE_METATYPE(Callback::Kind)

namespace {
const QString kApproval =
    QStringLiteral("Разрешите Kovra S Tunnel: Системные настройки → Основные → Объекты входа и расширения");
const QString kReboot =
    QStringLiteral("Расширение установится после перезагрузки Mac. Перезагрузите и подключитесь снова.");
const QString kFailed =
    QStringLiteral("Не удалось установить сетевое расширение. Переустановите Kovra S из образа в «Программы».");
} // namespace

class SystemExtensionActivatorTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void firstAnswerDecidesTheState_data()
    {
        QTest::addColumn<Callback::Kind>("answer");
        QTest::addColumn<QString>("error");
        QTest::addColumn<SystemExtensionState>("expected");
        QTest::addColumn<QString>("logLine");
        QTest::newRow("completed") << Callback::Completed << "" << SystemExtensionState::activated()
                                   << "sysext request finished: completed";
        QTest::newRow("after reboot") << Callback::WillCompleteAfterReboot << "" << SystemExtensionState::needsReboot()
                                      << "sysext request finished: willCompleteAfterReboot";
        QTest::newRow("failed") << Callback::Failed << "no socket at /run/x.sock"
                                << SystemExtensionState::failed("no socket at /run/x.sock")
                                << "sysext activation failed: no socket at /run/x.sock";
        QTest::newRow("needs approval") << Callback::NeedsApproval << "" << SystemExtensionState::needsApproval()
                                        << "sysext activation needs user approval in System Settings";
    }
    void firstAnswerDecidesTheState()
    {
        QFETCH(Callback::Kind, answer);
        QFETCH(QString, error);
        QFETCH(SystemExtensionState, expected);
        QFETCH(QString, logLine);
        test::FakeExtensionManager manager(QList<Callback>{{answer, error}});
        SystemExtensionActivator activator(manager);
        LogCapture capture;

        const auto state = test::await(activator.activate());
        QCOMPARE(state, expected);
        QCOMPARE(activator.state(), expected);
        QCOMPARE(manager.submitCount(), 1);
        QCOMPARE(manager.requests().first()->identifier(), QStringLiteral("com.kovra.client-sign-box.PacketTunnel"));
        QCOMPARE(capture.texts(QStringLiteral("SystemExtension")), QStringList{logLine});
    }

    void concurrentCallersShareOneRequest()
    {
        test::FakeExtensionManager manager(QList<Callback>{{Callback::Failed, "boom", 20ms}});
        SystemExtensionActivator activator(manager);
        test::Pending<SystemExtensionState> first(activator.activate());
        test::Pending<SystemExtensionState> second(activator.activate());
        QCOMPARE(activator.state(), SystemExtensionState::activating());
        QCOMPARE(first.result(), SystemExtensionState::failed("boom"));
        QCOMPARE(second.result(), SystemExtensionState::failed("boom"));
        QCOMPARE(manager.submitCount(), 1);

        // With nothing in flight, the next call asks again.
        manager.setScript({{Callback::Completed}});
        QCOMPARE(test::await(activator.activate()), SystemExtensionState::activated());
        QCOMPARE(manager.submitCount(), 2);
    }

    void activatedIsFinal()
    {
        test::FakeExtensionManager manager(QList<Callback>{{Callback::Completed}});
        SystemExtensionActivator activator(manager);
        QCOMPARE(test::await(activator.activate()), SystemExtensionState::activated());
        QSignalSpy changes(&activator, &SystemExtensionActivator::stateChanged);
        QCOMPARE(test::await(activator.activate()), SystemExtensionState::activated());
        QCOMPARE(manager.submitCount(), 1);
        QCOMPARE(changes.size(), 0);
    }

    void approvalThenCompletionActivatesWithoutANewCall()
    {
        test::FakeExtensionManager manager(QList<Callback>{{Callback::NeedsApproval}, {Callback::Completed, {}, 50ms}});
        SystemExtensionActivator activator(manager);
        QSignalSpy changes(&activator, &SystemExtensionActivator::stateChanged);
        LogCapture capture;

        const auto state = test::await(activator.activate());
        QCOMPARE(state, SystemExtensionState::needsApproval());
        QCOMPARE(state.userMessage(), std::optional<QString>(kApproval));
        QTRY_COMPARE(activator.state(), SystemExtensionState::activated());
        QCOMPARE(manager.submitCount(), 1);
        QCOMPARE(changes.size(), 3); // activating, needsApproval, activated
        QCOMPARE(capture.texts(QStringLiteral("SystemExtension")),
                 QStringList({"sysext activation needs user approval in System Settings",
                              "sysext request finished: completed"}));
    }

    void repeatedAnswerNotifiesOnce()
    {
        test::FakeExtensionManager manager(QList<Callback>{{Callback::NeedsApproval}, {Callback::NeedsApproval, {}, 10ms}});
        SystemExtensionActivator activator(manager);
        QSignalSpy changes(&activator, &SystemExtensionActivator::stateChanged);
        test::await(activator.activate());
        QTest::qWait(50);
        QCOMPARE(changes.size(), 2); // activating, needsApproval
    }

    void replacingAnInstalledVersionIsAlwaysAllowed()
    {
        test::FakeExtensionManager manager(QList<Callback>{{Callback::AskReplacement}, {Callback::Completed}});
        SystemExtensionActivator activator(manager);
        QCOMPARE(test::await(activator.activate()), SystemExtensionState::activated());
        QCOMPARE(manager.replacementAnswers(), QList{SystemExtensionReplacementAction::Replace});
    }

    void activatorGoneEndsTheWaitAsUnknown()
    {
        test::FakeExtensionManager manager; // never answers
        auto activator = std::make_unique<SystemExtensionActivator>(manager);
        test::Pending<SystemExtensionState> pending(activator->activate());
        activator.reset();
        QCOMPARE(pending.result(), SystemExtensionState::unknown());
        // A late answer to the old request reaches nobody.
        manager.deliver({Callback::Completed});
        QTest::qWait(20);
    }

    void userMessages_data()
    {
        QTest::addColumn<SystemExtensionState>("state");
        QTest::addColumn<QString>("message"); // empty: none
        QTest::addColumn<QString>("description");
        QTest::newRow("needsApproval") << SystemExtensionState::needsApproval() << kApproval << "needsApproval";
        QTest::newRow("needsReboot") << SystemExtensionState::needsReboot() << kReboot << "needsReboot";
        QTest::newRow("failed") << SystemExtensionState::failed("x") << kFailed << "failed(\"x\")";
        QTest::newRow("failed other text") << SystemExtensionState::failed("y") << kFailed << "failed(\"y\")";
        QTest::newRow("unknown") << SystemExtensionState::unknown() << "" << "unknown";
        QTest::newRow("activating") << SystemExtensionState::activating() << "" << "activating";
        QTest::newRow("activated") << SystemExtensionState::activated() << "" << "activated";
    }
    void userMessages()
    {
        QFETCH(SystemExtensionState, state);
        QFETCH(QString, message);
        QFETCH(QString, description);
        QCOMPARE(state.userMessage().value_or(QString()), message);
        QCOMPARE(state.userMessage().has_value(), !message.isEmpty());
        QCOMPARE(state.description(), description);
    }

    void failedStatesCompareByText()
    {
        QVERIFY(SystemExtensionState::failed("a") == SystemExtensionState::failed("a"));
        QVERIFY(SystemExtensionState::failed("a") != SystemExtensionState::failed("b"));
        QVERIFY(SystemExtensionState::failed("") != SystemExtensionState::unknown());
    }
};

QTEST_GUILESS_MAIN(SystemExtensionActivatorTest)
#include "tst_system_extension_activator.moc"
