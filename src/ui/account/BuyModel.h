#pragma once

#include "AccountPageModel.h"
#include "AccountScreens.h"
#include "SettingsModel.h"
#include "TariffChoice.h"
#include "TariffListModel.h"

#include "platform/Log.h"

#include <QPointer>
#include <QString>
#include <QVariantList>
#include <QVariantMap>
#include <QWindow>
#include <QtQml/qqmlregistration.h>

#include <qcoro/qcorotask.h>

#include <exception>
#include <optional>

namespace kovra::ui {

// The view-model of the tariff screen (BuyView.qml): the service's plans sorted by
// months, one of them selected, the best value and each plan's saving, the Telegram
// gate, and the continue button that opens the payment sheet. Log category
// "kovra.Buy".
//
// Each showing refreshes the user record and loads the plans together; once the load
// has ended, a refresh still running is cancelled and awaited. The showing's end (the
// gate's settings screen pushed over the page, or the page removed) cancels both: the
// cancelled load ends as a failed one does. Once the model is gone nothing is written.
// The retry button starts a load of its own each time it is pressed (a retry is not
// tied to the showing, only to the model); loads apply their results in the order they
// end.
//
// A load keeps the list and the error it finds until its own result arrives. On
// success the plans replace the list, the error is cleared and the selection is kept
// when still offered, else moved to the best value, else to the first plan (none for
// an empty map). A refused session (401) ends the session, leaves the refusal as the
// session's last error and clears the error here; any other failure is kept as the
// error, shown only while there is no list.
class BuyModel : public AccountPageModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Made by AccountScreens")
    // Fixed texts by name: header, gate, error card, placeholder label.
    Q_PROPERTY(QVariantMap texts READ texts CONSTANT)
    // A BuyBody value.
    Q_PROPERTY(int body READ bodyValue NOTIFY bodyChanged)
    Q_PROPERTY(bool showsContinueBar READ showsContinueBar NOTIFY bodyChanged)
    Q_PROPERTY(kovra::ui::TariffListModel *plans READ plans CONSTANT)
    Q_PROPERTY(int planCount READ planCount NOTIFY tariffsChanged)
    // [{symbol, text}] of the included-features card; empty without plans.
    Q_PROPERTY(QVariantList includedFeatures READ includedFeatures NOTIFY tariffsChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(QString loadErrorText READ loadErrorText NOTIFY loadErrorChanged)
    Q_PROPERTY(QString selectedID READ selectedIDText NOTIFY selectionChanged)
    Q_PROPERTY(QString continueTitle READ continueTitle NOTIFY selectionChanged)
    Q_PROPERTY(bool canContinue READ canContinue NOTIFY selectionChanged)
    Q_PROPERTY(bool hasSheetTariff READ hasSheetTariff NOTIFY sheetTariffChanged)
public:
    explicit BuyModel(const AccountServices &services, QObject *parent = nullptr);
    ~BuyModel() override;

    QVariantMap texts() const { return m_texts; }
    TariffListModel *plans() const { return m_plans; }
    const QList<TariffEntry> &tariffs() const { return m_plans->entries(); }
    int planCount() const { return int(tariffs().size()); }
    bool isLoading() const { return m_isLoading; }
    const std::exception_ptr &loadError() const { return m_loadError; }
    QString loadErrorText() const;
    const std::optional<QString> &selectedID() const { return m_selectedID; }
    QString selectedIDText() const { return m_selectedID.value_or(QString()); }
    const std::optional<TariffEntry> &sheetTariff() const { return m_sheetTariff; }
    bool hasSheetTariff() const { return m_sheetTariff.has_value(); }

    // Derived from the state each time they are read.
    const TariffEntry *selectedEntry() const { return entryWithID(tariffs(), m_selectedID); }
    std::optional<QString> bestValuePlanID() const { return ui::bestValuePlanID(tariffs()); }
    std::optional<Tariff> monthlyBaseline() const { return ui::monthlyBaseline(tariffs()); }
    QString continueTitle() const { return continueButtonTitle(selectedEntry()); }
    bool canContinue() const { return selectedEntry() != nullptr; }
    BuyBody::Value body() const { return m_body; }
    int bodyValue() const { return int(m_body); }
    bool showsContinueBar() const { return m_showsContinueBar; }
    QVariantList includedFeatures() const { return ui::includedFeatures(tariffs()); }

    // A tariff button: selects that plan (an id the list does not hold is ignored).
    Q_INVOKABLE void select(const QString &planID);
    // The error card's retry: starts one more load, whatever else runs.
    Q_INVOKABLE void retry();
    // The continue button: with a selected plan, makes it the sheet's plan and, given
    // a window, presents the payment sheet over it; the sheet's closing, however it
    // comes, clears the sheet's plan. Nothing while a sheet is presented.
    Q_INVOKABLE void continueToPayment(QWindow *window = nullptr);
    // The settings screen the gate pushes (the page adopts it).
    Q_INVOKABLE kovra::ui::SettingsModel *makeSettings() const;

    // The load the retry starts, for callers that await it.
    QCoro::Task<void> load();

Q_SIGNALS:
    void bodyChanged();
    void tariffsChanged();
    void isLoadingChanged();
    void loadErrorChanged();
    void selectionChanged();
    void sheetTariffChanged();

protected:
    void onShown() override;

private:
    static QCoro::Task<void> startUp(QPointer<BuyModel> self, QPointer<MeStore> me, CancellationToken showing);
    static QCoro::Task<void> refreshUserRecord(QPointer<MeStore> me, CancellationToken token);
    static QCoro::Task<void> runLoad(QPointer<BuyModel> self, CancellationToken token);
    void applyLoadedTariffs(const Tariffs &tariffs);
    static void loadFailed(QPointer<BuyModel> self, QPointer<AuthState> auth, std::exception_ptr failure);

    void setIsLoading(bool value);
    void setLoadError(std::exception_ptr error);
    void setSelectedID(std::optional<QString> planID);
    void setSheetTariff(std::optional<TariffEntry> entry);
    void updateBody();

    AccountServices m_services;
    QVariantMap m_texts;
    TariffListModel *m_plans;
    Logger m_log{QStringLiteral("Buy")};
    // Fires when the model goes: ends the retries' requests.
    CancellationSource m_lifetime;

    bool m_isLoading = false;
    std::exception_ptr m_loadError;
    std::optional<QString> m_selectedID;
    std::optional<TariffEntry> m_sheetTariff;
    QPointer<SheetHost> m_sheetHost;
    BuyBody::Value m_body = BuyBody::Placeholder;
    bool m_showsContinueBar = false;
};

} // namespace kovra::ui
