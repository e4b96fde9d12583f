#include "PaymentMethodSheet.h"

#include "AccountModule.h"

#include "account/AuthState.h"
#include "account/PaymentWaitingState.h"
#include "account/PaymentsService.h"
#include "account/TelegramLink.h"
#include "core/APIError.h"
#include "platform/L10n.h"
#include "platform/Property.h"
#include "platform/UrlOpener.h"
#include "ui/design/PreviewHost.h"
#include "ui/design/SheetHost.h"

#include <QVariantMap>

#include <array>

namespace kovra::ui {

namespace {

constexpr std::array kMethods{PaymentMethodSheet::Method::stars, PaymentMethodSheet::Method::crypto};

QString symbolOf(PaymentMethodSheet::Method method)
{
    return method == PaymentMethodSheet::Method::stars ? QStringLiteral("star.fill")
                                                       : QStringLiteral("bitcoinsign.circle.fill");
}

} // namespace

PaymentMethodSheet::PaymentMethodSheet(TariffEntry tariff, Services services, QObject *parent)
    : QObject(parent), m_tariff(std::move(tariff)), m_services(std::move(services))
{
    if (!m_services.clock)
        m_services.clock = Clock::system();
}

SheetHost *PaymentMethodSheet::present(QWindow *parent, PaymentMethodSheet *sheet, QQmlEngine *engine)
{
    registerAccountModule();
    auto *host = new SheetHost(parent, {sheet->windowTitle(), kMinimumSize, kMinimumSize}, engine);
    sheet->setParent(host);
    connect(host, &SheetHost::closed, sheet, &PaymentMethodSheet::cancel);
    connect(sheet, &PaymentMethodSheet::dismissRequested, host, &SheetHost::dismiss);
    const QString error = host->open(PreviewHost::moduleFile(QStringLiteral("Kovra.Account"), QStringLiteral("PaymentMethodView")),
                                     {{QStringLiteral("model"), QVariant::fromValue(sheet)}});
    return error.isEmpty() ? host : nullptr;
}

QString PaymentMethodSheet::windowTitle() const
{
    return L10n::text("buy.method.window_title", u"Оплата");
}

QString PaymentMethodSheet::title() const
{
    return L10n::text("buy.method.title", u"Способ оплаты");
}

QString PaymentMethodSheet::payTitle(bool paying)
{
    return paying ? L10n::text("buy.method.paying", u"Создаём счёт…") : L10n::text("buy.method.pay", u"Оплатить");
}

QString PaymentMethodSheet::subtitle(const Tariff &tariff)
{
    return L10n::format(L10n::text("buy.method.subtitle", u"Тариф: %d мес. (≈ %d ₽) · Оплата в Stars или USDT"),
                        {tariff.months, tariff.rub});
}

QString PaymentMethodSheet::methodTitle(Method method)
{
    return method == Method::stars ? L10n::text("buy.method.stars", u"Telegram Stars")
                                   : L10n::text("buy.method.crypto", u"USDT через CryptoBot");
}

QString PaymentMethodSheet::priceText(Method method, const Tariff &tariff)
{
    if (method == Method::stars)
        return L10n::format(L10n::text("buy.method.stars.price", u"%d ⭐"), {tariff.stars});
    return L10n::format(L10n::text("buy.method.crypto.price", u"%.2f USDT"), {tariff.usdt});
}

QVariantList PaymentMethodSheet::rows(const Tariff &tariff, Method selected)
{
    QVariantList out;
    for (const Method method : kMethods) {
        const QString title = methodTitle(method);
        const QString price = priceText(method, tariff);
        out.append(QVariantMap{{QStringLiteral("method"), int(method)},
                               {QStringLiteral("title"), title},
                               {QStringLiteral("price"), price},
                               {QStringLiteral("symbol"), symbolOf(method)},
                               {QStringLiteral("selected"), method == selected},
                               {QStringLiteral("accessibleName"), title + QStringLiteral(", ") + price}});
    }
    return out;
}

void PaymentMethodSheet::select(int method)
{
    if (m_isPaying || method < int(Method::stars) || method > int(Method::crypto))
        return;
    updateProperty(m_selected, Method(method), this, &PaymentMethodSheet::selectedChanged);
    setErrorText({});
}

void PaymentMethodSheet::pay()
{
    if (m_isPaying || m_closed)
        return;
    Request request{m_selected, m_tariff.planID, m_services.payments, m_services.authState, m_services.linkOpener, m_log};
    setPaying(true);
    setErrorText({});
    const QPointer<PaymentMethodSheet> self(this);
    // Not tied to the sheet: the request runs to its end after the sheet has gone.
    m_payment = Operation<void>::run([self, request](CancellationToken) { return run(self, request); });
}

void PaymentMethodSheet::cancel()
{
    m_closed = true;
    if (m_waiting)
        m_waiting->cancel();
}

QCoro::Task<void> PaymentMethodSheet::run(QPointer<PaymentMethodSheet> self, Request request)
{
    std::optional<InvoiceOut> invoice;
    std::exception_ptr failure;
    try {
        if (!request.payments)
            throw CancellationError();
        if (request.method == Method::stars) {
            InvoiceOut reply = co_await request.payments->createStarsInvoice(request.planID);
            invoice = std::move(reply);
        } else {
            InvoiceOut reply = co_await request.payments->createCryptoInvoice(request.planID);
            invoice = std::move(reply);
        }
    } catch (...) {
        failure = std::current_exception();
    }

    if (failure) {
        if (APIError::kindOf(failure) == APIError::Kind::unauthorized) {
            // The session is over whether or not the sheet is still shown.
            request.log.notice(QStringLiteral("invoice request refused for the session (401)"));
            if (request.authState)
                request.authState->clearSessionAfterRefusal(failure);
            if (!isOpen(self))
                co_return;
            Q_EMIT self->dismissRequested();
            if (self)
                self->setPaying(false);
            co_return;
        }
        request.log.error(QStringLiteral("invoice request failed: %1").arg(descriptionOf(failure)));
        if (isOpen(self))
            self->fail(localizedDescriptionOf(failure));
        co_return;
    }
    // A sheet that has gone opens no payment page that nothing would wait for.
    if (!isOpen(self))
        co_return;

    const std::optional<QUrl> url = urlWithScheme(invoice->url, {QStringLiteral("https"), QStringLiteral("tg")});
    if (!url) {
        request.log.notice(QStringLiteral("payment link refused (%1 characters)").arg(invoice->url.size()));
        self->fail(L10n::text("buy.method.bad_url", u"Некорректная ссылка на оплату."));
        co_return;
    }
    bool opened = false;
    if (request.opener) {
        const std::shared_ptr<UrlOpener> opener = request.opener;
        const QUrl link = *url;
        opened = co_await opener->openURL(link);
    }
    if (!isOpen(self))
        co_return;
    if (!opened) {
        request.log.notice(QStringLiteral("payment link (%1) not opened").arg(url->scheme()));
        self->fail(L10n::text("buy.method.open_failed", u"Не удалось открыть Telegram для оплаты."));
        co_return;
    }
    self->startWaiting();
}

void PaymentMethodSheet::fail(const QString &text)
{
    setErrorText(text);
    setPaying(false);
}

void PaymentMethodSheet::startWaiting()
{
    if (!m_waiting) {
        m_waiting = new PaymentWaitingState(m_services.subscriptionStore, m_services.poll.interval,
                                            m_services.poll.maxPolls, m_services.clock, this);
        m_waitingView = new PaymentWaitingModel(m_waiting, m_services.subscriptionStore, m_services.clock, this);
        connect(m_waiting, &PaymentWaitingState::phaseChanged, this, &PaymentMethodSheet::updateShowsWaiting);
        connect(m_waitingView, &PaymentWaitingModel::close, this, &PaymentMethodSheet::dismissRequested);
    }
    m_waiting->start();
    setPaying(false);
}

void PaymentMethodSheet::updateShowsWaiting()
{
    const bool shows = m_waiting && m_waiting->phase() != PaymentWaitingState::Phase::idle;
    updateProperty(m_showsWaiting, shows, this, &PaymentMethodSheet::showsWaitingChanged);
}

void PaymentMethodSheet::setPaying(bool paying)
{
    updateProperty(m_isPaying, paying, this, &PaymentMethodSheet::isPayingChanged);
}

void PaymentMethodSheet::setErrorText(const QString &text)
{
    updateProperty(m_errorText, text, this, &PaymentMethodSheet::errorTextChanged);
}

} // namespace kovra::ui
