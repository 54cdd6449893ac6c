#pragma once
// A sink that writes one line per event, for golden tests and for looking at what the
// dispatcher made of some content:
//
//   <start>+<length> <operands and operator as written>[ | <state after it>]
//
// Lines inside a form are indented by two spaces per level. Operand bytes outside printable
// ASCII are written as \xHH, and an operand longer than 40 bytes is cut with "...". Events the
// dispatcher made around a form have "-" for a range and their operands as numbers. A fault is
// "! <name> at <offset>". Given a state keeper that sees each event first (put it before the
// trace in a KVPDFContentSinkList), the line ends with the part of the state the event
// changes: " | CTM ...", " | fill ... stroke ...", " | Tm ..." or the text state.
#include "KVPDFContentInterpreter.h"

#include <QByteArray>

class KVPDFGraphicsStateKeeper;

class KVPDFContentTrace : public KVPDFContentSink {
public:
    explicit KVPDFContentTrace(const KVPDFGraphicsStateKeeper *keeper = nullptr) : m_keeper(keeper) { }

    // Every line so far, each ending in "\n".
    const QByteArray &text() const { return m_text; }

    void graphicsState(const KVPDFContentEvent &e) override;
    void path(const KVPDFContentEvent &e) override { line(e); }
    void colour(const KVPDFContentEvent &e) override;
    void textObject(const KVPDFContentEvent &e) override { line(e); }
    void textState(const KVPDFContentEvent &e) override;
    void textPosition(const KVPDFContentEvent &e) override;
    void textShow(const KVPDFContentEvent &e) override;
    void type3Glyph(const KVPDFContentEvent &e) override { line(e); }
    void shading(const KVPDFContentEvent &e) override { line(e); }
    void markedContent(const KVPDFContentEvent &e) override { line(e); }
    void compatibility(const KVPDFContentEvent &e) override { line(e); }
    void unknownOperator(const KVPDFContentEvent &e) override { line(e, " (unknown)"); }
    void xobject(const KVPDFContentEvent &e, const QByteArray &name, const std::shared_ptr<KVPDFObjectStream> &object) override;
    void formBegin(const KVPDFContentEvent &e, const std::shared_ptr<KVPDFObjectStream> &form) override;
    void formEnd(const KVPDFContentEvent &e, const std::shared_ptr<KVPDFObjectStream> &form) override;
    void inlineImage(const KVPDFContentEvent &e, const KVPDFInlineImage &image) override;
    void fault(KVPDFContentFault fault, uint64_t offset, int depth) override;

    // Numbers as the trace writes them: up to six significant digits, no "-0".
    static QByteArray number(double value);
    static QByteArray matrix(const QTransform &m);

private:
    void line(const KVPDFContentEvent &e, const QByteArray &tail = {});

    const KVPDFGraphicsStateKeeper *m_keeper;
    QByteArray m_text;
};
