#include "driver/tunnel_steps.h"

namespace ostrel {

namespace {

class RealTunnelSession final : public TunnelSession {
public:
    explicit RealTunnelSession(std::unique_ptr<Session> session) : session_(std::move(session)) {}
    const AuthOk& settings() const override { return session_->settings(); }
    const Mac& mac() const override { return session_->mac(); }
    void sendDisconnect() override { session_->sendDisconnect(); }
    void sendCgnatAnnounce() override { (void)session_->sendCgnatAnnounce(); }
    std::expected<DisconnectReason, ClientError> run(PacketDevice& device, const RunningFlag& running) override {
        return session_->run(device, running);
    }

private:
    std::unique_ptr<Session> session_;
};

}  // namespace

HostSettings hostSettingsFor(const AuthOk& granted, const Mac& sessionMac) {
    HostSettings settings;
    settings.address = granted.address;
    settings.netmask = granted.netmask;
    settings.dns = granted.dns;
    settings.mtu = granted.mtu;
    settings.addressFlags = 0;
    if (granted.ipv4Valid()) settings.addressFlags |= HostSettings::kIpv4Valid;
    if (granted.ipv6Valid()) settings.addressFlags |= HostSettings::kIpv6Valid;
    settings.address6 = granted.address6;
    settings.prefix6 = granted.prefix6;
    settings.dns6 = granted.dns6;
    settings.sessionMac = sessionMac;
    return settings;
}

std::expected<std::unique_ptr<TunnelSession>, ClientError> RealTunnelSteps::connect(const ConnectRequest& request) {
    auto session = Session::connect(request.server, request.user, request.password, request.node, request.mode,
                                    request.serverAuthKey, options_);
    if (!session) return std::unexpected(session.error());
    return std::make_unique<RealTunnelSession>(std::move(*session));
}

std::expected<std::unique_ptr<PacketDevice>, ClientError> RealTunnelSteps::openDevice(const DeviceOptions& options) {
    return PacketDevice::open(options);
}

}  // namespace ostrel
