#include "KVRTFReader.h"

#include <QHash>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {
// Windows-1252 at 0x80..0x9F; the five holes map to themselves as Latin-1 does.
const char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char16_t fromCp1252(uint8_t byte) { return byte >= 0x80 && byte <= 0x9F ? kCp1252High[byte - 0x80] : char16_t(byte); }

enum class Destination { Body, Skip, FontTable, ColorTable };

struct GroupState {
    Destination destination = Destination::Body;
    int font = -1; // -1: the default font (\deff)
    int halfPoints = 24;
    int colorIndex = 0;
    int unicodeSkip = 1;
};

// Destinations whose text is not part of the document's text.
bool isSkippedDestination(const QByteArray &word)
{
    static const char *const words[] = {
        "stylesheet", "info", "pict", "header", "headerl", "headerr", "headerf", "footer", "footerl", "footerr",
        "footerf", "footnote", "fldinst", "object", "objdata", "xe", "tc", "listtable", "listoverridetable",
        "rsidtbl", "generator", "themedata", "colorschememapping", "latentstyles", "datastore", "xmlnstbl",
        "pgdsctbl", "filetbl", "revtbl", "nonshppict", "shppict", "bkmkstart", "bkmkend", "template", "author",
        "operator", "title", "subject", "keywords", "comment", "doccomm", "company", "expandedcolortbl",
        "listtext", "pntext", "pntxta", "pntxtb", "fchars", "lchars", "annotation", "atnid", "atnauthor"};
    for (const char *candidate : words)
        if (word == candidate)
            return true;
    return false;
}

// Words that stand for one character of text.
char16_t characterForWord(const QByteArray &word)
{
    static const QHash<QByteArray, char16_t> characters = {
        {"par", u'\n'},        {"line", u'\n'},        {"sect", u'\n'},        {"page", u'\n'},
        {"row", u'\n'},        {"tab", u'\t'},         {"cell", u'\t'},        {"emdash", 0x2014},
        {"endash", 0x2013},    {"emspace", 0x2003},    {"enspace", 0x2002},    {"qmspace", 0x2005},
        {"bullet", 0x2022},    {"lquote", 0x2018},     {"rquote", 0x2019},     {"ldblquote", 0x201C},
        {"rdblquote", 0x201D},
    };
    return characters.value(word, 0);
}

class Reader {
public:
    explicit Reader(const QByteArray &data) : m_data(data), m_size(size_t(data.size())) { }

    KVRTFText run()
    {
        while (m_pos < m_size && !m_ended) {
            const uint8_t byte = uint8_t(m_data[qsizetype(m_pos)]);
            switch (byte) {
            case '{': openGroup(); break;
            case '}': closeGroup(); break;
            case '\\': controlSequence(); break;
            case '\r':
            case '\n': ++m_pos; break;
            default:
                ++m_pos;
                characterByte(byte);
                break;
            }
        }
        finishFontEntry();
        return result();
    }

private:
    void openGroup()
    {
        ++m_pos;
        if (m_stack.size() >= size_t(KVRTFReader::kMaxDepth)) {
            ++m_overflow;
            return;
        }
        m_stack.push_back(m_state);
        // The fallback characters of a \u end with the group that holds them.
        m_pendingSkip = 0;
    }

    void closeGroup()
    {
        ++m_pos;
        m_pendingSkip = 0;
        if (m_overflow > 0) {
            --m_overflow;
            return;
        }
        if (m_stack.empty()) {
            m_ended = true;
            return;
        }
        // A font entry may close its group without a ";".
        if (m_state.destination == Destination::FontTable)
            finishFontEntry();
        m_state = m_stack.back();
        m_stack.pop_back();
        // The document's outermost group has closed: what follows is not RTF.
        if (m_stack.empty())
            m_ended = true;
    }

    void controlSequence()
    {
        ++m_pos;
        if (m_pos >= m_size)
            return;
        const uint8_t next = uint8_t(m_data[qsizetype(m_pos)]);
        if ((next >= 'a' && next <= 'z') || (next >= 'A' && next <= 'Z')) {
            controlWord();
            return;
        }
        ++m_pos;
        switch (next) {
        case '\'': hexCharacter(); break;
        case '\\':
        case '{':
        case '}': characterByte(next); break;
        case '\r':
        case '\n': character(u'\n'); break;
        case '~': character(0x00A0); break;
        case '_': character(0x2011); break;
        case '*': m_state.destination = Destination::Skip; break;
        default: break; // \- (optional hyphen), \| and the rest show nothing
        }
    }

    void hexCharacter()
    {
        int value = 0;
        for (int i = 0; i < 2; ++i) {
            if (m_pos >= m_size)
                return;
            const char digit = m_data[qsizetype(m_pos)];
            int nibble = -1;
            if (digit >= '0' && digit <= '9')
                nibble = digit - '0';
            else if (digit >= 'a' && digit <= 'f')
                nibble = digit - 'a' + 10;
            else if (digit >= 'A' && digit <= 'F')
                nibble = digit - 'A' + 10;
            if (nibble < 0)
                return; // not a hex escape after all: the byte is read as text
            value = value * 16 + nibble;
            ++m_pos;
        }
        characterByte(uint8_t(value));
    }

    void controlWord()
    {
        const size_t start = m_pos;
        while (m_pos < m_size && m_pos - start < 32) {
            const char letter = m_data[qsizetype(m_pos)];
            if (!((letter >= 'a' && letter <= 'z') || (letter >= 'A' && letter <= 'Z')))
                break;
            ++m_pos;
        }
        const QByteArray word = m_data.mid(qsizetype(start), qsizetype(m_pos - start));
        bool negative = false;
        bool hasParameter = false;
        int64_t parameter = 0;
        if (m_pos < m_size && m_data[qsizetype(m_pos)] == '-' && m_pos + 1 < m_size && m_data[qsizetype(m_pos + 1)] >= '0'
            && m_data[qsizetype(m_pos + 1)] <= '9') {
            negative = true;
            ++m_pos;
        }
        while (m_pos < m_size && m_data[qsizetype(m_pos)] >= '0' && m_data[qsizetype(m_pos)] <= '9') {
            hasParameter = true;
            parameter = std::min<int64_t>(parameter * 10 + (m_data[qsizetype(m_pos)] - '0'), INT32_MAX);
            ++m_pos;
        }
        if (negative)
            parameter = -parameter;
        // One blank ends the word and is part of it.
        if (m_pos < m_size && m_data[qsizetype(m_pos)] == ' ')
            ++m_pos;
        applyWord(word, hasParameter, int(parameter));
    }

    void applyWord(const QByteArray &word, bool hasParameter, int parameter)
    {
        if (word == "bin") {
            // Binary data of that many bytes follows; it is no text and may hold braces.
            const size_t count = hasParameter && parameter > 0 ? size_t(parameter) : 0;
            m_pos += std::min(count, m_size - m_pos);
            return;
        }
        if (m_state.destination == Destination::Skip)
            return;
        if (word == "fonttbl") {
            m_state.destination = Destination::FontTable;
            return;
        }
        if (word == "colortbl") {
            m_state.destination = Destination::ColorTable;
            m_colorEntry = {};
            return;
        }
        if (isSkippedDestination(word)) {
            m_state.destination = Destination::Skip;
            return;
        }
        switch (m_state.destination) {
        case Destination::FontTable:
            if (word == "f" && hasParameter) {
                finishFontEntry();
                m_fontNumber = parameter;
                m_fontName.clear();
            }
            return;
        case Destination::ColorTable:
            if (word == "red" || word == "green" || word == "blue") {
                const int component = word == "red" ? 0 : word == "green" ? 1 : 2;
                m_colorEntry.components[component] = std::clamp(parameter, 0, 255);
                m_colorEntry.set = true;
            }
            return;
        case Destination::Skip: return;
        case Destination::Body: break;
        }
        if (word == "u" && hasParameter) {
            character(char16_t(parameter < 0 ? parameter + 65536 : parameter));
            m_pendingSkip = m_state.unicodeSkip;
        } else if (word == "uc" && hasParameter) {
            m_state.unicodeSkip = std::clamp(parameter, 0, 16);
        } else if (word == "f" && hasParameter) {
            m_state.font = parameter;
        } else if (word == "fs" && hasParameter) {
            m_state.halfPoints = parameter > 0 ? parameter : 24;
        } else if (word == "cf") {
            m_state.colorIndex = hasParameter ? parameter : 0;
        } else if (word == "plain") {
            m_state.font = -1;
            m_state.halfPoints = 24;
            m_state.colorIndex = 0;
        } else if (word == "deff" && hasParameter) {
            m_defaultFont = parameter;
        } else if (char16_t c = characterForWord(word)) {
            character(c);
        }
    }

    // A byte of text, or of a \'hh escape.
    void characterByte(uint8_t byte)
    {
        switch (m_state.destination) {
        case Destination::Skip: return;
        case Destination::FontTable:
            if (byte == ';')
                finishFontEntry();
            else
                m_fontName.append(QChar(fromCp1252(byte)));
            return;
        case Destination::ColorTable:
            if (byte == ';')
                finishColorEntry();
            return;
        case Destination::Body: character(fromCp1252(byte)); return;
        }
    }

    void character(char16_t c)
    {
        if (m_state.destination != Destination::Body)
            return;
        if (m_pendingSkip > 0) {
            --m_pendingSkip;
            return;
        }
        if (!m_hasFirst) {
            m_hasFirst = true;
            m_first = m_state;
        }
        m_text.append(QChar(c));
    }

    void finishFontEntry()
    {
        const QString name = m_fontName.trimmed();
        if (m_fontNumber >= 0 && !name.isEmpty() && !m_fonts.contains(m_fontNumber))
            m_fonts.insert(m_fontNumber, name);
        m_fontNumber = -1;
        m_fontName.clear();
    }

    // An entry without components is the automatic colour.
    void finishColorEntry()
    {
        if (m_colorEntry.set)
            m_colors.push_back(KVColor::rgb(float(m_colorEntry.components[0]) / 255.0f,
                                            float(m_colorEntry.components[1]) / 255.0f,
                                            float(m_colorEntry.components[2]) / 255.0f));
        else
            m_colors.push_back(std::nullopt);
        m_colorEntry = {};
    }

    KVRTFText result() const
    {
        KVRTFText text;
        text.plainText = m_text;
        const GroupState &attributes = m_hasFirst ? m_first : m_state;
        const int font = attributes.font >= 0 ? attributes.font : m_defaultFont;
        text.fontName = m_fonts.value(font);
        text.fontSize = double(attributes.halfPoints) / 2.0;
        if (attributes.colorIndex > 0 && size_t(attributes.colorIndex) < m_colors.size())
            text.color = m_colors[size_t(attributes.colorIndex)];
        return text;
    }

    struct ColorEntry {
        int components[3] = {0, 0, 0};
        bool set = false;
    };

    const QByteArray &m_data;
    const size_t m_size;
    size_t m_pos = 0;
    bool m_ended = false;
    std::vector<GroupState> m_stack;
    GroupState m_state;
    size_t m_overflow = 0;
    int m_pendingSkip = 0;
    int m_defaultFont = 0;
    QString m_text;
    bool m_hasFirst = false;
    GroupState m_first;
    QHash<int, QString> m_fonts;
    int m_fontNumber = -1;
    QString m_fontName;
    std::vector<std::optional<KVColor>> m_colors;
    ColorEntry m_colorEntry;
};
}

std::optional<KVRTFText> KVRTFReader::read(const QByteArray &data)
{
    if (!data.startsWith("{\\rtf"))
        return std::nullopt;
    return Reader(data).run();
}
