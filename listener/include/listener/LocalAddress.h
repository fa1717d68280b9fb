// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Choosing the address that other machines can reach this one on.
#include "platform/winsock.h"

#include <cstdint>
#include <optional>
#include <vector>

// From the addresses the host name resolved to (in their order) and the machine's interfaces:
// the first resolved address that is not a loopback one; when all of them are loopback, the first
// address of an interface that is up and not loopback; when there is none, the first resolved
// address. Nothing when nothing resolved. Addresses in network byte order.
std::optional<std::uint32_t> ChooseLocalAddress(const std::vector<std::uint32_t>& resolved,
                                                const std::vector<ws::InterfaceAddress>& interfaces);
