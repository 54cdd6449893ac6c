#pragma once
// The digests and ciphers the Standard security handler is built from: MD5, RC4 and
// AES-128-CBC, plus the random bytes for AES initialisation vectors.
//
// Backed by OpenSSL 3 through EVP, in a library context of our own so that neither the
// system's openssl.cnf nor another library's provider choices change what we get. RC4 lives
// in OpenSSL's legacy provider, which some installations leave out; then a small RC4 of our
// own takes over, so encrypted files still open. The context and the fetched algorithms are
// made once, on first use, and shared read-only.
//
// Threads: every function may be called from any thread at the same time; each call uses its
// own cipher state.
//
// Bad input never crashes and never reads past the given bytes: a wrong key or IV size, a
// length that is not whole blocks, or a failure inside OpenSSL gives false (or an empty
// result, where the function returns bytes) and nothing half-done. Inputs of any size are fed
// to OpenSSL in pieces it can take.
#include <QByteArray>
#include <QByteArrayView>
#include <initializer_list>

namespace kvcrypto {

// 16-byte digest; empty only if OpenSSL fails.
QByteArray md5(const QByteArray &data);
// Digest of the parts one after another, without joining them first.
QByteArray md5(std::initializer_list<QByteArrayView> parts);

// RC4 with a key of 1 to 256 bytes; encrypting and decrypting are the same operation.
// A key outside that range is refused: false and out emptied. Output has the input's length.
bool rc4(const QByteArray &key, const QByteArray &data, QByteArray &out);
// As above; a refused key gives an empty result (use the form above when data may be empty).
QByteArray rc4(const QByteArray &key, const QByteArray &data);

// AES-128-CBC over whole blocks, with no padding added or removed: the caller owns the
// padding. Key and IV must be 16 bytes and in.size() a multiple of 16 (0 included), else
// false and out emptied. in and out may be the same object.
bool aes128CbcEncryptRaw(const QByteArray &key16, const QByteArray &iv16, const QByteArray &in, QByteArray &out);
bool aes128CbcDecryptRaw(const QByteArray &key16, const QByteArray &iv16, const QByteArray &in, QByteArray &out);

// The layout of AES-encrypted strings and streams: a fresh random 16-byte IV, then the CBC
// encryption of the data padded with n bytes of value n (n = 1..16, so whole blocks always
// follow). Output is 16 + (size / 16 + 1) * 16 bytes, never empty; empty means a key that is
// not 16 bytes or a random generator that failed.
QByteArray aes128EncryptWithIV(const QByteArray &key16, const QByteArray &plain);
// Same, with a caller-chosen IV, for output that must compare byte for byte (tests, the
// writer's fixed-output mode). An IV that is not 16 bytes gives an empty result.
QByteArray aes128EncryptWithIV(const QByteArray &key16, const QByteArray &plain, const QByteArray &iv16);

struct AesDecryptResult {
    QByteArray data;         // the plain bytes, padding removed when it was well formed
    bool ok = false;         // false: key not 16 bytes, input shorter than the IV, or OpenSSL failed
    bool badPadding = false; // final byte p <= 16 but the last p bytes are not all p; data kept whole
};

// Inverse of aes128EncryptWithIV, lenient the way damaged files need: the first 16 bytes
// are the IV, a trailing partial block is dropped, and padding is stripped only when the last
// p bytes all equal p with p <= 16. A final byte above 16 is taken as unpadded data and kept
// without complaint; a final byte of 0 passes with nothing to strip. Exactly 16 bytes (an IV
// and nothing after it) is ok with empty data.
AesDecryptResult aes128DecryptWithIV(const QByteArray &key16, const QByteArray &data);

// Cryptographically strong random bytes. n < 0, or buf null with n > 0, gives false; the
// QByteArray form gives an empty result on any failure.
bool randomBytes(unsigned char *buf, int n);
QByteArray randomBytes(int n);

// True when RC4 runs through OpenSSL's legacy provider, false when our own RC4 stands in.
bool legacyProviderAvailable();

namespace detail {
// Our own RC4, used when the legacy provider is missing; exposed so tests can check it on
// machines that have the provider. A key outside 1..256 bytes gives an empty result.
QByteArray rc4Portable(const QByteArray &key, const QByteArray &data);
} // namespace detail

} // namespace kvcrypto
