#pragma once

#include "account/SubscriptionOut.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <QtQml/qqmlregistration.h>

#include <exception>
#include <optional>

namespace kovra {

class MeStore;
class SubscriptionStore;

namespace ui {

// What the home window hands its subscription card: the subscription store's latest
// subscription, whether it refreshes and the error of its last refresh; whether the
// account has Telegram linked (true while no user record is loaded); the card's least
// content height; and the retry that refreshes the subscription. Every value follows
// the stores; a store that is gone reads as empty (and Telegram as linked).
class HomeSubscriptionCard : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("part of the home window's model")
    // The SubscriptionOut as a QVariant, null when none is known.
    Q_PROPERTY(QVariant subscription READ subscriptionValue NOTIFY subscriptionChanged)
    Q_PROPERTY(bool hasSubscription READ hasSubscription NOTIFY subscriptionChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(bool hasError READ hasError NOTIFY errorChanged)
    Q_PROPERTY(QString errorText READ errorText NOTIFY errorChanged)
    Q_PROPERTY(bool hasTelegram READ hasTelegram NOTIFY hasTelegramChanged)
    Q_PROPERTY(qreal minHeight READ minHeight CONSTANT)
public:
    static constexpr qreal kMinHeight = 60;

    HomeSubscriptionCard(SubscriptionStore *subscriptions, MeStore *me, QObject *parent = nullptr);

    std::optional<SubscriptionOut> subscription() const;
    QVariant subscriptionValue() const;
    bool hasSubscription() const { return subscription().has_value(); }
    bool isLoading() const;
    std::exception_ptr error() const;
    bool hasError() const { return bool(error()); }
    // The error as the user is shown it; empty when there is none.
    QString errorText() const;
    bool hasTelegram() const;
    qreal minHeight() const { return kMinHeight; }

    // The card's retry and refresh buttons: refreshes the subscription, without waiting.
    Q_INVOKABLE void retry();

Q_SIGNALS:
    void subscriptionChanged();
    void isLoadingChanged();
    void errorChanged();
    void hasTelegramChanged();

private:
    QPointer<SubscriptionStore> m_subscriptions;
    QPointer<MeStore> m_me;
};

} // namespace ui
} // namespace kovra
