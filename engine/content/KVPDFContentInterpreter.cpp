#include "KVPDFContentInterpreter.h"

#include "KVPDFExceptions.h"
#include "KVPDFGuards.h"
#include "KVPDFLog.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectBoolean.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectStream.h"
#include "KVPDFParser.h"

#include <algorithm>
#include <cstring>

namespace {

enum class Family : uint8_t {
    GraphicsState,
    Path,
    Colour,
    TextObject,
    TextState,
    TextPosition,
    TextShow,
    Type3,
    Shading,
    XObject,
    InlineImage,
    MarkedContent,
    Compatibility,
};

struct OpInfo {
    const char *keyword;
    KVPDFContentOp op;
    Family family;
    uint8_t operands; // taken from the top of the stack; the least for a variable count
    bool variable;    // takes every operand given (colour components)
};

using O = KVPDFContentOp;
using F = Family;
constexpr OpInfo kOps[] = {
    {"q", O::q, F::GraphicsState, 0, false},
    {"Q", O::Q, F::GraphicsState, 0, false},
    {"cm", O::cm, F::GraphicsState, 6, false},
    {"w", O::w, F::GraphicsState, 1, false},
    {"J", O::J, F::GraphicsState, 1, false},
    {"j", O::j, F::GraphicsState, 1, false},
    {"M", O::M, F::GraphicsState, 1, false},
    {"d", O::d, F::GraphicsState, 2, false},
    {"ri", O::ri, F::GraphicsState, 1, false},
    {"i", O::i, F::GraphicsState, 1, false},
    {"gs", O::gs, F::GraphicsState, 1, false},
    {"m", O::m, F::Path, 2, false},
    {"l", O::l, F::Path, 2, false},
    {"c", O::c, F::Path, 6, false},
    {"v", O::v, F::Path, 4, false},
    {"y", O::y, F::Path, 4, false},
    {"h", O::h, F::Path, 0, false},
    {"re", O::re, F::Path, 4, false},
    {"S", O::S, F::Path, 0, false},
    {"s", O::s, F::Path, 0, false},
    {"f", O::f, F::Path, 0, false},
    {"F", O::F, F::Path, 0, false},
    {"f*", O::fStar, F::Path, 0, false},
    {"B", O::B, F::Path, 0, false},
    {"B*", O::BStar, F::Path, 0, false},
    {"b", O::b, F::Path, 0, false},
    {"b*", O::bStar, F::Path, 0, false},
    {"n", O::n, F::Path, 0, false},
    {"W", O::W, F::Path, 0, false},
    {"W*", O::WStar, F::Path, 0, false},
    {"CS", O::CS, F::Colour, 1, false},
    {"cs", O::cs, F::Colour, 1, false},
    {"SC", O::SC, F::Colour, 1, true},
    {"SCN", O::SCN, F::Colour, 1, true},
    {"sc", O::sc, F::Colour, 1, true},
    {"scn", O::scn, F::Colour, 1, true},
    {"G", O::G, F::Colour, 1, false},
    {"g", O::g, F::Colour, 1, false},
    {"RG", O::RG, F::Colour, 3, false},
    {"rg", O::rg, F::Colour, 3, false},
    {"K", O::K, F::Colour, 4, false},
    {"k", O::k, F::Colour, 4, false},
    {"BT", O::BT, F::TextObject, 0, false},
    {"ET", O::ET, F::TextObject, 0, false},
    {"Tc", O::Tc, F::TextState, 1, false},
    {"Tw", O::Tw, F::TextState, 1, false},
    {"Tz", O::Tz, F::TextState, 1, false},
    {"TL", O::TL, F::TextState, 1, false},
    {"Tf", O::Tf, F::TextState, 2, false},
    {"Tr", O::Tr, F::TextState, 1, false},
    {"Ts", O::Ts, F::TextState, 1, false},
    {"Td", O::Td, F::TextPosition, 2, false},
    {"TD", O::TD, F::TextPosition, 2, false},
    {"Tm", O::Tm, F::TextPosition, 6, false},
    {"T*", O::TStar, F::TextPosition, 0, false},
    {"Tj", O::Tj, F::TextShow, 1, false},
    {"TJ", O::TJ, F::TextShow, 1, false},
    {"'", O::Quote, F::TextShow, 1, false},
    {"\"", O::DoubleQuote, F::TextShow, 3, false},
    {"d0", O::d0, F::Type3, 2, false},
    {"d1", O::d1, F::Type3, 6, false},
    {"sh", O::sh, F::Shading, 1, false},
    {"Do", O::Do, F::XObject, 1, false},
    {"BI", O::BI, F::InlineImage, 0, false},
    {"MP", O::MP, F::MarkedContent, 1, false},
    {"DP", O::DP, F::MarkedContent, 2, false},
    {"BMC", O::BMC, F::MarkedContent, 1, false},
    {"BDC", O::BDC, F::MarkedContent, 2, false},
    {"EMC", O::EMC, F::MarkedContent, 0, false},
    {"BX", O::BX, F::Compatibility, 0, false},
    {"EX", O::EX, F::Compatibility, 0, false},
};

// Operators are one to three bytes: the length and the bytes packed into one key.
constexpr uint32_t packKey(const char *text, size_t length)
{
    uint32_t key = uint32_t(length) << 24;
    for (size_t k = 0; k < length; ++k)
        key |= uint32_t(uint8_t(text[k])) << (16 - 8 * k);
    return key;
}

struct Keyed {
    uint32_t key;
    uint8_t index; // into kOps
};

const std::array<Keyed, std::size(kOps)> &keyedOps()
{
    static const std::array<Keyed, std::size(kOps)> table = [] {
        std::array<Keyed, std::size(kOps)> t{};
        for (size_t k = 0; k < std::size(kOps); ++k)
            t[k] = {packKey(kOps[k].keyword, std::strlen(kOps[k].keyword)), uint8_t(k)};
        std::sort(t.begin(), t.end(), [](const Keyed &a, const Keyed &b) { return a.key < b.key; });
        return t;
    }();
    return table;
}

const OpInfo *infoFor(QByteArrayView token)
{
    if (token.isEmpty() || token.size() > 3)
        return nullptr;
    const uint32_t key = packKey(token.data(), size_t(token.size()));
    const auto &table = keyedOps();
    auto it = std::lower_bound(table.begin(), table.end(), key, [](const Keyed &a, uint32_t k) { return a.key < k; });
    return it != table.end() && it->key == key ? &kOps[it->index] : nullptr;
}

const OpInfo &infoFor(KVPDFContentOp op)
{
    static const std::array<const OpInfo *, 256> byOp = [] {
        std::array<const OpInfo *, 256> t{};
        t.fill(&kOps[0]);
        for (const OpInfo &info : kOps)
            t[size_t(info.op)] = &info;
        return t;
    }();
    return *byOp[size_t(op)];
}

// Operands beyond this many are dropped from the front: no operator takes more than a DeviceN
// colour's 32 components and a pattern name.
constexpr size_t kMaxOperands = 64;

inline bool isWhiteOrDelimiter(uint8_t c) { return KVPDFDocumentCharLookup[c] & (KVPDFCharWhite | KVPDFCharDelimiter); }

// The end of the literal string opening at `p`: after its matching ")", or the end of the data.
uint64_t skipLiteral(const uint8_t *b, uint64_t p, uint64_t n)
{
    int depth = 0;
    for (; p < n; ++p) {
        if (b[p] == '\\') {
            ++p;
        } else if (b[p] == '(') {
            ++depth;
        } else if (b[p] == ')') {
            if (--depth == 0)
                return p + 1;
        }
    }
    return n;
}

uint64_t skipHex(const uint8_t *b, uint64_t p, uint64_t n)
{
    const void *close = std::memchr(b + p, '>', size_t(n - p));
    return close ? uint64_t(static_cast<const uint8_t *>(close) - b) + 1 : n;
}

// The end of the array or dictionary opening at `p`: nesting of "[", "<<" and their closers is
// counted (an int, not recursion, so any depth is safe); strings and comments inside are
// stepped over whole, so a "]" in a string does not close the array.
uint64_t skipContainer(const uint8_t *b, uint64_t p, uint64_t n)
{
    int64_t depth = 0;
    while (p < n) {
        const uint8_t c = b[p];
        if (c == '(') {
            p = skipLiteral(b, p, n);
            continue;
        }
        if (c == '%') {
            while (p < n && b[p] != '\n' && b[p] != '\r')
                ++p;
            continue;
        }
        if (c == '[') {
            ++depth;
        } else if (c == '<') {
            if (p + 1 < n && b[p + 1] == '<') {
                ++depth;
                ++p;
            } else {
                p = skipHex(b, p, n);
                continue;
            }
        } else if (c == ']' || (c == '>' && p + 1 < n && b[p + 1] == '>')) {
            if (c == '>')
                ++p;
            if (--depth <= 0)
                return p + 1;
        }
        ++p;
    }
    return n;
}

uint64_t tokenEnd(const uint8_t *b, uint64_t p, uint64_t n)
{
    while (p < n && !isWhiteOrDelimiter(b[p]))
        ++p;
    return p;
}

bool keywordAt(const QByteArray &data, uint64_t p, QByteArrayView keyword)
{
    const uint64_t n = uint64_t(data.size());
    const uint64_t end = p + uint64_t(keyword.size());
    if (end > n || QByteArrayView(data.constData() + p, keyword.size()) != keyword)
        return false;
    return end == n || isWhiteOrDelimiter(uint8_t(data[qsizetype(end)]));
}

std::shared_ptr<KVPDFObjectDictionary> asDictionary(const KVPDFObjectPtr &object)
{
    return kv_cast<KVPDFObjectDictionary>(object ? object->resolvedObject() : nullptr);
}

// Colour components per pixel of an inline image's colour space; 0 when unknown.
int componentsOf(const KVPDFObjectPtr &space, const KVPDFContentEvent &event, int depth = 0)
{
    if (!space || depth > 4)
        return 0;
    QByteArray family;
    std::shared_ptr<KVPDFObjectArray> array;
    if (auto name = kv_cast<KVPDFObjectName>(space)) {
        family = name->bytes();
    } else if ((array = kv_cast<KVPDFObjectArray>(space)) && array->count() > 0) {
        if (auto first = kv_cast<KVPDFObjectName>(array->value()[0]->resolvedObject()))
            family = first->bytes();
    }
    if (family == "G" || family == "DeviceGray" || family == "CalGray" || family == "I" || family == "Indexed"
        || family == "Separation")
        return 1;
    if (family == "RGB" || family == "DeviceRGB" || family == "CalRGB" || family == "Lab")
        return 3;
    if (family == "CMYK" || family == "DeviceCMYK")
        return 4;
    if (array && family == "ICCBased" && array->count() > 1) {
        if (auto profile = kv_cast<KVPDFObjectStream>(array->value()[1]->resolvedObject()))
            return int(std::clamp<int64_t>(profile->dictionary()->integerForKey("N"), 0, 32));
        return 0;
    }
    if (array && family == "DeviceN" && array->count() > 1) {
        if (auto names = kv_cast<KVPDFObjectArray>(array->value()[1]->resolvedObject()))
            return int(std::min<size_t>(names->count(), 32));
        return 0;
    }
    if (!array && !family.isEmpty())
        return componentsOf(event.resource("ColorSpace", family), event, depth + 1);
    return 0;
}

KVPDFObjectPtr parameter(const std::vector<KVPDFObjectDictionary::Entry> &entries, QByteArrayView shortKey,
                         QByteArrayView longKey)
{
    for (const auto &[key, value] : entries)
        if (key == shortKey || key == longKey)
            return value ? value->resolvedObject() : nullptr;
    return nullptr;
}

// The length of an unfiltered inline image's data, or 0 when it cannot be told.
uint64_t inlineImageLength(const std::vector<KVPDFObjectDictionary::Entry> &entries, const KVPDFContentEvent &event)
{
    if (KVPDFObjectPtr filter = parameter(entries, "F", "Filter")) {
        auto filters = kv_cast<KVPDFObjectArray>(filter);
        if (!filters || filters->count() > 0)
            return 0;
    }
    auto integer = [&](QByteArrayView shortKey, QByteArrayView longKey) -> int64_t {
        KVPDFObjectPtr value = parameter(entries, shortKey, longKey);
        return value && value->objectType() == KVPDFObject::TypeInteger ? value->longLongValue() : 0;
    };
    const int64_t width = integer("W", "Width");
    const int64_t height = integer("H", "Height");
    int64_t bits = integer("BPC", "BitsPerComponent");
    int components = 0;
    auto mask = kv_cast<KVPDFObjectBoolean>(parameter(entries, "IM", "ImageMask"));
    if (mask && mask->boolValue()) {
        components = 1;
        bits = 1;
    } else {
        components = componentsOf(parameter(entries, "CS", "ColorSpace"), event);
    }
    constexpr int64_t kMaxSide = int64_t(1) << 24;
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide || components <= 0)
        return 0;
    if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16)
        return 0;
    const uint64_t rowBits = uint64_t(width) * uint64_t(components) * uint64_t(bits);
    return uint64_t(height) * ((rowBits + 7) / 8);
}

} // namespace

const char *kvContentFaultName(KVPDFContentFault fault)
{
    switch (fault) {
    case KVPDFContentFault::TooFewOperands: return "too few operands";
    case KVPDFContentFault::UnknownOperator: return "unknown operator";
    case KVPDFContentFault::StrayDelimiter: return "stray delimiter";
    case KVPDFContentFault::UnbalancedRestore: return "Q without q";
    case KVPDFContentFault::UnclosedSave: return "q without Q";
    case KVPDFContentFault::NestedTextObject: return "BT inside BT";
    case KVPDFContentFault::StrayEndText: return "ET without BT";
    case KVPDFContentFault::UnclosedText: return "BT without ET";
    case KVPDFContentFault::UnendedInlineImage: return "inline image without EI";
    case KVPDFContentFault::FormTooDeep: return "form nested too deep";
    case KVPDFContentFault::FormBudget: return "form data budget spent";
    case KVPDFContentFault::BadResource: return "unreadable resource";
    case KVPDFContentFault::Count_: break;
    }
    return "?";
}

// ---- KVPDFContentEvent -------------------------------------------------------------------

float KVPDFContentEvent::number(size_t index) const
{
    return index < operands.size() && operands[index].kind == KVPDFContentOperand::Number ? operands[index].number : 0;
}

QByteArrayView KVPDFContentEvent::bytes(size_t index) const
{
    if (index >= operands.size() || !data)
        return {};
    const KVPDFRange r = operands[index].range;
    return QByteArrayView(data->constData() + r.location, qsizetype(r.length));
}

QByteArray KVPDFContentEvent::name(size_t index) const
{
    if (!isName(index) || !data)
        return {};
    try {
        return KVPDFObjectName::nameAtOffset(operands[index].range.location, *data)->bytes();
    } catch (const FolivoException &) {
        return {};
    }
}

KVPDFObjectPtr KVPDFContentEvent::object(size_t index) const
{
    if (index >= operands.size() || !data || synthetic)
        return nullptr;
    try {
        return KVPDFParser::objectAtOffset(context, operands[index].range.location, *data, true, false, false, false);
    } catch (const FolivoException &) {
        return nullptr;
    }
}

KVPDFObjectPtr KVPDFContentEvent::resource(QByteArrayView category, QByteArrayView name) const
{
    if (!resources || !*resources)
        return nullptr;
    try {
        auto group = asDictionary((*resources)->resolvedObjectForKey(category));
        KVPDFObjectPtr entry = group ? group->resolvedObjectForKey(name) : nullptr;
        return entry ? entry->resolvedObject() : nullptr;
    } catch (const FolivoException &) {
        return nullptr;
    }
}

// ---- KVPDFContentSinkList ----------------------------------------------------------------

#define KV_FORWARD(call)                                                                                                         \
    for (KVPDFContentSink * sink : m_sinks)                                                                                      \
    sink->call
void KVPDFContentSinkList::graphicsState(const KVPDFContentEvent &e) { KV_FORWARD(graphicsState(e)); }
void KVPDFContentSinkList::path(const KVPDFContentEvent &e) { KV_FORWARD(path(e)); }
void KVPDFContentSinkList::colour(const KVPDFContentEvent &e) { KV_FORWARD(colour(e)); }
void KVPDFContentSinkList::textObject(const KVPDFContentEvent &e) { KV_FORWARD(textObject(e)); }
void KVPDFContentSinkList::textState(const KVPDFContentEvent &e) { KV_FORWARD(textState(e)); }
void KVPDFContentSinkList::textPosition(const KVPDFContentEvent &e) { KV_FORWARD(textPosition(e)); }
void KVPDFContentSinkList::textShow(const KVPDFContentEvent &e) { KV_FORWARD(textShow(e)); }
void KVPDFContentSinkList::type3Glyph(const KVPDFContentEvent &e) { KV_FORWARD(type3Glyph(e)); }
void KVPDFContentSinkList::shading(const KVPDFContentEvent &e) { KV_FORWARD(shading(e)); }
void KVPDFContentSinkList::markedContent(const KVPDFContentEvent &e) { KV_FORWARD(markedContent(e)); }
void KVPDFContentSinkList::compatibility(const KVPDFContentEvent &e) { KV_FORWARD(compatibility(e)); }
void KVPDFContentSinkList::unknownOperator(const KVPDFContentEvent &e) { KV_FORWARD(unknownOperator(e)); }
void KVPDFContentSinkList::xobject(const KVPDFContentEvent &e, const QByteArray &name,
                                   const std::shared_ptr<KVPDFObjectStream> &object)
{
    KV_FORWARD(xobject(e, name, object));
}
void KVPDFContentSinkList::formBegin(const KVPDFContentEvent &e, const std::shared_ptr<KVPDFObjectStream> &form)
{
    KV_FORWARD(formBegin(e, form));
}
void KVPDFContentSinkList::formEnd(const KVPDFContentEvent &e, const std::shared_ptr<KVPDFObjectStream> &form)
{
    KV_FORWARD(formEnd(e, form));
}
void KVPDFContentSinkList::inlineImage(const KVPDFContentEvent &e, const KVPDFInlineImage &image)
{
    KV_FORWARD(inlineImage(e, image));
}
void KVPDFContentSinkList::fault(KVPDFContentFault fault, uint64_t offset, int depth) { KV_FORWARD(fault(fault, offset, depth)); }
#undef KV_FORWARD

// ---- KVPDFContentInterpreter -------------------------------------------------------------

struct KVPDFContentInterpreter::Frame {
    const QByteArray &data;
    const std::shared_ptr<KVPDFObjectStream> *stream;
    std::shared_ptr<KVPDFObjectDictionary> resources;
    int depth;
    int saveBase;          // the save depth a Q may not go below
    int compatibility = 0; // open BX sections
    std::vector<KVPDFContentOperand> operands;
};

KVPDFContentInterpreter::KVPDFContentInterpreter(KVPDFContentSink &sink, KVPDFObjectContext *context)
    : KVPDFContentInterpreter(sink, context, Limits())
{
}

KVPDFContentInterpreter::KVPDFContentInterpreter(KVPDFContentSink &sink, KVPDFObjectContext *context, Limits limits)
    : m_sink(sink), m_context(context), m_limits(limits)
{
}

QByteArrayView KVPDFContentInterpreter::keyword(KVPDFContentOp op)
{
    return op == KVPDFContentOp::Unknown ? QByteArrayView() : QByteArrayView(infoFor(op).keyword);
}

KVPDFContentOp KVPDFContentInterpreter::lookup(QByteArrayView token)
{
    const OpInfo *info = infoFor(token);
    return info ? info->op : KVPDFContentOp::Unknown;
}

KVPDFContentStats KVPDFContentInterpreter::interpret(const QByteArray &data,
                                                     const std::shared_ptr<KVPDFObjectDictionary> &resources)
{
    m_stats = {};
    m_formBytes = 0;
    m_saveDepth = 0;
    m_inText = false;
    m_loggedDepth = false;
    m_loggedBudget = false;
    m_finished = false;
    m_loggedStray = false;
    Frame frame{data, nullptr, resources, 0, 0, 0, {}};
    frame.operands.reserve(16);
    run(frame);
    // The page's state keeps what it was left with; the counts say it was left open.
    m_finished = true;
    for (int k = 0; k < m_saveDepth; ++k)
        addFault(frame, KVPDFContentFault::UnclosedSave, uint64_t(data.size()));
    if (m_inText)
        addFault(frame, KVPDFContentFault::UnclosedText, uint64_t(data.size()));
    return m_stats;
}

void KVPDFContentInterpreter::addFault(const Frame &frame, KVPDFContentFault fault, uint64_t offset)
{
    ++m_stats.faults;
    ++m_stats.byKind[size_t(fault)];
    m_sink.fault(fault, offset, frame.depth);
    if (!m_finished && !m_stats.stopped && m_stats.faults >= m_limits.maxFaults) {
        m_stats.stopped = true;
        kvLog(QStringLiteral("Content has %1 faults; the rest of it is not read").arg(m_stats.faults));
    }
}

void KVPDFContentInterpreter::run(Frame &frame)
{
    const QByteArray &data = frame.data;
    const auto *b = reinterpret_cast<const uint8_t *>(data.constData());
    const uint64_t n = uint64_t(data.size());
    auto push = [&](KVPDFContentOperand::Kind kind, uint64_t start, uint64_t end, float number = 0) {
        if (frame.operands.size() == kMaxOperands)
            frame.operands.erase(frame.operands.begin());
        frame.operands.push_back({kind, {start, end - start}, number});
    };
    uint64_t p = 0;
    while (p < n && !m_stats.stopped) {
        const uint8_t c = b[p];
        if (kvIsWhite(c)) {
            ++p;
            continue;
        }
        const uint64_t start = p;
        switch (c) {
        case '%':
            while (p < n && b[p] != '\n' && b[p] != '\r')
                ++p;
            continue;
        case '(':
            p = skipLiteral(b, p, n);
            push(KVPDFContentOperand::String, start, p);
            continue;
        case '<':
            if (p + 1 < n && b[p + 1] == '<') {
                p = skipContainer(b, p, n);
                push(KVPDFContentOperand::Dictionary, start, p);
            } else {
                p = skipHex(b, p, n);
                push(KVPDFContentOperand::HexString, start, p);
            }
            continue;
        case '[':
            p = skipContainer(b, p, n);
            push(KVPDFContentOperand::Array, start, p);
            continue;
        case '/':
            p = tokenEnd(b, p + 1, n);
            push(KVPDFContentOperand::Name, start, p);
            continue;
        case ')':
        case '>':
        case ']':
        case '{':
        case '}':
            ++p;
            if ((c == ')' || c == '>') && !m_loggedStray) {
                kvLog(QStringLiteral("inString set, openStringChar not set"));
                m_loggedStray = true;
            }
            addFault(frame, KVPDFContentFault::StrayDelimiter, start);
            continue;
        default: break;
        }
        p = tokenEnd(b, p, n);
        const QByteArrayView token(data.constData() + start, qsizetype(p - start));
        if (std::all_of(token.begin(), token.end(), [](char ch) { return kvIsNumeric(uint8_t(ch)); })) {
            push(KVPDFContentOperand::Number, start, p, KVPDFObjectStrToFloat(token.data(), token.data() + token.size()));
            continue;
        }
        if (token == "true" || token == "false" || token == "null") {
            push(KVPDFContentOperand::Keyword, start, p);
            continue;
        }
        const OpInfo *info = infoFor(token);
        if (info && info->op == KVPDFContentOp::BI) {
            p = inlineImage(frame, start, p);
            frame.operands.clear();
            continue;
        }
        dispatch(frame, info ? info->op : KVPDFContentOp::Unknown, token, start, p);
        frame.operands.clear();
    }
}

bool KVPDFContentInterpreter::dispatch(Frame &frame, KVPDFContentOp op, QByteArrayView keyword, uint64_t start, uint64_t end)
{
    std::span<const KVPDFContentOperand> used(frame.operands);
    if (op != KVPDFContentOp::Unknown) {
        const OpInfo &info = infoFor(op);
        if (used.size() < info.operands) {
            addFault(frame, KVPDFContentFault::TooFewOperands, start);
            return false;
        }
        if (!info.variable)
            used = used.last(info.operands);
    }
    KVPDFContentEvent event;
    event.op = op;
    event.keyword = keyword;
    const uint64_t first = used.empty() ? start : used.front().range.location;
    event.range = {first, end - first};
    event.operands = used;
    event.data = &frame.data;
    event.stream = frame.stream;
    event.resources = &frame.resources;
    event.context = m_context;
    event.formDepth = frame.depth;

    switch (op) {
    case KVPDFContentOp::Unknown:
        if (frame.compatibility == 0)
            addFault(frame, KVPDFContentFault::UnknownOperator, start);
        break;
    case KVPDFContentOp::q: ++m_saveDepth; break;
    case KVPDFContentOp::Q:
        if (m_saveDepth <= frame.saveBase) {
            addFault(frame, KVPDFContentFault::UnbalancedRestore, start);
            return false;
        }
        --m_saveDepth;
        break;
    case KVPDFContentOp::BT:
        if (m_inText)
            addFault(frame, KVPDFContentFault::NestedTextObject, start);
        m_inText = true;
        break;
    case KVPDFContentOp::ET:
        if (!m_inText) {
            addFault(frame, KVPDFContentFault::StrayEndText, start);
            return false;
        }
        m_inText = false;
        break;
    case KVPDFContentOp::BX: ++frame.compatibility; break;
    case KVPDFContentOp::EX: frame.compatibility = std::max(0, frame.compatibility - 1); break;
    default: break;
    }
    ++m_stats.operators;
    if (op == KVPDFContentOp::Do)
        drawXObject(frame, event);
    else
        deliver(event);
    return true;
}

void KVPDFContentInterpreter::deliver(const KVPDFContentEvent &event)
{
    if (event.op == KVPDFContentOp::Unknown) {
        m_sink.unknownOperator(event);
        return;
    }
    switch (infoFor(event.op).family) {
    case Family::GraphicsState: m_sink.graphicsState(event); break;
    case Family::Path: m_sink.path(event); break;
    case Family::Colour: m_sink.colour(event); break;
    case Family::TextObject: m_sink.textObject(event); break;
    case Family::TextState: m_sink.textState(event); break;
    case Family::TextPosition: m_sink.textPosition(event); break;
    case Family::TextShow: m_sink.textShow(event); break;
    case Family::Type3: m_sink.type3Glyph(event); break;
    case Family::Shading: m_sink.shading(event); break;
    case Family::MarkedContent: m_sink.markedContent(event); break;
    case Family::Compatibility: m_sink.compatibility(event); break;
    case Family::XObject:
    case Family::InlineImage: break; // delivered with their objects
    }
}

void KVPDFContentInterpreter::synthetic(const Frame &frame, KVPDFContentOp op, const QTransform *matrix)
{
    std::array<KVPDFContentOperand, 6> values{};
    KVPDFContentEvent event;
    event.op = op;
    event.keyword = keyword(op);
    event.data = &frame.data;
    event.stream = frame.stream;
    event.resources = &frame.resources;
    event.context = m_context;
    event.formDepth = frame.depth;
    event.synthetic = true;
    if (matrix) {
        const double m[6] = {matrix->m11(), matrix->m12(), matrix->m21(), matrix->m22(), matrix->dx(), matrix->dy()};
        for (size_t k = 0; k < 6; ++k)
            values[k].number = float(m[k]);
        event.operands = values;
    }
    m_sink.graphicsState(event);
}

void KVPDFContentInterpreter::drawXObject(Frame &frame, const KVPDFContentEvent &event)
{
    const QByteArray name = event.name(0);
    std::shared_ptr<KVPDFObjectStream> object;
    if (!name.isEmpty()) {
        try {
            object = kv_cast<KVPDFObjectStream>(event.resource("XObject", name));
        } catch (const FolivoException &) {
            addFault(frame, KVPDFContentFault::BadResource, event.range.location);
        }
    }
    m_sink.xobject(event, name, object);
    if (!object)
        return;
    bool isForm = false;
    try {
        auto subtype =
            kv_cast<KVPDFObjectName>(object->dictionary() ? object->dictionary()->resolvedObjectForKey("Subtype") : nullptr);
        isForm = subtype && subtype->bytes() == "Form";
    } catch (const FolivoException &) {
        addFault(frame, KVPDFContentFault::BadResource, event.range.location);
    }
    if (isForm)
        runForm(frame, event, object);
}

void KVPDFContentInterpreter::runForm(Frame &caller, const KVPDFContentEvent &event,
                                      const std::shared_ptr<KVPDFObjectStream> &form)
{
    KVPDFDepthGuard guard;
    if (caller.depth + 1 > m_limits.maxFormDepth || !guard.ok()) {
        if (!m_loggedDepth)
            kvLog(QStringLiteral("Form XObject %1 nested more than %2 deep (it may draw itself); not drawn")
                      .arg(QString::fromLatin1(event.name(0)))
                      .arg(m_limits.maxFormDepth));
        m_loggedDepth = true;
        addFault(caller, KVPDFContentFault::FormTooDeep, event.range.location);
        return;
    }
    QByteArray data;
    QTransform matrix;
    std::shared_ptr<KVPDFObjectDictionary> resources = caller.resources;
    try {
        data = form->decodedData();
        const auto &dictionary = form->dictionary();
        if (!dictionary)
            return;
        if (auto array = kv_cast<KVPDFObjectArray>(dictionary->resolvedObjectForKey("Matrix")); array && array->count() == 6) {
            double m[6];
            for (size_t k = 0; k < 6; ++k) {
                KVPDFObjectPtr value = array->value()[k] ? array->value()[k]->resolvedObject() : nullptr;
                m[k] = value ? double(value->realValue()) : 0.0;
            }
            matrix = QTransform(m[0], m[1], m[2], m[3], m[4], m[5]);
        }
        if (auto own = asDictionary(dictionary->resolvedObjectForKey("Resources")))
            resources = own;
    } catch (const FolivoException &) {
        addFault(caller, KVPDFContentFault::BadResource, event.range.location);
        return;
    }
    const uint64_t cost = uint64_t(data.size()) + kFormCost;
    if (m_formBytes + cost > m_limits.maxFormBytes) {
        if (!m_loggedBudget)
            kvLog(QStringLiteral("Form XObjects of this content exceed %1 bytes in all; the rest are not drawn")
                      .arg(m_limits.maxFormBytes));
        m_loggedBudget = true;
        addFault(caller, KVPDFContentFault::FormBudget, event.range.location);
        return;
    }
    m_formBytes += cost;

    synthetic(caller, KVPDFContentOp::q);
    ++m_saveDepth;
    synthetic(caller, KVPDFContentOp::cm, &matrix);
    const bool callerInText = std::exchange(m_inText, false);
    Frame frame{data, &form, resources, caller.depth + 1, m_saveDepth, 0, {}};
    m_sink.formBegin(event, form);
    run(frame);
    while (m_saveDepth > frame.saveBase) {
        addFault(frame, KVPDFContentFault::UnclosedSave, uint64_t(data.size()));
        synthetic(frame, KVPDFContentOp::Q);
        --m_saveDepth;
    }
    if (m_inText)
        addFault(frame, KVPDFContentFault::UnclosedText, uint64_t(data.size()));
    m_sink.formEnd(event, form);
    m_inText = callerInText;
    synthetic(caller, KVPDFContentOp::Q);
    --m_saveDepth;
}

uint64_t KVPDFContentInterpreter::inlineImage(Frame &frame, uint64_t start, uint64_t afterBI)
{
    const QByteArray &data = frame.data;
    const auto *b = reinterpret_cast<const uint8_t *>(data.constData());
    const uint64_t n = uint64_t(data.size());
    std::vector<KVPDFObjectDictionary::Entry> entries;
    KVPDFContentEvent event;
    event.op = KVPDFContentOp::BI;
    event.keyword = "BI";
    event.data = &frame.data;
    event.stream = frame.stream;
    event.resources = &frame.resources;
    event.context = m_context;
    event.formDepth = frame.depth;

    auto readAt = [&](uint64_t at, uint64_t *end) -> KVPDFObjectPtr {
        *end = at;
        try {
            return KVPDFParser::objectAtOffset(m_context, at, data, true, false, false, false, end);
        } catch (const FolivoException &) {
            return nullptr;
        }
    };
    uint64_t p = afterBI;
    uint64_t dataStart = n;
    while (true) {
        p = kvSkipWhiteAndComments(data, p);
        if (p >= n)
            break;
        if (keywordAt(data, p, "ID")) {
            dataStart = std::min(n, p + 2 + (p + 2 < n && kvIsWhite(b[p + 2]) ? 1 : 0));
            break;
        }
        if (b[p] != '/') {
            // Not a key: step over the token so a damaged dictionary still reaches ID.
            const uint64_t end = isWhiteOrDelimiter(b[p]) ? p + 1 : tokenEnd(b, p, n);
            p = std::max(end, p + 1);
            continue;
        }
        const uint64_t keyEnd = tokenEnd(b, p + 1, n);
        QByteArray key;
        try {
            key = KVPDFObjectName::nameAtOffset(p, data)->bytes();
        } catch (const FolivoException &) {
        }
        p = kvSkipWhiteAndComments(data, keyEnd);
        if (p >= n || keywordAt(data, p, "ID"))
            continue;
        uint64_t valueEnd = p;
        KVPDFObjectPtr value = readAt(p, &valueEnd);
        if (value)
            entries.emplace_back(key, value);
        p = valueEnd > p ? valueEnd : std::max(p + 1, tokenEnd(b, p, n));
    }

    KVPDFInlineImage image;
    uint64_t end = n;
    bool found = false;
    if (dataStart < n) {
        uint64_t length = 0;
        try {
            length = inlineImageLength(entries, event);
        } catch (const FolivoException &) {
            addFault(frame, KVPDFContentFault::BadResource, start);
        }
        if (length > 0 && length <= n - dataStart) {
            const uint64_t q = kvSkipWhite(data, dataStart + length);
            if (keywordAt(data, q, "EI")) {
                image.data = {dataStart, length};
                image.lengthComputed = true;
                end = q + 2;
                found = true;
            }
        }
        for (uint64_t from = dataStart; !found && from + 2 <= n;) {
            const char *hit = strstrtoend(data.constData() + from, "EI", data.constData() + n);
            if (!hit)
                break;
            const uint64_t k = uint64_t(hit - data.constData());
            if (k > dataStart && kvIsWhite(b[k - 1]) && (k + 2 == n || kvIsWhite(b[k + 2]))) {
                image.data = {dataStart, k - 1 - dataStart};
                end = k + 2;
                found = true;
            }
            from = k + 1;
        }
    }
    if (!found) {
        addFault(frame, KVPDFContentFault::UnendedInlineImage, start);
        image.data = {std::min(dataStart, n), n - std::min(dataStart, n)};
        image.ended = false;
        end = n;
    }
    image.parameters = KVPDFObjectDictionary::dictionaryWithDictionary(std::move(entries));
    event.range = {start, end - start};
    ++m_stats.operators;
    m_sink.inlineImage(event, image);
    return end;
}
