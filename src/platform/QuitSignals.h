#pragma once

#include "platform/Log.h"

#include <QSocketNotifier>

#include <functional>
#include <memory>

namespace kovra {

// Turns SIGTERM, SIGINT and SIGHUP (a desktop ends its session with SIGTERM) into one
// call of `quit` on the GUI thread, from the event loop. The handler only writes a byte
// to a pipe; a second signal ends the process at once, as that signal's default would.
// A signal the process was started with ignored (`nohup`, a script's background job)
// stays ignored. One at a time per process; the destructor puts the previous handlers
// back, so it should go only once the quit has finished.
class QuitSignals {
public:
    explicit QuitSignals(std::function<void()> quit);
    ~QuitSignals();
    QuitSignals(const QuitSignals &) = delete;
    QuitSignals &operator=(const QuitSignals &) = delete;

private:
    void received();

    std::function<void()> m_quit;
    int m_pipe[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> m_notifier;
    Logger m_log{QStringLiteral("App")};
};

} // namespace kovra
