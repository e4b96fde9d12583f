#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace kovra::ui {

// One display line from a flag text and a name. Both are split on " → "; with the
// same number of parts they are paired up ("🇩🇪 Франкфурт → 🇷🇺 Москва"), each part
// trimmed, a part with an empty flag keeping only its name; otherwise the flags, a
// space and the name, or the name alone when there are no flags.
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
