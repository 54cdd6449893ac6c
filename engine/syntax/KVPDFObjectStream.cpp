#include "KVPDFObjectStream.h"

#include "KVPDFObjectContext.h"
#include "KVPDFExceptions.h"
#include "KVPDFFilters.h"
#include "KVPDFJPEG.h"
#include "KVPDFLazyState.h"
#include "KVPDFLog.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectInteger.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectNull.h"
#include "KVPDFParser.h"

#include <algorithm>
#include <cstring>

KVPDFObjectStream::KVPDFObjectStream()
{
    m_type = TypeStream;
    m_direct = false;
}

std::shared_ptr<KVPDFObjectStream> KVPDFObjectStream::streamAtOffset(uint64_t offset, KVPDFObjectContext *context,
                                                                     const std::shared_ptr<KVPDFObjectDictionary> &dictionary)
{
    auto stream = std::make_shared<KVPDFObjectStream>();
    stream->m_context = context;
    stream->setDictionary(dictionary);
    const QByteArray data = context ? context->docData() : QByteArray();
    stream->m_rawData = data;
    stream->m_decrypted = !context || context->pastDecryption();
    const uint64_t size = uint64_t(data.size());
    const char *bytes = data.constData();

    uint64_t start = offset + 6;
    if (start < size && bytes[start] == '\r') {
        if (start + 1 < size && bytes[start + 1] == '\n') {
            start += 2;
        } else {
            kvLog(QStringLiteral("CR alone not allowed after 'stream' (3.2.7 in PDFReference 1.4)"));
            start += 1;
        }
    } else if (start < size && bytes[start] == '\n') {
        start += 1;
    }
    start = std::min(start, size);

    const int64_t declared = dictionary ? dictionary->integerForKey("Length", -1) : -1;
    uint64_t length = declared > 0 ? uint64_t(declared) : 0;
    bool fits = declared >= 0 && length <= size - start;
    if (fits) {
        const uint64_t after = kvSkipWhite(data, start + length);
        fits = kvHasKeyword(data, after, "endstream");
    }
    if (!fits) {
        kvLog(QStringLiteral("endstream expected but not found"));
        // Without a document there are no file bytes to search.
        const uint64_t found = context ? context->endstreamFinder().find(data, start) : KVPDFKeywordFinder::kNotFound;
        if (found != KVPDFKeywordFinder::kNotFound) {
            uint64_t end = found;
            // The line end before the keyword belongs to the syntax, not the data.
            if (end > start && bytes[end - 1] == '\n')
                --end;
            if (end > start && bytes[end - 1] == '\r')
                --end;
            length = end - start;
        } else {
            length = std::min(length, size - start);
        }
    }
    stream->m_range = {start, length};
    stream->m_fileOffset = start;
    const char *endKeyword = strstrtoend(bytes + start + length, "endstream", bytes + std::min(size, start + length + 64));
    stream->m_rawLength = (endKeyword ? uint64_t(endKeyword - bytes) + 9 : start + length) - offset;
    return stream;
}

std::shared_ptr<KVPDFObjectStream>
KVPDFObjectStream::streamWithDictionary(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, const QByteArray &data,
                                        KVPDFRange range)
{
    auto stream = std::make_shared<KVPDFObjectStream>();
    stream->setDictionary(dictionary ? dictionary : std::make_shared<KVPDFObjectDictionary>());
    stream->m_rawData = data;
    stream->setRange(range);
    return stream;
}

std::shared_ptr<KVPDFObjectStream> KVPDFObjectStream::streamWithData(const QByteArray &data, KVPDFRange range)
{
    auto dictionary = std::make_shared<KVPDFObjectDictionary>();
    auto stream = streamWithDictionary(dictionary, data, range);
    dictionary->setObject("Length", KVPDFObjectInteger::integerWithLongLong(int64_t(stream->m_range.length)));
    stream->m_decodedData = data.mid(qsizetype(stream->m_range.location), qsizetype(stream->m_range.length));
    stream->m_hasDecoded = true;
    return stream;
}

std::shared_ptr<KVPDFObjectStream> KVPDFObjectStream::streamWithData(const QByteArray &data)
{
    return streamWithData(data, {0, uint64_t(data.size())});
}

std::shared_ptr<KVPDFObjectStream> KVPDFObjectStream::streamByDeflatingData(const QByteArray &data)
{
    const QByteArray compressed = KVPDFDeflate(data).data;
    auto dictionary = std::make_shared<KVPDFObjectDictionary>();
    dictionary->setObject("Length", KVPDFObjectInteger::integerWithLongLong(compressed.size()));
    dictionary->setObject("Filter", KVPDFObjectName::nameWithBytes("FlateDecode"));
    auto stream = streamWithDictionary(dictionary, compressed, {0, uint64_t(compressed.size())});
    stream->m_decodedData = data;
    stream->m_hasDecoded = true;
    return stream;
}

void KVPDFObjectStream::setDictionary(const std::shared_ptr<KVPDFObjectDictionary> &dictionary)
{
    m_dictionary = dictionary;
    if (m_dictionary)
        m_dictionary->setContainer(weak_from_this());
}

void KVPDFObjectStream::setRange(KVPDFRange range)
{
    const uint64_t size = uint64_t(m_rawData.size());
    range.location = std::min(range.location, size);
    range.length = std::min(range.length, size - range.location);
    m_range = range;
}

void KVPDFObjectStream::decryptIfNeeded()
{
    if (m_decrypted.load(std::memory_order_acquire) || !m_context || !m_context->isDecrypting() || objectNumber() == 0)
        return;
    if (m_dictionary && !m_context->streamIsEncrypted(*m_dictionary)) {
        m_decrypted.store(true, std::memory_order_release);
        return;
    }
    // The stored bytes change only when the decrypted ones are published: take them under the
    // lock (a shallow copy), decrypt outside it.
    QByteArray buffer;
    KVPDFRange range;
    {
        std::lock_guard<std::mutex> guard(kvpdf::lazyStateLock(this));
        if (m_decrypted.load(std::memory_order_relaxed))
            return;
        buffer = m_rawData;
        range = m_range;
    }
    const QByteArray stored = buffer.mid(qsizetype(range.location), qsizetype(range.length));
    QByteArray plain = m_context->decryptData(stored, objectNumber(), generation(), KVPDFObjectContext::CryptStream);
    std::lock_guard<std::mutex> guard(kvpdf::lazyStateLock(this));
    if (m_decrypted.load(std::memory_order_relaxed))
        return;
    m_range = {0, uint64_t(plain.size())};
    m_rawData = std::move(plain);
    // Nothing can have decoded the stored bytes of a numbered stream yet (decoding decrypts
    // first); dropped all the same, as they would be cipher text.
    m_hasDecoded.store(false, std::memory_order_relaxed);
    m_decodedData.clear();
    m_decrypted.store(true, std::memory_order_release);
}

QByteArray KVPDFObjectStream::rawData()
{
    decryptIfNeeded();
    return m_rawData.mid(qsizetype(m_range.location), qsizetype(m_range.length));
}

QByteArrayView KVPDFObjectStream::rawDataView()
{
    decryptIfNeeded();
    // The same clamping as mid(): a range past the buffer views what there is.
    const auto size = uint64_t(m_rawData.size());
    const uint64_t location = std::min(m_range.location, size);
    const uint64_t length = std::min(m_range.length, size - location);
    return QByteArrayView(m_rawData.constData() + location, qsizetype(length));
}

void KVPDFObjectStream::setRawData(const QByteArray &data)
{
    m_rawData = data;
    m_range = {0, uint64_t(data.size())};
    m_hasDecoded = false;
    m_decodedData.clear();
    m_decodeComplete = true;
    m_decrypted = true;
}

void KVPDFObjectStream::updateRawData(const QByteArray &data)
{
    setRawData(data);
    if (m_dictionary)
        m_dictionary->setObject("Length", KVPDFObjectInteger::integerWithLongLong(data.size()));
    m_dataLocation = 0;
}

namespace {
// Components per pixel of an image's ColorSpace, or 0 when it does not say (absent, a name the
// page resources would have to resolve, or a family that is not an image colour space).
int colorSpaceComponents(const KVPDFObjectPtr &colorSpace)
{
    QByteArray family;
    auto array = kv_cast<KVPDFObjectArray>(colorSpace);
    if (auto name = kv_cast<KVPDFObjectName>(array && array->count() ? array->resolvedObjectAtIndex(0) : colorSpace))
        family = name->bytes();
    if (family == "DeviceGray" || family == "G" || family == "CalGray" || family == "Indexed" || family == "I"
        || family == "Separation")
        return 1;
    if (family == "DeviceRGB" || family == "RGB" || family == "CalRGB" || family == "Lab")
        return 3;
    if (family == "DeviceCMYK" || family == "CMYK")
        return 4;
    if (!array || array->count() < 2)
        return 0;
    if (family == "ICCBased") {
        auto profile = kv_cast<KVPDFObjectStream>(array->resolvedObjectAtIndex(1));
        const int64_t n = profile && profile->dictionary() ? profile->dictionary()->integerForKey("N", 0) : 0;
        return n >= 1 && n <= 4 ? int(n) : 0;
    }
    if (family == "DeviceN") {
        auto names = kv_cast<KVPDFObjectArray>(array->resolvedObjectAtIndex(1));
        return names ? int(std::min<size_t>(names->count(), 32)) : 0;
    }
    return 0;
}

// Logs an image dictionary that disagrees with the JPEG it holds. Only a diagnosis: the data
// stays what the JPEG holds, and a dictionary that cannot be read says nothing.
void checkImageShape(KVPDFObjectDictionary &dictionary, int jpegWidth, int jpegHeight, int components)
{
    try {
        const int64_t width = dictionary.integerForKey("Width", -1);
        const int64_t height = dictionary.integerForKey("Height", -1);
        const int64_t bits = dictionary.integerForKey("BitsPerComponent", 8);
        const int implied = colorSpaceComponents(dictionary.resolvedObjectForKey("ColorSpace"));
        if ((width < 0 || width == jpegWidth) && (height < 0 || height == jpegHeight) && (!implied || implied == components)
            && bits == 8)
            return;
        kvLog(QStringLiteral("DCTDecode: the JPEG is %1 x %2 with %3 components of 8 bits; the image dictionary "
                             "says %4 x %5 with %6 of %7 bits")
                  .arg(jpegWidth)
                  .arg(jpegHeight)
                  .arg(components)
                  .arg(width)
                  .arg(height)
                  .arg(implied ? QString::number(implied) : QStringLiteral("?"))
                  .arg(bits));
    } catch (const FolivoException &) {
    }
}

// The samples the JPEG holds; `dictionary` (the image's) is checked against them. A JPEG that
// does not decode answers nothing, and `failure` receives the message logged.
QByteArray decodeJPEG(const QByteArray &jpeg, const std::shared_ptr<KVPDFObjectDictionary> &dictionary, QString &failure)
{
    KVPDFJPEGImage image = KVPDFDecodeJPEG(jpeg);
    if (!image.complete) {
        failure = QStringLiteral("DCTDecode: %1").arg(image.error);
        kvLog(failure);
        return QByteArray();
    }
    if (dictionary)
        checkImageShape(*dictionary, image.width, image.height, image.components);
    return std::move(image.samples);
}
}

QByteArray KVPDFObjectStream::decode(QString &failure, bool &complete)
{
    QByteArray data = rawData();
    complete = true;
    if (!m_dictionary)
        return data;
    KVPDFObjectPtr filter = m_dictionary->resolvedObjectForKey("Filter");
    if (!filter || filter->objectType() == TypeNull)
        return data;
    KVPDFObjectPtr parameters = m_dictionary->resolvedObjectForKey("DecodeParms");
    if (!parameters)
        parameters = m_dictionary->resolvedObjectForKey("DP");

    std::vector<KVPDFObjectPtr> filters;
    std::vector<KVPDFObjectPtr> parameterList;
    if (auto array = kv_cast<KVPDFObjectArray>(filter)) {
        for (size_t i = 0; i < array->count(); ++i)
            filters.push_back(array->resolvedObjectAtIndex(i));
        if (auto parameterArray = kv_cast<KVPDFObjectArray>(parameters))
            for (size_t i = 0; i < parameterArray->count(); ++i)
                parameterList.push_back(parameterArray->resolvedObjectAtIndex(i));
        else
            parameterList.push_back(parameters);
    } else {
        filters.push_back(filter);
        parameterList.push_back(
            kv_cast<KVPDFObjectArray>(parameters) ? kv_cast<KVPDFObjectArray>(parameters)->resolvedObjectAtIndex(0) : parameters);
    }

    for (size_t i = 0; i < filters.size(); ++i) {
        auto name = kv_cast<KVPDFObjectName>(filters[i]);
        if (!name)
            break;
        KVPDFPredictorParams predictor;
        int earlyChange = 1;
        if (auto p = kv_cast<KVPDFObjectDictionary>(i < parameterList.size() ? parameterList[i] : nullptr)) {
            predictor.predictor = int(p->integerForKey("Predictor", 1));
            predictor.colors = int(p->integerForKey("Colors", 1));
            predictor.bitsPerComponent = int(p->integerForKey("BitsPerComponent", 8));
            predictor.columns = int(p->integerForKey("Columns", 1));
            earlyChange = int(p->integerForKey("EarlyChange", 1));
        }
        const QByteArray &filterName = name->bytes();
        if (filterName == "DCTDecode" || filterName == "DCT") {
            data = decodeJPEG(data, m_dictionary, failure);
            if (data.isEmpty())
                complete = false;
            break;
        }
        KVPDFFilterResult result = KVPDFApplyFilter(filterName, data, predictor, earlyChange);
        data = std::move(result.data);
        if (!result.complete) {
            failure = result.error;
            complete = false;
            break;
        }
    }
    return data;
}

QByteArray KVPDFObjectStream::decodedData()
{
    decryptIfNeeded();
    if (m_hasDecoded.load(std::memory_order_acquire))
        return m_decodedData;
    // Decoded outside any lock: another thread may decode the same data meanwhile, and the
    // first result published is the one kept.
    QString failure;
    bool complete = true;
    QByteArray data = decode(failure, complete);
    return publishDecoded(std::move(data), complete, failure);
}

QByteArray KVPDFObjectStream::publishDecoded(QByteArray data, bool complete, const QString &failure)
{
    bool report = false;
    QByteArray answer;
    {
        std::lock_guard<std::mutex> guard(kvpdf::lazyStateLock(this));
        if (!m_hasDecoded.load(std::memory_order_relaxed)) {
            m_decodedData = std::move(data);
            m_decodeComplete.store(complete, std::memory_order_relaxed);
            // Reported to the document once, however often the data is decoded again.
            report = !complete && !failure.isEmpty() && m_context && !m_reportedFailure;
            m_reportedFailure = m_reportedFailure || report;
            m_hasDecoded.store(true, std::memory_order_release);
        }
        answer = m_decodedData;
    }
    // Outside the lock: the document's warnings have a lock of their own.
    if (report)
        m_context->warn({failure, objectNumber(), m_fileOffset});
    return answer;
}

namespace {

// The (object number, offset) pairs heading an object stream's decoded data, at most `count`,
// with offsets made absolute by `first`. Reading stops at the first pair that is no pair of
// numbers; a pair naming no possible object or lying past the data is passed over.
std::vector<KVPDFObjectStream::Member> objectStreamMembers(const QByteArray &data, int64_t count, int64_t first,
                                                           uint64_t streamNumber)
{
    const char *end = data.constData() + data.size();
    const char *p = data.constData();
    std::vector<KVPDFObjectStream::Member> members;
    for (int64_t i = 0; i < count && p < end; ++i) {
        while (p < end && kvIsWhite(uint8_t(*p)))
            ++p;
        const char *stop = p;
        const float number = KVPDFObjectStrToFloat(p, end, &stop);
        if (stop == p)
            break;
        p = stop;
        while (p < end && kvIsWhite(uint8_t(*p)))
            ++p;
        const float relative = KVPDFObjectStrToFloat(p, end, &stop);
        if (stop == p)
            break;
        p = stop;
        // "1e30" reads as a float no object number can hold; converting it would be undefined.
        if (!(number >= 1 && number < 0x1p64f) || !(relative >= 0) || first < 0)
            continue;
        const double where = double(first) + double(relative);
        if (where >= double(data.size())) {
            kvLog(QStringLiteral("Object stream %1: member %2 lies past the data").arg(streamNumber).arg(uint64_t(number)));
            continue;
        }
        members.push_back({uint64_t(number), uint64_t(where)});
    }
    return members;
}

} // namespace

QByteArray KVPDFObjectStream::objectStreamContents(std::vector<Member> &members)
{
    members.clear();
    if (!m_dictionary || m_dictionary->nameForKey("Type") != "ObjStm")
        return QByteArray();
    const int64_t count = m_dictionary->integerForKey("N", 0);
    const int64_t first = m_dictionary->integerForKey("First", 0);
    // Whoever reads the members decides how long the decoded data stays: it is not kept here.
    decryptIfNeeded();
    QByteArray data;
    if (m_hasDecoded.load(std::memory_order_acquire)) {
        data = m_decodedData;
    } else {
        QString failure;
        bool complete = true;
        data = decode(failure, complete);
        bool report = false;
        {
            std::lock_guard<std::mutex> guard(kvpdf::lazyStateLock(this));
            m_decodeComplete.store(complete, std::memory_order_relaxed);
            report = !complete && !failure.isEmpty() && m_context && !m_reportedFailure;
            m_reportedFailure = m_reportedFailure || report;
        }
        if (report)
            m_context->warn({failure, objectNumber(), m_fileOffset});
    }
    if (data.isEmpty())
        throw FolivoParseFailure("Folivo expected stream data with length > 0.");
    members = objectStreamMembers(data, count, first, objectNumber());
    return data;
}

uint64_t KVPDFObjectStream::memberBound(const std::vector<uint64_t> &starts, uint64_t offset, uint64_t size)
{
    auto next = std::upper_bound(starts.begin(), starts.end(), offset);
    return std::min(next == starts.end() ? size : *next, size);
}

KVPDFObjectPtr KVPDFObjectStream::parseMember(KVPDFObjectContext *context, const QByteArray &data, uint64_t offset,
                                              uint64_t bound, uint64_t streamNumber, uint64_t memberNumber)
{
    bound = std::min(bound, uint64_t(data.size()));
    if (offset >= bound)
        return nullptr;
    const QByteArray view = QByteArray::fromRawData(data.constData(), qsizetype(bound));
    KVPDFObjectPtr object;
    try {
        object = KVPDFParser::objectAtOffset(context, offset, view, false, false, false, true);
    } catch (const FolivoParseFailure &failure) {
        kvLog(QStringLiteral("Object stream %1: member %2: %3")
                  .arg(streamNumber)
                  .arg(memberNumber)
                  .arg(QString::fromStdString(failure.reason())));
        return nullptr;
    }
    if (!object)
        return nullptr;
    if (object->objectType() == KVPDFObject::TypeReference) {
        // Entered under the member's number, the reference would take that number as its
        // target and refer to itself.
        kvLog(QStringLiteral("Object stream %1: member %2 is a reference; read as null").arg(streamNumber).arg(memberNumber));
        object = KVPDFObjectNull::nullObject();
    }
    if (object->flags() & KVPDFObject::FlagDirectInteger)
        object = object->copy();
    object->setFlags(object->flags() | KVPDFObject::FlagCompressed);
    return object;
}

void KVPDFObjectStream::handleCompressedObjects(const std::function<bool(uint64_t)> &accept)
{
    std::vector<Member> members;
    const QByteArray data = objectStreamContents(members);
    // Each member ends where the next one starts: a member that never closes (a dictionary
    // without ">>") must not be parsed to the end of the data once per member.
    std::vector<uint64_t> starts;
    starts.reserve(members.size());
    for (const Member &member : members)
        starts.push_back(member.offset);
    std::sort(starts.begin(), starts.end());
    for (const Member &member : members) {
        if (accept && !accept(member.number))
            continue;
        const uint64_t bound = memberBound(starts, member.offset, uint64_t(data.size()));
        KVPDFObjectPtr object = parseMember(m_context, data, member.offset, bound, objectNumber(), member.number);
        if (object && m_context)
            m_context->setObject(object, member.number, 0);
    }
}

KVPDFObjectPtr KVPDFObjectStream::resolvedObjectForKey(QByteArrayView key)
{
    return m_dictionary ? m_dictionary->resolvedObjectForKey(key) : nullptr;
}

void KVPDFObjectStream::setContext(KVPDFObjectContext *context)
{
    m_context = context;
    if (m_dictionary)
        m_dictionary->setContext(context);
}

QByteArray KVPDFObjectStream::syntax(KVPDFEncryption encryption)
{
    const SyntaxParts parts = syntaxParts(encryption);
    QByteArray out;
    out.reserve(parts.head.size() + parts.data.size() + parts.tail.size());
    out.append(parts.head);
    out.append(parts.data);
    out.append(parts.tail);
    return out;
}

KVPDFObjectStream::SyntaxParts KVPDFObjectStream::syntaxParts(KVPDFEncryption encryption)
{
    SyntaxParts parts;
    parts.data = rawDataView();
    const QByteArray eol = lineEnd();
    if (m_context && kvpdf::encrypts(encryption, *m_context) && objectNumber() != 0
        && (!m_dictionary || m_context->streamIsEncrypted(*m_dictionary))) {
        parts.encrypted = m_context->encryptWithWriteKey(parts.data.toByteArray(), objectNumber(), generation(),
                                                         KVPDFObjectContext::CryptStream);
        parts.data = parts.encrypted;
    }
    const KVPDFObjectPtr length = KVPDFObjectInteger::integerWithLongLong(parts.data.size());
    if (m_dictionary) {
        // Strings in the dictionary encrypt with this stream's number. (Set only where it is
        // not: serialising is a read, and other threads may be reading the dictionary.)
        if (m_dictionary->immediateContainer().get() != this)
            m_dictionary->setContainer(weak_from_this());
        m_dictionary->appendSyntaxReplacing(parts.head, encryption, "Length", length);
    } else {
        KVPDFObjectDictionary().appendSyntaxReplacing(parts.head, encryption, "Length", length);
    }
    parts.head.append(eol);
    parts.head.append("stream\r\n");
    parts.tail = eol + "endstream";
    return parts;
}

KVPDFObjectPtr KVPDFObjectStream::copy()
{
    auto stream = std::make_shared<KVPDFObjectStream>();
    copyBaseInto(*stream);
    // Share the (decrypted) buffer and range rather than copying the bytes out of the file.
    decryptIfNeeded();
    stream->m_rawData = m_rawData;
    stream->m_range = m_range;
    stream->m_decrypted = true;
    if (m_dictionary)
        stream->setDictionary(kv_cast<KVPDFObjectDictionary>(m_dictionary->copy()));
    if (m_hasDecoded.load(std::memory_order_acquire)) {
        stream->m_decodedData = m_decodedData;
        stream->m_hasDecoded = true;
    }
    stream->m_decodeComplete = m_decodeComplete.load(std::memory_order_acquire);
    stream->m_fileOffset = m_fileOffset;
    return stream;
}

void KVPDFObjectStream::fixReferences(const KVPDFTranslationTable &table)
{
    if (m_dictionary)
        m_dictionary->fixReferences(table);
}

void KVPDFObjectStream::appendChildren(std::vector<KVPDFObjectPtr> &out, bool)
{
    if (m_dictionary)
        out.push_back(m_dictionary);
}

void KVPDFObjectStream::releaseGraph()
{
    if (m_dictionary)
        m_dictionary->releaseGraph();
}

QString KVPDFObjectStream::attributedObject()
{
    QString text = m_dictionary ? m_dictionary->attributedObject() : QString();
    return text + QString::fromLatin1(decodedData());
}

QString KVPDFObjectStream::description()
{
    return QStringLiteral("<KVPDFObjectStream>{%1}: %2")
        .arg(objectNumber())
        .arg(m_dictionary ? m_dictionary->description() : QString());
}
