#pragma once
// The content-stream dispatcher: one forward pass over content bytes that turns them into
// operator events and hands each to a sink. It paints nothing and keeps no graphics state of
// its own; the state keeper, the trace and later consumers are sinks (compose them with
// KVPDFContentSinkList rather than deriving from the dispatcher).
//
// Tokens follow the object parser's byte classes: a keyword runs to the next white space or
// delimiter, so "0 g/F1 12 Tf" is "0", "g", "/F1", "12", "Tf". Operators match whole tokens
// only; a token that names no operator is an unknown operator (a fault outside BX/EX).
//
// What the dispatcher checks, so that no sink has to: an operator given fewer operands than it
// takes is dropped (extra operands are ignored, the last ones count, as for a stack); a Q
// without its q is dropped, and q's left open by a form are closed when the form ends; BT
// inside a text object and ET outside one are faults (the BT is passed on, the ET dropped).
// Every fault is counted (KVPDFContentStats) and reported to the sink; once a run reaches
// Limits::maxFaults it stops with a log line, since such data is not content. The first stray
// ")" or ">" of a run is logged as "inString set, openStringChar not set".
//
// Byte ranges: each event names the bytes of its operands and its operator in the data being
// read, which is the data given to interpret() or, inside a form, the form's decoded data
// (event.stream says which). An operand's range starts at its first byte, so a string operand
// starts with "(" or "<" and an array with "[".
//
// Form XObjects: Do of a form is reported (xobject), then the dispatcher passes a q, the
// form's Matrix as a cm (both marked synthetic), formBegin, the form's own events, Q's for
// what the form left open, formEnd and a synthetic Q. The form's Resources serve its
// operators, else the caller's. Nesting stops at Limits::maxFormDepth (a form that draws
// itself, directly or through others, is stopped there with a log line) and the form data
// read per run is capped by Limits::maxFormBytes (each form drawn counts its data and
// kFormCost more), so forms that draw others many times over cannot multiply the work.
//
// Inline images: the parameters up to ID are read with the object parser (direct only; a
// key or value that cannot be read is stepped over). Unfiltered data of computable length
// (W, H, BPC and the colour space's components, or an image mask) is stepped over by that
// length before "EI" is looked for; other data ends at the first "EI" with white space
// before it and white space or the end after it. Data without an end runs to the end of the
// data (a fault).
//
// The page's starting state (the move of the crop box's corner to the origin, once per page,
// not again for each form) is the caller's: it is the state the keeper is made with.
//
// Bad input never throws out of interpret(): resources that cannot be read count as missing.
// Threads: one run at a time per dispatcher; the objects it reads belong to the caller's
// document graph, which other dispatchers may read at the same time (KVPDFObject.h).
#include "KVPDFObject.h"

#include <QByteArray>
#include <QTransform>

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

class KVPDFObjectContext;
class KVPDFObjectDictionary;
class KVPDFObjectStream;

// The operators of the PDF standard, in families.
enum class KVPDFContentOp : uint8_t {
    Unknown,
    // graphics state
    q,
    Q,
    cm,
    w,
    J,
    j,
    M,
    d,
    ri,
    i,
    gs,
    // path construction, painting and clipping
    m,
    l,
    c,
    v,
    y,
    h,
    re,
    S,
    s,
    f,
    F,
    fStar,
    B,
    BStar,
    b,
    bStar,
    n,
    W,
    WStar,
    // colour
    CS,
    cs,
    SC,
    SCN,
    sc,
    scn,
    G,
    g,
    RG,
    rg,
    K,
    k,
    // text object, state, position and showing
    BT,
    ET,
    Tc,
    Tw,
    Tz,
    TL,
    Tf,
    Tr,
    Ts,
    Td,
    TD,
    Tm,
    TStar,
    Tj,
    TJ,
    Quote,
    DoubleQuote,
    // Type 3 glyphs, shading, XObjects, inline images, marked content, compatibility
    d0,
    d1,
    sh,
    Do,
    BI,
    MP,
    DP,
    BMC,
    BDC,
    EMC,
    BX,
    EX,
};

enum class KVPDFContentFault : uint8_t {
    TooFewOperands,    // the operator was dropped
    UnknownOperator,   // outside BX/EX
    StrayDelimiter,    // ")", ">", "]", "}" or "{" where no operand opens
    UnbalancedRestore, // Q without q (dropped)
    UnclosedSave,      // q still open at the end of a form or of the run
    NestedTextObject,  // BT inside BT
    StrayEndText,      // ET outside BT (dropped)
    UnclosedText,      // BT still open at the end of a form or of the run
    UnendedInlineImage,
    FormTooDeep, // a form not drawn: nested past maxFormDepth
    FormBudget,  // a form not drawn: maxFormBytes reached
    BadResource, // a resource that raised a parse failure
    Count_
};
const char *kvContentFaultName(KVPDFContentFault fault);

struct KVPDFContentStats {
    uint64_t operators = 0; // events passed on, synthetic ones left out
    uint32_t faults = 0;
    std::array<uint32_t, size_t(KVPDFContentFault::Count_)> byKind{};
    bool stopped = false; // maxFaults reached
    uint32_t count(KVPDFContentFault fault) const { return byKind[size_t(fault)]; }
};

struct KVPDFContentOperand {
    enum Kind : uint8_t { Number, Name, String, HexString, Array, Dictionary, Keyword };
    Kind kind = Number;
    KVPDFRange range; // in the event's data
    float number = 0; // numbers only, read with KVPDFObjectStrToFloat
};

// One operator. Valid only during the sink call that receives it.
struct KVPDFContentEvent {
    KVPDFContentOp op = KVPDFContentOp::Unknown;
    QByteArrayView keyword;                                            // the operator's bytes ("BI" for an inline image)
    KVPDFRange range;                                                  // first used operand to the end of the operator
    std::span<const KVPDFContentOperand> operands;                     // those it uses (all for an unknown operator)
    const QByteArray *data = nullptr;                                  // what the ranges point into
    const std::shared_ptr<KVPDFObjectStream> *stream = nullptr;        // the form being read, else null
    const std::shared_ptr<KVPDFObjectDictionary> *resources = nullptr; // may point at null
    KVPDFObjectContext *context = nullptr;
    int formDepth = 0;      // 0 for the data given to interpret()
    bool synthetic = false; // made by the dispatcher around a form: no bytes, no range

    size_t count() const { return operands.size(); }
    // 0 for a missing or non-number operand.
    float number(size_t index) const;
    bool isName(size_t index) const { return index < operands.size() && operands[index].kind == KVPDFContentOperand::Name; }
    // A name operand's bytes without "/" and with "#xx" escapes decoded; empty otherwise.
    QByteArray name(size_t index) const;
    QByteArrayView bytes(size_t index) const;
    // The operand read by the object parser (direct only), or null when it does not parse.
    KVPDFObjectPtr object(size_t index) const;
    // The entry `name` of the resource category `category` ("ExtGState", "ColorSpace", ...),
    // resolved; null when missing or unreadable.
    KVPDFObjectPtr resource(QByteArrayView category, QByteArrayView name) const;
};

struct KVPDFInlineImage {
    std::shared_ptr<KVPDFObjectDictionary> parameters; // as written, abbreviations kept
    KVPDFRange data;                                   // the image bytes, between ID's white space and EI
    bool lengthComputed = false;                       // data stepped over by W, H, BPC and components
    bool ended = true;                                 // false: no EI, the data runs to the end
};

// Every virtual does nothing by default.
class KVPDFContentSink {
public:
    virtual ~KVPDFContentSink() = default;
    virtual void graphicsState(const KVPDFContentEvent &) { } // q Q cm w J j M d ri i gs
    virtual void path(const KVPDFContentEvent &) { }          // construction, painting, clipping
    virtual void colour(const KVPDFContentEvent &) { }        // CS cs SC SCN sc scn G g RG rg K k
    virtual void textObject(const KVPDFContentEvent &) { }    // BT ET
    virtual void textState(const KVPDFContentEvent &) { }     // Tc Tw Tz TL Tf Tr Ts
    virtual void textPosition(const KVPDFContentEvent &) { }  // Td TD Tm T*
    virtual void textShow(const KVPDFContentEvent &) { }      // Tj TJ ' "
    virtual void type3Glyph(const KVPDFContentEvent &) { }    // d0 d1
    virtual void shading(const KVPDFContentEvent &) { }       // sh
    virtual void markedContent(const KVPDFContentEvent &) { } // MP DP BMC BDC EMC
    virtual void compatibility(const KVPDFContentEvent &) { } // BX EX
    virtual void unknownOperator(const KVPDFContentEvent &) { }
    // Do; `object` is the resolved XObject (null when the name is not found).
    virtual void xobject(const KVPDFContentEvent &, const QByteArray & /*name*/,
                         const std::shared_ptr<KVPDFObjectStream> & /*object*/)
    {
    }
    // Around a form's own events (inside the synthetic q ... Q).
    virtual void formBegin(const KVPDFContentEvent &, const std::shared_ptr<KVPDFObjectStream> & /*form*/) { }
    virtual void formEnd(const KVPDFContentEvent &, const std::shared_ptr<KVPDFObjectStream> & /*form*/) { }
    virtual void inlineImage(const KVPDFContentEvent &, const KVPDFInlineImage &) { }
    // `offset` is in the data being read (see KVPDFContentEvent::data); `depth` the form depth.
    virtual void fault(KVPDFContentFault, uint64_t /*offset*/, int /*depth*/) { }
};

// Passes every call to each sink in order.
class KVPDFContentSinkList : public KVPDFContentSink {
public:
    explicit KVPDFContentSinkList(std::vector<KVPDFContentSink *> sinks) : m_sinks(std::move(sinks)) { }
    void graphicsState(const KVPDFContentEvent &e) override;
    void path(const KVPDFContentEvent &e) override;
    void colour(const KVPDFContentEvent &e) override;
    void textObject(const KVPDFContentEvent &e) override;
    void textState(const KVPDFContentEvent &e) override;
    void textPosition(const KVPDFContentEvent &e) override;
    void textShow(const KVPDFContentEvent &e) override;
    void type3Glyph(const KVPDFContentEvent &e) override;
    void shading(const KVPDFContentEvent &e) override;
    void markedContent(const KVPDFContentEvent &e) override;
    void compatibility(const KVPDFContentEvent &e) override;
    void unknownOperator(const KVPDFContentEvent &e) override;
    void xobject(const KVPDFContentEvent &e, const QByteArray &name, const std::shared_ptr<KVPDFObjectStream> &object) override;
    void formBegin(const KVPDFContentEvent &e, const std::shared_ptr<KVPDFObjectStream> &form) override;
    void formEnd(const KVPDFContentEvent &e, const std::shared_ptr<KVPDFObjectStream> &form) override;
    void inlineImage(const KVPDFContentEvent &e, const KVPDFInlineImage &image) override;
    void fault(KVPDFContentFault fault, uint64_t offset, int depth) override;

private:
    std::vector<KVPDFContentSink *> m_sinks;
};

class KVPDFContentInterpreter {
public:
    static constexpr uint64_t kFormCost = 512;
    struct Limits {
        uint32_t maxFaults = 1000;
        int maxFormDepth = 24;
        uint64_t maxFormBytes = uint64_t(256) << 20;
    };

    // `context` (may be null) is the document the resources belong to.
    explicit KVPDFContentInterpreter(KVPDFContentSink &sink, KVPDFObjectContext *context = nullptr);
    KVPDFContentInterpreter(KVPDFContentSink &sink, KVPDFObjectContext *context, Limits limits);

    // One run over `data` (a page's joined content): the counts start again from zero.
    KVPDFContentStats interpret(const QByteArray &data, const std::shared_ptr<KVPDFObjectDictionary> &resources);

    // The standard spelling of an operator ("T*", "'", ...), empty for Unknown.
    static QByteArrayView keyword(KVPDFContentOp op);
    // The operator a whole token names, Unknown when none.
    static KVPDFContentOp lookup(QByteArrayView token);

private:
    struct Frame;
    void run(Frame &frame);
    bool dispatch(Frame &frame, KVPDFContentOp op, QByteArrayView keyword, uint64_t start, uint64_t end);
    void deliver(const KVPDFContentEvent &event);
    uint64_t inlineImage(Frame &frame, uint64_t start, uint64_t afterBI);
    void drawXObject(Frame &frame, const KVPDFContentEvent &event);
    void runForm(Frame &caller, const KVPDFContentEvent &event, const std::shared_ptr<KVPDFObjectStream> &form);
    void synthetic(const Frame &frame, KVPDFContentOp op, const QTransform *matrix = nullptr);
    void addFault(const Frame &frame, KVPDFContentFault fault, uint64_t offset);

    KVPDFContentSink &m_sink;
    KVPDFObjectContext *m_context;
    Limits m_limits;
    KVPDFContentStats m_stats;
    uint64_t m_formBytes = 0;
    int m_saveDepth = 0;
    bool m_inText = false;
    bool m_loggedDepth = false;
    bool m_loggedBudget = false;
    bool m_loggedStray = false;
    bool m_finished = false; // past the data: faults still count but stop nothing
};
