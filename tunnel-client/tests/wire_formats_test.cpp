#include "session/wire.h"
#include "support/session_fixtures.h"

#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::testing;

TEST(WireFormats, HeaderIsLittleEndianAndNeedsEighteenBytes) {
    PacketHeader h(MessageType::Batch, 0x0102030405060708ull, 0x8000000000000009ull);
    auto bytes = h.encode();
    EXPECT_EQ(toHex(bytes), "02120807060504030201" "0900000000000080");
    auto back = PacketHeader::decode(bytes);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->version, 2);
    EXPECT_EQ(back->type, 18);
    EXPECT_EQ(back->sessionId, 0x0102030405060708ull);
    EXPECT_EQ(back->counter, 0x8000000000000009ull);
    EXPECT_FALSE(PacketHeader::decode(std::span(bytes.data(), 17)).has_value());
}

TEST(WireFormats, AuthRequestBodiesAndFieldRules) {
    const auto& v = vectors()["auth_request_body"];
    auto l2 = AuthRequest::encode(v["user"].get<std::string>(), v["password"].get<std::string>(),
                                  v["node"].get<std::string>(), TunnelMode::l2);
    ASSERT_TRUE(l2.has_value());
    EXPECT_EQ(toHex(*l2), v["l2"]);
    auto l3 = AuthRequest::encode(v["user"].get<std::string>(), v["password"].get<std::string>(),
                                  v["node"].get<std::string>(), TunnelMode::l3);
    ASSERT_TRUE(l3.has_value());
    EXPECT_EQ(toHex(*l3), v["l3"]);

    auto decoded = AuthRequest::decode(*l3);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->user, "alice");
    EXPECT_EQ(decoded->mode, TunnelMode::l3);
    EXPECT_FALSE(AuthRequest::decode(std::span(l3->data(), l3->size() - 1)).has_value());

    auto failText = [](std::string_view u, std::string_view p, std::string_view n) {
        auto r = AuthRequest::encode(u, p, n, TunnelMode::l2);
        return r ? std::string("ok") : r.error().detail();
    };
    const std::string u32(32, 'u'), p64(64, 'p'), n32(32, 'n');
    EXPECT_EQ(failText(u32, p64, n32), "ok");
    EXPECT_EQ(failText(std::string(33, 'u'), "p", "n"), "protocol error: username");
    EXPECT_EQ(failText("", "p", "n"), "protocol error: username");
    EXPECT_EQ(failText(std::string("a\0b", 3), "p", "n"), "protocol error: username");
    EXPECT_EQ(failText("u", "", "n"), "protocol error: password");
    EXPECT_EQ(failText("u", std::string(65, 'p'), "n"), "protocol error: password");
    EXPECT_EQ(failText("u", "p", std::string("n\0", 2)), "protocol error: node");
    EXPECT_EQ(failText("u", "p", std::string(33, 'n')), "protocol error: node");
    // The first broken field is the one named.
    EXPECT_EQ(failText("", "", ""), "protocol error: username");
}

TEST(WireFormats, AuthFailDecoding) {
    auto decode = [](const Bytes& body) { return AuthFail::decode(body); };
    auto one = decode({7});
    ASSERT_TRUE(one.has_value());
    EXPECT_EQ(one->code, 7);
    EXPECT_EQ(one->reason, "");
    auto empty = decode({7, 0});
    ASSERT_TRUE(empty.has_value());
    EXPECT_EQ(empty->reason, "");

    Bytes withReason = AuthFail::encode(3, "full \xc3\xa9");
    auto r = decode(withReason);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->code, 3);
    EXPECT_EQ(r->reason, "full \xc3\xa9");

    auto detail = [&](const Bytes& body) {
        auto x = decode(body);
        return x ? std::string("ok") : x.error().detail();
    };
    EXPECT_EQ(detail({}), "protocol error: short AUTH_FAIL");
    EXPECT_EQ(detail({7, 5, 'a', 'b', 'c', 'd'}), "protocol error: malformed AUTH_FAIL");
    EXPECT_EQ(detail({7, 1, 'a', 'b'}), "protocol error: malformed AUTH_FAIL");
    Bytes long159{1, 159};
    long159.resize(161, 'x');
    EXPECT_EQ(detail(long159), "ok");
    Bytes long160{1, 160};
    long160.resize(162, 'x');
    EXPECT_EQ(detail(long160), "protocol error: AUTH_FAIL reason too long");
    EXPECT_EQ(detail({1, 1, 0xff}), "protocol error: AUTH_FAIL reason utf8");
    EXPECT_EQ(detail({1, 2, 0xc3, 0x28}), "protocol error: AUTH_FAIL reason utf8");
    EXPECT_EQ(detail({1, 2, 0xc0, 0x80}), "protocol error: AUTH_FAIL reason utf8");          // overlong
    EXPECT_EQ(detail({1, 3, 0xed, 0xa0, 0x80}), "protocol error: AUTH_FAIL reason utf8");    // surrogate
    EXPECT_EQ(detail({1, 3, 0xe2, 0x82, 0xac}), "ok");                                       // euro sign
    EXPECT_EQ(detail({1, 2, 0xe2, 0x82}), "protocol error: AUTH_FAIL reason utf8");          // cut short
}

TEST(WireFormats, AuthOkDecodesVectorAndRoundTrips) {
    const auto& v = vectors()["auth_ok"];
    Bytes plain = fromHex(v["plaintext"]);
    auto ok = AuthOk::decode(plain);
    ASSERT_TRUE(ok.has_value());
    EXPECT_EQ(ok->sessionId, 0xaabbccdd11223344ull);
    EXPECT_EQ(ok->address, (Ipv4Address{10, 77, 0, 5}));
    EXPECT_EQ(ok->netmask, (Ipv4Address{255, 255, 255, 0}));
    EXPECT_EQ(ok->gateway, (Ipv4Address{10, 77, 0, 1}));
    EXPECT_EQ(ok->dns, (Ipv4Address{0, 0, 0, 0}));
    EXPECT_EQ(ok->mtu, 1420);
    EXPECT_EQ(ok->serverMode(), TunnelMode::l2);
    EXPECT_EQ(ok->addressFlags, 3);
    EXPECT_TRUE(ok->ipv4Valid());
    EXPECT_TRUE(ok->ipv6Valid());
    EXPECT_EQ(toHex(ok->address6), "fd000000000000000000000000000005");
    EXPECT_EQ(ok->prefix6, 64);
    EXPECT_EQ(toHex(ok->gateway6), "fd000000000000000000000000000001");
    EXPECT_EQ(toHex(ok->dns6), "20014860486000000000000000008888");
    auto encoded = ok->encode();
    EXPECT_EQ(toHex(encoded), v["plaintext"]);

    Mac mac = sessionMac(ok->sessionId);
    EXPECT_EQ(toHex(mac), "020011223344");
    EXPECT_EQ(toHex(sessionMac(0x12345678)), "020012345678");

    auto shortOk = AuthOk::decode(std::span(plain.data(), 76));
    ASSERT_FALSE(shortOk.has_value());
    EXPECT_EQ(shortOk.error().detail(), "protocol error: short AUTH_OK");
    Bytes longer = plain;
    longer.resize(90, 0xee);
    auto more = AuthOk::decode(longer);
    ASSERT_TRUE(more.has_value());
    EXPECT_EQ(more->dns6, ok->dns6);
}
