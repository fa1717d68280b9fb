// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Peers for network tests: plain POSIX sockets that talk to 127.0.0.1 only.
#include <QDir>
#include <QFile>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string_view>

namespace testsupport {

inline sockaddr_in Loopback(std::uint16_t port)
{
    return sockaddr_in{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
}

// Sends one datagram to 127.0.0.1:port; true when the whole of it went.
inline bool SendDatagram(std::uint16_t port, std::string_view bytes)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in to = Loopback(port);
    const ssize_t n = ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    ::close(fd);
    return n == ssize_t(bytes.size());
}

// Another program's socket bound to 127.0.0.1 on a port of the system's choice; a stream one listens.
struct Holder {
    int fd;
    std::uint16_t port = 0;
    explicit Holder(int type) : fd(::socket(AF_INET, type | SOCK_CLOEXEC, 0))
    {
        sockaddr_in a = Loopback(0);
        socklen_t len = sizeof a;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), len) == 0 && (type != SOCK_STREAM || ::listen(fd, 4) == 0)
            && ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            port = ntohs(a.sin_port);
    }
    ~Holder() { ::close(fd); }
};

// A TCP client of 127.0.0.1:port.
struct TcpClient {
    int fd;
    explicit TcpClient(std::uint16_t port) : fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        const sockaddr_in to = Loopback(port);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0)
            Close();
    }
    ~TcpClient() { Close(); }
    bool Send(std::string_view bytes)
    {
        for (ssize_t n = 0; !bytes.empty(); bytes.remove_prefix(std::size_t(n)))
            if ((n = fd < 0 ? -1 : ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL)) <= 0)
                return false;
        return fd >= 0;
    }
    void Close() { ::close(std::exchange(fd, -1)); }
    void Reset()   // closes with a reset instead of an orderly close
    {
        const linger abortive{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        Close();
    }
};

// Whether a TCP socket of this machine on local port `port` is in `state` as /proc/net/tcp names
// it ("0A" listening, "06" waiting out its time), asked without making any connection.
inline bool TcpState(std::uint16_t port, const char* state)
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

// Open socket descriptors of this process (Qt's painting threads open descriptors of other kinds).
inline int OpenSocketCount()
{
    int count = 0;
    for (const QFileInfo& fd : QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::NoDotAndDotDot | QDir::System))
        count += fd.symLinkTarget().contains(QStringLiteral("socket:")) ? 1 : 0;
    return count;
}

} // namespace testsupport
