#pragma once
// The base of every PDF value the engine reads or builds. The graph is lazy: a placeholder
// (type 0) stands for an indirect object not yet parsed and parses on its first
// resolvedObject(); references cache their target; strings and streams decrypt on first use.
// An array or dictionary read from bytes is parsed whole at once.
//
// Ownership: objects are always held by std::shared_ptr (make them through the classes'
// factories). A container owns its elements; `container` is a weak back link and `context`
// (the document, seen through KVPDFObjectContext) a raw back link: the context must outlive
// the objects it owns.
// Threads: reading may run on any number of threads at once (search and page-image threads
// prepare pages of one document together): resolving, the getters, lookups, copy(),
// serialising and every lazy step they take (KVPDFLazyState.h tells how). Writes stay one
// thread at a time with no reader running: the setters, the graph passes of a write
// (subobjects, markSubobjects, fixReferences) and releaseGraph. The shared direct integers
// are immutable.
#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class KVPDFObjectContext;
class KVPDFObject;
using KVPDFObjectPtr = std::shared_ptr<KVPDFObject>;

struct KVPDFRange {
    uint64_t location = 0;
    uint64_t length = 0;
    bool operator==(const KVPDFRange &) const = default;
};
// A character position or range location that names nothing: the largest signed 64-bit value,
// so it also fits the signed positions that use -1 for "left of everything".
inline constexpr int64_t KVPDFNotFound = INT64_MAX;

// Whether the strings and streams of a serialised value are encrypted: as their context says
// (outside a write), or as the write decided for every object it writes.
enum class KVPDFEncryption : uint8_t { AsContext, Encrypt, Plain };

// Objects already seen by a reachability pass; the graph keeps them alive during the pass.
using KVPDFVisitedSet = std::unordered_set<const KVPDFObject *>;
// Indexed by object number; 1 = marked. The caller sizes it to the highest object number + 1.
using KVPDFMarkArray = std::vector<uint8_t>;
// document -> (list indexed by generation) -> object number -> replacement object.
using KVPDFTranslationTable =
    std::unordered_map<const KVPDFObjectContext *, std::vector<std::unordered_map<uint64_t, KVPDFObjectPtr>>>;

class KVPDFObject : public std::enable_shared_from_this<KVPDFObject> {
public:
    enum Type : uint8_t {
        TypeUnknown = 0,
        TypeInteger = 1,
        TypeReal = 2,
        TypeString = 3,
        TypeName = 4,
        TypeArray = 5,
        TypeDictionary = 6,
        TypeBoolean = 7,
        TypeNull = 8,
        TypeStream = 9,
        TypeReference = 10,
    };
    enum Flag : uint8_t {
        FlagSkipMark = 1,      // the marking pass does not descend into this value
        FlagIndexedLookup = 2, // part of an Indexed colour space: strings are written byte for byte
        FlagCompressed = 4,    // read from an object stream: never decrypted by itself
        FlagDirectInteger = 8, // answered only by the shared direct integers
    };

    KVPDFObject();
    virtual ~KVPDFObject();
    KVPDFObject(const KVPDFObject &) = delete;
    KVPDFObject &operator=(const KVPDFObject &) = delete;

    // A placeholder for indirect object (number, generation) whose text starts at `offset` of
    // the document's bytes.
    static KVPDFObjectPtr placeholder(KVPDFObjectContext *context, uint64_t number, uint64_t generation, uint64_t offset);
    // A placeholder for object (number, 0), member `index` of the header of object stream
    // `stream` (not 0): flagged compressed, the stream as its data location and the index as
    // its raw length (it has no text of its own to measure).
    static KVPDFObjectPtr memberPlaceholder(KVPDFObjectContext *context, uint64_t number, uint64_t stream, uint64_t index);

    virtual Type objectType() const { return Type(m_type); }
    virtual void setObjectType(Type type) { m_type = Type(type & 0x0F); }
    QString objectTypeName() const;
    static QString objectTypeName(int type);

    virtual bool isDirect() const { return m_direct != 0; }
    virtual void setDirect(bool direct) { m_direct = direct; }
    virtual uint8_t flags() const { return m_flags; }
    virtual void setFlags(uint8_t flags) { m_flags = flags & 0x07; }
    bool hasFlag(Flag f) const { return (flags() & f) != 0; }

    KVPDFObjectContext *context() const { return m_context; }
    virtual void setContext(KVPDFObjectContext *context) { m_context = context; }
    // Where an unparsed entry's text starts in the document's bytes (0: unknown); the length is
    // not kept and reads 0.
    KVPDFRange dataRange() const { return {m_dataLocation, 0}; }
    void setDataRange(KVPDFRange range) { m_dataLocation = range.location; }
    virtual uint64_t objectNumber() const { return m_objectNumber; }
    virtual void setObjectNumber(uint64_t number) { m_objectNumber = number; }
    virtual uint64_t generation() const { return m_generation; }
    virtual void setGeneration(uint64_t generation) { m_generation = generation; }
    // Source bytes the object took when parsed; the parser advances by it.
    virtual uint64_t rawLength() const { return m_rawLength; }
    void setRawLength(uint64_t length) { m_rawLength = std::min<uint64_t>(length, kMaxRawLength); }

    // The outermost container: follows the links upward to the object that has none.
    KVPDFObjectPtr container() const;
    KVPDFObjectPtr immediateContainer() const { return m_container.lock(); }
    virtual void setContainer(const std::weak_ptr<KVPDFObject> &container) { m_container = container; }

    // Identity, or the same non-zero number, generation and document.
    virtual bool isEqual(const KVPDFObject &other) const;
    size_t hash() const;
    int compare(const KVPDFObject &other) const;

    // Same class, type, value (copied deeply for containers), document and flags; object number,
    // generation, container and the direct bit are not carried over.
    virtual KVPDFObjectPtr copy();

    // A placeholder parses itself and takes its place in the document's table; other objects
    // answer themselves (references answer their target).
    virtual KVPDFObjectPtr resolvedObject();
    virtual KVPDFObjectPtr resolvedObjectForKey(QByteArrayView key);

    // PDF syntax of the value.
    QByteArray directObject(KVPDFEncryption encryption = KVPDFEncryption::AsContext) { return syntax(encryption); }
    // Appends the same bytes to `out`; containers write their elements straight in, so a large
    // value is not built from a buffer per element.
    virtual void appendSyntax(QByteArray &out, KVPDFEncryption encryption) { out.append(syntax(encryption)); }
    // "N G obj" EOL direct EOL "endobj" EOL, with the document's line end.
    QByteArray indirectObject();

    // Objects newly found reachable through references (each added to `visited`), in the order a
    // depth-first walk meets them. Walks iteratively: chains of any length are safe.
    virtual std::vector<KVPDFObjectPtr> subobjects(KVPDFVisitedSet &visited);
    // The same walk, not entering reference targets for which `skip` answers true.
    std::vector<KVPDFObjectPtr> subobjects(KVPDFVisitedSet &visited, const std::function<bool(const KVPDFObjectPtr &)> &skip);
    // Marks the object numbers reachable from here; references enter their targets in the
    // document's table. `marks` grows when a number lies beyond it.
    virtual void markSubobjects(KVPDFMarkArray &marks);
    virtual void fixReferences(const KVPDFTranslationTable &table);
    // The direct children graph walks descend into (elements, values, a stream's dictionary).
    // forMarking: leave out values that carry the skip-mark flag.
    virtual void appendChildren(std::vector<KVPDFObjectPtr> &out, bool forMarking);
    // Drops owned children and cached targets so reference cycles can be freed.
    virtual void releaseGraph() { }

    // Plain text of the object for display (dictionary line ends shown as U+00AC).
    virtual QString attributedObject();
    virtual QString description();

    // Numeric view for convenience: integers and reals answer their number, others 0.
    virtual int64_t longLongValue() const { return 0; }
    virtual float realValue() const { return 0; }

protected:
    // The PDF syntax each class writes (directObject).
    virtual QByteArray syntax(KVPDFEncryption encryption);
    // Copies the fields copy() carries over into `target`.
    void copyBaseInto(KVPDFObject &target) const;
    QByteArray lineEnd() const;

    // A file holds tens of thousands of values and the write a copy of each, so the fields are
    // packed: the raw length shares a word with the type and the flags (the bytes of one
    // object parsed from memory never reach 2^56).
    static constexpr uint64_t kMaxRawLength = (uint64_t(1) << 56) - 1;
    std::weak_ptr<KVPDFObject> m_container;
    KVPDFObjectContext *m_context = nullptr;
    uint64_t m_dataLocation = 0;
    uint64_t m_objectNumber = 0;
    uint64_t m_generation = 0;
    uint64_t m_rawLength : 56 = 0;
    uint64_t m_type : 4 = TypeUnknown;
    uint64_t m_direct : 1 = 1;
    uint64_t m_flags : 3 = 0;
};

// What a container's copy holds for `element`: a copy, except for the immutable direct
// integers, which stand for themselves (they never learn a container, document or number).
KVPDFObjectPtr kvCopyElement(const KVPDFObjectPtr &element);

class KVPDFObjectArray;
class KVPDFObjectBoolean;
class KVPDFObjectDictionary;
class KVPDFObjectName;
class KVPDFObjectNull;
class KVPDFObjectReal;
class KVPDFObjectReference;
class KVPDFObjectStream;
namespace kvpdf {
// The type code of a class that every object of that code is an instance of (each sets its
// code in its constructor, and no other class uses it); none for the classes that share a code
// with a subclass (strings and dates, the two integers) and for the base class.
template <typename T> inline constexpr int kTypeCode = -1;
template <> inline constexpr int kTypeCode<KVPDFObjectArray> = KVPDFObject::TypeArray;
template <> inline constexpr int kTypeCode<KVPDFObjectBoolean> = KVPDFObject::TypeBoolean;
template <> inline constexpr int kTypeCode<KVPDFObjectDictionary> = KVPDFObject::TypeDictionary;
template <> inline constexpr int kTypeCode<KVPDFObjectName> = KVPDFObject::TypeName;
template <> inline constexpr int kTypeCode<KVPDFObjectNull> = KVPDFObject::TypeNull;
template <> inline constexpr int kTypeCode<KVPDFObjectReal> = KVPDFObject::TypeReal;
template <> inline constexpr int kTypeCode<KVPDFObjectReference> = KVPDFObject::TypeReference;
template <> inline constexpr int kTypeCode<KVPDFObjectStream> = KVPDFObject::TypeStream;
} // namespace kvpdf

// Convenience cast: nullptr when `object` is null or of another class. Classes with a type code
// of their own are told by the code alone: the writer and the parser cast every value they
// meet, and a dynamic cast costs far more than the comparison.
template <typename T> std::shared_ptr<T> kv_cast(const KVPDFObjectPtr &object)
{
    if constexpr (kvpdf::kTypeCode<T> >= 0) {
        if (!object || object->objectType() != kvpdf::kTypeCode<T>)
            return nullptr;
        Q_ASSERT(std::dynamic_pointer_cast<T>(object));
        return std::static_pointer_cast<T>(object);
    } else {
        return std::dynamic_pointer_cast<T>(object);
    }
}

// An integer or a real.
inline bool kvIsNumber(const KVPDFObjectPtr &object)
{
    return object && (object->objectType() == KVPDFObject::TypeInteger || object->objectType() == KVPDFObject::TypeReal);
}

// `object`'s entry `key`, resolved; a value that cannot be read (a damaged object raises)
// counts as absent, logged as "<owner> entry <key> unreadable: <reason>". Null for a null
// object. Never throws the engine's failure.
KVPDFObjectPtr kvReadableEntry(const KVPDFObjectPtr &object, QByteArrayView key, QStringView owner);

// A serialised indirect object, ordered by object number.
struct KVPDFObjectData {
    uint64_t objectNumber = 0;
    uint64_t generation = 0;
    QByteArray data;

    static KVPDFObjectData objectData(QByteArray data, uint64_t number, uint64_t generation)
    {
        return {number, generation, std::move(data)};
    }
    int compare(const KVPDFObjectData &other) const
    {
        return objectNumber < other.objectNumber ? -1 : (objectNumber > other.objectNumber ? 1 : 0);
    }
    bool operator<(const KVPDFObjectData &other) const { return objectNumber < other.objectNumber; }
    QString description() const { return QStringLiteral("<KVPDFObjectData>: %1 %2").arg(objectNumber).arg(generation); }
};

// Digits of an unsigned or signed value into `buffer` (at least 21 bytes), NUL-terminated;
// answers the position of the NUL.
char *KVPDFObjectUnsignedToStringInPlace(uint64_t value, char *buffer);
char *KVPDFObjectSignedToStringInPlace(int64_t value, char *buffer);
