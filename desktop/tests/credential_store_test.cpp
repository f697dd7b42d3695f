#include "session/credential_store.h"

#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstring>

using namespace CredentialStore;

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text));
}

QByteArray randomData(QRandomGenerator &rng, int size)
{
    QByteArray out(size, '\0');
    for (int i = 0; i < size; ++i)
        out[i] = static_cast<char>(rng.bounded(256));
    return out;
}

QByteArray opensslCbc(bool encrypt, const QByteArray &in, const QByteArray &key,
                      const QByteArray &iv, bool *ok)
{
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    QByteArray out(in.size() + 32, '\0');
    int len = 0;
    int tail = 0;
    const auto *k = reinterpret_cast<const unsigned char *>(key.constData());
    const auto *v = reinterpret_cast<const unsigned char *>(iv.constData());
    auto *o = reinterpret_cast<unsigned char *>(out.data());
    bool good = EVP_CipherInit_ex(ctx, EVP_aes_256_cbc(), nullptr, k, v, encrypt ? 1 : 0) == 1
        && EVP_CipherUpdate(ctx, o, &len, reinterpret_cast<const unsigned char *>(in.constData()),
                            static_cast<int>(in.size())) == 1
        && EVP_CipherFinal_ex(ctx, o + len, &tail) == 1;
    EVP_CIPHER_CTX_free(ctx);
    *ok = good;
    out.truncate(good ? len + tail : 0);
    return out;
}

QByteArray opensslPbkdf2(const QByteArray &password, const QByteArray &salt, int iterations,
                         int length)
{
    QByteArray out(length, '\0');
    PKCS5_PBKDF2_HMAC(password.constData(), static_cast<int>(password.size()),
                      reinterpret_cast<const unsigned char *>(salt.constData()),
                      static_cast<int>(salt.size()), iterations, EVP_sha256(), length,
                      reinterpret_cast<unsigned char *>(out.data()));
    return out;
}

// CBC over whole blocks with no padding added, to build records with chosen padding.
QByteArray rawCbc(const QByteArray &blocks, const QByteArray &key, const QByteArray &iv)
{
    const QByteArray schedule = aesExpandKey(key);
    QByteArray data = blocks;
    QByteArray chain = iv;
    for (qsizetype off = 0; off < data.size(); off += 16) {
        auto *b = reinterpret_cast<unsigned char *>(data.data() + off);
        for (int i = 0; i < 16; ++i)
            b[i] ^= static_cast<unsigned char>(chain[i]);
        aesEncryptBlock(b, schedule);
        chain = data.mid(off, 16);
    }
    return data;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

} // namespace

class CredentialStoreTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_home;

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("HOME", m_home.path().toUtf8());
        qputenv("XDG_DATA_HOME", (m_home.path() + "/data").toUtf8());
        QCoreApplication::setOrganizationName("Corvana");
        QCoreApplication::setApplicationName("Corvana");
        QVERIFY(credentialFilePath().startsWith(m_home.path()));
    }

    void aesMatchesPublishedVectors()
    {
        // FIPS-197 appendix A.3: last four words of the AES-256 schedule.
        const QByteArray schedule =
            aesExpandKey(hex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4"));
        QCOMPARE(schedule.size(), 240);
        QCOMPARE(schedule.right(16).toHex(), QByteArray("fe4890d1e6188d0b046df344706c631e"));
        QVERIFY(aesExpandKey(QByteArray(31, 'k')).isEmpty());

        // FIPS-197 appendix C.3.
        const QByteArray key = hex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
        unsigned char block[16];
        std::memcpy(block, hex("00112233445566778899aabbccddeeff").constData(), 16);
        aesEncryptBlock(block, aesExpandKey(key));
        QCOMPARE(QByteArray(reinterpret_cast<char *>(block), 16).toHex(),
                 QByteArray("8ea2b7ca516745bfeafc49904b496089"));
        aesDecryptBlock(block, aesExpandKey(key));
        QCOMPARE(QByteArray(reinterpret_cast<char *>(block), 16).toHex(),
                 QByteArray("00112233445566778899aabbccddeeff"));

        // Published MixColumns columns, checked both ways.
        unsigned char state[16];
        std::memcpy(state, hex("db135345f20a225cc6c6c6c6d4d4d4d5").constData(), 16);
        aesMixColumns(state);
        QCOMPARE(QByteArray(reinterpret_cast<char *>(state), 16).toHex(),
                 QByteArray("8e4da1bc9fdc589dc6c6c6c6d5d5d7d6"));
        aesInvMixColumns(state);
        QCOMPARE(QByteArray(reinterpret_cast<char *>(state), 16).toHex(),
                 QByteArray("db135345f20a225cc6c6c6c6d4d4d4d5"));
    }

    void hmacAndPbkdf2MatchPublishedVectors()
    {
        // RFC 4231 cases 1, 2 and 6 (a key longer than the block is hashed first).
        QCOMPARE(hmacSha256(QByteArray(20, '\x0b'), "Hi There").toHex(),
                 QByteArray("b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"));
        QCOMPARE(hmacSha256("Jefe", "what do ya want for nothing?").toHex(),
                 QByteArray("5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"));
        QCOMPARE(hmacSha256(QByteArray(131, '\xaa'),
                            "Test Using Larger Than Block-Size Key - Hash Key First")
                     .toHex(),
                 QByteArray("60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"));

        QCOMPARE(pbkdf2HmacSha256("password", "salt", 1, 32).toHex(),
                 QByteArray("120fb6cffcf8b32c43e7225256c4f837a86548c92ccc35480805987cb70be17b"));
        QCOMPARE(pbkdf2HmacSha256("password", "salt", 2, 32).toHex(),
                 QByteArray("ae4d0c95af6b46d32d0adff928f06dd02a303f8ef3c251dfd6e2d85a95474c43"));
        QCOMPARE(pbkdf2HmacSha256("password", "salt", 4096, 32).toHex(),
                 QByteArray("c5e478d59288c841aa530db6845c4c8d962893a001ce4e11a4963873aa98134a"));
        // Two output blocks, the second cut short.
        QCOMPARE(pbkdf2HmacSha256("passwordPASSWORDpassword",
                                  "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096, 40)
                     .toHex(),
                 QByteArray("348c89dbcbd32b2f32d814b8116e84cf2b17347ebc1800181c4e2a1fb8dd53e1"
                            "c635518c7dac47e9"));
    }

    void agreesWithOpenSslOnRandomInputs()
    {
        QRandomGenerator rng(20261208);
        for (int round = 0; round < 200; ++round) {
            const QByteArray key = randomData(rng, 32);
            const QByteArray iv = randomData(rng, 16);
            const QByteArray plain = randomData(rng, rng.bounded(0, 80));
            bool ok = false;
            const QByteArray ours = aesCbcEncrypt(plain, key, iv);
            QCOMPARE(ours, opensslCbc(true, plain, key, iv, &ok));
            QVERIFY(ok);
            QCOMPARE(opensslCbc(false, ours, key, iv, &ok), plain);
            QVERIFY(ok);
            QCOMPARE(aesCbcDecrypt(ours, key, iv), plain);

            const QByteArray macKey = randomData(rng, rng.bounded(0, 150));
            const QByteArray message = randomData(rng, rng.bounded(0, 200));
            unsigned char mac[32];
            unsigned int macLen = 0;
            HMAC(EVP_sha256(), macKey.constData(), static_cast<int>(macKey.size()),
                 reinterpret_cast<const unsigned char *>(message.constData()),
                 static_cast<size_t>(message.size()), mac, &macLen);
            QCOMPARE(hmacSha256(macKey, message),
                     QByteArray(reinterpret_cast<char *>(mac), static_cast<int>(macLen)));
        }
        for (int round = 0; round < 10; ++round) {
            const QByteArray password = randomData(rng, rng.bounded(1, 70));
            const QByteArray salt = randomData(rng, 16);
            const int iterations = rng.bounded(1, 50);
            const int length = rng.bounded(1, 100);
            QCOMPARE(pbkdf2HmacSha256(password, salt, iterations, length),
                     opensslPbkdf2(password, salt, iterations, length));
        }
    }

    void cbcPaddingAndBadInput()
    {
        const QByteArray key(32, 'k');
        const QByteArray iv(16, 'i');
        // Whole extra block when the text already fills its blocks.
        QCOMPARE(aesCbcEncrypt(QByteArray(), key, iv).size(), 16);
        QCOMPARE(aesCbcEncrypt(QByteArray(15, 'a'), key, iv).size(), 16);
        QCOMPARE(aesCbcEncrypt(QByteArray(16, 'a'), key, iv).size(), 32);
        bool ok = false;
        QCOMPARE(opensslCbc(false, aesCbcEncrypt(QByteArray(), key, iv), key, iv, &ok),
                 QByteArray());
        QVERIFY(ok);

        const QByteArray good = aesCbcEncrypt("secret", key, iv);
        QVERIFY(aesCbcDecrypt(good.left(15), key, iv).isEmpty());
        QVERIFY(aesCbcDecrypt(QByteArray(), key, iv).isEmpty());

        // Padding byte 0, 17, and an inconsistent run all read as empty.
        QByteArray zeroPad(16, 'x');
        zeroPad[15] = 0;
        QVERIFY(aesCbcDecrypt(rawCbc(zeroPad, key, iv), key, iv).isEmpty());
        QByteArray overPad(16, '\x11');
        QVERIFY(aesCbcDecrypt(rawCbc(overPad, key, iv), key, iv).isEmpty());
        QByteArray mixedPad(16, 'x');
        mixedPad[15] = 3;
        mixedPad[14] = 3;
        QVERIFY(aesCbcDecrypt(rawCbc(mixedPad, key, iv), key, iv).isEmpty());
        mixedPad[13] = 3;
        QCOMPARE(aesCbcDecrypt(rawCbc(mixedPad, key, iv), key, iv), QByteArray(13, 'x'));
    }

    void savedRecordRoundTripsAndIsBound()
    {
        const QString path = credentialFilePath();
        savePassword("Alice", QString::fromUtf8("p\xc3\xa4ss-\xd8\xb1\xd9\x85\xd8\xb2"));
        const QByteArray first = readFile(path);
        QCOMPARE(loadPassword("alice"), QString::fromUtf8("p\xc3\xa4ss-\xd8\xb1\xd9\x85\xd8\xb2"));
        QCOMPARE(loadPassword("ALICE"), QString::fromUtf8("p\xc3\xa4ss-\xd8\xb1\xd9\x85\xd8\xb2"));
        QVERIFY(loadPassword("bob").isEmpty());
        QVERIFY(loadPassword("alice", fingerprintFromParts("other", "host", "debian", "x86_64", {}))
                    .isEmpty());
        QCOMPARE(QFile::permissions(path),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser
                     | QFileDevice::WriteUser);

        // Layout: salt, IV, then ciphertext any AES-256-CBC reads with the derived key.
        QCOMPARE(first.size(), 32 + 16);
        const QByteArray key = opensslPbkdf2(credentialPassphrase("alice"), first.left(16), 10000, 32);
        bool ok = false;
        QCOMPARE(QString::fromUtf8(opensslCbc(false, first.mid(32), key, first.mid(16, 16), &ok)),
                 QString::fromUtf8("p\xc3\xa4ss-\xd8\xb1\xd9\x85\xd8\xb2"));
        QVERIFY(ok);

        savePassword("Alice", QString::fromUtf8("p\xc3\xa4ss-\xd8\xb1\xd9\x85\xd8\xb2"));
        const QByteArray second = readFile(path);
        QCOMPARE(second.size(), first.size());
        QVERIFY(second.left(16) != first.left(16));
        QVERIFY(second.mid(16, 16) != first.mid(16, 16));

        savePassword("carol", QString(16, 'z'));
        QCOMPARE(readFile(path).size(), 64);
        savePassword("carol", QString());
        QCOMPARE(readFile(path).size(), 48);
        QVERIFY(loadPassword("carol").isEmpty());

        const QString elsewhere = fingerprintFromParts("id-2", "pc", "debian", "x86_64", {});
        savePassword("dave", "hunter2", elsewhere);
        QCOMPARE(loadPassword("dave", elsewhere), QString("hunter2"));
        QVERIFY(loadPassword("dave").isEmpty());

        removeCredentials();
        QVERIFY(!QFile::exists(path));
        QVERIFY(loadPassword("dave", elsewhere).isEmpty());
        removeCredentials(); // a missing file is fine
    }

    void damagedRecordsReadEmpty()
    {
        const QString path = credentialFilePath();
        const QByteArray salt(16, 's');
        const QByteArray iv(16, 'v');
        const QByteArray key = pbkdf2HmacSha256(credentialPassphrase("erin"), salt, 10000, 32);

        // The hand-built record reads back, so the failures below are the damage's.
        QByteArray block("pw\x0e\x0e\x0e\x0e\x0e\x0e\x0e\x0e\x0e\x0e\x0e\x0e\x0e\x0e", 16);
        writeFile(path, salt + iv + rawCbc(block, key, iv));
        QCOMPARE(loadPassword("erin"), QString("pw"));

        QByteArray badPad = QByteArray(32, 'q');
        badPad[31] = 5;
        writeFile(path, salt + iv + rawCbc(badPad, key, iv));
        QVERIFY(loadPassword("erin").isEmpty());

        // Valid padding but bytes no saved password can hold, as a wrong key gives.
        QByteArray notText("\xff\xfe\xc3(\x80pw\x09\x09\x09\x09\x09\x09\x09\x09\x09", 16);
        writeFile(path, salt + iv + rawCbc(notText, key, iv));
        QVERIFY(loadPassword("erin").isEmpty());

        writeFile(path, salt + iv);
        QVERIFY(loadPassword("erin").isEmpty());
        writeFile(path, salt + iv + "x");
        QVERIFY(loadPassword("erin").isEmpty());
        writeFile(path, salt + iv + rawCbc(block, key, iv) + "tail");
        QVERIFY(loadPassword("erin").isEmpty());
        writeFile(path, QByteArray());
        QVERIFY(loadPassword("erin").isEmpty());
        removeCredentials();
    }

    void fingerprintUsesBootIdOnlyWithoutMachineId()
    {
        const QString withId = fingerprintFromParts("mid", "host", "debian", "x86_64", "boot-a");
        QCOMPARE(withId, fingerprintFromParts("mid", "host", "debian", "x86_64", "boot-b"));
        QCOMPARE(withId,
                 QString::fromLatin1(QCryptographicHash::hash("midhostdebianx86_64",
                                                              QCryptographicHash::Sha256)
                                         .toHex()));
        QVERIFY(fingerprintFromParts("", "host", "debian", "x86_64", "boot-a")
                != fingerprintFromParts("", "host", "debian", "x86_64", "boot-b"));
        QVERIFY(withId != fingerprintFromParts("mid", "host2", "debian", "x86_64", {}));

        const QString local = machineFingerprint();
        QCOMPARE(local.size(), 64);
        QCOMPARE(local, local.toLower());
        QCOMPARE(credentialPassphrase("Zed").size(), 32);
        QCOMPARE(credentialPassphrase("Zed"), credentialPassphrase("zed"));
        QVERIFY(credentialPassphrase("zed") != credentialPassphrase("zee"));
    }
};

QTEST_GUILESS_MAIN(CredentialStoreTest)
#include "credential_store_test.moc"
