#pragma once

#include "AccountPageModel.h"

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <functional>

namespace kovra::ui {

// A navigation link between account pages: its title and the page it opens, a QML
// file of this module with a maker of that page's view-model. PageNavigator.qml
// pushes it:
//
//     PageNavigator { id: navigator; stack: page.T.StackView.view }
//     BrandButton { text: model.buyLink.title; onClicked: navigator.open(model.buyLink) }
class AccountPageLink : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Made by the screens' view-models")
    Q_PROPERTY(QString title READ title NOTIFY changed)
    // "qrc:/qt/qml/Kovra/Account/<File>.qml"; empty while the link leads nowhere.
    Q_PROPERTY(QString page READ page NOTIFY changed)
public:
    // Makes a new view-model without a parent (the pushed page adopts it).
    using Maker = std::function<AccountPageModel *()>;

    explicit AccountPageLink(QObject *parent = nullptr);

    QString title() const { return m_title; }
    QString page() const { return m_page; }

    // `pageFile` is the QML file's name ("BuyView.qml"). Notifies when the title or the
    // page changed.
    void set(const QString &title, const QString &pageFile, Maker maker);
    void setTitle(const QString &title);

    // A new view-model for the page; null when the link leads nowhere.
    Q_INVOKABLE kovra::ui::AccountPageModel *makePage() const;

Q_SIGNALS:
    void changed();

private:
    QString m_title;
    QString m_page;
    Maker m_maker;
};

} // namespace kovra::ui
