// SPDX-License-Identifier: GPL-3.0-or-later
// The real receiving path: the log view's socket handler (CCisternView::OnSocketNotify) reading
// real loopback sockets into the real log widget, with the read boundaries chosen by the input.
//
// The input says UDP or TCP and gives the pieces: datagrams, or what a TCP client sends before the
// view reads. Each piece arrives whole before the handler is called, so each is one read (or,
// past 64 KiB, several). The log must be exactly the non-empty lines, each followed by CR LF: of
// each datagram, or of the whole stream with the close line after it. Only 127.0.0.1 is used.
#include "app/CisternApp.h"
#include "app/MainFrm.h"
#include "listener/CisternView.h"
#include "platform/afxdlg.h"
#include "platform/winsock.h"
#include "resources/resource.h"

#include "expected_log.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>

#include <fuzzer/FuzzedDataProvider.h>

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

CCisternApp* g_app = nullptr;
QTemporaryDir* g_dir = nullptr;

CCisternView* View() { return dynamic_cast<CCisternView*>(dynamic_cast<CMainFrame*>(g_app->m_pMainWnd)->GetActiveView()); }
std::string Log() { return std::string(View()->GetTextData(), View()->GetTextSize()); }

// A socket of the given type, and 127.0.0.1 on the port the view has just bound.
int Peer(int protocol, sockaddr_in& to)
{
    View()->m_nProtocol = protocol;
    if (View()->StartListening("127.0.0.1", "0") != 0)
        Fail("could not bind 127.0.0.1");
    to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(ws::GetBoundPort(View()->m_listenSocket));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::socket(AF_INET, protocol == 0 ? SOCK_DGRAM : SOCK_STREAM, 0);
}

// libFuzzer's timer raises SIGALRM without SA_RESTART, so any blocking call here may return EINTR.
// A send is tried again; an interrupted connect goes on in the kernel, so its end is waited for.
template <typename Call> ssize_t Retried(Call call)
{
    ssize_t n;
    while ((n = call()) < 0 && errno == EINTR) {}
    return n;
}

void Connect(int fd, const sockaddr_in& to)
{
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0)
        return;
    if (errno != EINTR)
        Fail(std::string("connect failed: ") + std::strerror(errno));
    pollfd p{fd, POLLOUT, 0};
    if (Retried([&] { return ::poll(&p, 1, 10000); }) != 1)
        Fail("an interrupted connect did not end");
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0)
        Fail(std::string("connect failed: ") + std::strerror(error));
}

void RunUdp(const std::vector<std::string>& datagrams)
{
    sockaddr_in to;
    const int fd = Peer(0, to);
    const ws::SOCKET bound = View()->m_listenSocket;
    std::string expected;
    for (const std::string& d : datagrams) {
        if (Retried([&] { return ::sendto(fd, d.data(), d.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to); }) != ssize_t(d.size()))
            Fail("sendto failed");
        expected += Expected(d);
        View()->OnSocketNotify(bound, ws::FD_READ);   // one read event per datagram, as the loop raises them
    }
    for (const QDeadlineTimer deadline(10000); View()->GetTextSize() < expected.size() && !deadline.hasExpired();)
        View()->OnSocketNotify(bound, ws::FD_READ);   // a datagram still on its way
    ::close(fd);
    CheckLog("datagrams", expected, Log());
    View()->CloseConnection();
}

void RunTcp(const std::vector<std::string>& pieces)
{
    sockaddr_in to;
    const int fd = Peer(1, to);
    Connect(fd, to);
    const auto accepted = [] { return View()->m_clientSocket != 0 && View()->m_clientSocket != ws::INVALID_SOCKET; };
    View()->m_clientSocket = 0;
    for (const QDeadlineTimer deadline(10000); !accepted() && !deadline.hasExpired();)
        View()->OnSocketNotify(View()->m_listenSocket, ws::FD_ACCEPT);
    if (!accepted())
        Fail("the view accepted no client");
    const ws::SOCKET client = View()->m_clientSocket;
    std::string stream;
    for (const std::string& piece : pieces) {
        for (std::size_t sent = 0; sent < piece.size();) {
            const ssize_t n = Retried([&] { return ::send(fd, piece.data() + sent, piece.size() - sent, MSG_NOSIGNAL); });
            if (n <= 0)
                Fail("send failed");
            sent += std::size_t(n);
        }
        stream += piece;
        int unsent = 1;   // until every byte is in the view's socket
        for (const QDeadlineTimer deadline(10000); unsent != 0 && !deadline.hasExpired(); ::usleep(50))
            if (::ioctl(fd, SIOCOUTQ, &unsent) != 0)
                Fail("SIOCOUTQ failed");
        if (!piece.empty())
            View()->OnSocketNotify(client, ws::FD_READ);
    }
    // All that was sent has been read: the client leaves with a reset, so that tens of thousands
    // of runs leave no connections waiting out their time on loopback ports.
    const linger abort{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    ::close(fd);
    View()->OnSocketNotify(client, ws::FD_READ);
    View()->OnSocketNotify(client, ws::FD_CLOSE);
    CheckLog("stream", Expected(stream) + "Sumpwell Status>Connection closed by client\r\n", Log());
    if (View()->m_listenSocket != 0)
        Fail("the client's close did not end the binding");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int qargc = 1;
    static char* qargv[] = {(*argv)[0], nullptr};
    new QApplication(qargc, qargv);
    g_dir = new QTemporaryDir;
    std::atexit([] { delete g_dir; });   // libFuzzer leaves by exit(): the folder goes with it
    CisternInitResources();
    afxtest::SetMessageBoxHook([](const CString& text) -> int { Fail("unexpected message box: " + text); });
    afxtest::SetProfilePath(g_dir->filePath(QStringLiteral("Sumpwell.ini")).toStdString());
    g_app = new CCisternApp;
    if (!g_app->InitInstance() || View() == nullptr)
        Fail("the application did not start");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    const bool tcp = in.ConsumeBool();
    std::vector<std::string> pieces;
    while (in.remaining_bytes() > 0 && pieces.size() < 64)
        pieces.push_back(in.ConsumeBytesAsString(in.ConsumeIntegralInRange<std::size_t>(0, tcp ? 70000 : 65507)));
    View()->OnClearLog();
    tcp ? RunTcp(pieces) : RunUdp(pieces);
    View()->OnClearLog();
    return 0;
}
