#pragma once

#include "tunnel/SystemExtensionActivator.h"
#include "ui/design/DesignTypes.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <memory>

namespace kovra {

class ConnectionHeroState;
class UrlOpener;

namespace ui {

// The one banner of the home window's notice slot: the start error of a connect
// attempt (danger, no action), else what the user must do about the tunnel
// provider's activation (warning; its action opens the system settings pane of
// login items and extensions, titled only while approval is awaited), else none.
// Follows the optimistic state's start error and the activator's state; a source
// that is gone reads as none. changed() is emitted only when the banner changes, so
// that the slot can animate the old one out and the new one in.
class HomeNotice : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("part of the home window's model")
    Q_PROPERTY(bool visible READ isVisible NOTIFY changed)
    Q_PROPERTY(kovra::ui::NoticeTone::Value tone READ tone NOTIFY changed)
    Q_PROPERTY(QString text READ text NOTIFY changed)
    Q_PROPERTY(QString actionTitle READ actionTitle NOTIFY changed)
    Q_PROPERTY(bool hasAction READ hasAction NOTIFY changed)
public:
    // The settings pane the activation banner's action opens.
    static const QString kSettingsLink;

    HomeNotice(ConnectionHeroState *hero, SystemExtensionActivator *activator, std::shared_ptr<UrlOpener> linkOpener,
               QObject *parent = nullptr);

    bool isVisible() const { return m_banner.visible; }
    NoticeTone::Value tone() const { return m_banner.tone; }
    QString text() const { return m_banner.text; }
    // Empty when the banner has no titled action.
    QString actionTitle() const { return m_banner.actionTitle; }
    bool hasAction() const { return m_banner.hasAction; }

    // The banner's action: hands the settings link to the link opener, without waiting.
    Q_INVOKABLE void performAction();

Q_SIGNALS:
    void changed();

private:
    struct Banner {
        bool visible = false;
        NoticeTone::Value tone = NoticeTone::Info;
        QString text;
        QString actionTitle;
        bool hasAction = false;
        bool operator==(const Banner &) const = default;
    };
    Banner choose() const;
    void update();

    QPointer<ConnectionHeroState> m_hero;
    QPointer<SystemExtensionActivator> m_activator;
    std::shared_ptr<UrlOpener> m_linkOpener;
    Banner m_banner;
};

} // namespace ui
} // namespace kovra
