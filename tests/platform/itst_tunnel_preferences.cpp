#include "platform/Log.h"
#include "platform/TunnelManager.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

#include "support/Await.h"
#include "support/TestHome.h"

using namespace kovra;
using namespace std::chrono_literals;

namespace {

TunnelPreferencesOptions optionsIn(const test::TestHome &home)
{
    // No provider listens on this socket: sessions read as disconnected.
    return {home.configHome() + QStringLiteral("/kovra/vpn-configurations.json"),
            home.runtimeDir() + QStringLiteral("/none.sock"), 10s, 1h};
}

TunnelProviderProtocol sampleProtocol()
{
    return {QStringLiteral("com.example.tunnel"),
            QStringLiteral("Kovra"),
            {{QStringLiteral("subscriptionURL"), QStringLiteral("https://example.test/sub")},
             {QStringLiteral("bypassLAN"), true},
             {QStringLiteral("blockedOnly"), false},
             {QStringLiteral("ratio"), 0.5},
             {QStringLiteral("minutes"), 30},
             {QStringLiteral("selectedRegionKeywords"), QStringList{"de", "nl"}},
             {QStringLiteral("emptyKeywords"), QStringList{}},
             {QStringLiteral("extension.own"), QVariantMap{{QStringLiteral("nested"), QVariantList{1, "two"}}}}}};
}

int errorCode(QCoro::Task<void> task)
{
    try {
        test::await(std::move(task));
    } catch (const VPNError &e) {
        return e.code();
    }
    return 0;
}

} // namespace

class TunnelPreferencesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void savedConfigurationReadsBackTyped()
    {
        test::TestHome home;
        TunnelPreferences writer(optionsIn(home));
        TunnelProviderManager *m = writer.createManager();
        m->setProtocolConfiguration(sampleProtocol());
        m->setLocalizedDescription(QStringLiteral("Kovra S"));
        m->setEnabled(true);
        m->setOnDemandEnabled(true);
        m->setOnDemandRules({QVariantMap{{QStringLiteral("action"), QStringLiteral("connect")}}});
        test::await(m->saveToPreferences());

        TunnelPreferences reader(optionsIn(home));
        const auto all = test::await(reader.loadAllFromPreferences());
        QCOMPARE(all.size(), 1);
        const TunnelProviderManager *r = all.first();
        QCOMPARE(r->identifier(), m->identifier());
        QCOMPARE(r->localizedDescription(), QStringLiteral("Kovra S"));
        QVERIFY(r->isEnabled());
        QVERIFY(r->isOnDemandEnabled());
        QCOMPARE(r->onDemandRules().size(), 1);
        const auto protocol = r->protocolConfiguration();
        QVERIFY(protocol);
        QCOMPARE(protocol->providerBundleIdentifier, QStringLiteral("com.example.tunnel"));
        QCOMPARE(protocol->serverAddress, QStringLiteral("Kovra"));
        const QVariantMap c = protocol->providerConfiguration;
        // Flags come back as numbers, whole numbers as integers, string arrays as string lists.
        QCOMPARE(c.value("bypassLAN").typeId(), QMetaType::LongLong);
        QCOMPARE(c.value("bypassLAN").toLongLong(), 1);
        QCOMPARE(c.value("blockedOnly").toLongLong(), 0);
        QCOMPARE(c.value("ratio").toDouble(), 0.5);
        QCOMPARE(c.value("minutes").typeId(), QMetaType::LongLong);
        QCOMPARE(c.value("selectedRegionKeywords").typeId(), QMetaType::QStringList);
        QCOMPARE(c.value("selectedRegionKeywords").toStringList(), QStringList({"de", "nl"}));
        QCOMPARE(c.value("emptyKeywords").typeId(), QMetaType::QStringList);
        QCOMPARE(c.value("extension.own").toMap().value("nested").toList().value(1).toString(), QStringLiteral("two"));
    }

    void loadingAgainHandsOutTheSameObjects()
    {
        test::TestHome home;
        TunnelPreferences preferences(optionsIn(home));
        TunnelProviderManager *m = preferences.createManager();
        m->setProtocolConfiguration(sampleProtocol());
        test::await(m->saveToPreferences());
        const auto first = test::await(preferences.loadAllFromPreferences());
        const auto second = test::await(preferences.loadAllFromPreferences());
        QCOMPARE(first, QList<TunnelProviderManager *>{m});
        QCOMPARE(second, first);
    }

    void savingOneConfigurationKeepsTheOthers()
    {
        test::TestHome home;
        TunnelPreferences preferences(optionsIn(home));
        TunnelProviderManager *a = preferences.createManager();
        TunnelProviderManager *b = preferences.createManager();
        a->setProtocolConfiguration(sampleProtocol());
        b->setProtocolConfiguration(sampleProtocol());
        test::await(a->saveToPreferences());
        test::await(b->saveToPreferences());
        a->setLocalizedDescription(QStringLiteral("changed"));
        test::await(a->saveToPreferences());

        TunnelPreferences other(optionsIn(home));
        const auto all = test::await(other.loadAllFromPreferences());
        QCOMPARE(all.size(), 2);
        QCOMPARE(all.at(0)->identifier(), a->identifier());
        QCOMPARE(all.at(0)->localizedDescription(), QStringLiteral("changed"));
        QCOMPARE(all.at(1)->identifier(), b->identifier());
        // Only the final file is left behind, no temporary ones.
        QCOMPARE(QDir(home.configHome() + "/kovra").entryList(QDir::Files), QStringList{"vpn-configurations.json"});
    }

    void loadFromPreferencesDropsUnsavedEdits()
    {
        test::TestHome home;
        TunnelPreferences preferences(optionsIn(home));
        TunnelProviderManager *m = preferences.createManager();
        QCOMPARE(errorCode(m->loadFromPreferences()), int(VPNError::ConfigurationInvalid));
        m->setProtocolConfiguration(sampleProtocol());
        m->setEnabled(true);
        test::await(m->saveToPreferences());
        m->setEnabled(false);
        m->setProtocolConfiguration(std::nullopt);
        test::await(m->loadFromPreferences());
        QVERIFY(m->isEnabled());
        QVERIFY(m->protocolConfiguration());
        QCOMPARE(m->protocolConfiguration()->providerBundleIdentifier, QStringLiteral("com.example.tunnel"));
    }

    void saveFailures_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<int>("code");
        QTest::newRow("file is a folder") << "folder" << int(VPNError::ConfigurationReadWriteFailed);
        QTest::newRow("config folder is a file") << "blocked folder" << int(VPNError::ConfigurationReadWriteFailed);
        QTest::newRow("no protocol") << "no protocol" << int(VPNError::ConfigurationInvalid);
        QTest::newRow("value of another type") << "bytes" << int(VPNError::ConfigurationInvalid);
    }
    void saveFailures()
    {
        QFETCH(QString, setup);
        QFETCH(int, code);
        test::TestHome home;
        TunnelPreferences preferences(optionsIn(home));
        TunnelProviderManager *m = preferences.createManager();
        TunnelProviderProtocol protocol = sampleProtocol();
        if (setup == "folder")
            QVERIFY(QDir().mkpath(preferences.options().configurationsFile));
        if (setup == "blocked folder") {
            QFile blocker(home.configHome() + "/kovra");
            QVERIFY(blocker.open(QIODevice::WriteOnly));
        }
        if (setup == "bytes")
            protocol.providerConfiguration.insert(QStringLiteral("blob"), QByteArray("x"));
        if (setup != "no protocol")
            m->setProtocolConfiguration(protocol);
        QSignalSpy statusSpy(m->connection(), &TunnelProviderSession::statusChanged);

        QCOMPARE(errorCode(m->saveToPreferences()), code);
        QVERIFY(!m->isSaved());
        QCOMPARE(m->connection()->status(), VPNStatus::Invalid);
        QCOMPARE(statusSpy.size(), 0);
    }

    void savingMakesTheStatusDisconnected()
    {
        test::TestHome home;
        TunnelPreferences preferences(optionsIn(home));
        TunnelProviderManager *m = preferences.createManager();
        m->setProtocolConfiguration(sampleProtocol());
        QSignalSpy statusSpy(m->connection(), &TunnelProviderSession::statusChanged);
        QCOMPARE(m->connection()->status(), VPNStatus::Invalid);
        test::await(m->saveToPreferences());
        QCOMPARE(m->connection()->status(), VPNStatus::Disconnected);
        test::await(m->saveToPreferences());
        QCOMPARE(statusSpy.size(), 1);
        QCOMPARE(statusSpy.at(0).at(0).value<VPNStatus>(), VPNStatus::Disconnected);
    }

    void damagedContentReadsAsEmptyAndSavingStillWorks_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("not JSON") << QByteArray("{\"configurations\": [");
        QTest::newRow("an array") << QByteArray("[]");
        QTest::newRow("entry without identifier") << QByteArray("{\"configurations\": [{\"enabled\": true}, 7]}");
    }
    void damagedContentReadsAsEmptyAndSavingStillWorks()
    {
        QFETCH(QByteArray, content);
        test::TestHome home;
        TunnelPreferences preferences(optionsIn(home));
        QDir().mkpath(home.configHome() + "/kovra");
        QFile file(preferences.options().configurationsFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();

        QVERIFY(test::await(preferences.loadAllFromPreferences()).isEmpty());
        TunnelProviderManager *m = preferences.createManager();
        m->setProtocolConfiguration(sampleProtocol());
        test::await(m->saveToPreferences());
        TunnelPreferences other(optionsIn(home));
        const auto all = test::await(other.loadAllFromPreferences());
        QCOMPARE(all.size(), 1);
        QCOMPARE(all.first()->identifier(), m->identifier());
    }

    void unreadableFileFailsTheLoad()
    {
        test::TestHome home;
        TunnelPreferences preferences(optionsIn(home));
        QVERIFY(QDir().mkpath(preferences.options().configurationsFile));
        try {
            test::await(preferences.loadAllFromPreferences());
            QFAIL("load did not fail");
        } catch (const VPNError &e) {
            QCOMPARE(e.code(), int(VPNError::ConfigurationReadWriteFailed));
        }
    }
};

QTEST_GUILESS_MAIN(TunnelPreferencesTest)
#include "itst_tunnel_preferences.moc"
