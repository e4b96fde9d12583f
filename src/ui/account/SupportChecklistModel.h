#pragma once

#include "AccountLinks.h"
#include "AccountPageModel.h"
#include "SupportContact.h"

#include "platform/UrlOpener.h"

#include <QList>
#include <QString>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

#include <memory>

namespace kovra::ui {

// One step of the checklist: its number (also shown), its text and a symbol carried
// with it (the row does not show it).
struct SupportChecklistStep {
    int id = 0;
    QString title;
    QString systemImage;

    bool operator==(const SupportChecklistStep &) const = default;
};

// The view-model of the support checklist (SupportChecklistView.qml), pushed from the
// settings screen: four numbered steps to try, then the contact-support button.
class SupportChecklistModel : public AccountPageModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Made by AccountScreens")
    Q_PROPERTY(QString header READ header CONSTANT)
    // {number, title} per step, in order; the texts are looked up on each read.
    Q_PROPERTY(QVariantList steps READ stepsVariant CONSTANT)
    Q_PROPERTY(kovra::ui::SupportContact *supportContact READ supportContact CONSTANT)
public:
    SupportChecklistModel(std::shared_ptr<UrlOpener> opener, AccountLinks links, QObject *parent = nullptr);

    // The steps in order, with their texts looked up now.
    static QList<SupportChecklistStep> steps();

    QString header() const { return navigationTitle(); }
    QVariantList stepsVariant() const;
    SupportContact *supportContact() const { return m_supportContact; }

private:
    SupportContact *m_supportContact;
};

} // namespace kovra::ui
