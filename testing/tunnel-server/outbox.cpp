#include "outbox.h"

#include <cstring>

namespace ostrel::test_server {

void Outbox::addPlain(const sockaddr_in& to, std::span<const std::uint8_t> datagram) {
    if (!datagram.empty()) std::memcpy(slots_[count_].data(), datagram.data(), datagram.size());
    views_[count_] = std::span(slots_[count_].data(), datagram.size());
    to_[count_] = to;
    unsealed_[count_] = false;
    ++count_;
}

void Outbox::addSealed(const sockaddr_in& to, const Key32& key, std::uint8_t type, std::uint64_t sessionId,
                       std::uint64_t counter, std::span<const std::uint8_t> payload) {
    std::uint8_t* slot = slots_[count_].data();
    PacketHeader(static_cast<MessageType>(type), sessionId, counter)
        .encode(std::span<std::uint8_t, kHeaderSize>(slot, kHeaderSize));
    if (!payload.empty()) std::memcpy(slot + kHeaderSize, payload.data(), payload.size());
    views_[count_] = std::span(slot, payload.size() + kSealOverhead);
    to_[count_] = to;
    keys_[count_] = key;
    counters_[count_] = counter;
    unsealed_[count_] = true;
    ++count_;
}

void Outbox::send(UdpBurst& burst) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < count_; ++i) {
        if (unsealed_[i]) {
            std::uint8_t* slot = slots_[i].data();
            std::span<std::uint8_t> body(slot + kHeaderSize, views_[i].size() - kSealOverhead);
            bool sealed = cipher_.seal(keys_[i], counters_[i], body,
                                       std::span<std::uint8_t, 16>(body.data() + body.size(), 16),
                                       std::span<const std::uint8_t>(slot, kHeaderSize));
            wipe(keys_[i].data(), keys_[i].size());
            if (!sealed) continue;  // never send what did not seal
        }
        if (kept != i) {
            slots_[kept] = slots_[i];
            views_[kept] = std::span(slots_[kept].data(), views_[i].size());
            to_[kept] = to_[i];
        }
        ++kept;
    }
    for (std::size_t done = 0; done < kept;) {
        BatchOutcome sent = burst.send(std::span(views_.data() + done, kept - done), std::span(to_.data() + done, kept - done));
        done += sent.sent;
        if (done < kept && sent.next.status != IoOutcome::Status::interrupted) ++done;
    }
    count_ = 0;
}

}  // namespace ostrel::test_server
