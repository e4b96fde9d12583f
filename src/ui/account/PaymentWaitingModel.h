#pragma once

#include "account/PaymentWaitingState.h"
#include "account/SubscriptionOut.h"
#include "platform/Clock.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimeZone>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

#include <memory>
#include <optional>

namespace kovra {
class SubscriptionStore;
}

namespace kovra::ui {

// What stands above the title (QML: `PaymentWaitingIcon.Clock`).
namespace PaymentWaitingIcon {
Q_NAMESPACE
QML_ELEMENT
enum Value { Spinner, Checkmark, Clock };
Q_ENUM_NS(Value)
} // namespace PaymentWaitingIcon

// What a button of the view does: close the sheet, or poll again.
namespace PaymentWaitingAction {
Q_NAMESPACE
QML_ELEMENT
enum Value { Close, Refresh };
Q_ENUM_NS(Value)
} // namespace PaymentWaitingAction

// Everything the payment waiting view shows for one moment of the wait.
struct PaymentWaitingContent {
    struct Button {
        QString title;
        int kind = 0; // ButtonKind
        PaymentWaitingAction::Value action = PaymentWaitingAction::Close;
        bool operator==(const Button &) const = default;
    };

    PaymentWaitingIcon::Value icon = PaymentWaitingIcon::Spinner;
    QString title;
    QString subtitle;
    // The attempt line, only while polling after the first poll has begun; split
    // around its number, which the view animates.
    bool showsAttempt = false;
    QString attemptPrefix;
    QString attemptNumber;
    QString attemptSuffix;
    QList<Button> buttons;

    QString attemptText() const { return attemptPrefix + attemptNumber + attemptSuffix; }

    // Idle and waiting: the spinner and a close button. Confirmed: the check mark, the
    // expiry day and month in `zone` when the subscription has one, and a done button.
    // Timed out: the clock, then refresh above close.
    static PaymentWaitingContent of(PaymentWaitingState::Phase phase, int attempt,
                                    const std::optional<SubscriptionOut> &latest, const QTimeZone &zone);

    bool operator==(const PaymentWaitingContent &) const = default;
};

// The view-model of PaymentWaitingView: follows the poller's phase and attempt and the
// store's subscription. Refresh calls the poller's retry(); close and done emit
// close(), which the payment sheet connects to its dismissal. Desktops have no
// haptic engine: a confirmation plays nothing.
class PaymentWaitingModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Made by AccountScreens")
    Q_PROPERTY(int icon READ icon NOTIFY contentChanged)
    Q_PROPERTY(QString title READ title NOTIFY contentChanged)
    Q_PROPERTY(QString subtitle READ subtitle NOTIFY contentChanged)
    Q_PROPERTY(bool showsAttempt READ showsAttempt NOTIFY contentChanged)
    Q_PROPERTY(QString attemptText READ attemptText NOTIFY contentChanged)
    Q_PROPERTY(QString attemptPrefix READ attemptPrefix NOTIFY contentChanged)
    Q_PROPERTY(QString attemptNumber READ attemptNumber NOTIFY contentChanged)
    Q_PROPERTY(QString attemptSuffix READ attemptSuffix NOTIFY contentChanged)
    // [{title, kind, action}], top to bottom.
    Q_PROPERTY(QVariantList buttons READ buttons NOTIFY contentChanged)
public:
    PaymentWaitingModel(PaymentWaitingState *state, SubscriptionStore *store,
                        std::shared_ptr<Clock> clock = Clock::system(), QObject *parent = nullptr);
    // Shows fixed content (previews).
    explicit PaymentWaitingModel(PaymentWaitingContent content, QObject *parent = nullptr);

    const PaymentWaitingContent &content() const { return m_content; }
    int icon() const { return m_content.icon; }
    QString title() const { return m_content.title; }
    QString subtitle() const { return m_content.subtitle; }
    bool showsAttempt() const { return m_content.showsAttempt; }
    QString attemptText() const { return m_content.attemptText(); }
    QString attemptPrefix() const { return m_content.attemptPrefix; }
    QString attemptNumber() const { return m_content.attemptNumber; }
    QString attemptSuffix() const { return m_content.attemptSuffix; }
    QVariantList buttons() const;

    // A button's action (PaymentWaitingAction).
    Q_INVOKABLE void trigger(int action);

Q_SIGNALS:
    void contentChanged();
    // The sheet should close.
    void close();

private:
    void update();

    QPointer<PaymentWaitingState> m_state;
    QPointer<SubscriptionStore> m_store;
    std::shared_ptr<Clock> m_clock;
    PaymentWaitingContent m_content;
};

} // namespace kovra::ui
