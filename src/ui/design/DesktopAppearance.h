#pragma once

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QVariant>

#include <optional>

class QDBusPendingCallWatcher;
class QDBusVariant;

namespace kovra::ui {

class Appearance;

// Feeds an Appearance from the desktop:
// - dark or light from the freedesktop settings portal ("color-scheme" in
//   "org.freedesktop.appearance": 1 prefers dark, 2 prefers light), followed on
//   change; with no portal, no preference or an unknown value, from the
//   application palette (dark when its window colour is dark), also followed;
// - reduce motion when the caller asks for it (KOVRA_REDUCE_MOTION, read once at
//   start-up by the caller) or when the desktop turned animations off (GNOME's
//   "enable-animations" false, KDE's "AnimationDurationFactor" 0), followed on change.
// Nothing blocks: the portal is read asynchronously; until it answers, the palette
// decides.
class DesktopAppearance : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool pending READ pending NOTIFY pendingChanged)
public:
    struct Options {
        bool reduceMotionRequested = false;
        // The D-Bus name the settings portal is reached under, on the session bus.
        QString service = QStringLiteral("org.freedesktop.portal.Desktop");
    };

    DesktopAppearance(Appearance *target, Options options, QObject *parent = nullptr);
    ~DesktopAppearance() override;

    // Whether KOVRA_REDUCE_MOTION asks for no animations ("1" does).
    static bool reduceMotionRequestedByEnvironment();

    // True until every first read of the portal has been answered or has failed.
    bool pending() const { return m_pendingReads > 0; }

Q_SIGNALS:
    void pendingChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private Q_SLOTS:
    void onSettingChanged(const QString &ns, const QString &key, const QDBusVariant &value);

private:
    enum class Setting { ColorScheme = 0, GnomeAnimations = 1, KdeAnimationFactor = 2 };

    void read(Setting setting);
    void readFinished(Setting setting, QDBusPendingCallWatcher *call);
    // A changed value, or the first read when no change came before it.
    void store(Setting setting, const QVariant &value, bool fromChange);
    void apply();

    QPointer<Appearance> m_target;
    Options m_options;
    bool m_paletteDark = false;
    std::optional<uint> m_colorScheme;
    bool m_gnomeAnimationsOff = false;
    bool m_kdeAnimationsOff = false;
    // Settings whose change signal came before their first read was answered: that
    // answer may be older than the change and is ignored.
    QSet<int> m_changed;
    int m_pendingReads = 0;
};

} // namespace kovra::ui
