// The real ostrel-client program against the test tunnel server on loopback.

#include "child_program.h"
#include "support/session_fixtures.h"
#include "tunnel_server.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <signal.h>
#include <unistd.h>

using namespace ostrel;
using corvana::process::ChildProgram;
using namespace ostrel::test_server;
using ostrel::testing::toHex;
using namespace std::chrono_literals;
using json = nlohmann::json;

namespace {

constexpr const char* kPassword = "hunter2-very-secret";

ServerOptions serverOptions() {
    ServerOptions options;
    options.accounts.add({"u", kPassword, "n", TunnelMode::l2, 4});
    return options;
}

// The built ostrel-client with `args`.
std::vector<std::string> clientCommand(std::vector<std::string> args) {
    args.insert(args.begin(), std::string(CORVANA_BIN_DIR) + "/ostrel-client");
    return args;
}

std::vector<std::string> clientArgs(const TunnelServer& server, std::vector<std::string> extra) {
    std::vector<std::string> args = {"--server", server.address(), "--user", "u", "--pass", kPassword, "--node", "n"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

std::vector<json> parse(const std::vector<std::string>& lines) {
    std::vector<json> out;
    for (const auto& line : lines) out.push_back(json::parse(line));
    return out;
}


}  // namespace

TEST(ClientLoopback, ConnectOnlyReportsEveryStepAndTheServerSeesTheNextCounter) {
    TunnelServer server(serverOptions());
    ASSERT_TRUE(server.start());
    ChildProgram client(clientCommand(clientArgs(server, {"--connect-only", "--insecure-skip-server-auth"})));
    auto events = parse(client.readAll(20s));
    ASSERT_EQ(client.wait(20s), 0);

    ASSERT_EQ(events.size(), 6u) << json(events).dump();
    EXPECT_EQ(events[0], (json{{"event", "connecting"}, {"mode", "l2"}, {"node", "n"}, {"server", server.address()}}));
    EXPECT_EQ(events[1], (json{{"event", "handshake"}, {"step", "cookie"}}));
    EXPECT_EQ(events[2], (json{{"event", "handshake"}, {"step", "server_key"}}));
    EXPECT_EQ(events[3], (json{{"event", "handshake"}, {"step", "auth_sent"}}));
    EXPECT_EQ(events[4]["event"], "connected");
    EXPECT_EQ(events[4]["mode"], "l2");
    EXPECT_EQ(events[4]["mtu"], "1420");
    EXPECT_EQ(events[4]["ip"], "10.77.0.2");
    EXPECT_EQ(events[4]["subnet"], "255.255.255.0");
    EXPECT_EQ(events[4]["gateway"], "10.77.0.1");
    EXPECT_FALSE(events[4].contains("ip6"));
    EXPECT_EQ(events[5], (json{{"event", "disconnected"}, {"reason", "user"}}));

    ASSERT_TRUE(server.waitFor([&] { return !server.disconnects().empty(); }, 20s));
    auto seen = server.disconnects();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].user, "u");
    EXPECT_EQ(seen[0].authTries, 1u);
    EXPECT_EQ(seen[0].counter, seen[0].authTries);  // AUTH used counter 0, the notice 1
    EXPECT_EQ(events[4]["session"].get<std::string>().size(), 16u);
    EXPECT_TRUE(server.sessions().empty());
}

TEST(ClientLoopback, ServerAuthenticationKeyMustMatch) {
    ServerOptions options = serverOptions();
    Key32 key{};
    for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(0xA0 + i);
    options.authKey = key;
    TunnelServer server(std::move(options));
    ASSERT_TRUE(server.start());

    ChildProgram good(clientCommand(clientArgs(server, {"--connect-only", "--server-auth-key", toHex(key)})));
    auto goodEvents = parse(good.readAll(20s));
    EXPECT_EQ(good.wait(20s), 0);
    ASSERT_FALSE(goodEvents.empty());
    EXPECT_EQ(goodEvents.back(), (json{{"event", "disconnected"}, {"reason", "user"}}));

    Key32 wrong = key;
    wrong[31] ^= 0x80;
    ChildProgram bad(clientCommand(clientArgs(server, {"--connect-only", "--server-auth-key", toHex(wrong)})));
    auto badEvents = parse(bad.readAll(20s));
    EXPECT_EQ(bad.wait(20s), 1);
    ASSERT_FALSE(badEvents.empty());
    EXPECT_EQ(badEvents.back()["event"], "error");
    EXPECT_EQ(badEvents.back()["code"], "server_auth_failed");
    // No AUTH went out after the failed proof.
    for (const auto& e : badEvents) EXPECT_NE(e.value("step", ""), "auth_sent");
}

TEST(ClientLoopback, StopDuringTheBackoffWaitExitsZeroWithoutAnotherEventAndHidesThePassword) {
    ServerOptions options = serverOptions();
    options.misbehave.silent = true;
    TunnelServer server(std::move(options));
    ASSERT_TRUE(server.start());
    ChildProgram client(clientCommand(clientArgs(server, {"--reconnect", "--insecure-skip-server-auth"})));

    ASSERT_TRUE(client.readUntil("connecting", 10s));
    // The client is now in its cookie phase: its arguments must no longer show the password.
    std::string cmdline = client.cmdline();
    EXPECT_NE(cmdline.find("--user u"), std::string::npos) << cmdline;
    EXPECT_EQ(cmdline.find(kPassword), std::string::npos) << cmdline;
    EXPECT_EQ(cmdline.find("very-secret"), std::string::npos) << cmdline;

    auto error = client.readUntil("error", 15s);
    ASSERT_TRUE(error);
    EXPECT_EQ(json::parse(*error)["code"], "no_cookie");
    auto waiting = client.readUntil("reconnecting", 20s);
    ASSERT_TRUE(waiting);
    EXPECT_EQ(json::parse(*waiting)["backoff"], "1");
    client.signal(SIGINT);
    EXPECT_EQ(client.wait(20s), 0);
    EXPECT_TRUE(client.readAll(1s).empty());
    EXPECT_GE(server.stats().datagrams, 5u);
}

TEST(ClientLoopback, APasswordThatBeginsWithADashAuthenticatesWhenJoinedWithEquals) {
    const std::string password = "-Pw-Secret-4711";
    ServerOptions options;
    options.accounts.add({"dash", password, "n", TunnelMode::l2, 4});
    TunnelServer server(std::move(options));
    ASSERT_TRUE(server.start());
    std::vector<std::string> args{"--server", server.address(), "--user", "dash", "--node", "n", "--connect-only",
                                  "--insecure-skip-server-auth"};

    auto joined = args;
    joined.push_back("--pass=" + password);
    ChildProgram client(clientCommand(joined));
    auto events = parse(client.readAll(20s));
    EXPECT_EQ(client.wait(5s), 0);
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2]["event"], "connected");
    EXPECT_EQ(events.back(), (json{{"event", "disconnected"}, {"reason", "user"}}));

    // As two words the password reads as an option: a command-line error, nothing sent.
    auto split = args;
    split.insert(split.end(), {"--pass", password});
    ChildProgram refused(clientCommand(split));
    EXPECT_TRUE(refused.readAll(10s).empty());
    EXPECT_EQ(refused.wait(5s), 2);
    EXPECT_EQ(server.stats().authRequests, 1u);
}

TEST(ClientLoopback, RefusedAccountsReportTheServersCode) {
    TunnelServer server(serverOptions());
    ASSERT_TRUE(server.start());
    ChildProgram client(clientCommand({"--server", server.address(), "--user", "u", "--pass", "wrong", "--node",
                                       "n", "--connect-only", "--insecure-skip-server-auth"}));
    auto events = parse(client.readAll(20s));
    EXPECT_EQ(client.wait(20s), 1);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back()["code"], "bad_credentials");
    EXPECT_EQ(events.back()["detail"], "authentication failed: code=1");

    server.setMisbehaviour({.authFail = std::pair<std::uint8_t, std::string>{3, "room \"full\""}});
    ChildProgram full(clientCommand(clientArgs(server, {"--connect-only", "--insecure-skip-server-auth"})));
    auto fullEvents = parse(full.readAll(20s));
    EXPECT_EQ(full.wait(20s), 1);
    ASSERT_FALSE(fullEvents.empty());
    EXPECT_EQ(fullEvents.back()["code"], "node_full");
    EXPECT_EQ(fullEvents.back()["message"], "room \"full\"");
}

TEST(ClientLoopback, ADeviceThatCannotOpenGetsTheNoticeBeforeTheError) {
    TunnelServer server(serverOptions());
    ASSERT_TRUE(server.start());
    std::string missing = "ostrel-missing-" + std::to_string(::getpid());
    ChildProgram client(clientCommand(clientArgs(server, {"--insecure-skip-server-auth", "--tap", missing})));
    auto events = parse(client.readAll(20s));
    EXPECT_EQ(client.wait(20s), 1);
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2]["event"], "connected");
    EXPECT_EQ(events.back()["code"], "tap_open_failed");
    ASSERT_TRUE(server.waitFor([&] { return !server.disconnects().empty(); }, 20s));
    EXPECT_EQ(server.disconnects()[0].counter, 1u);
}
