#include "platform/QuitSignals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace kovra {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

std::atomic<int> s_writeEnd{-1};
std::atomic<bool> s_received{false};
struct sigaction s_previous[std::size(kSignals)];
bool s_installed[std::size(kSignals)] = {};

// Only async-signal-safe calls here.
extern "C" void onQuitSignal(int signo)
{
    if (s_received.exchange(true)) {
        // The quit is under way and did not end the process: end it now.
        ::signal(signo, SIG_DFL);
        ::raise(signo); // delivered as the handler returns
        return;
    }
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signo);
    [[maybe_unused]] const ssize_t written = ::write(s_writeEnd.load(), &byte, 1);
    errno = saved;
}

} // namespace

QuitSignals::QuitSignals(std::function<void()> quit) : m_quit(std::move(quit))
{
    if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        m_log.error(QStringLiteral("no quit on signals: cannot make a pipe: %1").arg(QString::fromLocal8Bit(strerror(errno))));
        return;
    }
    s_received = false;
    s_writeEnd = m_pipe[1];
    m_notifier = std::make_unique<QSocketNotifier>(m_pipe[0], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [this] { received(); });

    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    for (const int signo : kSignals)
        sigaddset(&action.sa_mask, signo); // one handler at a time
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        // Whoever started the process ignored it on purpose: it is not ours to take.
        s_installed[i] = ::sigaction(kSignals[i], nullptr, &s_previous[i]) == 0
                         && s_previous[i].sa_handler != SIG_IGN
                         && ::sigaction(kSignals[i], &action, nullptr) == 0;
    }
}

QuitSignals::~QuitSignals()
{
    if (!m_notifier)
        return;
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        if (std::exchange(s_installed[i], false))
            ::sigaction(kSignals[i], &s_previous[i], nullptr);
    s_writeEnd = -1;
    m_notifier.reset();
    ::close(m_pipe[0]);
    ::close(m_pipe[1]);
}

void QuitSignals::received()
{
    unsigned char byte = 0;
    if (::read(m_pipe[0], &byte, 1) != 1)
        return;
    m_notifier->setEnabled(false); // the one quit; a later signal ends the process
    m_log.notice(QStringLiteral("received SIG%1").arg(QString::fromLatin1(sigabbrev_np(byte))));
    m_quit();
}

} // namespace kovra
