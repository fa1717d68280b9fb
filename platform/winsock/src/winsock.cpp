// SPDX-License-Identifier: GPL-3.0-or-later
// The socket service on POSIX sockets: the handle table and the event machine. Names and
// addresses are in winsock_names.cpp.
//
// Every socket the service opens sits in one table under a handle number of its own. Readiness is
// watched through one epoll descriptor, itself watched by one QSocketNotifier on the UI thread, and
// turned into posted window messages with the re-enabling rules of WSAAsyncSelect. (A notifier per
// socket would have the event loop walk every socket on every turn: with thousands of idle clients
// connected, that costs more than the data.) Each socket is watched one-shot: once it is reported,
// the kernel watches it no more until the service arms it again.
//  - read readiness on a listening socket posts FD_ACCEPT, and the read notifier stays off until the
//    next accept;
//  - on any other socket a one-byte peek decides: data posts FD_READ (notifier off until the next
//    recv), the end of a stream or a reset posts FD_CLOSE once and the socket is never watched
//    again (a hung-up descriptor stays readable forever);
//  - FD_WRITE is posted once when a connected or bound socket can send; its writability is not
//    watched after that.
// Because each event is held until its re-enabling call, no socket can be reported in a loop and
// an idle program polls nothing.
//
// Clients never take the last descriptors: the toolkit, its dialogs and a save need some of their
// own. When no descriptor is left for another client, FD_ACCEPT stays held and the clients wait in
// the kernel's queue until a socket of the service closes; an accept that fails for want of
// resources is tried again a little later, never in a loop.
#include "platform/winsock.h"

#include "platform/winmsg.h"
#include "winsock_errors.h"

#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <unordered_map>

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ws {

namespace {

using detail::SetLastErrorCode;
using detail::SetLastErrorFromErrno;

constexpr long kAllEvents = FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE;
constexpr int kDatagramReceiveBuffer = 8 * 1024 * 1024;
// Descriptors kept free of clients, for the toolkit, its dialogs and a save: a quarter of the
// limit, and no more than this.
constexpr rlim_t kMostReservedDescriptors = 128;
// How soon an accept that failed for want of system resources is tried again.
constexpr int kAcceptRetryMs = 250;

enum class Kind { Stream, Datagram };

// Datagrams taken from the kernel in one call and handed out one recv at a time.
struct DatagramBatch {
    static constexpr int kCount = 64;
    static constexpr std::size_t kSlot = 65536;  // the largest datagram fits
    std::unique_ptr<char[]> buffer{new char[kCount * kSlot]};  // pages are touched only where written
    mmsghdr messages[kCount] = {};
    iovec pieces[kCount] = {};
    int count = 0;
    int next = 0;
    bool left() const { return next < count; }
};

struct Socket {
    int fd = -1;
    Kind kind = Kind::Stream;
    bool bound = false;
    bool listening = false;
    bool connected = false;
    bool nonBlocking = false;
    bool accepted = false;   // a client, from accept

    // The WSAAsyncSelect registration.
    bool registered = false;
    QPointer<QObject> hwnd;
    UINT msg = 0;
    long mask = 0;

    // FD_READ or FD_ACCEPT was signalled and waits for recv or accept to re-enable it.
    bool readHeld = false;
    // FD_WRITE was signalled for this registration.
    bool writeDone = false;
    // FD_CLOSE was signalled: the socket is never watched again.
    bool finished = false;

    // What the epoll descriptor watches it for now (EPOLLIN, EPOLLOUT; 0 once reported), and
    // whether the socket is in its set at all.
    std::uint32_t watched = 0;
    bool inEpoll = false;

    std::unique_ptr<DatagramBatch> batch;
    bool batchEventQueued = false;
};

struct Service {
    bool started = false;
    int failNextStartup = 0;
    SOCKET nextHandle = 1;
    std::unordered_map<SOCKET, std::unique_ptr<Socket>> sockets;

    // Listening sockets whose FD_ACCEPT is held until there is room for another client.
    std::vector<SOCKET> waitingForRoom;
    bool retryPending = false;
    int clients = 0;   // accepted sockets open

    // The one descriptor through which every socket is watched, and the notifier on it.
    int epollFd = -1;
    QSocketNotifier* epollNotifier = nullptr;
};

// Never destroyed: sockets still open at exit keep their notifiers, which must not be torn down
// after the application object (and its event dispatcher) is gone. The system closes the rest.
Service& service()
{
    static Service* const instance = new Service;
    return *instance;
}

Socket* find(SOCKET s)
{
    auto& table = service().sockets;
    const auto it = table.find(s);
    return it == table.end() ? nullptr : it->second.get();
}

// The socket behind a handle, or null with the last error set.
Socket* lookup(SOCKET s)
{
    if (!detail::Started())
        return nullptr;
    Socket* sock = find(s);
    if (sock == nullptr)
        SetLastErrorCode(WSAENOTSOCK);
    return sock;
}

// A stream socket that is neither listening nor connected polls as hung up, so it is never watched.
bool canWatch(const Socket& sock)
{
    if (sock.kind == Kind::Datagram)
        return sock.bound;
    return sock.listening || sock.connected;
}

void post(const Socket& sock, SOCKET s, long event, int error)
{
    if ((sock.mask & event) == 0 || sock.hwnd.isNull())
        return;
    PostMessage(sock.hwnd.data(), sock.msg, static_cast<WPARAM>(s),
                MAKELONG(static_cast<WORD>(event), static_cast<WORD>(error)));
}

void onReady();

// The epoll descriptor and its notifier, made the first time a socket is watched.
bool ensureEpoll()
{
    Service& svc = service();
    if (svc.epollFd >= 0)
        return true;
    svc.epollFd = ::epoll_create1(EPOLL_CLOEXEC);
    if (svc.epollFd < 0)
        return false;
    svc.epollNotifier = new QSocketNotifier(svc.epollFd, QSocketNotifier::Read);
    QObject::connect(svc.epollNotifier, &QSocketNotifier::activated, svc.epollNotifier, [] { onReady(); });
    return true;
}

// Brings what the epoll descriptor watches in line with the socket's registration and held events.
void updateNotifiers(SOCKET s, Socket& sock)
{
    const bool live = sock.registered && !sock.hwnd.isNull() && !sock.finished && canWatch(sock);
    const bool wantRead = live && !sock.readHeld && (sock.mask & (FD_READ | FD_ACCEPT | FD_CLOSE)) != 0;
    const bool wantWrite = live && !sock.listening && !sock.writeDone && (sock.mask & FD_WRITE) != 0;
    const std::uint32_t want = (wantRead ? EPOLLIN : 0u) | (wantWrite ? EPOLLOUT : 0u);
    if (want == sock.watched)
        return;
    Service& svc = service();
    if (want == 0) {
        // Taken out of the set: a hang-up or an error would be reported even with no event asked.
        ::epoll_ctl(svc.epollFd, EPOLL_CTL_DEL, sock.fd, nullptr);
        sock.inEpoll = false;
        sock.watched = 0;
        return;
    }
    if (!ensureEpoll())
        return;
    epoll_event ev{};
    ev.events = want | EPOLLONESHOT;
    ev.data.u64 = s;
    if (::epoll_ctl(svc.epollFd, sock.inEpoll ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, sock.fd, &ev) == 0) {
        sock.inEpoll = true;
        sock.watched = want;
    }
}

void deleteNotifiers(Socket& sock)
{
    if (sock.inEpoll)
        ::epoll_ctl(service().epollFd, EPOLL_CTL_DEL, sock.fd, nullptr);
    sock.inEpoll = false;
    sock.watched = 0;
}

// recv and accept re-enable the event they consume, whether or not they succeed.
void releaseHeldRead(SOCKET s, Socket& sock)
{
    if (!sock.readHeld)
        return;
    sock.readHeld = false;
    updateNotifiers(s, sock);
    // Datagrams already taken from the kernel wake no notifier: their FD_READ comes on the next
    // turn of the event loop, as a notifier's would.
    if (sock.batch && sock.batch->left() && !sock.batchEventQueued) {
        sock.batchEventQueued = true;
        QTimer::singleShot(0, [s] {
            Socket* again = find(s);
            if (again == nullptr)
                return;
            again->batchEventQueued = false;
            if (again->batch->left() && !again->readHeld && !again->hwnd.isNull()) {
                again->readHeld = true;
                updateNotifiers(s, *again);
                post(*again, s, FD_READ, 0);
            }
        });
    }
}

// The next datagram, taking up to a batch from the kernel when none is left: its length, or -1
// with errno set.
ssize_t nextDatagram(Socket& sock, char* buf, std::size_t len, bool& truncated)
{
    if (!sock.batch)
        sock.batch = std::make_unique<DatagramBatch>();
    DatagramBatch& b = *sock.batch;
    if (!b.left()) {
        for (int i = 0; i < DatagramBatch::kCount; ++i) {
            b.pieces[i] = {b.buffer.get() + std::size_t(i) * DatagramBatch::kSlot, DatagramBatch::kSlot};
            b.messages[i] = {};
            b.messages[i].msg_hdr.msg_iov = &b.pieces[i];
            b.messages[i].msg_hdr.msg_iovlen = 1;
        }
        int n;
        do {
            n = ::recvmmsg(sock.fd, b.messages, DatagramBatch::kCount, MSG_WAITFORONE, nullptr);
        } while (n < 0 && errno == EINTR);
        if (n < 0)
            return -1;
        b.count = n;
        b.next = 0;
    }
    const mmsghdr& m = b.messages[b.next];
    const std::size_t length = m.msg_len;
    std::memcpy(buf, b.pieces[b.next].iov_base, std::min(len, length));
    ++b.next;
    truncated = length > len;
    return ssize_t(length);
}

void onReadable(SOCKET s, Socket* sock)
{
    if (sock->hwnd.isNull()) {
        // The receiving window is gone: nobody is left to tell.
        sock->registered = false;
        updateNotifiers(s, *sock);
        return;
    }

    if (sock->listening) {
        sock->readHeld = true;
        updateNotifiers(s, *sock);
        post(*sock, s, FD_ACCEPT, 0);
        return;
    }

    char byte = 0;
    const ssize_t n = ::recv(sock->fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    const int err = n < 0 ? errno : 0;
    if (n < 0 && (err == EAGAIN || err == EWOULDBLOCK || err == EINTR))
        return; // woken for nothing; armed again

    // A datagram socket has no end: an empty datagram is data, and an error is left for recv to
    // report.
    if (n > 0 || sock->kind == Kind::Datagram) {
        sock->readHeld = true;
        updateNotifiers(s, *sock);
        post(*sock, s, FD_READ, 0);
        return;
    }

    sock->finished = true;
    updateNotifiers(s, *sock);
    post(*sock, s, FD_CLOSE, n == 0 ? 0 : detail::WsaCodeFromErrno(err));
}

// One FD_WRITE per registration: writability is not watched again.
void onWritable(SOCKET s, Socket* sock)
{
    sock->writeDone = true;
    post(*sock, s, FD_WRITE, 0);
}

// The sockets the epoll descriptor reports, a batch at a time: more wait for the next turn of the
// event loop.
void onReady()
{
    epoll_event ready[256];
    int n;
    do {
        n = ::epoll_wait(service().epollFd, ready, 256, 0);
    } while (n < 0 && errno == EINTR);
    for (int i = 0; i < n; ++i) {
        const SOCKET s = static_cast<SOCKET>(ready[i].data.u64);
        Socket* sock = find(s);
        if (sock == nullptr)
            continue;
        // Reported once: the kernel watches it no more until it is armed again.
        const std::uint32_t armed = std::exchange(sock->watched, 0u);
        const std::uint32_t got = ready[i].events;
        const bool ended = (got & (EPOLLERR | EPOLLHUP)) != 0;
        if ((armed & EPOLLOUT) != 0 && ((got & EPOLLOUT) != 0 || ended))
            onWritable(s, sock);
        if ((armed & EPOLLIN) != 0 && ((got & EPOLLIN) != 0 || ended))
            onReadable(s, sock);
        updateNotifiers(s, *sock);
    }
}

// Lets the listening sockets that waited for room take their clients again.
void releaseWaitingForRoom()
{
    Service& svc = service();
    std::vector<SOCKET> waiting;
    waiting.swap(svc.waitingForRoom);
    for (const SOCKET s : waiting)
        if (Socket* sock = find(s))
            releaseHeldRead(s, *sock);
}

void waitForRoom(SOCKET s, bool retryLater)
{
    Service& svc = service();
    if (std::find(svc.waitingForRoom.begin(), svc.waitingForRoom.end(), s) == svc.waitingForRoom.end())
        svc.waitingForRoom.push_back(s);
    if (retryLater && !svc.retryPending) {
        svc.retryPending = true;
        QTimer::singleShot(kAcceptRetryMs, [] {
            service().retryPending = false;
            releaseWaitingForRoom();
        });
    }
}

// Whether a client may take another descriptor without reaching into the reserve. Descriptors are
// handed out lowest first, so clients only ever hold numbers below the limit less the reserve, and
// the numbers above stay free for the rest of the program. The reserve is carved from the limit
// (a quarter of it at most), and one client is taken at any limit while a descriptor is free.
bool roomForAnotherClient(int listenFd)
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return true;
    const int lowestFree = ::fcntl(listenFd, F_DUPFD_CLOEXEC, 0);
    if (lowestFree < 0)
        return false;
    ::close(lowestFree);
    if (service().clients == 0)
        return true;
    const rlim_t reserve = std::min(kMostReservedDescriptors, limit.rlim_cur / 4);
    return static_cast<rlim_t>(lowestFree) + reserve < limit.rlim_cur;
}

bool isShortOfResources(int err)
{
    return err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM;
}

SOCKET addSocket(std::unique_ptr<Socket> sock)
{
    Service& svc = service();
    const SOCKET s = svc.nextHandle++;
    svc.sockets.emplace(s, std::move(sock));
    return s;
}

bool handlesExhausted()
{
    // Handles are never reused; the last number is INVALID_SOCKET.
    return service().nextHandle == INVALID_SOCKET;
}

} // namespace

bool detail::Started()
{
    if (service().started)
        return true;
    SetLastErrorCode(WSANOTINITIALISED);
    return false;
}

// ---- Start-up and errors ---------------------------------------------------------------------

int WSAStartup(WORD wVersionRequested, WSADATA* data)
{
    Service& svc = service();
    if (svc.failNextStartup != 0) {
        const int code = svc.failNextStartup;
        svc.failNextStartup = 0;
        return code;
    }
    const unsigned major = wVersionRequested & 0xFF;
    const unsigned minor = (wVersionRequested >> 8) & 0xFF;
    if (major < 1 || (major == 1 && minor < 1))
        return detail::WSAVERNOTSUPPORTED;
    if (data == nullptr)
        return WSAEFAULT;

    data->wVersion = 0x0101;
    data->wHighVersion = 0x0101;
    if (!svc.started) {
        // As many descriptors as the system allows this process: each client holds one.
        rlimit limit{};
        if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
            limit.rlim_cur = limit.rlim_max;
            ::setrlimit(RLIMIT_NOFILE, &limit);
        }
    }
    svc.started = true;
    return 0;
}

// ---- Sockets ---------------------------------------------------------------------------------

SOCKET socket(int af, int type, int protocol)
{
    if (!detail::Started())
        return INVALID_SOCKET;
    if (af != AF_INET) {
        SetLastErrorCode(WSAEAFNOSUPPORT);
        return INVALID_SOCKET;
    }
    if (type != SOCK_STREAM && type != SOCK_DGRAM) {
        SetLastErrorCode(detail::WSAESOCKTNOSUPPORT);
        return INVALID_SOCKET;
    }
    const int expected = type == SOCK_STREAM ? IPPROTO_TCP : IPPROTO_UDP;
    if (protocol != 0 && protocol != expected) {
        SetLastErrorCode(detail::WSAEPROTONOSUPPORT);
        return INVALID_SOCKET;
    }
    if (handlesExhausted()) {
        SetLastErrorCode(WSAEMFILE);
        return INVALID_SOCKET;
    }

    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        SetLastErrorFromErrno();
        return INVALID_SOCKET;
    }
    if (type == SOCK_STREAM) {
        // A listening port must be usable again right after a session ends (TIME_WAIT leftovers).
        // Datagram sockets never get this: it would let two programs share one UDP port.
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    } else {
        // Room for bursts of datagrams; the forced size needs privileges, the plain one is capped.
        const int size = kDatagramReceiveBuffer;
        if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }

    auto sock = std::make_unique<Socket>();
    sock->fd = fd;
    sock->kind = type == SOCK_STREAM ? Kind::Stream : Kind::Datagram;
    return addSocket(std::move(sock));
}

int bind(SOCKET s, const sockaddr* name, int namelen)
{
    Socket* sock = lookup(s);
    if (sock == nullptr)
        return SOCKET_ERROR;
    if (name == nullptr || namelen < static_cast<int>(sizeof(sockaddr_in))) {
        SetLastErrorCode(WSAEFAULT);
        return SOCKET_ERROR;
    }
    if (name->sa_family != AF_INET) {
        SetLastErrorCode(WSAEAFNOSUPPORT);
        return SOCKET_ERROR;
    }
    // Linux lets a socket bind the broadcast address or a multicast group; neither is an address
    // of this machine, and Winsock refuses them.
    const std::uint32_t address = ntohl(reinterpret_cast<const sockaddr_in*>(name)->sin_addr.s_addr);
    if (address == INADDR_BROADCAST || IN_MULTICAST(address)) {
        SetLastErrorCode(WSAEADDRNOTAVAIL);
        return SOCKET_ERROR;
    }
    if (::bind(sock->fd, name, sizeof(sockaddr_in)) != 0) {
        SetLastErrorFromErrno();
        return SOCKET_ERROR;
    }
    sock->bound = true;
    updateNotifiers(s, *sock);
    return 0;
}

int WSAAsyncSelect(SOCKET s, HWND hWnd, UINT wMsg, long lEvent)
{
    Socket* sock = lookup(s);
    if (sock == nullptr)
        return SOCKET_ERROR;
    if (hWnd == nullptr || (lEvent & ~kAllEvents) != 0) {
        SetLastErrorCode(WSAEINVAL);
        return SOCKET_ERROR;
    }
    if (!sock->nonBlocking) {
        const int flags = ::fcntl(sock->fd, F_GETFL);
        if (flags < 0 || ::fcntl(sock->fd, F_SETFL, flags | O_NONBLOCK) != 0) {
            SetLastErrorFromErrno();
            return SOCKET_ERROR;
        }
        sock->nonBlocking = true;
    }

    // A new registration starts afresh: whatever is true now is signalled again.
    sock->readHeld = false;
    sock->writeDone = false;
    sock->registered = lEvent != 0;
    sock->hwnd = lEvent != 0 ? hWnd : nullptr;
    sock->msg = lEvent != 0 ? wMsg : 0;
    sock->mask = lEvent;
    if (lEvent == 0)
        deleteNotifiers(*sock);
    else
        updateNotifiers(s, *sock);
    return 0;
}

int listen(SOCKET s, int backlog)
{
    Socket* sock = lookup(s);
    if (sock == nullptr)
        return SOCKET_ERROR;
    if (sock->kind != Kind::Stream) {
        SetLastErrorCode(WSAEOPNOTSUPP);
        return SOCKET_ERROR;
    }
    if (!sock->bound || sock->connected) {
        SetLastErrorCode(sock->connected ? detail::WSAEISCONN : WSAEINVAL);
        return SOCKET_ERROR;
    }
    // SOMAXCONN asks for the longest queue the system allows: the kernel caps any backlog at its
    // own setting (net.core.somaxconn), which may be above the header's value.
    const int queue = backlog >= SOMAXCONN ? std::numeric_limits<int>::max() : std::max(backlog, 1);
    if (::listen(sock->fd, queue) != 0) {
        SetLastErrorFromErrno();
        return SOCKET_ERROR;
    }
    sock->listening = true;
    updateNotifiers(s, *sock);
    return 0;
}

SOCKET accept(SOCKET s, sockaddr* addr, int* addrlen)
{
    Socket* sock = lookup(s);
    if (sock == nullptr)
        return INVALID_SOCKET;

    auto& waiting = service().waitingForRoom;
    waiting.erase(std::remove(waiting.begin(), waiting.end(), s), waiting.end());
    SOCKET result = INVALID_SOCKET;
    [&] {
        if (addr != nullptr && (addrlen == nullptr || *addrlen < static_cast<int>(sizeof(sockaddr_in)))) {
            SetLastErrorCode(WSAEFAULT);
            return;
        }
        if (sock->kind != Kind::Stream) {
            SetLastErrorCode(WSAEOPNOTSUPP);
            return;
        }
        if (!sock->listening) {
            SetLastErrorCode(WSAEINVAL);
            return;
        }
        if (handlesExhausted()) {
            SetLastErrorCode(WSAEMFILE);
            return;
        }
        if (!roomForAnotherClient(sock->fd)) {
            SetLastErrorCode(WSAEMFILE);
            waitForRoom(s, false);
            return;
        }
        sockaddr_in peer{};
        socklen_t peerLen = sizeof peer;
        const int flags = SOCK_CLOEXEC | (sock->nonBlocking ? SOCK_NONBLOCK : 0);
        int fd;
        do {
            fd = ::accept4(sock->fd, reinterpret_cast<sockaddr*>(&peer), &peerLen, flags);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) {
            const int err = errno;
            SetLastErrorFromErrno();
            if (isShortOfResources(err))
                waitForRoom(s, true);
            return;
        }
        if (addr != nullptr) {
            std::memcpy(addr, &peer, std::min<std::size_t>(peerLen, sizeof peer));
            *addrlen = static_cast<int>(peerLen);
        }

        // The new socket has the listening socket's registration.
        auto conn = std::make_unique<Socket>();
        conn->fd = fd;
        conn->kind = Kind::Stream;
        conn->bound = true;
        conn->connected = true;
        conn->nonBlocking = sock->nonBlocking;
        conn->accepted = true;
        ++service().clients;
        conn->registered = sock->registered;
        conn->hwnd = sock->hwnd;
        conn->msg = sock->msg;
        conn->mask = sock->mask;
        Socket& ref = *conn;
        result = addSocket(std::move(conn));
        updateNotifiers(result, ref);
    }();

    // A listener waiting for room keeps FD_ACCEPT held: its clients stay queued in the kernel.
    if (std::find(waiting.begin(), waiting.end(), s) == waiting.end())
        releaseHeldRead(s, *sock);
    return result;
}

int recv(SOCKET s, char* buf, int len, int flags)
{
    Socket* sock = lookup(s);
    if (sock == nullptr)
        return SOCKET_ERROR;

    int result = SOCKET_ERROR;
    [&] {
        // The program reads plainly; out-of-band data and peeking are not offered.
        if (flags != 0) {
            SetLastErrorCode(WSAEOPNOTSUPP);
            return;
        }
        if (len < 0 || (buf == nullptr && len > 0)) {
            SetLastErrorCode(WSAEFAULT);
            return;
        }
        if (sock->listening) {
            SetLastErrorCode(WSAENOTCONN);
            return;
        }
        if (sock->kind == Kind::Datagram && !sock->bound) {
            SetLastErrorCode(WSAEINVAL);
            return;
        }
        if (sock->kind == Kind::Datagram) {
            bool truncated = false;
            const ssize_t n = nextDatagram(*sock, buf, static_cast<std::size_t>(len), truncated);
            if (n < 0) {
                SetLastErrorFromErrno();
                return;
            }
            if (truncated) {
                // The buffer holds the datagram's first part; the rest is gone.
                SetLastErrorCode(WSAEMSGSIZE);
                return;
            }
            result = static_cast<int>(n);
            return;
        }
        ssize_t n;
        do {
            n = ::recv(sock->fd, buf, static_cast<std::size_t>(len), 0);
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            SetLastErrorFromErrno();
            return;
        }
        result = static_cast<int>(n);
    }();

    releaseHeldRead(s, *sock);
    return result;
}

int closesocket(SOCKET s)
{
    Socket* sock = lookup(s);
    if (sock == nullptr)
        return SOCKET_ERROR;
    // The notifiers go before the descriptor does. The last error is left as it was, so that a
    // caller cleaning up after a failed step still reads that step's code.
    deleteNotifiers(*sock);
    const int savedErrno = errno;
    ::close(sock->fd);
    errno = savedErrno;
    if (sock->accepted)
        --service().clients;
    service().sockets.erase(s);
    // A descriptor is free again: a listener that waited for room may take its next client.
    if (!service().waitingForRoom.empty())
        releaseWaitingForRoom();
    return 0;
}

// ---- Beyond Winsock 1.1 ----------------------------------------------------------------------

unsigned short GetBoundPort(SOCKET s)
{
    const Socket* sock = find(s);
    if (sock == nullptr)
        return 0;
    sockaddr_in local{};
    socklen_t len = sizeof local;
    if (::getsockname(sock->fd, reinterpret_cast<sockaddr*>(&local), &len) != 0 || local.sin_family != AF_INET)
        return 0;
    return ntohs(local.sin_port);
}

int OpenHandleCount()
{
    return static_cast<int>(service().sockets.size());
}

// ---- Test hooks ------------------------------------------------------------------------------

void FailNextStartupForTesting(int code)
{
    service().failNextStartup = code;
}

} // namespace ws
