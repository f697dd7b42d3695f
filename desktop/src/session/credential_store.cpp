#include "session/credential_store.h"

#include "platform/private_places.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRandomGenerator64>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QSysInfo>

#include <cstring>

namespace CredentialStore {

namespace {

// Changing this makes every existing cred.dat unreadable (it then reads empty).
constexpr char kPassphraseSuffix[] = "#corvana-v1";
static_assert(sizeof(kPassphraseSuffix) - 1 == 11);

constexpr int kSaltSize = 16;
constexpr int kIvSize = 16;
constexpr int kBlock = 16;
constexpr int kIterations = 10000;
constexpr int kKeySize = 32;
constexpr int kRounds = 14;
constexpr int kScheduleSize = kBlock * (kRounds + 1);

constexpr unsigned char kSbox[256] = {
    0x63, 0x7c, 0x77, 0x7b, 0xf2, 0x6b, 0x6f, 0xc5, 0x30, 0x01, 0x67, 0x2b, 0xfe, 0xd7, 0xab, 0x76,
    0xca, 0x82, 0xc9, 0x7d, 0xfa, 0x59, 0x47, 0xf0, 0xad, 0xd4, 0xa2, 0xaf, 0x9c, 0xa4, 0x72, 0xc0,
    0xb7, 0xfd, 0x93, 0x26, 0x36, 0x3f, 0xf7, 0xcc, 0x34, 0xa5, 0xe5, 0xf1, 0x71, 0xd8, 0x31, 0x15,
    0x04, 0xc7, 0x23, 0xc3, 0x18, 0x96, 0x05, 0x9a, 0x07, 0x12, 0x80, 0xe2, 0xeb, 0x27, 0xb2, 0x75,
    0x09, 0x83, 0x2c, 0x1a, 0x1b, 0x6e, 0x5a, 0xa0, 0x52, 0x3b, 0xd6, 0xb3, 0x29, 0xe3, 0x2f, 0x84,
    0x53, 0xd1, 0x00, 0xed, 0x20, 0xfc, 0xb1, 0x5b, 0x6a, 0xcb, 0xbe, 0x39, 0x4a, 0x4c, 0x58, 0xcf,
    0xd0, 0xef, 0xaa, 0xfb, 0x43, 0x4d, 0x33, 0x85, 0x45, 0xf9, 0x02, 0x7f, 0x50, 0x3c, 0x9f, 0xa8,
    0x51, 0xa3, 0x40, 0x8f, 0x92, 0x9d, 0x38, 0xf5, 0xbc, 0xb6, 0xda, 0x21, 0x10, 0xff, 0xf3, 0xd2,
    0xcd, 0x0c, 0x13, 0xec, 0x5f, 0x97, 0x44, 0x17, 0xc4, 0xa7, 0x7e, 0x3d, 0x64, 0x5d, 0x19, 0x73,
    0x60, 0x81, 0x4f, 0xdc, 0x22, 0x2a, 0x90, 0x88, 0x46, 0xee, 0xb8, 0x14, 0xde, 0x5e, 0x0b, 0xdb,
    0xe0, 0x32, 0x3a, 0x0a, 0x49, 0x06, 0x24, 0x5c, 0xc2, 0xd3, 0xac, 0x62, 0x91, 0x95, 0xe4, 0x79,
    0xe7, 0xc8, 0x37, 0x6d, 0x8d, 0xd5, 0x4e, 0xa9, 0x6c, 0x56, 0xf4, 0xea, 0x65, 0x7a, 0xae, 0x08,
    0xba, 0x78, 0x25, 0x2e, 0x1c, 0xa6, 0xb4, 0xc6, 0xe8, 0xdd, 0x74, 0x1f, 0x4b, 0xbd, 0x8b, 0x8a,
    0x70, 0x3e, 0xb5, 0x66, 0x48, 0x03, 0xf6, 0x0e, 0x61, 0x35, 0x57, 0xb9, 0x86, 0xc1, 0x1d, 0x9e,
    0xe1, 0xf8, 0x98, 0x11, 0x69, 0xd9, 0x8e, 0x94, 0x9b, 0x1e, 0x87, 0xe9, 0xce, 0x55, 0x28, 0xdf,
    0x8c, 0xa1, 0x89, 0x0d, 0xbf, 0xe6, 0x42, 0x68, 0x41, 0x99, 0x2d, 0x0f, 0xb0, 0x54, 0xbb, 0x16,
};

struct InverseSbox {
    unsigned char table[256];
    constexpr InverseSbox() : table{}
    {
        for (int i = 0; i < 256; ++i)
            table[kSbox[i]] = static_cast<unsigned char>(i);
    }
};
constexpr InverseSbox kInvSbox;

constexpr unsigned char kRcon[8] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80};

unsigned char xtime(unsigned char b)
{
    return static_cast<unsigned char>((b << 1) ^ ((b & 0x80) ? 0x1b : 0x00));
}

unsigned char gmul(unsigned char a, unsigned char b)
{
    unsigned char r = 0;
    while (b) {
        if (b & 1)
            r ^= a;
        a = xtime(a);
        b >>= 1;
    }
    return r;
}

void addRoundKey(unsigned char *s, const unsigned char *roundKey)
{
    for (int i = 0; i < kBlock; ++i)
        s[i] ^= roundKey[i];
}

void subBytes(unsigned char *s)
{
    for (int i = 0; i < kBlock; ++i)
        s[i] = kSbox[s[i]];
}

void invSubBytes(unsigned char *s)
{
    for (int i = 0; i < kBlock; ++i)
        s[i] = kInvSbox.table[s[i]];
}

// Byte i is row i % 4 of column i / 4; row r rotates left by r columns.
void shiftRows(unsigned char *s)
{
    unsigned char t[kBlock];
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            t[4 * c + r] = s[4 * ((c + r) % 4) + r];
    std::memcpy(s, t, kBlock);
}

void invShiftRows(unsigned char *s)
{
    unsigned char t[kBlock];
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            t[4 * ((c + r) % 4) + r] = s[4 * c + r];
    std::memcpy(s, t, kBlock);
}

void wipe(QByteArray &bytes)
{
    // volatile so the clearing of a buffer about to die is not optimised away
    volatile char *p = bytes.data();
    for (qsizetype i = 0; i < bytes.size(); ++i)
        p[i] = 0;
}

QByteArray sha256(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256);
}

QByteArray passphraseFor(const QString &userName, const QString &fingerprint)
{
    const QString text = fingerprint + QLatin1Char('|') + userName.toLower()
        + QLatin1String(kPassphraseSuffix);
    return sha256(text.toUtf8());
}

} // namespace

QString credentialFilePath()
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    platform::makePrivateFolder(dir);
    return dir + QStringLiteral("/cred.dat");
}

QString fingerprintFromParts(const QByteArray &machineId, const QString &hostName,
                             const QString &productType, const QString &cpuArchitecture,
                             const QByteArray &bootId)
{
    QByteArray material = machineId + hostName.toUtf8() + productType.toUtf8()
        + cpuArchitecture.toUtf8();
    if (machineId.isEmpty())
        material += bootId;
    return QString::fromLatin1(sha256(material).toHex());
}

QString machineFingerprint()
{
    const QByteArray machineId = QSysInfo::machineUniqueId();
    return fingerprintFromParts(machineId, QSysInfo::machineHostName(), QSysInfo::productType(),
                                QSysInfo::currentCpuArchitecture(),
                                machineId.isEmpty() ? QSysInfo::bootUniqueId() : QByteArray());
}

QByteArray credentialPassphrase(const QString &userName)
{
    return passphraseFor(userName, machineFingerprint());
}

QByteArray hmacSha256(const QByteArray &key, const QByteArray &message)
{
    constexpr int kHmacBlock = 64;
    QByteArray k0 = key.size() > kHmacBlock ? sha256(key) : key;
    k0.append(kHmacBlock - k0.size(), '\0');
    QByteArray inner(kHmacBlock, '\0');
    QByteArray outer(kHmacBlock, '\0');
    for (int i = 0; i < kHmacBlock; ++i) {
        inner[i] = static_cast<char>(k0[i] ^ 0x36);
        outer[i] = static_cast<char>(k0[i] ^ 0x5c);
    }
    QCryptographicHash h(QCryptographicHash::Sha256);
    h.addData(inner);
    h.addData(message);
    const QByteArray innerDigest = h.result();
    h.reset();
    h.addData(outer);
    h.addData(innerDigest);
    const QByteArray mac = h.result();
    wipe(k0);
    wipe(inner);
    wipe(outer);
    return mac;
}

QByteArray pbkdf2HmacSha256(const QByteArray &password, const QByteArray &salt, int iterations,
                            int outputLength)
{
    if (iterations < 1 || outputLength < 1)
        return {};
    QByteArray out;
    const int blocks = (outputLength + 31) / 32;
    for (int i = 1; i <= blocks; ++i) {
        QByteArray first = salt;
        first.append(static_cast<char>((i >> 24) & 0xff));
        first.append(static_cast<char>((i >> 16) & 0xff));
        first.append(static_cast<char>((i >> 8) & 0xff));
        first.append(static_cast<char>(i & 0xff));
        QByteArray u = hmacSha256(password, first);
        QByteArray t = u;
        for (int j = 2; j <= iterations; ++j) {
            u = hmacSha256(password, u);
            for (int b = 0; b < t.size(); ++b)
                t[b] = static_cast<char>(t[b] ^ u[b]);
        }
        out += t;
        wipe(u);
        wipe(t);
    }
    out.truncate(outputLength);
    return out;
}

QByteArray randomBytes(int count)
{
    QByteArray out;
    out.reserve(count);
    QRandomGenerator64 *generator = QRandomGenerator64::global();
    for (int i = 0; i < count; ++i)
        out.append(static_cast<char>(generator->QRandomGenerator::generate() >> 24));
    return out;
}

QByteArray aesExpandKey(const QByteArray &key)
{
    if (key.size() != kKeySize)
        return {};
    QByteArray schedule(kScheduleSize, '\0');
    auto *w = reinterpret_cast<unsigned char *>(schedule.data());
    std::memcpy(w, key.constData(), kKeySize);
    constexpr int nk = 8;
    for (int i = nk; i < 4 * (kRounds + 1); ++i) {
        unsigned char t[4];
        std::memcpy(t, w + 4 * (i - 1), 4);
        if (i % nk == 0) {
            const unsigned char first = t[0];
            t[0] = static_cast<unsigned char>(kSbox[t[1]] ^ kRcon[i / nk - 1]);
            t[1] = kSbox[t[2]];
            t[2] = kSbox[t[3]];
            t[3] = kSbox[first];
        } else if (i % nk == 4) {
            for (unsigned char &b : t)
                b = kSbox[b];
        }
        for (int b = 0; b < 4; ++b)
            w[4 * i + b] = w[4 * (i - nk) + b] ^ t[b];
    }
    return schedule;
}

void aesMixColumns(unsigned char state[16])
{
    for (int c = 0; c < 4; ++c) {
        unsigned char *col = state + 4 * c;
        const unsigned char a0 = col[0], a1 = col[1], a2 = col[2], a3 = col[3];
        col[0] = static_cast<unsigned char>(gmul(a0, 2) ^ gmul(a1, 3) ^ a2 ^ a3);
        col[1] = static_cast<unsigned char>(a0 ^ gmul(a1, 2) ^ gmul(a2, 3) ^ a3);
        col[2] = static_cast<unsigned char>(a0 ^ a1 ^ gmul(a2, 2) ^ gmul(a3, 3));
        col[3] = static_cast<unsigned char>(gmul(a0, 3) ^ a1 ^ a2 ^ gmul(a3, 2));
    }
}

void aesInvMixColumns(unsigned char state[16])
{
    for (int c = 0; c < 4; ++c) {
        unsigned char *col = state + 4 * c;
        const unsigned char a0 = col[0], a1 = col[1], a2 = col[2], a3 = col[3];
        col[0] = static_cast<unsigned char>(gmul(a0, 14) ^ gmul(a1, 11) ^ gmul(a2, 13) ^ gmul(a3, 9));
        col[1] = static_cast<unsigned char>(gmul(a0, 9) ^ gmul(a1, 14) ^ gmul(a2, 11) ^ gmul(a3, 13));
        col[2] = static_cast<unsigned char>(gmul(a0, 13) ^ gmul(a1, 9) ^ gmul(a2, 14) ^ gmul(a3, 11));
        col[3] = static_cast<unsigned char>(gmul(a0, 11) ^ gmul(a1, 13) ^ gmul(a2, 9) ^ gmul(a3, 14));
    }
}

void aesEncryptBlock(unsigned char state[16], const QByteArray &schedule)
{
    if (schedule.size() != kScheduleSize)
        return;
    const auto *rk = reinterpret_cast<const unsigned char *>(schedule.constData());
    addRoundKey(state, rk);
    for (int round = 1; round < kRounds; ++round) {
        subBytes(state);
        shiftRows(state);
        aesMixColumns(state);
        addRoundKey(state, rk + kBlock * round);
    }
    subBytes(state);
    shiftRows(state);
    addRoundKey(state, rk + kBlock * kRounds);
}

void aesDecryptBlock(unsigned char state[16], const QByteArray &schedule)
{
    if (schedule.size() != kScheduleSize)
        return;
    const auto *rk = reinterpret_cast<const unsigned char *>(schedule.constData());
    addRoundKey(state, rk + kBlock * kRounds);
    for (int round = kRounds - 1; round >= 1; --round) {
        invShiftRows(state);
        invSubBytes(state);
        addRoundKey(state, rk + kBlock * round);
        aesInvMixColumns(state);
    }
    invShiftRows(state);
    invSubBytes(state);
    addRoundKey(state, rk);
}

QByteArray aesCbcEncrypt(const QByteArray &plaintext, const QByteArray &key, const QByteArray &iv)
{
    if (key.size() != kKeySize || iv.size() != kIvSize)
        return {};
    QByteArray data = plaintext;
    const int pad = kBlock - static_cast<int>(data.size() % kBlock);
    data.append(pad, static_cast<char>(pad));
    QByteArray schedule = aesExpandKey(key);
    unsigned char chain[kBlock];
    std::memcpy(chain, iv.constData(), kBlock);
    auto *p = reinterpret_cast<unsigned char *>(data.data());
    for (qsizetype off = 0; off < data.size(); off += kBlock) {
        unsigned char *block = p + off;
        for (int i = 0; i < kBlock; ++i)
            block[i] ^= chain[i];
        aesEncryptBlock(block, schedule);
        std::memcpy(chain, block, kBlock);
    }
    wipe(schedule);
    return data;
}

QByteArray aesCbcDecrypt(const QByteArray &ciphertext, const QByteArray &key, const QByteArray &iv)
{
    if (ciphertext.isEmpty() || ciphertext.size() % kBlock != 0 || key.size() != kKeySize
        || iv.size() != kIvSize)
        return {};
    QByteArray schedule = aesExpandKey(key);
    QByteArray out(ciphertext.size(), '\0');
    unsigned char chain[kBlock];
    std::memcpy(chain, iv.constData(), kBlock);
    const auto *in = reinterpret_cast<const unsigned char *>(ciphertext.constData());
    auto *o = reinterpret_cast<unsigned char *>(out.data());
    for (qsizetype off = 0; off < ciphertext.size(); off += kBlock) {
        unsigned char block[kBlock];
        std::memcpy(block, in + off, kBlock);
        aesDecryptBlock(block, schedule);
        for (int i = 0; i < kBlock; ++i)
            o[off + i] = block[i] ^ chain[i];
        std::memcpy(chain, in + off, kBlock);
    }
    wipe(schedule);
    const int pad = static_cast<unsigned char>(out.back());
    if (pad == 0 || pad > kBlock)
        return {};
    for (qsizetype i = out.size() - pad; i < out.size(); ++i) {
        if (static_cast<unsigned char>(out[i]) != pad)
            return {};
    }
    out.chop(pad);
    return out;
}

void savePassword(const QString &userName, const QString &password, const QString &fingerprint)
{
    const QByteArray passphrase = passphraseFor(userName, fingerprint);
    const QByteArray salt = randomBytes(kSaltSize);
    const QByteArray iv = randomBytes(kIvSize);
    QByteArray key = pbkdf2HmacSha256(passphrase, salt, kIterations, kKeySize);
    const QByteArray ciphertext = aesCbcEncrypt(password.toUtf8(), key, iv);
    wipe(key);

    // Readable by the owner only: the key is derivable on this machine, so
    // the file's permissions are what keeps other local accounts out.
    const QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    QFile file(credentialFilePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate, ownerOnly))
        return;
    platform::narrowOpenFile(file.handle());
    file.write(salt);
    file.write(iv);
    file.write(ciphertext);
    file.close();
}

void savePassword(const QString &userName, const QString &password)
{
    savePassword(userName, password, machineFingerprint());
}

QString loadPassword(const QString &userName, const QString &fingerprint)
{
    QFile file(credentialFilePath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    if (bytes.size() < kSaltSize + kIvSize + 1)
        return {};
    const QByteArray salt = bytes.left(kSaltSize);
    const QByteArray iv = bytes.mid(kSaltSize, kIvSize);
    const QByteArray ciphertext = bytes.mid(kSaltSize + kIvSize);
    QByteArray key = pbkdf2HmacSha256(passphraseFor(userName, fingerprint), salt, kIterations,
                                      kKeySize);
    const QByteArray plaintext = aesCbcDecrypt(ciphertext, key, iv);
    wipe(key);
    if (plaintext.isEmpty())
        return {};
    // Without an integrity tag a wrong key can still end in valid padding;
    // the bytes it yields are then almost never UTF-8, while a saved
    // password always is, so such a record reads as no password.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString password = utf8.decode(plaintext);
    if (utf8.hasError())
        return {};
    return password;
}

QString loadPassword(const QString &userName)
{
    return loadPassword(userName, machineFingerprint());
}

void removeCredentials()
{
    QFile::remove(credentialFilePath());
}

} // namespace CredentialStore
