#pragma once
// The outside steps of one connection attempt, behind an interface so the driver's
// decisions can be tested without a server or an adapter.
//   TunnelSteps::connect      Session::connect with the attempt's settings
//   TunnelSteps::openDevice   PacketDevice::open
//   TunnelSession             what the driver does with an established session
//   RealTunnelSteps           the program's own: real sessions and devices
//   hostSettingsFor           what the adapter is configured with, from the server's grant

#include "driver/args.h"
#include "device/packet_device.h"
#include "core/running_flag.h"
#include "events/client_error.h"
#include "session/crypto.h"
#include "session/session.h"

#include <expected>
#include <memory>
#include <optional>
#include <string>

namespace ostrel {

struct ConnectRequest {
    std::string server;
    std::string user;
    std::string password;
    std::string node;
    TunnelMode mode = TunnelMode::l2;
    std::optional<Key32> serverAuthKey;
};

HostSettings hostSettingsFor(const AuthOk& granted, const Mac& sessionMac);

class TunnelSession {
public:
    virtual ~TunnelSession() = default;
    virtual const AuthOk& settings() const = 0;
    virtual const Mac& mac() const = 0;
    virtual void sendDisconnect() = 0;
    virtual void sendCgnatAnnounce() = 0;
    virtual std::expected<DisconnectReason, ClientError> run(PacketDevice& device, const RunningFlag& running) = 0;
};

class TunnelSteps {
public:
    virtual ~TunnelSteps() = default;
    virtual std::expected<std::unique_ptr<TunnelSession>, ClientError> connect(const ConnectRequest& request) = 0;
    virtual std::expected<std::unique_ptr<PacketDevice>, ClientError> openDevice(const DeviceOptions& options) = 0;
};

class RealTunnelSteps final : public TunnelSteps {
public:
    explicit RealTunnelSteps(ConnectOptions options = {}) : options_(options) {}
    std::expected<std::unique_ptr<TunnelSession>, ClientError> connect(const ConnectRequest& request) override;
    std::expected<std::unique_ptr<PacketDevice>, ClientError> openDevice(const DeviceOptions& options) override;

private:
    ConnectOptions options_;
};

}  // namespace ostrel
