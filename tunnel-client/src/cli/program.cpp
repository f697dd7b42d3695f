#include "cli/program.h"

#include "cli/args_parser.h"
#include "cli/argv_scrub.h"
#include "driver/client.h"
#include "platform/console_control.h"
#include "platform/network_rights.h"

#include <csignal>

namespace ostrel {

int runProgram(int argc, char** argv) {
    // A reader that went away must not kill the client before it can clean up.
    std::signal(SIGPIPE, SIG_IGN);
    passNetworkRightsToChildren();
    Args args = ArgsParser::parse(argc, argv);
    // Other local users can read a process's arguments: drop the password from them now.
    scrubPassword(argc, argv);
    static RunningFlag running;
    auto console = ConsoleControl::create();
    // Without a handler the client still runs; a stop then ends it the system's way.
    (void)console->install([] { Client::onConsoleControl(running); });
    RealTunnelSteps steps;
    Client client(std::move(args), {steps, DriverEvents::eventLog(), Clock::system(), running});
    return client.runAttempts();
}

}  // namespace ostrel
