#include "core/AppGroupStore.h"
#include "platform/TunnelManager.h"
#include "tunnel/ProviderConfiguration.h"

#include <QJsonObject>
#include <QTest>

#include "support/Await.h"
#include "support/FakeProvider.h"
#include "support/TestHome.h"

using namespace kovra;
using namespace std::chrono_literals;

namespace {

const QString kURL = QStringLiteral("https://sub.example.test/s/abc");

// An app group over in-memory defaults and a preferences file in a private home.
struct Rig {
    Rig()
        : defaults(Defaults::inMemory()), appGroup(defaults, nullptr),
          preferences(test::tunnelOptions(home.paths(), home.runtimeDir() + QStringLiteral("/none.sock")))
    {
    }

    std::optional<ProviderSettings> wanted(const QString &url) const
    {
        return url.isEmpty() ? std::nullopt : std::optional(ProviderSettings(appGroup));
    }

    // A configuration as an install with this URL writes it, saved and read back
    // (so that its flags are numbers, as the file gives them).
    TunnelProviderManager *installed(const QString &url)
    {
        TunnelProviderManager *m = preferences.createManager();
        writeConfiguration(*m, url, wanted(url));
        return saved(m);
    }

    TunnelProviderManager *saved(TunnelProviderManager *m)
    {
        test::await(m->saveToPreferences());
        test::await(m->loadFromPreferences());
        return m;
    }

    void editProviderConfiguration(TunnelProviderManager *m, const std::function<void(QVariantMap &)> &edit)
    {
        auto protocol = *m->protocolConfiguration();
        edit(protocol.providerConfiguration);
        m->setProtocolConfiguration(protocol);
        saved(m);
    }

    test::TestHome home{test::TestHome::PathsOnly};
    std::shared_ptr<Defaults> defaults;
    AppGroupStore appGroup;
    TunnelPreferences preferences;
};

} // namespace

class ProviderConfigurationTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void settingsFollowWhatIsStored_data()
    {
        QTest::addColumn<QVariantMap>("stored");
        QTest::addColumn<QVariantMap>("expected"); // the five settings
        QTest::addColumn<qint64>("minutes");
        const QVariantMap defaults{{"preferredEntryID", "auto"}, {"selectedRegionKeywords", QStringList()},
                                   {"bypassLAN", true}, {"bypassRussia", true}, {"blockedOnly", false}};
        QTest::newRow("nothing stored") << QVariantMap() << defaults << qint64(0);
        QTest::newRow("all stored") << QVariantMap{{"kovra.preferred_entry", "fi-2"},
                                                   {"selectedRegionKeywords", QStringList{"de", "berlin"}},
                                                   {"kovra.bypass_lan", false},
                                                   {"kovra.bypass_russia", false},
                                                   {"kovra.blocked_only", true},
                                                   {"kovra.auto_disconnect_minutes", 45}}
                                    << QVariantMap{{"preferredEntryID", "fi-2"},
                                                   {"selectedRegionKeywords", QStringList{"de", "berlin"}},
                                                   {"bypassLAN", false},
                                                   {"bypassRussia", false},
                                                   {"blockedOnly", true}}
                                    << qint64(45);
        QTest::newRow("mistyped values fall back")
            << QVariantMap{{"kovra.preferred_entry", 7},
                           {"selectedRegionKeywords", "de"},
                           {"kovra.bypass_lan", 0},
                           {"kovra.blocked_only", "true"},
                           {"kovra.auto_disconnect_minutes", "30"}}
            << defaults << qint64(0);
    }
    void settingsFollowWhatIsStored()
    {
        QFETCH(QVariantMap, stored);
        QFETCH(QVariantMap, expected);
        QFETCH(qint64, minutes);
        Rig rig;
        for (auto it = stored.begin(); it != stored.end(); ++it)
            rig.defaults->setObject(it.key(), it.value());
        expected.insert("subscriptionURL", kURL);
        QVariantMap options = expected;
        options.insert("autoDisconnectMinutes", QVariant::fromValue(minutes));
        QCOMPARE(startOptions(kURL, rig.appGroup), options);

        // The saved configuration carries the URL and the five settings, its flags as numbers.
        for (const char *flag : {"bypassLAN", "bypassRussia", "blockedOnly"})
            expected[flag] = expected.value(flag).toBool() ? 1 : 0;
        TunnelProviderManager *m = rig.installed(kURL);
        QCOMPARE(QJsonObject::fromVariantMap(m->protocolConfiguration()->providerConfiguration),
                 QJsonObject::fromVariantMap(expected));
        QCOMPARE(m->protocolConfiguration()->providerBundleIdentifier, QStringLiteral("com.kovra.client-sign-box.PacketTunnel"));
        QCOMPARE(m->protocolConfiguration()->serverAddress, QStringLiteral("Kovra"));
        QCOMPARE(m->localizedDescription(), QStringLiteral("Kovra S"));
        QVERIFY(m->isEnabled());
    }

    void currentRule_data()
    {
        QTest::addColumn<QString>("installURL"); // what the saved configuration was written with
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("askURL");
        QTest::addColumn<bool>("current");
        QTest::newRow("unchanged") << kURL << "" << kURL << true;
        QTest::newRow("keywords reordered") << kURL << "keywords reordered" << kURL << false;
        QTest::newRow("entry changed") << kURL << "entry changed" << kURL << false;
        QTest::newRow("flag changed") << kURL << "flag changed" << kURL << false;
        QTest::newRow("other URL") << kURL << "" << kURL + "x" << false;
        QTest::newRow("disabled") << kURL << "disabled" << kURL << false;
        QTest::newRow("other bundle") << kURL << "other bundle" << kURL << false;
        QTest::newRow("on-demand on") << kURL << "on-demand on" << kURL << false;
        QTest::newRow("settings key missing") << kURL << "settings key missing" << kURL << false;
        QTest::newRow("flag stored as text") << kURL << "flag stored as text" << kURL << false;
        QTest::newRow("no protocol") << kURL << "no protocol" << kURL << false;
        QTest::newRow("empty URL ignores URL and settings") << kURL << "entry changed" << "" << true;
        QTest::newRow("none saved") << kURL << "none saved" << kURL << false;
        QTest::newRow("none saved, empty URL") << kURL << "none saved" << "" << false;
        QTest::newRow("empty URL, written without URL") << "" << "" << "" << true;
        QTest::newRow("written without URL, asked with one") << "" << "" << kURL << false;
        QTest::newRow("empty URL, disabled") << kURL << "disabled" << "" << false;
    }
    void currentRule()
    {
        QFETCH(QString, installURL);
        QFETCH(QString, change);
        QFETCH(QString, askURL);
        QFETCH(bool, current);
        Rig rig;
        rig.defaults->set(AppGroupKey::selectedRegionKeywords, QStringList{"de", "berlin"});
        TunnelProviderManager *m = rig.installed(installURL);

        if (change == "keywords reordered")
            rig.defaults->set(AppGroupKey::selectedRegionKeywords, QStringList{"berlin", "de"});
        else if (change == "entry changed")
            rig.defaults->set(AppGroupKey::preferredEntry, "fi-1");
        else if (change == "flag changed")
            rig.defaults->set(AppGroupKey::bypassRussia, false);
        else if (change == "disabled")
            m->setEnabled(false);
        else if (change == "on-demand on")
            m->setOnDemandEnabled(true);
        else if (change == "no protocol")
            m->setProtocolConfiguration(std::nullopt);
        else if (change == "none saved")
            m = nullptr;
        else if (change == "other bundle") {
            auto protocol = *m->protocolConfiguration();
            protocol.providerBundleIdentifier = "other";
            m->setProtocolConfiguration(protocol);
        } else if (change == "settings key missing")
            rig.editProviderConfiguration(m, [](QVariantMap &c) { c.remove("blockedOnly"); });
        else if (change == "flag stored as text")
            rig.editProviderConfiguration(m, [](QVariantMap &c) { c["bypassLAN"] = "1"; });

        QCOMPARE(isConfigurationCurrent(m, askURL, rig.wanted(askURL)), current);
    }

    void rewriteWithEmptyURLLeavesURLAndSettingsAlone()
    {
        Rig rig;
        rig.defaults->set(AppGroupKey::preferredEntry, "fi-1");
        TunnelProviderManager *m = rig.installed(kURL);
        m->setEnabled(false);
        rig.saved(m);
        const QVariantMap before = m->protocolConfiguration()->providerConfiguration;
        rig.defaults->set(AppGroupKey::preferredEntry, "de-9"); // must not reach the configuration

        QVERIFY(!isConfigurationCurrent(m, QString(), std::nullopt));
        writeConfiguration(*m, QString(), std::nullopt);
        rig.saved(m);
        QCOMPARE(m->protocolConfiguration()->providerConfiguration, before);
        QVERIFY(m->isEnabled());
        QVERIFY(isConfigurationCurrent(m, QString(), std::nullopt));
    }

    void providerKeysTheAppDoesNotOwnSurviveARewrite()
    {
        Rig rig;
        TunnelProviderManager *m = rig.installed(kURL);
        rig.editProviderConfiguration(m, [](QVariantMap &c) {
            c["extension.cache"] = QVariantMap{{"etag", "abc"}};
            c["schemaVersion"] = 3;
        });
        rig.defaults->set(AppGroupKey::blockedOnly, true);

        writeConfiguration(*m, kURL + "2", rig.wanted(kURL + "2"));
        rig.saved(m);
        const QVariantMap config = m->protocolConfiguration()->providerConfiguration;
        QCOMPARE(config.value("extension.cache").toMap().value("etag").toString(), QStringLiteral("abc"));
        QCOMPARE(config.value("schemaVersion").toLongLong(), 3);
        QCOMPARE(config.value("subscriptionURL").toString(), kURL + "2");
        QCOMPARE(config.value("blockedOnly").toLongLong(), 1);
        QVERIFY(isConfigurationCurrent(m, kURL + "2", rig.wanted(kURL + "2")));
    }
};

QTEST_GUILESS_MAIN(ProviderConfigurationTest)
#include "tst_provider_configuration.moc"
