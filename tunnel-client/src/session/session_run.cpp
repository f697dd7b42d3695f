#include "device/packet_device.h"
#include "session/errors.h"
#include "session/session.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace ostrel {

namespace err = session_errors;

namespace {

constexpr auto kKeepaliveInterval = std::chrono::seconds(25);
constexpr auto kReceiveTimeout = std::chrono::seconds(90);
constexpr auto kMaxWait = std::chrono::milliseconds(250);
constexpr std::size_t kReadsPerPass = 64;
// A peer sending faster than we open must not keep one pass draining for ever:
// the stop flag, the device, keepalives and the time-out all wait behind the drain.
constexpr std::size_t kDatagramsPerPass = 256;
constexpr std::size_t kMaxEntries = 64;
constexpr std::uint8_t kCgnatMagic[8] = {'O', 'S', 'R', 'C', 'G', 'N', '1', 0};

Mac gatewayMac(const std::uint8_t* last4) { return Mac{0x02, 0x00, last4[0], last4[1], last4[2], last4[3]}; }

std::uint16_t loadBe16(const std::uint8_t* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }

}  // namespace

bool Session::urgent(std::span<const std::uint8_t> packet) const {
    if (mode_ != TunnelMode::l2 || packet.size() < 6) return false;
    if (settings_.ipv4Valid() && std::memcmp(packet.data(), gatewayMac(settings_.gateway.data()).data(), 6) == 0)
        return true;
    if (settings_.ipv6Valid() &&
        std::memcmp(packet.data(), gatewayMac(settings_.gateway6.data() + 12).data(), 6) == 0)
        return true;
    return false;
}

std::expected<std::size_t, ClientError> Session::sealInto(std::span<std::uint8_t, kMaxDatagram> slot,
                                                          MessageType type, std::span<const std::uint8_t> payload) {
    if (sendCounter_ & kServerCounterBit) return std::unexpected(err::encrypt());
    if (payload.size() > kMaxPayload) return std::unexpected(err::encrypt());
    PacketHeader(type, settings_.sessionId, sendCounter_).encode(slot.first<kHeaderSize>());
    // The payload may already sit in place (callers never pass the slot itself today).
    if (!payload.empty()) std::memmove(slot.data() + kHeaderSize, payload.data(), payload.size());
    std::span<std::uint8_t> body(slot.data() + kHeaderSize, payload.size());
    if (!SessionCipher::sealInPlace(keys_.clientToServer, sendCounter_, body,
                                    std::span<std::uint8_t, 16>(slot.data() + kHeaderSize + payload.size(), 16),
                                    std::span<const std::uint8_t>(slot.data(), kHeaderSize)))
        return std::unexpected(err::encrypt());
    ++sendCounter_;
    return payload.size() + kSealOverhead;
}

std::expected<void, ClientError> Session::sendDatagram(std::span<const std::uint8_t> datagram) {
    if (!socket_) return std::unexpected(err::io(EBADF));
    for (;;) {
        IoOutcome o = socket_->send(datagram);
        if (o.done()) {
            if (o.length != datagram.size()) return std::unexpected(err::ioText("short UDP packet send"));
            return {};
        }
        if (o.status == IoOutcome::Status::interrupted) continue;
        if (o.status == IoOutcome::Status::timedOut) {
            clock_->sleep(std::chrono::milliseconds(1));
            continue;
        }
        return std::unexpected(err::io(o.error));
    }
}

std::expected<void, ClientError> Session::sendMessage(MessageType type, std::span<const std::uint8_t> payload) {
    auto len = sealInto(messageSlot_, type, payload);
    if (!len) return std::unexpected(len.error());
    return sendDatagram(std::span(messageSlot_.data(), *len));
}

std::expected<void, ClientError> Session::sendCgnatAnnounce() {
    if (mode_ != TunnelMode::l2 || !settings_.ipv4Valid()) return {};
    std::array<std::uint8_t, 36> frame{};
    Mac gw = gatewayMac(settings_.gateway.data());
    std::memcpy(frame.data(), gw.data(), 6);
    std::memcpy(frame.data() + 6, mac_.data(), 6);
    frame[12] = 0x88;
    frame[13] = 0xB6;
    std::memcpy(frame.data() + 14, kCgnatMagic, 8);
    frame[22] = 1;
    frame[23] = 0;
    std::memcpy(frame.data() + 24, settings_.address.data(), 4);
    return sendMessage(MessageType::Data, frame);
}

std::expected<void, ClientError> Session::queueDatagram(MessageType type, std::span<const std::uint8_t> payload) {
    if (!buffers_) buffers_ = std::make_unique<RunBuffers>();
    DatagramQueue& q = buffers_->queue;
    auto len = sealInto(q.slots[q.count], type, payload);
    if (!len) return std::unexpected(len.error());
    q.lengths[q.count] = *len;
    if (++q.count == DatagramQueue::kSlots) return sendQueued();
    return {};
}

std::expected<void, ClientError> Session::sendQueued() {
    if (!buffers_) return {};
    DatagramQueue& q = buffers_->queue;
    std::size_t count = q.count;
    q.count = 0;
    if (!socket_) return count == 0 ? std::expected<void, ClientError>{} : std::unexpected(err::io(EBADF));
    auto& views = buffers_->queueViews;
    for (std::size_t i = 0; i < count; ++i) views[i] = std::span<const std::uint8_t>(q.slots[i].data(), q.lengths[i]);
    // The same rules as one datagram at a time: interrupted goes again at once, would-block
    // after 1 ms, a cut datagram or any other error ends the run.
    for (std::size_t done = 0; done < count;) {
        BatchOutcome o = socket_->sendBatch(std::span(views.data() + done, count - done));
        done += o.sent;
        if (done == count) break;
        switch (o.next.status) {
            case IoOutcome::Status::done: return std::unexpected(err::ioText("short UDP packet send"));
            case IoOutcome::Status::interrupted: break;
            case IoOutcome::Status::timedOut: clock_->sleep(std::chrono::milliseconds(1)); break;
            case IoOutcome::Status::failed: return std::unexpected(err::io(o.next.error));
        }
    }
    return {};
}

std::expected<void, ClientError> Session::flushCoalesced() {
    if (!buffers_) return {};
    CoalesceBuffer& c = buffers_->coalesce;
    std::expected<void, ClientError> result;
    if (c.entries == 1)
        result = queueDatagram(MessageType::Data, std::span(c.bytes.data() + 2, c.used - 2));
    else if (c.entries > 1)
        result = queueDatagram(MessageType::Batch, std::span(c.bytes.data(), c.used));
    c.used = 0;
    c.entries = 0;
    return result;
}

void Session::handleCgnatReply(std::span<const std::uint8_t> f) {
    BridgeInfo info;
    info.available = f[23] == 0;
    std::memcpy(info.ip.data(), f.data() + 24, 4);
    if (info.available) {
        std::memcpy(info.cgnatIp.data(), f.data() + 28, 4);
        info.instanceId = loadBe16(f.data() + 32);
        info.nodeId = loadBe16(f.data() + 34);
    }
    events_->bridgeInfo(info);
}

std::expected<std::optional<DisconnectReason>, ClientError> Session::dispatch(PacketDevice& device, MessageType type,
                                                                              std::span<const std::uint8_t> payload) {
    using Result = std::optional<DisconnectReason>;
    if (type == MessageType::Keepalive) {
        // Only a bare keepalive counts as a sign of life.
        if (payload.empty()) lastReceive_ = clock_->now();
        return Result{};
    }
    lastReceive_ = clock_->now();
    switch (type) {
        case MessageType::Data: {
            if (payload.size() < minPacket()) return Result{};
            if (mode_ == TunnelMode::l2 && payload.size() >= 36 && payload[12] == 0x88 && payload[13] == 0xB6) {
                if (std::memcmp(payload.data() + 14, kCgnatMagic, 8) == 0 && payload[22] == 2)
                    handleCgnatReply(payload);
                return Result{};
            }
            auto sent = device.send(payload);
            if (!sent) return std::unexpected(sent.error());
            return Result{};
        }
        case MessageType::Batch: {
            std::size_t pos = 0;
            while (payload.size() - pos >= 2) {
                std::size_t len = loadLe16(payload.data() + pos);
                if (len < minPacket() || len > payload.size() - pos - 2) break;
                auto sent = device.send(payload.subspan(pos + 2, len));
                if (!sent) return std::unexpected(sent.error());
                pos += 2 + len;
            }
            return Result{};
        }
        case MessageType::Disconnect: return Result{DisconnectReason::server};
        case MessageType::Kick:
            events_->kicked();
            return Result{DisconnectReason::kicked};
        default: return Result{};
    }
}

std::expected<std::optional<DisconnectReason>, ClientError> Session::receiveDatagram(
    PacketDevice& device, std::span<const std::uint8_t> d) {
    using Result = std::optional<DisconnectReason>;
    if (d.size() < kHeaderSize || d[0] != kProtocolVersion) return Result{};
    const std::uint64_t sessionId = loadLe64(d.data() + 2);
    const std::uint64_t counter = loadLe64(d.data() + 10);
    if (sessionId != settings_.sessionId || !(counter & kServerCounterBit) || d.size() < kSealOverhead)
        return Result{};
    const std::size_t plainLength = d.size() - kSealOverhead;
    // Only a datagram larger than any socket read can make this grow.
    if (receiveBuffer_.size() < plainLength) receiveBuffer_.resize(plainLength);
    std::span<std::uint8_t> plain(receiveBuffer_.data(), plainLength);
    if (!SessionCipher::openInto(keys_.serverToClient, counter, d.subspan(kHeaderSize), d.first(kHeaderSize), plain))
        return Result{};
    if (!replay_.accept(counter)) return Result{};
    return dispatch(device, static_cast<MessageType>(d[1]), plain);
}

std::expected<DisconnectReason, ClientError> Session::run(PacketDevice& device, const RunningFlag& running) {
    if (!socket_) return std::unexpected(err::io(EBADF));
    if (auto r = socket_->setNonBlocking(); !r) return std::unexpected(err::io(r.error()));
    if (!buffers_) buffers_ = std::make_unique<RunBuffers>();
    RunBuffers& b = *buffers_;
    for (std::size_t k = 0; k < RunBuffers::kReceiveBatch; ++k) b.socketViews[k] = b.socket[k];
    b.coalesce.used = b.coalesce.entries = 0;
    b.queue.count = 0;
    Clock::time_point keepaliveTimer = clock_->now();
    const std::size_t minimum = minPacket();

    for (;;) {
        if (!running.running()) return DisconnectReason::user;

        // Until the socket is seen dry, more may be waiting: a receive can hold back in user
        // space what it already took from the kernel, where no wait on the descriptor sees it.
        bool socketDry = false;
        for (std::size_t drained = 0; drained < kDatagramsPerPass;) {
            std::size_t want = std::min(RunBuffers::kReceiveBatch, kDatagramsPerPass - drained);
            IoOutcome got = socket_->receiveBatch(std::span(b.socketViews.data(), want), b.socketLengths);
            if (got.status == IoOutcome::Status::interrupted) continue;
            if (got.status == IoOutcome::Status::failed) return std::unexpected(err::io(got.error));
            if (got.status == IoOutcome::Status::timedOut || got.length == 0) {
                socketDry = true;
                break;
            }
            for (std::size_t k = 0; k < got.length; ++k) {
                ++drained;
                auto r = receiveDatagram(device, std::span<const std::uint8_t>(b.socket[k].data(), b.socketLengths[k]));
                if (!r) return std::unexpected(r.error());
                if (*r) {
                    // What arrived before the end still reaches the adapter.
                    if (auto flushed = device.flush(); !flushed) return std::unexpected(flushed.error());
                    return **r;
                }
            }
            // Frames for the adapter go out now rather than after one more empty receive.
            if (got.queueEmpty) {
                socketDry = true;
                break;
            }
        }
        if (auto flushed = device.flush(); !flushed) return std::unexpected(flushed.error());

        for (std::size_t reads = 0; reads < kReadsPerPass; ++reads) {
            auto got = device.receive(b.device);
            if (!got) return std::unexpected(got.error());
            if (!*got) break;
            std::size_t n = **got;
            if (n < minimum) continue;
            std::span<const std::uint8_t> packet(b.device.data(), n);
            bool isUrgent = urgent(packet);
            if (n > kMaxPayload) return std::unexpected(err::encrypt());
            if (isUrgent) {
                if (auto r = flushCoalesced(); !r) return std::unexpected(r.error());
                if (auto r = queueDatagram(MessageType::Data, packet); !r) return std::unexpected(r.error());
                if (auto r = sendQueued(); !r) return std::unexpected(r.error());
            } else if (n >= kMaxPayload - 1) {
                if (auto r = flushCoalesced(); !r) return std::unexpected(r.error());
                if (auto r = queueDatagram(MessageType::Data, packet); !r) return std::unexpected(r.error());
            } else {
                CoalesceBuffer& c = b.coalesce;
                if (c.entries > 0 && (c.entries >= kMaxEntries || c.used + 2 + n > kMaxPayload))
                    if (auto r = flushCoalesced(); !r) return std::unexpected(r.error());
                storeLe16(c.bytes.data() + c.used, static_cast<std::uint16_t>(n));
                std::memcpy(c.bytes.data() + c.used + 2, packet.data(), n);
                c.used += 2 + n;
                ++c.entries;
            }
        }
        if (auto r = flushCoalesced(); !r) return std::unexpected(r.error());
        if (auto r = sendQueued(); !r) return std::unexpected(r.error());

        Clock::time_point now = clock_->now();
        if (now - keepaliveTimer >= kKeepaliveInterval) {
            if (auto r = sendMessage(MessageType::Keepalive, {}); !r) return std::unexpected(r.error());
            keepaliveTimer = now;
        }
        if (now - lastReceive_ >= kReceiveTimeout) return DisconnectReason::timeout;

        auto left = keepaliveTimer + kKeepaliveInterval - now;
        auto w = std::min<Clock::duration>(std::max<Clock::duration>(left, Clock::duration::zero()), kMaxWait);
        // A drain cut off at its share leaves the rest to the next pass at once: the wait
        // (still every pass's end) only polls then.
        if (!socketDry) w = Clock::duration::zero();
        if (w > Clock::duration::zero() || !socketDry) {
            auto waited = device.wait(socket_->handle(), std::chrono::duration_cast<std::chrono::nanoseconds>(w));
            if (!waited) return std::unexpected(waited.error());
        }
    }
}

}  // namespace ostrel
