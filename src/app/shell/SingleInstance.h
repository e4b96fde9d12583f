#pragma once

#include "platform/Cancellation.h"
#include "platform/Clock.h"

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <memory>

namespace kovra {

// One app per user: a lock file and a local socket in one private folder (the folder
// of the tunnel provider's socket). The process holding the lock listens on the
// socket; a later launch finds the lock held, asks the holder over the socket to show
// its main window and waits a bounded time for its "ok". A lock whose process is gone
// is taken over. Lives on the GUI thread.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Claim {
        Primary,    // this process holds the lock and listens
        HandedOver, // another holder answered: it shows its window, this process ends
        Unanswered, // another live process holds the lock but did not answer in time
        Failed,     // the folder, the lock file or the socket is unusable
    };

    struct Options {
        QString folder;
        // How long a later launch waits for the holder's answer, all tries together.
        std::chrono::milliseconds answerBound{2000};
        // Pause between tries while the holder's socket is not there yet.
        std::chrono::milliseconds retryInterval{100};
        std::shared_ptr<Clock> clock = Clock::system();
    };

    static inline const QString kLockFileName = QStringLiteral("app.lock");
    static inline const QString kSocketFileName = QStringLiteral("app.sock");

    explicit SingleInstance(Options options, QObject *parent = nullptr);
    ~SingleInstance() override;

    QString lockPath() const;
    QString socketPath() const;

    // Takes the lock and listens, or hands over to the holder. Run once; never throws.
    QCoro::Task<Claim> claim();
    // Why the claim ended in Unanswered or Failed, for the user.
    QString problem() const { return m_problem; }

    // Stops listening, removes the socket and releases the lock (also on destruction).
    void release();
    bool isPrimary() const { return m_server.isListening(); }

Q_SIGNALS:
    // A later launch asked to see the main window (it was answered already).
    void showRequested();

private:
    enum class LockResult { Taken, Held, Failed };
    LockResult takeLock();
    QCoro::Task<bool> askHolder(std::chrono::milliseconds bound);
    void acceptConnections();

    Options m_options;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer m_server;
    CancellationSource m_cancel;
    QString m_problem;
    int m_connections = 0;
};

} // namespace kovra
