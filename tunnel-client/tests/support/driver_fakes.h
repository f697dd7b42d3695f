#pragma once
// Scripted stand-ins for the driver's outside steps. Every step and event lands in
// one timeline, so tests check the order of sends, releases and event lines together.

#include "driver/client.h"
#include "driver/driver_events.h"
#include "driver/tunnel_steps.h"
#include "session/clock.h"

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ostrel::testing {

using Timeline = std::vector<std::string>;

// Records events as "event name k=v k=v" (fields in the order given) and errors as "error <code>".
class EventRecorder final : public DriverEvents {
public:
    explicit EventRecorder(Timeline& timeline) : timeline_(timeline) {}
    void emit(std::string_view name, const EventFields& fields) override;
    void emitError(const ClientError& error) override;

private:
    Timeline& timeline_;
};

// A clock whose sleeps are recorded as "sleep" and run a hook (to stop the client mid-wait).
class RecordingClock final : public Clock {
public:
    explicit RecordingClock(Timeline& timeline) : timeline_(timeline) {}
    time_point now() const override { return now_; }
    void sleep(duration d) override;
    std::function<void()> onSleep;
    duration slept{};

private:
    Timeline& timeline_;
    time_point now_{};
};

// How one scripted attempt goes.
struct AttemptScript {
    std::optional<ClientError> connectError;
    std::optional<ClientError> openError;
    std::optional<ClientError> configureError;
    std::expected<DisconnectReason, ClientError> runResult = DisconnectReason::user;
    AuthOk settings = defaultSettings();
    std::function<void()> duringConnect;  // e.g. a console control event arriving mid-connect

    static AuthOk defaultSettings();
};

class ScriptedSteps final : public TunnelSteps {
public:
    explicit ScriptedSteps(Timeline& timeline) : timeline_(timeline) {}
    std::expected<std::unique_ptr<TunnelSession>, ClientError> connect(const ConnectRequest& request) override;
    std::expected<std::unique_ptr<PacketDevice>, ClientError> openDevice(const DeviceOptions& options) override;

    std::deque<AttemptScript> attempts;  // the last one repeats when they run out
    std::vector<ConnectRequest> requests;
    std::vector<DeviceOptions> deviceRequests;

private:
    AttemptScript& current();
    Timeline& timeline_;
    std::optional<ClientError> pendingOpenError_;
    std::optional<ClientError> pendingConfigureError_;
    AttemptScript fallback_;
};

}  // namespace ostrel::testing
