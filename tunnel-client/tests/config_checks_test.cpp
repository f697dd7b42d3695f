#include "driver/config_checks.h"

#include <gtest/gtest.h>

using namespace ostrel;

namespace {

Args argsWith(std::optional<TunnelMode> mode, std::optional<DeviceKind> device)
{
    Args a;
    // Assigned as strings, not literals: g++ 12 at -O3 takes a literal's
    // assignment here for an overlapping copy (-Wrestrict).
    a.server = std::string("s");
    a.node = std::string("n");
    a.mode = mode;
    a.device = device;
    a.insecure_skip_server_auth = true;
    return a;
}

std::string detailOf(const std::expected<std::optional<ServerAuthKey>, ClientError>& r)
{
    return r ? std::string("ok") : r.error().code() + "|" + r.error().detail();
}

} // namespace

TEST(ConfigChecks, ServerAddressAddsDefaultPortOnlyWithoutColon)
{
    EXPECT_EQ(serverAddress("10.0.0.1"), "10.0.0.1:7100");
    EXPECT_EQ(serverAddress("vpn.example.net"), "vpn.example.net:7100");
    EXPECT_EQ(serverAddress("host:9000"), "host:9000");
    EXPECT_EQ(serverAddress("host:"), "host:");
    EXPECT_EQ(serverAddress("::1"), "::1");
    EXPECT_EQ(serverAddress("[fe80::1]"), "[fe80::1]");
    EXPECT_EQ(serverAddress(""), ":7100");
}

TEST(ConfigChecks, TunnelModeSelection)
{
    using M = TunnelMode;
    using D = DeviceKind;
    EXPECT_EQ(selectTunnelMode(argsWith(std::nullopt, std::nullopt)).value(), M::l2);
    EXPECT_EQ(selectTunnelMode(argsWith(M::l3, std::nullopt)).value(), M::l3);
    EXPECT_EQ(selectTunnelMode(argsWith(M::l2, std::nullopt)).value(), M::l2);
    EXPECT_EQ(selectTunnelMode(argsWith(std::nullopt, D::wintun)).value(), M::l3);
    EXPECT_EQ(selectTunnelMode(argsWith(std::nullopt, D::tap)).value(), M::l2);
    EXPECT_EQ(selectTunnelMode(argsWith(M::l3, D::wintun)).value(), M::l3);
    EXPECT_EQ(selectTunnelMode(argsWith(M::l2, D::tap)).value(), M::l2);
    for (auto [mode, device] : {std::pair{M(M::l2), D(D::wintun)}, std::pair{M(M::l3), D(D::tap)}}) {
        auto r = selectTunnelMode(argsWith(mode, device));
        ASSERT_FALSE(r.has_value());
        EXPECT_EQ(r.error().kind(), ClientError::Kind::Config);
        EXPECT_EQ(r.error().detail(), "configuration error: --mode and --device select different tunnel types");
    }
}

TEST(ConfigChecks, ServerAuthRules)
{
    Args a = argsWith(std::nullopt, std::nullopt);
    a.insecure_skip_server_auth = false;
    EXPECT_EQ(detailOf(settleServerAuth(a)),
              "config_error|configuration error: --server-auth-key is required; use "
              "--insecure-skip-server-auth only for trusted local tests");

    a.insecure_skip_server_auth = true;
    auto none = settleServerAuth(a);
    ASSERT_TRUE(none.has_value());
    EXPECT_FALSE(none->has_value());

    a.server_auth_key = std::string(64, '0');
    EXPECT_EQ(detailOf(settleServerAuth(a)),
              "config_error|configuration error: --server-auth-key and --insecure-skip-server-auth are "
              "mutually exclusive");

    a.insecure_skip_server_auth = false;
    a.server_auth_key = "00112233445566778899aAbBcCdDeEfF" "0123456789ABCDEFfedcba9876543210";
    auto key = settleServerAuth(a);
    ASSERT_TRUE(key.has_value() && key->has_value());
    ServerAuthKey expected = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa,
                              0xbb, 0xcc, 0xdd, 0xee, 0xff, 0x01, 0x23, 0x45, 0x67, 0x89, 0xab,
                              0xcd, 0xef, 0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10};
    EXPECT_EQ(**key, expected);

    const std::string bad = "internal_error|protocol error: server auth key";
    for (std::string text : {std::string(63, 'a'), std::string(65, 'a'), std::string(63, 'a') + "g",
                             "g" + std::string(63, 'a'), " " + std::string(63, 'a'), std::string(),
                             "0x" + std::string(62, 'a'), std::string(62, 'a') + "\xc3\xa9",
                             std::string(32, 'a') + std::string(1, '\0') + std::string(31, 'a')}) {
        a.server_auth_key = text;
        EXPECT_EQ(detailOf(settleServerAuth(a)), bad) << text;
    }
}
