#pragma once

#include "account/SubscriptionOut.h"
#include "platform/Clock.h"
#include "ui/design/DesignTypes.h"

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace kovra::ui {

// The state a subscription is shown in, as a capsule with a status dot and a title.
// QML reads the styles and their looks through the singleton
// (`SubscriptionPillStyle.Active`, `SubscriptionPillStyle.title(style)`); the pill
// itself is SubscriptionStatusPill.qml, drawn in the colour of its dot's state.
class SubscriptionStatusPill : public QObject {
    Q_OBJECT
    QML_NAMED_ELEMENT(SubscriptionPillStyle)
    QML_SINGLETON
public:
    // The order is part of the contract.
    enum Style { Active, Expired, NoTraffic, Inactive };
    Q_ENUM(Style)

    explicit SubscriptionStatusPill(QObject *parent = nullptr);

    // Expired (the expiry has come) before NoTraffic (a limit used up) before Active
    // (status exactly "active"); anything else is Inactive. The subscription link
    // plays no part.
    static Style styleOf(const SubscriptionOut &subscription, const Clock &clock = *Clock::system());
    static QString titleOf(Style style);
    // The dot and the pill's colour: Connected (success green, with glow), Danger
    // (red), Warning (orange), Inactive (secondary label).
    static StatusDotState::Value dotStateOf(Style style);
    static bool glowsOf(Style style) { return style == Active; }

    Q_INVOKABLE QString title(int style) const;
    Q_INVOKABLE int dotState(int style) const;
    Q_INVOKABLE bool glows(int style) const;
};

} // namespace kovra::ui
