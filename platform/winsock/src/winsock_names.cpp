// SPDX-License-Identifier: GPL-3.0-or-later
// The socket service's names and addresses: the host name, name resolution, dotted addresses,
// byte order and the machine's interface addresses, with the hooks that replace the system's
// answers in tests. The sockets and their events are in winsock.cpp.
#include "platform/winsock.h"

#include "winsock_errors.h"

#include <algorithm>
#include <cstring>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <unistd.h>

namespace ws {

namespace {

using detail::SetLastErrorCode;

struct HostStorage {
    hostent entry{};
    std::string name;
    std::vector<in_addr> addresses;
    std::vector<char*> addressList;
    char* aliases[1] = {nullptr};
};

struct Names {
    Resolver resolver;
    std::function<std::string()> hostName;
    std::function<std::vector<InterfaceAddress>()> interfaces;
    HostStorage host;
};

Names& names()
{
    static Names instance;
    return instance;
}

std::string localHostName()
{
    if (names().hostName)
        return names().hostName();
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0)
        return {};
    return buf;
}

hostent* fillHost(const std::string& name, const std::vector<std::uint32_t>& addresses)
{
    HostStorage& h = names().host;
    h.name = name;
    h.addresses.clear();
    for (const std::uint32_t a : addresses) {
        in_addr in{};
        in.s_addr = a;
        h.addresses.push_back(in);
    }
    h.addressList.clear();
    for (in_addr& in : h.addresses)
        h.addressList.push_back(reinterpret_cast<char*>(&in));
    h.addressList.push_back(nullptr);
    h.aliases[0] = nullptr;

    h.entry.h_name = h.name.data();
    h.entry.h_aliases = h.aliases;
    h.entry.h_addrtype = AF_INET;
    h.entry.h_length = 4;
    h.entry.h_addr_list = h.addressList.data();
    return &h.entry;
}

} // namespace

int gethostname(char* name, int namelen)
{
    if (!detail::Started())
        return SOCKET_ERROR;
    if (name == nullptr || namelen <= 0) {
        SetLastErrorCode(WSAEFAULT);
        return SOCKET_ERROR;
    }
    const std::string host = localHostName();
    if (host.size() + 1 > static_cast<std::size_t>(namelen)) {
        SetLastErrorCode(WSAEFAULT);
        return SOCKET_ERROR;
    }
    std::memcpy(name, host.c_str(), host.size() + 1);
    return 0;
}

hostent* gethostbyname(const char* name)
{
    if (!detail::Started())
        return nullptr;
    const std::string query = (name != nullptr && *name != '\0') ? std::string(name) : localHostName();

    Names& svc = names();
    if (svc.resolver) {
        ResolvedHost answer;
        if (!svc.resolver(query, answer)) {
            SetLastErrorCode(WSAHOST_NOT_FOUND);
            return nullptr;
        }
        if (answer.addresses.empty()) {
            SetLastErrorCode(WSANO_DATA);
            return nullptr;
        }
        return fillHost(answer.name.empty() ? query : answer.name, answer.addresses);
    }

    if (query.empty()) {
        SetLastErrorCode(WSAHOST_NOT_FOUND);
        return nullptr;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* list = nullptr;
    const int rc = ::getaddrinfo(query.c_str(), nullptr, &hints, &list);
    if (rc != 0) {
        SetLastErrorCode(detail::WsaCodeFromResolver(rc));
        return nullptr;
    }
    std::string official = query;
    std::vector<std::uint32_t> addresses;
    for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        if (ai == list && ai->ai_canonname != nullptr)
            official = ai->ai_canonname;
        if (ai->ai_family != AF_INET || ai->ai_addr == nullptr)
            continue;
        const auto a = reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr;
        if (std::find(addresses.begin(), addresses.end(), a) == addresses.end())
            addresses.push_back(a);
    }
    ::freeaddrinfo(list);
    if (addresses.empty()) {
        SetLastErrorCode(WSANO_DATA);
        return nullptr;
    }
    return fillHost(official, addresses);
}

unsigned long inet_addr(const char* cp)
{
    // The C library reads the same forms as Winsock: "a.b.c.d", "a.b.c", "a.b" or "a", each part in
    // decimal, octal or hexadecimal, ending at the end or at white space; anything else is
    // INADDR_NONE.
    return cp != nullptr ? ::inet_addr(cp) : INADDR_NONE;
}

char* inet_ntoa(in_addr in)
{
    return ::inet_ntoa(in);
}

unsigned short htons(unsigned short hostshort)
{
    return ::htons(hostshort);
}

std::vector<InterfaceAddress> GetInterfaceAddresses()
{
    Names& svc = names();
    if (svc.interfaces)
        return svc.interfaces();

    std::vector<InterfaceAddress> result;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return result;
    for (const ifaddrs* ifa = list; ifa != nullptr; ifa = ifa->ifa_next) {
        if (ifa->ifa_addr == nullptr || ifa->ifa_addr->sa_family != AF_INET)
            continue;
        InterfaceAddress entry;
        entry.address = reinterpret_cast<const sockaddr_in*>(ifa->ifa_addr)->sin_addr.s_addr;
        entry.up = (ifa->ifa_flags & IFF_UP) != 0;
        entry.loopback = (ifa->ifa_flags & IFF_LOOPBACK) != 0;
        result.push_back(entry);
    }
    ::freeifaddrs(list);
    return result;
}

// ---- Test hooks ------------------------------------------------------------------------------

void SetResolverForTesting(Resolver resolver)
{
    names().resolver = std::move(resolver);
}

void SetHostNameForTesting(std::function<std::string()> hostName)
{
    names().hostName = std::move(hostName);
}

void SetInterfacesForTesting(std::function<std::vector<InterfaceAddress>()> interfaces)
{
    names().interfaces = std::move(interfaces);
}

} // namespace ws
