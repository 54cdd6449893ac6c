#include "KVPDFCMapTokenizer.h"

#include "KVPDFParser.h"

#include <limits>

uint32_t KVPDFCMapToken::code() const
{
    uint32_t value = 0;
    for (char byte : bytes)
        value = (value << 8) | uint8_t(byte);
    return value;
}

void KVPDFCMapTokenizer::skipWhiteAndComments()
{
    const qsizetype size = m_text.size();
    while (m_position < size) {
        const uint8_t c = uint8_t(m_text[m_position]);
        if (kvIsWhite(c)) {
            ++m_position;
        } else if (c == '%') {
            while (m_position < size && m_text[m_position] != '\n' && m_text[m_position] != '\r')
                ++m_position;
        } else {
            break;
        }
    }
}

void KVPDFCMapTokenizer::readHexString(KVPDFCMapToken &token)
{
    // Just after "<".
    const qsizetype size = m_text.size();
    token.kind = KVPDFCMapToken::HexString;
    int high = -1;
    while (m_position < size) {
        const uint8_t c = uint8_t(m_text[m_position++]);
        if (c == '>')
            break;
        if (kvIsWhite(c))
            continue;
        const int digit = kvHexValue(c);
        if (digit < 0) {
            // Resynchronise at the closing bracket, so one bad string costs one entry.
            token.kind = KVPDFCMapToken::Invalid;
            while (m_position < size && m_text[m_position] != '>')
                ++m_position;
            if (m_position < size)
                ++m_position;
            token.bytes.clear();
            return;
        }
        if (high < 0) {
            high = digit;
        } else {
            token.bytes.append(char((high << 4) | digit));
            high = -1;
        }
    }
    if (high >= 0)
        token.bytes.append(char(high << 4));
}

void KVPDFCMapTokenizer::readLiteralString(KVPDFCMapToken &token)
{
    // Just after "(".
    const qsizetype size = m_text.size();
    token.kind = KVPDFCMapToken::LiteralString;
    int64_t depth = 1;
    while (m_position < size) {
        char c = m_text[m_position++];
        if (c == '(') {
            ++depth;
        } else if (c == ')') {
            if (--depth == 0)
                return;
        } else if (c == '\\' && m_position < size) {
            c = m_text[m_position++];
            switch (c) {
            case 'n': c = '\n'; break;
            case 'r': c = '\r'; break;
            case 't': c = '\t'; break;
            case 'b': c = '\b'; break;
            case 'f': c = '\f'; break;
            case '\r':
                if (m_position < size && m_text[m_position] == '\n')
                    ++m_position;
                continue;
            case '\n':
                continue;
            default:
                if (c >= '0' && c <= '7') {
                    int value = c - '0';
                    for (int i = 0; i < 2 && m_position < size && m_text[m_position] >= '0' && m_text[m_position] <= '7'; ++i)
                        value = value * 8 + (m_text[m_position++] - '0');
                    c = char(value & 0xFF);
                }
                break;
            }
        }
        token.bytes.append(c);
    }
}

KVPDFCMapToken KVPDFCMapTokenizer::next()
{
    KVPDFCMapToken token;
    skipWhiteAndComments();
    const qsizetype size = m_text.size();
    if (m_position >= size)
        return token;
    const qsizetype start = m_position;
    const char c = m_text[m_position++];
    switch (c) {
    case '<':
        if (m_position < size && m_text[m_position] == '<') {
            ++m_position;
            token.kind = KVPDFCMapToken::DictOpen;
        } else {
            readHexString(token);
        }
        return token;
    case '>':
        if (m_position < size && m_text[m_position] == '>') {
            ++m_position;
            token.kind = KVPDFCMapToken::DictClose;
        } else {
            token.kind = KVPDFCMapToken::Invalid;
        }
        return token;
    case '(':
        readLiteralString(token);
        return token;
    case ')':
        token.kind = KVPDFCMapToken::Invalid;
        return token;
    case '[':
        token.kind = KVPDFCMapToken::ArrayOpen;
        return token;
    case ']':
        token.kind = KVPDFCMapToken::ArrayClose;
        return token;
    case '{':
        token.kind = KVPDFCMapToken::ProcOpen;
        return token;
    case '}':
        token.kind = KVPDFCMapToken::ProcClose;
        return token;
    default:
        break;
    }
    // A name, or a run of regular bytes. A name may be empty ("/" alone).
    const bool name = c == '/';
    const qsizetype textStart = name ? m_position : start;
    while (m_position < size && !kvIsWhite(uint8_t(m_text[m_position])) && !kvIsDelimiter(uint8_t(m_text[m_position])))
        ++m_position;
    token.text = m_text.sliced(textStart, m_position - textStart);
    if (name) {
        token.kind = KVPDFCMapToken::Name;
        return token;
    }
    // An integer is an optional sign and digits only; anything else (reals, keywords) is an
    // operator to the readers.
    qsizetype i = 0;
    const bool negative = token.text[0] == '-';
    if (token.text[0] == '+' || negative)
        i = 1;
    if (i == token.text.size()) {
        token.kind = KVPDFCMapToken::Operator;
        return token;
    }
    int64_t value = 0;
    for (; i < token.text.size(); ++i) {
        const char digit = token.text[i];
        if (digit < '0' || digit > '9') {
            token.kind = KVPDFCMapToken::Operator;
            return token;
        }
        if (value < (std::numeric_limits<int64_t>::max() - 9) / 10)
            value = value * 10 + (digit - '0');
    }
    token.kind = KVPDFCMapToken::Integer;
    token.integer = negative ? -value : value;
    return token;
}
