#include "BuyModel.h"

#include "SettingsModel.h"

#include "account/AuthState.h"
#include "account/MeStore.h"
#include "account/PaymentsService.h"
#include "core/APIError.h"
#include "platform/L10n.h"
#include "platform/Property.h"
#include "ui/design/SheetHost.h"

namespace kovra::ui {

namespace {

QVariantMap buyTexts()
{
    return {
        {QStringLiteral("header"), L10n::text("buy.header", u"Выберите тариф")},
        {QStringLiteral("subheader"),
         L10n::text("buy.subheader", u"Цена в рублях — справочная. Оплата в Telegram Stars или USDT.")},
        {QStringLiteral("gateTitle"), L10n::text("buy.gate.title", u"Нужно привязать Telegram")},
        {QStringLiteral("gateReason"),
         L10n::text("buy.gate.reason",
                    u"Оплата подписки идёт через Telegram-бота — без привязки её не получится оформить.")},
        {QStringLiteral("gateAction"), L10n::text("buy.gate.cta", u"Привязать Telegram")},
        {QStringLiteral("gateHint"), L10n::text("buy.gate.hint", u"Открыть настройки, чтобы привязать Telegram")},
        {QStringLiteral("loadError"), L10n::text("buy.load.error", u"Не удалось загрузить тарифы.")},
        {QStringLiteral("retry"), L10n::text("buy.retry", u"Повторить")},
        {QStringLiteral("loading"), L10n::text("buy.loading", u"Загружаем тарифы…")},
    };
}

} // namespace

BuyModel::BuyModel(const AccountServices &services, QObject *parent)
    : AccountPageModel(L10n::text("buy.title", u"Подписка"), parent), m_services(services), m_texts(buyTexts()),
      m_plans(new TariffListModel(this))
{
    if (MeStore *me = m_services.meStore) {
        connect(me, &MeStore::latestChanged, this, &BuyModel::updateBody);
        connect(me, &MeStore::errorChanged, this, &BuyModel::updateBody);
    }
    updateBody();
}

BuyModel::~BuyModel()
{
    m_lifetime.cancel();
    if (m_sheetHost) {
        disconnect(m_sheetHost, nullptr, this, nullptr);
        m_sheetHost->close();
    }
}

QString BuyModel::loadErrorText() const
{
    return m_loadError ? localizedDescriptionOf(m_loadError) : QString();
}

void BuyModel::select(const QString &planID)
{
    if (m_plans->rowOf(planID) >= 0)
        setSelectedID(planID);
}

void BuyModel::retry()
{
    QCoro::Task<void> started = load();
}

QCoro::Task<void> BuyModel::load()
{
    return runLoad(QPointer<BuyModel>(this), m_lifetime.token());
}

void BuyModel::continueToPayment(QWindow *window)
{
    const TariffEntry *entry = selectedEntry();
    if (!entry || m_sheetHost)
        return;
    setSheetTariff(*entry);
    if (!window)
        return;
    SheetHost *host = AccountScreens(m_services).presentPaymentMethod(window, *m_sheetTariff);
    if (!host) {
        setSheetTariff(std::nullopt);
        return;
    }
    m_sheetHost = host;
    connect(host, &SheetHost::closed, this, [this] {
        m_sheetHost = nullptr;
        setSheetTariff(std::nullopt);
    });
}

SettingsModel *BuyModel::makeSettings() const
{
    return AccountScreens(m_services).settings();
}

void BuyModel::onShown()
{
    QCoro::Task<void> started = startUp(QPointer<BuyModel>(this), m_services.meStore, showingToken());
}

QCoro::Task<void> BuyModel::startUp(QPointer<BuyModel> self, QPointer<MeStore> me, CancellationToken showing)
{
    // The record's refresh belongs to this showing: it stops with it, or once the
    // load is done.
    CancellationSource stopRefresh = CancellationSource::linkedTo(showing);
    QCoro::Task<void> refresh = refreshUserRecord(me, stopRefresh.token());
    QCoro::Task<void> loading = runLoad(self, showing);
    co_await loading;
    stopRefresh.cancel();
    co_await refresh;
}

QCoro::Task<void> BuyModel::refreshUserRecord(QPointer<MeStore> me, CancellationToken token)
{
    if (!me)
        co_return;
    co_await me->refresh(token);
}

QCoro::Task<void> BuyModel::runLoad(QPointer<BuyModel> self, CancellationToken token)
{
    if (!self)
        co_return;
    self->setIsLoading(true);
    PaymentsService *payments = self->m_services.paymentsService;
    const QPointer<AuthState> auth = self->m_services.authState;
    std::optional<Tariffs> reply;
    std::exception_ptr failure;
    try {
        if (!payments)
            throw CancellationError();
        Tariffs tariffs = co_await payments->fetchTariffs(token);
        reply = std::move(tariffs);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return; // the page has gone
    if (reply)
        self->applyLoadedTariffs(*reply);
    else
        loadFailed(self, auth, failure);
}

void BuyModel::applyLoadedTariffs(const Tariffs &tariffs)
{
    QList<TariffEntry> entries = tariffEntries(tariffs);
    std::optional<QString> selection = selectionAfterLoad(entries, m_selectedID);
    m_plans->setEntries(std::move(entries), selection);
    Q_EMIT tariffsChanged();
    setLoadError(nullptr);
    // Notified even when the id stays: its plan (and the continue title) may not.
    m_selectedID = std::move(selection);
    Q_EMIT selectionChanged();
    setIsLoading(false);
    updateBody();
}

void BuyModel::loadFailed(QPointer<BuyModel> self, QPointer<AuthState> auth, std::exception_ptr failure)
{
    if (APIError::kindOf(failure) == APIError::Kind::unauthorized) {
        self->m_log.error(QStringLiteral("tariffs 401: session cleared"));
        // The session's end first, then its last error, then nothing shown here.
        if (auth)
            auth->clearSessionAfterRefusal(failure);
        if (!self)
            return;
        self->setLoadError(nullptr);
    } else {
        self->m_log.error(QStringLiteral("tariffs load failed: %1").arg(descriptionOf(failure)));
        self->setLoadError(failure);
    }
    self->setIsLoading(false);
}

void BuyModel::setIsLoading(bool value)
{
    if (updateProperty(m_isLoading, value, this, &BuyModel::isLoadingChanged))
        updateBody();
}

void BuyModel::setLoadError(std::exception_ptr error)
{
    if (error == m_loadError)
        return;
    m_loadError = std::move(error);
    Q_EMIT loadErrorChanged();
    updateBody();
}

void BuyModel::setSelectedID(std::optional<QString> planID)
{
    if (planID == m_selectedID)
        return;
    m_selectedID = std::move(planID);
    m_plans->setSelectedID(m_selectedID);
    Q_EMIT selectionChanged();
}

void BuyModel::setSheetTariff(std::optional<TariffEntry> entry)
{
    updateProperty(m_sheetTariff, std::move(entry), this, &BuyModel::sheetTariffChanged);
}

void BuyModel::updateBody()
{
    const MeStore *me = m_services.meStore;
    const UserGate gate = me ? userGate(me->latest(), bool(me->error())) : userGate(std::nullopt, false);
    const bool hasTariffs = !tariffs().isEmpty();
    const BuyBody::Value body = buyBody(gate, m_isLoading, bool(m_loadError), hasTariffs);
    const bool bar = ui::showsContinueBar(gate, hasTariffs);
    if (body == m_body && bar == m_showsContinueBar)
        return;
    m_body = body;
    m_showsContinueBar = bar;
    Q_EMIT bodyChanged();
}

} // namespace kovra::ui
