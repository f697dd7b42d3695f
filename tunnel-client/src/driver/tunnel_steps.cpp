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
