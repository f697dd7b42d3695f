#include "events/text_forms.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

using namespace ostrel;

namespace {
Ipv6Bytes v6(const char* text)
{
    Ipv6Bytes bytes{};
    EXPECT_EQ(inet_pton(AF_INET6, text, bytes.data()), 1) << text;
    return bytes;
}
} // namespace

TEST(TextForms, Ipv4AndDecimalAndSession)
{
    EXPECT_EQ(ipv4Text({192, 168, 7, 10}), "192.168.7.10");
    EXPECT_EQ(ipv4Text({0, 0, 0, 0}), "0.0.0.0");
    EXPECT_EQ(ipv4Text({10, 0, 100, 255}), "10.0.100.255");
    EXPECT_EQ(decimalText(0), "0");
    EXPECT_EQ(decimalText(1420), "1420");
    EXPECT_EQ(sessionText(255), "00000000000000ff");
    EXPECT_EQ(sessionText(0), "0000000000000000");
    EXPECT_EQ(sessionText(0xDEADBEEF01234567ull), "deadbeef01234567");
}

TEST(TextForms, Ipv6CanonicalForm)
{
    EXPECT_EQ(ipv6Text(v6("0:0:0:0:0:0:0:0")), "::");
    EXPECT_EQ(ipv6Text(v6("0:0:0:0:0:0:0:1")), "::1");
    EXPECT_EQ(ipv6Text(v6("FD00:0000:0000:0000:0000:0000:0000:0001")), "fd00::1");
    EXPECT_EQ(ipv6Text(v6("2001:db8:0:0:1:0:0:1")), "2001:db8::1:0:0:1");     // first of equal runs
    EXPECT_EQ(ipv6Text(v6("2001:0:0:1:0:0:0:1")), "2001:0:0:1::1");          // longest run wins
    EXPECT_EQ(ipv6Text(v6("2001:db8:0:1:1:1:1:1")), "2001:db8:0:1:1:1:1:1"); // lone zero kept
    EXPECT_EQ(ipv6Text(v6("fe80:0:0:0:abcd:12:0:0")), "fe80::abcd:12:0:0");
    EXPECT_EQ(ipv6Text(v6("1:0:0:0:0:0:0:0")), "1::");
    EXPECT_EQ(ipv6Text(v6("0:0:1:0:0:0:0:0")), "0:0:1::");
    EXPECT_EQ(ipv6Text(v6("::ffff:10.1.2.3")), "::ffff:10.1.2.3");
    EXPECT_EQ(ipv6CompressedText(v6("::ffff:10.1.2.3")), "::ffff:a01:203");  // netsh form keeps hex
    EXPECT_EQ(ipv6CompressedText(v6("2001:db8:0:0:1:0:0:1")), "2001:db8::1:0:0:1");
    EXPECT_EQ(ipv6Text(v6("ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff")),
              "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff");
}

TEST(TextForms, PrefixCountsLeadingOnesOnly)
{
    EXPECT_EQ(prefixFromNetmask({255, 255, 255, 0}), 24u);
    EXPECT_EQ(prefixFromNetmask({255, 255, 255, 255}), 32u);
    EXPECT_EQ(prefixFromNetmask({0, 0, 0, 0}), 0u);
    EXPECT_EQ(prefixFromNetmask({255, 255, 192, 0}), 18u);
    EXPECT_EQ(prefixFromNetmask({255, 0, 255, 0}), 8u);
    EXPECT_EQ(prefixFromNetmask({254, 255, 255, 255}), 7u);
    EXPECT_EQ(prefixFromNetmask({255, 255, 255, 253}), 30u);
}
