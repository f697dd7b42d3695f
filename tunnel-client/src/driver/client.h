#pragma once
// Client: the tunnel client's driver. Runs connection attempts until an exit status:
// connect, open and configure the device, run the session, release both, then retry
// with back-off (1, 2, 4, 8, 16, 30 s) or end with status 0 or 1.
//   Client(args, context).runAttempts()   the attempt loop, with injectable steps and clock
//   Client::onConsoleControl  what every console control event does: clear RunningFlag

#include "driver/args.h"
#include "driver/driver_events.h"
#include "core/running_flag.h"
#include "driver/tunnel_steps.h"
#include "session/clock.h"

#include <memory>
#include <string>

namespace ostrel {

struct ClientContext {
    TunnelSteps& steps;
    DriverEvents& events;
    Clock& clock;
    const RunningFlag& running;
};

class Client {
public:
    Client(Args args, ClientContext context);

    // Exit status 0 or 1.
    int runAttempts();

    static void onConsoleControl(RunningFlag& running) { running.clear(); }

    static constexpr unsigned kMaxBackoff = 30;

private:
    enum class Next { exitOk, exitError, retry, retryAfterSession };

    Next attempt();
    // sessionRan: the error ended a session that had run, so the next wait starts afresh.
    Next failed(const ClientError& error, bool sessionRan = false);
    Next sessionEnded(DisconnectReason reason);
    bool mayRetry() const;
    // False when the client was stopped during the wait.
    bool waitBeforeRetry();
    EventFields settingsFields(const AuthOk& settings, bool withSession, TunnelMode mode) const;

    Args args_;
    ClientContext context_;
    std::string server_;
    unsigned backoff_ = 1;
};

}  // namespace ostrel
