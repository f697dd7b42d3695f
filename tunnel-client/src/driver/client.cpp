#include "driver/client.h"

#include "driver/config_checks.h"
#include "events/event_log.h"
#include "events/exit_status.h"
#include "core/text.h"

#include <algorithm>
#include <chrono>

namespace ostrel {

namespace {

std::string modeWord(TunnelMode mode) { return std::string(mode.word()); }

}  // namespace

Client::Client(Args args, ClientContext context)
    : args_(std::move(args)), context_(context), server_(serverAddress(args_.server)) {}

int Client::runAttempts() {
    for (;;) {
        switch (attempt()) {
        case Next::exitOk:
            return ExitOk;
        case Next::exitError:
            return ExitError;
        case Next::retryAfterSession:
            backoff_ = 1;
            [[fallthrough]];
        case Next::retry:
            if (!waitBeforeRetry()) return ExitOk;
            break;
        }
    }
}

bool Client::mayRetry() const { return args_.reconnect && !args_.connect_only && context_.running.running(); }

bool Client::waitBeforeRetry() {
    context_.events.emit("reconnecting", {{"backoff", std::to_string(backoff_)}});
    for (unsigned i = 0; i < backoff_; ++i) {
        if (!context_.running.running()) break;
        context_.clock.sleep(std::chrono::seconds(1));
    }
    backoff_ = std::min(2 * backoff_, kMaxBackoff);
    return context_.running.running();
}

Client::Next Client::failed(const ClientError& error, bool sessionRan) {
    context_.events.emitError(error);
    if (!mayRetry()) return Next::exitError;
    return sessionRan ? Next::retryAfterSession : Next::retry;
}

Client::Next Client::sessionEnded(DisconnectReason reason) {
    context_.events.emit("disconnected", {{"reason", std::string(reasonWord(reason))}});
    if (reason == DisconnectReason::user || reason == DisconnectReason::server) return Next::exitOk;
    return mayRetry() ? Next::retryAfterSession : Next::exitOk;
}

EventFields Client::settingsFields(const AuthOk& s, bool connectedEvent, TunnelMode mode) const {
    EventFields fields{{"mode", modeWord(mode)}, {"mtu", std::to_string(s.mtu)}};
    if (connectedEvent) fields.emplace_back("session", sessionText(s.sessionId));
    if (s.ipv4Valid()) {
        fields.emplace_back("ip", ipv4Text(s.address));
        if (connectedEvent) {
            fields.emplace_back("subnet", ipv4Text(s.netmask));
        } else {
            fields.emplace_back("prefix", std::to_string(prefixFromNetmask(s.netmask)));
        }
        fields.emplace_back("gateway", ipv4Text(s.gateway));
    }
    if (s.ipv6Valid()) {
        fields.emplace_back("ip6", ipv6Text(s.address6));
        fields.emplace_back("prefix6", std::to_string(s.prefix6));
        fields.emplace_back("gateway6", ipv6Text(s.gateway6));
    }
    return fields;
}

Client::Next Client::attempt() {
    // The option rules are checked again at every attempt.
    auto mode = selectTunnelMode(args_);
    if (!mode) return failed(mode.error());
    context_.events.emit("connecting", {{"mode", modeWord(*mode)}, {"node", args_.node}, {"server", server_}});
    auto authKey = settleServerAuth(args_);
    if (!authKey) return failed(authKey.error());

    // Handshake and authentication.
    auto connected = context_.steps.connect({server_, args_.user, args_.password, args_.node, *mode, *authKey});
    if (!connected) return failed(connected.error());
    std::unique_ptr<TunnelSession> session = std::move(*connected);
    context_.events.emit("connected", settingsFields(session->settings(), true, *mode));

    // --connect-only: prove the credentials, then leave.
    if (args_.connect_only) {
        session->sendDisconnect();
        session.reset();
        context_.events.emit("disconnected", {{"reason", "user"}});
        return Next::exitOk;
    }

    // The adapter the mode calls for.
    DeviceOptions deviceOptions;
    deviceOptions.kind = *mode == TunnelMode::l3 ? DeviceKind::wintun : DeviceKind::tap;
    deviceOptions.tap = args_.tap;
    deviceOptions.wintun = args_.wintun;
    deviceOptions.wintunDll = args_.wintun_dll;
    auto opened = context_.steps.openDevice(deviceOptions);
    if (!opened) {
        session->sendDisconnect();
        session.reset();
        return failed(opened.error());
    }
    std::unique_ptr<PacketDevice> device = std::move(*opened);

    // The adapter takes the addresses the server granted.
    if (auto configured = device->configure(hostSettingsFor(session->settings(), session->mac())); !configured) {
        session->sendDisconnect();
        device.reset();  // undoes whatever configure had already changed
        session.reset();
        return failed(configured.error());
    }

    context_.events.emit("adapter", {{"name", device->name()}});
    context_.events.emit("configured", settingsFields(session->settings(), false, *mode));
    if (*mode == TunnelMode::l2) session->sendCgnatAnnounce();
    context_.events.emit("ready", {});

    // The adapter goes before the session, both before the outcome is printed.
    auto ended = session->run(*device, context_.running);
    if (ended && (*ended == DisconnectReason::user || *ended == DisconnectReason::timeout)) session->sendDisconnect();
    device.reset();
    session.reset();
    // However the session ended (a server restart refuses the next datagram), it was up:
    // the wait before the next attempt starts again at one second.
    if (!ended) return failed(ended.error(), true);
    return sessionEnded(*ended);
}

namespace {

class EventLogDriverEvents final : public DriverEvents {
public:
    void emit(std::string_view name, const EventFields& fields) override {
        EventLog::emit(name, fields);
    }
    void emitError(const ClientError& error) override { EventLog::emitError(error); }
};

}  // namespace

DriverEvents& DriverEvents::eventLog() {
    static EventLogDriverEvents events;
    return events;
}

}  // namespace ostrel
