#pragma once

#include "ui/main/HomeModel.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace kovra {

class AuthState;

namespace ui {

class LoginModel;

// What the main window's content is built over: the session state and the objects of
// the app's container the home window shows (all owned by the app, outliving the
// window), and the home window's options.
struct RootServices {
    AuthState *authState = nullptr;
    ConnectCoordinator *coordinator = nullptr;
    ConnectivityEngine *connectivity = nullptr;
    TunnelController *tunnel = nullptr;
    HomeStores stores{};
    const AccountScreens *accountScreens = nullptr;
    HomeModelOptions homeOptions{};
    // False while the app still reads the stored session at start: see settle().
    bool sessionSettled = true;
};

// The main window's content (RootView.qml): the sign-in window while signed out,
// the home window while signed in, and the welcome alert of a new account.
//
// Only an `authenticated` session counts as signed in; a Telegram sign-in waiting
// for its poll (`linking`) still shows the sign-in window. The home window's model is
// made at the first sign-in over the container's objects; each sign-out closes its
// two sheets, so every sign-in shows it with both sheets closed. `home` stays set
// after a sign-out for the view that fades out.
//
// Made before the stored session is read (sessionSettled false), it shows neither
// window and signedIn stays false until settle(); the first window then appears at
// once, without the cross-fade.
//
// The trial alert is shown while the session's isNewAccount is set. Writing false
// to `showsTrialAlert` (the alert's button, Escape, any other dismissal) clears the
// flag, notifying only when it was set; writing true is ignored.
// Lives on the GUI thread; the collaborators are held weakly.
class RootModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("made by the app")
    Q_PROPERTY(bool signedIn READ isSignedIn NOTIFY signedInChanged)
    // Notified after signedIn has taken the restored session's value.
    Q_PROPERTY(bool settled READ isSettled NOTIFY settledChanged)
    Q_PROPERTY(kovra::ui::LoginModel *login READ login CONSTANT)
    Q_PROPERTY(kovra::ui::HomeModel *home READ home NOTIFY homeChanged)
    Q_PROPERTY(bool showsTrialAlert READ showsTrialAlert WRITE setShowsTrialAlert NOTIFY showsTrialAlertChanged)
    Q_PROPERTY(QString trialTitle READ trialTitle CONSTANT)
    Q_PROPERTY(QString trialMessage READ trialMessage CONSTANT)
    Q_PROPERTY(QString trialButtonTitle READ trialButtonTitle CONSTANT)
    // The cross-fade between the sign-in and the home window, in ms (none with
    // reduce motion).
    Q_PROPERTY(int fadeDuration READ fadeDuration CONSTANT)
public:
    static constexpr int kFadeMs = 350;

    explicit RootModel(RootServices services, QObject *parent = nullptr);
    ~RootModel() override;

    bool isSignedIn() const { return m_signedIn; }
    bool isSettled() const { return m_settled; }
    // The stored session has been read: signedIn follows the session from now on.
    void settle();
    LoginModel *login() const { return m_login; }
    HomeModel *home() const { return m_home; }

    bool showsTrialAlert() const;
    void setShowsTrialAlert(bool shown);

    static QString trialTitle();
    static QString trialMessage();
    static QString trialButtonTitle();
    int fadeDuration() const { return kFadeMs; }

    // The alert's button.
    Q_INVOKABLE void dismissTrialAlert() { setShowsTrialAlert(false); }

Q_SIGNALS:
    void signedInChanged();
    void settledChanged();
    void homeChanged();
    void showsTrialAlertChanged();
    // The home window asks for the settings window.
    void settingsRequested();

private:
    void updateSignedIn();

    RootServices m_services;
    QPointer<AuthState> m_auth;
    LoginModel *m_login;
    HomeModel *m_home = nullptr;
    bool m_signedIn = false;
    bool m_settled;
};

} // namespace ui
} // namespace kovra
