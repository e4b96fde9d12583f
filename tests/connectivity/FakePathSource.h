#pragma once

#include "platform/NetworkPath.h"

#include <QMutex>
#include <QMutexLocker>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

namespace kovra::test {

// A path source the test drives: report() delivers a path on the calling thread, even
// after cancel(), as a late report of a real source would arrive.
class FakePathSource : public NetworkPathSource {
public:
    void start(Handler handler) override
    {
        QMutexLocker lock(&m_mutex);
        ++m_starts;
        m_handler = std::move(handler);
        if (m_reportOnStart) {
            const NetworkPath path = *m_reportOnStart;
            const Handler h = m_handler;
            lock.unlock();
            h(path);
        }
    }
    void cancel() override
    {
        QMutexLocker lock(&m_mutex);
        m_cancelled = true;
    }

    void report(const NetworkPath &path)
    {
        Handler h;
        {
            QMutexLocker lock(&m_mutex);
            h = m_handler;
        }
        if (h)
            h(path);
    }
    // Reports this path from inside start(), as a source with an answer at hand would.
    void reportOnStart(const NetworkPath &path) { m_reportOnStart = path; }

    bool isCancelled() const
    {
        QMutexLocker lock(&m_mutex);
        return m_cancelled;
    }
    int starts() const
    {
        QMutexLocker lock(&m_mutex);
        return m_starts;
    }

private:
    mutable QMutex m_mutex;
    Handler m_handler;
    bool m_cancelled = false;
    int m_starts = 0;
    std::optional<NetworkPath> m_reportOnStart;
};

// Hands out fake sources and keeps them for the test.
struct FakePathSources {
    std::vector<std::shared_ptr<FakePathSource>> made;
    std::optional<NetworkPath> reportOnStart;

    NetworkPathSourceFactory factory()
    {
        return [this]() -> std::shared_ptr<NetworkPathSource> {
            auto source = std::make_shared<FakePathSource>();
            if (reportOnStart)
                source->reportOnStart(*reportOnStart);
            made.push_back(source);
            return source;
        };
    }
};

// "satisfied wifi,wired", "unsatisfied", "requiresConnection": a path with one
// interface per listed kind.
inline NetworkPath pathFrom(const QString &text)
{
    const QStringList parts = text.split(u' ', Qt::SkipEmptyParts);
    NetworkPath path;
    const QString status = parts.value(0);
    path.status = status == u"satisfied"            ? NetworkPathStatus::Satisfied
                : status == u"requiresConnection" ? NetworkPathStatus::RequiresConnection
                                                  : NetworkPathStatus::Unsatisfied;
    int index = 1;
    for (const QString &kind : parts.value(1).split(u',', Qt::SkipEmptyParts)) {
        PathInterface i;
        i.index = ++index;
        i.name = kind + QString::number(index);
        i.kind = kind == u"wifi"       ? InterfaceKind::Wifi
               : kind == u"cellular" ? InterfaceKind::Cellular
               : kind == u"wired"    ? InterfaceKind::Wired
               : kind == u"loopback" ? InterfaceKind::Loopback
                                     : InterfaceKind::Other;
        path.interfaces.append(i);
    }
    return path;
}

} // namespace kovra::test
