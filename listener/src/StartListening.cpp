// SPDX-License-Identifier: GPL-3.0-or-later
// Opening the bound socket.
#include "listener/CisternView.h"

#include <cstdlib>
#include <cstring>

int CCisternView::StartListening(LPCSTR host, LPCSTR port)
{
    ws::sockaddr_in addr;
    std::memset(&addr, 0, sizeof addr);

    // The port's decimal value, its low 16 bits in network order.
    addr.sin_port = ws::htons(static_cast<unsigned short>(std::atoi(port) & 0xFFFF));

    const unsigned char first = static_cast<unsigned char>(host[0]);
    if (first < '0' || first > '9') {
        ws::hostent* entry = ws::gethostbyname(host);
        if (entry == nullptr || entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr)
            return 1;
        const std::size_t length = std::min<std::size_t>(static_cast<std::size_t>(entry->h_length),
                                                         sizeof addr.sin_addr);
        std::memcpy(&addr.sin_addr, entry->h_addr_list[0], length);
        addr.sin_family = static_cast<sa_family_t>(entry->h_addrtype);
    } else {
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = static_cast<in_addr_t>(ws::inet_addr(host));
    }

    const ws::SOCKET s = ws::socket(AF_INET, m_nProtocol == 0 ? SOCK_DGRAM : SOCK_STREAM, 0);
    if (s == ws::INVALID_SOCKET)
        return 2;

    if (ws::bind(s, reinterpret_cast<const ws::sockaddr*>(&addr), sizeof addr) == ws::SOCKET_ERROR) {
        ws::closesocket(s);
        return 3;
    }

    // The options for lingering, address reuse, keep-alive and in-line urgent data are not set
    // here: a stream socket reuses its address from the moment it is made, and nothing else
    // depends on them.

    if (ws::WSAAsyncSelect(s, GetSafeHwnd(), WM_SOCKET_NOTIFY,
                           ws::FD_READ | ws::FD_WRITE | ws::FD_OOB | ws::FD_ACCEPT | ws::FD_CLOSE)
        == ws::SOCKET_ERROR) {
        ws::closesocket(s);
        return 5;
    }

    // The longest queue the system allows: clients beyond it would see their connection made and
    // their lines sent, then lost. A datagram socket needs no listening. A stream socket can bind a port that another socket
    // holds (address reuse) and only fail here; that is a failed bind, with the code that says why.
    if (m_nProtocol != 0 && ws::listen(s, SOMAXCONN) == ws::SOCKET_ERROR) {
        ws::closesocket(s);
        return 3;
    }

    m_listenIsStream = m_nProtocol != 0;
    m_listenSocket = s;
    return 0;
}
