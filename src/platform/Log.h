#pragma once

#include <QList>
#include <QLoggingCategory>
#include <QMutex>
#include <QString>

namespace kovra {

// One logger per component. Categories are "kovra.<Component>" ("kovra.APIClient").
// Levels follow the product's log texts: error maps to a Qt warning and fault to a
// Qt critical message; neither is ever fatal.
class Logger {
public:
    explicit Logger(const QString &component);

    void debug(const QString &text) const;
    void info(const QString &text) const;
    void notice(const QString &text) const;
    void error(const QString &text) const;
    void fault(const QString &text) const;

    const QLoggingCategory &category() const { return *m_category; }
    QString component() const { return m_component; }

private:
    QString m_component;
    const QLoggingCategory *m_category;
};

enum class LogLevel { Debug, Info, Notice, Error, Fault };

struct LogLine {
    QString category; // "kovra.APIClient"
    LogLevel level;
    QString text;
};

// Captures every line written through a Logger while it lives (tests assert on it).
// Lines keep going to the previous message handler as well.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QList<LogLine> lines() const;
    QList<LogLine> lines(const QString &component) const;
    QStringList texts(const QString &component = {}) const;
    bool contains(const QString &text) const;
    int count(const QString &text) const;
    void clear();
    void append(const LogLine &line);

private:
    mutable QMutex m_mutex;
    QList<LogLine> m_lines;
};

} // namespace kovra
