#pragma once

#include <QList>
#include <QMutex>
#include <QQmlError>
#include <QStringList>
#include <QtGlobal>

class QQmlEngine;

namespace kovra::ui {

// Collects the warnings of QML, its JavaScript and Qt Quick (binding errors, type
// errors, failed images, unknown symbols of the design module) while it lives, so
// that a preview or a view test can treat any of them as a failure. Messages keep
// going to the previous handler. One collector at a time.
class QmlWarningCollector {
public:
    QmlWarningCollector();
    ~QmlWarningCollector();
    QmlWarningCollector(const QmlWarningCollector &) = delete;
    QmlWarningCollector &operator=(const QmlWarningCollector &) = delete;

    // Also collects what `engine` reports through its warnings signal.
    void watch(QQmlEngine &engine);

    QStringList warnings() const;
    QStringList take();
    // Adds a warning of the caller's own (a component that failed to load).
    void record(const QString &text);

    // Whether a message counts: a warning or worse from the categories "qml", "js",
    // "qt.qml*", "qt.quick*", "qt.svg*", "kovra.Design", or any default-category
    // warning that names a QML file.
    static bool counts(QtMsgType type, const char *category, const QString &text);

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &text);

    mutable QMutex m_mutex;
    QStringList m_warnings;
    QtMessageHandler m_previous = nullptr;
};

} // namespace kovra::ui
