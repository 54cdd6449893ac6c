// The Standard security handler's side of the document: checks at open, passwords, per-object
// encryption and decryption.
#include "KVPDFDocument.h"

#include "KVCrypto.h"
#include "KVPDFExceptions.h"
#include "KVPDFLog.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectBoolean.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectInteger.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectString.h"
#include "KVPDFStandardSecurity.h"
#include "KVPDFTrailer.h"

namespace {
KVPDFStandardSecurity securityFrom(KVPDFObjectDictionary &encrypt, const QByteArray &firstID)
{
    KVPDFStandardSecurity security;
    security.revision = int(encrypt.integerForKey("R", 2));
    // Length is optional with crypt filters (V 4), whose methods use 128-bit keys; without
    // them the default is 40 bits.
    security.lengthBits = int(encrypt.integerForKey("Length", encrypt.integerForKey("V", 0) == 4 ? 128 : 0));
    security.permissions = int32_t(encrypt.integerForKey("P", 0));
    if (auto o = kv_cast<KVPDFObjectString>(encrypt.resolvedObjectForKey("O")))
        security.ownerValue = o->stringData();
    if (auto u = kv_cast<KVPDFObjectString>(encrypt.resolvedObjectForKey("U")))
        security.userValue = u->stringData();
    if (auto metadata = kv_cast<KVPDFObjectBoolean>(encrypt.resolvedObjectForKey("EncryptMetadata")))
        security.encryptMetadata = metadata->boolValue();
    security.firstID = firstID;
    return security;
}

// Strings of the Encrypt dictionary are stored in clear.
void markPlain(const KVPDFObjectPtr &object)
{
    if (auto string = kv_cast<KVPDFObjectString>(object)) {
        string->markDecrypted();
    } else if (auto dictionary = kv_cast<KVPDFObjectDictionary>(object)) {
        for (const auto &entry : dictionary->value())
            markPlain(entry.second);
    } else if (auto array = kv_cast<KVPDFObjectArray>(object)) {
        for (const auto &element : array->value())
            markPlain(element);
    }
}
}

QByteArray KVPDFDocument::firstIDBytes() const
{
    auto ids = m_structure.trailer && m_structure.trailer->trailerDictionary()
                   ? kv_cast<KVPDFObjectArray>(m_structure.trailer->trailerDictionary()->resolvedObjectForKey("ID"))
                   : nullptr;
    // The file's own first element, as its keys were made with it; a file without an ID made
    // them with empty bytes.
    auto first = ids ? kv_cast<KVPDFObjectString>(ids->resolvedObjectAtIndex(0)) : nullptr;
    if (!first)
        return QByteArray();
    first->markDecrypted();
    return first->stringData();
}

QByteArray KVPDFDocument::writtenIDBytes() const
{
    auto first = m_contents.docID ? kv_cast<KVPDFObjectString>(m_contents.docID->resolvedObjectAtIndex(0)) : nullptr;
    return first ? first->stringData() : firstIDBytes();
}

KVPDFOpenResult KVPDFDocument::checkSecurityHandler()
{
    auto encrypt = m_security.encryptDictionary;
    const QByteArray filter = encrypt->nameForKey("Filter");
    const int64_t v = encrypt->integerForKey("V", 0);
    const int64_t r = encrypt->integerForKey("R", 2);
    auto unsupported = [&](const QString &reason) {
        if (!reason.isEmpty())
            kvLog(reason);
        kvLog(QStringLiteral("Folivo does not support the %1-%2 security handler.").arg(QString::fromLatin1(filter)).arg(v));
        return KVPDFOpenUnsupportedSecurity;
    };
    if (filter != "Standard" || !(v == 1 || v == 2 || v == 4))
        return unsupported(QString());
    if (r < 2 || r > 4)
        return unsupported(QStringLiteral("Security handler revision %1 (AES-256) is not supported").arg(r));
    m_security.readStringMethod = m_security.readStreamMethod = CryptMethod::RC4;
    if (v == 4) {
        auto filters = kv_cast<KVPDFObjectDictionary>(encrypt->resolvedObjectForKey("CF"));
        auto methodOf = [&](QByteArrayView key, CryptMethod &method) -> bool {
            // An absent filter name means Identity: that data is stored in clear.
            const QByteArray name = encrypt->nameForKey(key);
            if (name.isEmpty() || name == "Identity") {
                method = CryptMethod::None;
                return true;
            }
            auto filterDictionary = filters ? kv_cast<KVPDFObjectDictionary>(filters->resolvedObjectForKey(name)) : nullptr;
            const QByteArray cfm = filterDictionary ? filterDictionary->nameForKey("CFM") : QByteArray("V2");
            if (cfm == "V2")
                method = CryptMethod::RC4;
            else if (cfm == "AESV2")
                method = CryptMethod::AES;
            else if (cfm == "None")
                method = CryptMethod::None;
            else
                return false;
            return true;
        };
        if (!methodOf("StrF", m_security.readStringMethod) || !methodOf("StmF", m_security.readStreamMethod))
            return unsupported(QStringLiteral("Crypt filter methods other than V2 and AESV2 not supported"));
    }
    if (auto metadata = kv_cast<KVPDFObjectBoolean>(encrypt->resolvedObjectForKey("EncryptMetadata")))
        m_security.encryptMetadata = metadata->boolValue();
    m_security.aesEncryption = m_security.readStringMethod == CryptMethod::AES;
    return KVPDFOpenOK;
}

KVPDFOpenResult KVPDFDocument::setupSecurity()
{
    auto trailerDictionary = m_structure.trailer->trailerDictionary();
    m_security.encryptDictionary = kv_cast<KVPDFObjectDictionary>(trailerDictionary->resolvedObjectForKey("Encrypt"));
    if (!m_security.encryptDictionary) {
        kvLog(QStringLiteral("The Encrypt entry is not a dictionary"));
        return KVPDFOpenUnsupportedSecurity;
    }
    markPlain(m_security.encryptDictionary);
    const KVPDFOpenResult checked = checkSecurityHandler();
    if (checked != KVPDFOpenOK)
        return checked;
    m_security.filePermissions = int32_t(m_security.encryptDictionary->integerForKey("P", 0));
    const KVPDFStandardSecurity security = securityFrom(*m_security.encryptDictionary, firstIDBytes());
    const KVPDFUnlockedKey unlocked = security.authenticate({QByteArray()}, false);
    if (unlocked.key.isEmpty())
        return KVPDFOpenNeedsPassword;
    acceptKey(unlocked);
    return KVPDFOpenOK;
}

void KVPDFDocument::acceptKey(const KVPDFUnlockedKey &unlocked)
{
    const int stated = securityFrom(*m_security.encryptDictionary, QByteArray()).lengthBits;
    if (unlocked.lengthBits != stated)
        kvLog(QStringLiteral("The Encrypt dictionary's Length does not fit its key, which has %1 bits")
                  .arg(unlocked.key.size() * 8));
    m_security.readKey = unlocked.key;
    m_security.fileKey = unlocked.key;
    m_security.isOwner = unlocked.owner || m_security.isOwner;
    m_security.accessPermissions = m_security.filePermissions;
    // Written again with the same protection unless the passwords change.
    m_security.encryptKey = unlocked.key;
    m_security.userPassword = unlocked.userPassword;
    m_security.keyID = firstIDBytes();
    m_security.keyBits = unlocked.lengthBits;
    m_security.stringMethod = m_security.readStringMethod;
    m_security.streamMethod = m_security.readStreamMethod;
    m_security.encryptionStatus = EncryptionEncrypting;
}

KVPDFPasswordResult KVPDFDocument::validatePassword(const QString &password)
{
    if (!m_security.encryptDictionary)
        return awaitingPassword() ? KVPDFPasswordResult::Refused : KVPDFPasswordResult::Accepted;
    if (!m_security.fileKey.isEmpty() && m_security.isOwner)
        return KVPDFPasswordResult::Accepted;
    // A handler the open refused stays refused, whatever a password would compute under it.
    if (m_security.fileKey.isEmpty() && checkSecurityHandler() != KVPDFOpenOK)
        return KVPDFPasswordResult::Refused;
    // Once open, the dictionary in force was made with the ID the document writes.
    const KVPDFStandardSecurity security =
        securityFrom(*m_security.encryptDictionary, m_security.fileKey.isEmpty() ? firstIDBytes() : m_security.keyID);
    const KVPDFUnlockedKey unlocked = security.authenticate(KVPDFStandardSecurity::passwordForms(password), true);
    if (unlocked.key.isEmpty())
        return KVPDFPasswordResult::Refused;
    if (!m_security.fileKey.isEmpty()) {
        // Already open: a second password can only show that the user is the owner. The data
        // is the plain copy by now and must not be read or decrypted again.
        m_security.isOwner = unlocked.owner || m_security.isOwner;
        return KVPDFPasswordResult::Accepted;
    }
    acceptKey(unlocked);
    KVPDFLogCapture capture;
    m_openCapture = &capture;
    try {
        finishOpen();
    } catch (const FolivoException &failure) {
        kvLog(QStringLiteral("Exception: %1").arg(QString::fromStdString(failure.reason())));
    }
    keyWithWrittenID();
    m_openCapture = nullptr;
    for (const KVPDFWarning &warning : capture.records)
        m_warningSink.add(warning);
    return KVPDFPasswordResult::Accepted;
}

void KVPDFDocument::keyWithWrittenID()
{
    if (!m_security.encryptDictionary || m_security.encryptKey.isEmpty())
        return;
    const QByteArray id = writtenIDBytes();
    KVPDFStandardSecurity security = securityFrom(*m_security.encryptDictionary, id);
    const bool lengthStated = security.lengthBits == m_security.keyBits;
    if (id == m_security.keyID && lengthStated)
        return;
    auto dictionary = kv_cast<KVPDFObjectDictionary>(m_security.encryptDictionary->copy());
    dictionary->setContext(this);
    if (!lengthStated) {
        security.lengthBits = m_security.keyBits;
        dictionary->setObject("Length", KVPDFObjectInteger::integerWithLongLong(m_security.keyBits));
    }
    if (id != m_security.keyID) {
        security.userValue = security.computeUserValue(m_security.userPassword);
        dictionary->setObject("U", KVPDFObjectString::stringWithData(security.userValue));
        m_security.encryptKey = security.fileKey(m_security.userPassword);
        m_security.keyID = id;
    }
    markPlain(dictionary);
    m_security.encryptDictionary = dictionary;
}

void KVPDFDocument::setUserPassword(const QString &userPassword, const QString &ownerPassword, int64_t permissions,
                                    bool encryptMetadata)
{
    if (userPassword.isEmpty() && ownerPassword.isEmpty()) {
        if (!m_security.isOwner && m_security.encryptDictionary) {
            kvLog(QStringLiteral("Only the owner may remove the passwords"));
            return;
        }
        m_security.encryptDictionary.reset();
        m_security.encryptKey.clear();
        m_security.encryptionStatus = EncryptionNone;
        return;
    }
    // The keys go with the ID the save writes: a document made from nothing gets it now.
    if (!m_contents.docID)
        setUpDocumentID();
    std::shared_ptr<KVPDFObjectDictionary> dictionary;
    if (m_security.encryptDictionary) {
        dictionary = kv_cast<KVPDFObjectDictionary>(m_security.encryptDictionary->copy());
    } else {
        dictionary = std::make_shared<KVPDFObjectDictionary>();
        dictionary->setObject("Filter", KVPDFObjectName::nameWithBytes("Standard"));
        dictionary->setObject("V", KVPDFObjectInteger::integerWithLongLong(1));
        dictionary->setObject("R", KVPDFObjectInteger::integerWithLongLong(2));
        dictionary->setObject("Length", KVPDFObjectInteger::integerWithLongLong(40));
        m_security.stringMethod = m_security.streamMethod = CryptMethod::RC4;
        m_security.aesEncryption = false;
    }
    dictionary->setContext(this);
    const int revision = int(dictionary->integerForKey("R", 2));
    // The bits the format reserves are set; P as written is what the document holds.
    const uint32_t reserved = revision >= 3 ? 0xFFFFF0C0u : 0xFFFFFFC0u;
    const uint32_t meaningful = revision >= 3 ? 0x00000F3Cu : 0x0000003Cu;
    const auto p = int32_t((uint32_t(permissions) & meaningful) | reserved);
    dictionary->setObject("P", KVPDFObjectInteger::integerWithLongLong(p));
    if (revision >= 4)
        dictionary->setObject("EncryptMetadata", KVPDFObjectBoolean::boolWithBool(encryptMetadata));
    else
        encryptMetadata = true;

    // New keys go with the ID the next save writes.
    KVPDFStandardSecurity security = securityFrom(*dictionary, writtenIDBytes());
    security.permissions = p;
    security.encryptMetadata = encryptMetadata;
    const QByteArray user = KVPDFStandardSecurity::passwordBytes(userPassword);
    const QByteArray owner = KVPDFStandardSecurity::passwordBytes(ownerPassword);
    security.ownerValue = security.computeOwnerValue(owner, user);
    security.userValue = security.computeUserValue(user);
    dictionary->setObject("O", KVPDFObjectString::stringWithData(security.ownerValue));
    dictionary->setObject("U", KVPDFObjectString::stringWithData(security.userValue));
    m_security.encryptDictionary = dictionary;
    markPlain(dictionary);
    m_security.encryptMetadata = encryptMetadata;
    m_security.accessPermissions = p;
    m_security.encryptKey = security.fileKey(user);
    m_security.userPassword = user;
    m_security.keyID = security.firstID;
    m_security.keyBits = security.lengthBits;
    m_security.encryptionStatus = EncryptionEncrypting;
}

bool KVPDFDocument::streamIsEncrypted(const KVPDFObjectDictionary &streamDictionary)
{
    auto &dictionary = const_cast<KVPDFObjectDictionary &>(streamDictionary);
    const QByteArray type = dictionary.nameForKey("Type");
    if (type == "XRef")
        return false;
    if (type == "Metadata" && !m_security.encryptMetadata)
        return false;
    // A Crypt filter of the stream's own: without a name, or named Identity, it is in clear.
    KVPDFObjectPtr filter = dictionary.resolvedObjectForKey("Filter");
    QByteArray first;
    KVPDFObjectPtr parameters = dictionary.resolvedObjectForKey("DecodeParms");
    if (auto array = kv_cast<KVPDFObjectArray>(filter)) {
        auto name = kv_cast<KVPDFObjectName>(array->resolvedObjectAtIndex(0));
        first = name ? name->bytes() : QByteArray();
        if (auto parameterArray = kv_cast<KVPDFObjectArray>(parameters))
            parameters = parameterArray->resolvedObjectAtIndex(0);
    } else if (auto name = kv_cast<KVPDFObjectName>(filter)) {
        first = name->bytes();
    }
    if (first == "Crypt") {
        auto p = kv_cast<KVPDFObjectDictionary>(parameters);
        const QByteArray name = p ? p->nameForKey("Name") : QByteArray();
        if (name.isEmpty() || name == "Identity")
            return false;
    }
    return true;
}

QByteArray KVPDFDocument::decryptData(const QByteArray &data, uint64_t number, uint64_t generation, CryptTarget target)
{
    if (m_security.readKey.isEmpty())
        return data;
    const CryptMethod method = target == CryptStream ? m_security.readStreamMethod : m_security.readStringMethod;
    switch (method) {
    case CryptMethod::None: return data;
    case CryptMethod::RC4:
        return kvcrypto::rc4(KVPDFStandardSecurity::objectKey(m_security.readKey, number, generation, false), data);
    case CryptMethod::AES: {
        const auto result =
            kvcrypto::aes128DecryptWithIV(KVPDFStandardSecurity::objectKey(m_security.readKey, number, generation, true), data);
        if (!result.ok) {
            kvLog(QStringLiteral("Object %1 %2: AES data shorter than its initialisation vector").arg(number).arg(generation));
            return QByteArray();
        }
        if (result.badPadding)
            kvLog(QStringLiteral("Invalid AES padding."));
        return result.data;
    }
    }
    return data;
}

QByteArray KVPDFDocument::encryptData(const QByteArray &data, uint64_t number, uint64_t generation, CryptTarget target)
{
    return isEncrypting() ? encryptWithWriteKey(data, number, generation, target) : data;
}

QByteArray KVPDFDocument::encryptWithWriteKey(const QByteArray &data, uint64_t number, uint64_t generation, CryptTarget target)
{
    if (!hasEncryptionKey())
        return data;
    switch (methodFor(target)) {
    case CryptMethod::None: return data;
    case CryptMethod::RC4:
        return kvcrypto::rc4(KVPDFStandardSecurity::objectKey(m_security.encryptKey, number, generation, false), data);
    case CryptMethod::AES:
        return kvcrypto::aes128EncryptWithIV(KVPDFStandardSecurity::objectKey(m_security.encryptKey, number, generation, true),
                                             data);
    }
    return data;
}
