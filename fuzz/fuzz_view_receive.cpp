// The real receiving path: the log view's socket handler (CCisternView::OnSocketNotify) reading
// from real loopback sockets into the real log widget, with the read boundaries chosen by the
// input.
//
// The input says UDP or TCP and gives the pieces: datagrams, or what a TCP client sends before
// the view reads. Each piece is delivered whole before the handler is called, so every piece is
// one read (or, past 64 KiB, several). The log must be exactly the non-empty lines, each followed
// by CR LF: of each datagram on its own, or of the whole stream with the close line after it.
// Only 127.0.0.1 is used.
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
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

const std::string kCloseLine = "Sumpwell Status>Connection closed by client\r\n";
constexpr std::size_t kLargestDatagram = 65507;

QApplication* g_qapp = nullptr;
CCisternApp* g_app = nullptr;
QTemporaryDir* g_dir = nullptr;

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "fuzz_view_receive: %s\n", what);
    std::abort();
}

int NoMessageBoxes(const CString& text)
{
    std::fprintf(stderr, "unexpected message box: %s\n", text.c_str());
    std::abort();
}

CCisternView* View()
{
    auto* frame = dynamic_cast<CMainFrame*>(g_app->m_pMainWnd);
    return frame != nullptr ? dynamic_cast<CCisternView*>(frame->GetActiveView()) : nullptr;
}

std::string Log()
{
    return std::string(View()->GetTextData(), View()->GetTextSize());
}

sockaddr_in Loopback(std::uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

std::uint16_t Bind(int protocol)
{
    CCisternView* view = View();
    view->m_nProtocol = protocol;
    if (view->StartListening("127.0.0.1", "0") != 0)
        Fail("could not bind 127.0.0.1");
    return ws::GetBoundPort(view->m_listenSocket);
}

void RunUdp(const std::vector<std::string>& datagrams)
{
    CCisternView* view = View();
    const std::uint16_t port = Bind(0);
    const ws::SOCKET bound = view->m_listenSocket;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in to = Loopback(port);
    std::string expected;
    for (const std::string& d : datagrams) {
        if (::sendto(fd, d.data(), d.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to)
            != static_cast<ssize_t>(d.size()))
            Fail("sendto failed");
        expected += Expected(d);
        // One read event per datagram sent, as the event loop would raise it; a datagram still on
        // its way is read by a later one.
        view->OnSocketNotify(bound, ws::FD_READ);
    }
    const QDeadlineTimer deadline(10000);
    while (view->GetTextSize() < expected.size() && !deadline.hasExpired())
        view->OnSocketNotify(bound, ws::FD_READ);
    ::close(fd);
    CheckLog("datagrams", expected, Log());
    view->CloseConnection();
}

// Waits until every byte the client sent is in the view's socket (nothing left unacknowledged).
void Delivered(int fd)
{
    const QDeadlineTimer deadline(10000);
    for (;;) {
        int unsent = 0;
        if (::ioctl(fd, SIOCOUTQ, &unsent) != 0)
            Fail("SIOCOUTQ failed");
        if (unsent == 0)
            return;
        if (deadline.hasExpired())
            Fail("bytes sent over loopback did not arrive");
        ::usleep(50);
    }
}

void RunTcp(const std::vector<std::string>& pieces)
{
    CCisternView* view = View();
    const std::uint16_t port = Bind(1);
    const ws::SOCKET bound = view->m_listenSocket;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in to = Loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0)
        Fail((std::string("connect failed: ") + std::strerror(errno)).c_str());
    view->m_clientSocket = 0;
    const QDeadlineTimer deadline(10000);
    do {
        view->OnSocketNotify(bound, ws::FD_ACCEPT);
    } while ((view->m_clientSocket == 0 || view->m_clientSocket == ws::INVALID_SOCKET) && !deadline.hasExpired());
    const ws::SOCKET client = view->m_clientSocket;
    if (client == 0 || client == ws::INVALID_SOCKET)
        Fail("the view accepted no client");

    std::string stream;
    for (const std::string& piece : pieces) {
        if (piece.empty())
            continue;
        std::size_t sent = 0;
        while (sent < piece.size()) {
            const ssize_t n = ::send(fd, piece.data() + sent, piece.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                Fail("send failed");
            sent += static_cast<std::size_t>(n);
        }
        stream += piece;
        Delivered(fd);
        view->OnSocketNotify(client, ws::FD_READ);
    }
    // Everything sent has been read: the client leaves with a reset, so that tens of thousands of
    // runs leave no connections waiting out their time on loopback ports. Orderly closes are
    // proven by the end-to-end and integration tests.
    const linger abort{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    ::close(fd);
    // The end of the stream, then the close event.
    view->OnSocketNotify(client, ws::FD_READ);
    view->OnSocketNotify(client, ws::FD_CLOSE);
    CheckLog("stream", Expected(stream) + kCloseLine, Log());
    if (view->m_listenSocket != 0)
        Fail("the client's close did not end the binding");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int qargc = 1;
    static char* qargv[] = {(*argv)[0], nullptr};
    (void)argc;
    g_qapp = new QApplication(qargc, qargv);
    g_dir = new QTemporaryDir;
    std::atexit([] { delete g_dir; });   // libFuzzer leaves by exit(): the folder goes with it
    CisternInitResources();
    afxtest::SetMessageBoxHook(&NoMessageBoxes);
    afxtest::SetProfilePath((g_dir->path() + QStringLiteral("/Sumpwell.ini")).toStdString());
    afxtest::SetScreenSize(1024, 768);
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
    while (in.remaining_bytes() > 0 && pieces.size() < 64) {
        const std::size_t length = in.ConsumeIntegralInRange<std::size_t>(0, tcp ? 70000 : kLargestDatagram);
        pieces.push_back(in.ConsumeBytesAsString(length));
    }
    View()->OnClearLog();
    if (tcp)
        RunTcp(pieces);
    else
        RunUdp(pieces);
    View()->OnClearLog();
    return 0;
}
