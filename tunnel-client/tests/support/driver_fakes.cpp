#include "support/driver_fakes.h"

#include "device/packet_device.h"

namespace ostrel::testing {

void EventRecorder::emit(std::string_view name, const EventFields& fields) {
    std::string line(name);
    for (const auto& [key, value] : fields) line += " " + key + "=" + value;
    timeline_.push_back(line);
}

void EventRecorder::emitError(const ClientError& error) { timeline_.push_back("error " + std::string(error.code())); }

void RecordingClock::sleep(duration d) {
    timeline_.push_back("sleep");
    slept += d;
    now_ += d;
    if (onSleep) onSleep();
}

AuthOk AttemptScript::defaultSettings() {
    AuthOk s;
    s.sessionId = 0x1234;
    s.address = {10, 1, 2, 3};
    s.netmask = {255, 255, 255, 0};
    s.gateway = {10, 1, 2, 1};
    s.mtu = 1420;
    s.addressFlags = AuthOk::kIpv4Valid;
    return s;
}

namespace {

class ScriptedDevice final : public PacketDevice {
public:
    ScriptedDevice(Timeline& timeline, std::optional<ClientError> configureError)
        : timeline_(timeline), configureError_(std::move(configureError)) {}
    ~ScriptedDevice() override { timeline_.push_back("device released"); }
    std::string name() const override { return "tap-test"; }
    std::expected<void, ClientError> configure(const HostSettings&) override {
        timeline_.push_back("configure");
        if (configureError_) return std::unexpected(*configureError_);
        return {};
    }
    std::expected<std::optional<std::size_t>, ClientError> receive(std::span<std::uint8_t>) override {
        return std::optional<std::size_t>{};
    }
    std::expected<void, ClientError> send(std::span<const std::uint8_t>) override { return {}; }
    std::expected<void, ClientError> wait(int, std::chrono::nanoseconds) override { return {}; }

private:
    Timeline& timeline_;
    std::optional<ClientError> configureError_;
};

class ScriptedSession final : public TunnelSession {
public:
    ScriptedSession(Timeline& timeline, const AttemptScript& script) : timeline_(timeline), script_(script) {}
    ~ScriptedSession() override { timeline_.push_back("session released"); }
    const AuthOk& settings() const override { return script_.settings; }
    const Mac& mac() const override { return mac_; }
    void sendDisconnect() override { timeline_.push_back("notice"); }
    void sendCgnatAnnounce() override { timeline_.push_back("cgnat"); }
    std::expected<DisconnectReason, ClientError> run(PacketDevice&, const RunningFlag& running) override {
        timeline_.push_back(running.running() ? "run" : "run stopped");
        if (!running.running()) return DisconnectReason::user;
        return script_.runResult;
    }

private:
    Timeline& timeline_;
    AttemptScript script_;
    Mac mac_{0x02, 0, 0, 0, 0x12, 0x34};
};

}  // namespace

AttemptScript& ScriptedSteps::current() {
    if (!attempts.empty()) {
        fallback_ = attempts.front();
        attempts.pop_front();
    }
    return fallback_;
}

std::expected<std::unique_ptr<TunnelSession>, ClientError> ScriptedSteps::connect(const ConnectRequest& request) {
    requests.push_back(request);
    timeline_.push_back("connect");
    AttemptScript& script = current();
    if (script.duringConnect) script.duringConnect();
    if (script.connectError) return std::unexpected(*script.connectError);
    pendingOpenError_ = script.openError;
    pendingConfigureError_ = script.configureError;
    return std::make_unique<ScriptedSession>(timeline_, script);
}

std::expected<std::unique_ptr<PacketDevice>, ClientError> ScriptedSteps::openDevice(const DeviceOptions& options) {
    deviceRequests.push_back(options);
    timeline_.push_back("open");
    if (pendingOpenError_) return std::unexpected(*pendingOpenError_);
    return std::make_unique<ScriptedDevice>(timeline_, pendingConfigureError_);
}

}  // namespace ostrel::testing
