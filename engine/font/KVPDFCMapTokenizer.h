#pragma once
// The PostScript tokens of a CMap text, shared by the ToUnicode and the encoding CMap readers.
// Line ends mean nothing to it: CR, LF and CR LF are all white space, and entries may share a
// line or spread over several.
//
// Every read is bounded by the text; the end of the text ends any token. A hex string with a
// byte that is not a hex digit is answered as Invalid (the reader skips it to its ">"); a hex
// string with an odd number of digits gets a final 0, as PDF strings do. Comments ("%" to the
// line end) are skipped. Procedures ("{ ... }") are answered as their two brackets and the
// tokens between; the readers ignore them.
#include <QByteArray>

#include <cstdint>

struct KVPDFCMapToken {
    enum Kind : uint8_t {
        End,
        HexString,     // bytes: the decoded bytes
        LiteralString, // bytes: the string with escapes resolved
        Name,          // text: without the "/"
        Integer,       // integer (clamped to 64 bits)
        Operator,      // text: any other run of regular bytes (keywords, reals)
        ArrayOpen,
        ArrayClose,
        DictOpen,
        DictClose,
        ProcOpen,
        ProcClose,
        Invalid, // a malformed string, or a stray ")" or ">"
    };
    Kind kind = End;
    QByteArrayView text;
    QByteArray bytes;
    int64_t integer = 0;

    bool isOperator(QByteArrayView keyword) const { return kind == Operator && text == keyword; }
    // A string of 1 to 4 bytes read as a big-endian code.
    bool isCode() const { return (kind == HexString || kind == LiteralString) && !bytes.isEmpty() && bytes.size() <= 4; }
    uint32_t code() const;
};

class KVPDFCMapTokenizer {
public:
    explicit KVPDFCMapTokenizer(QByteArrayView text) : m_text(text) { }
    // The next token; End (and End again) at the end of the text.
    KVPDFCMapToken next();

private:
    void skipWhiteAndComments();
    void readHexString(KVPDFCMapToken &token);
    void readLiteralString(KVPDFCMapToken &token);

    QByteArrayView m_text;
    qsizetype m_position = 0;
};
