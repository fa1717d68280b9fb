// Binding, receiving and closing, on real loopback sockets.
#include "app_fixture.h"
#include "peers.h"
#include "wait.h"

#include "platform/winsock.h"

#include <QWidget>

#include <arpa/inet.h>

using testsupport::AppFixture;
using testsupport::Messages;
using testsupport::SendDatagram;
using testsupport::TcpClient;
using testsupport::waitFor;

namespace {

const std::string kCloseLine = "Sumpwell Status>Connection closed by client\r\n";

class Receiving : public AppFixture {
protected:
    // Binds 127.0.0.1 on a port the system picks; returns the port.
    std::uint16_t Bind(int protocol)
    {
        View()->m_nProtocol = protocol;
        EXPECT_EQ(View()->StartListening("127.0.0.1", "0"), 0);
        return ws::GetBoundPort(View()->m_listenSocket);
    }
    bool LogBecomes(const std::string& expected, int ms = 5000)
    {
        return waitFor([&] { return Log() == expected; }, ms);
    }
};

// A port that is free now: bound and released again.
std::uint16_t FreePort(int type)
{
    const int fd = ::socket(AF_INET, type, 0);
    sockaddr_in a = testsupport::Loopback(0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

} // namespace

TEST_F(Receiving, ResultCodesOfBinding)
{
    // A name that does not resolve: 1, and nothing left open.
    ws::SetResolverForTesting([](const std::string&, ws::ResolvedHost&) { return false; });
    const int before = ws::OpenHandleCount();
    View()->m_nProtocol = 0;
    EXPECT_EQ(View()->StartListening("no-such-host", "2000"), 1);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAHOST_NOT_FOUND);
    // An empty host goes to name resolution too.
    EXPECT_EQ(View()->StartListening("", "2000"), 1);
    // A host that begins with a digit but is no address: the bind fails, code 3.
    EXPECT_EQ(View()->StartListening("1nvalid", "2000"), 3);
    EXPECT_EQ(ws::OpenHandleCount(), before);
    EXPECT_EQ(View()->m_listenSocket, 0u);

    // A name that resolves binds its first address.
    ws::SetResolverForTesting([](const std::string& name, ws::ResolvedHost& out) {
        out.name = name;
        out.addresses = {htonl(INADDR_LOOPBACK)};
        return true;
    });
    EXPECT_EQ(View()->StartListening("loopback-name", "0"), 0);
    EXPECT_NE(View()->m_listenSocket, 0u);
}

TEST_F(Receiving, APortInUseFailsWithCode3AndTheSocketErrorOfTheBind)
{
    for (const int protocol : {0, 1}) {
        const int type = protocol == 0 ? SOCK_DGRAM : SOCK_STREAM;
        const int holder = ::socket(AF_INET, type, 0);
        sockaddr_in a = testsupport::Loopback(0);
        ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        if (type == SOCK_STREAM)
            ::listen(holder, 1);
        socklen_t len = sizeof a;
        ::getsockname(holder, reinterpret_cast<sockaddr*>(&a), &len);
        const std::string port = std::to_string(ntohs(a.sin_port));
        const int before = ws::OpenHandleCount();
        View()->m_nProtocol = protocol;
        EXPECT_EQ(View()->StartListening("127.0.0.1", port.c_str()), 3) << protocol;
        EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEADDRINUSE) << protocol;
        EXPECT_EQ(ws::OpenHandleCount(), before);
        EXPECT_EQ(View()->m_listenSocket, 0u);
        ::close(holder);
    }
}

TEST_F(Receiving, PortTextIsReadAsItsLeadingDecimalNumber)
{
    const std::uint16_t free = FreePort(SOCK_DGRAM);
    const std::string text = "  " + std::to_string(free) + "x";
    View()->m_nProtocol = 0;
    ASSERT_EQ(View()->StartListening("127.0.0.1", text.c_str()), 0);
    EXPECT_EQ(ws::GetBoundPort(View()->m_listenSocket), free);
    View()->CloseConnection();
    // No digits at all: port 0, so the system picks one.
    ASSERT_EQ(View()->StartListening("127.0.0.1", "abc"), 0);
    EXPECT_NE(ws::GetBoundPort(View()->m_listenSocket), 0);
}

TEST_F(Receiving, UdpDatagramsBecomeLines)
{
    const std::uint16_t port = Bind(0);
    ASSERT_TRUE(SendDatagram(port, "one\ntwo\n"));
    ASSERT_TRUE(LogBecomes("one\r\ntwo\r\n"));
    ASSERT_TRUE(SendDatagram(port, "no line feed"));
    ASSERT_TRUE(LogBecomes("one\r\ntwo\r\nno line feed\r\n"));
    View()->OnClearLog();
    ASSERT_TRUE(SendDatagram(port, "a\n\n\nb"));
    ASSERT_TRUE(SendDatagram(port, "\n\n\n"));
    ASSERT_TRUE(SendDatagram(port, "crlf\r\n"));
    ASSERT_TRUE(LogBecomes("a\r\nb\r\ncrlf\r\r\n"));
    EXPECT_FALSE(Doc()->IsModified());
}

TEST_F(Receiving, DatagramsAreReadWholeWithTheirZeroBytes)
{
    const std::uint16_t port = Bind(0);
    std::string big(9000, 'q');
    big[4000] = '\n';
    ASSERT_TRUE(SendDatagram(port, big));
    ASSERT_TRUE(LogBecomes(std::string(4000, 'q') + "\r\n" + std::string(4999, 'q') + "\r\n"));
    View()->OnClearLog();
    const std::string largest(65507, 'L');
    ASSERT_TRUE(SendDatagram(port, largest));
    ASSERT_TRUE(LogBecomes(largest + "\r\n"));
    View()->OnClearLog();
    ASSERT_TRUE(SendDatagram(port, std::string("be\0fore\nafter", 13)));
    ASSERT_TRUE(LogBecomes(std::string("be\0fore\r\nafter\r\n", 16)));
}

TEST_F(Receiving, TcpLinesAreWholeAcrossReadsAndTheCloseEndsTheBinding)
{
    const std::uint16_t port = Bind(1);
    EXPECT_TRUE(testsupport::TcpPortListening(port));
    TcpClient client(port);
    ASSERT_TRUE(client.Connected());
    ASSERT_TRUE(client.Send("hel"));
    // The first piece is read before the rest is sent.
    ASSERT_TRUE(waitFor([&] { return View()->m_clientSocket != 0; }));
    testsupport::drainEvents();
    ASSERT_TRUE(client.Send("lo\na"));
    ASSERT_TRUE(LogBecomes("hello\r\n"));
    ASSERT_TRUE(client.Send("\n\nb\n"));
    ASSERT_TRUE(LogBecomes("hello\r\na\r\nb\r\n"));
    // A line still open at the close is a whole line, before the close line.
    ASSERT_TRUE(client.Send("tail"));
    client.Close();
    ASSERT_TRUE(LogBecomes("hello\r\na\r\nb\r\ntail\r\n" + kCloseLine));
    EXPECT_EQ(ConnectionPane(), "No connection");
    EXPECT_EQ(View()->m_listenSocket, 0u);
    EXPECT_FALSE(testsupport::TcpPortListening(port));
    EXPECT_FALSE(Doc()->IsModified());
}

TEST_F(Receiving, LongTcpLinesAndManyReadsKeepEveryByte)
{
    const std::uint16_t port = Bind(1);
    TcpClient client(port);
    std::string expected;
    std::string sent;
    for (int i = 0; i < 2000; ++i) {
        const std::string line = std::to_string(i) + std::string(static_cast<std::size_t>(i % 3000), 'x');
        sent += line + "\n";
        expected += line + "\r\n";
    }
    sent += std::string(3000, 'y') + "\n";
    expected += std::string(3000, 'y') + "\r\n";
    ASSERT_TRUE(client.Send(sent));
    client.Close();
    ASSERT_TRUE(LogBecomes(expected + kCloseLine, 20000));
}

TEST_F(Receiving, EveryClientIsReadAndEachCloseIsLogged)
{
    const std::uint16_t port = Bind(1);
    TcpClient first(port);
    ASSERT_TRUE(first.Send("from first\n"));
    ASSERT_TRUE(LogBecomes("from first\r\n"));
    TcpClient second(port);
    ASSERT_TRUE(second.Send("from second\n"));
    ASSERT_TRUE(LogBecomes("from first\r\nfrom second\r\n"));
    // The first client is not silenced by the second.
    ASSERT_TRUE(first.Send("first again\n"));
    ASSERT_TRUE(LogBecomes("from first\r\nfrom second\r\nfirst again\r\n"));
    second.Close();
    ASSERT_TRUE(LogBecomes("from first\r\nfrom second\r\nfirst again\r\n" + kCloseLine));
    EXPECT_EQ(View()->m_listenSocket, 0u);
    // Still read after the binding ended; its close is logged and leaves "No connection".
    ASSERT_TRUE(first.Send("last\n"));
    ASSERT_TRUE(LogBecomes("from first\r\nfrom second\r\nfirst again\r\n" + kCloseLine + "last\r\n"));
    first.Close();
    ASSERT_TRUE(LogBecomes("from first\r\nfrom second\r\nfirst again\r\n" + kCloseLine + "last\r\n" + kCloseLine));
    EXPECT_EQ(ConnectionPane(), "No connection");
}

TEST_F(Receiving, AnOldClientsCloseLeavesANewBindingAlone)
{
    const std::uint16_t port = Bind(1);
    TcpClient old(port);
    ASSERT_TRUE(old.Send("old\n"));
    ASSERT_TRUE(LogBecomes("old\r\n"));
    View()->OnCloseConnection();
    EXPECT_EQ(ConnectionPane(), "No connection");
    Bind(1);
    const ws::SOCKET fresh = View()->m_listenSocket;
    ASSERT_NE(fresh, 0u);
    old.Close();
    ASSERT_TRUE(LogBecomes("old\r\n" + kCloseLine));
    EXPECT_EQ(View()->m_listenSocket, fresh);
}

TEST_F(Receiving, AResetClientIsLoggedLikeAClose)
{
    const std::uint16_t port = Bind(1);
    TcpClient client(port);
    ASSERT_TRUE(client.Send("before reset\n"));
    ASSERT_TRUE(LogBecomes("before reset\r\n"));
    client.Reset();
    ASSERT_TRUE(LogBecomes("before reset\r\n" + kCloseLine));
    EXPECT_EQ(View()->m_listenSocket, 0u);
}

TEST_F(Receiving, TheSameTcpPortCanBeBoundAgainRightAfterASession)
{
    const std::uint16_t port = Bind(1);
    {
        TcpClient client(port);
        ASSERT_TRUE(client.Send("x\n"));
        ASSERT_TRUE(LogBecomes("x\r\n"));
    }
    ASSERT_TRUE(LogBecomes("x\r\n" + kCloseLine));
    const std::string text = std::to_string(port);
    View()->m_nProtocol = 1;
    EXPECT_EQ(View()->StartListening("127.0.0.1", text.c_str()), 0);
    EXPECT_TRUE(testsupport::TcpPortListening(port));
}

TEST_F(Receiving, QueuedEventsForAClosedSocketDoNoHarm)
{
    const std::uint16_t port = Bind(0);
    const ws::SOCKET closed = View()->m_listenSocket;
    View()->CloseConnection();
    // Events that were already on their way when the socket closed.
    for (const long event : {ws::FD_READ, ws::FD_ACCEPT, ws::FD_CLOSE, ws::FD_WRITE, ws::FD_OOB})
        View()->OnSocketNotify(closed, event);
    EXPECT_EQ(Log(), "");
    EXPECT_EQ(View()->m_clientSocket, ws::INVALID_SOCKET);   // the accept failed
    EXPECT_FALSE(SendDatagram(port, "late\n") && waitFor([&] { return !Log().empty(); }, 300));
}

TEST_F(Receiving, AThousandClientsLeaveNoDescriptorBehind)
{
    const std::uint16_t port = Bind(1);
    const std::string portText = std::to_string(port);
    // One client's whole session; its close ends the binding, which is made again as a user would.
    const auto session = [&] {
        TcpClient client(port);
        if (!client.Connected() || !client.Send("ping\n"))
            return false;
        client.Close();
        if (!waitFor([&] { return View()->m_listenSocket == 0; }))
            return false;
        View()->m_nProtocol = 1;
        return View()->StartListening("127.0.0.1", portText.c_str()) == 0;
    };
    // The first sessions may open what the process keeps for good (the event loop's own).
    View()->OnClearLog();
    const int fdsBefore = testsupport::OpenSocketCount();
    ASSERT_GE(fdsBefore, 1);   // the binding
    const int handlesBefore = ws::OpenHandleCount();
    const QDeadlineTimer deadline(60000);
    int done = 0;
    for (; done < 1000 && !deadline.hasExpired(); ++done)
        ASSERT_TRUE(session()) << "session " << done;
    EXPECT_EQ(done, 1000);
    EXPECT_EQ(testsupport::OpenSocketCount(), fdsBefore);
    EXPECT_EQ(ws::OpenHandleCount(), handlesBefore);
    const std::string log = Log();
    std::size_t closes = 0;
    for (std::size_t at = log.find(kCloseLine); at != std::string::npos; at = log.find(kCloseLine, at + 1))
        ++closes;
    EXPECT_EQ(closes, 1000u);
    EXPECT_EQ(log.size(), 1000 * (std::string("ping\r\n").size() + kCloseLine.size()));
}
