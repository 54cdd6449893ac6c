#pragma once
// What an object needs from the document it belongs to: the file's bytes and line end, the
// object table, the crypt calls and a place to report defects. The document implements it;
// objects, the parser, the cross-reference sections and the writers see only this, so the
// layers below the document never depend on it.
//
// Ownership: objects point at their context raw; the context must outlive them.
// Threads: what objects call while they are read (docData, EOL, endstreamFinder, the table's
// lookups and resolution, the crypt state and calls, warn) may be called from any number of
// threads at once; setObject and removeObject are writes (one thread, no reader). See
// KVPDFDocument for the whole contract.
#include "KVPDFObject.h"
#include "KVPDFWarning.h"

#include <QByteArray>

#include <cstdint>
#include <memory>

class KVPDFKeywordFinder;
class KVPDFObjectDictionary;

class KVPDFObjectContext {
public:
    // Numbers above this are refused by the table: no real file comes near it, and mark tables
    // are sized by the highest number.
    static constexpr uint64_t kMaxObjectNumber = uint64_t(1) << 24;
    // What is being decrypted or encrypted: strings and streams may use different crypt filters.
    enum CryptTarget { CryptString, CryptStream };

    virtual ~KVPDFObjectContext() = default;

    // The file's bytes, and whether `data` is that very buffer (the same shared bytes).
    virtual const QByteArray &docData() const = 0;
    bool isDocData(const QByteArray &data) const
    {
        const QByteArray &bytes = docData();
        return !bytes.isEmpty() && data.constData() == bytes.constData();
    }
    // The line end found after the header: "\n", "\r" or "\r\n".
    virtual const QByteArray &EOL() const = 0;
    // Where the stream reader looks for "endstream" when a Length misses it.
    virtual KVPDFKeywordFinder &endstreamFinder() = 0;

    // The object table; see KVPDFDocument for what each call promises.
    virtual void setObject(const KVPDFObjectPtr &object, uint64_t number, uint64_t generation) = 0;
    virtual KVPDFObjectPtr objectWithNumber(uint64_t number, uint64_t generation = 0) const = 0;
    virtual KVPDFObjectPtr resolveObject(uint64_t number, uint64_t generation, bool contained = false) = 0;
    virtual KVPDFObjectPtr resolvePlaceholder(const KVPDFObjectPtr &placeholder, bool contained) = 0;
    virtual KVPDFObjectPtr readObjectOnce(uint64_t number, uint64_t generation) = 0;
    virtual bool isUnread(uint64_t number) const = 0;
    virtual void removeObject(uint64_t number) = 0;

    // False while strings and streams read from the file still hold encrypted bytes.
    virtual bool pastDecryption() const = 0;
    virtual bool isDecrypting() const = 0;
    // Whether values serialised outside a write encrypt their strings and streams.
    virtual bool isEncrypting() const = 0;
    virtual bool hasEncryptionKey() const = 0;
    virtual const std::shared_ptr<KVPDFObjectDictionary> &encryptDictionary() const = 0;
    virtual QByteArray decryptData(const QByteArray &data, uint64_t number, uint64_t generation,
                                   CryptTarget target = CryptString) = 0;
    // Encrypts with the key for writing whenever there is one; the caller decides whether to.
    virtual QByteArray encryptWithWriteKey(const QByteArray &data, uint64_t number, uint64_t generation, CryptTarget target) = 0;
    virtual bool streamIsEncrypted(const KVPDFObjectDictionary &streamDictionary) = 0;

    // A defect of one of the context's objects met after the context was opened (a stream that
    // does not decode on first use). The message was logged already where it arose.
    virtual void warn(const KVPDFWarning &warning) = 0;
};

namespace kvpdf {
// Whether a value serialised with `encryption` encrypts its strings and streams in `context`.
inline bool encrypts(KVPDFEncryption encryption, const KVPDFObjectContext &context)
{
    return encryption == KVPDFEncryption::Encrypt || (encryption == KVPDFEncryption::AsContext && context.isEncrypting());
}
}
