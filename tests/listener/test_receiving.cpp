// SPDX-License-Identifier: GPL-3.0-or-later
// The log view binding, receiving and closing, on real loopback sockets: its lines and its clients.
#include "app_fixture.h"
#include "peers.h"
#include "wait.h"

#include <QDeadlineTimer>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include <dlfcn.h>

using testsupport::SendDatagram;
using testsupport::TcpClient;

namespace {
// A socket that holds a port with address reuse and starts listening right after the next bind of
// this program succeeds: the moment another program can take the port from under a bound socket.
int g_rival = -1;
} // namespace

extern "C" int bind(int fd, const sockaddr* address, socklen_t length)
{
    static const auto real = reinterpret_cast<int (*)(int, const sockaddr*, socklen_t)>(::dlsym(RTLD_NEXT, "bind"));
    const int result = real(fd, address, length);
    if (result == 0 && fd != g_rival && g_rival >= 0)
        ::listen(std::exchange(g_rival, -1), 5);
    return result;
}

// The log's disk: while it stands, every pwrite (the log's own writes to its file) waits, at most
// 20 s (a window that waits for the disk then goes on, and the test sees it).
static std::mutex g_disk;
static std::condition_variable g_diskMoves;
static bool g_diskStands = false;

static void StandDisk(bool stands)
{
    const std::lock_guard guard(g_disk);
    g_diskStands = stands;
    g_diskMoves.notify_all();
}

extern "C" ssize_t pwrite(int fd, const void* data, size_t length, off_t offset)
{
    static const auto real = reinterpret_cast<ssize_t (*)(int, const void*, size_t, off_t)>(::dlsym(RTLD_NEXT, "pwrite"));
    std::unique_lock lock(g_disk);
    g_diskMoves.wait_for(lock, std::chrono::seconds(20), [] { return !g_diskStands; });
    lock.unlock();
    return real(fd, data, length, offset);
}

namespace {

const std::string kCloseLine = "Sumpwell Status>Connection closed by client\r\n";

class Receiving : public testsupport::AppFixture {
protected:
    // Binds 127.0.0.1 on a port the system picks; returns the port.
    std::uint16_t Bind(int protocol)
    {
        View()->m_nProtocol = protocol;
        EXPECT_EQ(View()->StartListening("127.0.0.1", "0"), 0);
        return ws::GetBoundPort(View()->m_listenSocket);
    }
    bool LogBecomes(const std::string& expected) { return testsupport::waitFor([&] { return Log() == expected; }); }
};

} // namespace

TEST_F(Receiving, ResultCodesOfBindingLeaveNothingOpen)
{
    const int handles = ws::OpenHandleCount();
    EXPECT_EQ(View()->StartListening("no-such-host", "2000"), 1);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAHOST_NOT_FOUND);
    EXPECT_EQ(View()->StartListening("1nvalid", "2000"), 3);   // a digit first: an address, and a bad one
    const testsupport::Holder held(SOCK_STREAM);
    View()->m_nProtocol = 1;
    EXPECT_EQ(View()->StartListening("127.0.0.1", std::to_string(held.port).c_str()), 3);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEADDRINUSE);
    // Bound beside a socket that then listens first: the listen fails, and that is a failed bind.
    g_rival = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(g_rival, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const int rivalFd = g_rival;
    sockaddr_in at = testsupport::Loopback(0);   // a port the system knows to be free
    socklen_t atLength = sizeof at;
    ASSERT_EQ(::bind(rivalFd, reinterpret_cast<const sockaddr*>(&at), sizeof at), 0);
    ASSERT_EQ(::getsockname(rivalFd, reinterpret_cast<sockaddr*>(&at), &atLength), 0);
    EXPECT_EQ(View()->StartListening("127.0.0.1", std::to_string(ntohs(at.sin_port)).c_str()), 3);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEADDRINUSE);
    ::close(rivalFd);
    EXPECT_EQ(ws::OpenHandleCount(), handles);
    EXPECT_EQ(View()->m_listenSocket, 0u);

    // A name binds its address; the port is the decimal number the text starts with.
    const std::uint16_t free = testsupport::Holder(SOCK_DGRAM).port;
    View()->m_nProtocol = 0;
    ASSERT_EQ(View()->StartListening("testhost", ("  " + std::to_string(free) + "x").c_str()), 0);
    EXPECT_EQ(ws::GetBoundPort(View()->m_listenSocket), free);
}

TEST_F(Receiving, EachDatagramBecomesItsLinesWithEveryByteButTheLineFeeds)
{
    const std::uint16_t port = Bind(0);
    std::string largest(65507, 'q');
    largest[4000] = '\n';
    // An empty datagram is data, not a close; so is one of line feeds only.
    for (const std::string& d : {std::string("one\ntwo\n"), std::string(), std::string("a\n\n\nb"), std::string("\n\n"),
                                 std::string("cr\r\n"), std::string("be\0fore\n", 8), largest})
        ASSERT_TRUE(SendDatagram(port, d));
    EXPECT_TRUE(LogBecomes(std::string("one\r\ntwo\r\na\r\nb\r\ncr\r\r\nbe\0fore\r\n", 30) + std::string(4000, 'q') + "\r\n"
                           + std::string(65507 - 4001, 'q') + "\r\n"));
    EXPECT_FALSE(Doc()->IsModified());
}

TEST_F(Receiving, TcpLinesAreWholeAcrossReadsAndTheClientsCloseEndsTheBinding)
{
    const std::uint16_t port = Bind(1);
    TcpClient client(port);
    ASSERT_TRUE(client.Send("hel"));
    ASSERT_TRUE(testsupport::waitFor([&] { return View()->m_clientSocket != 0; }));
    testsupport::drainEvents();   // the first piece is read before the rest is sent
    const std::string longLine(70000, 'L');
    ASSERT_TRUE(client.Send("lo\n\n" + longLine + "\nta"));
    ASSERT_TRUE(LogBecomes("hello\r\n" + longLine + "\r\n"));
    // A line still open at the close is a whole line, before the close line.
    ASSERT_TRUE(client.Send("il"));
    client.Close();
    ASSERT_TRUE(LogBecomes("hello\r\n" + longLine + "\r\ntail\r\n" + kCloseLine));
    EXPECT_EQ(ConnectionPane(), "No connection");
    EXPECT_FALSE(testsupport::TcpState(port, "0A"));
    EXPECT_FALSE(Doc()->IsModified());
}

// Sends all of bytes from a client whose socket does not block, the view reading meanwhile.
bool SendWhileReading(TcpClient& client, std::string_view bytes)
{
    return testsupport::waitFor([&] {
        const ssize_t n = ::send(client.fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0)
            bytes.remove_prefix(std::size_t(n));
        return bytes.empty() || (n < 0 && errno != EAGAIN);
    }, 20000) && bytes.empty();
}

TEST_F(Receiving, OpenLinesWaitOnDiskAndOnlyALongLineIsEverCut)
{
    const std::uint16_t port = Bind(1);
    const LineAssembler& lines = View()->ClientLines();
    // Many clients' open lines together: beyond a bound they wait on disk, not in memory.
    constexpr int kClients = 48, kOpen = 512 * 1024;
    std::vector<std::unique_ptr<TcpClient>> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(std::make_unique<TcpClient>(port));
        ASSERT_TRUE(SendWhileReading(*clients.back(), std::string(kOpen, char('0' + i))));
    }
    ASSERT_TRUE(testsupport::waitFor([&] { return lines.BytesWaiting() == kClients * kOpen; }, 20000));
    EXPECT_LE(lines.BytesInMemory(), std::size_t(16) << 20);
    EXPECT_EQ(Log(), "");
    // Each ends its line: every line whole, its bytes as they were sent.
    for (auto& client : clients)
        ASSERT_TRUE(SendWhileReading(*client, "\n"));
    ASSERT_TRUE(testsupport::waitFor([&] { return View()->GetTextSize() == kClients * (kOpen + 2); }, 20000));
    const std::string log = Log();
    std::set<char> seen;   // each line one client's, whole
    for (std::size_t at = 0; at < log.size(); at += kOpen + 2)
        EXPECT_TRUE(log.compare(at, kOpen + 2, std::string(kOpen, log[at]) + "\r\n") == 0 && seen.insert(log[at]).second) << at;
    clients.clear();
    ASSERT_TRUE(testsupport::waitFor([&] { return View()->GetTextSize() == log.size() + kClients * kCloseLine.size(); }));
    View()->OnClearLog();

    // A line longer than 1 MiB goes on at the log's end as it comes.
    TcpClient longer(Bind(1));
    const std::string big(3 << 20, 'L');
    ASSERT_TRUE(SendWhileReading(longer, big));
    ASSERT_TRUE(testsupport::waitFor([&] { return View()->GetTextSize() == big.size(); }, 20000));
}

TEST_F(Receiving, EveryClientIsReadAndOnlyAClientOfTheBindingEndsIt)
{
    const std::uint16_t port = Bind(1);
    TcpClient first(port), second(port);
    std::string log;
    for (auto [client, line] : {std::pair{&first, "1"}, {&second, "2"}, {&first, "1 again"}}) {
        ASSERT_TRUE(client->Send(std::string(line) + "\n"));
        ASSERT_TRUE(LogBecomes(log += std::string(line) + "\r\n"));
    }
    second.Reset();   // a reset is a close like any other
    ASSERT_TRUE(LogBecomes(log += kCloseLine));
    EXPECT_EQ(View()->m_listenSocket, 0u);

    // A new binding: the old binding's client is still read, and its close leaves the new one alone.
    Bind(1);
    const ws::SOCKET fresh = View()->m_listenSocket;
    ASSERT_TRUE(first.Send("last\n"));
    first.Close();
    ASSERT_TRUE(LogBecomes(log += "last\r\n" + kCloseLine));
    EXPECT_EQ(View()->m_listenSocket, fresh);
}

namespace {
// Connections the kernel has made on a listening port of this machine and holds for an accept.
int Waiting(std::uint16_t port)
{
    QFile f(QStringLiteral("/proc/net/tcp"));
    f.open(QIODevice::ReadOnly);
    const QByteArray wanted = ":" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (f.readLine(); !f.atEnd();) {   // a listening row's receive queue counts them
        const QList<QByteArray> fields = f.readLine().simplified().split(' ');
        if (fields.size() >= 5 && fields[1].endsWith(wanted) && fields[3] == "0A")
            return fields[4].split(':').value(1).toInt(nullptr, 16);
    }
    return -1;
}

// n clients connecting while the window is busy (no event handled): true once the kernel holds
// them all and each has sent its line "client i".
bool ConnectWhileBusy(std::uint16_t port, int first, int n, std::vector<int>& fds)
{
    const sockaddr_in to = testsupport::Loopback(port);
    for (int i = 0; i < n; ++i) {
        fds.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        ::connect(fds.back(), reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    for (const QDeadlineTimer deadline(5000); Waiting(port) < n; ::usleep(1000))
        if (deadline.hasExpired())
            return false;
    for (int i = 0; i < n; ++i) {
        const std::string line = "client " + std::to_string(first + i) + "\n";
        if (::send(fds[std::size_t(first + i)], line.data(), line.size(), MSG_NOSIGNAL) != ssize_t(line.size()))
            return false;
    }
    return true;
}
} // namespace

TEST_F(Receiving, EveryWaitingClientIsTakenAtOnceAndBeforeAClientsCloseEndsTheBinding)
{
    constexpr int kClients = 40;   // far more than a short listen queue holds
    const std::uint16_t port = Bind(1);
    std::vector<int> fds;
    ASSERT_TRUE(ConnectWhileBusy(port, 0, kClients, fds)) << Waiting(port) << " held";
    const int handles = ws::OpenHandleCount();
    View()->OnSocketNotify(View()->m_listenSocket, ws::FD_ACCEPT);   // one event takes them all
    EXPECT_EQ(ws::OpenHandleCount(), handles + kClients);
    EXPECT_EQ(Waiting(port), 0);
    ASSERT_TRUE(testsupport::waitFor([&] { return Log().size() == 10 * 10 + 30 * 11; }));

    // More wait when one client's close comes first: they are taken before the binding ends, and
    // read until they close.
    ASSERT_TRUE(ConnectWhileBusy(port, kClients, kClients, fds)) << Waiting(port) << " held";
    View()->OnSocketNotify(View()->m_clientSocket, ws::FD_CLOSE);
    EXPECT_EQ(View()->m_listenSocket, 0u);
    EXPECT_FALSE(testsupport::TcpState(port, "0A"));
    for (const int fd : fds)
        ::close(fd);
    std::multiset<std::string> expected;
    for (int i = 0; i < 2 * kClients; ++i)
        expected.insert({"client " + std::to_string(i), kCloseLine.substr(0, kCloseLine.size() - 2)});
    std::multiset<std::string> lines;
    testsupport::waitFor([&] {
        const QList<QByteArray> got = QByteArray::fromStdString(Log()).split('\n');
        lines.clear();
        for (const QByteArray& line : got.mid(0, got.size() - 1))
            lines.insert(line.chopped(1).toStdString());   // without its CR
        return lines == expected;
    });
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(ws::OpenHandleCount(), handles - 1);   // the binding and every client closed
}

TEST_F(Receiving, QueuedEventsForAClosedSocketDoNoHarm)
{
    Bind(0);
    const ws::SOCKET closed = View()->m_listenSocket;
    View()->CloseConnection();
    for (const long event : {ws::FD_READ, ws::FD_ACCEPT, ws::FD_CLOSE, ws::FD_WRITE, ws::FD_OOB})
        View()->OnSocketNotify(closed, event);
    EXPECT_EQ(Log(), "");
    EXPECT_EQ(View()->m_clientSocket, ws::INVALID_SOCKET);   // the accept failed
}

TEST_F(Receiving, AThousandClientsLeaveNoSocketBehind)
{
    const std::string port = std::to_string(Bind(1));
    const int sockets = testsupport::OpenSocketCount();
    const int handles = ws::OpenHandleCount();
    // Each client's close ends the binding, which is made again as a user would.
    const QDeadlineTimer deadline(60000);
    int done = 0;
    for (; done < 1000 && !deadline.hasExpired(); ++done) {
        TcpClient client(std::stoi(port));
        ASSERT_TRUE(client.Send("ping\n"));
        client.Close();
        ASSERT_TRUE(testsupport::waitFor([&] { return View()->m_listenSocket == 0; })) << "session " << done;
        ASSERT_EQ(View()->StartListening("127.0.0.1", port.c_str()), 0);
    }
    EXPECT_EQ(done, 1000);
    EXPECT_EQ(testsupport::OpenSocketCount(), sockets);
    EXPECT_EQ(ws::OpenHandleCount(), handles);
    EXPECT_EQ(Log().size(), 1000 * (6 + kCloseLine.size()));
}

TEST_F(Receiving, ReadingWaitsWhileTheLogsDiskIsFarBehindAndNothingIsLost)
{
    // 240 MiB of numbered lines, more than the log lets wait for its disk, sent while it stands.
    const std::uint16_t port = Bind(1);
    StandDisk(true);
    constexpr int kLines = 240 * 1024;
    const auto line = [](int i) { return std::to_string(1000000 + i) + std::string(1016, 'w'); };
    std::atomic<bool> sent{false};
    const std::jthread sender([&] {
        TcpClient client(port);
        const timeval most{30, 0};   // a sender nobody reads gives up
        ::setsockopt(client.fd, SOL_SOCKET, SO_SNDTIMEO, &most, sizeof most);
        std::string chunk;
        for (int i = 0; i < kLines; ++i)
            if ((chunk += line(i) + "\n").size() >= (1u << 20) || i + 1 == kLines)
                if (!client.Send(std::exchange(chunk, std::string())))
                    return;
        sent = true;
    });
    const struct Moves { ~Moves() { StandDisk(false); } } moves;   // whatever the test finds

    // The reading stops while the disk is far behind, before an append would wait for it: the
    // sender waits and the window goes on. Once the disk moves, every byte comes.
    ASSERT_TRUE(testsupport::waitFor([&] { return View()->LogIsBehind(); }, 30000));
    const std::size_t held = View()->GetTextSize();
    testsupport::drainEvents();
    EXPECT_EQ(View()->GetTextSize(), held);
    EXPECT_LT(held, std::size_t(192) << 20);
    EXPECT_FALSE(sent);
    StandDisk(false);
    const std::size_t whole = std::size_t(kLines) * 1025 + kCloseLine.size();
    ASSERT_TRUE(testsupport::waitFor([&] { return View()->GetTextSize() == whole; }, 60000));
    const std::string_view log(View()->GetTextData(), whole);
    EXPECT_EQ(log.substr(whole - 1025 - kCloseLine.size()), line(kLines - 1) + "\r\n" + kCloseLine);
}
