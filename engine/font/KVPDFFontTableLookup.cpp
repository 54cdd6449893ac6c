#include "KVPDFFontTables.h"

#include <mutex>
#include <string_view>
#include <unordered_map>

namespace {

std::string_view view(const char *text, size_t length)
{
    return text ? std::string_view(text, length) : std::string_view();
}

// Names to their first row. Built on first use by whichever thread gets there; read-only after.
const std::unordered_map<std::string_view, long> &glyphNameIndex()
{
    static std::once_flag once;
    static std::unordered_map<std::string_view, long> *index = nullptr;
    std::call_once(once, [] {
        auto *built = new std::unordered_map<std::string_view, long>();
        built->reserve(KVPDFFontPSGlyphCount);
        for (size_t row = 0; row < KVPDFFontPSGlyphCount; ++row)
            built->emplace(KVPDFFontPSGlyphNames[row], long(row)); // emplace keeps the first row
        index = built;
    });
    return *index;
}

int hexDigit(char c, bool allowLower)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (allowLower && c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool allHex(std::string_view digits, bool allowLower)
{
    for (char c : digits) {
        if (hexDigit(c, allowLower) < 0)
            return false;
    }
    return true;
}

// The value of at most six hex `digits`, or -1 when one is not a hex digit.
long hexValue(std::string_view digits, bool allowLower)
{
    long value = 0;
    for (char c : digits) {
        int digit = hexDigit(c, allowLower);
        if (digit < 0)
            return -1;
        value = value * 16 + digit;
    }
    return value;
}

bool isScalar(long value) { return value >= 0 && value <= 0x10FFFF && !(value >= 0xD800 && value <= 0xDFFF); }

int writeUtf16(long codePoint, char16_t out[2])
{
    if (codePoint <= 0xFFFF) {
        out[0] = char16_t(codePoint);
        return 1;
    }
    codePoint -= 0x10000;
    out[0] = char16_t(0xD800 + (codePoint >> 10));
    out[1] = char16_t(0xDC00 + (codePoint & 0x3FF));
    return 2;
}

// "uniXXXX[XXXX...]" (groups of four; the first is taken) and "uXXXX" to "uXXXXXX", each with an
// optional ".suffix". Producers write "uni" with lower-case digits often enough that they are
// accepted there; "u" takes upper case only, so ordinary names such as "uface" stay names.
long codePointOfGlyphName(std::string_view name)
{
    if (size_t dot = name.find('.'); dot != std::string_view::npos)
        name = name.substr(0, dot);
    if (name.size() >= 7 && name.substr(0, 3) == "uni" && (name.size() - 3) % 4 == 0) {
        if (!allHex(name.substr(3), true))
            return -1;
        long value = hexValue(name.substr(3, 4), true);
        return isScalar(value) ? value : -1;
    }
    if (name.size() >= 5 && name.size() <= 7 && name[0] == 'u') {
        long value = hexValue(name.substr(1), false);
        return isScalar(value) ? value : -1;
    }
    return -1;
}

const char *lookupPair(const KVPDFFontNamePair *pairs, size_t count, std::string_view key, bool byValue)
{
    for (size_t i = 0; i < count; ++i) {
        if ((byValue ? pairs[i].value : pairs[i].key) == key)
            return byValue ? pairs[i].key : pairs[i].value;
    }
    return nullptr;
}

} // namespace

namespace kvpdf {

long glyphNameRow(const char *name, size_t length)
{
    const auto &index = glyphNameIndex();
    auto found = index.find(view(name, length));
    return found == index.end() ? -1 : found->second;
}

int glyphNameUnicode(const char *name, size_t length, char16_t out[2])
{
    long row = glyphNameRow(name, length);
    if (row >= 0) {
        out[0] = KVPDFFontPSGlyphUnicode[row];
        return 1;
    }
    long codePoint = codePointOfGlyphName(view(name, length));
    return codePoint < 0 ? 0 : writeUtf16(codePoint, out);
}

const int32_t *standardWidthTable(const char *name, size_t length)
{
    static const struct {
        std::string_view name;
        const int32_t *table;
    } tables[] = {
        {"Times-Roman", KVPDFFontTimesRomanWidths},
        {"Times-Bold", KVPDFFontTimesBoldWidths},
        {"Times-Italic", KVPDFFontTimesItalicWidths},
        {"Times-BoldItalic", KVPDFFontTimesBoldItalicWidths},
        {"Helvetica", KVPDFFontHelveticaWidths},
        {"Helvetica-Bold", KVPDFFontHelveticaBoldWidths},
        {"Helvetica-Oblique", KVPDFFontHelveticaWidths},
        {"Helvetica-BoldOblique", KVPDFFontHelveticaBoldWidths},
        {"Courier", KVPDFFontCourierWidths},
        {"Courier-Bold", KVPDFFontCourierWidths},
        {"Courier-Oblique", KVPDFFontCourierWidths},
        {"Courier-BoldOblique", KVPDFFontCourierWidths},
        {"Symbol", KVPDFFontSymbolWidths},
        {"ZapfDingbats", KVPDFFontZapfDingbatsWidths},
    };
    std::string_view key = view(name, length);
    for (const auto &entry : tables) {
        if (entry.name == key)
            return entry.table;
    }
    return nullptr;
}

const char *normalizedFontName(const char *name, size_t length)
{
    return lookupPair(KVPDFFontNormalizedNames, KVPDFFontNormalizedNameCount, view(name, length), false);
}

const char *stdAbbreviation(const char *name, size_t length)
{
    return lookupPair(KVPDFFontStdAbbreviations, KVPDFFontStdAbbreviationCount, view(name, length), false);
}

const char *nameForStdAbbreviation(const char *abbreviation, size_t length)
{
    return lookupPair(KVPDFFontStdAbbreviations, KVPDFFontStdAbbreviationCount, view(abbreviation, length), true);
}

} // namespace kvpdf
