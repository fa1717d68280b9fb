// The socket service on real loopback sockets. The far side of each connection is a plain POSIX
// socket owned by the test; all traffic goes to 127.0.0.1.
#include "platform/winmsg.h"
#include "platform/winsock.h"

#include "wait.h"

#include <QAbstractEventDispatcher>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr UINT kMsg = 0x8004;
constexpr long kSystemMask = 0x2F; // READ | WRITE | OOB | ACCEPT | CLOSE, as the program asks

// ---- Receiving posted messages -----------------------------------------------------------------

struct Posted {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    WORD event() const { return ws::WSAGETSELECTEVENT(lParam); }
    WORD error() const { return ws::WSAGETSELECTERROR(lParam); }
};

class Receiver : public QObject {
public:
    std::vector<Posted> events;
    std::function<void(const Posted&)> onEvent;

    bool event(QEvent* e) override
    {
        if (e->type() != CWinMsgEvent::eventType())
            return QObject::event(e);
        const auto* m = static_cast<CWinMsgEvent*>(e);
        const Posted p{m->message(), m->wParam(), m->lParam()};
        events.push_back(p);
        if (onEvent)
            onEvent(p);
        return true;
    }

    int count(ws::SOCKET s, long event) const
    {
        int n = 0;
        for (const Posted& p : events)
            n += (p.wParam == s && p.event() == event) ? 1 : 0;
        return n;
    }

    const Posted* first(ws::SOCKET s, long event) const
    {
        for (const Posted& p : events)
            if (p.wParam == s && p.event() == event)
                return &p;
        return nullptr;
    }
};

// Turns the event loop as fast as it goes for ms milliseconds: an observation window in which a
// notifier left enabled would fire over and over.
void spinEventLoop(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// Runs a normal (blocking) event loop for ms milliseconds and returns how many times it went
// back to sleep. An idle loop sleeps a handful of times; a notifier firing in a loop makes it
// thousands.
int idleLoopIterations(int ms)
{
    int iterations = 0;
    auto* dispatcher = QAbstractEventDispatcher::instance();
    const auto c = QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, [&] { ++iterations; });
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    QObject::disconnect(c);
    return iterations;
}

// ---- The far side: plain POSIX sockets ---------------------------------------------------------

struct Fd {
    int fd = -1;
    explicit Fd(int f = -1) : fd(f) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    void reset()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
};

sockaddr_in loopback(unsigned short port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = ::htons(port);
    a.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    return a;
}

int rawTcpConnect(unsigned short port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in a = loopback(port);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

bool rawSendTo(int fd, unsigned short port, const void* data, size_t len)
{
    const sockaddr_in a = loopback(port);
    return ::sendto(fd, data, len, 0, reinterpret_cast<const sockaddr*>(&a), sizeof a) == static_cast<ssize_t>(len);
}

bool rawSend(int fd, const std::string& data)
{
    return ::send(fd, data.data(), data.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(data.size());
}

int openDescriptorCount()
{
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d) != nullptr)
            ++n;
        ::closedir(d);
    }
    return n;
}

// Whether a TCP connection on the given local port sits in TIME_WAIT.
bool timeWaitOnPort(unsigned short port)
{
    std::ifstream in("/proc/net/tcp");
    std::string line;
    std::getline(in, line); // header
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        const auto colon = local.find(':');
        if (colon == std::string::npos)
            continue;
        if (std::stoul(local.substr(colon + 1), nullptr, 16) == port && state == "06")
            return true;
    }
    return false;
}

// ---- This side: the service's sockets ----------------------------------------------------------

struct Handle {
    ws::SOCKET s = ws::INVALID_SOCKET;
    explicit Handle(ws::SOCKET h = ws::INVALID_SOCKET) : s(h) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { reset(); }
    void reset()
    {
        if (s != ws::INVALID_SOCKET)
            ws::closesocket(s);
        s = ws::INVALID_SOCKET;
    }
    operator ws::SOCKET() const { return s; }
};

int bindLoopback(ws::SOCKET s, unsigned short port)
{
    const sockaddr_in a = loopback(port);
    return ws::bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a);
}

class Winsock : public ::testing::Test {
protected:
    void SetUp() override
    {
        ws::WSADATA data;
        ASSERT_EQ(ws::WSAStartup(0x0101, &data), 0);
        m_handlesAtStart = ws::OpenHandleCount();
    }
    void TearDown() override
    {
        // Every test closes what it opened; a socket the service created behind our back leaks.
        EXPECT_EQ(ws::OpenHandleCount(), m_handlesAtStart);
        testsupport::drainEvents();
    }

    // A datagram socket bound to 127.0.0.1 on a port of the system's choice.
    static ws::SOCKET boundUdp()
    {
        const ws::SOCKET s = ws::socket(AF_INET, SOCK_DGRAM, 0);
        EXPECT_NE(s, ws::INVALID_SOCKET);
        EXPECT_EQ(bindLoopback(s, 0), 0);
        return s;
    }

    // A listening stream socket on 127.0.0.1, registered with the receiver when one is given.
    static ws::SOCKET listener(Receiver* r = nullptr, long mask = kSystemMask)
    {
        const ws::SOCKET s = ws::socket(AF_INET, SOCK_STREAM, 0);
        EXPECT_NE(s, ws::INVALID_SOCKET);
        EXPECT_EQ(bindLoopback(s, 0), 0);
        if (r != nullptr) {
            EXPECT_EQ(ws::WSAAsyncSelect(s, r, kMsg, mask), 0);
        }
        EXPECT_EQ(ws::listen(s, 5), 0);
        return s;
    }

    // Connects a client to the registered listener and accepts it once FD_ACCEPT says so.
    static ws::SOCKET acceptOne(Receiver& r, ws::SOCKET lst, Fd& client)
    {
        const int before = r.count(lst, ws::FD_ACCEPT);
        client.fd = rawTcpConnect(ws::GetBoundPort(lst));
        EXPECT_GE(client.fd, 0);
        EXPECT_TRUE(testsupport::waitFor([&] { return r.count(lst, ws::FD_ACCEPT) > before; }));
        const ws::SOCKET s = ws::accept(lst, nullptr, nullptr);
        EXPECT_NE(s, ws::INVALID_SOCKET);
        return s;
    }

private:
    int m_handlesAtStart = 0;
};

// ---- Start-up ----------------------------------------------------------------------------------

TEST(WinsockStartupDeathTest, CallsBeforeStartupFailUntilAStartupSucceeds)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // Runs in a fresh copy of the program, where nothing has started the service yet.
    EXPECT_EXIT(
        {
            int failures = 0;
            auto expect = [&](bool ok) { failures += ok ? 0 : 1; };
            expect(ws::socket(AF_INET, SOCK_DGRAM, 0) == ws::INVALID_SOCKET);
            expect(ws::WSAGetLastError() == ws::WSANOTINITIALISED);
            expect(ws::closesocket(1) == ws::SOCKET_ERROR && ws::WSAGetLastError() == ws::WSANOTINITIALISED);
            char name[64];
            expect(ws::gethostname(name, sizeof name) == ws::SOCKET_ERROR);
            expect(ws::gethostbyname("127.0.0.1") == nullptr && ws::WSAGetLastError() == ws::WSANOTINITIALISED);

            ws::WSADATA data;
            ws::FailNextStartupForTesting(10091);
            expect(ws::WSAStartup(0x0101, &data) == 10091);
            expect(ws::socket(AF_INET, SOCK_DGRAM, 0) == ws::INVALID_SOCKET);
            expect(ws::WSAGetLastError() == ws::WSANOTINITIALISED);

            expect(ws::WSAStartup(0x0101, &data) == 0);
            const ws::SOCKET s = ws::socket(AF_INET, SOCK_DGRAM, 0);
            expect(s != ws::INVALID_SOCKET && ws::closesocket(s) == 0);
            std::exit(failures);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(Winsock, StartupReportsVersionOneOneAndHonoursTheFailureHook)
{
    ws::WSADATA data;
    ws::FailNextStartupForTesting(10050);
    EXPECT_EQ(ws::WSAStartup(0x0101, &data), 10050);
    // The hook fires once only.
    EXPECT_EQ(ws::WSAStartup(0x0101, &data), 0);
    EXPECT_EQ(data.wVersion, 0x0101);
    EXPECT_EQ(data.wHighVersion, 0x0101);
    // A program asking for more gets 1.1 and decides for itself.
    EXPECT_EQ(ws::WSAStartup(0x0202, &data), 0);
    EXPECT_EQ(data.wVersion, 0x0101);
    // Version 1.0 is below what the service offers.
    EXPECT_EQ(ws::WSAStartup(0x0001, &data), 10092);
}

// ---- Handles -----------------------------------------------------------------------------------

TEST_F(Winsock, HandleZeroNeverReachesStandardInput)
{
    // Put a connected socket with one byte waiting on descriptor 0: a service that passed handle 0
    // through would read or close it.
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    Fd other(pair[1]);
    const int savedStdin = ::dup(0);
    ASSERT_GE(savedStdin, 0);
    ASSERT_EQ(::dup2(pair[0], 0), 0);
    ::close(pair[0]);
    ASSERT_EQ(::write(other.fd, "x", 1), 1);

    char buf[8];
    EXPECT_EQ(ws::recv(0, buf, sizeof buf, 0), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAENOTSOCK);
    EXPECT_EQ(ws::accept(0, nullptr, nullptr), ws::INVALID_SOCKET);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAENOTSOCK);
    EXPECT_EQ(ws::closesocket(0), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAENOTSOCK);
    Receiver r;
    EXPECT_EQ(ws::WSAAsyncSelect(0, &r, kMsg, kSystemMask), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAENOTSOCK);
    EXPECT_EQ(ws::listen(0, 5), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAENOTSOCK);

    // Descriptor 0 is still open and its byte still unread.
    const bool stillOpen = ::fcntl(0, F_GETFD) != -1;
    char c = 0;
    const ssize_t n = ::recv(0, &c, 1, MSG_DONTWAIT);
    ::dup2(savedStdin, 0);
    ::close(savedStdin);
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(n, 1);
    EXPECT_EQ(c, 'x');
}

TEST_F(Winsock, HandlesGrowAndAreNeverReused)
{
    const ws::SOCKET a = ws::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_NE(a, ws::INVALID_SOCKET);
    EXPECT_NE(a, 0u);
    ASSERT_EQ(ws::closesocket(a), 0);
    // The descriptor behind a is free again and the system hands it out at once; the handle is not.
    Handle b(ws::socket(AF_INET, SOCK_DGRAM, 0));
    Handle c(ws::socket(AF_INET, SOCK_STREAM, 0));
    EXPECT_GT(b.s, a);
    EXPECT_GT(c.s, b.s);

    char buf[4];
    EXPECT_EQ(ws::recv(a, buf, sizeof buf, 0), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAENOTSOCK);
    EXPECT_EQ(ws::closesocket(a), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAENOTSOCK);
}

TEST_F(Winsock, SocketRejectsWhatItCannotMake)
{
    EXPECT_EQ(ws::socket(AF_INET6, SOCK_STREAM, 0), ws::INVALID_SOCKET);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEAFNOSUPPORT);
    EXPECT_EQ(ws::socket(AF_INET, SOCK_RAW, 0), ws::INVALID_SOCKET);
    EXPECT_EQ(ws::WSAGetLastError(), 10044); // WSAESOCKTNOSUPPORT
    EXPECT_EQ(ws::socket(AF_INET, SOCK_STREAM, IPPROTO_UDP), ws::INVALID_SOCKET);
    EXPECT_EQ(ws::WSAGetLastError(), 10043); // WSAEPROTONOSUPPORT
}

// ---- Binding, listening, wrong kinds -----------------------------------------------------------

TEST_F(Winsock, UdpPortInUseFailsWithAddrInUse)
{
    Handle first(boundUdp());
    const unsigned short port = ws::GetBoundPort(first);
    ASSERT_NE(port, 0);

    // Another of the service's own datagram sockets may not share the port...
    Handle second(ws::socket(AF_INET, SOCK_DGRAM, 0));
    EXPECT_EQ(bindLoopback(second, port), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEADDRINUSE);

    // ...nor with a port another program holds, on any address.
    Fd other(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in any{};
    any.sin_family = AF_INET;
    ASSERT_EQ(::bind(other.fd, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    socklen_t len = sizeof any;
    ASSERT_EQ(::getsockname(other.fd, reinterpret_cast<sockaddr*>(&any), &len), 0);
    Handle third(ws::socket(AF_INET, SOCK_DGRAM, 0));
    EXPECT_EQ(bindLoopback(third, ntohs(any.sin_port)), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEADDRINUSE);
}

TEST_F(Winsock, TcpListenerPortInUseFailsWithAddrInUse)
{
    Handle lst(listener());
    const unsigned short port = ws::GetBoundPort(lst);
    ASSERT_NE(port, 0);
    Handle second(ws::socket(AF_INET, SOCK_STREAM, 0));
    EXPECT_EQ(bindLoopback(second, port), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEADDRINUSE);
}

TEST_F(Winsock, TcpPortBindsAgainRightAfterASession)
{
    Receiver r;
    Handle lst(listener(&r));
    const unsigned short port = ws::GetBoundPort(lst);
    Fd client;
    Handle conn(acceptOne(r, lst, client));

    // This side closes first, so the connection's leftover sits on the listening port.
    conn.reset();
    char c;
    ASSERT_EQ(::recv(client.fd, &c, 1, 0), 0);
    client.reset();
    lst.reset();
    ASSERT_TRUE(testsupport::waitFor([&] { return timeWaitOnPort(port); }));

    Handle again(ws::socket(AF_INET, SOCK_STREAM, 0));
    EXPECT_EQ(bindLoopback(again, port), 0) << "error " << ws::WSAGetLastError();
    EXPECT_EQ(ws::listen(again, 5), 0);
    EXPECT_EQ(ws::GetBoundPort(again), port);
}

TEST_F(Winsock, CloseAfterAFailedStepKeepsThatStepsError)
{
    Handle holder(boundUdp());
    const ws::SOCKET s = ws::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_EQ(bindLoopback(s, ws::GetBoundPort(holder)), ws::SOCKET_ERROR);
    ASSERT_EQ(ws::WSAGetLastError(), ws::WSAEADDRINUSE);
    EXPECT_EQ(ws::closesocket(s), 0);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEADDRINUSE);

    // Text that is not an address gives the all-ones address, which cannot be bound.
    const ws::SOCKET t = ws::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback(0);
    a.sin_addr.s_addr = static_cast<in_addr_t>(ws::inet_addr("1.2.3.999"));
    ASSERT_EQ(ws::bind(t, reinterpret_cast<const sockaddr*>(&a), sizeof a), ws::SOCKET_ERROR);
    ASSERT_EQ(ws::WSAGetLastError(), ws::WSAEADDRNOTAVAIL);
    EXPECT_EQ(ws::closesocket(t), 0);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEADDRNOTAVAIL);

    // Nor is a multicast group an address of this machine.
    Handle u(ws::socket(AF_INET, SOCK_DGRAM, 0));
    a.sin_addr.s_addr = static_cast<in_addr_t>(ws::inet_addr("224.0.0.1"));
    EXPECT_EQ(ws::bind(u, reinterpret_cast<const sockaddr*>(&a), sizeof a), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEADDRNOTAVAIL);
}

TEST_F(Winsock, CallsOnTheWrongKindOfSocketFail)
{
    Handle udp(boundUdp());
    EXPECT_EQ(ws::listen(udp, 5), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEOPNOTSUPP);
    EXPECT_EQ(ws::accept(udp, nullptr, nullptr), ws::INVALID_SOCKET);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEOPNOTSUPP);

    Handle unbound(ws::socket(AF_INET, SOCK_STREAM, 0));
    EXPECT_EQ(ws::listen(unbound, 5), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEINVAL);
    EXPECT_EQ(ws::accept(unbound, nullptr, nullptr), ws::INVALID_SOCKET);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEINVAL);

    Handle lst(listener());
    char buf[4];
    EXPECT_EQ(ws::recv(lst, buf, sizeof buf, 0), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAENOTCONN);

    sockaddr_in6 six{};
    six.sin6_family = AF_INET6;
    EXPECT_EQ(ws::bind(unbound, reinterpret_cast<const sockaddr*>(&six), sizeof six), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEAFNOSUPPORT);
    EXPECT_EQ(ws::bind(unbound, nullptr, 0), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEFAULT);
}

// ---- Options -----------------------------------------------------------------------------------

TEST_F(Winsock, OptionsWithoutAValueFailWithFault)
{
    Handle s(ws::socket(AF_INET, SOCK_STREAM, 0));
    for (const int opt : {ws::WS_SO_LINGER, ws::WS_SO_REUSEADDR, ws::WS_SO_KEEPALIVE, ws::WS_SO_OOBINLINE}) {
        ws::WSASetLastError(0);
        EXPECT_EQ(ws::setsockopt(s, ws::WS_SOL_SOCKET, opt, nullptr, 0), ws::SOCKET_ERROR) << opt;
        EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEFAULT) << opt;
    }
    const int on = 1;
    EXPECT_EQ(ws::setsockopt(s, ws::WS_SOL_SOCKET, 0x7777, reinterpret_cast<const char*>(&on), sizeof on),
              ws::SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), 10042); // WSAENOPROTOOPT
    EXPECT_EQ(ws::setsockopt(s, 1234, ws::WS_SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on),
              ws::SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEINVAL);
    EXPECT_EQ(ws::setsockopt(s, ws::WS_SOL_SOCKET, ws::WS_SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on), 0);
}

TEST_F(Winsock, ReuseAddressOptionTakesEffect)
{
    // Asked for explicitly, address reuse lets two datagram sockets share a port.
    const int on = 1;
    Handle a(ws::socket(AF_INET, SOCK_DGRAM, 0));
    Handle b(ws::socket(AF_INET, SOCK_DGRAM, 0));
    ASSERT_EQ(ws::setsockopt(a, ws::WS_SOL_SOCKET, ws::WS_SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on), 0);
    ASSERT_EQ(ws::setsockopt(b, ws::WS_SOL_SOCKET, ws::WS_SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on), 0);
    ASSERT_EQ(bindLoopback(a, 0), 0);
    EXPECT_EQ(bindLoopback(b, ws::GetBoundPort(a)), 0) << "error " << ws::WSAGetLastError();
}

TEST_F(Winsock, LingerZeroResetsThePeerOnClose)
{
    Receiver r;
    Handle lst(listener(&r));
    Fd client;
    Handle conn(acceptOne(r, lst, client));
    // Winsock's linger record: two 16-bit fields, on and seconds.
    const std::uint16_t lingerOnZero[2] = {1, 0};
    ASSERT_EQ(ws::setsockopt(conn, ws::WS_SOL_SOCKET, ws::WS_SO_LINGER,
                             reinterpret_cast<const char*>(lingerOnZero), sizeof lingerOnZero), 0);
    conn.reset();
    char c;
    errno = 0;
    EXPECT_EQ(::recv(client.fd, &c, 1, 0), -1);
    EXPECT_EQ(errno, ECONNRESET);
}

// ---- Event delivery ----------------------------------------------------------------------------

TEST_F(Winsock, AsyncSelectRejectsUnknownSocketsAndMissingWindows)
{
    Receiver r;
    EXPECT_EQ(ws::WSAAsyncSelect(987654321u, &r, kMsg, kSystemMask), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAENOTSOCK);
    Handle s(boundUdp());
    EXPECT_EQ(ws::WSAAsyncSelect(s, nullptr, kMsg, kSystemMask), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEINVAL);
}

TEST_F(Winsock, RegisteredSocketsDoNotBlock)
{
    Receiver r;
    Handle udp(boundUdp());
    ASSERT_EQ(ws::WSAAsyncSelect(udp, &r, kMsg, kSystemMask), 0);
    char buf[16];
    EXPECT_EQ(ws::recv(udp, buf, sizeof buf, 0), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEWOULDBLOCK);

    Handle lst(listener(&r));
    EXPECT_EQ(ws::accept(lst, nullptr, nullptr), ws::INVALID_SOCKET);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEWOULDBLOCK);

    // An accepted socket is registered, hence non-blocking, too.
    Fd client;
    Handle conn(acceptOne(r, lst, client));
    EXPECT_EQ(ws::recv(conn, buf, sizeof buf, 0), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEWOULDBLOCK);
}

TEST_F(Winsock, OneFdReadPerRecvHoweverOftenTheLoopTurns)
{
    Receiver r;
    Handle udp(boundUdp());
    ASSERT_EQ(ws::WSAAsyncSelect(udp, &r, kMsg, ws::FD_READ), 0);
    Fd sender(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const unsigned short port = ws::GetBoundPort(udp);
    ASSERT_TRUE(rawSendTo(sender.fd, port, "one", 3));
    ASSERT_TRUE(rawSendTo(sender.fd, port, "two", 3));

    ASSERT_TRUE(testsupport::waitFor([&] { return r.count(udp, ws::FD_READ) == 1; }));
    spinEventLoop(300);
    EXPECT_EQ(r.count(udp, ws::FD_READ), 1);
    const Posted& p = *r.first(udp, ws::FD_READ);
    EXPECT_EQ(p.message, kMsg);
    EXPECT_EQ(p.error(), 0);

    // Each recv re-enables; a datagram left behind raises the next FD_READ.
    char buf[16] = {};
    ASSERT_EQ(ws::recv(udp, buf, sizeof buf, 0), 3);
    EXPECT_EQ(std::string(buf, 3), "one");
    ASSERT_TRUE(testsupport::waitFor([&] { return r.count(udp, ws::FD_READ) == 2; }));
    ASSERT_EQ(ws::recv(udp, buf, sizeof buf, 0), 3);
    EXPECT_EQ(std::string(buf, 3), "two");
    spinEventLoop(300);
    EXPECT_EQ(r.count(udp, ws::FD_READ), 2);
}

TEST_F(Winsock, DataLeftAfterAPartialRecvRaisesTheNextFdRead)
{
    Receiver r;
    Handle lst(listener(&r));
    Fd client;
    Handle conn(acceptOne(r, lst, client));
    ASSERT_TRUE(rawSend(client.fd, std::string(100, 'a')));

    ASSERT_TRUE(testsupport::waitFor([&] { return r.count(conn, ws::FD_READ) == 1; }));
    char buf[100];
    ASSERT_EQ(ws::recv(conn, buf, 50, 0), 50);
    ASSERT_TRUE(testsupport::waitFor([&] { return r.count(conn, ws::FD_READ) == 2; }));
    ASSERT_EQ(ws::recv(conn, buf, 100, 0), 50);
    spinEventLoop(200);
    EXPECT_EQ(r.count(conn, ws::FD_READ), 2);

    // A failing recv re-enables as well: data that arrives while FD_READ is held is announced
    // after it.
    ASSERT_TRUE(rawSend(client.fd, "more"));
    ASSERT_TRUE(testsupport::waitFor([&] { return r.count(conn, ws::FD_READ) == 3; }));
    EXPECT_EQ(ws::recv(conn, nullptr, 10, 0), ws::SOCKET_ERROR);
    ASSERT_TRUE(testsupport::waitFor([&] { return r.count(conn, ws::FD_READ) == 4; }));
    EXPECT_EQ(ws::recv(conn, buf, sizeof buf, 0), 4);
}

TEST_F(Winsock, DataWaitingAtRegistrationRaisesFdRead)
{
    Receiver r;
    Handle udp(boundUdp());
    Fd sender(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ASSERT_TRUE(rawSendTo(sender.fd, ws::GetBoundPort(udp), "early", 5));
    testsupport::drainEvents();
    ASSERT_EQ(ws::WSAAsyncSelect(udp, &r, kMsg, kSystemMask), 0);
    EXPECT_TRUE(testsupport::waitFor([&] { return r.count(udp, ws::FD_READ) == 1; }));

    // A mask of 0 cancels: nothing more is posted. A new registration signals again what is true.
    ASSERT_EQ(ws::WSAAsyncSelect(udp, &r, kMsg, 0), 0);
    ASSERT_TRUE(rawSendTo(sender.fd, ws::GetBoundPort(udp), "late", 4));
    char buf[8];
    ASSERT_EQ(ws::recv(udp, buf, sizeof buf, 0), 5);
    spinEventLoop(200);
    EXPECT_EQ(r.count(udp, ws::FD_READ), 1);
    ASSERT_EQ(ws::WSAAsyncSelect(udp, &r, kMsg + 1, ws::FD_READ), 0);
    ASSERT_TRUE(testsupport::waitFor([&] { return r.count(udp, ws::FD_READ) == 2; }));
    EXPECT_EQ(r.events.back().message, kMsg + 1);
}

TEST_F(Winsock, PeerCloseGivesOneFdCloseAfterTheDataIsRead)
{
    Receiver r;
    Handle lst(listener(&r));
    Fd client;
    Handle conn(acceptOne(r, lst, client));
    ASSERT_TRUE(rawSend(client.fd, "hello"));
    client.reset();

    // The data comes first; the close is held back until it has been read.
    ASSERT_TRUE(testsupport::waitFor([&] { return r.count(conn, ws::FD_READ) == 1; }));
    spinEventLoop(200);
    EXPECT_EQ(r.count(conn, ws::FD_CLOSE), 0);

    char buf[16];
    ASSERT_EQ(ws::recv(conn, buf, sizeof buf, 0), 5);
    ASSERT_TRUE(testsupport::waitFor([&] { return r.count(conn, ws::FD_CLOSE) == 1; }));
    EXPECT_EQ(r.first(conn, ws::FD_CLOSE)->error(), 0);
    EXPECT_EQ(ws::recv(conn, buf, sizeof buf, 0), 0);
    spinEventLoop(300);
    EXPECT_EQ(r.count(conn, ws::FD_CLOSE), 1);
    EXPECT_EQ(r.count(conn, ws::FD_READ), 1);
}

TEST_F(Winsock, PeerResetGivesFdCloseWithConnReset)
{
    Receiver r;
    Handle lst(listener(&r));
    Fd client;
    Handle conn(acceptOne(r, lst, client));
    const linger abortive{1, 0};
    ASSERT_EQ(::setsockopt(client.fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive), 0);
    client.reset();

    ASSERT_TRUE(testsupport::waitFor([&] { return r.count(conn, ws::FD_CLOSE) == 1; }));
    EXPECT_EQ(r.first(conn, ws::FD_CLOSE)->error(), ws::WSAECONNRESET);
    spinEventLoop(200);
    EXPECT_EQ(r.count(conn, ws::FD_CLOSE), 1);
    EXPECT_EQ(r.count(conn, ws::FD_READ), 0);
}

TEST_F(Winsock, FdAcceptAndAcceptedSocketsInheritTheSelection)
{
    Receiver r;
    Handle lst(listener(&r));
    const unsigned short port = ws::GetBoundPort(lst);
    Fd c1(rawTcpConnect(port));
    Fd c2(rawTcpConnect(port));
    ASSERT_GE(c1.fd, 0);
    ASSERT_GE(c2.fd, 0);

    // Two connections wait, but FD_ACCEPT is held until accept.
    ASSERT_TRUE(testsupport::waitFor([&] { return r.count(lst, ws::FD_ACCEPT) == 1; }));
    spinEventLoop(200);
    EXPECT_EQ(r.count(lst, ws::FD_ACCEPT), 1);

    sockaddr_in peer{};
    int peerLen = sizeof peer;
    Handle a1(ws::accept(lst, reinterpret_cast<sockaddr*>(&peer), &peerLen));
    ASSERT_NE(a1.s, ws::INVALID_SOCKET);
    EXPECT_EQ(peerLen, static_cast<int>(sizeof peer));
    EXPECT_EQ(peer.sin_addr.s_addr, ::htonl(INADDR_LOOPBACK));
    // The second is still pending, so accept leads to the next FD_ACCEPT.
    ASSERT_TRUE(testsupport::waitFor([&] { return r.count(lst, ws::FD_ACCEPT) == 2; }));
    Handle a2(ws::accept(lst, nullptr, nullptr));
    ASSERT_NE(a2.s, ws::INVALID_SOCKET);
    spinEventLoop(200);
    EXPECT_EQ(r.count(lst, ws::FD_ACCEPT), 2);

    // Each accepted socket reports to the same window and message under its own handle.
    ASSERT_TRUE(rawSend(c2.fd, "second"));
    ASSERT_TRUE(testsupport::waitFor([&] { return r.count(a2, ws::FD_READ) == 1; }));
    EXPECT_EQ(r.count(a1, ws::FD_READ), 0);
    EXPECT_EQ(r.first(a2, ws::FD_READ)->message, kMsg);
    char buf[16];
    EXPECT_EQ(ws::recv(a2, buf, sizeof buf, 0), 6);

    // FD_WRITE was in the selection: once per accepted socket, never for the listener.
    ASSERT_TRUE(testsupport::waitFor([&] { return r.count(a1, ws::FD_WRITE) == 1 && r.count(a2, ws::FD_WRITE) == 1; }));
    spinEventLoop(200);
    EXPECT_EQ(r.count(a1, ws::FD_WRITE), 1);
    EXPECT_EQ(r.count(a2, ws::FD_WRITE), 1);
    EXPECT_EQ(r.count(lst, ws::FD_WRITE), 0);
}

TEST_F(Winsock, ZeroLengthDatagramIsDataNotAClose)
{
    Receiver r;
    Handle udp(boundUdp());
    ASSERT_EQ(ws::WSAAsyncSelect(udp, &r, kMsg, kSystemMask), 0);
    Fd sender(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ASSERT_TRUE(rawSendTo(sender.fd, ws::GetBoundPort(udp), "", 0));

    ASSERT_TRUE(testsupport::waitFor([&] { return r.count(udp, ws::FD_READ) == 1; }));
    char buf[8];
    EXPECT_EQ(ws::recv(udp, buf, sizeof buf, 0), 0);
    spinEventLoop(200);
    EXPECT_EQ(r.count(udp, ws::FD_CLOSE), 0);
    EXPECT_EQ(r.count(udp, ws::FD_READ), 1);

    // The socket still works after it.
    ASSERT_TRUE(rawSendTo(sender.fd, ws::GetBoundPort(udp), "after", 5));
    ASSERT_TRUE(testsupport::waitFor([&] { return r.count(udp, ws::FD_READ) == 2; }));
    EXPECT_EQ(ws::recv(udp, buf, sizeof buf, 0), 5);
}

TEST_F(Winsock, LargeDatagramsArriveWhole)
{
    Receiver r;
    Handle udp(boundUdp());
    ASSERT_EQ(ws::WSAAsyncSelect(udp, &r, kMsg, ws::FD_READ), 0);
    Fd sender(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const int big = 4 * 1024 * 1024;
    ::setsockopt(sender.fd, SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
    const unsigned short port = ws::GetBoundPort(udp);

    std::vector<char> buf(65536);
    int reads = 0;
    for (const size_t size : {size_t{9000}, size_t{65507}}) {
        std::string payload(size, '\0');
        for (size_t i = 0; i < size; ++i)
            payload[i] = static_cast<char>('A' + (i * 7 + size) % 26);
        ASSERT_TRUE(rawSendTo(sender.fd, port, payload.data(), payload.size())) << size;
        ++reads;
        ASSERT_TRUE(testsupport::waitFor([&] { return r.count(udp, ws::FD_READ) == reads; }));
        const int n = ws::recv(udp, buf.data(), static_cast<int>(buf.size()), 0);
        ASSERT_EQ(n, static_cast<int>(size));
        EXPECT_EQ(std::memcmp(buf.data(), payload.data(), size), 0) << size;
    }

    // Too small a buffer: the first part, and WSAEMSGSIZE for the rest that is lost.
    std::string payload(2000, 'x');
    payload.replace(0, 4, "head");
    ASSERT_TRUE(rawSendTo(sender.fd, port, payload.data(), payload.size()));
    ASSERT_TRUE(rawSendTo(sender.fd, port, "next", 4));
    ASSERT_TRUE(testsupport::waitFor([&] { return r.count(udp, ws::FD_READ) == reads + 1; }));
    char small[1024];
    EXPECT_EQ(ws::recv(udp, small, sizeof small, 0), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEMSGSIZE);
    EXPECT_EQ(std::string(small, 4), "head");
    EXPECT_EQ(ws::recv(udp, small, sizeof small, 0), 4);
    EXPECT_EQ(std::string(small, 4), "next");
}

TEST_F(Winsock, IdleSocketsPostNothingAndLeaveTheLoopAsleep)
{
    Receiver r;
    // A datagram socket that has seen and read a datagram.
    Handle udp(boundUdp());
    ASSERT_EQ(ws::WSAAsyncSelect(udp, &r, kMsg, kSystemMask), 0);
    Fd sender(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ASSERT_TRUE(rawSendTo(sender.fd, ws::GetBoundPort(udp), "x", 1));
    ASSERT_TRUE(testsupport::waitFor([&] { return r.count(udp, ws::FD_READ) == 1; }));
    char buf[8];
    ASSERT_EQ(ws::recv(udp, buf, sizeof buf, 0), 1);
    // A listener, a connection that was read to the end, and one whose peer has closed.
    Handle lst(listener(&r));
    Fd client1, client2;
    Handle open(acceptOne(r, lst, client1));
    Handle closed(acceptOne(r, lst, client2));
    client2.reset();
    ASSERT_TRUE(testsupport::waitFor([&] { return r.count(closed, ws::FD_CLOSE) == 1; }));
    // Registered stream sockets that are neither listening nor connected: such a socket polls as
    // hung up, so watching it would spin.
    Handle boundOnly(ws::socket(AF_INET, SOCK_STREAM, 0));
    ASSERT_EQ(bindLoopback(boundOnly, 0), 0);
    ASSERT_EQ(ws::WSAAsyncSelect(boundOnly, &r, kMsg, kSystemMask), 0);
    Handle fresh(ws::socket(AF_INET, SOCK_STREAM, 0));
    ASSERT_EQ(ws::WSAAsyncSelect(fresh, &r, kMsg, kSystemMask), 0);
    Handle freshUdp(ws::socket(AF_INET, SOCK_DGRAM, 0));
    ASSERT_EQ(ws::WSAAsyncSelect(freshUdp, &r, kMsg, kSystemMask), 0);
    // Events signalled but not yet taken up: a datagram nobody has read, a connection nobody has
    // accepted. Their notifiers must rest until recv or accept.
    Handle unread(boundUdp());
    ASSERT_EQ(ws::WSAAsyncSelect(unread, &r, kMsg, kSystemMask), 0);
    ASSERT_TRUE(rawSendTo(sender.fd, ws::GetBoundPort(unread), "waiting", 7));
    ASSERT_TRUE(testsupport::waitFor([&] { return r.count(unread, ws::FD_READ) == 1; }));
    Handle pending(listener(&r));
    Fd pendingClient(rawTcpConnect(ws::GetBoundPort(pending)));
    ASSERT_TRUE(testsupport::waitFor([&] { return r.count(pending, ws::FD_ACCEPT) == 1; }));
    // Let the one-off FD_WRITEs come in before watching.
    ASSERT_TRUE(testsupport::waitFor([&] {
        return r.count(udp, ws::FD_WRITE) == 1 && r.count(open, ws::FD_WRITE) == 1;
    }));
    testsupport::drainEvents();

    const size_t before = r.events.size();
    const int iterations = idleLoopIterations(500);
    EXPECT_EQ(r.events.size(), before);
    for (size_t i = before; i < r.events.size(); ++i)
        ADD_FAILURE() << "posted event " << r.events[i].event() << " for handle " << r.events[i].wParam;
    EXPECT_LT(iterations, 50);
    // Sockets with nothing to watch never said anything, before the window or in it.
    for (const ws::SOCKET quiet : {boundOnly.s, fresh.s, freshUdp.s})
        for (const Posted& p : r.events)
            EXPECT_NE(p.wParam, quiet) << "event " << p.event() << " error " << p.error();
}

TEST_F(Winsock, QueuedEventsForAClosedHandleStillArrive)
{
    Receiver r;
    Handle a(boundUdp());
    Handle b(boundUdp());
    ASSERT_EQ(ws::WSAAsyncSelect(a, &r, kMsg, ws::FD_READ), 0);
    ASSERT_EQ(ws::WSAAsyncSelect(b, &r, kMsg, ws::FD_READ), 0);
    testsupport::drainEvents();

    // Both datagrams are queued before the loop turns, so both FD_READs are posted in the same
    // turn. Whichever arrives first closes the other socket while the other's message waits.
    ws::SOCKET closedHandle = ws::INVALID_SOCKET;
    int closeResult = 1;
    r.onEvent = [&](const Posted& p) {
        if (closedHandle != ws::INVALID_SOCKET)
            return;
        Handle& other = p.wParam == a.s ? b : a;
        closedHandle = other.s;
        closeResult = ws::closesocket(other.s);
        other.s = ws::INVALID_SOCKET;
    };
    Fd sender(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ASSERT_TRUE(rawSendTo(sender.fd, ws::GetBoundPort(a), "a", 1));
    ASSERT_TRUE(rawSendTo(sender.fd, ws::GetBoundPort(b), "b", 1));

    ASSERT_TRUE(testsupport::waitFor([&] { return r.events.size() == 2; }));
    EXPECT_EQ(closeResult, 0);
    EXPECT_EQ(r.count(closedHandle, ws::FD_READ), 1);
    char buf[4];
    EXPECT_EQ(ws::recv(closedHandle, buf, sizeof buf, 0), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAENOTSOCK);
    r.onEvent = nullptr;
}

TEST_F(Winsock, DestroyedWindowIsNotPostedTo)
{
    Handle udp(boundUdp());
    auto gone = std::make_unique<Receiver>();
    ASSERT_EQ(ws::WSAAsyncSelect(udp, gone.get(), kMsg, ws::FD_READ), 0);
    gone.reset();
    Fd sender(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ASSERT_TRUE(rawSendTo(sender.fd, ws::GetBoundPort(udp), "x", 1));
    spinEventLoop(200);

    // The socket itself is fine: a new window hears about the waiting datagram.
    Receiver r;
    ASSERT_EQ(ws::WSAAsyncSelect(udp, &r, kMsg, ws::FD_READ), 0);
    ASSERT_TRUE(testsupport::waitFor([&] { return r.count(udp, ws::FD_READ) == 1; }));
    char buf[4];
    EXPECT_EQ(ws::recv(udp, buf, sizeof buf, 0), 1);
}

TEST_F(Winsock, AThousandAcceptCloseCyclesLeaveNothingOpen)
{
    Receiver r;
    Handle lst(listener(&r));
    testsupport::drainEvents();
    const int handles = ws::OpenHandleCount();
    const int descriptors = openDescriptorCount();

    const QDeadlineTimer deadline(60000);
    int cycles = 0;
    for (; cycles < 1000 && !deadline.hasExpired(); ++cycles) {
        Fd client;
        const ws::SOCKET s = acceptOne(r, lst, client);
        if (s == ws::INVALID_SOCKET)
            break;
        client.reset();
        ASSERT_EQ(ws::closesocket(s), 0);
        if (HasFailure())
            break;
    }
    EXPECT_EQ(cycles, 1000);
    testsupport::drainEvents();
    EXPECT_EQ(ws::OpenHandleCount(), handles);
    EXPECT_EQ(openDescriptorCount(), descriptors);
}

// ---- Names and addresses -----------------------------------------------------------------------

unsigned long dotted(unsigned a, unsigned b, unsigned c, unsigned d)
{
    const unsigned char bytes[4] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                                    static_cast<unsigned char>(c), static_cast<unsigned char>(d)};
    std::uint32_t v;
    std::memcpy(&v, bytes, 4);
    return v;
}

TEST(WinsockAddresses, InetAddrReadsDottedText)
{
    constexpr unsigned long none = 0xFFFFFFFFul;
    EXPECT_EQ(ws::inet_addr("127.0.0.1"), dotted(127, 0, 0, 1));
    EXPECT_EQ(ws::inet_addr("203.0.113.200"), dotted(203, 0, 113, 200));
    EXPECT_EQ(ws::inet_addr("0.0.0.0"), 0ul);
    EXPECT_EQ(ws::inet_addr("127.1.2.3 and more"), dotted(127, 1, 2, 3));
    // The shorter forms and other bases of the classic parser.
    EXPECT_EQ(ws::inet_addr("127.1"), dotted(127, 0, 0, 1));
    EXPECT_EQ(ws::inet_addr("127.1.258"), dotted(127, 1, 1, 2));
    EXPECT_EQ(ws::inet_addr("0x7f.0.0.010"), dotted(127, 0, 0, 8));
    EXPECT_EQ(ws::inet_addr("3232235777"), dotted(192, 168, 1, 1));

    for (const char* bad : {"", "256.1.1.1", "1.2.3.4.5", "1.2.3.", "1..2.3", "abc", "1.2.3.4x", "08.1.1.1",
                            "0x.1.1.1", "-1.2.3.4", "1.2.3.-4", "4294967296"})
        EXPECT_EQ(ws::inet_addr(bad), none) << '"' << bad << '"';
    EXPECT_EQ(ws::inet_addr(nullptr), none);
    EXPECT_EQ(ws::inet_addr(" "), 0ul);

    // The C library's parser reads the same grammar; they agree on ordinary text.
    for (const char* text : {"1.2.3.4", "255.255.255.254", "9.80.0.17", "0177.0.0.1", "0xC0.0xA8.1.1", "1.2.3",
                             "300.1.1.1", "1.2.3.4.", "1.2.3.256", "12.34.56.78 "})
        EXPECT_EQ(ws::inet_addr(text), static_cast<unsigned long>(::inet_addr(text))) << text;
}

TEST(WinsockAddresses, InetNtoaAndHtons)
{
    in_addr a{};
    a.s_addr = static_cast<in_addr_t>(dotted(127, 0, 200, 255));
    EXPECT_STREQ(ws::inet_ntoa(a), "127.0.200.255");
    a.s_addr = static_cast<in_addr_t>(ws::inet_addr("203.0.113.4"));
    EXPECT_STREQ(ws::inet_ntoa(a), "203.0.113.4");

    const unsigned short n = ws::htons(0x1234);
    unsigned char bytes[2];
    std::memcpy(bytes, &n, 2);
    EXPECT_EQ(bytes[0], 0x12);
    EXPECT_EQ(bytes[1], 0x34);
}

class WinsockNames : public Winsock {
protected:
    void TearDown() override
    {
        ws::SetResolverForTesting(nullptr);
        ws::SetHostNameForTesting(nullptr);
        ws::SetInterfacesForTesting(nullptr);
        Winsock::TearDown();
    }
};

TEST_F(WinsockNames, GethostbynameAnswersFromTheResolver)
{
    std::vector<std::string> asked;
    ws::SetHostNameForTesting([] { return std::string("workbench"); });
    ws::SetResolverForTesting([&](const std::string& name, ws::ResolvedHost& out) {
        asked.push_back(name);
        if (name == "workbench") {
            out.name = "workbench.lan";
            out.addresses = {static_cast<std::uint32_t>(dotted(192, 0, 2, 20)),
                             static_cast<std::uint32_t>(dotted(198, 51, 100, 5))};
            return true;
        }
        if (name == "empty")
            return true;
        return false;
    });

    const ws::hostent* h = ws::gethostbyname("workbench");
    ASSERT_NE(h, nullptr);
    EXPECT_STREQ(h->h_name, "workbench.lan");
    EXPECT_EQ(h->h_addrtype, AF_INET);
    EXPECT_EQ(h->h_length, 4);
    ASSERT_NE(h->h_addr_list[0], nullptr);
    ASSERT_NE(h->h_addr_list[1], nullptr);
    EXPECT_EQ(h->h_addr_list[2], nullptr);
    EXPECT_STREQ(ws::inet_ntoa(*reinterpret_cast<const in_addr*>(h->h_addr_list[0])), "192.0.2.20");
    EXPECT_STREQ(ws::inet_ntoa(*reinterpret_cast<const in_addr*>(h->h_addr_list[1])), "198.51.100.5");
    ASSERT_NE(h->h_aliases, nullptr);
    EXPECT_EQ(h->h_aliases[0], nullptr);

    // No name means this machine's name.
    ASSERT_NE(ws::gethostbyname(""), nullptr);
    EXPECT_EQ(asked.back(), "workbench");

    EXPECT_EQ(ws::gethostbyname("nowhere"), nullptr);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAHOST_NOT_FOUND);
    EXPECT_EQ(ws::gethostbyname("empty"), nullptr);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSANO_DATA);
}

TEST_F(WinsockNames, GethostbynameResolvesNumericTextWithoutAResolverHook)
{
    const ws::hostent* h = ws::gethostbyname("127.0.0.1");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->h_addrtype, AF_INET);
    EXPECT_EQ(h->h_length, 4);
    ASSERT_NE(h->h_addr_list[0], nullptr);
    EXPECT_STREQ(ws::inet_ntoa(*reinterpret_cast<const in_addr*>(h->h_addr_list[0])), "127.0.0.1");
    EXPECT_EQ(h->h_addr_list[1], nullptr);
}

TEST_F(WinsockNames, GethostnameCopiesTheNameOrFailsWhenItDoesNotFit)
{
    char system[256] = {};
    ASSERT_EQ(::gethostname(system, sizeof system - 1), 0);
    char buf[256];
    ASSERT_EQ(ws::gethostname(buf, sizeof buf), 0);
    EXPECT_STREQ(buf, system);

    ws::SetHostNameForTesting([] { return std::string("sumpwell-box"); });
    ASSERT_EQ(ws::gethostname(buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "sumpwell-box");
    EXPECT_EQ(ws::gethostname(buf, 12), ws::SOCKET_ERROR); // no room for the terminator
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEFAULT);
    EXPECT_EQ(ws::gethostname(buf, 13), 0);
}

TEST_F(WinsockNames, InterfaceListIncludesLoopbackOrTheHooksList)
{
    const auto system = ws::GetInterfaceAddresses();
    bool sawLoopback = false;
    for (const auto& i : system)
        if (i.address == static_cast<std::uint32_t>(dotted(127, 0, 0, 1)))
            sawLoopback = i.loopback && i.up;
    EXPECT_TRUE(sawLoopback);

    ws::SetInterfacesForTesting([] {
        return std::vector<ws::InterfaceAddress>{{static_cast<std::uint32_t>(dotted(10, 9, 8, 7)), true, false}};
    });
    const auto hooked = ws::GetInterfaceAddresses();
    ASSERT_EQ(hooked.size(), 1u);
    EXPECT_EQ(hooked[0].address, static_cast<std::uint32_t>(dotted(10, 9, 8, 7)));
}

TEST_F(Winsock, BoundPortIsTheOneTheSystemChose)
{
    Receiver r;
    Handle udp(boundUdp());
    const unsigned short port = ws::GetBoundPort(udp);
    ASSERT_NE(port, 0);
    ASSERT_EQ(ws::WSAAsyncSelect(udp, &r, kMsg, ws::FD_READ), 0);
    Fd sender(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ASSERT_TRUE(rawSendTo(sender.fd, port, "p", 1));
    EXPECT_TRUE(testsupport::waitFor([&] { return r.count(udp, ws::FD_READ) == 1; }));
    EXPECT_EQ(ws::GetBoundPort(0), 0);
}

} // namespace
