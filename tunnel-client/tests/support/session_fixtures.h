#pragma once
// Helpers for the session tests: hex, the known-answer vectors, a recording event
// sink, a scripted fake PacketDevice and a small UDP peer speaking the server side.

#include "device/packet_device.h"
#include "session/session.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <thread>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace ostrel::testing {

using Bytes = std::vector<std::uint8_t>;

Bytes fromHex(const std::string& hex);
std::string toHex(std::span<const std::uint8_t> bytes);
Key32 key32(const std::string& hex);
Bytes sequence(std::size_t n, std::uint8_t first = 0);

const nlohmann::json& vectors();

struct RecordedEvents : SessionEvents {
    std::vector<std::string> steps;
    int kicks = 0;
    std::vector<BridgeInfo> bridges;
    void handshake(std::string_view step) override { steps.emplace_back(step); }
    void kicked() override { ++kicks; }
    void bridgeInfo(const BridgeInfo& info) override { bridges.push_back(info); }
};

// Packets queued for receive(), packets the session sent, and a hook run at every wait.
class FakeDevice : public PacketDevice {
public:
    std::deque<Bytes> incoming;
    std::vector<Bytes> written;
    int waits = 0;
    std::function<void(FakeDevice&)> onWait;
    ManualClock* clock = nullptr;  // advanced by each wait's time-out
    bool settle = false;           // once: wait (really) until the socket is readable
    int settleMs = 1000;

    std::string name() const override { return "fake0"; }
    std::expected<void, ClientError> configure(const HostSettings&) override { return {}; }
    std::expected<std::optional<std::size_t>, ClientError> receive(std::span<std::uint8_t> buffer) override;
    std::expected<void, ClientError> send(std::span<const std::uint8_t> packet) override;
    std::expected<void, ClientError> wait(int socket, std::chrono::nanoseconds timeout) override;
};

// What the peer does in the handshake.
struct PeerScript {
    Key32 cookie{};
    std::optional<Key32> serverSecret;  // random when empty
    std::optional<Key32> authKey;       // proof appended when set
    bool wrongProof = false;
    bool helloWithoutProof = false;
    bool lowOrderKey = false;
    int strayBeforeCookie = 0;          // 20-byte junk datagrams answering HANDSHAKE_INIT
    bool cookieFromOtherSocket = false;
    bool helloFromOtherSocket = false;  // first SERVER_HELLO comes from another port
    int answerOnTry = 0;                // AUTH try to answer (0..2); 3 = never
    enum class Answer { ok, fail, rawOk } answer = Answer::ok;
    AuthOk settings;
    std::uint8_t failCode = 1;
    std::string failReason;
    Bytes rawPlaintext;                 // for Answer::rawOk
    std::uint64_t okCounter = kServerCounterBit | 7;
    bool silent = false;
};

class TestPeer {
public:
    TestPeer();
    ~TestPeer();
    TestPeer(const TestPeer&) = delete;
    TestPeer& operator=(const TestPeer&) = delete;

    std::string address() const;  // "127.0.0.1:<port>"
    std::uint16_t port() const { return port_; }

    // Server side of one handshake, on a thread of its own, until AUTH is answered or time runs out.
    void serve(PeerScript script);
    void join();

    // Everything the client sent during the handshake, in order.
    std::vector<Bytes> received;
    bool handshakeDone = false;
    SessionKeys keys;

    // After the handshake: seal and send to the client, read what it sends.
    void sendSealed(MessageType type, std::span<const std::uint8_t> payload, std::uint64_t counter,
                    std::optional<std::uint64_t> sessionId = std::nullopt);
    void sendRaw(std::span<const std::uint8_t> datagram);
    // Sends the datagrams as one burst, runs of equal sizes as UDP GSO messages; false when
    // the kernel took them without GSO.
    bool sendBurst(const std::vector<Bytes>& datagrams);
    std::optional<Bytes> receiveRaw(std::chrono::milliseconds timeout);
    struct Opened {
        PacketHeader header;
        Bytes plaintext;
        std::size_t length = 0;
    };
    // Next datagram from the client, opened with the client-to-server key.
    std::optional<Opened> receiveOpened(std::chrono::milliseconds timeout = std::chrono::milliseconds(200));
    std::vector<Opened> drain();
    Bytes seal(MessageType type, std::span<const std::uint8_t> payload, std::uint64_t counter,
               std::uint64_t sessionId) const;

    std::uint64_t sessionId = 0;

private:
    void run(PeerScript script);

    int fd_ = -1;
    int other_ = -1;
    std::uint16_t port_ = 0;
    sockaddr_storage client_{};
    unsigned clientLength_ = 0;
    std::unique_ptr<std::thread> thread_;
    std::atomic<bool> stop_{false};
};

// A session connected to the peer over loopback with default settings (l2, IPv4 10.77.0.5/24 gw .1).
struct Connected {
    TestPeer peer;
    RecordedEvents events;
    ManualClock clock;
    std::unique_ptr<Session> session;
};
AuthOk defaultSettings(std::uint64_t sessionId = 0xAABBCCDD11223344ull);
std::unique_ptr<Connected> connectToPeer(TunnelMode mode = TunnelMode::l2, AuthOk settings = defaultSettings());

}  // namespace ostrel::testing
