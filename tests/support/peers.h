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

// A socket of this process bound to 127.0.0.1 on a port of the system's choice; a stream one
// listens. It stands for another program that holds the port.
struct Holder {
    explicit Holder(int type);
    ~Holder() { ::close(fd); }
    int fd = -1;
    std::uint16_t port = 0;
};

// A TCP client of 127.0.0.1:port.
class TcpClient {
public:
    explicit TcpClient(std::uint16_t port);
    ~TcpClient() { Close(); }
    bool Connected() const { return m_fd >= 0; }
    bool Send(std::string_view bytes);
    bool ReadsEnd();   // waits for the other side's close; true when nothing came before it
    void Close();
    void Reset();      // closes with a reset instead of an orderly close

private:
    int m_fd = -1;
};

// Whether a TCP socket of this machine on local port `port` is in `state` as /proc/net/tcp names
// it ("0A" listening, "06" waiting out its time), asked without making any connection.
bool TcpState(std::uint16_t port, const char* state);

// Open socket descriptors of this process.
int OpenSocketCount();

} // namespace testsupport
