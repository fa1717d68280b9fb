#pragma once
// Senders for network tests. They talk to 127.0.0.1 only.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string_view>

namespace testsupport {

inline sockaddr_in Loopback(std::uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// Sends one datagram to 127.0.0.1:port; true when the whole of it went.
inline bool SendDatagram(std::uint16_t port, std::string_view bytes)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const sockaddr_in to = Loopback(port);
    const ssize_t n = ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    ::close(fd);
    return n == static_cast<ssize_t>(bytes.size());
}

// A TCP client of 127.0.0.1:port.
class TcpClient {
public:
    explicit TcpClient(std::uint16_t port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in to = Loopback(port);
        if (m_fd >= 0 && ::connect(m_fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~TcpClient() { Close(); }
    TcpClient(const TcpClient&) = delete;
    TcpClient& operator=(const TcpClient&) = delete;

    bool Connected() const { return m_fd >= 0; }
    bool Send(std::string_view bytes)
    {
        std::size_t sent = 0;
        while (m_fd >= 0 && sent < bytes.size()) {
            const ssize_t n = ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += static_cast<std::size_t>(n);
        }
        return sent == bytes.size();
    }
    void Close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    // Closes with a reset instead of an orderly close.
    void Reset()
    {
        if (m_fd < 0)
            return;
        linger l{1, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        Close();
    }

private:
    int m_fd = -1;
};

// Whether a TCP socket of this machine listens on port (read from /proc/net/tcp, so that asking
// makes no connection).
bool TcpPortListening(std::uint16_t port);

// Open socket descriptors of this process.
int OpenSocketCount();

} // namespace testsupport
