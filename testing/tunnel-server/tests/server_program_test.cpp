// The ostrel-tunnel-server program: reports its port, serves, stops on SIGTERM.

#include "child_program.h"
#include "session/session.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <string>
#include <vector>

namespace {

using corvana::process::ChildProgram;

std::vector<std::string> serverCommand(std::vector<std::string> args) {
    args.insert(args.begin(), std::string(CORVANA_BIN_DIR) + "/ostrel-tunnel-server");
    return args;
}

}  // namespace

TEST(ServerProgram, ListensReportsItsPortAndStopsOnSigterm) {
    std::string key(64, 'c');
    ChildProgram program(serverCommand({"--account", "u:pw:n:l3", "--server-auth-key", key}));
    auto line = program.readLine(std::chrono::seconds(10));
    ASSERT_TRUE(line && line->starts_with("listening 127.0.0.1:")) << line.value_or("(no line)");
    std::string address = line->substr(10);

    ostrel::Key32 authKey;
    authKey.fill(0xcc);
    auto session = ostrel::Session::connect(address, "u", "pw", "n", ostrel::TunnelMode::l3, authKey);
    ASSERT_TRUE(session) << session.error().detail();
    EXPECT_EQ((*session)->settings().serverMode(), ostrel::TunnelMode::l3);

    program.signal(SIGTERM);
    EXPECT_EQ(program.wait(std::chrono::seconds(20)), 0) << program.state();
}

TEST(ServerProgram, RejectsABadCommandLineWithStatusTwo) {
    for (std::vector<std::string> args : {std::vector<std::string>{}, {"--account", "broken"}, {"--bogus"}}) {
        ChildProgram program(serverCommand(args));
        auto finished = program.finish(std::chrono::seconds(20));
        EXPECT_EQ(finished.out, "");
        EXPECT_EQ(finished.exitStatus, 2) << program.state();
    }
}
