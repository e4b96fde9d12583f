#pragma once

#include <QString>
#include <QUrl>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kovra::test {

// A loopback port that refuses connections: bound (so nobody else takes it) but not listening.
class RefusingPort {
public:
    RefusingPort() : m_fd(::socket(AF_INET, SOCK_STREAM, 0))
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        if (m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr *>(&a), length) == 0 &&
            ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&a), &length) == 0)
            m_port = ntohs(a.sin_port);
    }
    ~RefusingPort() { ::close(m_fd); }
    // "http://127.0.0.1:<port>/api", a base URL like the fake service's.
    QUrl baseURL() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/api").arg(m_port)); }

private:
    int m_fd;
    quint16 m_port = 0;
};

} // namespace kovra::test
