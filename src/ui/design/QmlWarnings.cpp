#include "QmlWarnings.h"

#include <QQmlEngine>

#include <atomic>
#include <cstdio>

namespace kovra::ui {

namespace {
std::atomic<QmlWarningCollector *> g_active{nullptr};
}

QmlWarningCollector::QmlWarningCollector()
{
    g_active.store(this);
    m_previous = qInstallMessageHandler(&QmlWarningCollector::handler);
}

QmlWarningCollector::~QmlWarningCollector()
{
    qInstallMessageHandler(m_previous);
    g_active.store(nullptr);
}

void QmlWarningCollector::watch(QQmlEngine &engine)
{
    QObject::connect(&engine, &QQmlEngine::warnings, &engine, [this](const QList<QQmlError> &errors) {
        for (const QQmlError &e : errors)
            record(e.toString());
    });
}

bool QmlWarningCollector::counts(QtMsgType type, const char *category, const QString &text)
{
    if (type == QtDebugMsg || type == QtInfoMsg)
        return false;
    const QByteArrayView c(category ? category : "");
    if (c == "qml" || c == "js" || c == "kovra.Design" || c.startsWith("qt.qml") || c.startsWith("qt.quick")
        || c.startsWith("qt.svg"))
        return true;
    return c == "default" && (text.contains(u".qml:") || text.contains(u"QML "));
}

void QmlWarningCollector::handler(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    QmlWarningCollector *self = g_active.load();
    if (self && counts(type, context.category, text))
        self->record(text);
    if (self && self->m_previous)
        self->m_previous(type, context, text);
    else
        fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
}

void QmlWarningCollector::record(const QString &text)
{
    QMutexLocker lock(&m_mutex);
    m_warnings.append(text);
}

QStringList QmlWarningCollector::warnings() const
{
    QMutexLocker lock(&m_mutex);
    return m_warnings;
}

QStringList QmlWarningCollector::take()
{
    QMutexLocker lock(&m_mutex);
    return std::exchange(m_warnings, {});
}

} // namespace kovra::ui
