#pragma once

#include "AccountPageModel.h"
#include "AccountScreens.h"
#include "LinkedAccounts.h"
#include "SettingsPreferences.h"
#include "SupportChecklistModel.h"
#include "SupportContact.h"

#include "platform/Log.h"

#include <QPointer>
#include <QString>
#include <QVariantList>
#include <QVariantMap>
#include <QtQml/qqmlregistration.h>

#include <qcoro/qcorotask.h>

#include <exception>
#include <optional>

namespace kovra::ui {

// What the about section shows: the product version and the build number, "—" for
// either when the build set none.
struct SettingsAbout {
    QString version;
    QString build;

    static SettingsAbout of(const QString &version, const QString &buildNumber);
    static SettingsAbout ofThisBuild();
};

// The view-model of the settings screen (SettingsView.qml): the linked sign-in
// methods and their link flows, the routing and automation preferences, support,
// about and sign-out. Log category "kovra.Settings".
//
// Each showing refreshes the user record, which the account rows and the sign-out
// message follow. A link flow started by linkTap() is not kept and outlives the
// screen: its service steps (the link, the record's refresh, ending the session on a
// 401) run to their end; the flags and linkError are written only while the
// view-model exists. The window shows the screen only while the session is
// authenticated; the session's end removes it.
//
// The preferences are read from the app group once, when the model is made (a value
// written elsewhere meanwhile shows on the next screen). A change made here is written
// at once, logged ("bypassLAN → true"), and followed up: a routing switch asks the
// tunnel to reconnect (one reconnect per change, not kept, outliving the screen), the
// auto-disconnect time is handed to the running tunnel. A stored time that is not one
// of the picker's nine shows as an extra last item until another is chosen.
class SettingsModel : public AccountPageModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Made by AccountScreens")
    // Fixed texts by name: headers, row titles, dialog texts.
    Q_PROPERTY(QVariantMap texts READ texts CONSTANT)
    // Telegram, Apple, Google (LinkedAccountRow::toVariant()).
    Q_PROPERTY(QVariantList accountRows READ accountRowsVariant NOTIFY accountRowsChanged)
    Q_PROPERTY(bool isLinkInProgress READ isLinkInProgress NOTIFY accountRowsChanged)
    Q_PROPERTY(bool isLinkingApple READ isLinkingApple NOTIFY accountRowsChanged)
    Q_PROPERTY(bool isLinkingGoogle READ isLinkingGoogle NOTIFY accountRowsChanged)
    // The last link failure's text; empty for none.
    Q_PROPERTY(QString linkError READ linkErrorText NOTIFY linkErrorChanged)
    Q_PROPERTY(bool showLogoutConfirm READ showLogoutConfirm NOTIFY showLogoutConfirmChanged)
    // Chosen from the user record when the confirmation opens.
    Q_PROPERTY(QString logoutConfirmMessage READ logoutConfirmMessage NOTIFY showLogoutConfirmChanged)
    // The switches of the routing and automation sections in screen order
    // (SettingSwitchRow::toVariant()).
    Q_PROPERTY(QVariantList switchRows READ switchRowsVariant NOTIFY preferencesChanged)
    // The picker's items ({minutes, title}) and the one chosen.
    Q_PROPERTY(QVariantList autoDisconnectChoices READ autoDisconnectChoicesVariant NOTIFY preferencesChanged)
    Q_PROPERTY(int autoDisconnectIndex READ autoDisconnectIndex NOTIFY preferencesChanged)
    Q_PROPERTY(QString version READ version CONSTANT)
    Q_PROPERTY(QString build READ build CONSTANT)
    Q_PROPERTY(bool showsPrivacyLink READ showsPrivacyLink CONSTANT)
    Q_PROPERTY(kovra::ui::SupportContact *supportContact READ supportContact CONSTANT)
public:
    explicit SettingsModel(const AccountServices &services, SettingsAbout about = SettingsAbout::ofThisBuild(),
                           QObject *parent = nullptr);
    ~SettingsModel() override;

    QVariantMap texts() const { return m_texts; }
    const QList<LinkedAccountRow> &accountRows() const { return m_rows; }
    QVariantList accountRowsVariant() const;
    bool isLinkInProgress() const { return linkingState().inProgress(); }
    bool isLinkingApple() const { return m_isLinkingApple; }
    bool isLinkingGoogle() const { return m_isLinkingGoogle; }
    const std::optional<QString> &linkError() const { return m_linkError; }
    QString linkErrorText() const { return m_linkError.value_or(QString()); }
    bool showLogoutConfirm() const { return m_showLogoutConfirm; }
    QString logoutConfirmMessage() const { return m_logoutConfirmMessage; }
    QString version() const { return m_about.version; }
    QString build() const { return m_about.build; }
    bool showsPrivacyLink() const { return m_services.links.hasPrivacyPolicy(); }
    SupportContact *supportContact() const { return m_supportContact; }

    // A tap on a link row (a LinkedAccount value): logs "link <method> tapped", clears
    // linkError and starts that method's flow. A tap on a disabled row does nothing.
    Q_INVOKABLE void linkTap(int account);

    const SettingsPreferences &preferences() const { return m_preferences; }
    QList<SettingSwitchRow> switchRows() const { return SettingSwitchRow::of(m_preferences); }
    QVariantList switchRowsVariant() const;
    // The nine times, then the stored time when it is none of them.
    QList<AutoDisconnectOption> autoDisconnectChoices() const;
    QVariantList autoDisconnectChoicesVariant() const;
    int autoDisconnectIndex() const;

    // A switch (a SettingsPreference other than the minutes) turned to `on`; a switch
    // that is disabled now, or already at that value, changes nothing.
    Q_INVOKABLE void setSwitch(int preference, bool on);
    // The picker's item at `index` chosen; the time already set changes nothing.
    Q_INVOKABLE void chooseAutoDisconnect(int index);

    // The sign-out button: opens the confirmation with the message for the user record.
    Q_INVOKABLE void requestLogout();
    // "Выйти": closes the confirmation and ends the session.
    Q_INVOKABLE void confirmLogout();
    // "Отмена", Escape or any other dismissal: closes it, changing nothing else.
    Q_INVOKABLE void cancelLogout();

    // Opens the privacy policy page through the link opener.
    Q_INVOKABLE void openPrivacyPolicy();
    // The support checklist's view-model, for the page pushed above this one (the page
    // adopts it).
    Q_INVOKABLE kovra::ui::SupportChecklistModel *makeSupportChecklist() const;

Q_SIGNALS:
    void accountRowsChanged();
    void linkErrorChanged();
    void showLogoutConfirmChanged();
    void preferencesChanged();

protected:
    void onShown() override;

private:
    LinkingState linkingState() const;
    void refreshRows();
    void setLinking(LinkedAccount::Value account, bool value);
    void setLinkError(std::optional<QString> text);

    // The flows (SettingsLinkFlows.cpp): static so that they outlive the model.
    static QCoro::Task<void> linkTelegram(QPointer<AuthState> auth);
    // The identity and link steps of one service.
    static QCoro::Task<void> appleSteps(QPointer<AppleAuthService> apple);
    static QCoro::Task<void> googleSteps(QPointer<GoogleAuthService> google);
    // Awaits the steps, then refreshes the record or handles the failure, and lowers
    // the flow's flag.
    template<class ServiceError>
    static QCoro::Task<void> finishLink(QPointer<SettingsModel> self, QPointer<MeStore> me, QPointer<AuthState> auth,
                                        LinkedAccount::Value method, QCoro::Task<void> steps);
    // The failure table of one service's flow: the text, ending the session on a 401,
    // the error line for anything unexpected.
    template<class ServiceError>
    static void handleLinkFailure(QPointer<SettingsModel> self, QPointer<AuthState> auth, std::exception_ptr error,
                                  const QString &method);

    // Writes a preference's new value, logs it and starts its follow-up
    // (SettingsPreferenceControls.cpp).
    void applyChange(SettingsPreference::Value preference, qint64 value);

    AccountServices m_services;
    AppGroupStore m_store;
    SettingsPreferences m_preferences;
    SettingsAbout m_about;
    QVariantMap m_texts;
    SupportContact *m_supportContact;
    Logger m_log{QStringLiteral("Settings")};

    QList<LinkedAccountRow> m_rows;
    bool m_isLinkingApple = false;
    bool m_isLinkingGoogle = false;
    std::optional<QString> m_linkError;
    bool m_showLogoutConfirm = false;
    QString m_logoutConfirmMessage;
};

} // namespace kovra::ui
