#pragma once

#include <QObject>
#include <QStringList>
#include <QtQml/qqmlregistration.h>

namespace kovra::ui {

// The symbols the screens name ("power", "bolt.fill", "server.rack", ...) and the
// Material Icons ligature that draws each. View-models and components refer to
// symbols by these names only; SymbolIcon draws them. A name missing from the
// table draws nothing and is logged.
class Symbols : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(QString fontFamily READ fontFamily CONSTANT)
public:
    explicit Symbols(QObject *parent = nullptr);

    // The ligature text for a symbol name; empty for an unknown name.
    static QString ligature(QStringView name);
    static QStringList names();
    static QString fontFamily();

    Q_INVOKABLE QString glyph(const QString &name) const;
};

} // namespace kovra::ui
