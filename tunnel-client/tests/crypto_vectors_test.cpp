#include "session/crypto.h"
#include "session/wire.h"
#include "support/session_fixtures.h"

#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::testing;

namespace {

const nlohmann::json& v() { return vectors(); }

}  // namespace

TEST(CryptoVectors, KeyScheduleFromBothSidesMatchesVectors) {
    EphemeralKeyPair client;
    EphemeralKeyPair::fromSecret(key32(v()["x25519"]["client_secret"]), client);
    EXPECT_EQ(toHex(client.publicKey), v()["x25519"]["client_public"]);
    EphemeralKeyPair server;
    EphemeralKeyPair::fromSecret(key32(v()["x25519"]["server_secret"]), server);
    EXPECT_EQ(toHex(server.publicKey), v()["x25519"]["server_public"]);

    auto keys = Handshake::deriveKeys(client.secret, server.publicKey, client.publicKey);
    ASSERT_TRUE(keys.has_value());
    EXPECT_EQ(toHex(keys->clientToServer), v()["keys"]["client_to_server"]);
    EXPECT_EQ(toHex(keys->serverToClient), v()["keys"]["server_to_client"]);

    auto serverKeys = Handshake::deriveServerKeys(server.secret, client.publicKey, server.publicKey);
    ASSERT_TRUE(serverKeys.has_value());
    EXPECT_EQ(serverKeys->clientToServer, keys->clientToServer);
    EXPECT_EQ(serverKeys->serverToClient, keys->serverToClient);
}

TEST(CryptoVectors, LowOrderServerKeyIsRefused) {
    EphemeralKeyPair client;
    EphemeralKeyPair::generate(client);
    // The zero point and a known order-8 point both give an all-zero shared secret.
    Key32 zero{};
    Key32 order8 = key32("e0eb7a7c3b41b8ae1656e3faf19fc46ada098deb9c32b1fd866205165f49b800");
    for (const Key32& bad : {zero, order8}) {
        auto keys = Handshake::deriveKeys(client.secret, bad, client.publicKey);
        ASSERT_FALSE(keys.has_value());
        EXPECT_EQ(keys.error().code(), "bad_server_key");
    }
}

TEST(CryptoVectors, ServerProofMatchesVectorAndDependsOnEveryInput) {
    Key32 authKey = key32(v()["server_proof"]["auth_key"]);
    Key32 cookie = key32(v()["server_proof"]["cookie"]);
    Key32 cp = key32(v()["x25519"]["client_public"]);
    Key32 sp = key32(v()["x25519"]["server_public"]);
    Key32 proof = Handshake::serverProof(authKey, cp, cookie, sp);
    EXPECT_EQ(toHex(proof), v()["server_proof"]["proof"]);

    Key32 otherCookie = cookie;
    otherCookie[0] ^= 1;
    EXPECT_NE(Handshake::serverProof(authKey, cp, otherCookie, sp), proof);
    EXPECT_NE(Handshake::serverProof(authKey, sp, cookie, cp), proof);

    EXPECT_TRUE(Handshake::proofMatches(proof, std::span<const std::uint8_t, 32>(proof)));
    for (std::size_t i : {std::size_t{0}, std::size_t{17}, std::size_t{31}}) {
        Key32 changed = proof;
        changed[i] ^= 0x80;
        EXPECT_FALSE(Handshake::proofMatches(proof, std::span<const std::uint8_t, 32>(changed))) << i;
    }
}

TEST(CryptoVectors, SealingBindsHeaderCounterAndDirection) {
    Key32 c2s = key32(v()["keys"]["client_to_server"]);
    Key32 s2c = key32(v()["keys"]["server_to_client"]);
    const std::uint64_t counter = kServerCounterBit | 42;
    auto header = PacketHeader(MessageType::Data, 0x1122334455667788ull, counter).encode();
    Bytes payload = sequence(64);
    auto sealed = SessionCipher::seal(s2c, counter, payload, header);
    ASSERT_TRUE(sealed.has_value());
    ASSERT_EQ(sealed->size(), payload.size() + 16);

    auto plain = SessionCipher::open(s2c, counter, *sealed, header);
    ASSERT_TRUE(plain.has_value());
    EXPECT_EQ(*plain, payload);

    // Every header bit is authenticated.
    for (std::size_t bit = 0; bit < header.size() * 8; ++bit) {
        auto h = header;
        h[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
        EXPECT_FALSE(SessionCipher::open(s2c, counter, *sealed, h).has_value()) << bit;
    }
    // So is every ciphertext and tag byte.
    for (std::size_t i = 0; i < sealed->size(); ++i) {
        Bytes s = *sealed;
        s[i] ^= 0x01;
        auto r = SessionCipher::open(s2c, counter, s, header);
        ASSERT_FALSE(r.has_value()) << i;
        EXPECT_EQ(r.error().detail(), "protocol error: decrypt failed");
    }
    // The counter enters the nonce unmasked, and the other direction's key never opens it.
    EXPECT_FALSE(SessionCipher::open(s2c, counter & ~kServerCounterBit, *sealed, header).has_value());
    EXPECT_FALSE(SessionCipher::open(c2s, counter, *sealed, header).has_value());

    auto n = SessionCipher::nonce(counter);
    EXPECT_EQ(toHex(n), "000000002a00000000000080");
}

TEST(CryptoVectors, InPlaceFormsMatchTheAllocatingOnes) {
    Key32 key = key32(v()["keys"]["client_to_server"]);
    auto header = PacketHeader(MessageType::Batch, 7, 9).encode();
    for (std::size_t len : {std::size_t{0}, std::size_t{1}, std::size_t{1466}}) {
        Bytes payload = sequence(len, 3);
        auto sealed = SessionCipher::seal(key, 9, payload, header);
        Bytes buf = payload;
        buf.resize(len + 16);
        ASSERT_TRUE(SessionCipher::sealInPlace(key, 9, std::span(buf.data(), len),
                                               std::span<std::uint8_t, 16>(buf.data() + len, 16), header));
        EXPECT_EQ(buf, *sealed);
        ASSERT_TRUE(SessionCipher::openInto(key, 9, buf, header, std::span(buf.data(), len)));
        EXPECT_TRUE(std::equal(payload.begin(), payload.end(), buf.begin()));
    }
    Bytes tooShort(15);
    Bytes out(16);
    EXPECT_FALSE(SessionCipher::openInto(key, 9, tooShort, header, out));
}
