#pragma once
// The relay's data-path cipher: ChaCha20-Poly1305 IETF through OpenSSL's libcrypto, whose
// wide-vector code on this hardware runs about twice as fast as the client's. The relay
// opens and seals every packet it forwards, so this halves its work per packet; the bytes
// are the client's own (same nonce from the counter, header as associated data, 16-byte
// tag), which the tests check against the client's cipher. Small bodies go through the
// client's own cipher, which costs less per call.
//   RelayCipher cipher;   // one per thread
//   cipher.seal(key, counter, body, tag, header);  cipher.open(key, counter, sealed, header, out);

#include "session/crypto.h"

#include <cstdint>
#include <span>

using EvpCipherContext = struct evp_cipher_ctx_st;
using EvpCipher = struct evp_cipher_st;

namespace ostrel::test_server {

class RelayCipher {
public:
    RelayCipher();
    ~RelayCipher();
    RelayCipher(const RelayCipher&) = delete;
    RelayCipher& operator=(const RelayCipher&) = delete;

    // In place: body becomes its ciphertext, the tag goes to `tag`. False on failure.
    bool seal(const Key32& key, std::uint64_t counter, std::span<std::uint8_t> body, std::span<std::uint8_t, 16> tag,
              std::span<const std::uint8_t> ad);
    // Ciphertext followed by its tag into `out` (may be the ciphertext's own bytes); false
    // when the tag does not verify.
    bool open(const Key32& key, std::uint64_t counter, std::span<const std::uint8_t> sealed,
              std::span<const std::uint8_t> ad, std::span<std::uint8_t> out);

private:
    // The cipher is looked up once and each context set up for it once; per packet only the
    // key and nonce change (a lookup per packet would cost more than the cipher).
    EvpCipher* cipher_;
    EvpCipherContext* sealing_;
    EvpCipherContext* opening_;
};

}  // namespace ostrel::test_server
