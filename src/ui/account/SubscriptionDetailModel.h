#pragma once

#include "AccountPageLink.h"
#include "AccountPageModel.h"
#include "AccountScreens.h"
#include "SubscriptionUsage.h"
#include "SupportContact.h"

#include "account/MeOut.h"
#include "account/SubscriptionOut.h"
#include "platform/Clock.h"

#include <QPointer>
#include <QString>
#include <QTimeZone>
#include <QVariantMap>
#include <QtQml/qqmlregistration.h>

#include <array>
#include <chrono>
#include <memory>
#include <optional>

namespace kovra::ui {

// What the subscription detail screen shows of a subscription and the user record at
// one moment (the clock decides the pill, the remaining time and the buy title).
struct SubscriptionDetailContent {
    bool hasSubscription = false;
    int pillStyle = 0; // SubscriptionStatusPill::Style
    QString traffic;
    SubscriptionUsage usage;
    QString usedPercent;
    QString expires;
    QString remaining;
    // The account's id at the subscription panel; empty: no account id row.
    QString accountId;
    // Copy-link and share rows: only for status exactly "active" with a link; the share
    // row only when the link is a strict URL. The footer goes with the link rows.
    bool showsLinkRows = false;
    bool showsShare = false;
    QString supportFooter;
    QString buyTitle;

    static SubscriptionDetailContent of(const std::optional<SubscriptionOut> &subscription,
                                        const std::optional<MeOut> &me, const Clock &clock);
    // "5 мар. 2025 г., 03:00": the instant in `zone`, in Russian; "—" for an instant
    // the calendar cannot hold.
    static QString expiryDate(qint64 expireUnix, const QTimeZone &zone);
    // `expireUnix` minus `nowSeconds`, at least 0; a difference beyond 64 bits is the
    // largest count.
    static qint64 secondsLeft(qint64 expireUnix, qint64 nowSeconds);

    bool operator==(const SubscriptionDetailContent &) const = default;
};

// The view-model of the subscription detail screen (SubscriptionDetailView.qml),
// pushed by the home card with a copy of its subscription (or none): status, traffic,
// expiry, the support section (account id, the link's copy and share rows, contact
// support) and the buy button to a new tariff screen.
//
// From then on the screen follows the subscription store's latest value (a payment made
// from a screen above it shows on the way back), and the account id row follows the
// user store. The time-dependent texts are taken at each change and at each showing.
// Each of the three copy controls puts its text on the clipboard and shows "Скопировано"
// for 1.8 s of the clock after its last press, independently of the others; leaving the
// screen stops the pending resets and clears the marks, so nothing changes after the
// screen has gone. There is no share service on the desktop: the share control copies
// the link too.
class SubscriptionDetailModel : public AccountPageModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Made by AccountScreens")
    // Fixed texts by name: row labels, the empty state, the support header.
    Q_PROPERTY(QVariantMap texts READ texts CONSTANT)
    Q_PROPERTY(bool hasSubscription READ hasSubscription NOTIFY contentChanged)
    Q_PROPERTY(int pillStyle READ pillStyle NOTIFY contentChanged)
    Q_PROPERTY(QString trafficText READ trafficText NOTIFY contentChanged)
    Q_PROPERTY(double usageFraction READ usageFraction NOTIFY contentChanged)
    Q_PROPERTY(int usageTint READ usageTint NOTIFY contentChanged)
    Q_PROPERTY(QString usedPercentText READ usedPercentText NOTIFY contentChanged)
    Q_PROPERTY(QString expiresText READ expiresText NOTIFY contentChanged)
    Q_PROPERTY(QString remainingText READ remainingText NOTIFY contentChanged)
    Q_PROPERTY(QString accountId READ accountId NOTIFY contentChanged)
    Q_PROPERTY(bool showsLinkRows READ showsLinkRows NOTIFY contentChanged)
    Q_PROPERTY(bool showsShare READ showsShare NOTIFY contentChanged)
    Q_PROPERTY(QString supportFooter READ supportFooter NOTIFY contentChanged)
    // The three copy controls: {title, symbol, hint, copied}.
    Q_PROPERTY(QVariantMap accountIdCopy READ accountIdCopy NOTIFY copiedChanged)
    Q_PROPERTY(QVariantMap linkCopy READ linkCopy NOTIFY copiedChanged)
    Q_PROPERTY(QVariantMap shareCopy READ shareCopy NOTIFY copiedChanged)
    Q_PROPERTY(kovra::ui::SupportContact *supportContact READ supportContact CONSTANT)
    // To a new tariff screen, titled by the call-to-action rule.
    Q_PROPERTY(kovra::ui::AccountPageLink *buyLink READ buyLink CONSTANT)
public:
    enum CopyControl { AccountId, Link, Share };
    Q_ENUM(CopyControl)

    static constexpr std::chrono::milliseconds kCopiedFor{1800};

    // `makeBuy` makes the tariff screen's view-model.
    SubscriptionDetailModel(std::optional<SubscriptionOut> subscription, const AccountServices &services,
                            AccountPageLink::Maker makeBuy, QObject *parent = nullptr,
                            std::chrono::milliseconds copiedFor = kCopiedFor);
    ~SubscriptionDetailModel() override;

    const SubscriptionDetailContent &content() const { return m_content; }
    QVariantMap texts() const { return m_texts; }
    bool hasSubscription() const { return m_content.hasSubscription; }
    int pillStyle() const { return m_content.pillStyle; }
    QString trafficText() const { return m_content.traffic; }
    double usageFraction() const { return m_content.usage.fraction; }
    int usageTint() const { return m_content.usage.tint; }
    QString usedPercentText() const { return m_content.usedPercent; }
    QString expiresText() const { return m_content.expires; }
    QString remainingText() const { return m_content.remaining; }
    QString accountId() const { return m_content.accountId; }
    bool showsLinkRows() const { return m_content.showsLinkRows; }
    bool showsShare() const { return m_content.showsShare; }
    QString supportFooter() const { return m_content.supportFooter; }
    SupportContact *supportContact() const { return m_supportContact; }
    AccountPageLink *buyLink() const { return m_buyLink; }

    bool isCopied(CopyControl control) const { return m_marks[control].copied; }
    // The label a control shows now.
    QVariantMap copyLabel(CopyControl control) const;
    QVariantMap accountIdCopy() const { return copyLabel(AccountId); }
    QVariantMap linkCopy() const { return copyLabel(Link); }
    QVariantMap shareCopy() const { return copyLabel(Share); }

    // Each copies only while its row is shown.
    Q_INVOKABLE void copyAccountID();
    Q_INVOKABLE void copySubscriptionLink();
    Q_INVOKABLE void shareSubscriptionLink();

Q_SIGNALS:
    void contentChanged();
    void copiedChanged();

protected:
    void onShown() override;
    void onHidden() override;

private:
    struct CopyMark {
        bool copied = false;
        std::unique_ptr<ClockTimer> reset;
    };

    void refresh();
    void followStore();
    void copy(CopyControl control, const QString &text);
    void setCopied(CopyControl control, bool copied);

    std::optional<SubscriptionOut> m_subscription;
    QPointer<SubscriptionStore> m_store;
    QPointer<MeStore> m_me;
    std::shared_ptr<Clock> m_clock;
    std::shared_ptr<Clipboard> m_clipboard;
    std::chrono::milliseconds m_copiedFor;
    QVariantMap m_texts;
    SubscriptionDetailContent m_content;
    std::array<CopyMark, 3> m_marks;
    SupportContact *m_supportContact;
    AccountPageLink *m_buyLink;
};

} // namespace kovra::ui
