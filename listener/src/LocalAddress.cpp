// SPDX-License-Identifier: GPL-3.0-or-later
// Local address discovery.
#include "listener/CisternView.h"
#include "listener/LocalAddress.h"

#include <cstdio>
#include <cstring>

namespace {
// Whether an address (network byte order) is in 127.0.0.0/8.
bool IsLoopbackAddress(std::uint32_t address)
{
    // In network byte order the first octet is the first byte in memory.
    unsigned char octets[4];
    std::memcpy(octets, &address, sizeof octets);
    return octets[0] == 127;
}
} // namespace

std::optional<std::uint32_t> ChooseLocalAddress(const std::vector<std::uint32_t>& resolved,
                                                const std::vector<ws::InterfaceAddress>& interfaces)
{
    if (resolved.empty())
        return std::nullopt;
    for (const std::uint32_t a : resolved)
        if (!IsLoopbackAddress(a))
            return a;
    for (const ws::InterfaceAddress& i : interfaces)
        if (i.up && !i.loopback && !IsLoopbackAddress(i.address) && i.address != 0)
            return i.address;
    return resolved.front();
}

CString CCisternView::GetLocalAddress()
{
    BeginWaitCursor();
    char name[100];
    std::memset(name, 0, sizeof name);
    ws::gethostname(name, sizeof name);

    CString result;
    const ws::hostent* entry = ws::gethostbyname(name);
    if (entry == nullptr) {
        std::printf("\n\nUnable to get local IP address.");
        std::fflush(stdout);
    } else {
        std::vector<std::uint32_t> resolved;
        for (char** p = entry->h_addr_list; p != nullptr && *p != nullptr; ++p) {
            std::uint32_t a = 0;
            std::memcpy(&a, *p, sizeof a);
            resolved.push_back(a);
        }
        if (const auto chosen = ChooseLocalAddress(resolved, ws::GetInterfaceAddresses())) {
            ws::in_addr in;
            in.s_addr = *chosen;
            result = ws::inet_ntoa(in);
        }
    }
    EndWaitCursor();
    return result;
}
