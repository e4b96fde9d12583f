#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace kovra::ui {

// One display line from a flag text and a name ("🇩🇪 Франкфурт"): the catalogue's
// rule, Connection::mergedTitle.
QString mergedFlagTitle(const QString &flags, const QString &label);

// The texts the design components show themselves, and the composed ones.
class Texts : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(QString close READ close CONSTANT)
public:
    explicit Texts(QObject *parent = nullptr);

    static QString close();
    Q_INVOKABLE QString mergedTitle(const QString &flags, const QString &label) const;
};

} // namespace kovra::ui
