#include "ui/design/Appearance.h"
#include "ui/design/DesktopAppearance.h"

#include "support/TestHome.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
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
const QString kInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString kAppearance = QStringLiteral("org.freedesktop.appearance");
const QString kGnome = QStringLiteral("org.gnome.desktop.interface");
const QString kKde = QStringLiteral("org.kde.kdeglobals.KDE");

QPalette windowPalette(bool dark)
{
    QPalette p;
    p.setColor(QPalette::Window, dark ? QColor(0x20, 0x20, 0x20) : QColor(0xF0, 0xF0, 0xF0));
    return p;
}

// The settings portal as the desktop serves it, on a connection of its own under
// a name only this test uses. Read answers from `values` (wrapped in `wraps`
// variants), or NotFound; with `holdReads` the answers wait for release().
class FakePortal : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public:
    FakePortal()
        : m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, test::uniqueName(u"fake-portal"_qs))),
          m_service(QStringLiteral("org.kovra.test.Portal_") + QString::number(++s_count))
    {
        m_bus.registerObject(kPath, this, QDBusConnection::ExportAllSlots);
        m_bus.registerService(m_service);
    }
    ~FakePortal() override
    {
        m_bus.unregisterService(m_service);
        QDBusConnection::disconnectFromBus(m_bus.name());
    }

    QString service() const { return m_service; }
    QMap<QPair<QString, QString>, QVariant> values;
    int wraps = 1;
    bool holdReads = false;

    void changed(const QString &ns, const QString &key, const QVariant &value)
    {
        QDBusMessage signal = QDBusMessage::createSignal(kPath, kInterface, QStringLiteral("SettingChanged"));
        signal << ns << key << QVariant::fromValue(QDBusVariant(value));
        m_bus.send(signal);
    }
    void release()
    {
        for (const QDBusMessage &call : std::exchange(m_held, {}))
            m_bus.send(answer(call));
    }

public Q_SLOTS:
    QDBusVariant Read(const QString &ns, const QString &key)
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
        const auto it = values.constFind({call.arguments().at(0).toString(), call.arguments().at(1).toString()});
        if (it == values.constEnd())
            return call.createErrorReply(QStringLiteral("org.freedesktop.portal.Error.NotFound"),
                                         QStringLiteral("Requested setting not found"));
        QVariant v = *it;
        for (int i = 1; i < wraps; ++i)
            v = QVariant::fromValue(QDBusVariant(v));
        return call.createReply(QVariant::fromValue(QDBusVariant(v)));
    }

    static inline int s_count = 0;
    QDBusConnection m_bus;
    QString m_service;
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
    void cleanup() { QGuiApplication::setPalette(windowPalette(false)); }

    void colorScheme_data()
    {
        QTest::addColumn<QVariant>("value"); // invalid: the key is missing
        QTest::addColumn<int>("wraps");
        QTest::addColumn<bool>("paletteDark");
        QTest::addColumn<bool>("dark");
        QTest::newRow("prefers dark") << QVariant(1u) << 1 << false << true;
        QTest::newRow("prefers dark, wrapped twice") << QVariant(1u) << 2 << false << true;
        QTest::newRow("prefers light over a dark palette") << QVariant(2u) << 1 << true << false;
        QTest::newRow("no preference, dark palette") << QVariant(0u) << 1 << true << true;
        QTest::newRow("no preference, light palette") << QVariant(0u) << 1 << false << false;
        QTest::newRow("unknown value") << QVariant(7u) << 1 << true << true;
        QTest::newRow("huge value") << QVariant(qulonglong(1) << 40) << 1 << false << false;
        QTest::newRow("text instead of a number") << QVariant(u"prefer-dark"_qs) << 1 << false << false;
        QTest::newRow("key missing") << QVariant() << 1 << true << true;
    }
    void colorScheme()
    {
        QFETCH(QVariant, value);
        QFETCH(int, wraps);
        QFETCH(bool, paletteDark);
        QGuiApplication::setPalette(windowPalette(paletteDark));
        FakePortal portal;
        portal.wraps = wraps;
        if (value.isValid())
            portal.values[{kAppearance, u"color-scheme"_qs}] = value;
        Appearance appearance;
        DesktopAppearance desktop(&appearance, {false, portal.service()});
        QTRY_VERIFY(!desktop.pending());
        QTEST(appearance.isDark(), "dark");
        QVERIFY(!appearance.reduceMotion());
    }

    void noPortalFollowsThePalette()
    {
        QGuiApplication::setPalette(windowPalette(false));
        Appearance appearance;
        DesktopAppearance desktop(&appearance, {false, u"org.kovra.test.NobodyHere"_qs});
        QTRY_VERIFY(!desktop.pending());
        QVERIFY(!appearance.isDark());
        QGuiApplication::setPalette(windowPalette(true));
        QVERIFY(appearance.isDark());
    }

    // The desktop switches while the app runs; a first answer that arrives after a
    // change is older than it and does not undo it.
    void followsChanges()
    {
        FakePortal portal;
        portal.values[{kAppearance, u"color-scheme"_qs}] = 2u;
        portal.holdReads = true;
        Appearance appearance;
        DesktopAppearance desktop(&appearance, {false, portal.service()});
        portal.changed(kAppearance, u"color-scheme"_qs, 1u);
        QTRY_VERIFY(appearance.isDark());
        portal.release();
        QTRY_VERIFY(!desktop.pending());
        QVERIFY(appearance.isDark());

        portal.changed(kAppearance, u"color-scheme"_qs, 2u);
        QTRY_VERIFY(!appearance.isDark());
        // Another namespace's change leaves the appearance alone.
        portal.changed(u"org.example.other"_qs, u"color-scheme"_qs, 1u);
        portal.changed(kGnome, u"enable-animations"_qs, false);
        QTRY_VERIFY(appearance.reduceMotion());
        QVERIFY(!appearance.isDark());
        // No preference hands the decision back to the palette.
        QGuiApplication::setPalette(windowPalette(true));
        QVERIFY(!appearance.isDark());
        portal.changed(kAppearance, u"color-scheme"_qs, 0u);
        QTRY_VERIFY(appearance.isDark());
    }

    void reduceMotion_data()
    {
        QTest::addColumn<bool>("requested");
        QTest::addColumn<QVariant>("gnome");
        QTest::addColumn<QVariant>("kde");
        QTest::addColumn<bool>("reduce");
        QTest::newRow("nothing asks") << false << QVariant() << QVariant() << false;
        QTest::newRow("environment asks") << true << QVariant(true) << QVariant(1.0) << true;
        QTest::newRow("gnome animations off") << false << QVariant(false) << QVariant() << true;
        QTest::newRow("gnome animations on") << false << QVariant(true) << QVariant() << false;
        QTest::newRow("kde factor zero") << false << QVariant() << QVariant(0.0) << true;
        QTest::newRow("kde factor one") << false << QVariant() << QVariant(1.0) << false;
        QTest::newRow("gnome value of a wrong type") << false << QVariant(u"false"_qs) << QVariant() << false;
    }
    void reduceMotion()
    {
        QFETCH(bool, requested);
        QFETCH(QVariant, gnome);
        QFETCH(QVariant, kde);
        FakePortal portal;
        if (gnome.isValid())
            portal.values[{kGnome, u"enable-animations"_qs}] = gnome;
        if (kde.isValid())
            portal.values[{kKde, u"AnimationDurationFactor"_qs}] = kde;
        Appearance appearance;
        DesktopAppearance desktop(&appearance, {requested, portal.service()});
        QTRY_VERIFY(!desktop.pending());
        QTEST(appearance.reduceMotion(), "reduce");
    }

    void environmentFlag_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("requested");
        QTest::newRow("1") << QByteArray("1") << true;
        QTest::newRow("0") << QByteArray("0") << false;
        QTest::newRow("yes") << QByteArray("yes") << false;
        QTest::newRow("unset") << QByteArray() << false;
    }
    void environmentFlag()
    {
        QFETCH(QByteArray, value);
        if (value.isNull())
            qunsetenv("KOVRA_REDUCE_MOTION");
        else
            qputenv("KOVRA_REDUCE_MOTION", value);
        QTEST(DesktopAppearance::reduceMotionRequestedByEnvironment(), "requested");
        qunsetenv("KOVRA_REDUCE_MOTION");
    }
};

QTEST_MAIN(DesktopAppearanceTest)
#include "itst_desktop_appearance.moc"
