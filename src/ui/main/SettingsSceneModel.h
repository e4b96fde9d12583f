#pragma once

#include "ui/account/SettingsModel.h"

#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace kovra {

class AuthState;

namespace ui {

class AccountScreens;

// The settings window's content (SettingsScene.qml), 540 by 620: while the
// session is authenticated a navigation stack whose root is a new settings screen;
// otherwise a placeholder asking to sign in from the main window, without actions.
// A sign-in or a sign-out swaps the content in the open window; each sign-in gets a
// new settings screen. The session state is held weakly.
// Lives on the GUI thread.
class SettingsSceneModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("made by the app")
    Q_PROPERTY(bool signedIn READ isSignedIn NOTIFY signedInChanged)
    Q_PROPERTY(QString placeholderSymbol READ placeholderSymbol CONSTANT)
    Q_PROPERTY(QString placeholderTitle READ placeholderTitle CONSTANT)
    Q_PROPERTY(QString placeholderHint READ placeholderHint CONSTANT)
    Q_PROPERTY(QString backLabel READ backLabel CONSTANT)
    Q_PROPERTY(QSize size READ size CONSTANT)
public:
    static constexpr QSize kSize{540, 620};

    // `screens` makes the settings screen's model (not owned; it outlives this one).
    SettingsSceneModel(AuthState *authState, const AccountScreens *screens, QObject *parent = nullptr);

    bool isSignedIn() const { return m_signedIn; }
    static QString placeholderSymbol();
    static QString placeholderTitle();
    static QString placeholderHint();
    static QString backLabel();
    QSize size() const { return kSize; }

    // A new settings screen's model for the stack's root page, which adopts it; null
    // while signed out.
    Q_INVOKABLE kovra::ui::SettingsModel *makeSettings() const;

Q_SIGNALS:
    void signedInChanged();

private:
    void updateSignedIn();

    QPointer<AuthState> m_auth;
    const AccountScreens *m_screens;
    bool m_signedIn = false;
};

} // namespace ui
} // namespace kovra
