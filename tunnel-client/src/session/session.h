#pragma once
// Session: one authenticated UDP session with a tunnel server.
//   Session::connect   resolve, socket, cookie, key exchange (+ optional server proof), AUTH
//   run                carries traffic between the device and the server until user/kicked/server/timeout
//   sendMessage        seal one message with the next counter and send it now
//   queueDatagram / flushCoalesced / sendDatagram   the run loop's sending steps
//   sendCgnatAnnounce  the CGNAT request (l2 with IPv4 settings only)
//   sendDisconnect     best-effort DISCONNECT
// Destroying a Session closes the socket and wipes its keys.

#include "core/tunnel_mode.h"
#include "core/running_flag.h"
#include "events/client_error.h"
#include "platform/udp_socket.h"
#include "session/clock.h"
#include "session/crypto.h"
#include "session/replay_window.h"
#include "session/session_events.h"
#include "session/wire.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ostrel {

class PacketDevice;

enum class DisconnectReason : std::uint8_t { user = 0, kicked = 1, server = 2, timeout = 3 };

std::string_view reasonWord(DisconnectReason reason);

struct ConnectOptions {
    Clock* clock = nullptr;            // system clock when null
    SessionEvents* events = nullptr;   // event lines when null
    Network* network = nullptr;        // the system's sockets when null
    std::chrono::milliseconds receiveTimeout{1000};      // cookie and key phases
    std::chrono::milliseconds authReceiveTimeout{2000};  // AUTH phase
    std::chrono::seconds deadline{15};
    std::optional<Key32> ephemeralSecret;  // known-answer tests only; fresh random when empty
};

// (2-byte little-endian length, packet) entries for one BATCH.
struct CoalesceBuffer {
    std::array<std::uint8_t, kMaxPayload> bytes{};
    std::size_t used = 0;
    std::size_t entries = 0;
};

// Sealed datagrams waiting to go out, in counter order.
struct DatagramQueue {
    static constexpr std::size_t kSlots = 32;
    std::array<std::array<std::uint8_t, kMaxDatagram>, kSlots> slots{};
    std::array<std::size_t, kSlots> lengths{};
    std::size_t count = 0;
};

class Session {
public:
    static std::expected<std::unique_ptr<Session>, ClientError> connect(const std::string& server,
                                                                        const std::string& user,
                                                                        const std::string& password,
                                                                        const std::string& node, TunnelMode mode,
                                                                        const std::optional<Key32>& serverAuthKey,
                                                                        const ConnectOptions& options = {});
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    std::expected<DisconnectReason, ClientError> run(PacketDevice& device, const RunningFlag& running);

    std::expected<void, ClientError> sendMessage(MessageType type, std::span<const std::uint8_t> payload);
    std::expected<void, ClientError> sendCgnatAnnounce();
    void sendDisconnect();

    std::expected<void, ClientError> queueDatagram(MessageType type, std::span<const std::uint8_t> payload);
    std::expected<void, ClientError> flushCoalesced();
    std::expected<void, ClientError> sendQueued();
    std::expected<void, ClientError> sendDatagram(std::span<const std::uint8_t> datagram);

    const AuthOk& settings() const { return settings_; }
    const Mac& mac() const { return mac_; }
    const SessionKeys& keys() const { return keys_; }
    TunnelMode mode() const { return mode_; }
    std::uint64_t sendCounter() const { return sendCounter_; }
    const ReplayWindow& replay() const { return replay_; }
    Clock::time_point lastReceive() const { return lastReceive_; }
    int socket() const { return socket_ ? socket_->handle() : -1; }

    // Handles one datagram from the server as the run loop does; exposed for the fuzz target.
    // Returns a reason when the datagram ends the session.
    std::expected<std::optional<DisconnectReason>, ClientError> receiveDatagram(PacketDevice& device,
                                                                                std::span<const std::uint8_t> datagram);

    // For tests and tools that carry a session without a handshake.
    struct Parts {
        int socket = -1;  // taken over and closed by the session
        Network* network = nullptr;
        AuthOk settings;
        SessionKeys keys;
        TunnelMode mode = TunnelMode::l2;
        std::uint64_t sendCounter = 1;
        std::uint64_t serverCounter = kServerCounterBit;
        Clock* clock = nullptr;
        SessionEvents* events = nullptr;
    };
    static std::unique_ptr<Session> fromParts(Parts parts);

private:
    Session() = default;
    // Every buffer of a run, allocated once so no packet allocates.
    struct RunBuffers {
        // The socket drain takes up to this many datagrams per system call.
        static constexpr std::size_t kReceiveBatch = 64;
        std::array<std::array<std::uint8_t, kSocketBufferSize>, kReceiveBatch> socket{};
        std::array<std::span<std::uint8_t>, kReceiveBatch> socketViews{};
        std::array<std::size_t, kReceiveBatch> socketLengths{};
        std::array<std::span<const std::uint8_t>, DatagramQueue::kSlots> queueViews{};
        std::array<std::uint8_t, kMaxDatagram> device{};
        CoalesceBuffer coalesce;
        DatagramQueue queue;
    };

    std::expected<std::optional<DisconnectReason>, ClientError> dispatch(PacketDevice& device, MessageType type,
                                                                         std::span<const std::uint8_t> payload);
    void handleCgnatReply(std::span<const std::uint8_t> frame);
    std::size_t minPacket() const { return mode_ == TunnelMode::l2 ? 14 : 1; }
    bool urgent(std::span<const std::uint8_t> packet) const;
    std::expected<std::size_t, ClientError> sealInto(std::span<std::uint8_t, kMaxDatagram> slot, MessageType type,
                                                     std::span<const std::uint8_t> payload);

    std::unique_ptr<UdpSocket> socket_;
    AuthOk settings_;
    Mac mac_{};
    SessionKeys keys_;
    std::uint64_t sendCounter_ = 0;
    ReplayWindow replay_;
    Clock::time_point lastReceive_{};
    TunnelMode mode_ = TunnelMode::l2;
    Clock* clock_ = nullptr;
    SessionEvents* events_ = nullptr;
    std::vector<std::uint8_t> receiveBuffer_ = std::vector<std::uint8_t>(kSocketBufferSize);
    std::unique_ptr<RunBuffers> buffers_;
    std::array<std::uint8_t, kMaxDatagram> messageSlot_{};
};

}  // namespace ostrel
