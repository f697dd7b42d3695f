#pragma once
// What the server sends during one receive burst, gathered and then sealed and sent
// together: one sendmmsg for the lot, GSO for runs to one member, no allocation.
//   outbox.addPlain(to, datagram);  outbox.addSealed(to, key, type, session, counter, payload);
//   if (outbox.full()) outbox.send(burst);  ...  outbox.send(burst);   // at the burst's end
// Datagrams leave in the order they were added, so each member's counters rise.

#include "platform/linux/udp_burst.h"
#include "relay_cipher.h"
#include "session/crypto.h"
#include "session/wire.h"

#include <netinet/in.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace ostrel::test_server {

class Outbox {
public:
    static constexpr std::size_t kSlots = 256;

    bool full() const { return count_ == kSlots; }
    std::size_t size() const { return count_; }
    // A datagram to go out as it is (at most kMaxDatagram bytes).
    void addPlain(const sockaddr_in& to, std::span<const std::uint8_t> datagram);
    // Header and payload (at most kMaxPayload bytes) now; sealed with `key` under the
    // header's counter when it goes out.
    void addSealed(const sockaddr_in& to, const Key32& key, std::uint8_t type, std::uint64_t sessionId,
                   std::uint64_t counter, std::span<const std::uint8_t> payload);
    // Seals what waits to be sealed, sends everything and empties the outbox. Loss is
    // acceptable here, as on any UDP path: a datagram the socket refuses is dropped.
    void send(UdpBurst& burst);

private:
    std::array<std::array<std::uint8_t, kMaxDatagram>, kSlots> slots_;
    std::array<std::span<const std::uint8_t>, kSlots> views_;
    std::array<sockaddr_in, kSlots> to_;
    std::array<Key32, kSlots> keys_;  // for slots still to seal, wiped once sealed
    std::array<std::uint64_t, kSlots> counters_;
    std::array<bool, kSlots> unsealed_;
    std::size_t count_ = 0;
    RelayCipher cipher_;
};

}  // namespace ostrel::test_server
