#pragma once

#include "AccountPageLink.h"
#include "AccountScreens.h"
#include "SubscriptionCallToAction.h"
#include "SubscriptionUsage.h"

#include "account/SubscriptionOut.h"
#include "platform/Clock.h"

#include <QObject>
#include <QString>
#include <QVariantMap>
#include <QtQml/qqmlregistration.h>

#include <exception>
#include <optional>

namespace kovra {
class MeStore;
class SubscriptionStore;
} // namespace kovra

namespace kovra::ui {

// Which content the home window's subscription card shows under its header
// (QML: `SubscriptionStripState.Loading`).
namespace SubscriptionStripState {
Q_NAMESPACE
QML_ELEMENT
enum Value { Loaded, Loading, Failed, Empty };
Q_ENUM_NS(Value)
} // namespace SubscriptionStripState

// The card's inputs: what the home window hands it from the stores.
struct SubscriptionStripInputs {
    std::optional<SubscriptionOut> subscription;
    bool isLoading = false;
    std::exception_ptr error;
    bool hasTelegram = true;
    double minHeight = 60;
};

// What the card shows for its inputs at one moment (the clock decides the expiry text,
// the pill and the call-to-action title).
struct SubscriptionStripContent {
    // Loaded with a subscription (also while a refresh runs or after one failed), else
    // Loading, else Failed with an error, else Empty.
    SubscriptionStripState::Value state = SubscriptionStripState::Empty;
    bool hasSubscription = false;
    int pillStyle = 0; // SubscriptionStatusPill::Style
    QString traffic;
    QString expiry;
    SubscriptionUsage usage;
    // Shown under the usage while the subscription is not active.
    bool showsCallToAction = false;
    SubscriptionCallToAction callToAction;
    // The error as the user is shown it (an API error's message, else the error's
    // localised description); empty without an error.
    QString errorText;

    static SubscriptionStripContent of(const SubscriptionStripInputs &inputs, const Clock &clock);

    bool operator==(const SubscriptionStripContent &) const = default;
};

// The view-model of the home window's subscription card (SubscriptionStrip.qml).
// It holds no state of its own beyond its inputs: setInputs() (or bindToStores())
// recomputes what the card shows; there is no timer, so the expiry text reads the
// clock when an input changes. The header opens a new detail screen with a copy of
// the current subscription (none included); the call-to-action button leads where
// SubscriptionCallToAction says. The retry and refresh buttons emit retryRequested().
class SubscriptionStripModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Made by AccountScreens")
    // Fixed texts by name: title, detailHint, loading, retry, refresh, emptyHint.
    Q_PROPERTY(QVariantMap texts READ texts CONSTANT)
    Q_PROPERTY(int state READ state NOTIFY contentChanged)
    Q_PROPERTY(bool hasSubscription READ hasSubscription NOTIFY contentChanged)
    Q_PROPERTY(int pillStyle READ pillStyle NOTIFY contentChanged)
    Q_PROPERTY(QString trafficText READ trafficText NOTIFY contentChanged)
    Q_PROPERTY(QString expiryText READ expiryText NOTIFY contentChanged)
    Q_PROPERTY(double usageFraction READ usageFraction NOTIFY contentChanged)
    Q_PROPERTY(int usageTint READ usageTint NOTIFY contentChanged)
    Q_PROPERTY(bool showsCallToAction READ showsCallToAction NOTIFY contentChanged)
    Q_PROPERTY(QString errorText READ errorText NOTIFY contentChanged)
    Q_PROPERTY(double minHeight READ minHeight NOTIFY contentChanged)
    Q_PROPERTY(kovra::ui::AccountPageLink *callToAction READ callToActionLink CONSTANT)
    Q_PROPERTY(kovra::ui::AccountPageLink *detailLink READ detailLink CONSTANT)
public:
    explicit SubscriptionStripModel(AccountScreens screens, QObject *parent = nullptr);

    void setInputs(SubscriptionStripInputs inputs);
    const SubscriptionStripInputs &inputs() const { return m_inputs; }
    // Feeds the inputs from the stores from now on: the store's latest subscription,
    // loading flag and error, hasTelegram of the user record (true while none is
    // loaded), minHeight 60; a retry starts the store's refresh. Either store may be
    // null (its inputs stay as they are).
    void bindToStores(SubscriptionStore *store, MeStore *me);

    const SubscriptionStripContent &content() const { return m_content; }
    QVariantMap texts() const { return m_texts; }
    int state() const { return m_content.state; }
    bool hasSubscription() const { return m_content.hasSubscription; }
    int pillStyle() const { return m_content.pillStyle; }
    QString trafficText() const { return m_content.traffic; }
    QString expiryText() const { return m_content.expiry; }
    double usageFraction() const { return m_content.usage.fraction; }
    int usageTint() const { return m_content.usage.tint; }
    bool showsCallToAction() const { return m_content.showsCallToAction; }
    QString errorText() const { return m_content.errorText; }
    double minHeight() const { return m_inputs.minHeight; }
    AccountPageLink *callToActionLink() const { return m_callToAction; }
    AccountPageLink *detailLink() const { return m_detailLink; }

    // The retry and refresh buttons.
    Q_INVOKABLE void retry();

Q_SIGNALS:
    void contentChanged();
    void retryRequested();

private:
    // Whether what the card shows changed (contentChanged was emitted).
    bool recompute();

    AccountScreens m_screens;
    QVariantMap m_texts;
    SubscriptionStripInputs m_inputs;
    SubscriptionStripContent m_content;
    AccountPageLink *m_callToAction;
    AccountPageLink *m_detailLink;
};

} // namespace kovra::ui
