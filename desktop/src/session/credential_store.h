#pragma once

#include <QByteArray>
#include <QString>

// Keeps the VPN password between runs in one small file, encrypted under a
// key bound to this machine and the (case-folded) user name. Free functions
// without state; every failure reads back as an empty password.
namespace CredentialStore {

void savePassword(const QString &userName, const QString &password);
QString loadPassword(const QString &userName);
void removeCredentials();

// The same with the machine fingerprint given, so a record written on one
// machine can be read as if on another.
void savePassword(const QString &userName, const QString &password, const QString &fingerprint);
QString loadPassword(const QString &userName, const QString &fingerprint);

// Building blocks, public so they can be checked against published vectors.
QString credentialFilePath();
QString machineFingerprint();
// bootId counts only when machineId is empty.
QString fingerprintFromParts(const QByteArray &machineId, const QString &hostName,
                             const QString &productType, const QString &cpuArchitecture,
                             const QByteArray &bootId);
QByteArray credentialPassphrase(const QString &userName);
QByteArray hmacSha256(const QByteArray &key, const QByteArray &message);
QByteArray pbkdf2HmacSha256(const QByteArray &password, const QByteArray &salt,
                            int iterations, int outputLength);
QByteArray randomBytes(int count);
QByteArray aesCbcEncrypt(const QByteArray &plaintext, const QByteArray &key,
                         const QByteArray &iv);
// Empty on a bad length or bad padding.
QByteArray aesCbcDecrypt(const QByteArray &ciphertext, const QByteArray &key,
                         const QByteArray &iv);

// AES-256 block level: 32-byte key -> 240-byte schedule; states are 16 bytes.
QByteArray aesExpandKey(const QByteArray &key);
void aesEncryptBlock(unsigned char state[16], const QByteArray &schedule);
void aesDecryptBlock(unsigned char state[16], const QByteArray &schedule);
void aesMixColumns(unsigned char state[16]);
void aesInvMixColumns(unsigned char state[16]);

} // namespace CredentialStore
