// SPDX-License-Identifier: GPL-3.0-or-later
// The socket service on real loopback sockets: handles, binding, and the event machine that posts
// FD_* messages. The far side of each connection is a plain POSIX socket owned by the test.
#include "platform/winmsg.h"
#include "platform/winsock.h"

#include "peers.h"
#include "wait.h"

#include <QAbstractEventDispatcher>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <string>
#include <vector>

#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>

using testsupport::SendDatagram;
using testsupport::TcpClient;
using testsupport::waitFor;

namespace {

constexpr UINT kMsg = 0x8004;
constexpr long kAll = ws::FD_READ | ws::FD_WRITE | ws::FD_OOB | ws::FD_ACCEPT | ws::FD_CLOSE;   // as the program asks

struct Posted { UINT message; WPARAM socket; WORD event, error; };

class Receiver : public QObject {
public:
    std::vector<Posted> events;
    bool event(QEvent* e) override
    {
        Posted p{};
        LPARAM lParam = 0;
        if (!GetPostedMessage(e, &p.message, &p.socket, &lParam))
            return QObject::event(e);
        p.event = ws::WSAGETSELECTEVENT(lParam);
        p.error = ws::WSAGETSELECTERROR(lParam);
        events.push_back(p);
        return true;
    }
    int count(ws::SOCKET s, long event) const
    {
        return int(std::count_if(events.begin(), events.end(), [&](auto& p) { return p.socket == s && p.event == event; }));
    }
    const Posted& last(ws::SOCKET s, long event) const
    {
        return *std::find_if(events.rbegin(), events.rend(), [&](auto& p) { return p.socket == s && p.event == event; });
    }
    // Waits for n such events, then watches a while for more: true when there are exactly n.
    bool settlesAt(ws::SOCKET s, long event, int n)
    {
        waitFor([&] { return count(s, event) >= n; });
        waitFor([] { return false; }, 200);
        return count(s, event) == n;
    }
};

// A service handle, closed with the object.
struct Handle {
    ws::SOCKET s;
    Handle(ws::SOCKET socket) : s(socket) {}  // clang 14 has no aggregate init from parentheses
    ~Handle() { reset(); }
    void reset() { ws::closesocket(std::exchange(s, ws::INVALID_SOCKET)); }
    operator ws::SOCKET() const { return s; }
    std::uint16_t port() const { return ws::GetBoundPort(s); }
};

int bindLoopback(ws::SOCKET s, std::uint16_t port)
{
    const sockaddr_in a = testsupport::Loopback(port);
    return ws::bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a);
}

class Winsock : public ::testing::Test {
protected:
    void SetUp() override
    {
        ws::WSADATA data;
        ASSERT_EQ(ws::WSAStartup(0x0101, &data), 0);
        m_handles = ws::OpenHandleCount();
    }
    void TearDown() override { EXPECT_EQ(ws::OpenHandleCount(), m_handles) << "a handle was left open"; }
    int m_handles = 0;
    // A socket bound to 127.0.0.1 on a port of the system's choice, registered with r when given;
    // a stream socket listens.
    static ws::SOCKET bound(int type, Receiver* r = nullptr, long mask = kAll)
    {
        const ws::SOCKET s = ws::socket(AF_INET, type, 0);
        EXPECT_EQ(bindLoopback(s, 0), 0);
        EXPECT_TRUE(r == nullptr || ws::WSAAsyncSelect(s, r, kMsg, mask) == 0);
        EXPECT_TRUE(type != SOCK_STREAM || ws::listen(s, SOMAXCONN) == 0);
        return s;
    }
    // Connects a client to the listener and accepts it once FD_ACCEPT says so.
    static ws::SOCKET acceptOne(Receiver& r, ws::SOCKET lst, std::unique_ptr<TcpClient>& client)
    {
        const int before = r.count(lst, ws::FD_ACCEPT);
        client = std::make_unique<TcpClient>(ws::GetBoundPort(lst));
        EXPECT_TRUE(waitFor([&] { return r.count(lst, ws::FD_ACCEPT) > before; }));
        return ws::accept(lst, nullptr, nullptr);
    }
};

} // namespace

TEST_F(Winsock, HandlesAreNeverZeroNorReused)
{
    // The descriptor behind a closed handle is handed out again at once; the handle is not, so an
    // event still queued for the old one cannot reach the new socket.
    const ws::SOCKET a = ws::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_EQ(ws::closesocket(a), 0);
    Handle b(ws::socket(AF_INET, SOCK_DGRAM, 0));
    EXPECT_GT(b.s, a);
    EXPECT_GT(a, 0u);
    char buf[8];
    EXPECT_EQ(ws::recv(a, buf, sizeof buf, 0), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAENOTSOCK);
}

TEST_F(Winsock, APortHeldElsewhereFailsWithAddrInUse)
{
    for (const int type : {SOCK_DGRAM, SOCK_STREAM}) {
        const testsupport::Holder other(type);   // another program's socket
        Handle own(bound(type));
        for (const std::uint16_t port : {other.port, own.port()}) {
            Handle s(ws::socket(AF_INET, type, 0));
            EXPECT_EQ(bindLoopback(s, port), ws::SOCKET_ERROR) << type;
            EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEADDRINUSE) << type;
        }
    }
}

TEST_F(Winsock, TcpPortBindsAgainRightAfterASession)
{
    Receiver r;
    Handle lst(bound(SOCK_STREAM, &r));
    const std::uint16_t port = lst.port();
    std::unique_ptr<TcpClient> client;
    Handle conn(acceptOne(r, lst, client));
    // This side closes first, so the connection's leftover waits on the listening port.
    conn.reset();
    char c;
    ASSERT_TRUE(waitFor([&] { return ::recv(client->fd, &c, 1, MSG_DONTWAIT) == 0; }));
    client->Close();
    lst.reset();
    ASSERT_TRUE(waitFor([&] { return testsupport::TcpState(port, "06"); }));
    Handle again(ws::socket(AF_INET, SOCK_STREAM, 0));
    EXPECT_EQ(bindLoopback(again, port), 0) << "error " << ws::WSAGetLastError();
}

TEST_F(Winsock, OneFdReadPerRecvAndEachRecvEnablesTheNext)
{
    Receiver r;
    Handle udp(bound(SOCK_DGRAM, &r, ws::FD_READ));
    ASSERT_TRUE(SendDatagram(udp.port(), "one") && SendDatagram(udp.port(), "two"));
    ASSERT_TRUE(r.settlesAt(udp, ws::FD_READ, 1));
    EXPECT_EQ(r.events[0].message, kMsg);
    char buf[100];
    ASSERT_EQ(ws::recv(udp, buf, sizeof buf, 0), 3);
    ASSERT_TRUE(r.settlesAt(udp, ws::FD_READ, 2));   // the datagram left behind
    ASSERT_EQ(ws::recv(udp, buf, sizeof buf, 0), 3);
    EXPECT_EQ(std::string(buf, 3), "two");

    // On a stream: a partial read announces the rest; a failed recv enables the next event too.
    Handle lst(bound(SOCK_STREAM, &r));
    std::unique_ptr<TcpClient> client;
    Handle conn(acceptOne(r, lst, client));
    ASSERT_TRUE(client->Send(std::string(100, 'a')));
    ASSERT_TRUE(r.settlesAt(conn, ws::FD_READ, 1));
    ASSERT_EQ(ws::recv(conn, buf, 50, 0), 50);
    ASSERT_TRUE(r.settlesAt(conn, ws::FD_READ, 2));
    EXPECT_EQ(ws::recv(conn, nullptr, 10, 0), ws::SOCKET_ERROR);
    ASSERT_TRUE(r.settlesAt(conn, ws::FD_READ, 3));
    EXPECT_EQ(ws::recv(conn, buf, sizeof buf, 0), 50);
    EXPECT_TRUE(r.settlesAt(udp, ws::FD_READ, 2));
}

class WinsockPeerLeaves : public Winsock, public ::testing::WithParamInterface<bool> {};

TEST_P(WinsockPeerLeaves, OneFdCloseAfterTheDataIsRead)
{
    const bool reset = GetParam();
    Receiver r;
    Handle lst(bound(SOCK_STREAM, &r));
    std::unique_ptr<TcpClient> client;
    Handle conn(acceptOne(r, lst, client));
    if (!reset) {
        ASSERT_TRUE(client->Send("hello"));
        ASSERT_TRUE(r.settlesAt(conn, ws::FD_READ, 1));
    }
    reset ? client->Reset() : client->Close();
    if (!reset) {   // the close waits until the data has been read
        ASSERT_TRUE(r.settlesAt(conn, ws::FD_CLOSE, 0));
        char buf[16];
        ASSERT_EQ(ws::recv(conn, buf, sizeof buf, 0), 5);
    }
    ASSERT_TRUE(r.settlesAt(conn, ws::FD_CLOSE, 1));
    EXPECT_EQ(r.last(conn, ws::FD_CLOSE).error, reset ? ws::WSAECONNRESET : 0);
    EXPECT_EQ(r.count(conn, ws::FD_READ), reset ? 0 : 1);
}
INSTANTIATE_TEST_SUITE_P(OrderlyOrReset, WinsockPeerLeaves, ::testing::Bool());

TEST_F(Winsock, IdleSocketsPostNothingAndLeaveTheLoopAsleep)
{
    // A connection read to the end, one whose peer has closed, sockets neither listening nor
    // connected (they poll as hung up), a datagram and a connection not yet taken up.
    Receiver r;
    Handle lst(bound(SOCK_STREAM, &r));
    std::unique_ptr<TcpClient> client1, client2;
    Handle open(acceptOne(r, lst, client1));
    Handle closed(acceptOne(r, lst, client2));
    client2->Close();
    Handle boundOnly(ws::socket(AF_INET, SOCK_STREAM, 0)), fresh(ws::socket(AF_INET, SOCK_STREAM, 0));
    ASSERT_EQ(bindLoopback(boundOnly, 0), 0);
    ASSERT_TRUE(ws::WSAAsyncSelect(boundOnly, &r, kMsg, kAll) == 0 && ws::WSAAsyncSelect(fresh, &r, kMsg, kAll) == 0);
    Handle unread(bound(SOCK_DGRAM, &r));
    ASSERT_TRUE(SendDatagram(unread.port(), "waiting"));
    Handle pending(bound(SOCK_STREAM, &r));
    TcpClient pendingClient(pending.port());
    ASSERT_TRUE(waitFor([&] {
        return r.count(closed, ws::FD_CLOSE) == 1 && r.count(unread, ws::FD_READ) == 1 && r.count(pending, ws::FD_ACCEPT) == 1
            && r.count(open, ws::FD_WRITE) == 1;
    }));
    testsupport::drainEvents();

    // A blocking event loop goes to sleep a handful of times; a notifier firing over and over
    // makes that thousands.
    const std::size_t before = r.events.size();
    int sleeps = 0;
    const auto c = QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, [&] { ++sleeps; });
    QEventLoop loop;
    QTimer::singleShot(500, &loop, &QEventLoop::quit);
    loop.exec();
    QObject::disconnect(c);
    EXPECT_EQ(r.events.size(), before);
    EXPECT_LT(sleeps, 50);
    for (const Posted& p : r.events)   // nothing to watch, nothing ever said
        EXPECT_TRUE(p.socket != boundOnly.s && p.socket != fresh.s) << "event " << p.event;
}

namespace {
// A child process that connects n clients to 127.0.0.1:port and holds them until it is killed. Each
// connect waits a moment to complete; after three in a row did not, the rest go without waiting.
pid_t ConnectFromChild(std::uint16_t port, int n)
{
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    const sockaddr_in to = testsupport::Loopback(port);
    for (int i = 0, misses = 0; i < n; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        pollfd p{fd, POLLOUT, 0};
        if (misses < 3)
            misses = ::poll(&p, 1, 1000) == 1 ? 0 : misses + 1;
    }
    ::pause();
    ::_exit(0);
}
} // namespace

namespace {
// Lowers this process's soft descriptor limit for as long as it lives.
struct LoweredLimit {
    rlimit saved{};
    explicit LoweredLimit(rlim_t soft)
    {
        ::getrlimit(RLIMIT_NOFILE, &saved);
        const rlimit lowered{soft, saved.rlim_max};
        EXPECT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
    }
    ~LoweredLimit() { ::setrlimit(RLIMIT_NOFILE, &saved); }
};

int LowestFreeDescriptor()
{
    const int fd = ::dup(0);
    ::close(fd);
    return fd;
}

// Descriptors this process can still open (at most `most`), opened and closed again.
int SpareDescriptors(int most)
{
    std::vector<int> spare;
    for (int fd; int(spare.size()) < most && (fd = ::dup(0)) >= 0;)
        spare.push_back(fd);
    for (const int fd : spare)
        ::close(fd);
    return int(spare.size());
}

// Accepts once for each FD_ACCEPT until `enough` clients are taken or 20 s have passed, then
// watches 300 ms for more; fails the test if FD_ACCEPT keeps coming with nothing to take.
struct Taker {
    Receiver& r;
    ws::SOCKET lst;
    std::vector<ws::SOCKET> taken;
    int answered = 0;
    bool takeClients()
    {
        for (; answered < r.count(lst, ws::FD_ACCEPT); ++answered)
            if (const ws::SOCKET c = ws::accept(lst, nullptr, nullptr); c != ws::INVALID_SOCKET)
                taken.push_back(c);
        return false;
    }
    void settle(std::size_t enough)
    {
        waitFor([&] { return takeClients() || taken.size() >= enough; }, 20000);
        waitFor([&] { return takeClients(); }, 300);   // more FD_ACCEPT here would be a spin
        EXPECT_LE(r.count(lst, ws::FD_ACCEPT), answered + 20);
    }
    ~Taker()
    {
        for (const ws::SOCKET c : taken)
            ws::closesocket(c);
    }
};
} // namespace

TEST_F(Winsock, ClientsLeaveTheReservedDescriptorsFreeWaitWithoutSpinningAndComeInAsOthersLeave)
{
    // At a limit of 512 and above, 128 descriptors are kept from the clients.
    constexpr int kReserve = 128;
    Receiver r;
    Handle lst(bound(SOCK_STREAM, &r, ws::FD_ACCEPT));
    const int lowestFree = LowestFreeDescriptor();
    const int room = 512 - kReserve;
    const pid_t child = ConnectFromChild(lst.port(), room + 60);
    Taker taker{r, lst, {}, 0};
    {
        const LoweredLimit limit(rlim_t(lowestFree + 512));
        taker.settle(room - 5);
        EXPECT_GE(int(taker.taken.size()), room - 5);
        EXPECT_LE(int(taker.taken.size()), room);
        EXPECT_EQ(SpareDescriptors(kReserve - 2), kReserve - 2) << "clients took the reserved descriptors";
        // Clients leaving make room: the listener, held until then, takes the next ones.
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        const std::size_t before = taker.taken.size();
        for (std::size_t i = 0; i < before / 2; ++i)
            ws::closesocket(std::exchange(taker.taken[i], ws::INVALID_SOCKET));
        std::vector<int> more;   // without waiting: the kernel's queue may still be full
        const sockaddr_in to = testsupport::Loopback(lst.port());
        for (int i = 0; i < 5; ++i) {
            more.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
            ::connect(more.back(), reinterpret_cast<const sockaddr*>(&to), sizeof to);
        }
        EXPECT_TRUE(waitFor([&] { return taker.takeClients() || taker.taken.size() >= before + 5; }, 20000));
        for (const int fd : more)
            ::close(fd);
    }
}

