#include "KVPDFObjectString.h"

#include "KVPDFObjectContext.h"
#include "KVPDFExceptions.h"
#include "KVPDFLazyState.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectStream.h"
#include "KVPDFParser.h"
#include "KVPDFTextString.h"

KVPDFObjectString::KVPDFObjectString() { m_type = TypeString; }

uint64_t KVPDFObjectString::encodingFor(const QByteArray &bytes)
{
    return bytes.size() >= 2 && uint8_t(bytes[0]) >= 0xFE && uint8_t(bytes[1]) >= 0xFE ? EncodingUTF16 : EncodingLatin1;
}

std::shared_ptr<KVPDFObjectString> KVPDFObjectString::stringWithString(const QString &text)
{
    auto string = std::make_shared<KVPDFObjectString>();
    string->setString(text);
    return string;
}

std::shared_ptr<KVPDFObjectString> KVPDFObjectString::stringWithData(const QByteArray &bytes)
{
    auto string = std::make_shared<KVPDFObjectString>();
    string->setData(bytes);
    return string;
}

void KVPDFObjectString::setString(const QString &text)
{
    m_bytes = kvEncodeTextString(text);
    m_encoding = uint8_t(encodingFor(m_bytes));
    m_isText = true;
    m_literal = true;
    m_decrypted = true;
}

void KVPDFObjectString::setData(const QByteArray &bytes)
{
    m_bytes = bytes;
    m_encoding = uint8_t(encodingFor(bytes));
    m_isText = false;
    m_literal = false;
    m_decrypted = true;
}

uint64_t KVPDFObjectString::readLiteral(const char *data, uint64_t size, uint64_t position, QByteArray &out)
{
    const auto *b = reinterpret_cast<const uint8_t *>(data);
    uint64_t p = position;
    int depth = 1;
    while (p < size) {
        const uint8_t c = b[p++];
        if (c == '\\') {
            if (p >= size)
                break;
            const uint8_t e = b[p++];
            switch (e) {
            case 'n': out.append('\n'); break;
            case 'r': out.append('\r'); break;
            case 't': out.append('\t'); break;
            case 'b': out.append('\b'); break;
            case 'f': out.append('\f'); break;
            case '\r':
                if (p < size && b[p] == '\n')
                    ++p;
                break;
            case '\n': break;
            default:
                if (e >= '0' && e <= '7') {
                    int value = e - '0';
                    for (int i = 0; i < 2 && p < size && b[p] >= '0' && b[p] <= '7'; ++i)
                        value = value * 8 + (b[p++] - '0');
                    out.append(char(value & 0xFF));
                } else {
                    out.append(char(e));
                }
            }
        } else if (c == '(') {
            ++depth;
            out.append('(');
        } else if (c == ')') {
            if (--depth == 0)
                return p;
            out.append(')');
        } else if (c == '\r') {
            if (p < size && b[p] == '\n')
                ++p;
            out.append('\n');
        } else {
            out.append(char(c));
        }
    }
    return size;
}

std::shared_ptr<KVPDFObjectString> KVPDFObjectString::stringAtOffset(uint64_t offset, const QByteArray &data,
                                                                     KVPDFObjectContext *source, int stringType, bool dataOnly,
                                                                     bool indexed)
{
    auto string = std::make_shared<KVPDFObjectString>();
    if (source) {
        string->m_context = source;
        string->m_decrypted = source->pastDecryption();
    }
    const auto *b = reinterpret_cast<const uint8_t *>(data.constData());
    const uint64_t size = uint64_t(data.size());
    const uint8_t first = offset < size ? b[offset] : 0;
    bool literal = stringType == StringLiteral || (stringType == StringByFirstByte && first == '(');
    uint64_t p = offset + 1;
    QByteArray bytes;
    if (!literal) {
        if (first != '<')
            throw FolivoParseFailure("Hex string must start with '<'.");
        int pending = -1;
        for (;;) {
            if (p >= size)
                throw FolivoParseFailure("Hex string must end with '>'.");
            const uint8_t c = b[p++];
            if (c == '>')
                break;
            if (kvIsWhite(c))
                continue;
            const int v = kvHexValue(c);
            if (v < 0)
                throw FolivoParseFailure("Hex string must end with '>'.");
            if (pending < 0) {
                pending = v;
            } else {
                bytes.append(char(pending * 16 + v));
                pending = -1;
            }
        }
        // An odd final digit counts as followed by 0.
        if (pending >= 0)
            bytes.append(char(pending * 16));
        string->m_isText = false;
    } else {
        if (first != '(')
            throw FolivoParseFailure("String literal must start with '('.");
        p = readLiteral(data.constData(), size, p, bytes);
        const bool binary = indexed || (!bytes.isEmpty() && bytes[0] == 0);
        if (binary)
            literal = false;
        string->m_isText = !binary && !dataOnly;
    }
    string->m_literal = literal;
    string->m_bytes = bytes;
    string->m_encoding = uint8_t(encodingFor(bytes));
    string->m_rawLength = p - offset;
    return string;
}

bool KVPDFObjectString::encryptionNumber(uint64_t &number, uint64_t &generation) const
{
    if (objectNumber()) {
        number = objectNumber();
        generation = this->generation();
        return true;
    }
    KVPDFObjectPtr up = m_container.lock();
    for (int i = 0; up && i < 100000; ++i) {
        if (up->objectNumber()) {
            number = up->objectNumber();
            generation = up->generation();
            return true;
        }
        up = up->immediateContainer();
    }
    return false;
}

bool KVPDFObjectString::insideEncryptDictionary() const
{
    if (!m_context || !m_context->encryptDictionary())
        return false;
    const KVPDFObject *encrypt = m_context->encryptDictionary().get();
    KVPDFObjectPtr outer = container();
    return outer.get() == encrypt || (outer && outer->objectNumber() && outer->objectNumber() == encrypt->objectNumber());
}

bool KVPDFObjectString::insideObjectStream() const
{
    if (m_flags & FlagCompressed)
        return true;
    KVPDFObjectPtr outer = container();
    return outer && (outer->flags() & FlagCompressed);
}

void KVPDFObjectString::decryptIfNeeded()
{
    if (m_decrypted.load(std::memory_order_acquire) || !m_context || !m_context->isDecrypting())
        return;
    if (insideObjectStream()) {
        // Object streams are decrypted as a whole; their strings are already plain.
        m_decrypted.store(true, std::memory_order_release);
        return;
    }
    // A cross-reference stream is never encrypted, and its dictionary is the file's trailer:
    // the ID strings in it are the plain ones the file key was made from.
    if (auto stream = kv_cast<KVPDFObjectStream>(container());
        stream && stream->dictionary() && stream->dictionary()->nameForKey("Type") == "XRef") {
        m_decrypted.store(true, std::memory_order_release);
        return;
    }
    uint64_t number = 0, generation = 0;
    if (!encryptionNumber(number, generation))
        return;
    // The cipher text changes only when the plain text is published: read it under the lock (a
    // shallow copy), decrypt outside it.
    QByteArray cipher;
    {
        std::lock_guard<std::mutex> guard(kvpdf::lazyStateLock(this));
        if (m_decrypted.load(std::memory_order_relaxed))
            return;
        cipher = m_bytes;
    }
    QByteArray plain = m_context->decryptData(cipher, number, generation);
    const uint64_t encoding = encodingFor(plain);
    std::lock_guard<std::mutex> guard(kvpdf::lazyStateLock(this));
    if (m_decrypted.load(std::memory_order_relaxed))
        return;
    m_bytes = std::move(plain);
    m_encoding.store(uint8_t(encoding), std::memory_order_relaxed);
    m_decrypted.store(true, std::memory_order_release);
}

void KVPDFObjectString::decryptStringsBelow(const KVPDFObjectPtr &root)
{
    std::vector<KVPDFObjectPtr> pending{root};
    std::vector<KVPDFObjectPtr> children;
    while (!pending.empty()) {
        KVPDFObjectPtr object = std::move(pending.back());
        pending.pop_back();
        if (!object)
            continue;
        if (auto string = kv_cast<KVPDFObjectString>(object)) {
            string->decryptIfNeeded();
            continue;
        }
        if (object->objectType() == TypeReference)
            continue;
        children.clear();
        object->appendChildren(children, false);
        pending.insert(pending.end(), children.begin(), children.end());
    }
}

QByteArray KVPDFObjectString::stringData()
{
    decryptIfNeeded();
    return m_bytes;
}

QString KVPDFObjectString::stringValue()
{
    decryptIfNeeded();
    return kvDecodeTextString(m_bytes);
}

QByteArray KVPDFObjectString::syntax(KVPDFEncryption encryption)
{
    QByteArray bytes = stringData();
    // Text the program sets is stored big-endian already; bytes read from a file are written as
    // they were read, since a binary string (an ID) may start with FF FE by chance.
    // The Encrypt dictionary's own strings (O, U) are never encrypted.
    if (m_context && kvpdf::encrypts(encryption, *m_context) && !insideEncryptDictionary()) {
        uint64_t number = 0, generation = 0;
        if (encryptionNumber(number, generation))
            bytes = m_context->encryptWithWriteKey(bytes, number, generation, KVPDFObjectContext::CryptString);
    }
    QByteArray out;
    if (!m_literal) {
        static const char hex[] = "0123456789ABCDEF";
        out.reserve(bytes.size() * 2 + 2);
        out.append('<');
        for (char ch : bytes) {
            out.append(hex[uint8_t(ch) >> 4]);
            out.append(hex[uint8_t(ch) & 15]);
        }
        out.append('>');
        return out;
    }
    out.reserve(bytes.size() + bytes.size() / 8 + 2);
    out.append('(');
    for (char ch : bytes) {
        switch (ch) {
        case '(': out.append("\\("); break;
        case ')': out.append("\\)"); break;
        case '\\': out.append("\\\\"); break;
        case '\b': out.append("\\b"); break;
        case '\t': out.append("\\t"); break;
        case '\n': out.append("\\n"); break;
        case '\f': out.append("\\f"); break;
        case '\r': out.append("\\r"); break;
        default: out.append(ch);
        }
    }
    out.append(')');
    return out;
}

void KVPDFObjectString::copyStringInto(KVPDFObjectString &target)
{
    // Decrypt while this string's object number is known: the copy will have another or none.
    decryptIfNeeded();
    copyBaseInto(target);
    const bool decrypted = m_decrypted.load(std::memory_order_acquire);
    target.m_bytes = m_bytes;
    target.m_encoding.store(m_encoding.load(std::memory_order_relaxed), std::memory_order_relaxed);
    target.m_literal = m_literal;
    target.m_isText = m_isText;
    target.m_decrypted.store(decrypted, std::memory_order_relaxed);
    // The copy leaves its container; remember that its bytes came from an object stream.
    if (!decrypted && insideObjectStream())
        target.m_flags |= FlagCompressed;
}

KVPDFObjectPtr KVPDFObjectString::copy()
{
    auto string = std::make_shared<KVPDFObjectString>();
    copyStringInto(*string);
    return string;
}

QString KVPDFObjectString::description()
{
    return QStringLiteral("<KVPDFObjectString (%1)>: %2")
        .arg(m_literal ? QStringLiteral("literal") : QStringLiteral("hex"), stringValue());
}
