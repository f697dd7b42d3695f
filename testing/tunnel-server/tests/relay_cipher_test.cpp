// The relay's cipher must produce and accept exactly what the client's does.
#include "relay_cipher.h"

#include "session/crypto.h"
#include "session/wire.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace ostrel;
using namespace ostrel::test_server;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes randomBytes(std::size_t n, std::mt19937& random) {
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(random());
    return b;
}

}  // namespace

TEST(RelayCipher, SealsAndOpensByteForByteAsTheClientDoes) {
    std::mt19937 random(5);
    RelayCipher relay;
    for (std::size_t size : {0, 1, 63, 64, 256, 257, 1400, 1466}) {
        for (std::uint64_t counter : {std::uint64_t{0}, std::uint64_t{7}, std::uint64_t{kServerCounterBit | 0x1234567890}}) {
            SCOPED_TRACE(testing::Message() << size << " bytes, counter " << counter);
            Key32 key{};
            for (auto& k : key) k = static_cast<std::uint8_t>(random());
            const Bytes plain = randomBytes(size, random);
            const auto header = PacketHeader(MessageType::Data, 0x1122334455667788ULL, counter).encode();

            // One spare byte, so even an empty body has an address, as in a datagram slot.
            Bytes byClient = plain, byRelay = plain;
            byClient.push_back(0);
            byRelay.push_back(0);
            std::array<std::uint8_t, 16> clientTag{}, relayTag{};
            ASSERT_TRUE(SessionCipher::sealInPlace(key, counter, std::span(byClient).first(size), clientTag, header));
            ASSERT_TRUE(relay.seal(key, counter, std::span(byRelay).first(size), relayTag, header));
            byClient.pop_back();
            byRelay.pop_back();
            EXPECT_EQ(byRelay, byClient);
            EXPECT_EQ(relayTag, clientTag);

            // Each opens what the other sealed, in place as the relay does.
            Bytes sealed = byClient;
            sealed.insert(sealed.end(), clientTag.begin(), clientTag.end());
            Bytes opened = sealed;
            ASSERT_TRUE(relay.open(key, counter, opened, header, opened));
            EXPECT_EQ(Bytes(opened.begin(), opened.begin() + static_cast<long>(size)), plain);
            Bytes back(size + 1);
            EXPECT_TRUE(SessionCipher::openInto(key, counter, sealed, header, back));

            // Any changed bit, another counter or another key fails.
            auto refuses = [&](Bytes s, std::array<std::uint8_t, kHeaderSize> ad, std::uint64_t c, Key32 k) {
                Bytes out(s.size());
                return !relay.open(k, c, s, ad, out);
            };
            Bytes flipped = sealed;
            flipped[random() % flipped.size()] ^= 0x10;
            EXPECT_TRUE(refuses(flipped, header, counter, key));
            auto otherHeader = header;
            otherHeader[1] ^= 1;
            EXPECT_TRUE(refuses(sealed, otherHeader, counter, key));
            EXPECT_TRUE(refuses(sealed, header, counter + 1, key));
            Key32 otherKey = key;
            otherKey[31] ^= 1;
            EXPECT_TRUE(refuses(sealed, header, counter, otherKey));
        }
    }
    Bytes tooShort(15);
    EXPECT_FALSE(relay.open(Key32{}, 1, tooShort, {}, tooShort));
}
