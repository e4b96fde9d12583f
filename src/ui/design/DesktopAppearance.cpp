#include "DesktopAppearance.h"

#include "Appearance.h"
#include "BrandColors.h"

#include "platform/Log.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QEvent>
#include <QGuiApplication>
#include <QPalette>

namespace kovra::ui {

namespace {

const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.Settings");

struct Key {
    QString ns;
    QString key;
};

// In the order of DesktopAppearance::Setting.
const Key kKeys[] = {
    {QStringLiteral("org.freedesktop.appearance"), QStringLiteral("color-scheme")},
    {QStringLiteral("org.gnome.desktop.interface"), QStringLiteral("enable-animations")},
    {QStringLiteral("org.kde.kdeglobals.KDE"), QStringLiteral("AnimationDurationFactor")},
};

const Logger &log()
{
    static const Logger logger(QStringLiteral("Appearance"));
    return logger;
}

// The portal's Read wraps the value in one variant more than SettingChanged does;
// some versions wrap it twice. Peel every layer.
QVariant unwrap(QVariant value)
{
    while (value.metaType() == QMetaType::fromType<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    return value;
}

bool isInteger(const QVariant &v)
{
    switch (v.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::UChar:
        return true;
    default:
        return false;
    }
}

bool isNumber(const QVariant &v)
{
    return isInteger(v) || v.metaType() == QMetaType::fromType<double>();
}

} // namespace

DesktopAppearance::DesktopAppearance(Appearance *target, Options options, QObject *parent)
    : QObject(parent), m_target(target), m_options(std::move(options))
{
    m_paletteDark = isDarkPalette(QGuiApplication::palette());
    if (qApp)
        qApp->installEventFilter(this);

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        bus.connect(m_options.service, kPath, kInterface, QStringLiteral("SettingChanged"), this,
                    SLOT(onSettingChanged(QString, QString, QDBusVariant)));
        for (Setting s : {Setting::ColorScheme, Setting::GnomeAnimations, Setting::KdeAnimationFactor})
            read(s);
    } else {
        log().info(QStringLiteral("no session bus; the palette decides the appearance"));
    }
    apply();
}

DesktopAppearance::~DesktopAppearance() = default;

bool DesktopAppearance::reduceMotionRequestedByEnvironment()
{
    return qEnvironmentVariable("KOVRA_REDUCE_MOTION") == u"1";
}

void DesktopAppearance::read(Setting setting)
{
    const Key &key = kKeys[int(setting)];
    QDBusMessage call = QDBusMessage::createMethodCall(m_options.service, kPath, kInterface, QStringLiteral("Read"));
    call << key.ns << key.key;
    auto *watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    ++m_pendingReads;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, setting](QDBusPendingCallWatcher *w) { readFinished(setting, w); });
}

void DesktopAppearance::readFinished(Setting setting, QDBusPendingCallWatcher *call)
{
    call->deleteLater();
    const QDBusPendingReply<QDBusVariant> reply = *call;
    if (reply.isError()) {
        // A missing portal or a desktop without that key: the fallback stays.
        if (setting == Setting::ColorScheme)
            log().info(QStringLiteral("settings portal gives no color-scheme (%1); following the palette")
                           .arg(reply.error().name()));
    } else if (!m_changed.contains(int(setting))) {
        store(setting, reply.argumentAt<0>().variant(), false);
    }
    --m_pendingReads;
    if (m_pendingReads == 0)
        Q_EMIT pendingChanged();
}

void DesktopAppearance::onSettingChanged(const QString &ns, const QString &key, const QDBusVariant &value)
{
    for (Setting s : {Setting::ColorScheme, Setting::GnomeAnimations, Setting::KdeAnimationFactor}) {
        const Key &k = kKeys[int(s)];
        if (k.ns == ns && k.key == key) {
            m_changed.insert(int(s));
            store(s, value.variant(), true);
        }
    }
}

void DesktopAppearance::store(Setting setting, const QVariant &raw, bool fromChange)
{
    const QVariant value = unwrap(raw);
    switch (setting) {
    case Setting::ColorScheme:
        if (isInteger(value) && value.toLongLong() >= 0 && value.toLongLong() <= 2)
            m_colorScheme = uint(value.toLongLong());
        else
            m_colorScheme.reset();
        log().info(QStringLiteral("color-scheme %1%2")
                       .arg(m_colorScheme ? QString::number(*m_colorScheme) : QStringLiteral("unknown"),
                            fromChange ? QStringLiteral(" (changed)") : QString()));
        break;
    case Setting::GnomeAnimations:
        m_gnomeAnimationsOff = value.metaType() == QMetaType::fromType<bool>() && !value.toBool();
        break;
    case Setting::KdeAnimationFactor:
        m_kdeAnimationsOff = isNumber(value) && value.toDouble() <= 0;
        break;
    }
    apply();
}

bool DesktopAppearance::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange) {
        m_paletteDark = isDarkPalette(QGuiApplication::palette());
        apply();
    }
    return QObject::eventFilter(watched, event);
}

void DesktopAppearance::apply()
{
    if (!m_target)
        return;
    bool dark = m_paletteDark;
    if (m_colorScheme == 1u)
        dark = true;
    else if (m_colorScheme == 2u)
        dark = false;
    m_target->setDark(dark);
    m_target->setReduceMotion(m_options.reduceMotionRequested || m_gnomeAnimationsOff || m_kdeAnimationsOff);
}

} // namespace kovra::ui
