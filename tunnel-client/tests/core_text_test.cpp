#include "core/text.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

using namespace ostrel;

namespace {
Ipv6Address v6(const char* text)
{
    Ipv6Address bytes{};
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

TEST(Jaro, KnownValues)
{
    EXPECT_DOUBLE_EQ(jaroSimilarity("", ""), 1.0);
    EXPECT_DOUBLE_EQ(jaroSimilarity("", "a"), 0.0);
    EXPECT_DOUBLE_EQ(jaroSimilarity("abc", "abc"), 1.0);
    EXPECT_DOUBLE_EQ(jaroSimilarity("abc", "xyz"), 0.0);
    EXPECT_NEAR(jaroSimilarity("martha", "marhta"), 0.944444, 1e-5);
    EXPECT_NEAR(jaroSimilarity("dixon", "dicksonx"), 0.766667, 1e-5);
    EXPECT_NEAR(jaroSimilarity("jellyfish", "smellyfish"), 0.896296, 1e-5);
    // Matches only count within the window: "l3" vs "L3" lands below the tip threshold.
    EXPECT_NEAR(jaroSimilarity("L3", "l3"), 2.0 / 3.0, 1e-9);
    // Multi-byte letters count once each.
    EXPECT_DOUBLE_EQ(jaroSimilarity("é", "é"), 1.0);
    EXPECT_NEAR(jaroSimilarity("sérver", "server"), jaroSimilarity("sxrver", "server"), 1e-12);
}

TEST(Utf8, ValidationAndLossy)
{
    EXPECT_TRUE(isValidUtf8(""));
    EXPECT_TRUE(isValidUtf8("plain"));
    EXPECT_TRUE(isValidUtf8("\xc3\xa9\xe2\x82\xac\xf0\x9f\x8e\xae"));
    EXPECT_TRUE(isValidUtf8("\xf4\x8f\xbf\xbf"));
    EXPECT_FALSE(isValidUtf8("\xff"));
    EXPECT_FALSE(isValidUtf8("\xc0\xaf"));          // overlong
    EXPECT_FALSE(isValidUtf8("\xe0\x80\xaf"));      // overlong
    EXPECT_FALSE(isValidUtf8("\xed\xa0\x80"));      // surrogate
    EXPECT_FALSE(isValidUtf8("\xf4\x90\x80\x80"));  // past U+10FFFF
    EXPECT_FALSE(isValidUtf8("\xe2\x82"));          // truncated
    EXPECT_EQ(lossyUtf8("a\xffz"), "a\xEF\xBF\xBDz");
    // A truncated sequence is one replacement; a bad lead byte is one each.
    EXPECT_EQ(lossyUtf8("\xe2\x82z"), "\xEF\xBF\xBDz");
    EXPECT_EQ(lossyUtf8("\xc0\xaf"), "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(lossyUtf8("ok\xc3\xa9"), "ok\xc3\xa9");
}

TEST(AdapterNames, TrimAndFoldedCompare)
{
    EXPECT_EQ(trim(" \t ostrel0\r\n"), "ostrel0");
    EXPECT_EQ(trim("a b"), "a b");
    EXPECT_EQ(trim(" \f\v "), "");
    EXPECT_TRUE(equalsFolded("ROOT\\Tap0901", "root\\tap0901"));
    EXPECT_FALSE(equalsFolded("tap0901", "tap090"));
    EXPECT_FALSE(equalsFolded("tap0901", "tap0902"));
    // Only ASCII letters fold: other bytes must match as they are.
    EXPECT_FALSE(equalsFolded("\xc3\xa9", "\xc3\x89"));
    EXPECT_FALSE(equalsFolded("[", "{"));
}
