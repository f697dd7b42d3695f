// ostrel-tunnel-server: serves the tunnel protocol on loopback until SIGINT or SIGTERM.
// Prints "listening <address>:<port>" once ready, so scripts and tests can read the port,
// then "session <user> <address>" for each session granted and "disconnect <user>" for
// each goodbye a client sends.

#include "server_command_line.h"

#include <csignal>
#include <cstdio>
#include <iostream>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    for (const auto& arg : args) {
        if (arg == "--help" || arg == "-h") {
            std::cout << ostrel::test_server::serverUsage();
            return 0;
        }
    }
    auto options = ostrel::test_server::parseServerCommandLine(args);
    if (!options) {
        std::cerr << "ostrel-tunnel-server: " << options.error() << "\n" << ostrel::test_server::serverUsage();
        return 2;
    }
    // Block the stop signals before the serving thread starts, then wait for them here.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    options->onSessionEvent = [](const std::string& line) { std::cout << line << std::endl; };
    ostrel::test_server::TunnelServer server(std::move(*options));
    auto started = server.start();
    if (!started) {
        std::cerr << "ostrel-tunnel-server: " << started.error() << "\n";
        return 1;
    }
    std::cout << "listening " << server.address() << std::endl;
    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.stop();
    return 0;
}
