// One tolerant RTF parser serves both readers: KVRTFReader (plain text and the first character's
// attributes, for the engine's fields) and kvrtf::read (the whole text storage, KVRTF.h). The
// parser keeps the plain text exactly as KVRTFReader has always given it; with a document it
// also builds the storage run by run.
#include "KVRTF.h"
#include "KVRTFReader.h"

#include <QColor>
#include <QFont>
#include <QHash>
#include <QList>
#include <QStringDecoder>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextOption>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace {

constexpr int kMaxWordLetters = 32;
// Names and field instructions come from files; nothing legitimate comes near these.
constexpr qsizetype kMaxFontNameLength = 1024;
constexpr qsizetype kMaxInstructionLength = 65536;
constexpr qsizetype kMaxTabStops = 256;
// RTF sizes are 16-bit half-points; indents and tab stops stay within 22 inches, the largest
// page word processors make, so a hostile value cannot push text out of reach of the layout.
constexpr int kMaxHalfPoints = 32767;
constexpr int kMaxTwips = 31680;

// The text system of one desktop writes \ansicpg1252 and 8-bit text as \'hh; office suites add
// \uN for anything outside it. Bytes are read as Windows-1252 in every case.
const std::array<char16_t, 128> &cp1252High()
{
    static const std::array<char16_t, 128> table = [] {
        std::array<char16_t, 128> high{};
        QStringDecoder decoder("windows-1252");
        for (int byte = 0x80; byte <= 0xFF; ++byte) {
            const char c = char(byte);
            const QString decoded = decoder.isValid() ? decoder.decode(QByteArrayView(&c, 1)) : QString();
            // Without a codec, the holes and the rest read as Latin-1, which 1252 extends.
            high[size_t(byte - 0x80)] = decoded.size() == 1 ? decoded.at(0).unicode() : char16_t(byte);
        }
        return high;
    }();
    return table;
}

char16_t fromCp1252(uint8_t byte) { return byte < 0x80 ? char16_t(byte) : cp1252High()[byte - 0x80]; }

enum class Destination { Body, Skip, FontTable, ColorTable, FieldInstruction };

struct GroupState {
    Destination destination = Destination::Body;
    int font = -1; // -1: the default font (\deff)
    int halfPoints = 0; // 0: not given
    int colorIndex = 0;
    int backgroundIndex = 0;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    int unicodeSkip = 1;
    QString linkHref;
    QTextBlockFormat paragraph;
    QList<QTextOption::Tab> tabs;
    QTextOption::TabType nextTabType = QTextOption::LeftTab;
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
        "listtext", "pntext", "pntxta", "pntxtb", "fchars", "lchars", "annotation", "atnid", "atnauthor",
        "userprops", "docvar", "shp", "ftnsep", "ftnsepc", "aftnsep", "aftnsepc", "nonesttables", "upr"};
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
        {"row", u'\n'},        {"tab", u'\t'},         {"cell", u'\t'},        {"nestcell", u'\t'},
        {"emdash", 0x2014},    {"endash", 0x2013},     {"emspace", 0x2003},    {"enspace", 0x2002},
        {"qmspace", 0x2005},   {"bullet", 0x2022},     {"lquote", 0x2018},     {"rquote", 0x2019},
        {"ldblquote", 0x201C}, {"rdblquote", 0x201D},
    };
    return characters.value(word, 0);
}

bool endsParagraph(const QByteArray &word)
{
    return word == "par" || word == "sect" || word == "page" || word == "row";
}

struct FontFace {
    QString family;
    int weight = QFont::Normal;
    bool italic = false;
};

// Font tables written from PDF fonts and by one desktop's text system name faces by PostScript
// name ("Helvetica-BoldOblique", "Arial-BoldMT"); the storage wants the family and the face
// apart. A name with a blank is a family name already, and an unknown suffix stays part of it.
FontFace faceOfFontName(const QString &name)
{
    FontFace face{name};
    const qsizetype dash = name.lastIndexOf(u'-');
    if (dash <= 0 || name.contains(u' '))
        return face;
    QString style = name.mid(dash + 1).toLower();
    for (const char *suffix : {"psmt", "mt"}) {
        if (style.endsWith(QLatin1String(suffix))) {
            style.chop(qsizetype(qstrlen(suffix)));
            break;
        }
    }
    bool italic = false;
    for (const char *slant : {"italic", "oblique", "it"}) {
        if (style.endsWith(QLatin1String(slant))) {
            style.chop(qsizetype(qstrlen(slant)));
            italic = true;
            break;
        }
    }
    static const struct {
        const char *style;
        int weight;
    } weights[] = {
        {"", QFont::Normal},           {"regular", QFont::Normal},     {"roman", QFont::Normal},
        {"plain", QFont::Normal},      {"book", QFont::Normal},        {"normal", QFont::Normal},
        {"thin", QFont::Thin},         {"hairline", QFont::Thin},      {"ultralight", QFont::ExtraLight},
        {"extralight", QFont::ExtraLight}, {"light", QFont::Light},    {"medium", QFont::Medium},
        {"semibold", QFont::DemiBold}, {"demibold", QFont::DemiBold},  {"demi", QFont::DemiBold},
        {"bold", QFont::Bold},         {"extrabold", QFont::ExtraBold}, {"ultrabold", QFont::ExtraBold},
        {"heavy", QFont::Black},       {"black", QFont::Black},
    };
    for (const auto &candidate : weights) {
        if (style == QLatin1String(candidate.style)) {
            // "Foo-" or "Foo-MT" alone names no face.
            if (style.isEmpty() && !italic)
                return face;
            face.family = name.left(dash);
            face.weight = candidate.weight;
            face.italic = italic;
            return face;
        }
    }
    return face;
}

// The target of a HYPERLINK field instruction: the first argument, or "#name" after \l; other
// switches and their arguments are passed over. Empty for any other field.
QString hyperlinkTarget(const QString &instruction)
{
    const QString text = instruction.trimmed();
    if (!text.startsWith(QLatin1String("HYPERLINK"), Qt::CaseInsensitive))
        return {};
    qsizetype i = 9;
    bool bookmark = false;
    bool skipArgument = false;
    while (i < text.size()) {
        while (i < text.size() && text.at(i).isSpace())
            ++i;
        if (i >= text.size())
            break;
        QString token;
        const bool quoted = text.at(i) == u'"';
        if (quoted) {
            const qsizetype close = text.indexOf(u'"', i + 1);
            const qsizetype end = close < 0 ? text.size() : close;
            token = text.mid(i + 1, end - i - 1);
            i = end + 1;
        } else {
            const qsizetype start = i;
            while (i < text.size() && !text.at(i).isSpace())
                ++i;
            token = text.mid(start, i - start);
        }
        if (!quoted && token.startsWith(u'\\')) {
            const QString name = token.mid(1).toLower();
            bookmark = bookmark || name == QLatin1String("l");
            skipArgument = name == QLatin1String("o") || name == QLatin1String("t");
            continue;
        }
        if (skipArgument) {
            skipArgument = false;
            continue;
        }
        return bookmark ? u'#' + token : token;
    }
    return {};
}

class Reader {
public:
    Reader(const QByteArray &data, QTextDocument *document) : m_data(data), m_size(size_t(data.size()))
    {
        if (document)
            m_cursor = QTextCursor(document);
    }

    void run()
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
        if (!m_ended)
            note(QStringLiteral("the data ends inside a group"));
        finishFontEntry();
        if (!m_cursor.isNull() && !m_finished)
            finishDocument();
    }

    KVRTFText result() const
    {
        KVRTFText text;
        text.plainText = m_text;
        const GroupState &attributes = m_hasFirst ? m_first : m_state;
        const int font = attributes.font >= 0 ? attributes.font : m_defaultFont;
        text.fontName = m_fonts.value(font);
        text.fontSize = double(attributes.halfPoints > 0 ? attributes.halfPoints : 24) / 2.0;
        if (const std::optional<QColor> color = colorAt(attributes.colorIndex))
            text.color = KVColor::rgb(float(color->red()) / 255.0f, float(color->green()) / 255.0f,
                                      float(color->blue()) / 255.0f);
        return text;
    }

    kvrtf::ReadReport report() const { return {m_problem.isEmpty(), m_problem}; }

private:
    // The first problem is the one worth telling: later ones often follow from it.
    void note(const QString &problem)
    {
        if (m_problem.isEmpty())
            m_problem = problem;
    }

    void openGroup()
    {
        ++m_pos;
        m_starred = false;
        if (m_stack.size() >= size_t(KVRTFReader::kMaxDepth)) {
            if (m_overflow == 0)
                note(QStringLiteral("groups nested deeper than %1").arg(KVRTFReader::kMaxDepth));
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
        m_starred = false;
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
        // The document's outermost group is closing: what follows is not RTF, and the last
        // paragraph takes the properties in force inside it.
        if (m_stack.size() == 1) {
            if (!m_cursor.isNull())
                finishDocument();
            m_ended = true;
        }
        m_state = m_stack.back();
        m_stack.pop_back();
        m_formatChanged = true;
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
        m_starred = false;
        switch (next) {
        case '\'': hexCharacter(); break;
        case '\\':
        case '{':
        case '}': characterByte(next); break;
        case '\r':
        case '\n': paragraphBreak(); break;
        case '~': character(0x00A0); break;
        case '_': character(0x2011); break;
        case '*':
            // Ignorable unless the next word names a destination this reader knows.
            if (m_state.destination != Destination::Skip) {
                m_state.destination = Destination::Skip;
                m_starred = true;
            }
            break;
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
            if (nibble < 0) {
                note(QStringLiteral("an escape \\' without two hexadecimal digits"));
                return; // not a hex escape after all: the byte is read as text
            }
            value = value * 16 + nibble;
            ++m_pos;
        }
        characterByte(uint8_t(value));
    }

    void controlWord()
    {
        const size_t start = m_pos;
        while (m_pos < m_size && m_pos - start < size_t(kMaxWordLetters)) {
            const char letter = m_data[qsizetype(m_pos)];
            if (!((letter >= 'a' && letter <= 'z') || (letter >= 'A' && letter <= 'Z')))
                break;
            ++m_pos;
        }
        if (m_pos < m_size && m_pos - start == size_t(kMaxWordLetters)) {
            const char letter = m_data[qsizetype(m_pos)];
            if ((letter >= 'a' && letter <= 'z') || (letter >= 'A' && letter <= 'Z'))
                note(QStringLiteral("a control word longer than %1 letters").arg(kMaxWordLetters));
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
        const bool starred = std::exchange(m_starred, false);
        m_formatChanged = true;
        if (word == "bin") {
            // Binary data of that many bytes follows; it is no text and may hold braces.
            const size_t count = hasParameter && parameter > 0 ? size_t(parameter) : 0;
            if (count > m_size - m_pos)
                note(QStringLiteral("binary data runs past the end"));
            m_pos += std::min(count, m_size - m_pos);
            return;
        }
        if (starred && word == "fldinst") {
            m_state.destination = Destination::FieldInstruction;
            m_instruction.clear();
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
        if (word == "fldinst" && m_state.destination != Destination::FieldInstruction) {
            m_state.destination = Destination::FieldInstruction;
            m_instruction.clear();
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
        case Destination::FieldInstruction:
            // A backslash in an instruction's text is written "\\"; its switches arrive as text.
            return;
        case Destination::Skip: return;
        case Destination::Body: break;
        }
        if (word == "u" && hasParameter) {
            // Signed 16-bit by the format; anything outside it is damage, not a character.
            const int unit = parameter < 0 ? parameter + 65536 : parameter;
            character(unit >= 0 && unit <= 0xFFFF ? char16_t(unit) : char16_t(QChar::ReplacementCharacter));
            m_pendingSkip = m_state.unicodeSkip;
        } else if (word == "uc" && hasParameter) {
            m_state.unicodeSkip = std::clamp(parameter, 0, 16);
        } else if (word == "deff" && hasParameter) {
            m_defaultFont = parameter;
        } else if (word == "field") {
            m_instruction.clear();
        } else if (word == "fldrslt") {
            m_state.linkHref = hyperlinkTarget(m_instruction);
        } else if (endsParagraph(word)) {
            paragraphBreak();
        } else if (word == "line") {
            lineBreak();
        } else if (char16_t c = characterForWord(word)) {
            character(c);
        } else if (!applyCharacterWord(word, hasParameter, parameter)) {
            applyParagraphWord(word, hasParameter, parameter);
        }
    }

    bool applyCharacterWord(const QByteArray &word, bool hasParameter, int parameter)
    {
        const bool on = !hasParameter || parameter != 0;
        if (word == "f" && hasParameter) {
            m_state.font = parameter;
        } else if (word == "fs" && hasParameter) {
            m_state.halfPoints = std::max(parameter, 0);
        } else if (word == "cf") {
            m_state.colorIndex = hasParameter ? parameter : 0;
        } else if (word == "cb" || word == "highlight" || word == "chcbpat") {
            m_state.backgroundIndex = hasParameter ? parameter : 0;
        } else if (word == "b") {
            m_state.bold = on;
        } else if (word == "i") {
            m_state.italic = on;
        } else if (word == "ul" || word == "uld" || word == "uldb" || word == "ulw" || word == "uldash"
                   || word == "uldashd" || word == "uldashdd" || word == "ulth" || word == "ulwave"
                   || word == "ulhwave" || word == "ululdbwave" || word == "ulthd" || word == "ulthdash"
                   || word == "ulldash" || word == "ulthldash" || word == "ulthdashd" || word == "ulthdashdd") {
            m_state.underline = on;
        } else if (word == "ulnone") {
            m_state.underline = false;
        } else if (word == "plain") {
            m_state.font = -1;
            m_state.halfPoints = 0;
            m_state.colorIndex = 0;
            m_state.backgroundIndex = 0;
            m_state.bold = m_state.italic = m_state.underline = false;
        } else {
            return false;
        }
        return true;
    }

    void applyParagraphWord(const QByteArray &word, bool hasParameter, int parameter)
    {
        QTextBlockFormat &paragraph = m_state.paragraph;
        const double points = double(std::clamp(parameter, -kMaxTwips, kMaxTwips)) / 20.0;
        if (word == "pard") {
            paragraph = QTextBlockFormat();
            m_state.tabs.clear();
            m_state.nextTabType = QTextOption::LeftTab;
        } else if (word == "ql") {
            paragraph.setAlignment(Qt::AlignLeft);
        } else if (word == "qr") {
            paragraph.setAlignment(Qt::AlignRight);
        } else if (word == "qc") {
            paragraph.setAlignment(Qt::AlignHCenter);
        } else if (word == "qj" || word == "qd") {
            paragraph.setAlignment(Qt::AlignJustify);
        } else if (!hasParameter) {
            if (word == "tqr")
                m_state.nextTabType = QTextOption::RightTab;
            else if (word == "tqc")
                m_state.nextTabType = QTextOption::CenterTab;
            else if (word == "tqdec")
                m_state.nextTabType = QTextOption::DelimiterTab;
        } else if (word == "li") {
            paragraph.setLeftMargin(points);
        } else if (word == "ri") {
            paragraph.setRightMargin(points);
        } else if (word == "fi") {
            paragraph.setTextIndent(points);
        } else if (word == "sb") {
            paragraph.setTopMargin(points);
        } else if (word == "sa") {
            paragraph.setBottomMargin(points);
        } else if (word == "tx" || word == "tb") {
            if (word == "tx" && m_state.tabs.size() < kMaxTabStops) {
                QTextOption::Tab tab;
                tab.position = std::max(points, 0.0);
                tab.type = m_state.nextTabType;
                m_state.tabs.append(tab);
            }
            m_state.nextTabType = QTextOption::LeftTab;
        }
    }

    // A byte of text, or of a \'hh escape.
    void characterByte(uint8_t byte)
    {
        m_starred = false;
        switch (m_state.destination) {
        case Destination::Skip: return;
        case Destination::FontTable:
            if (byte == ';')
                finishFontEntry();
            else if (m_fontName.size() < kMaxFontNameLength)
                m_fontName.append(QChar(fromCp1252(byte)));
            return;
        case Destination::ColorTable:
            if (byte == ';')
                finishColorEntry();
            return;
        case Destination::FieldInstruction:
            if (m_instruction.size() < kMaxInstructionLength)
                m_instruction.append(QChar(fromCp1252(byte)));
            return;
        case Destination::Body: character(fromCp1252(byte)); return;
        }
    }

    // Whether a character of the body is to be shown, after the fallback of a \u.
    bool takeBodyCharacter()
    {
        if (m_state.destination != Destination::Body)
            return false;
        if (m_pendingSkip > 0) {
            --m_pendingSkip;
            return false;
        }
        if (!m_hasFirst) {
            m_hasFirst = true;
            m_first = m_state;
        }
        return true;
    }

    void character(char16_t c)
    {
        if (!takeBodyCharacter())
            return;
        m_text.append(QChar(c));
        if (m_cursor.isNull())
            return;
        // The storage would take these for paragraph or frame boundaries of its own.
        if (c == u'\n' || c == u'\r' || c == QChar::ParagraphSeparator || c == 0xFDD0 || c == 0xFDD1) {
            breakDocumentParagraph();
            return;
        }
        appendToRun(QChar(c));
    }

    void paragraphBreak()
    {
        if (!takeBodyCharacter())
            return;
        m_text.append(u'\n');
        if (!m_cursor.isNull())
            breakDocumentParagraph();
    }

    // A break within the paragraph: the storage's line separator, "\n" in plain text.
    void lineBreak()
    {
        if (!takeBodyCharacter())
            return;
        m_text.append(u'\n');
        if (!m_cursor.isNull())
            appendToRun(QChar::LineSeparator);
    }

    void appendToRun(QChar c)
    {
        if (m_formatChanged) {
            m_formatChanged = false;
            const QTextCharFormat format = characterFormat();
            if (format != m_runFormat) {
                flushRun();
                m_runFormat = format;
            }
        }
        m_run.append(c);
    }

    void flushRun()
    {
        if (m_run.isEmpty())
            return;
        m_cursor.insertText(m_run, m_runFormat);
        m_run.clear();
    }

    // RTF gives a paragraph the properties in force at its end, and its mark the character
    // properties there.
    void closeDocumentParagraph()
    {
        flushRun();
        QTextBlockFormat paragraph = m_state.paragraph;
        if (!m_state.tabs.isEmpty())
            paragraph.setTabPositions(m_state.tabs);
        m_cursor.setBlockFormat(paragraph);
        m_cursor.setBlockCharFormat(characterFormat());
    }

    void breakDocumentParagraph()
    {
        closeDocumentParagraph();
        m_cursor.insertBlock();
    }

    void finishDocument()
    {
        closeDocumentParagraph();
        m_finished = true;
    }

    QTextCharFormat characterFormat() const
    {
        QTextCharFormat format;
        FontFace face;
        // Text without \f keeps the storage's own default font rather than taking \deff's: what
        // the writer leaves unsaid comes back unsaid.
        const auto font = m_state.font >= 0 ? m_fonts.constFind(m_state.font) : m_fonts.cend();
        if (font != m_fonts.cend()) {
            face = faceOfFontName(*font);
            format.setFontFamilies(QStringList{face.family});
        }
        const int weight = m_state.bold ? std::max<int>(face.weight, QFont::Bold) : face.weight;
        if (weight != QFont::Normal)
            format.setFontWeight(weight);
        if (m_state.italic || face.italic)
            format.setFontItalic(true);
        if (m_state.underline)
            format.setFontUnderline(true);
        if (m_state.halfPoints > 0)
            format.setFontPointSize(double(std::min(m_state.halfPoints, kMaxHalfPoints)) / 2.0);
        if (const std::optional<QColor> color = colorAt(m_state.colorIndex))
            format.setForeground(*color);
        if (const std::optional<QColor> color = colorAt(m_state.backgroundIndex))
            format.setBackground(*color);
        if (!m_state.linkHref.isEmpty()) {
            format.setAnchor(true);
            format.setAnchorHref(m_state.linkHref);
        }
        return format;
    }

    // Index 0 and entries without components are the automatic colour.
    std::optional<QColor> colorAt(int index) const
    {
        if (index <= 0 || size_t(index) >= m_colors.size())
            return std::nullopt;
        return m_colors[size_t(index)];
    }

    void finishFontEntry()
    {
        const QString name = m_fontName.trimmed();
        if (m_fontNumber >= 0 && !name.isEmpty() && !m_fonts.contains(m_fontNumber))
            m_fonts.insert(m_fontNumber, name);
        m_fontNumber = -1;
        m_fontName.clear();
    }

    void finishColorEntry()
    {
        if (m_colorEntry.set)
            m_colors.push_back(
                QColor(m_colorEntry.components[0], m_colorEntry.components[1], m_colorEntry.components[2]));
        else
            m_colors.push_back(std::nullopt);
        m_colorEntry = {};
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
    bool m_starred = false;
    int m_defaultFont = 0;
    QString m_text;
    bool m_hasFirst = false;
    GroupState m_first;
    QHash<int, QString> m_fonts;
    int m_fontNumber = -1;
    QString m_fontName;
    std::vector<std::optional<QColor>> m_colors;
    ColorEntry m_colorEntry;
    QString m_instruction;
    QString m_problem;
    // Only with a document.
    QTextCursor m_cursor;
    QString m_run;
    QTextCharFormat m_runFormat;
    bool m_formatChanged = true;
    bool m_finished = false;
};

bool isRtf(const QByteArray &data) { return data.startsWith("{\\rtf"); }

} // namespace

std::optional<KVRTFText> KVRTFReader::read(const QByteArray &data)
{
    if (!isRtf(data))
        return std::nullopt;
    Reader reader(data, nullptr);
    reader.run();
    return reader.result();
}

kvrtf::ReadReport kvrtf::read(const QByteArray &data, QTextDocument &document)
{
    document.clear();
    if (data.isEmpty())
        return {};
    if (!isRtf(data))
        return {false, QStringLiteral("the data is not RTF")};
    // Reading replaces the contents; undoing into a half-built storage would make no sense, and
    // the steps would cost memory in proportion to the input.
    const bool undo = document.isUndoRedoEnabled();
    document.setUndoRedoEnabled(false);
    Reader reader(data, &document);
    reader.run();
    document.setUndoRedoEnabled(undo);
    return reader.report();
}
