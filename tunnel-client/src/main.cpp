#include "cli/args.h"
#include "cli/argv_scrub.h"
#include "driver/config_checks.h"
#include "events/event_log.h"
#include "events/exit_status.h"

#include <csignal>

using namespace ostrel;

int main(int argc, char** argv)
{
    // A reader that went away must not kill the client before it can clean up;
    // lost event lines are not reported anywhere else.
    std::signal(SIGPIPE, SIG_IGN);

    Args args = Args::parse(argc, argv);
    scrubPassword(argc, argv);

    const std::string address = serverAddress(args.server);
    auto settings = checkAttempt(args, address);
    if (!settings) {
        EventLog::emitError(settings.error());
        return ExitError;
    }

    // The session layer is not part of this build yet; say so instead of pretending.
    EventLog::emitError(ClientError::protocol("connecting to a tunnel server is not available in this build"));
    return ExitError;
}
