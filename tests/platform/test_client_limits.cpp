// More TCP clients than descriptors: the socket service keeps a reserve of descriptors free of
// clients, takes no client beyond it, never spins on a failing accept, and takes the waiting
// clients once descriptors come free again.
#include "platform/winmsg.h"
#include "platform/winsock.h"
#include "wait.h"

#include <gtest/gtest.h>

#include <csignal>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr UINT kMsg = 0x8004;
constexpr int kRoomForClients = 40;   // what the test leaves above the service's reserve
constexpr int kReserve = 128;         // the descriptors the service keeps free of clients
constexpr int kClients = 300;         // several times more than the descriptors the test allows

// Takes every client it is told of, and counts the FD_ACCEPT events.
class Listener : public QObject {
public:
    ws::SOCKET listening = 0;
    std::vector<ws::SOCKET> clients;
    int acceptEvents = 0;

    bool event(QEvent* e) override
    {
        if (e->type() != CWinMsgEvent::eventType())
            return QObject::event(e);
        const auto* m = static_cast<CWinMsgEvent*>(e);
        if (ws::WSAGETSELECTEVENT(m->lParam()) == ws::FD_ACCEPT) {
            ++acceptEvents;
            const ws::SOCKET c = ws::accept(listening, nullptr, nullptr);
            if (c != ws::INVALID_SOCKET)
                clients.push_back(c);
        }
        return true;
    }
};

// A child process that connects n clients to 127.0.0.1:port and holds them until it is killed.
// Each connect waits a moment to complete; once three in a row did not (the listener took no more
// and the kernel's queue is full), the rest are started without waiting.
pid_t ConnectFromChild(std::uint16_t port, int n)
{
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int misses = 0;
    for (int i = 0; i < n; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        pollfd p{fd, POLLOUT, 0};
        if (misses < 3)
            misses = ::poll(&p, 1, 100) == 1 ? 0 : misses + 1;
    }
    ::pause();
    ::_exit(0);
}

// How many descriptors this process can still open, up to `most`.
int FreeDescriptors(int most)
{
    std::vector<int> taken;
    for (int i = 0; i < most; ++i) {
        const int fd = ::dup(0);
        if (fd < 0)
            break;
        taken.push_back(fd);
    }
    for (const int fd : taken)
        ::close(fd);
    return static_cast<int>(taken.size());
}

TEST(ClientLimits, ClientsLeaveTheReserveFreeWaitWithoutSpinningAndAreTakenAsOthersLeave)
{
    ws::WSADATA data;
    ASSERT_EQ(ws::WSAStartup(0x0101, &data), 0);
    Listener r;
    r.listening = ws::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(ws::bind(r.listening, reinterpret_cast<const ws::sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(ws::WSAAsyncSelect(r.listening, &r, kMsg, ws::FD_ACCEPT | ws::FD_READ | ws::FD_CLOSE), 0);
    ASSERT_EQ(ws::listen(r.listening, 5), 0);

    const pid_t child = ConnectFromChild(ws::GetBoundPort(r.listening), kClients);
    ASSERT_GT(child, 0);

    // Room for kRoomForClients descriptors above the reserve, counted from the lowest free one.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int lowestFree = ::dup(0);
    ::close(lowestFree);
    rlimit lowered = saved;
    lowered.rlim_cur = static_cast<rlim_t>(lowestFree + kReserve + kRoomForClients);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);

    // The clients fill the room and no more; the reserve stays free.
    EXPECT_TRUE(testsupport::waitFor([&] { return r.clients.size() >= kRoomForClients - 5; }, 20000))
        << r.clients.size() << " clients taken";
    const int eventsWhenFull = r.acceptEvents;
    testsupport::waitFor([&] { return r.acceptEvents > eventsWhenFull + 20; }, 300);
    EXPECT_LE(r.acceptEvents, eventsWhenFull + 20) << "FD_ACCEPT over and over while no room came free";
    EXPECT_LE(r.clients.size(), static_cast<std::size_t>(kRoomForClients));
    EXPECT_GE(FreeDescriptors(kReserve), kReserve - 2) << "clients took the reserved descriptors";

    // Clients leaving make room: the waiting ones are taken.
    const std::size_t before = r.clients.size();
    for (std::size_t i = 0; i < before / 2; ++i)
        ws::closesocket(r.clients[i]);
    EXPECT_TRUE(testsupport::waitFor([&] { return r.clients.size() >= before + 5; }, 20000))
        << r.clients.size() - before << " waiting clients taken after " << before / 2 << " left";

    ::setrlimit(RLIMIT_NOFILE, &saved);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    for (std::size_t i = before / 2; i < r.clients.size(); ++i)
        ws::closesocket(r.clients[i]);
    ws::closesocket(r.listening);
}

} // namespace
