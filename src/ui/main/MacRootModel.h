#pragma once

#include "ui/main/MacHomeModel.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace kovra {

class AuthState;

namespace ui {

class MacLoginModel;

// What the main window's content is built over: the session state and the objects of
// the app's container the home window shows (all owned by the app, outliving the
// window), and the home window's options.
struct MacRootServices {
    AuthState *authState = nullptr;
    MacConnectCoordinator *coordinator = nullptr;
    ConnectivityEngine *connectivity = nullptr;
    TunnelController *tunnel = nullptr;
    HomeStores stores{};
    const AccountScreens *accountScreens = nullptr;
    MacHomeModelOptions homeOptions{};
};

// The main window's content (MacRootView.qml): the sign-in window while signed out,
// the home window while signed in, and the welcome alert of a new account.
//
// Only an `authenticated` session counts as signed in; a Telegram sign-in waiting
// for its poll (`linking`) still shows the sign-in window. The home window's model is
// made at the first sign-in over the container's objects; each sign-out closes its
// two sheets, so every sign-in shows it with both sheets closed. `home` stays set
// after a sign-out for the view that fades out.
//
// The trial alert is shown while the session's isNewAccount is set. Writing false
// to `showsTrialAlert` (the alert's button, Escape, any other dismissal) clears the
// flag, notifying only when it was set; writing true is ignored.
// Lives on the GUI thread; the collaborators are held weakly.
class MacRootModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("made by the app")
    Q_PROPERTY(bool signedIn READ isSignedIn NOTIFY signedInChanged)
    Q_PROPERTY(kovra::ui::MacLoginModel *login READ login CONSTANT)
    Q_PROPERTY(kovra::ui::MacHomeModel *home READ home NOTIFY homeChanged)
    Q_PROPERTY(bool showsTrialAlert READ showsTrialAlert WRITE setShowsTrialAlert NOTIFY showsTrialAlertChanged)
    Q_PROPERTY(QString trialTitle READ trialTitle CONSTANT)
    Q_PROPERTY(QString trialMessage READ trialMessage CONSTANT)
    Q_PROPERTY(QString trialButtonTitle READ trialButtonTitle CONSTANT)
    // The cross-fade between the sign-in and the home window, in ms (none with
    // reduce motion).
    Q_PROPERTY(int fadeDuration READ fadeDuration CONSTANT)
public:
    static constexpr int kFadeMs = 350;

    explicit MacRootModel(MacRootServices services, QObject *parent = nullptr);
    ~MacRootModel() override;

    bool isSignedIn() const { return m_signedIn; }
    MacLoginModel *login() const { return m_login; }
    MacHomeModel *home() const { return m_home; }

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
    void homeChanged();
    void showsTrialAlertChanged();
    // The home window asks for the settings window.
    void settingsRequested();

private:
    void updateSignedIn();

    MacRootServices m_services;
    QPointer<AuthState> m_auth;
    MacLoginModel *m_login;
    MacHomeModel *m_home = nullptr;
    bool m_signedIn = false;
};

} // namespace ui
} // namespace kovra
