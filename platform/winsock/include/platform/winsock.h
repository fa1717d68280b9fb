// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The socket service: Windows Sockets 1.1 as the system calls it, on POSIX sockets.
//
// Handles are the service's own 32-bit numbers, never 0 and never a raw descriptor, and never
// reused soon after a close. Errors are kept as Winsock codes for WSAGetLastError. Events are
// delivered with WSAAsyncSelect as posted window messages (see winmsg.h) from the one UI thread.
// Everything lives in namespace ws so that no call can slip through to the POSIX function of the
// same name.
#include "platform/types.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// With optimisation on, glibc makes htons a function-like macro, which would rename ws::htons below
// (and every call to it). The real function stays available as ::htons.
#ifdef htons
#undef htons
#endif

namespace ws {

using ::hostent;
using ::in_addr;
using ::sockaddr;
using ::sockaddr_in;

using SOCKET = std::uint32_t;
inline constexpr SOCKET INVALID_SOCKET = ~SOCKET{0};
inline constexpr int SOCKET_ERROR = -1;

// What WSAStartup reports: the version of the service it agreed to.
struct WSADATA {
    WORD wVersion = 0;
    WORD wHighVersion = 0;
};

// Event bits of WSAAsyncSelect.
inline constexpr long FD_READ = 0x01;
inline constexpr long FD_WRITE = 0x02;
inline constexpr long FD_OOB = 0x04;
inline constexpr long FD_ACCEPT = 0x08;
inline constexpr long FD_CONNECT = 0x10;
inline constexpr long FD_CLOSE = 0x20;

inline constexpr WORD WSAGETSELECTEVENT(LPARAM l) { return LOWORD(static_cast<std::uintptr_t>(l)); }
inline constexpr WORD WSAGETSELECTERROR(LPARAM l) { return HIWORD(static_cast<std::uintptr_t>(l)); }

// Error codes.
inline constexpr int WSAEFAULT = 10014;
inline constexpr int WSAEACCES = 10013;
inline constexpr int WSAEINVAL = 10022;
inline constexpr int WSAEMFILE = 10024;
inline constexpr int WSAEWOULDBLOCK = 10035;
inline constexpr int WSAENOTSOCK = 10038;
inline constexpr int WSAEMSGSIZE = 10040;
inline constexpr int WSAEOPNOTSUPP = 10045;
inline constexpr int WSAEAFNOSUPPORT = 10047;
inline constexpr int WSAEADDRINUSE = 10048;
inline constexpr int WSAEADDRNOTAVAIL = 10049;
inline constexpr int WSAECONNRESET = 10054;
inline constexpr int WSAENOBUFS = 10055;
inline constexpr int WSAENOTCONN = 10057;
inline constexpr int WSANOTINITIALISED = 10093;
inline constexpr int WSAHOST_NOT_FOUND = 11001;
inline constexpr int WSANO_DATA = 11004;

int WSAStartup(WORD wVersionRequested, WSADATA* data);
int WSAGetLastError();

SOCKET socket(int af, int type, int protocol);
int bind(SOCKET s, const sockaddr* name, int namelen);
int WSAAsyncSelect(SOCKET s, HWND hWnd, UINT wMsg, long lEvent);
int listen(SOCKET s, int backlog);   // SOMAXCONN: the longest queue the system allows
SOCKET accept(SOCKET s, sockaddr* addr, int* addrlen);
int recv(SOCKET s, char* buf, int len, int flags);
int closesocket(SOCKET s);

int gethostname(char* name, int namelen);
hostent* gethostbyname(const char* name);
unsigned long inet_addr(const char* cp);
char* inet_ntoa(in_addr in);
unsigned short htons(unsigned short hostshort);

// ---- Beyond Winsock 1.1: what the sound behaviours and the receive path need -----------------

// The port a bound socket actually holds (host order), or 0 when unknown.
unsigned short GetBoundPort(SOCKET s);

// One IPv4 address of a network interface, in network byte order.
struct InterfaceAddress {
    std::uint32_t address = 0;
    bool up = false;
    bool loopback = false;
};
std::vector<InterfaceAddress> GetInterfaceAddresses();

// Number of handles the service holds open now (for leak checks).
int OpenHandleCount();

// ---- Test hooks ---------------------------------------------------------------------------------
struct ResolvedHost {
    std::string name;                        // official name
    std::vector<std::uint32_t> addresses;    // network byte order
};
// Replaces name resolution (nullopt-like: return false for "not found"). nullptr restores the system's.
using Resolver = std::function<bool(const std::string& name, ResolvedHost& out)>;
void SetResolverForTesting(Resolver resolver);
// Replaces the host-name query. nullptr restores the system's.
void SetHostNameForTesting(std::function<std::string()> hostName);
// Replaces the interface list. nullptr restores the system's.
void SetInterfacesForTesting(std::function<std::vector<InterfaceAddress>()> interfaces);
// Makes the next WSAStartup fail with the given code (0 clears).
void FailNextStartupForTesting(int code);

} // namespace ws
