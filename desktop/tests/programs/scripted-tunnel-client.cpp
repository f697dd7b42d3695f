// Stands in for the tunnel client in supervisor tests: plays a script of
// output lines, pauses, signal behaviour and exit codes.
//
// The script file is named by SCRIPTED_CLIENT_SCRIPT; one command per line:
//   out <text>        write text and a line feed
//   raw <text>        write text with \n, \r and \\ unescaped, no line feed added
//   sleep <ms>        pause
//   on-break <text>   on SIGINT write text (if any; \n, \r and \\ unescaped) and exit 0
//   ignore-break      SIGINT does nothing
//   wait              pause until a signal ends the process
//   await <path>      pause until the file exists (the test's go-ahead)
//   args <path>       write each argument on its own line to path
//   pidfile <path>    write our pid to path
//   exit <n>          exit with status n
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

std::string g_breakLine;
volatile std::sig_atomic_t g_broken = 0;

void onBreak(int) { g_broken = 1; }

void writeAll(const std::string &text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

std::string unescape(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char c = text[++i];
            out += c == 'n' ? '\n' : c == 'r' ? '\r' : c;
        } else {
            out += text[i];
        }
    }
    return out;
}

void honourBreak()
{
    if (!g_broken)
        return;
    if (!g_breakLine.empty())
        writeAll(g_breakLine + "\n");
    std::_Exit(0);
}

void pauseFor(long ms)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) {
        honourBreak();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace

int main(int argc, char **argv)
{
    const char *scriptPath = std::getenv("SCRIPTED_CLIENT_SCRIPT");
    if (!scriptPath)
        return 70;
    std::ifstream script(scriptPath);
    std::string line;
    while (std::getline(script, line)) {
        const auto space = line.find(' ');
        const std::string cmd = line.substr(0, space);
        const std::string arg = space == std::string::npos ? "" : line.substr(space + 1);
        if (cmd == "out") {
            writeAll(arg + "\n");
        } else if (cmd == "raw") {
            writeAll(unescape(arg));
        } else if (cmd == "sleep") {
            pauseFor(std::atol(arg.c_str()));
        } else if (cmd == "on-break") {
            g_breakLine = unescape(arg);
            std::signal(SIGINT, onBreak);
        } else if (cmd == "ignore-break") {
            std::signal(SIGINT, SIG_IGN);
        } else if (cmd == "wait") {
            for (;;)
                pauseFor(1000);
        } else if (cmd == "await") {
            while (::access(arg.c_str(), F_OK) != 0)
                pauseFor(10);
        } else if (cmd == "args") {
            std::ofstream out(arg);
            for (int i = 1; i < argc; ++i)
                out << argv[i] << '\n';
        } else if (cmd == "pidfile") {
            std::ofstream(arg) << ::getpid() << '\n';
        } else if (cmd == "exit") {
            return std::atoi(arg.c_str());
        }
        honourBreak();
    }
    return 0;
}
