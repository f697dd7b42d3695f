#include "account_table.h"
#include "server_command_line.h"

#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

using namespace ostrel;
using namespace ostrel::test_server;

TEST(AccountTable, ParsesAccountsAndRejectsMalformedOnes) {
    auto full = parseAccount("alice:secret:lan1:l3:4");
    ASSERT_TRUE(full);
    EXPECT_EQ(full->user, "alice");
    EXPECT_EQ(full->password, "secret");
    EXPECT_EQ(full->node, "lan1");
    EXPECT_EQ(full->mode, TunnelMode::l3);
    EXPECT_EQ(full->capacity, 4u);

    auto defaults = parseAccount("bob:pw:lan2");
    ASSERT_TRUE(defaults);
    EXPECT_EQ(defaults->mode, TunnelMode::l2);
    EXPECT_EQ(defaults->capacity, 16u);

    for (const char* bad : {"alice:pw", "alice::lan", "a:b:c:l4", "a:b:c:l2:0", "a:b:c:l2:x", "a:b:c:l2:3:extra"})
        EXPECT_FALSE(parseAccount(bad)) << bad;
}

TEST(AccountTable, NodesKeepTheirFirstModeAndGetDistinctIndexes) {
    AccountTable table;
    ASSERT_TRUE(table.addText("a:pa:red:l3:2"));
    ASSERT_TRUE(table.addText("b:pb:red:l2:9"));
    ASSERT_TRUE(table.addText("c:pc:blue"));
    EXPECT_EQ(table.nodeMode("red"), TunnelMode::l3);
    EXPECT_EQ(table.nodeCapacity("red"), 2u);
    EXPECT_NE(table.nodeIndex("red"), table.nodeIndex("blue"));
    EXPECT_FALSE(table.hasNode("green"));
    ASSERT_NE(table.find("b"), nullptr);
    EXPECT_EQ(table.find("b")->password, "pb");
    EXPECT_EQ(table.find("nobody"), nullptr);
}

TEST(AccountTable, LoadsFileWithCommentsAndNamesTheBadLine) {
    std::string path = "/tmp/ostrel-accounts-" + std::to_string(::getpid());
    {
        std::ofstream out(path);
        out << "# test accounts\n\nalice:pw:lan1:l2:3  # first\n  bob:pw2:lan1\n";
    }
    AccountTable table;
    ASSERT_TRUE(table.load(path));
    EXPECT_NE(table.find("alice"), nullptr);
    EXPECT_NE(table.find("bob"), nullptr);
    {
        std::ofstream out(path);
        out << "alice:pw:lan1\nbroken\n";
    }
    AccountTable other;
    auto bad = other.load(path);
    ASSERT_FALSE(bad);
    EXPECT_NE(bad.error().find(":2:"), std::string::npos) << bad.error();
    ::unlink(path.c_str());
    EXPECT_FALSE(AccountTable{}.load(path));
}

TEST(ServerCommandLine, ReadsOptionsKeysAndMisbehaviours) {
    std::string key(64, 'a');
    key[0] = 'F';
    auto options = parseServerCommandLine({"--port", "7100", "--account", "u:p:n:l3", "--server-auth-key", key,
                                           "--misbehave", "auth-fail:3:node is full", "--ipv6"});
    ASSERT_TRUE(options) << options.error();
    EXPECT_EQ(options->port, 7100);
    ASSERT_TRUE(options->authKey);
    EXPECT_EQ((*options->authKey)[0], 0xfa);
    EXPECT_EQ((*options->authKey)[31], 0xaa);
    ASSERT_TRUE(options->misbehave.authFail);
    EXPECT_EQ(options->misbehave.authFail->first, 3);
    EXPECT_EQ(options->misbehave.authFail->second, "node is full");
    EXPECT_TRUE(options->grantIpv6);

    auto bound = parseServerCommandLine({"--bind", "127.0.0.2", "--account", "u:p:n"});
    ASSERT_TRUE(bound);
    EXPECT_EQ(bound->bind, "127.0.0.2");
    EXPECT_EQ(options->bind, "127.0.0.1");
    TunnelServer elsewhere(std::move(*bound));
    ASSERT_TRUE(elsewhere.start());
    EXPECT_TRUE(elsewhere.address().starts_with("127.0.0.2:")) << elsewhere.address();
    ServerOptions badBind;
    badBind.bind = "localhost";
    EXPECT_FALSE(TunnelServer(std::move(badBind)).start());

    EXPECT_FALSE(parseServerCommandLine({"--port", "7100"}));  // no accounts
    EXPECT_FALSE(parseServerCommandLine({"--account", "u:p:n", "--misbehave", "rude"}));
    EXPECT_FALSE(parseServerCommandLine({"--account", "u:p:n", "--server-auth-key", "abcd"}));
    EXPECT_FALSE(parseServerCommandLine({"--account", "u:p:n", "--port"}));
    EXPECT_FALSE(parseServerCommandLine({"--account", "u:p:n", "--port", "70000"}));
    EXPECT_FALSE(parseHexKey(std::string(63, '0') + "g"));
}
