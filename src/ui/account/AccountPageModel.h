#pragma once

#include "platform/Cancellation.h"

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <optional>

namespace kovra::ui {

// The view-model of a page on the window's navigation stack (AccountPage.qml).
//
// A navigation link asks its view-model for the next page's view-model (made by
// AccountScreens, without a parent) and pushes an AccountPage with it; the page adopts
// it (adopt()), so the model is destroyed with the page when the stack removes it.
// The page reports whether it is the stack's current item: it is "shown" when it
// becomes current (pushed, or uncovered by a pop) and "goes away" when it stops
// being current (covered by a push, or removed). Work tied to one showing takes
// showingToken(), which fires when the page goes away or the model is destroyed.
// A page outside any stack counts as shown while it is visible.
class AccountPageModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Made by AccountScreens")
    Q_PROPERTY(QString navigationTitle READ navigationTitle NOTIFY navigationTitleChanged)
    Q_PROPERTY(bool shown READ isShown NOTIFY shownChanged)
public:
    explicit AccountPageModel(QString navigationTitle, QObject *parent = nullptr);
    ~AccountPageModel() override;

    // The title the window draws above the page, beside its back control.
    QString navigationTitle() const { return m_navigationTitle; }
    bool isShown() const { return m_shown; }

    // Called by the page: shownChanged, then onShown() or (after the showing's token
    // has fired) onHidden(), on each real change.
    Q_INVOKABLE void setShown(bool shown);
    // Called by the page once it exists: the page becomes the model's parent.
    Q_INVOKABLE void adopt(QObject *page);

Q_SIGNALS:
    void navigationTitleChanged();
    void shownChanged();

protected:
    // Each time the page becomes current ("run each time the screen is shown").
    virtual void onShown() {}
    // Each time it stops being current.
    virtual void onHidden() {}
    // Fires when the current showing ends; a cancelled token while not shown.
    CancellationToken showingToken() const;
    void setNavigationTitle(const QString &title);

private:
    QString m_navigationTitle;
    bool m_shown = false;
    std::optional<CancellationSource> m_showing;
};

} // namespace kovra::ui
