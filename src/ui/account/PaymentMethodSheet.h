#pragma once

#include "PaymentWaitingModel.h"
#include "TariffCardTexts.h"

#include "platform/Async.h"
#include "platform/Clock.h"
#include "platform/Log.h"

#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

#include <chrono>
#include <memory>
#include <optional>

class QQmlEngine;
class QWindow;

namespace kovra {
class AuthState;
class PaymentsService;
class PaymentWaitingState;
class SubscriptionStore;
class UrlOpener;
} // namespace kovra

namespace kovra::ui {

class SheetHost;

// The wait a paid invoice starts: the payment sheet passes 3 s and 40.
struct PaymentPoll {
    std::chrono::milliseconds interval{3000};
    int maxPolls = 40;
};

// The view-model of the payment sheet of one plan: the two methods (Telegram Stars,
// USDT through CryptoBot) with the plan's price in each, the chosen one, and pay().
//
// pay() asks the service for an invoice of the chosen kind, accepts its link only
// when the scheme, as written, is exactly "https" or "tg" and the text is a strict
// URL, hands it to the link opener and, once the opener reports it opened, starts the
// sheet's payment wait (made on the first payment, reused by later ones); the sheet
// then shows the waiting view for as long as the wait's phase is not idle. A refused
// session (401) ends the session, leaves the refusal as the last error and asks for
// the sheet to close; any other failure is shown in the error row.
//
// cancel() is the sheet's disappear action: it stops the wait, and from then on the
// sheet starts nothing. A request already sent still runs to its end (a sent POST is
// not taken back): its 401 still ends the session, anything else it answers opens
// nothing and changes nothing.
class PaymentMethodSheet : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Made by AccountScreens")
    Q_PROPERTY(QString windowTitle READ windowTitle CONSTANT)
    Q_PROPERTY(QString title READ title CONSTANT)
    Q_PROPERTY(QString subtitle READ subtitle CONSTANT)
    Q_PROPERTY(int selected READ selectedValue NOTIFY selectedChanged)
    // [{method, title, price, symbol, selected, accessibleName}], stars first.
    Q_PROPERTY(QVariantList methods READ methods NOTIFY selectedChanged)
    Q_PROPERTY(bool isPaying READ isPaying NOTIFY isPayingChanged)
    Q_PROPERTY(QString payTitle READ payTitle NOTIFY isPayingChanged)
    Q_PROPERTY(QString errorText READ errorText NOTIFY errorTextChanged)
    Q_PROPERTY(bool showsWaiting READ showsWaiting NOTIFY showsWaitingChanged)
    Q_PROPERTY(kovra::ui::PaymentWaitingModel *waitingView READ waitingView NOTIFY showsWaitingChanged)
public:
    enum class Method { stars, crypto };
    Q_ENUM(Method)

    // The sheet's window: its minimum (and opening) size.
    static constexpr QSize kMinimumSize{420, 520};

    struct Services {
        PaymentsService *payments = nullptr;
        SubscriptionStore *subscriptionStore = nullptr;
        AuthState *authState = nullptr;
        std::shared_ptr<UrlOpener> linkOpener;
        PaymentPoll poll;
        std::shared_ptr<Clock> clock = Clock::system();
    };

    PaymentMethodSheet(TariffEntry tariff, Services services, QObject *parent = nullptr);

    // Shows `sheet` over `parent` (window-modal, centred, at least kMinimumSize, titled
    // "buy.method.window_title"); the presentation owns the sheet from now on. Every
    // ending (the user's close button, Escape or window-manager close, the sheet's own
    // dismissRequested(), the parent's closing, SheetHost::close()) runs cancel() and
    // then destroys the sheet. Null when the QML did not load (logged; the sheet is
    // destroyed too). `engine`: the parent's QML engine when null.
    static SheetHost *present(QWindow *parent, PaymentMethodSheet *sheet, QQmlEngine *engine = nullptr);

    const TariffEntry &tariff() const { return m_tariff; }
    QString windowTitle() const;
    QString title() const;
    QString subtitle() const { return subtitle(m_tariff.tariff); }
    Method selected() const { return m_selected; }
    int selectedValue() const { return int(m_selected); }
    QVariantList methods() const { return rows(m_tariff.tariff, m_selected); }
    bool isPaying() const { return m_isPaying; }
    QString payTitle() const { return payTitle(m_isPaying); }
    QString errorText() const { return m_errorText; }
    // The waiting view is shown (else the method chooser).
    bool showsWaiting() const { return m_showsWaiting; }
    // The payment wait, from the first opened invoice on.
    PaymentWaitingState *waiting() const { return m_waiting; }
    PaymentWaitingModel *waitingView() const { return m_waitingView; }
    // The work of the last pay(): ends once its request has been answered and the
    // answer handled, also after the sheet has gone. Invalid before the first pay().
    const Operation<void> &payment() const { return m_payment; }

    // A method row's action: chooses the method and clears the error; ignored while
    // paying (and for a value that is no method).
    Q_INVOKABLE void select(int method);
    void select(Method method) { select(int(method)); }
    // The pay button's action; ignored while paying and once the sheet has gone.
    Q_INVOKABLE void pay();
    // The disappear action: stops the payment wait; the sheet starts nothing more.
    Q_INVOKABLE void cancel();

    static QString subtitle(const Tariff &tariff);
    static QString payTitle(bool paying);
    static QString methodTitle(Method method);
    // The price in the method's currency, formatted without a locale ("750 ⭐", "12.00 USDT").
    static QString priceText(Method method, const Tariff &tariff);
    // The rows of the chooser for `tariff` with `selected` chosen.
    static QVariantList rows(const Tariff &tariff, Method selected);

Q_SIGNALS:
    void selectedChanged();
    void isPayingChanged();
    void errorTextChanged();
    void showsWaitingChanged();
    // The sheet should close (a refused session, the waiting view's close or done).
    void dismissRequested();

private:
    struct Request {
        Method method;
        QString planID;
        PaymentsService *payments;
        QPointer<AuthState> authState;
        std::shared_ptr<UrlOpener> opener;
        Logger log;
    };

    static QCoro::Task<void> run(QPointer<PaymentMethodSheet> self, Request request);
    static bool isOpen(const QPointer<PaymentMethodSheet> &self) { return self && !self->m_closed; }
    void fail(const QString &text);
    void startWaiting();
    void updateShowsWaiting();
    void setPaying(bool paying);
    void setErrorText(const QString &text);

    TariffEntry m_tariff;
    Services m_services;
    Logger m_log{QStringLiteral("Payments")};
    Method m_selected = Method::stars;
    bool m_isPaying = false;
    QString m_errorText;
    bool m_showsWaiting = false;
    bool m_closed = false;
    QPointer<PaymentWaitingState> m_waiting;
    QPointer<PaymentWaitingModel> m_waitingView;
    Operation<void> m_payment;
};

} // namespace kovra::ui
