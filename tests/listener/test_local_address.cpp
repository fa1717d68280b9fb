// SPDX-License-Identifier: GPL-3.0-or-later
// Choosing the address to offer: one that other machines can reach.
#include "listener/LocalAddress.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

TEST(ChooseLocalAddress, PrefersTheFirstResolvedAddressNotLoopbackThenAnUpInterface)
{
    const auto a = [](const char* dotted) { return std::uint32_t(::inet_addr(dotted)); };
    EXPECT_EQ(ChooseLocalAddress({a("127.0.1.1"), a("198.51.100.4"), a("192.0.2.7")}, {}), a("198.51.100.4"));
    // The name gives loopback only: the first interface that is up and not loopback.
    const std::vector<ws::InterfaceAddress> interfaces = {
        {a("127.0.0.1"), true, true}, {a("203.0.113.9"), false, false}, {a("192.0.2.33"), true, false}};
    EXPECT_EQ(ChooseLocalAddress({a("127.0.1.1")}, interfaces), a("192.0.2.33"));
    // Nothing else is up: the resolved loopback address it is.
    EXPECT_EQ(ChooseLocalAddress({a("127.0.1.1")}, {interfaces[0], interfaces[1]}), a("127.0.1.1"));
    EXPECT_EQ(ChooseLocalAddress({}, interfaces), std::nullopt);
}
