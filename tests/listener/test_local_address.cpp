// Choosing the address to offer: one that other machines can reach.
#include "listener/LocalAddress.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace {
std::uint32_t A(const char* dotted)
{
    return ::inet_addr(dotted);
}
ws::InterfaceAddress If(const char* dotted, bool up, bool loopback)
{
    return {A(dotted), up, loopback};
}
} // namespace

TEST(ChooseLocalAddress, PrefersAResolvedAddressThatIsNotLoopback)
{
    EXPECT_EQ(ChooseLocalAddress({A("192.0.2.7")}, {}), A("192.0.2.7"));
    EXPECT_EQ(ChooseLocalAddress({A("127.0.1.1"), A("198.51.100.4")}, {}), A("198.51.100.4"));
    EXPECT_EQ(ChooseLocalAddress({A("198.51.100.4"), A("192.0.2.7")}, {}), A("198.51.100.4"));
}

TEST(ChooseLocalAddress, FallsBackToAnUpInterfaceWhenTheNameIsLoopbackOnly)
{
    const std::vector<ws::InterfaceAddress> interfaces = {
        If("127.0.0.1", true, true),
        If("203.0.113.9", false, false),   // down
        If("192.0.2.33", true, false),
        If("198.51.100.1", true, false),
    };
    EXPECT_EQ(ChooseLocalAddress({A("127.0.1.1")}, interfaces), A("192.0.2.33"));
    // Nothing else is up: the resolved loopback address it is.
    EXPECT_EQ(ChooseLocalAddress({A("127.0.1.1")}, {If("127.0.0.1", true, true), If("203.0.113.9", false, false)}),
              A("127.0.1.1"));
    EXPECT_EQ(ChooseLocalAddress({}, interfaces), std::nullopt);
}
