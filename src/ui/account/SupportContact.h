#pragma once

#include "AccountLinks.h"

#include "platform/UrlOpener.h"

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <qcoro/qcorotask.h>

#include <memory>

namespace kovra::ui {

// The label of the contact-support button: "Написать в поддержку" with "paperplane.fill".
struct ContactSupportLabel {
    QString title;
    QString symbol;
};
ContactSupportLabel contactSupportLabel();

// Opens the support bot: its Telegram deep link when the desktop opens it, else the
// bot's page on the web (only an https address). True when one of them was opened.
// Never throws.
QCoro::Task<bool> contactSupport(std::shared_ptr<UrlOpener> opener, AccountLinks links);

// The contact-support button's model, shared by every screen that offers it
// (ContactSupportRow.qml). open() gives no feedback when nothing could be opened.
class SupportContact : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Made by the screens' view-models")
    Q_PROPERTY(QString title READ title CONSTANT)
    Q_PROPERTY(QString symbol READ symbol CONSTANT)
public:
    SupportContact(std::shared_ptr<UrlOpener> opener, AccountLinks links, QObject *parent = nullptr);

    QString title() const { return m_label.title; }
    QString symbol() const { return m_label.symbol; }

    // Starts contactSupport(); the attempt is not kept and outlives this object.
    Q_INVOKABLE void open();

private:
    std::shared_ptr<UrlOpener> m_opener;
    AccountLinks m_links;
    ContactSupportLabel m_label;
};

} // namespace kovra::ui
