#include "platform/SystemExtension.h"

#include <QFileInfo>
#include <QLocalServer>
#include <QTest>

#include "support/FakeProvider.h"

using namespace kovra;
using namespace std::chrono_literals;

namespace {

// Records every outcome of the requests it is the delegate of.
class RecordingDelegate : public SystemExtensionRequestDelegate {
public:
    QStringList outcomes;
    void requestDidFinish(const SystemExtensionRequest &, SystemExtensionRequestResult result) override
    {
        outcomes << (result == SystemExtensionRequestResult::Completed ? "completed" : "reboot");
    }
    void requestDidFail(const SystemExtensionRequest &, const QString &error) override { outcomes << "failed: " + error; }
    void requestNeedsUserApproval(const SystemExtensionRequest &) override { outcomes << "approval"; }
    SystemExtensionReplacementAction actionForReplacingExtension(const SystemExtensionRequest &, const QString &,
                                                                 const QString &) override
    {
        return SystemExtensionReplacementAction::Replace;
    }
};

} // namespace

class TunnelActivationTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void answersOnceAndNeverInsideSubmit_data()
    {
        QTest::addColumn<QString>("provider");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("provider answers") << "fake" << "completed";
        QTest::newRow("no socket") << "none" << "failed: the tunnel provider is not installed or not running: no socket at %1";
        QTest::newRow("stale socket file") << "stale"
                                           << "failed: the tunnel provider is not running: %1 refused the connection";
        QTest::newRow("provider accepts but stays silent")
            << "silent" << "failed: the tunnel provider at %1 did not answer within 200 ms";
        QTest::newRow("socket folder writable by others")
            << "unsafe" << "failed: refused the tunnel provider socket %1: the socket folder %2 is writable by others (mode 0777)";
    }
    void answersOnceAndNeverInsideSubmit()
    {
        QFETCH(QString, provider);
        QFETCH(QString, outcome);
        test::FakeProvider fake;
        const QString path = fake.socketPath();
        QLocalServer silent;
        if (provider != "fake")
            fake.kill();
        if (provider == "silent" || provider == "unsafe")
            QVERIFY(silent.listen(path));
        const QString folder = QFileInfo(path).absolutePath();
        if (provider == "unsafe")
            QVERIFY(QFile::setPermissions(folder, QFileDevice::Permissions(0x7777)));
        QFile stale(path); // a file left where the socket was: nobody listens on it
        if (provider == "stale")
            QVERIFY(stale.open(QIODevice::WriteOnly));

        ProviderActivationManager manager(path, 200ms);
        RecordingDelegate delegate;
        auto request = SystemExtensionRequest::activationRequest(QStringLiteral("com.example.tunnel"));
        request->setDelegate(&delegate);
        manager.submitRequest(request);
        QVERIFY(delegate.outcomes.isEmpty());

        QTRY_COMPARE(delegate.outcomes.size(), 1);
        QCOMPARE(delegate.outcomes.first(), QString(outcome).replace("%1", path).replace("%2", folder));
        QTest::qWait(300);
        QCOMPARE(delegate.outcomes.size(), 1);
        QFile::remove(path);
    }

    void delegateGoneDropsTheAnswer()
    {
        test::FakeProvider fake;
        ProviderActivationManager manager(fake.socketPath(), 200ms);
        auto delegate = std::make_unique<RecordingDelegate>();
        auto request = SystemExtensionRequest::activationRequest(QStringLiteral("com.example.tunnel"));
        request->setDelegate(delegate.get());
        manager.submitRequest(request);
        delegate.reset();
        QVERIFY(fake.waitForRequests(QStringLiteral("getStatus")));
        QTest::qWait(50);
        QCOMPARE(request->delegate(), nullptr);
    }
};

QTEST_GUILESS_MAIN(TunnelActivationTest)
#include "itst_tunnel_activation.moc"
