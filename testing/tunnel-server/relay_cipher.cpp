#include "relay_cipher.h"

#include <openssl/evp.h>

#include <climits>

namespace ostrel::test_server {

namespace {

bool fits(std::size_t n) { return n <= static_cast<std::size_t>(INT_MAX); }

// Up to this many bytes libsodium's call is as fast when warm and several times faster when
// the relay wakes for a lone packet: OpenSSL's per-call set-up (provider dispatch, parameter
// look-ups) then costs more than the cipher itself.
constexpr std::size_t kSmallBody = 256;

}  // namespace

RelayCipher::RelayCipher()
    : cipher_(EVP_CIPHER_fetch(nullptr, "ChaCha20-Poly1305", nullptr)),
      sealing_(EVP_CIPHER_CTX_new()),
      opening_(EVP_CIPHER_CTX_new()) {
    if (!cipher_ || !sealing_ || !opening_ ||
        EVP_EncryptInit_ex2(sealing_, cipher_, nullptr, nullptr, nullptr) != 1 ||
        EVP_DecryptInit_ex2(opening_, cipher_, nullptr, nullptr, nullptr) != 1) {
        // Every call then fails, and the relay drops what it cannot seal or open.
        EVP_CIPHER_CTX_free(sealing_);
        EVP_CIPHER_CTX_free(opening_);
        sealing_ = opening_ = nullptr;
    }
}

RelayCipher::~RelayCipher() {
    EVP_CIPHER_CTX_free(sealing_);
    EVP_CIPHER_CTX_free(opening_);
    EVP_CIPHER_free(cipher_);
}

bool RelayCipher::seal(const Key32& key, std::uint64_t counter, std::span<std::uint8_t> body,
                       std::span<std::uint8_t, 16> tag, std::span<const std::uint8_t> ad) {
    if (body.size() <= kSmallBody) return SessionCipher::sealInPlace(key, counter, body, tag, ad);
    const auto nonce = SessionCipher::nonce(counter);
    int n = 0;
    if (!sealing_ || !fits(body.size()) || !fits(ad.size()) ||
        EVP_EncryptInit_ex2(sealing_, nullptr, key.data(), nonce.data(), nullptr) != 1 ||
        EVP_EncryptUpdate(sealing_, nullptr, &n, ad.data(), static_cast<int>(ad.size())) != 1)
        return false;
    if (!body.empty() &&
        EVP_EncryptUpdate(sealing_, body.data(), &n, body.data(), static_cast<int>(body.size())) != 1)
        return false;
    return EVP_EncryptFinal_ex(sealing_, body.data() + body.size(), &n) == 1 &&
           EVP_CIPHER_CTX_ctrl(sealing_, EVP_CTRL_AEAD_GET_TAG, 16, tag.data()) == 1;
}

bool RelayCipher::open(const Key32& key, std::uint64_t counter, std::span<const std::uint8_t> sealed,
                       std::span<const std::uint8_t> ad, std::span<std::uint8_t> out) {
    if (sealed.size() < 16 || out.size() < sealed.size() - 16) return false;
    const std::size_t length = sealed.size() - 16;
    if (length <= kSmallBody) return SessionCipher::openInto(key, counter, sealed, ad, out);
    const auto nonce = SessionCipher::nonce(counter);
    int n = 0;
    if (!opening_ || !fits(length) || !fits(ad.size()) ||
        EVP_DecryptInit_ex2(opening_, nullptr, key.data(), nonce.data(), nullptr) != 1 ||
        EVP_CIPHER_CTX_ctrl(opening_, EVP_CTRL_AEAD_SET_TAG, 16, const_cast<std::uint8_t*>(sealed.data() + length)) != 1 ||
        EVP_DecryptUpdate(opening_, nullptr, &n, ad.data(), static_cast<int>(ad.size())) != 1)
        return false;
    if (length > 0 && EVP_DecryptUpdate(opening_, out.data(), &n, sealed.data(), static_cast<int>(length)) != 1)
        return false;
    return EVP_DecryptFinal_ex(opening_, out.data() + length, &n) == 1;
}

}  // namespace ostrel::test_server
