#pragma once
// Peers for network tests: plain POSIX sockets that talk to 127.0.0.1 only.
#include <arpa/inet.h>
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
bool SendDatagram(std::uint16_t port, std::string_view bytes);

// A socket of this process bound to 127.0.0.1 on a port of the system's choice (a listening one
// for SOCK_STREAM), closed with the object; port() is the port it holds.
class Holder {
public:
    explicit Holder(int type);
    ~Holder() { ::close(m_fd); }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;
    std::uint16_t port() const { return m_port; }

private:
    int m_fd = -1;
    std::uint16_t m_port = 0;
};

// A TCP client of 127.0.0.1:port.
class TcpClient {
public:
    explicit TcpClient(std::uint16_t port);
    ~TcpClient() { Close(); }
    TcpClient(const TcpClient&) = delete;
    TcpClient& operator=(const TcpClient&) = delete;

    bool Connected() const { return m_fd >= 0; }
    bool Send(std::string_view bytes);
    // Waits for the other side's close: true when it came with nothing read before it.
    bool ReadsEnd();
    void Close();
    // Closes with a reset instead of an orderly close.
    void Reset();

private:
    int m_fd = -1;
};

// Whether a TCP socket of this machine listens on port (read from /proc/net/tcp, so that asking
// makes no connection).
bool TcpPortListening(std::uint16_t port);
// Whether a TCP connection whose local port is port waits out its time (TIME_WAIT).
bool TcpTimeWaitOnPort(std::uint16_t port);

// Open socket descriptors of this process.
int OpenSocketCount();

} // namespace testsupport
