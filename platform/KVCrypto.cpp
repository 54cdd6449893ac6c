#include "KVCrypto.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <openssl/rand.h>

#include <algorithm>
#include <array>
#include <memory>
#include <numeric>
#include <utility>

namespace kvcrypto {
namespace {

constexpr qsizetype kAesBlock = 16;
// EVP update calls take an int length; larger inputs go through in pieces. A multiple of the
// AES block, so CBC chaining carries across pieces unchanged (RC4 carries its state anyway).
constexpr qsizetype kChunk = qsizetype(1) << 30;

struct Algorithms {
    OSSL_LIB_CTX *libctx = nullptr;
    EVP_MD *md5 = nullptr;
    EVP_CIPHER *aes128Cbc = nullptr;
    EVP_CIPHER *rc4 = nullptr; // null when the legacy provider could not be loaded
};

Algorithms *makeAlgorithms()
{
    auto *a = new Algorithms;
    // Our own context reads no configuration file, so what is available does not depend on
    // how the system's OpenSSL is set up beyond which provider modules are installed.
    a->libctx = OSSL_LIB_CTX_new();
    if (a->libctx) {
        // Provider handles stay loaded for the life of the process.
        OSSL_PROVIDER_load(a->libctx, "default");
        OSSL_PROVIDER_load(a->libctx, "legacy");
        a->md5 = EVP_MD_fetch(a->libctx, "MD5", nullptr);
        a->aes128Cbc = EVP_CIPHER_fetch(a->libctx, "AES-128-CBC", nullptr);
        a->rc4 = EVP_CIPHER_fetch(a->libctx, "RC4", nullptr);
    }
    // A missing legacy module is expected and handled; its errors must not surface later in
    // an unrelated caller's error queue on this thread.
    ERR_clear_error();
    return a;
}

const Algorithms &algorithms()
{
    // Built once (thread-safe static initialisation) and never freed: static objects in
    // other files may still hash or encrypt while the process exits.
    static const Algorithms *const instance = makeAlgorithms();
    return *instance;
}

struct CipherCtxFree {
    void operator()(EVP_CIPHER_CTX *c) const { EVP_CIPHER_CTX_free(c); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;

struct MdCtxFree {
    void operator()(EVP_MD_CTX *c) const { EVP_MD_CTX_free(c); }
};
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;

const unsigned char *bytes(QByteArrayView v) { return reinterpret_cast<const unsigned char *>(v.data()); }

bool validRc4Key(const QByteArray &key) { return !key.isEmpty() && key.size() <= 256; }

// Runs an initialised context over in. Only for ciphers that emit exactly as many bytes as
// they take (RC4, CBC without padding on whole blocks); anything else is reported as failure.
bool runCipher(EVP_CIPHER_CTX *ctx, QByteArrayView in, QByteArray &out)
{
    QByteArray result(in.size(), Qt::Uninitialized);
    auto *dst = reinterpret_cast<unsigned char *>(result.data());
    for (qsizetype done = 0; done < in.size();) {
        const int piece = int(std::min(kChunk, in.size() - done));
        int written = 0;
        if (EVP_CipherUpdate(ctx, dst + done, &written, bytes(in) + done, piece) != 1 || written != piece)
            return false;
        done += piece;
    }
    // Whole-block input with padding off leaves nothing buffered, so the final call must
    // write nothing; the scratch block keeps a misbehaving cipher from writing past result.
    unsigned char tail[EVP_MAX_BLOCK_LENGTH];
    int tailLength = 0;
    if (EVP_CipherFinal_ex(ctx, tail, &tailLength) != 1 || tailLength != 0)
        return false;
    out = std::move(result);
    return true;
}

bool rc4OpenSsl(const EVP_CIPHER *cipher, const QByteArray &key, const QByteArray &data, QByteArray &out)
{
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    // The key length must be set before the key goes in: RC4 defaults to 16 bytes and would
    // otherwise read past a shorter key, or ignore the end of a longer one.
    return ctx && EVP_CipherInit_ex2(ctx.get(), cipher, nullptr, nullptr, 1, nullptr) == 1
           && EVP_CIPHER_CTX_set_key_length(ctx.get(), int(key.size())) == 1
           && EVP_CipherInit_ex2(ctx.get(), nullptr, bytes(key), nullptr, 1, nullptr) == 1 && runCipher(ctx.get(), data, out);
}

bool aesCbc(bool encrypt, QByteArrayView key16, QByteArrayView iv16, QByteArrayView in, QByteArray &out)
{
    const EVP_CIPHER *cipher = algorithms().aes128Cbc;
    if (!cipher || key16.size() != kAesBlock || iv16.size() != kAesBlock || in.size() % kAesBlock != 0)
        return false;
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    return ctx && EVP_CipherInit_ex2(ctx.get(), cipher, bytes(key16), bytes(iv16), encrypt ? 1 : 0, nullptr) == 1
           && EVP_CIPHER_CTX_set_padding(ctx.get(), 0) == 1 && runCipher(ctx.get(), in, out);
}

} // namespace

QByteArray md5(const QByteArray &data) { return md5({QByteArrayView(data)}); }

QByteArray md5(std::initializer_list<QByteArrayView> parts)
{
    const EVP_MD *md = algorithms().md5;
    MdCtx ctx(EVP_MD_CTX_new());
    if (!md || !ctx || EVP_DigestInit_ex2(ctx.get(), md, nullptr) != 1)
        return {};
    for (QByteArrayView part : parts) {
        if (!part.isEmpty() && EVP_DigestUpdate(ctx.get(), part.data(), size_t(part.size())) != 1)
            return {};
    }
    QByteArray digest(EVP_MAX_MD_SIZE, Qt::Uninitialized);
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx.get(), reinterpret_cast<unsigned char *>(digest.data()), &length) != 1 || length != 16)
        return {};
    digest.truncate(16);
    return digest;
}

bool rc4(const QByteArray &key, const QByteArray &data, QByteArray &out)
{
    if (!validRc4Key(key)) {
        out.clear();
        return false;
    }
    if (const EVP_CIPHER *cipher = algorithms().rc4) {
        QByteArray result;
        if (!rc4OpenSsl(cipher, key, data, result)) {
            out.clear();
            return false;
        }
        out = std::move(result);
        return true;
    }
    out = detail::rc4Portable(key, data);
    return true;
}

QByteArray rc4(const QByteArray &key, const QByteArray &data)
{
    QByteArray out;
    rc4(key, data, out);
    return out;
}

bool aes128CbcEncryptRaw(const QByteArray &key16, const QByteArray &iv16, const QByteArray &in, QByteArray &out)
{
    QByteArray result;
    const bool ok = aesCbc(true, key16, iv16, in, result);
    out = std::move(result);
    return ok;
}

bool aes128CbcDecryptRaw(const QByteArray &key16, const QByteArray &iv16, const QByteArray &in, QByteArray &out)
{
    QByteArray result;
    const bool ok = aesCbc(false, key16, iv16, in, result);
    out = std::move(result);
    return ok;
}

QByteArray aes128EncryptWithIV(const QByteArray &key16, const QByteArray &plain)
{
    const QByteArray iv = randomBytes(int(kAesBlock));
    if (iv.size() != kAesBlock)
        return {};
    return aes128EncryptWithIV(key16, plain, iv);
}

QByteArray aes128EncryptWithIV(const QByteArray &key16, const QByteArray &plain, const QByteArray &iv16)
{
    if (key16.size() != kAesBlock || iv16.size() != kAesBlock)
        return {};
    // Always at least one byte of padding, so the reader can tell padding from data.
    const qsizetype pad = kAesBlock - plain.size() % kAesBlock;
    QByteArray padded;
    padded.reserve(plain.size() + pad);
    padded.append(plain).append(pad, char(pad));
    QByteArray cipherText;
    if (!aesCbc(true, key16, iv16, padded, cipherText))
        return {};
    return iv16 + cipherText;
}

AesDecryptResult aes128DecryptWithIV(const QByteArray &key16, const QByteArray &data)
{
    AesDecryptResult result;
    if (key16.size() != kAesBlock || data.size() < kAesBlock)
        return result;
    const QByteArrayView view(data);
    // A truncated stream still yields its whole blocks; the loose tail cannot be decrypted.
    const qsizetype body = (data.size() - kAesBlock) / kAesBlock * kAesBlock;
    if (!aesCbc(false, key16, view.first(kAesBlock), view.sliced(kAesBlock, body), result.data))
        return result;
    result.ok = true;
    if (result.data.isEmpty())
        return result;
    // The body is at least one block, so p <= 16 bytes are always there to compare.
    const int p = static_cast<unsigned char>(result.data.back());
    if (p > kAesBlock)
        return result;
    const qsizetype start = result.data.size() - p;
    for (qsizetype i = start; i < result.data.size(); ++i) {
        if (static_cast<unsigned char>(result.data[i]) != p) {
            result.badPadding = true;
            return result;
        }
    }
    result.data.truncate(start);
    return result;
}

bool randomBytes(unsigned char *buf, int n)
{
    if (n < 0 || (n > 0 && !buf))
        return false;
    if (n == 0)
        return true;
    return RAND_bytes_ex(algorithms().libctx, buf, size_t(n), 0) == 1;
}

QByteArray randomBytes(int n)
{
    if (n < 0)
        return {};
    QByteArray out(n, Qt::Uninitialized);
    if (!randomBytes(reinterpret_cast<unsigned char *>(out.data()), n))
        return {};
    return out;
}

bool legacyProviderAvailable() { return algorithms().rc4 != nullptr; }

namespace detail {

QByteArray rc4Portable(const QByteArray &key, const QByteArray &data)
{
    if (!validRc4Key(key))
        return {};
    const auto *k = reinterpret_cast<const unsigned char *>(key.constData());
    const qsizetype keyLength = key.size();
    std::array<unsigned char, 256> s;
    std::iota(s.begin(), s.end(), 0);
    unsigned char j = 0;
    for (int i = 0; i < 256; ++i) {
        j = static_cast<unsigned char>(j + s[i] + k[i % keyLength]);
        std::swap(s[i], s[j]);
    }
    QByteArray out(data.size(), Qt::Uninitialized);
    unsigned char i = 0;
    j = 0;
    for (qsizetype n = 0; n < data.size(); ++n) {
        ++i;
        j = static_cast<unsigned char>(j + s[i]);
        std::swap(s[i], s[j]);
        const unsigned char keystream = s[static_cast<unsigned char>(s[i] + s[j])];
        out[n] = static_cast<char>(static_cast<unsigned char>(data[n]) ^ keystream);
    }
    return out;
}

} // namespace detail

} // namespace kvcrypto
