#include "ui/main/ConnectionHeroState.h"
#include "platform/VPNError.h"
#include "tunnel/TunnelController.h"

#include <QSignalSpy>
#include <QTest>

#include "support/ManualClock.h"

using namespace kovra;
using namespace std::chrono_literals;

namespace {
const QString kHung = QStringLiteral("Подключение зависло. Попробуйте ещё раз.");
const QString kFailed = QStringLiteral("Не удалось подключиться. Попробуйте ещё раз.");
} // namespace

class ConnectionHeroStateTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Scripts over the manual clock. Steps: oN setOptimistic(N); c clearOptimistic; w
    // armWatchdog; e:T showStartError(T); rN real status N, unannounced; A>B a real change;
    // +S advance S seconds; R reset; D destroy the state. Checks: =O/E optimistic status
    // and start error ("-" none; "hung", "failed"); #N pending timers; nA/B notifications.
    void timersAndStatusChanges_data()
    {
        QTest::addColumn<QString>("script");
        QTest::newRow("connects within the bounds") << "o2 #2 1>2 =-/- #1 +5 2>3 =-/- #0";
        QTest::newRow("stays down: clears at 20 s, hung at 42 s for 6 s")
            << "o2 +19 =2/- +1 =-/- +21 =-/- +1 =-/hung +5 =-/hung +1 =-/- #0 n2/2";
        QTest::newRow("connected when the watchdog fires") << "o2 r3 +42 =-/- #0";
        QTest::newRow("falls back while watched") << "2>1 =-/- o2 1>2 2>1 =-/failed #1 +6 =-/- w 3>4 4>0 =-/failed";
        QTest::newRow("down from connected keeps watching; re-arming replaces") << "w 3>1 =-/- +30 w #1 +12 =-/- +30 =-/hung";
        QTest::newRow("equal optimistic restarts its time-out") << "o5 +15 o5 #1 +15 =5/- +5 =-/- n2/0";
        QTest::newRow("disconnecting stands while up") << "r3 o5 3>4 4>3 =5/- 3>5 =-/- o5 5>1 =-/-";
        QTest::newRow("connecting stands while disconnected") << "o2 0>1 =2/- 1>3 =-/- #0 o3 3>1 =3/- c =-/- #0";
        QTest::newRow("errors: dropped, replaced, restarted") << "w e:x o5 =5/- #1 c e:x 1>3 =-/- e:x +4 e:x e:y +4 =-/y +2 =-/- n2/7";
        QTest::newRow("reset drops everything; nothing fires once gone") << "o2 +1 e:x R =-/- #0 o2 +1 e:x D #0 +60";
    }
    void timersAndStatusChanges()
    {
        QFETCH(QString, script);
        auto clock = std::make_shared<test::ManualClock>();
        VPNStatus real = VPNStatus::Disconnected;
        auto hero = std::make_unique<ConnectionHeroState>([&real] { return real; },
                                                          ConnectionHeroState::Options{.clock = clock});
        QSignalSpy optimisticSpy(hero.get(), &ConnectionHeroState::optimisticStatusChanged);
        QSignalSpy errorSpy(hero.get(), &ConnectionHeroState::startErrorChanged);
        for (const QString &step : script.split(u' ')) {
            const QString arg = step.mid(1);
            const auto status = [](const QString &s) { return VPNStatus(s.toInt()); };
            switch (step.contains(u'>') ? '>' : step[0].toLatin1()) {
            case '>': real = status(step.section(u'>', 1)); hero->statusChanged(status(step.section(u'>', 0, 0)), real); break;
            case 'o': hero->setOptimistic(status(arg)); break;
            case 'r': real = status(arg); break;
            case 'c': hero->clearOptimistic(); break;
            case 'w': hero->armWatchdog(); break;
            case 'e': hero->showStartError(arg.mid(1)); break;
            case '+': clock->advance(std::chrono::seconds(arg.toInt())); break;
            case 'R': hero->reset(); break;
            case 'D': hero.reset(); break;
            case '#': QVERIFY2(clock->pendingTimers() == arg.toInt(), qPrintable(step)); break;
            case 'n': QCOMPARE(QStringLiteral("n%1/%2").arg(optimisticSpy.count()).arg(errorSpy.count()), step); break;
            default: {
                const QString opt = hero->optimisticStatus() ? QString::number(int(*hero->optimisticStatus())) : "-";
                const QString err = hero->startError().value_or("-");
                const QString seen = "=" + opt + "/" + (err == kHung ? "hung" : err == kFailed ? "failed" : err);
                const auto at = clock->monotonicNow().time_since_epoch() / 1s;
                QVERIFY2(seen == step, qPrintable(QStringLiteral("at %1 s saw %2, not %3").arg(at).arg(seen, step)));
            }
            }
        }
    }

    void startErrorTexts()
    {
        const auto text = [](auto error) { return ConnectionHeroState::startErrorMessage(std::make_exception_ptr(error)); };
        QCOMPARE(text(VPNError(VPNError::ConfigurationDisabled, "off")),
                 "VPN-конфигурация Kovra выключена. Подключитесь снова — приложение включит её.");
        QCOMPARE(text(VPNError(VPNError::ConfigurationReadWriteFailed, "denied")),
                 "Не удалось сохранить VPN-конфигурацию. Проверьте доступ к папке настроек Kovra S");
        QCOMPARE(text(VPNError(VPNError::ConfigurationDisabled, "off", "OtherDomain")), kFailed);
        QCOMPARE(text(TunnelError(TunnelError::Kind::managerUnavailable)), kFailed);
    }
};

QTEST_GUILESS_MAIN(ConnectionHeroStateTest)
#include "tst_connection_hero_state.moc"
