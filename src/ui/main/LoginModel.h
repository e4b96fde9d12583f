#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <qcoro/qcorotask.h>

namespace kovra {

class AuthState;

namespace ui {

// Which panel the sign-in window shows under its header.
namespace LoginPanel {
Q_NAMESPACE
QML_ELEMENT
enum Value {
    SignIn,  // signed out: the last error (if any) and the Telegram button
    Waiting, // a Telegram sign-in waits for the bot: progress, reopen, cancel
    None,    // signed in: the root view shows the home window instead
};
Q_ENUM_NS(Value)
} // namespace LoginPanel

// The sign-in window (LoginView.qml) over the session state: the panel follows
// the status, the error line shows the text of the last failed sign-in for as long as
// the session state keeps it (this window never clears it).
//
// signIn() logs "login button tapped" (category "kovra.MacLogin") and starts, without
// awaiting it, the Telegram sign-in followed by opening its link. reopen() opens the
// pending link again (the links stay pending). cancel() abandons the waiting sign-in
// through AuthState::cancelTelegramLink(): the poll stops, both links go, and the
// status is read back from the token store, so cancelling a Telegram link of a
// signed-in account keeps it signed in. The session state is held weakly.
// Lives on the GUI thread.
class LoginModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("made by the root view's model")
    Q_PROPERTY(kovra::ui::LoginPanel::Value panel READ panel NOTIFY panelChanged)
    Q_PROPERTY(bool showsError READ showsError NOTIFY errorChanged)
    Q_PROPERTY(QString errorText READ errorText NOTIFY errorChanged)
    Q_PROPERTY(QString title READ title CONSTANT)
    Q_PROPERTY(QString subtitle READ subtitle CONSTANT)
    Q_PROPERTY(QString signInTitle READ signInTitle CONSTANT)
    Q_PROPERTY(QString linkingTitle READ linkingTitle CONSTANT)
    Q_PROPERTY(QString linkingHint READ linkingHint CONSTANT)
    Q_PROPERTY(QString reopenTitle READ reopenTitle CONSTANT)
    Q_PROPERTY(QString cancelTitle READ cancelTitle CONSTANT)
    // The accessible names of the two panels.
    Q_PROPERTY(QString signInPanelName READ signInPanelName CONSTANT)
    Q_PROPERTY(QString waitingPanelName READ linkingTitle CONSTANT)
public:
    explicit LoginModel(AuthState *authState, QObject *parent = nullptr);

    LoginPanel::Value panel() const { return m_panel; }
    bool showsError() const { return !m_errorText.isEmpty(); }
    QString errorText() const { return m_errorText; }

    static QString title();
    static QString subtitle();
    static QString signInTitle();
    static QString linkingTitle();
    static QString linkingHint();
    static QString reopenTitle();
    static QString cancelTitle();
    static QString signInPanelName();

    // The Telegram button.
    Q_INVOKABLE void signIn();
    // The reopen button of the waiting panel.
    Q_INVOKABLE void reopen();
    // The cancel button of the waiting panel.
    Q_INVOKABLE void cancel();

Q_SIGNALS:
    void panelChanged();
    void errorChanged();

private:
    void updatePanel();
    void updateError();
    static QCoro::Task<void> beginAndLaunch(QPointer<AuthState> authState);
    static QCoro::Task<void> launch(QPointer<AuthState> authState);

    QPointer<AuthState> m_auth;
    LoginPanel::Value m_panel = LoginPanel::SignIn;
    QString m_errorText;
};

} // namespace ui
} // namespace kovra
