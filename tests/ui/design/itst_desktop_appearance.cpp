#include "ui/design/Appearance.h"
#include "ui/design/DesktopAppearance.h"

#include "support/TestHome.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QPalette>
#include <QTest>

using namespace kovra;
using namespace kovra::ui;

namespace {

const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kAppearance = QStringLiteral("org.freedesktop.appearance");
const QString kScheme = QStringLiteral("color-scheme");
const QString kGnome = QStringLiteral("org.gnome.desktop.interface");

void setPaletteDark(bool dark)
{
    QPalette p;
    p.setColor(QPalette::Window, dark ? QColor(0x20, 0x20, 0x20) : QColor(0xF0, 0xF0, 0xF0));
    QGuiApplication::setPalette(p);
}

// The settings portal, on a bus connection of its own under a name only this test
// uses. Read answers from `values`, in a variant in a variant as the real portal's
// Read does, or NotFound; with `holdReads` the answers wait for release().
class FakePortal : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public:
    FakePortal() : m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, test::uniqueName(u"portal"_qs)))
    {
        m_bus.registerObject(kPath, this, QDBusConnection::ExportAllSlots);
        m_bus.registerService(service);
    }
    ~FakePortal() override { QDBusConnection::disconnectFromBus(m_bus.name()); }

    const QString service = u"org.kovra.test.P"_qs + test::uniqueName(u"x"_qs).remove(u'-').remove(u'.');
    QMap<QPair<QString, QString>, QVariant> values;
    bool holdReads = false;

    void change(const QString &ns, const QString &key, const QVariant &value)
    {
        QDBusMessage signal = QDBusMessage::createSignal(kPath, u"org.freedesktop.portal.Settings"_qs,
                                                         u"SettingChanged"_qs);
        signal << ns << key << QVariant::fromValue(QDBusVariant(value));
        m_bus.send(signal);
    }
    void release()
    {
        for (const QDBusMessage &call : std::exchange(m_held, {}))
            m_bus.send(answer(call));
    }

public Q_SLOTS:
    QDBusVariant Read(const QString &, const QString &)
    {
        setDelayedReply(true);
        if (holdReads)
            m_held.append(message());
        else
            m_bus.send(answer(message()));
        return {};
    }

private:
    QDBusMessage answer(const QDBusMessage &call) const
    {
        const QVariant v = values.value({call.arguments().at(0).toString(), call.arguments().at(1).toString()});
        if (!v.isValid())
            return call.createErrorReply(u"org.freedesktop.portal.Error.NotFound"_qs, u"not found"_qs);
        return call.createReply(QVariant::fromValue(QDBusVariant(QVariant::fromValue(QDBusVariant(v)))));
    }

    QDBusConnection m_bus;
    QList<QDBusMessage> m_held;
};

} // namespace

class DesktopAppearanceTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("no session bus (scripts/test provides one)");
    }
    void cleanup() { setPaletteDark(false); }

    // The portal's answer decides; without a usable one the palette does.
    void firstRead_data()
    {
        QTest::addColumn<QVariant>("scheme"); // invalid: key missing
        QTest::addColumn<bool>("paletteDark");
        QTest::addColumn<QVariant>("animations"); // GNOME's enable-animations
        QTest::addColumn<bool>("requested");     // KOVRA_REDUCE_MOTION
        QTest::addColumn<bool>("dark");
        QTest::addColumn<bool>("reduce");
        QTest::newRow("prefers dark") << QVariant(1u) << false << QVariant(true) << false << true << false;
        QTest::newRow("prefers light over a dark palette") << QVariant(2u) << true << QVariant() << false
                                                           << false << false;
        QTest::newRow("no preference") << QVariant(0u) << true << QVariant() << false << true << false;
        QTest::newRow("unknown value") << QVariant(7u) << true << QVariant() << false << true << false;
        QTest::newRow("text value") << QVariant(u"prefer-dark"_qs) << false << QVariant() << false << false
                                    << false;
        QTest::newRow("key missing") << QVariant() << true << QVariant() << false << true << false;
        QTest::newRow("animations off") << QVariant(2u) << false << QVariant(false) << false << false << true;
        QTest::newRow("animations of a wrong type") << QVariant(2u) << false << QVariant(u"false"_qs) << false
                                                    << false << false;
        QTest::newRow("environment asks") << QVariant(2u) << false << QVariant(true) << true << false << true;
    }
    void firstRead()
    {
        QFETCH(QVariant, scheme);
        QFETCH(QVariant, animations);
        QFETCH(bool, requested);
        QFETCH(bool, paletteDark);
        setPaletteDark(paletteDark);
        FakePortal portal;
        portal.values[{kAppearance, kScheme}] = scheme;
        portal.values[{kGnome, u"enable-animations"_qs}] = animations;
        Appearance appearance;
        DesktopAppearance desktop(&appearance, {requested, portal.service});
        QTRY_VERIFY(!desktop.pending());
        QTEST(appearance.isDark(), "dark");
        QTEST(appearance.reduceMotion(), "reduce");
    }

    void noPortalFollowsThePalette()
    {
        Appearance appearance;
        DesktopAppearance desktop(&appearance, {false, u"org.kovra.test.NobodyHere"_qs});
        QTRY_VERIFY(!desktop.pending());
        QVERIFY(!appearance.isDark());
        setPaletteDark(true);
        QVERIFY(appearance.isDark());
    }

    // The desktop switches while the app runs. A first answer that comes after a
    // change is older than the change and does not undo it.
    void followsChanges()
    {
        FakePortal portal;
        portal.values[{kAppearance, kScheme}] = 2u;
        portal.holdReads = true;
        Appearance appearance;
        DesktopAppearance desktop(&appearance, {false, portal.service});
        portal.change(kAppearance, kScheme, 1u);
        QTRY_VERIFY(appearance.isDark());
        portal.release();
        QTRY_VERIFY(!desktop.pending());
        QVERIFY(appearance.isDark());

        portal.change(u"org.example.other"_qs, kScheme, 2u); // another namespace
        portal.change(u"org.kde.kdeglobals.KDE"_qs, u"AnimationDurationFactor"_qs, 0.0);
        QTRY_VERIFY(appearance.reduceMotion());
        QVERIFY(appearance.isDark());
        // No preference hands the decision back to the (light) palette.
        portal.change(kAppearance, kScheme, 0u);
        QTRY_VERIFY(!appearance.isDark());
    }
};

QTEST_MAIN(DesktopAppearanceTest)
#include "itst_desktop_appearance.moc"
