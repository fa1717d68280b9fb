// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Translation of POSIX and resolver failures into Winsock error codes, the one last-error slot,
// and the start-up check that the socket and name halves of the service share.

namespace ws::detail {

// Codes the service can report beyond those the public header names.
inline constexpr int WSAEINTR = 10004;
inline constexpr int WSAEALREADY = 10037;
inline constexpr int WSAEDESTADDRREQ = 10039;
inline constexpr int WSAEPROTOTYPE = 10041;
inline constexpr int WSAENOPROTOOPT = 10042;
inline constexpr int WSAEPROTONOSUPPORT = 10043;
inline constexpr int WSAESOCKTNOSUPPORT = 10044;
inline constexpr int WSAENETDOWN = 10050;
inline constexpr int WSAENETUNREACH = 10051;
inline constexpr int WSAECONNABORTED = 10053;
inline constexpr int WSAEISCONN = 10056;
inline constexpr int WSAESHUTDOWN = 10058;
inline constexpr int WSAETIMEDOUT = 10060;
inline constexpr int WSAECONNREFUSED = 10061;
inline constexpr int WSAEHOSTUNREACH = 10065;
inline constexpr int WSAVERNOTSUPPORTED = 10092;
inline constexpr int WSATRY_AGAIN = 11002;
inline constexpr int WSANO_RECOVERY = 11003;

// The Winsock code for an errno value. Anything without a counterpart becomes WSAEINVAL.
int WsaCodeFromErrno(int err);

// The Winsock code for a getaddrinfo() result (EAI_*).
int WsaCodeFromResolver(int eaiCode);

// Stores code as the last error (what WSAGetLastError returns).
void SetLastErrorCode(int code);

// Stores the translation of errno as the last error.
void SetLastErrorFromErrno();

// Whether WSAStartup has run; when not, the last error becomes WSANOTINITIALISED.
bool Started();

} // namespace ws::detail
