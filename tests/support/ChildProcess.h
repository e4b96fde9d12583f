#pragma once

#include <QProcess>

namespace kovra::test {

// Ends a child process the test started, by its process id: SIGTERM, and SIGKILL when
// it has not ended within 5 s. Nothing when it is not running.
inline void stopChild(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(2000);
    }
}

} // namespace kovra::test
