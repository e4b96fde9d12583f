#include "platform/Log.h"
#include "platform/TunnelManager.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

#include <sys/stat.h>

#include "support/Await.h"
#include "support/FakeProvider.h"
#include "support/TestHome.h"

using namespace kovra;
using namespace std::chrono_literals;

namespace {

TunnelPreferencesOptions optionsIn(const test::TestHome &home)
{
    // No provider listens on this socket: sessions read as disconnected.
    return test::tunnelOptions(home.paths(), home.runtimeDir() + QStringLiteral("/none.sock"));
}

mode_t modeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 0;
}

TunnelProviderProtocol sampleProtocol()
{
    return {QStringLiteral("com.example.tunnel"),
            QStringLiteral("Kovra"),
            {{QStringLiteral("subscriptionURL"), QStringLiteral("https://example.test/sub")},
             {QStringLiteral("bypassLAN"), true},
             {QStringLiteral("ratio"), 0.5},
             {QStringLiteral("minutes"), 30},
             {QStringLiteral("selectedRegionKeywords"), QStringList{"de", "nl"}},
             {QStringLiteral("emptyKeywords"), QStringList{}},
             {QStringLiteral("extension.own"), QVariantMap{{QStringLiteral("nested"), QVariantList{1, "two"}}}}}};
}

template<typename T>
int errorCode(QCoro::Task<T> task)
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
        test::TestHome home{test::TestHome::PathsOnly};
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
        QCOMPARE(c.value("ratio").toDouble(), 0.5);
        QCOMPARE(c.value("minutes").typeId(), QMetaType::LongLong);
        QCOMPARE(c.value("selectedRegionKeywords").typeId(), QMetaType::QStringList);
        QCOMPARE(c.value("selectedRegionKeywords").toStringList(), QStringList({"de", "nl"}));
        QCOMPARE(c.value("emptyKeywords").typeId(), QMetaType::QStringList);
        QCOMPARE(c.value("extension.own").toMap().value("nested").toList().value(1).toString(), QStringLiteral("two"));
    }

    // The file holds the subscription URL with its token: owner-only, in an owner-only
    // folder, also when an older file was readable by all.
    void savingOneConfigurationKeepsTheOthersInAPrivateFile()
    {
        test::TestHome home{test::TestHome::PathsOnly};
        TunnelPreferences preferences(optionsIn(home));
        const QString file = preferences.options().configurationsFile;
        TunnelProviderManager *a = preferences.createManager();
        TunnelProviderManager *b = preferences.createManager();
        a->setProtocolConfiguration(sampleProtocol());
        b->setProtocolConfiguration(sampleProtocol());
        test::await(a->saveToPreferences());
        test::await(b->saveToPreferences());
        QCOMPARE(modeOf(home.configHome() + "/kovra"), mode_t(0700));
        QCOMPARE(modeOf(file), mode_t(0600));
        QVERIFY(QFile::setPermissions(file, QFileDevice::Permissions(0x6644)));
        a->setLocalizedDescription(QStringLiteral("changed"));
        test::await(a->saveToPreferences());
        // Loading again hands out the same objects.
        QCOMPARE(test::await(preferences.loadAllFromPreferences()), (QList<TunnelProviderManager *>{a, b}));

        TunnelPreferences other(optionsIn(home));
        const auto all = test::await(other.loadAllFromPreferences());
        QCOMPARE(all.size(), 2);
        QCOMPARE(all.at(0)->identifier(), a->identifier());
        QCOMPARE(all.at(0)->localizedDescription(), QStringLiteral("changed"));
        QCOMPARE(all.at(1)->identifier(), b->identifier());
        // Only the final file is left behind, no temporary ones.
        QCOMPARE(QDir(home.configHome() + "/kovra").entryList(QDir::Files), QStringList{"vpn-configurations.json"});
        QCOMPARE(modeOf(file), mode_t(0600));
    }

    void loadFromPreferencesDropsUnsavedEdits()
    {
        test::TestHome home{test::TestHome::PathsOnly};
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

    void save_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<int>("code");
        QTest::newRow("saved") << "" << 0;
        QTest::newRow("file is a folder") << "folder" << int(VPNError::ConfigurationReadWriteFailed);
        QTest::newRow("no protocol") << "no protocol" << int(VPNError::ConfigurationInvalid);
        QTest::newRow("value of another type") << "bytes" << int(VPNError::ConfigurationInvalid);
    }
    void save()
    {
        QFETCH(QString, setup);
        QFETCH(int, code);
        test::TestHome home{test::TestHome::PathsOnly};
        TunnelPreferences preferences(optionsIn(home));
        TunnelProviderManager *m = preferences.createManager();
        TunnelProviderProtocol protocol = sampleProtocol();
        if (setup == "folder")
            QVERIFY(QDir().mkpath(preferences.options().configurationsFile));
        if (setup == "bytes")
            protocol.providerConfiguration.insert(QStringLiteral("blob"), QByteArray("x"));
        if (setup != "no protocol")
            m->setProtocolConfiguration(protocol);
        QSignalSpy statusSpy(m->connection(), &TunnelProviderSession::statusChanged);

        QCOMPARE(errorCode(m->saveToPreferences()), code);
        if (setup == "folder") // an unreadable file fails the load too
            QCOMPARE(errorCode(preferences.loadAllFromPreferences()), code);
        QCOMPARE(m->isSaved(), code == 0);
        if (code == 0) // saving again changes no status
            QCOMPARE(errorCode(m->saveToPreferences()), 0);
        // Only a saved configuration has a status; it starts disconnected.
        QCOMPARE(m->connection()->status(), code ? VPNStatus::Invalid : VPNStatus::Disconnected);
        QCOMPARE(statusSpy.size(), code ? 0 : 1);
    }

    void damagedContentReadsAsEmptyAndSavingStillWorks_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("keptAside");
        QTest::newRow("not JSON") << QByteArray("{\"configurations\": [") << true;
        QTest::newRow("entry without identifier") << QByteArray("{\"configurations\": [{\"enabled\": true}, 7]}")
                                                  << false;
    }
    void damagedContentReadsAsEmptyAndSavingStillWorks()
    {
        QFETCH(QByteArray, content);
        test::TestHome home{test::TestHome::PathsOnly};
        TunnelPreferences preferences(optionsIn(home));
        QDir().mkpath(home.configHome() + "/kovra");
        QFile file(preferences.options().configurationsFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();

        QFETCH(bool, keptAside);
        LogCapture capture;
        QVERIFY(test::await(preferences.loadAllFromPreferences()).isEmpty());
        // A file that does not parse is never lost: it is moved aside, with a line naming it.
        const QDir dir(home.configHome() + "/kovra");
        const QStringList aside = dir.entryList({QStringLiteral("vpn-configurations.json.corrupt-*")}, QDir::Files);
        QCOMPARE(aside.size(), keptAside ? 1 : 0);
        if (keptAside) {
            QFile kept(dir.filePath(aside.first()));
            QVERIFY(kept.open(QIODevice::ReadOnly));
            QCOMPARE(kept.readAll(), content);
            QVERIFY(capture.texts(QStringLiteral("TunnelSession")).join('\n').contains(aside.first()));
        }
        TunnelProviderManager *m = preferences.createManager();
        m->setProtocolConfiguration(sampleProtocol());
        test::await(m->saveToPreferences());
        TunnelPreferences other(optionsIn(home));
        const auto all = test::await(other.loadAllFromPreferences());
        QCOMPARE(all.size(), 1);
        QCOMPARE(all.first()->identifier(), m->identifier());
    }
};

QTEST_GUILESS_MAIN(TunnelPreferencesTest)
#include "itst_tunnel_preferences.moc"
