#pragma once

#include "account/MeOut.h"

#include <QList>
#include <QString>
#include <QVariantMap>
#include <QtQml/qqmlregistration.h>

#include <optional>

namespace kovra::ui {

// The sign-in methods an account can link (QML: `LinkedAccount.Apple`).
namespace LinkedAccount {
Q_NAMESPACE
QML_ELEMENT
enum Value { Telegram, Apple, Google };
Q_ENUM_NS(Value)
} // namespace LinkedAccount

// Which link flows run now.
struct LinkingState {
    bool apple = false;
    bool google = false;
    // The session's Telegram sign-in (its status is `linking`).
    bool telegramSignIn = false;

    bool inProgress() const { return apple || google || telegramSignIn; }
};

// One row of the settings screen's account section: the linked form (title with its
// value) when `connectedValue` is present, else a link button with
// `notConnectedTitle`, a progress indicator while `isLinking`, disabled while
// `isDisabled`. `unavailableNote` says why the button can never work on this
// system (the tooltip and accessible description); empty otherwise.
struct LinkedAccountRow {
    LinkedAccount::Value account = LinkedAccount::Telegram;
    QString title;
    QString systemImage;
    std::optional<QString> connectedValue;
    bool showsConnectedDot = false;
    QString notConnectedTitle;
    bool isLinking = false;
    bool isDisabled = false;
    QString unavailableNote;

    // The row for QML: the fields by name, `connectedValue` empty and `isConnected`
    // false for an unlinked method.
    QVariantMap toVariant() const;
    bool operator==(const LinkedAccountRow &) const = default;

    // Telegram, Apple and Google, from the user record (none: nothing linked). Every
    // row is disabled while a flow runs; the Apple button also while the system has
    // no Apple sign-in, and a method without a service to link it with cannot be
    // tapped either.
    static QList<LinkedAccountRow> of(const std::optional<MeOut> &me, const LinkingState &linking,
                                      bool appleAvailable, bool googleAvailable);
};

// The sign-out confirmation's message for the user record: the methods the user
// will have to sign in with again.
QString logoutConfirmMessage(const std::optional<MeOut> &me);

} // namespace kovra::ui
