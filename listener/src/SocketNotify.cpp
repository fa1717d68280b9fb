// SPDX-License-Identifier: GPL-3.0-or-later
// Socket events: reading datagrams and client streams into log lines, accepting clients, and a
// client's close.
#include "listener/CisternView.h"
#include "listener/StatusPane.h"

#include <utility>
#include <vector>

namespace {
const char kCloseLine[] = "Sumpwell Status>Connection closed by client\r\n";

// One read event takes at most this much from a socket, so that a flood cannot hold the window;
// what is left raises the next event.
constexpr int kMaxDatagramsPerEvent = 256;
constexpr std::size_t kMaxStreamBytesPerEvent = 1 << 20;
// Connections taken at once: more than the kernel's queue holds, a bound against an endless stream.
constexpr int kMostAcceptsAtOnce = 65536;
} // namespace

LRESULT CCisternView::OnSocketNotify(WPARAM wParam, LPARAM lParam)
{
    const auto s = static_cast<ws::SOCKET>(wParam);
    switch (ws::WSAGETSELECTEVENT(lParam)) {
    case ws::FD_READ:
        // The bound socket carries the data for UDP; a client's data comes on its own socket.
        if (m_listenSocket != 0 && !m_listenIsStream)
            ReadDatagrams();
        if (m_clients.count(s) != 0)
            ReadClient(s);
        break;
    case ws::FD_ACCEPT:
        if (AcceptWaitingClients() == 0)
            m_clientSocket = ws::INVALID_SOCKET;   // the accept failed
        break;
    case ws::FD_CLOSE:
        if (m_clients.count(s) != 0)
            OnClientClosed(s);
        break;
    default:
        break;
    }
    return 0;
}

void CCisternView::ReadDatagrams()
{
    for (int i = 0; i < kMaxDatagramsPerEvent; ++i) {
        if (LogIsBehind()) {
            m_datagramsWaiting = true;
            return;
        }
        const int n = ws::recv(m_listenSocket, m_recvBuffer.data(), static_cast<int>(m_recvBuffer.size()), 0);
        if (n < 0)
            break;
        // A datagram is self-contained: its end ends its last line. Its lines, each followed by
        // CR LF, are written straight into the log.
        const std::string_view datagram(m_recvBuffer.data(), static_cast<std::size_t>(n));
        char* room = BeginAppendToLog(MostLogBytes(datagram.size()));
        EndAppendToLog(static_cast<std::size_t>(SplitLines(datagram, room) - room));
    }
}

void CCisternView::ReadClient(ws::SOCKET s)
{
    std::size_t taken = 0;
    while (taken < kMaxStreamBytesPerEvent) {
        if (LogIsBehind()) {
            m_clients.at(s).waiting = true;
            return;
        }
        const int n = ws::recv(s, m_recvBuffer.data(), static_cast<int>(m_recvBuffer.size()), 0);
        if (n <= 0)
            break;   // nothing more now; a close is announced by its own event
        taken += static_cast<std::size_t>(n);
        m_lines.Feed(s, std::string_view(m_recvBuffer.data(), static_cast<std::size_t>(n)));
        if (static_cast<std::size_t>(n) < m_recvBuffer.size())
            break;
    }
}

// While the log cannot keep up (its disk far behind, or a load or save holding much that arrived
// meanwhile), sockets are left unread: no further read event comes until a socket is read again,
// and the senders are held back (TCP) or their datagrams wait in the socket's buffer. Reading goes
// on here.
void CCisternView::OnLogCaughtUp()
{
    std::vector<ws::SOCKET> waiting;
    for (auto& [s, client] : m_clients)
        if (std::exchange(client.waiting, false))
            waiting.push_back(s);
    for (const ws::SOCKET s : waiting)
        if (m_clients.count(s) != 0)
            ReadClient(s);
    if (std::exchange(m_datagramsWaiting, false) && m_listenSocket != 0 && !m_listenIsStream)
        ReadDatagrams();
}

void CCisternView::OnClientClosed(ws::SOCKET s)
{
    auto it = m_clients.find(s);
    const ws::SOCKET acceptedFrom = it->second.acceptedFrom;
    m_clients.erase(it);
    ws::closesocket(s);
    // A line still open when the client closed is a whole line.
    m_lines.Close(s);
    AppendToLog(kCloseLine);
    // The close ends the binding the client came from, and no later one. Clients already waiting
    // on it are taken first: closing the socket would reset them, and they have sent their lines.
    if (acceptedFrom == m_listenSocket || m_listenSocket == 0) {
        if (m_listenSocket != 0)
            AcceptWaitingClients();
        CloseConnection();
    }
}

// Takes every client waiting on the bound socket that the socket service has room for: one event
// may stand for many connections. The last one taken is the view's client socket.
int CCisternView::AcceptWaitingClients()
{
    int taken = 0;
    for (; taken < kMostAcceptsAtOnce; ++taken) {
        const ws::SOCKET client = ws::accept(m_listenSocket, nullptr, nullptr);
        if (client == ws::INVALID_SOCKET)
            break;   // none left (WSAEWOULDBLOCK), or no room for another
        m_clientSocket = client;
        m_clients[client].acceptedFrom = m_listenSocket;
    }
    return taken;
}
