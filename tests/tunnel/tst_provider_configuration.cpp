#include "core/AppGroupStore.h"
#include "platform/TunnelManager.h"
#include "tunnel/ProviderConfiguration.h"

#include <QJsonObject>
#include <QTest>

#include "support/Await.h"
#include "support/FakeProvider.h"
#include "support/TestHome.h"

using namespace kovra;

namespace {

const QString kURL = QStringLiteral("https://sub.example.test/s/abc");

// An app group over in-memory defaults and a preferences file in a private home.
struct Rig {
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
    std::shared_ptr<Defaults> defaults = Defaults::inMemory();
    AppGroupStore appGroup{defaults, nullptr};
    TunnelPreferences preferences{test::tunnelOptions(home.paths(), home.runtimeDir() + QStringLiteral("/none.sock"))};
};

} // namespace

class ProviderConfigurationTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Absent or mistyped values give the defaults; the saved configuration carries the
    // URL and the five settings, its flags as numbers.
    void mistypedSettingsFallBack()
    {
        Rig rig;
        rig.defaults->setObjects({{"kovra.preferred_entry", 7}, {"selectedRegionKeywords", "de"}, {"kovra.bypass_lan", 0},
                                  {"kovra.blocked_only", "true"}, {"kovra.auto_disconnect_minutes", "30"}});
        QVariantMap expected{{"subscriptionURL", kURL}, {"preferredEntryID", "auto"}, {"selectedRegionKeywords", QStringList()},
                             {"bypassLAN", true}, {"bypassRussia", true}, {"blockedOnly", false}};
        QVariantMap options = expected;
        options.insert("autoDisconnectMinutes", QVariant::fromValue(qint64(0)));
        QCOMPARE(startOptions(kURL, rig.appGroup), options);

        expected.insert({{"bypassLAN", 1}, {"bypassRussia", 1}, {"blockedOnly", 0}});
        QCOMPARE(QJsonObject::fromVariantMap(rig.installed(kURL)->protocolConfiguration()->providerConfiguration),
                 QJsonObject::fromVariantMap(expected));
    }

    void currentRule_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("askURL");
        QTest::addColumn<bool>("current");
        QTest::newRow("unchanged") << "" << kURL << true;
        QTest::newRow("keywords reordered") << "keywords reordered" << kURL << false;
        QTest::newRow("on-demand on") << "on-demand on" << kURL << false;
        QTest::newRow("flag stored as text") << "flag stored as text" << kURL << false;
        QTest::newRow("no protocol") << "no protocol" << kURL << false;
        QTest::newRow("empty URL ignores URL and settings") << "keywords reordered" << "" << true;
        QTest::newRow("empty URL, disabled") << "disabled" << "" << false;
        QTest::newRow("none saved") << "none saved" << kURL << false;
    }
    void currentRule()
    {
        QFETCH(QString, change);
        QFETCH(QString, askURL);
        QFETCH(bool, current);
        Rig rig;
        rig.defaults->set(AppGroupKey::selectedRegionKeywords, QStringList{"de", "berlin"});
        TunnelProviderManager *m = rig.installed(kURL);

        if (change == "keywords reordered")
            rig.defaults->set(AppGroupKey::selectedRegionKeywords, QStringList{"berlin", "de"});
        else if (change == "disabled")
            m->setEnabled(false);
        else if (change == "on-demand on")
            m->setOnDemandEnabled(true);
        else if (change == "no protocol")
            m->setProtocolConfiguration(std::nullopt);
        else if (change == "flag stored as text")
            rig.editProviderConfiguration(m, [](QVariantMap &c) { c["bypassLAN"] = "1"; });

        QCOMPARE(isConfigurationCurrent(change == "none saved" ? nullptr : m, askURL, rig.wanted(askURL)), current);
    }

    // A rewrite keeps the provider's own keys; one with an empty URL leaves the URL and
    // the settings alone and only enables the configuration again.
    void rewriteKeepsWhatTheAppDoesNotOwn()
    {
        Rig rig;
        TunnelProviderManager *m = rig.installed(kURL);
        rig.editProviderConfiguration(m, [](QVariantMap &c) { c["extension.cache"] = QVariantMap{{"etag", "abc"}}; });
        rig.defaults->set(AppGroupKey::blockedOnly, true);
        writeConfiguration(*m, kURL + "2", rig.wanted(kURL + "2"));
        rig.saved(m);
        QCOMPARE(m->protocolConfiguration()->providerConfiguration.value("extension.cache").toMap().value("etag"), "abc");
        QVERIFY(isConfigurationCurrent(m, kURL + "2", rig.wanted(kURL + "2")));

        m->setEnabled(false);
        rig.saved(m);
        const QVariantMap before = m->protocolConfiguration()->providerConfiguration;
        rig.defaults->set(AppGroupKey::preferredEntry, "de-9"); // must not reach the configuration
        writeConfiguration(*m, QString(), std::nullopt);
        rig.saved(m);
        QCOMPARE(m->protocolConfiguration()->providerConfiguration, before);
        QVERIFY(m->isEnabled());
    }
};

QTEST_GUILESS_MAIN(ProviderConfigurationTest)
#include "tst_provider_configuration.moc"
