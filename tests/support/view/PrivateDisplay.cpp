#include "PrivateDisplay.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kovra::test {

namespace {

constexpr int kStartMs = 10'000;

// Runs `argv` with DISPLAY set to `display` (unless empty), its output discarded, and
// `keepFd` left open under the same number.
pid_t spawn(const QList<QByteArray> &argv, const QByteArray &display, int keepFd = -1)
{
    // Nothing is allocated between fork and exec.
    QList<char *> args;
    for (const QByteArray &arg : argv)
        args.append(const_cast<char *>(arg.constData()));
    args.append(nullptr);
    const QByteArray displayVariable = "DISPLAY=" + display;
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    const int null = open("/dev/null", O_RDWR);
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    if (keepFd >= 0)
        fcntl(keepFd, F_SETFD, 0);
    if (!display.isEmpty())
        putenv(const_cast<char *>(displayVariable.constData()));
    execvp(args[0], args.data());
    _exit(127);
}

void end(pid_t &pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 100 && waitpid(pid, nullptr, WNOHANG) == 0; ++i)
        QThread::msleep(20);
    if (waitpid(pid, nullptr, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    pid = -1;
}

} // namespace

PrivateDisplay::PrivateDisplay()
{
    start();
    if (!isUp())
        stop();
}

PrivateDisplay::~PrivateDisplay()
{
    stop();
}

void PrivateDisplay::start()
{
    for (const char *program : {"Xvfb", "openbox"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty()) {
            m_problem = QStringLiteral("%1 is not installed (Debian package %2)")
                            .arg(QString::fromLatin1(program), QString::fromLatin1(program).toLower());
            return;
        }
    }

    // The server picks a free display and writes its number to the pipe once it accepts
    // connections.
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) {
        m_problem = QStringLiteral("pipe: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return;
    }
    m_server = spawn({"Xvfb", "-displayfd", QByteArray::number(ready[1]), "-screen", "0", "1600x1200x24",
                      "-nolisten", "tcp"},
                     {}, ready[1]);
    close(ready[1]);
    QByteArray number;
    QElapsedTimer waited;
    waited.start();
    pollfd fd{ready[0], POLLIN, 0};
    while (!number.endsWith('\n') && waited.elapsed() < kStartMs
           && poll(&fd, 1, int(kStartMs - waited.elapsed())) > 0) {
        char c;
        if (read(ready[0], &c, 1) != 1)
            break;
        number.append(c);
    }
    close(ready[0]);
    if (!number.endsWith('\n')) {
        m_problem = QStringLiteral("Xvfb did not start");
        return;
    }
    const QByteArray display = ':' + number.trimmed();
    qputenv("DISPLAY", display);

    // The window manager runs its start-up command once it manages the screen.
    const QString marker = QDir::tempPath() + QStringLiteral("/kovra-wm-ready-%1").arg(getpid());
    QFile::remove(marker);
    m_windowManager = spawn({"openbox", "--sm-disable", "--startup", "touch " + QFile::encodeName(marker)}, display);
    waited.restart();
    while (!QFile::exists(marker) && waited.elapsed() < kStartMs && waitpid(m_windowManager, nullptr, WNOHANG) == 0)
        QThread::msleep(20);
    if (!QFile::remove(marker))
        m_problem = QStringLiteral("openbox did not start on %1").arg(QString::fromLatin1(display));
}

void PrivateDisplay::stop()
{
    end(m_windowManager);
    end(m_server);
}

} // namespace kovra::test
