// Runs the built ostrel-client and checks its streams and exit status.
#include "child_program.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

using corvana::process::ChildProgram;

const std::string kClient = CORVANA_BIN_DIR "/ostrel-client";

struct Result {
    std::string out;
    std::string err;
    int status = -1;
};

std::vector<std::string> clientCommand(const std::vector<std::string>& args)
{
    std::vector<std::string> command{kClient};
    command.insert(command.end(), args.begin(), args.end());
    return command;
}

Result run(const std::vector<std::string>& args)
{
    ChildProgram client(clientCommand(args), {.errors = ChildProgram::Errors::capture});
    Result result;
    if (!client.started()) {
        ADD_FAILURE() << "cannot start " << kClient;
        return result;
    }
    auto finished = client.finish(std::chrono::seconds(30));
    result.out = std::move(finished.out);
    result.err = std::move(finished.err);
    if (finished.exitStatus)
        result.status = *finished.exitStatus;
    else if (finished.signal != 0)
        result.status = 128 + finished.signal;
    return result;
}

void expectUsageError(std::vector<std::string> args, const std::string& firstLine)
{
    Result r = run(args);
    EXPECT_EQ(r.status, 2) << firstLine;
    EXPECT_EQ(r.out, "") << firstLine;
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')), firstLine);
    EXPECT_NE(r.err.find("\n\nUsage: ostrel-client "), std::string::npos) << r.err;
    const std::string tail = "\n\nFor more information, try '--help'.\n";
    ASSERT_GE(r.err.size(), tail.size());
    EXPECT_EQ(r.err.substr(r.err.size() - tail.size()), tail);
}

std::vector<std::string> withRequired(std::vector<std::string> extra)
{
    std::vector<std::string> args = {"--server", "x", "--user", "u", "--pass", "p", "--node", "n"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

} // namespace

TEST(ClientProcess, ModeDeviceClashIsOneErrorLine)
{
    Result r = run({"--mode", "l2", "--device", "wintun", "--server", "x", "--user", "u", "--pass", "p",
                    "--node", "n", "--insecure-skip-server-auth"});
    EXPECT_EQ(r.out, "{\"code\":\"config_error\",\"detail\":\"configuration error: --mode and --device select "
                     "different tunnel types\",\"event\":\"error\",\"message\":\"Invalid client configuration\"}\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 1);
}

TEST(ClientProcess, KeyRulesPrintConnectingThenError)
{
    Result missing = run(withRequired({"--device", "wintun"}));
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out,
              "{\"event\":\"connecting\",\"mode\":\"l3\",\"node\":\"n\",\"server\":\"x:7100\"}\n"
              "{\"code\":\"config_error\",\"detail\":\"configuration error: --server-auth-key is required; use "
              "--insecure-skip-server-auth only for trusted local tests\",\"event\":\"error\",\"message\":"
              "\"Invalid client configuration\"}\n");

    Result bad = run({"--server", "h:9000", "--user", "u", "--pass", "p", "--node", "n\"\\",
                      "--server-auth-key", std::string(63, 'a') + "g"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.out,
              "{\"event\":\"connecting\",\"mode\":\"l2\",\"node\":\"n\\\"\\\\\",\"server\":\"h:9000\"}\n"
              "{\"code\":\"internal_error\",\"detail\":\"protocol error: server auth key\",\"event\":\"error\","
              "\"message\":\"Client internal error\"}\n");
    EXPECT_EQ(bad.err, "");
}

TEST(ClientProcess, PassingChecksNeverClaimsSuccess)
{
    Result r = run(withRequired({"--insecure-skip-server-auth", "--connect-only"}));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.find("\"event\":\"connected\""), std::string::npos);
    EXPECT_EQ(r.out.find("\"event\":\"disconnected\""), std::string::npos);
    auto secondLine = r.out.substr(r.out.find('\n') + 1);
    // "x" names no host, so the real attempt ends at name resolution.
    EXPECT_EQ(secondLine.find("{\"code\":\"resolve_failed\""), 0u) << r.out;
}

TEST(ClientProcess, CommandLineErrorsGoToStandardErrorWithStatus2)
{
    expectUsageError({"--user", "u"}, "error: the following required arguments were not provided:");
    expectUsageError(withRequired({"--sever-auth-key=x"}), "error: unexpected argument '--sever-auth-key' found");
    expectUsageError(withRequired({"--zzz"}), "error: unexpected argument '--zzz' found");
    expectUsageError({"--server"}, "error: a value is required for '--server <SERVER>' but none was supplied");
    expectUsageError(withRequired({"--reconnect", "--reconnect"}),
                     "error: the argument '--reconnect' cannot be used multiple times");
    expectUsageError(withRequired({"--node", "m"}), "error: the argument '--node <NODE>' cannot be used multiple times");
    expectUsageError(withRequired({"--mode", "L3"}), "error: invalid value 'L3' for '--mode <MODE>'");
    expectUsageError(withRequired({"--wintun", "a\xff"}), "error: invalid UTF-8 was detected in one or more arguments");

    Result tip = run(withRequired({"--conect-only"}));
    EXPECT_NE(tip.err.find("\n\n  tip: a similar argument exists: '--connect-only'\n\n"), std::string::npos) << tip.err;
    Result values = run(withRequired({"--mode", "L3"}));
    EXPECT_NE(values.err.find("\n  [possible values: l2, l3]\n"), std::string::npos) << values.err;
}

TEST(ClientProcess, HelpOnStandardOutput)
{
    Result r = run({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("\nUsage: ostrel-client [OPTIONS] --server <SERVER> --user <USER> --pass <PASSWORD> "
                         "--node <NODE>\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("--insecure-skip-server-auth"), std::string::npos);
}

// The password must leave the process's argument memory while it still runs.
// Standard output is a pipe filled to the brim, so the client blocks on its first
// event line, after parsing, and stays alive while /proc is read.
TEST(ClientProcess, PasswordGoneFromProcCmdlineWhileRunning)
{
    const std::string secret = "hunter2-" + std::to_string(getpid());
    const std::string joined = "topsecret" + std::to_string(getpid());
    int out[2];
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    fcntl(out[1], F_SETPIPE_SZ, 4096);
    fcntl(out[1], F_SETFL, O_NONBLOCK);
    std::string filler(4096, 'f');
    std::size_t filled = 0;
    for (;;) {
        ssize_t n = write(out[1], filler.data(), filler.size());
        if (n <= 0)
            break;
        filled += n;
    }
    fcntl(out[1], F_SETFL, 0);

    // One run per form: "--pass" may appear only once on a line.
    for (int form = 0; form < 2; ++form) {
        std::vector<std::string> args = {"--server", "x", "--user", "u", "--node", "n",
                                         "--insecure-skip-server-auth"};
        if (form == 0) {
            args.push_back("--pass");
            args.push_back(secret);
        } else {
            args.push_back("--pass=" + joined);
        }
        const std::string& hidden = form == 0 ? secret : joined;

        ChildProgram client(clientCommand(args), {.errors = ChildProgram::Errors::inherit, .output = out[1]});
        ASSERT_TRUE(client.started());
        const pid_t pid = client.pid();

        std::string cmdline;
        bool scrubbed = false;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            std::ifstream file("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
            cmdline.assign(std::istreambuf_iterator<char>(file), {});
            if (cmdline.find("--user") != std::string::npos && cmdline.find(hidden) == std::string::npos) {
                scrubbed = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_TRUE(client.running()) << "client ended before /proc was read";
        EXPECT_TRUE(scrubbed) << cmdline;
        // The rest of the line is untouched.
        EXPECT_NE(cmdline.find(std::string("--server\0x\0--user\0u", 19)), std::string::npos);
        EXPECT_NE(cmdline.find(form == 0 ? std::string("--pass\0", 7) : std::string("--pass=")), std::string::npos);

        // Drain the pipe so the client can finish; its lines follow the filler.
        std::string lines;
        fcntl(out[0], F_SETFL, O_NONBLOCK);
        while (client.running()) {
            char buffer[8192];
            ssize_t n = read(out[0], buffer, sizeof buffer);
            if (n > 0)
                lines.append(buffer, n);
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        for (;;) {
            char buffer[8192];
            ssize_t n = read(out[0], buffer, sizeof buffer);
            if (n <= 0)
                break;
            lines.append(buffer, n);
        }
        EXPECT_EQ(client.wait(std::chrono::seconds(0)), 1) << client.state();
        EXPECT_NE(lines.find("{\"event\":\"connecting\""), std::string::npos);
        // Refill for the next run.
        fcntl(out[1], F_SETFL, O_NONBLOCK);
        while (write(out[1], filler.data(), filler.size()) > 0) {
        }
        fcntl(out[1], F_SETFL, 0);
        fcntl(out[0], F_SETFL, 0);
    }
    EXPECT_GT(filled, 0u);
    close(out[0]);
    close(out[1]);
}
