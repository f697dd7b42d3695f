// The ostrel-tunnel-server program: reports its port, serves, stops on SIGTERM.

#include "session/session.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace {

struct Program {
    pid_t pid = -1;
    int out = -1;
    ~Program() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        if (out >= 0) ::close(out);
    }
};

// Starts the server with `args`; returns its first stdout line (empty on failure).
std::string start(Program& program, std::vector<std::string> args) {
    std::string path = std::string(CORVANA_BIN_DIR) + "/ostrel-tunnel-server";
    args.insert(args.begin(), path);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
    int rc = posix_spawn(&program.pid, path.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(fds[1]);
    program.out = fds[0];
    if (rc != 0) {
        program.pid = -1;
        return {};
    }
    std::string line;
    char c;
    pollfd fd{program.out, POLLIN, 0};
    while (::poll(&fd, 1, 10000) > 0 && ::read(program.out, &c, 1) == 1 && c != '\n') line.push_back(c);
    return line;
}

int exitStatus(Program& program) {
    int status = 0;
    ::waitpid(program.pid, &status, 0);
    program.pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(ServerProgram, ListensReportsItsPortAndStopsOnSigterm) {
    Program program;
    std::string key(64, 'c');
    std::string line = start(program, {"--account", "u:pw:n:l3", "--server-auth-key", key});
    ASSERT_TRUE(line.starts_with("listening 127.0.0.1:")) << line;
    std::string address = line.substr(10);

    ostrel::Key32 authKey;
    authKey.fill(0xcc);
    auto session = ostrel::Session::connect(address, "u", "pw", "n", ostrel::TunnelMode::l3, authKey);
    ASSERT_TRUE(session) << session.error().detail();
    EXPECT_EQ((*session)->settings().serverMode(), ostrel::TunnelMode::l3);

    ::kill(program.pid, SIGTERM);
    EXPECT_EQ(exitStatus(program), 0);
}

TEST(ServerProgram, RejectsABadCommandLineWithStatusTwo) {
    for (std::vector<std::string> args : {std::vector<std::string>{}, {"--account", "broken"}, {"--bogus"}}) {
        Program program;
        EXPECT_EQ(start(program, args), "");
        EXPECT_EQ(exitStatus(program), 2);
    }
}
