#include "KVPDFStandardSecurity.h"

#include "KVCrypto.h"
#include "KVPDFTextString.h"

#include <QList>

const QByteArray &KVPDFStandardSecurity::padding()
{
    static const QByteArray bytes("\x28\xBF\x4E\x5E\x4E\x75\x8A\x41\x64\x00\x4E\x56\xFF\xFA\x01\x08"
                                  "\x2E\x2E\x00\xB6\xD0\x68\x3E\x80\x2F\x0C\xA9\xFE\x64\x53\x69\x7A",
                                  32);
    return bytes;
}

QByteArray KVPDFStandardSecurity::padPassword(const QByteArray &password)
{
    QByteArray padded = password.left(32);
    padded.append(padding().left(32 - padded.size()));
    return padded;
}

QList<QByteArray> KVPDFStandardSecurity::passwordForms(const QString &password)
{
    QList<QByteArray> forms;
    const QByteArray docEncoded = kvEncodeTextString(password);
    if (!docEncoded.startsWith("\xFE\xFF"))
        forms.append(docEncoded);
    const QByteArray utf8 = password.toUtf8();
    const QByteArray cut = utf8.left(password.size());
    if (!forms.contains(cut))
        forms.append(cut);
    if (!forms.contains(utf8))
        forms.append(utf8);
    return forms;
}

QByteArray KVPDFStandardSecurity::passwordBytes(const QString &password) { return passwordForms(password).first(); }

int KVPDFStandardSecurity::keyLength() const
{
    if (revision <= 2)
        return 5;
    if (lengthBits <= 0)
        return 5;
    return std::clamp(lengthBits / 8, 5, 16);
}

QList<int> KVPDFStandardSecurity::lengthsToTry() const
{
    QList<int> lengths{lengthBits};
    if (revision <= 2)
        return lengths;
    const int stated = keyLength() * 8;
    if (stated != 128)
        lengths.append(128);
    for (int bits = 40; bits <= 120; bits += 8)
        if (bits != stated)
            lengths.append(bits);
    return lengths;
}

QByteArray KVPDFStandardSecurity::fileKey(const QByteArray &password) const
{
    QByteArray p(4, 0);
    const auto bits = uint32_t(permissions);
    for (int i = 0; i < 4; ++i)
        p[i] = char((bits >> (8 * i)) & 0xFF);
    QByteArray material = padPassword(password) + ownerValue.left(32) + p + firstID;
    if (revision >= 4 && !encryptMetadata)
        material.append("\xFF\xFF\xFF\xFF", 4);
    QByteArray digest = kvcrypto::md5(material);
    const int n = keyLength();
    if (revision >= 3)
        for (int i = 0; i < 50; ++i)
            digest = kvcrypto::md5(digest.left(n));
    return digest.left(n);
}

namespace {
QByteArray xorKey(const QByteArray &key, int i)
{
    QByteArray out = key;
    for (auto &b : out)
        b = char(uint8_t(b) ^ uint8_t(i));
    return out;
}
}

QByteArray KVPDFStandardSecurity::computeUserValue(const QByteArray &password) const
{
    const QByteArray key = fileKey(password);
    if (revision == 2)
        return kvcrypto::rc4(key, padding());
    if (revision >= 3 && revision <= 4) {
        QByteArray value = kvcrypto::rc4(key, kvcrypto::md5(padding() + firstID));
        for (int i = 1; i <= 19; ++i)
            value = kvcrypto::rc4(xorKey(key, i), value);
        return value + kvcrypto::randomBytes(16);
    }
    return QByteArray(32, 0);
}

namespace {
QByteArray ownerDigestKey(const QByteArray &ownerPassword, int revision, int keyLength)
{
    QByteArray digest = kvcrypto::md5(KVPDFStandardSecurity::padPassword(ownerPassword));
    if (revision >= 3)
        for (int i = 0; i < 50; ++i)
            digest = kvcrypto::md5(digest);
    return digest.left(keyLength);
}
}

QByteArray KVPDFStandardSecurity::computeOwnerValue(const QByteArray &ownerPassword, const QByteArray &userPassword) const
{
    // Without an owner password the user password guards O, so an empty password can never
    // pass as the owner of a file that needs a user password.
    const QByteArray owner = ownerPassword.isEmpty() ? userPassword : ownerPassword;
    const QByteArray key = ownerDigestKey(owner, revision, keyLength());
    QByteArray value = kvcrypto::rc4(key, padPassword(userPassword));
    if (revision >= 3)
        for (int i = 1; i <= 19; ++i)
            value = kvcrypto::rc4(xorKey(key, i), value);
    return value;
}

QByteArray KVPDFStandardSecurity::authenticateUser(const QByteArray &password) const
{
    const QByteArray key = fileKey(password);
    QByteArray expected;
    int compared = 16;
    if (revision == 2) {
        expected = kvcrypto::rc4(key, padding());
        compared = 32;
    } else {
        expected = kvcrypto::rc4(key, kvcrypto::md5(padding() + firstID));
        for (int i = 1; i <= 19; ++i)
            expected = kvcrypto::rc4(xorKey(key, i), expected);
    }
    if (userValue.size() < compared || expected.left(compared) != userValue.left(compared))
        return QByteArray();
    return key;
}

QByteArray KVPDFStandardSecurity::authenticateOwner(const QByteArray &password) const
{
    const QByteArray key = ownerDigestKey(password, revision, keyLength());
    QByteArray candidate = ownerValue.left(32);
    if (revision == 2) {
        candidate = kvcrypto::rc4(key, candidate);
    } else {
        for (int i = 19; i >= 0; --i)
            candidate = kvcrypto::rc4(xorKey(key, i), candidate);
    }
    return authenticateUser(candidate).isEmpty() ? QByteArray() : candidate;
}

KVPDFUnlockedKey KVPDFStandardSecurity::authenticate(const QList<QByteArray> &forms, bool asOwnerToo) const
{
    KVPDFStandardSecurity trial = *this;
    for (const int bits : lengthsToTry()) {
        trial.lengthBits = bits;
        for (const QByteArray &form : forms) {
            if (asOwnerToo) {
                const QByteArray userPassword = trial.authenticateOwner(form);
                if (!userPassword.isEmpty())
                    return {trial.fileKey(userPassword), userPassword, true, bits};
            }
            const QByteArray key = trial.authenticateUser(form);
            if (!key.isEmpty())
                return {key, form, false, bits};
        }
    }
    return {};
}

QByteArray KVPDFStandardSecurity::objectKey(const QByteArray &fileKey, uint64_t number, uint64_t generation, bool aes)
{
    QByteArray material = fileKey;
    material.append(char(number & 0xFF));
    material.append(char((number >> 8) & 0xFF));
    material.append(char((number >> 16) & 0xFF));
    material.append(char(generation & 0xFF));
    material.append(char((generation >> 8) & 0xFF));
    if (aes)
        material.append("sAlT", 4);
    return kvcrypto::md5(material).left(std::min<qsizetype>(fileKey.size() + 5, 16));
}
