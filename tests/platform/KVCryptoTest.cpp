#include "KVCrypto.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string hex(const QByteArray &b) { return b.toHex().toStdString(); }

QByteArray unhex(const char *h) { return QByteArray::fromHex(h); }

// Published known answers. MD5 from the algorithm's reference test suite; RC4 keystreams
// (the cipher applied to zero bytes) for the "01 02 03 ..." and "... 83 32 22 77 2a" key
// families; AES-128-CBC from the standard mode-of-operation examples.

const QByteArray kAesKey = unhex("2b7e151628aed2a6abf7158809cf4f3c");
const QByteArray kAesIv = unhex("000102030405060708090a0b0c0d0e0f");
const QByteArray kAesPlain = unhex("6bc1bee22e409f96e93d7e117393172a"
                                   "ae2d8a571e03ac9c9eb76fac45af8e51"
                                   "30c81c46a35ce411e5fbc1191a0a52ef"
                                   "f69f2445df4f9b17ad2b417be66c3710");
const QByteArray kAesCipher = unhex("7649abac8119b246cee98e9b12e9197d"
                                    "5086cb9b507219ee95db113a917678b2"
                                    "73bed6b8e3c1743b7116e69e22229516"
                                    "3ff1caa1681fac09120eca307586e1a7");

TEST(KVCrypto, Md5MatchesReferenceDigests)
{
    struct Case {
        const char *name;
        QByteArray input;
        const char *expected;
    };
    const std::vector<Case> cases = {
        {"empty input still runs the finalisation", "", "d41d8cd98f00b204e9800998ecf8427e"},
        {"single byte", "a", "0cc175b9c0f1b6a831c399e269772661"},
        {"short text", "abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"text with a space", "message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"62 bytes: the length no longer fits the first block", "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"80 bytes span two blocks", QByteArray("1234567890").repeated(8), "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(hex(kvcrypto::md5(c.input)), c.expected);
    }
}

TEST(KVCrypto, Md5OfPartsEqualsDigestOfTheirConcatenation)
{
    // The key derivation hashes password, O, P, ID in one go; losing, reordering or
    // separating a part would give a wrong file key that still looks like a digest.
    const QByteArray a = QByteArray(50, 'x');
    const QByteArray b("\x00\x01\x02", 3);
    const QByteArray c = QByteArray(70, '\xff');
    EXPECT_EQ(hex(kvcrypto::md5({a, b, c})), hex(kvcrypto::md5(a + b + c)));
    EXPECT_EQ(hex(kvcrypto::md5({QByteArray(), a, QByteArray()})), hex(kvcrypto::md5(a)));
    EXPECT_NE(hex(kvcrypto::md5({a, b})), hex(kvcrypto::md5({b, a})));
}

struct Rc4Vector {
    const char *name;
    const char *key;
    int offset;
    const char *keystream; // 16 bytes at offset
};

const std::vector<Rc4Vector> &rc4Vectors()
{
    static const std::vector<Rc4Vector> v = {
        {"40-bit key used at its own length, not widened to 16 bytes", "0102030405", 0, "b2396305f03dc027ccc3524a0a1118a8"},
        {"40-bit key, second block: keystream carries on", "0102030405", 16, "6982944f18fc82d589c403a47a0d0919"},
        {"40-bit key, offset 240: index wrap-around", "0102030405", 240, "28cb1132c96ce286421dcaadb8b69eae"},
        {"40-bit key, offset 4096: state stays right over long data", "0102030405", 4096, "ff25b58995996707e51fbdf08b34d875"},
        {"56-bit key", "01020304050607", 0, "293f02d47f37c9b633f2af5285feb46b"},
        {"56-bit key, offset 16", "01020304050607", 16, "e620f1390d19bd84e2e0fd752031afc1"},
        {"56-bit key, offset 4096", "01020304050607", 4096, "e74b0b9731227fd37c0ec08a47ddd8b8"},
        {"64-bit key", "0102030405060708", 0, "97ab8a1bf0afb96132f2f67258da15a8"},
        {"64-bit key, offset 4096", "0102030405060708", 4096, "3fb46e2c8f0f068edce8cdcd7dfc5862"},
        {"80-bit key", "0102030405060708090a", 0, "ede3b04643e586cc907dc21851709902"},
        {"80-bit key, offset 16", "0102030405060708090a", 16, "03516ba78f413beb223aa5d4d2df6711"},
        {"80-bit key, offset 4096", "0102030405060708090a", 4096, "08b6be45124a43e2eb77953f84dc8553"},
        {"128-bit key", "0102030405060708090a0b0c0d0e0f10", 0, "9ac7cc9a609d1ef7b2932899cde41b97"},
        {"128-bit key, offset 16", "0102030405060708090a0b0c0d0e0f10", 16, "5248c4959014126a6e8a84f11d1a9e1c"},
        {"128-bit key, offset 4096", "0102030405060708090a0b0c0d0e0f10", 4096, "a36a4c301ae8ac13610ccbc12256cacc"},
        {"256-bit key: longer than any file key",
         "0102030405060708090a0b0c0d0e0f10"
         "1112131415161718191a1b1c1d1e1f20",
         0, "eaa6bd25880bf93d3f5d1e4ca2611d91"},
        {"40-bit key with bytes above 0x7f", "833222772a", 0, "80ad97bdc973df8a2e879e92a497efda"},
        {"40-bit key with bytes above 0x7f, offset 4096", "833222772a", 4096, "bf42c3018c2f7c66bfde524975768115"},
        {"56-bit key with bytes above 0x7f", "1910833222772a", 16, "7ae627410c9a2be693df5bb7485a63e3"},
        {"64-bit key with bytes above 0x7f", "641910833222772a", 0, "bbf609de9413172d07660cb680716926"},
        {"80-bit key with bytes above 0x7f, offset 4096", "8b37641910833222772a", 4096, "5f6bfc73815874d97100f086979357d8"},
        {"128-bit key with bytes above 0x7f", "ebb46227c6cc8b37641910833222772a", 16, "c366fdeacf9ca80436be7c358424d20b"},
    };
    return v;
}

void checkRc4Vectors(const std::function<QByteArray(const QByteArray &, const QByteArray &)> &rc4)
{
    for (const Rc4Vector &v : rc4Vectors()) {
        SCOPED_TRACE(v.name);
        const QByteArray out = rc4(unhex(v.key), QByteArray(v.offset + 16, '\0'));
        ASSERT_EQ(out.size(), v.offset + 16);
        EXPECT_EQ(hex(out.mid(v.offset)), v.keystream);
    }
}

TEST(KVCrypto, Rc4PortableMatchesPublishedKeystreams) { checkRc4Vectors(kvcrypto::detail::rc4Portable); }

TEST(KVCrypto, Rc4ThroughLegacyProviderMatchesPublishedKeystreams)
{
    if (!kvcrypto::legacyProviderAvailable())
        GTEST_SKIP() << "OpenSSL legacy provider not installed; rc4() uses the portable code";
    checkRc4Vectors([](const QByteArray &key, const QByteArray &data) { return kvcrypto::rc4(key, data); });
}

TEST(KVCrypto, Rc4PathsAgreeAcrossKeyAndDataLengths)
{
    // Key lengths at the edges (1 byte, 256 bytes) and data that is empty or not a multiple
    // of anything; a length passed wrongly to OpenSSL shows up as a mismatch here.
    for (int keyLength : {1, 2, 5, 16, 17, 255, 256}) {
        for (int dataLength : {0, 1, 15, 16, 17, 1000, 5000}) {
            SCOPED_TRACE("key " + std::to_string(keyLength) + ", data " + std::to_string(dataLength));
            QByteArray key(keyLength, Qt::Uninitialized);
            for (int i = 0; i < keyLength; ++i)
                key[i] = char(255 - i * 7);
            QByteArray data(dataLength, Qt::Uninitialized);
            for (int i = 0; i < dataLength; ++i)
                data[i] = char(i * 31 + 5);
            QByteArray viaApi;
            ASSERT_TRUE(kvcrypto::rc4(key, data, viaApi));
            EXPECT_EQ(hex(viaApi), hex(kvcrypto::detail::rc4Portable(key, data)));
            EXPECT_EQ(hex(kvcrypto::rc4(key, viaApi)), hex(data)) << "not its own inverse";
        }
    }
}

TEST(KVCrypto, Rc4KnownAnswerForEdgeKeyLengths)
{
    // Computed independently; the 256-byte key makes the key index wrap exactly once.
    QByteArray key256(256, Qt::Uninitialized);
    for (int i = 0; i < 256; ++i)
        key256[i] = char(i);
    EXPECT_EQ(hex(kvcrypto::rc4(key256, QByteArray(16, '\0'))), "5e2eb7b20d86864f73d39dd95c5a1525");
    EXPECT_EQ(hex(kvcrypto::rc4("a", QByteArray(16, '\0'))), "10bc981e42d9854b2e6dad275c1cc5cb");
    EXPECT_EQ(hex(kvcrypto::rc4("Key", "Plaintext")), "bbf316e8d940af0ad3");
}

TEST(KVCrypto, Rc4RefusesKeysOutsideOneTo256Bytes)
{
    struct Case {
        const char *name;
        QByteArray key;
    };
    const std::vector<Case> cases = {
        {"empty key would pass the data through as if encrypted", QByteArray()},
        {"257-byte key would silently drop its last byte", QByteArray(257, 'k')},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray out = "stale";
        EXPECT_FALSE(kvcrypto::rc4(c.key, "data", out));
        EXPECT_TRUE(out.isEmpty());
        EXPECT_TRUE(kvcrypto::rc4(c.key, "data").isEmpty());
        EXPECT_TRUE(kvcrypto::detail::rc4Portable(c.key, "data").isEmpty());
    }
}

TEST(KVCrypto, AesCbcRawMatchesReferenceExamples)
{
    QByteArray out;
    ASSERT_TRUE(kvcrypto::aes128CbcEncryptRaw(kAesKey, kAesIv, kAesPlain, out));
    EXPECT_EQ(hex(out), hex(kAesCipher)) << "no padding block may be added";
    ASSERT_TRUE(kvcrypto::aes128CbcDecryptRaw(kAesKey, kAesIv, kAesCipher, out));
    EXPECT_EQ(hex(out), hex(kAesPlain)) << "no padding may be stripped";

    // Decrypting in place: out aliases in.
    QByteArray inPlace = kAesCipher;
    ASSERT_TRUE(kvcrypto::aes128CbcDecryptRaw(kAesKey, kAesIv, inPlace, inPlace));
    EXPECT_EQ(hex(inPlace), hex(kAesPlain));

    ASSERT_TRUE(kvcrypto::aes128CbcEncryptRaw(kAesKey, kAesIv, QByteArray(), out));
    EXPECT_TRUE(out.isEmpty());
}

TEST(KVCrypto, AesCbcRawRefusesWrongSizes)
{
    struct Case {
        const char *name;
        QByteArray key;
        QByteArray iv;
        QByteArray in;
    };
    const std::vector<Case> cases = {
        {"15-byte key would be read past its end", kAesKey.left(15), kAesIv, kAesPlain},
        {"17-byte key is not AES-128", kAesKey + "x", kAesIv, kAesPlain},
        {"short IV would be read past its end", kAesKey, kAesIv.left(8), kAesPlain},
        {"partial final block", kAesKey, kAesIv, kAesPlain.left(17)},
        {"less than one block", kAesKey, kAesIv, kAesPlain.left(15)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray out = "stale";
        EXPECT_FALSE(kvcrypto::aes128CbcEncryptRaw(c.key, c.iv, c.in, out));
        EXPECT_TRUE(out.isEmpty());
        out = "stale";
        EXPECT_FALSE(kvcrypto::aes128CbcDecryptRaw(c.key, c.iv, c.in, out));
        EXPECT_TRUE(out.isEmpty());
    }
}

TEST(KVCrypto, AesWithIvRoundTripsAndPadsToWholeBlocks)
{
    for (int size : {0, 1, 15, 16, 17, 32}) {
        SCOPED_TRACE("plain size " + std::to_string(size));
        QByteArray plain(size, Qt::Uninitialized);
        for (int i = 0; i < size; ++i)
            plain[i] = char(16 - i % 17); // bytes that look like padding must survive
        const QByteArray enc = kvcrypto::aes128EncryptWithIV(kAesKey, plain);
        EXPECT_EQ(enc.size(), 16 + (size / 16 + 1) * 16);
        const kvcrypto::AesDecryptResult dec = kvcrypto::aes128DecryptWithIV(kAesKey, enc);
        EXPECT_TRUE(dec.ok);
        EXPECT_FALSE(dec.badPadding);
        EXPECT_EQ(hex(dec.data), hex(plain));
    }
}

TEST(KVCrypto, AesWithIvLaysOutIvThenCipherTextOfPaddedData)
{
    // A whole block of data gets a whole block of padding (16 bytes of 16), else the reader
    // would strip real data that happens to end in a small byte.
    const QByteArray plain = kAesPlain.left(32);
    QByteArray expected;
    ASSERT_TRUE(kvcrypto::aes128CbcEncryptRaw(kAesKey, kAesIv, plain + QByteArray(16, '\x10'), expected));
    const QByteArray enc = kvcrypto::aes128EncryptWithIV(kAesKey, plain, kAesIv);
    EXPECT_EQ(enc.size(), 64);
    EXPECT_EQ(hex(enc), hex(kAesIv + expected));

    ASSERT_TRUE(kvcrypto::aes128CbcEncryptRaw(kAesKey, kAesIv, "abc" + QByteArray(13, '\x0d'), expected));
    EXPECT_EQ(hex(kvcrypto::aes128EncryptWithIV(kAesKey, "abc", kAesIv)), hex(kAesIv + expected));
}

TEST(KVCrypto, AesWithIvUsesAFreshIvEachTime)
{
    const QByteArray first = kvcrypto::aes128EncryptWithIV(kAesKey, "same text");
    const QByteArray second = kvcrypto::aes128EncryptWithIV(kAesKey, "same text");
    ASSERT_EQ(first.size(), 32);
    ASSERT_EQ(second.size(), 32);
    EXPECT_NE(hex(first.left(16)), hex(second.left(16)));
    EXPECT_NE(hex(first.mid(16)), hex(second.mid(16)));
}

TEST(KVCrypto, AesWithIvRefusesBadKeyOrIv)
{
    EXPECT_TRUE(kvcrypto::aes128EncryptWithIV(kAesKey.left(5), "x").isEmpty());
    EXPECT_TRUE(kvcrypto::aes128EncryptWithIV(kAesKey, "x", kAesIv.left(15)).isEmpty());
    const kvcrypto::AesDecryptResult r = kvcrypto::aes128DecryptWithIV(kAesKey.left(5), kAesIv + kAesCipher);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.data.isEmpty());
}

// IV followed by the raw CBC encryption of plain (whole blocks), so the decryptor sees
// exactly the padding bytes the case chooses.
QByteArray ivAndRawBlocks(const QByteArray &plain)
{
    QByteArray out;
    EXPECT_TRUE(kvcrypto::aes128CbcEncryptRaw(kAesKey, kAesIv, plain, out));
    return kAesIv + out;
}

TEST(KVCrypto, AesWithIvDecryptHandlesDamagedInput)
{
    const QByteArray text = "fifteen bytes!!";
    struct Case {
        const char *name;
        QByteArray input;
        bool ok;
        bool badPadding;
        QByteArray data;
    };
    const std::vector<Case> cases = {
        {"empty input has no IV", QByteArray(), false, false, QByteArray()},
        {"input shorter than the IV", kAesIv.left(15), false, false, QByteArray()},
        {"IV alone decrypts to nothing", kAesIv, true, false, QByteArray()},
        {"IV and a partial block: the partial block is dropped", kAesIv + "12345", true, false, QByteArray()},
        {"trailing partial block after valid data is dropped", ivAndRawBlocks(text + "\x01") + "tail", true, false, text},
        {"block of sixteen 16s strips to nothing", ivAndRawBlocks(QByteArray(16, '\x10')), true, false, QByteArray()},
        {"mismatched padding is reported and the data kept", ivAndRawBlocks("fourteen bytes\x03\x02"), true, true,
         "fourteen bytes\x03\x02"},
        {"padding byte above 16 counts as plain data, no report", ivAndRawBlocks("fifteen bytes!!\x11"), true, false,
         "fifteen bytes!!\x11"},
        {"final zero byte passes with nothing stripped", ivAndRawBlocks(QByteArray("fifteen bytes!!") + '\0'), true, false,
         QByteArray("fifteen bytes!!") + '\0'},
        {"two blocks of 16s: only one block is padding", ivAndRawBlocks(QByteArray(32, '\x10')), true, false,
         QByteArray(16, '\x10')},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const kvcrypto::AesDecryptResult r = kvcrypto::aes128DecryptWithIV(kAesKey, c.input);
        EXPECT_EQ(r.ok, c.ok);
        EXPECT_EQ(r.badPadding, c.badPadding);
        EXPECT_EQ(hex(r.data), hex(c.data));
    }
}

TEST(KVCrypto, RandomBytesRejectsBadSizes)
{
    unsigned char buf[4] = {};
    EXPECT_FALSE(kvcrypto::randomBytes(buf, -1));
    EXPECT_FALSE(kvcrypto::randomBytes(nullptr, 4));
    EXPECT_TRUE(kvcrypto::randomBytes(nullptr, 0));
    EXPECT_TRUE(kvcrypto::randomBytes(-1).isEmpty());
    EXPECT_TRUE(kvcrypto::randomBytes(0).isEmpty());
    // 2^-256 chance of a false alarm.
    EXPECT_NE(hex(kvcrypto::randomBytes(32)), hex(kvcrypto::randomBytes(32)));
}

TEST(KVCrypto, ConcurrentCallsGiveTheSameAnswers)
{
    // Shared cipher or digest state between calls would corrupt results only under load.
    const QByteArray key = "0123456789abcdef";
    const QByteArray data = QByteArray("concurrent ").repeated(300);
    const QByteArray md5Expected = kvcrypto::md5(data);
    const QByteArray rc4Expected = kvcrypto::rc4(key, data);
    std::vector<int> failures(8, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                if (kvcrypto::md5(data) != md5Expected || kvcrypto::rc4(key, data) != rc4Expected)
                    ++failures[t];
                const kvcrypto::AesDecryptResult r = kvcrypto::aes128DecryptWithIV(key, kvcrypto::aes128EncryptWithIV(key, data));
                if (!r.ok || r.data != data)
                    ++failures[t];
            }
        });
    }
    for (std::thread &th : threads)
        th.join();
    for (int t = 0; t < 8; ++t)
        EXPECT_EQ(failures[t], 0) << "thread " << t;
}

} // namespace
