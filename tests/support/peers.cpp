#include "peers.h"

#include <QDir>
#include <QFile>

namespace testsupport {

bool SendDatagram(std::uint16_t port, std::string_view bytes)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in to = Loopback(port);
    const ssize_t n = ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    ::close(fd);
    return n == static_cast<ssize_t>(bytes.size());
}

Holder::Holder(int type) : fd(::socket(AF_INET, type | SOCK_CLOEXEC, 0))
{
    sockaddr_in a = Loopback(0);
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && (type != SOCK_STREAM || ::listen(fd, 4) == 0)
        && ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
}

TcpClient::TcpClient(std::uint16_t port) : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
{
    const sockaddr_in to = Loopback(port);
    if (::connect(m_fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0)
        Close();
}

bool TcpClient::Send(std::string_view bytes)
{
    for (std::size_t sent = 0; sent < bytes.size();) {
        const ssize_t n = m_fd < 0 ? -1 : ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return m_fd >= 0;
}

bool TcpClient::ReadsEnd()
{
    const timeval wait{5, 0};
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    char c;
    return m_fd >= 0 && ::recv(m_fd, &c, 1, 0) == 0;
}

void TcpClient::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void TcpClient::Reset()
{
    const linger abortive{1, 0};
    ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    Close();
}

bool TcpState(std::uint16_t port, const char* state)
{
    QFile f(QStringLiteral("/proc/net/tcp"));
    f.open(QIODevice::ReadOnly);
    const QByteArray wanted = ":" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (f.readLine(); !f.atEnd();) {   // after the header: slot, local ADDR:PORT, remote, state
        const QList<QByteArray> fields = f.readLine().simplified().split(' ');
        if (fields.size() >= 4 && fields[1].endsWith(wanted) && fields[3] == state)
            return true;
    }
    return false;
}

int OpenSocketCount()
{
    // Only sockets: Qt's painting threads open and close descriptors of other kinds.
    int count = 0;
    for (const QFileInfo& fd : QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::NoDotAndDotDot | QDir::System))
        count += fd.symLinkTarget().contains(QStringLiteral("socket:")) ? 1 : 0;
    return count;
}

} // namespace testsupport
