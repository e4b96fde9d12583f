// What a keychain call says when the keyring is not there to answer, or will not: each
// case set up for real (a bus of the test's own, or none; gnome-keyring locked), the
// call made from a process of its own on that bus.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "support/ChildProcess.h"
#include "support/SessionBus.h"
#include "support/TestHome.h"

using namespace kovra;
using namespace Qt::StringLiterals;

namespace {

const QString kCaller = QStringLiteral(KOVRA_KEYCHAIN_CALL);
const QString kSecrets = u"org.freedesktop.secrets"_s;

// The line keychain_call prints for `operation` with that environment.
QString call(const QProcessEnvironment &environment, const QString &service, const QString &operation)
{
    QProcess caller;
    caller.setProcessEnvironment(environment);
    caller.start(kCaller, {service, operation});
    if (!caller.waitForFinished(30000))
        return u"no end"_s;
    const QString out = QString::fromUtf8(caller.readAllStandardOutput()).trimmed();
    return caller.exitCode() == 0 ? out : u"exit %1: %2 %3"_s.arg(caller.exitCode()).arg(out, caller.readAllStandardError());
}

// gnome-keyring on a bus, its login keyring made and unlocked with a password given on
// its input, in a private data folder; stopped by its process id when the object goes.
class Keyring {
public:
    explicit Keyring(const test::PrivateBus &bus) : m_home(test::TestHome::PathsOnly)
    {
        QProcessEnvironment environment = bus.environment();
        environment.insert(u"XDG_DATA_HOME"_s, m_home.dataHome());
        environment.insert(u"XDG_RUNTIME_DIR"_s, m_home.runtimeDir());
        environment.remove(u"DISPLAY"_s);
        m_daemon.setProcessEnvironment(environment);
        m_daemon.setProcessChannelMode(QProcess::MergedChannels);
        m_daemon.start(u"gnome-keyring-daemon"_s, {u"--foreground"_s, u"--unlock"_s, u"--components=secrets"_s});
        m_daemon.write("kovra-test");
        m_daemon.closeWriteChannel();
    }
    ~Keyring() { test::stopChild(m_daemon); }
    QString output() { return QString::fromUtf8(m_daemon.readAll()); }

private:
    test::TestHome m_home;
    QProcess m_daemon;
};

enum Setting { NoBus, UnusableAddress, BusWithoutService, ServiceThatCannotStart, LockedKeyring };

} // namespace

class KeychainErrorsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Nothing to store in (no bus; a bus on which nobody provides the Secret Service or
    // its program cannot start) versus a keyring that is there but locked: its unlock
    // prompt cannot be shown, which counts as dismissed.
    void whatTheCallSays_data()
    {
        QTest::addColumn<int>("setting");
        QTest::addColumn<QStringList>("outcomes"); // of a write, a read and a removal
        const auto none = [](const QString &why) {
            return QStringList(3, u"failed noSecretService no Secret Service (%1)"_s.arg(why));
        };
        QTest::newRow("no bus at the address")
            << int(NoBus) << none(u"no session bus: Could not connect: No such file or directory"_s);
        QTest::newRow("an address no bus can have")
            << int(UnusableAddress)
            << none(u"no session bus: Unknown or unsupported transport “disabled” for address “disabled:”"_s);
        QTest::newRow("a bus without a Secret Service")
            << int(BusWithoutService) << none(u"The name org.freedesktop.secrets was not provided by any .service files"_s);
        QTest::newRow("a Secret Service that cannot start")
            << int(ServiceThatCannotStart)
            << none(u"Error calling StartServiceByName for org.freedesktop.secrets: Process org.freedesktop.secrets "
                    u"exited with status 1"_s);
        // A locked item reads as absent and is not removed; the write is refused.
        QTest::newRow("a locked keyring")
            << int(LockedKeyring)
            << QStringList{u"failed refused the keyring refused (Cannot create an item in a locked collection)"_s,
                           u"done absent"_s, u"done none"_s};
    }
    void whatTheCallSays()
    {
        QFETCH(int, setting);
        QFETCH(QStringList, outcomes);
        const QTemporaryDir folder;
        const QString service = test::uniqueName(u"kovra-errors"_s);
        std::optional<test::PrivateBus> bus;
        std::optional<Keyring> keyring;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(u"DISPLAY"_s); // nothing to autolaunch a bus on
        switch (Setting(setting)) {
        case NoBus:
            environment = test::onBus(environment, test::noBusAddress(folder.path()));
            break;
        case UnusableAddress:
            environment = test::onBus(environment, u"disabled:"_s);
            break;
        case BusWithoutService:
        case LockedKeyring:
            bus.emplace();
            break;
        case ServiceThatCannotStart:
            bus.emplace(QMap<QString, QString>{
                {u"org.freedesktop.secrets.service"_s, u"[D-BUS Service]\nName=org.freedesktop.secrets\nExec=/bin/false\n"_s}});
            break;
        }
        if (bus) {
            QVERIFY2(bus->isListening(), qPrintable(bus->output() + bus->address()));
            environment = bus->environment(environment);
        }
        if (setting == LockedKeyring) {
            keyring.emplace(*bus);
            QTRY_VERIFY2_WITH_TIMEOUT(bus->hasOwner(kSecrets), qPrintable(keyring->output()), 10000);
            QCOMPARE(call(environment, service, u"write"_s), u"done stored"_s);
            QProcess lock;
            lock.setProcessEnvironment(environment);
            lock.start(u"dbus-send"_s, {u"--session"_s, u"--print-reply"_s, u"--dest="_s + kSecrets,
                                        u"/org/freedesktop/secrets"_s, u"org.freedesktop.Secret.Service.Lock"_s,
                                        u"array:objpath:/org/freedesktop/secrets/collection/login"_s});
            QVERIFY(lock.waitForFinished(10000) && lock.exitCode() == 0);
        }

        QStringList said;
        for (const QString &operation : {u"write"_s, u"read"_s, u"remove"_s})
            said << call(environment, service, operation);
        QCOMPARE(said, outcomes);
        if (bus)
            QVERIFY(!bus->hasOwner(kSecrets) || setting == LockedKeyring); // nothing started one meanwhile
    }
};

QTEST_GUILESS_MAIN(KeychainErrorsTest)
#include "itst_keychain_errors.moc"
