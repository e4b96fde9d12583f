#include "platform/Log.h"

#include <QHash>
#include <QMutexLocker>

#include <memory>

namespace kovra {
namespace {

struct Registry {
    QMutex mutex;
    // QLoggingCategory keeps a pointer to its name, so names live here for good.
    QHash<QString, std::shared_ptr<QByteArray>> names;
    QHash<QString, QLoggingCategory *> categories;
    QList<LogCapture *> captures;
};

Registry &registry()
{
    static Registry *r = new Registry; // never destroyed: loggers may run during exit
    return *r;
}

QString categoryName(const QString &component)
{
    return QStringLiteral("kovra.") + component;
}

const QLoggingCategory *categoryFor(const QString &component)
{
    auto &r = registry();
    QMutexLocker lock(&r.mutex);
    if (auto *c = r.categories.value(component))
        return c;
    auto name = std::make_shared<QByteArray>(categoryName(component).toUtf8());
    r.names.insert(component, name);
    auto *category = new QLoggingCategory(name->constData(), QtDebugMsg);
    r.categories.insert(component, category);
    return category;
}

void dispatch(const QString &component, LogLevel level, const QString &text)
{
    auto &r = registry();
    QMutexLocker lock(&r.mutex);
    const LogLine line{categoryName(component), level, text};
    for (auto *capture : std::as_const(r.captures))
        capture->append(line);
}

} // namespace

Logger::Logger(const QString &component)
    : m_component(component), m_category(categoryFor(component))
{
}

void Logger::debug(const QString &text) const
{
    dispatch(m_component, LogLevel::Debug, text);
    qCDebug((*m_category)).noquote() << text;
}

void Logger::info(const QString &text) const
{
    dispatch(m_component, LogLevel::Info, text);
    qCInfo((*m_category)).noquote() << text;
}

void Logger::notice(const QString &text) const
{
    dispatch(m_component, LogLevel::Notice, text);
    qCInfo((*m_category)).noquote() << text;
}

void Logger::error(const QString &text) const
{
    dispatch(m_component, LogLevel::Error, text);
    qCWarning((*m_category)).noquote() << text;
}

void Logger::fault(const QString &text) const
{
    dispatch(m_component, LogLevel::Fault, text);
    qCCritical((*m_category)).noquote() << text;
}

LogCapture::LogCapture()
{
    auto &r = registry();
    QMutexLocker lock(&r.mutex);
    r.captures.append(this);
}

LogCapture::~LogCapture()
{
    auto &r = registry();
    QMutexLocker lock(&r.mutex);
    r.captures.removeAll(this);
}

void LogCapture::append(const LogLine &line)
{
    QMutexLocker lock(&m_mutex);
    m_lines.append(line);
}

QList<LogLine> LogCapture::lines() const
{
    QMutexLocker lock(&m_mutex);
    return m_lines;
}

QList<LogLine> LogCapture::lines(const QString &component) const
{
    QList<LogLine> out;
    const QString category = categoryName(component);
    for (const auto &l : lines())
        if (l.category == category)
            out.append(l);
    return out;
}

QStringList LogCapture::texts(const QString &component) const
{
    QStringList out;
    for (const auto &l : component.isEmpty() ? lines() : lines(component))
        out.append(l.text);
    return out;
}

bool LogCapture::contains(const QString &text) const
{
    return count(text) > 0;
}

int LogCapture::count(const QString &text) const
{
    int n = 0;
    for (const auto &l : lines())
        if (l.text == text)
            ++n;
    return n;
}

void LogCapture::clear()
{
    QMutexLocker lock(&m_mutex);
    m_lines.clear();
}

} // namespace kovra
