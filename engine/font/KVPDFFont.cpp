#include "KVPDFFont.h"

#include "KVPDFCMap.h"
#include "KVPDFEncodingCMap.h"
#include "KVPDFFontTables.h"
#include "KVPDFLog.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectInteger.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectStream.h"
#include "KVPDFObjectString.h"
#include "KVSystemFont.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <exception>

namespace {

// Resolves without letting a read failure out: a value that cannot be read counts as absent.
KVPDFObjectPtr resolved(const KVPDFObjectPtr &object)
{
    if (!object)
        return nullptr;
    try {
        KVPDFObjectPtr value = object->resolvedObject();
        return value && value->objectType() == KVPDFObject::TypeNull ? nullptr : value;
    } catch (const std::exception &failure) {
        kvLog(QStringLiteral("Font entry unreadable: %1").arg(QString::fromUtf8(failure.what())));
        return nullptr;
    }
}

KVPDFObjectPtr entry(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, QByteArrayView key)
{
    if (!dictionary)
        return nullptr;
    try {
        return resolved(dictionary->objectForKey(key));
    } catch (const std::exception &failure) {
        kvLog(QStringLiteral("Font entry unreadable: %1").arg(QString::fromUtf8(failure.what())));
        return nullptr;
    }
}

// A dictionary, or a stream's dictionary.
std::shared_ptr<KVPDFObjectDictionary> asDictionary(const KVPDFObjectPtr &object)
{
    if (auto dictionary = kv_cast<KVPDFObjectDictionary>(object))
        return dictionary;
    if (auto stream = kv_cast<KVPDFObjectStream>(object))
        return stream->dictionary();
    return nullptr;
}

std::shared_ptr<KVPDFObjectDictionary> dictionaryEntry(const std::shared_ptr<KVPDFObjectDictionary> &dictionary,
                                                       QByteArrayView key)
{
    return kv_cast<KVPDFObjectDictionary>(entry(dictionary, key));
}

QByteArray nameEntry(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, QByteArrayView key)
{
    auto name = kv_cast<KVPDFObjectName>(entry(dictionary, key));
    return name ? name->bytes() : QByteArray();
}

// A number entry; nullopt when absent or not a number.
std::optional<double> numberEntry(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, QByteArrayView key)
{
    KVPDFObjectPtr value = entry(dictionary, key);
    if (!kvIsNumber(value))
        return std::nullopt;
    if (value->objectType() == KVPDFObject::TypeInteger)
        return double(value->longLongValue());
    const double real = value->realValue();
    return std::isfinite(real) ? std::optional<double>(real) : std::nullopt;
}

double numberValue(const KVPDFObjectPtr &object)
{
    if (!kvIsNumber(object))
        return 0;
    const double value = object->objectType() == KVPDFObject::TypeInteger ? double(object->longLongValue()) : object->realValue();
    return std::isfinite(value) ? value : 0;
}

// Elements of an array, resolved one by one (an element that cannot be read is nullptr).
std::vector<KVPDFObjectPtr> elements(const std::shared_ptr<KVPDFObjectArray> &array)
{
    std::vector<KVPDFObjectPtr> out;
    if (!array)
        return out;
    const size_t count = array->count();
    out.reserve(count);
    for (size_t i = 0; i < count; ++i)
        out.push_back(resolved(array->objectAtIndex(i)));
    return out;
}

QString nameString(const QByteArray &bytes) { return QString::fromLatin1(bytes); }

// "ABCDEF+Name" -> "Name": the subset tag means nothing to the system's font matching.
QString withoutSubsetTag(const QString &name)
{
    if (name.size() > 7 && name.at(6) == QLatin1Char('+')) {
        bool tag = true;
        for (int i = 0; i < 6; ++i)
            tag = tag && name.at(i) >= QLatin1Char('A') && name.at(i) <= QLatin1Char('Z');
        if (tag)
            return name.mid(7);
    }
    return name;
}

} // namespace

std::shared_ptr<KVPDFFont> KVPDFFont::fontWithFontDictionary(const KVPDFObjectPtr &font)
{
    std::shared_ptr<KVPDFObjectDictionary> dictionary = asDictionary(resolved(font));
    if (!dictionary)
        return nullptr;
    std::shared_ptr<KVPDFFont> result(new KVPDFFont);
    try {
        result->build(dictionary);
    } catch (const std::exception &failure) {
        // The parts read so far stay; codes without a width measure.
        kvLog(QStringLiteral("Font %1 only partly read: %2").arg(result->m_baseFontName, QString::fromUtf8(failure.what())));
    }
    return result;
}

KVPDFFont::~KVPDFFont() = default;

void KVPDFFont::build(const std::shared_ptr<KVPDFObjectDictionary> &dictionary)
{
    m_fontDictionary = dictionary;
    m_fontDescriptor = dictionaryEntry(dictionary, "FontDescriptor");

    const QByteArray subtype = nameEntry(dictionary, "Subtype");
    m_subtype = nameString(subtype);
    m_baseFontName = nameString(nameEntry(dictionary, "BaseFont"));
    if (subtype == "Type0")
        m_fontType = TypeType0;
    if (subtype.endsWith("Type1"))
        m_fontType = TypeType1;
    if (subtype == "Type3")
        m_fontType = TypeType3;
    if (subtype == "TrueType")
        m_fontType = TypeTrueType;
    if (subtype.startsWith("CIDFontType"))
        m_fontType = TypeCIDFont;

    if (m_fontType == TypeType3) {
        auto matrix = kv_cast<KVPDFObjectArray>(entry(dictionary, "FontMatrix"));
        const std::vector<KVPDFObjectPtr> numbers = elements(matrix);
        if (numbers.size() == 6 && std::all_of(numbers.begin(), numbers.end(), kvIsNumber)) {
            for (int i = 0; i < 6; ++i)
                m_fontMatrix[i] = numberValue(numbers[size_t(i)]);
            m_identityMatrix = m_fontMatrix[0] == 1 && m_fontMatrix[1] == 0 && m_fontMatrix[2] == 0
                               && m_fontMatrix[3] == 1 && m_fontMatrix[4] == 0 && m_fontMatrix[5] == 0;
        } else if (matrix) {
            kvLog(QStringLiteral("Type3 font with a FontMatrix of %1 elements taken as the identity").arg(numbers.size()));
        }
    }

    if (m_fontType == TypeType0) {
        setupCompositeFont();
    } else {
        chooseEncoding(entry(dictionary, "Encoding"));
        if (m_fontType == TypeType1 || m_fontType == TypeType3 || m_fontType == TypeTrueType)
            setupSimpleWidths();
    }

    if (auto toUnicode = kv_cast<KVPDFObjectStream>(entry(dictionary, "ToUnicode"))) {
        m_cmap = KVPDFCMap::cmapWithStream(toUnicode);
        m_hasToUnicode = m_cmap != nullptr;
        m_cmapByCID = false;
    }
    readMetrics();
}

// ---- Encodings ---------------------------------------------------------------------------

void KVPDFFont::chooseEncoding(const KVPDFObjectPtr &encoding)
{
    m_encodingTable = KVPDFFontStdToUnicode;
    if (!encoding)
        return;
    if (auto name = kv_cast<KVPDFObjectName>(encoding)) {
        applyNamedEncoding(name->bytes(), false);
        return;
    }
    if (auto stream = kv_cast<KVPDFObjectStream>(encoding)) {
        // An embedded CMap: codes are read through it.
        m_encodingTable = nullptr;
        m_isTwoByte = true;
        m_encodingCMap = KVPDFEncodingCMap::cmapWithStream(stream);
        if (!m_encodingCMap)
            m_encodingCMap = KVPDFEncodingCMap::identity(false);
        m_isVerticalMode = m_encodingCMap->isVertical();
        return;
    }
    auto dictionary = kv_cast<KVPDFObjectDictionary>(encoding);
    if (!dictionary)
        return;
    auto differences = kv_cast<KVPDFObjectArray>(entry(dictionary, "Differences"));
    const QByteArray base = nameEntry(dictionary, "BaseEncoding");
    if (differences) {
        m_privateTable.assign(KVPDFFontStdToUnicode, KVPDFFontStdToUnicode + 256);
        m_hasPrivateTable = true;
        m_encodingTable = m_privateTable.data();
    }
    if (!base.isEmpty())
        applyNamedEncoding(base, differences != nullptr);
    if (differences && m_encodingTable)
        applyDifferences(differences);
}

void KVPDFFont::applyNamedEncoding(const QByteArray &name, bool intoPrivateTable)
{
    const char16_t *table = KVPDFFontStdToUnicode;
    if (name == "MacRomanEncoding") {
        table = KVPDFFontMacToUnicode;
    } else if (name == "WinAnsiEncoding") {
        table = KVPDFFontWinToUnicode;
    } else if (name == "MacExpertEncoding") {
        kvLog(QStringLiteral("TBI: MacExpertEncoding"));
        table = KVPDFFontMacToUnicode;
    } else if (name.startsWith("Identity") && m_fontType != TypeType1) {
        m_encodingTable = nullptr;
        m_hasPrivateTable = false;
        m_privateTable.clear();
        m_isTwoByte = true;
        m_isVerticalMode = name.endsWith("-V");
        m_encodingCMap = KVPDFEncodingCMap::identity(m_isVerticalMode);
        return;
    }
    if (intoPrivateTable) {
        m_privateTable.assign(table, table + 256);
        m_encodingTable = m_privateTable.data();
    } else {
        m_encodingTable = table;
    }
}

void KVPDFFont::applyDifferences(const std::shared_ptr<KVPDFObjectArray> &differences)
{
    int64_t code = 0;
    for (const KVPDFObjectPtr &element : elements(differences)) {
        if (!element)
            continue;
        if (element->objectType() == KVPDFObject::TypeInteger) {
            code = element->longLongValue();
            continue;
        }
        auto name = kv_cast<KVPDFObjectName>(element);
        if (!name)
            continue;
        if (code >= 0 && code <= 255) {
            const QByteArray &bytes = name->bytes();
            char16_t units[2] = {0, 0};
            const int count = kvpdf::glyphNameUnicode(bytes.constData(), size_t(bytes.size()), units);
            if (count == 0) {
                kvLog(QStringLiteral("Name: %1 not found among font glyph names").arg(nameString(bytes)));
                units[0] = KVPDFFontPSGlyphUnicode[1];
            }
            m_privateTable[size_t(code)] = units[0];
            if (count == 2) {
                if (m_privateLowSurrogates.empty())
                    m_privateLowSurrogates.assign(256, 0);
                m_privateLowSurrogates[size_t(code)] = units[1];
            } else if (!m_privateLowSurrogates.empty()) {
                m_privateLowSurrogates[size_t(code)] = 0;
            }
        }
        if (code < int64_t(1) << 40)
            ++code;
    }
}

// ---- Widths ------------------------------------------------------------------------------

void KVPDFFont::setupSimpleWidths()
{
    const std::optional<double> first = numberEntry(m_fontDictionary, "FirstChar");
    bool haveTable = false;
    if (first) {
        const double last = numberEntry(m_fontDictionary, "LastChar").value_or(0);
        const double firstValue = std::clamp(*first, 0.0, 4294967295.0);
        const double lastValue = std::clamp(last, 0.0, 4294967295.0);
        m_firstChar = uint32_t(firstValue);
        m_lastChar = uint32_t(lastValue);
        if (m_lastChar >= m_firstChar) {
            uint64_t count = uint64_t(m_lastChar) - m_firstChar + 1;
            if (count > kMaxWidths) {
                kvLog(QStringLiteral("Font LastChar %1 cut to FirstChar + %2").arg(m_lastChar).arg(kMaxWidths - 1));
                count = kMaxWidths;
                m_lastChar = m_firstChar + kMaxWidths - 1;
            }
            auto widths = kv_cast<KVPDFObjectArray>(entry(m_fontDictionary, "Widths"));
            const size_t available = widths ? widths->count() : 0;
            const size_t used = std::min<size_t>(size_t(count), available);
            m_widths.reserve(used);
            for (size_t i = 0; i < used; ++i)
                m_widths.push_back(float(numberValue(resolved(widths->objectAtIndex(i)))));
            // A span wider than Widths: codes past its end measure (glyphWidth).
            m_widths.shrink_to_fit();
            haveTable = true;
        }
    }

    const QByteArray descriptorName = nameEntry(m_fontDescriptor, "FontName");
    m_fontName = nameString(descriptorName);
    if (m_fontName.isEmpty())
        m_fontName = nameString(nameEntry(m_fontDictionary, "BaseFont"));
    const QByteArray nameBytes = m_fontName.toLatin1();
    const char *normalized = kvpdf::normalizedFontName(nameBytes.constData(), size_t(nameBytes.size()));
    m_measuringName = normalized ? QString::fromLatin1(normalized) : withoutSubsetTag(m_fontName);

    if (haveTable) {
        if (m_fontType != TypeType3)
            for (float &width : m_widths)
                width /= 1000.0f;
        return;
    }
    if (!normalized)
        kvLog(QStringLiteral("Font %1 has no widths and no known name; its widths are measured").arg(m_fontName));
    if (m_hasPrivateTable && m_encodingTable) {
        m_widths.resize(256);
        for (int code = 0; code < 256; ++code) {
            QString text{QChar(m_encodingTable[code])};
            if (!m_privateLowSurrogates.empty() && m_privateLowSurrogates[size_t(code)])
                text.append(QChar(m_privateLowSurrogates[size_t(code)]));
            m_widths[size_t(code)] = measuredWidth(text);
        }
        return;
    }
    if (const int32_t *table = kvpdf::standardWidthTable(nameBytes.constData(), size_t(nameBytes.size()))) {
        m_widths.resize(256);
        for (int code = 0; code < 256; ++code)
            m_widths[size_t(code)] = float(table[code]) / 1000.0f;
        return;
    }
}

void KVPDFFont::setupCompositeFont()
{
    m_isTwoByte = true;
    const KVPDFObjectPtr encoding = entry(m_fontDictionary, "Encoding");
    if (auto name = kv_cast<KVPDFObjectName>(encoding)) {
        const QByteArray &bytes = name->bytes();
        if (bytes == "Identity-H" || bytes == "Identity-V") {
            m_encodingCMap = KVPDFEncodingCMap::identity(bytes.endsWith("-V"));
        } else {
            m_encodingCMap = KVPDFEncodingCMap::cmapWithName(bytes);
            if (!m_encodingCMap)
                kvLog(QStringLiteral("Font CMap %1 not found; codes read as two bytes").arg(nameString(bytes)));
        }
    } else if (auto stream = kv_cast<KVPDFObjectStream>(encoding)) {
        m_encodingCMap = KVPDFEncodingCMap::cmapWithStream(stream);
        if (!m_encodingCMap)
            kvLog(QStringLiteral("Font CMap stream unreadable; codes read as two bytes"));
    }
    if (!m_encodingCMap)
        m_encodingCMap = KVPDFEncodingCMap::identity(false);
    m_isVerticalMode = m_encodingCMap->isVertical();

    std::shared_ptr<KVPDFObjectDictionary> cidFont = descendant();
    if (!cidFont)
        return;
    m_w = kv_cast<KVPDFObjectArray>(entry(cidFont, "W"));
    readW(m_w);
    if (const std::optional<double> dw = numberEntry(cidFont, "DW"))
        m_dw = float(*dw / 1000.0);
    if (entry(cidFont, "WMode") && numberEntry(cidFont, "WMode").value_or(0) == 1)
        m_isVerticalMode = true;

    // Unicode by CID unless ToUnicode (read in build) says otherwise.
    std::shared_ptr<KVPDFObjectDictionary> info = dictionaryEntry(cidFont, "CIDSystemInfo");
    if (!info && !m_encodingCMap->registry().isEmpty()) {
        info = KVPDFObjectDictionary::dictionaryWithDictionary(
            {{"Registry", KVPDFObjectString::stringWithString(m_encodingCMap->registry())},
             {"Ordering", KVPDFObjectString::stringWithString(m_encodingCMap->ordering())}});
    }
    if (info) {
        m_cmap = KVPDFCMap::cmapWithCIDSystemInfo(info);
        m_cmapByCID = m_cmap != nullptr;
    }
}

std::shared_ptr<KVPDFObjectDictionary> KVPDFFont::descendant() const
{
    auto descendants = kv_cast<KVPDFObjectArray>(entry(m_fontDictionary, "DescendantFonts"));
    if (!descendants || descendants->count() == 0)
        return nullptr;
    return asDictionary(resolved(descendants->objectAtIndex(0)));
}

void KVPDFFont::readW(const std::shared_ptr<KVPDFObjectArray> &w)
{
    // Entries beyond this many single widths are kept as ranges only, so a hostile W cannot
    // grow the map without bound.
    constexpr size_t kMaxSingleWidths = size_t(1) << 18;
    const std::vector<KVPDFObjectPtr> items = elements(w);
    size_t i = 0;
    while (i < items.size()) {
        const KVPDFObjectPtr &head = items[i];
        if (!head || head->objectType() != KVPDFObject::TypeInteger || head->longLongValue() < 0
            || head->longLongValue() > 0xFFFFFFFFll) {
            ++i; // junk: skip to the next thing that can start an entry
            continue;
        }
        const uint32_t first = uint32_t(head->longLongValue());
        if (i + 1 < items.size() && items[i + 1] && items[i + 1]->objectType() == KVPDFObject::TypeArray) {
            const std::vector<KVPDFObjectPtr> widths = elements(kv_cast<KVPDFObjectArray>(items[i + 1]));
            for (size_t k = 0; k < widths.size() && m_cidWidths.size() < kMaxSingleWidths; ++k) {
                if (uint64_t(first) + k > 0xFFFFFFFFull)
                    break;
                if (kvIsNumber(widths[k]))
                    m_cidWidths.emplace(uint32_t(first + k), float(numberValue(widths[k]) / 1000.0));
            }
            i += 2;
            continue;
        }
        if (i + 2 < items.size() && items[i + 1] && items[i + 1]->objectType() == KVPDFObject::TypeInteger
            && kvIsNumber(items[i + 2])) {
            const int64_t last = items[i + 1]->longLongValue();
            if (last >= first && last <= 0xFFFFFFFFll)
                m_cidWidthRanges.push_back({first, uint32_t(last), float(numberValue(items[i + 2]) / 1000.0)});
            i += 3;
            continue;
        }
        ++i;
    }
}

float KVPDFFont::cidWidth(uint32_t cid) const
{
    if (auto it = m_cidWidths.find(cid); it != m_cidWidths.end())
        return it->second;
    for (const CIDWidthRange &range : m_cidWidthRanges)
        if (range.first <= cid && cid <= range.last)
            return range.width;
    return m_dw;
}

std::shared_ptr<KVSystemFont> KVPDFFont::fontForWidths() const
{
    if (m_fontType == TypeType0 || m_fontType == TypeCIDFont || m_fontType == TypeOther)
        return nullptr;
    std::call_once(m_measuringOnce, [this] { m_fontForWidths = KVSystemFont::fontWithName(m_measuringName, 10); });
    return m_fontForWidths;
}

float KVPDFFont::measuredWidth(const QString &text) const
{
    std::shared_ptr<KVSystemFont> font = fontForWidths();
    return font ? float(font->advance(text) / 10.0) : 0.0f;
}

float KVPDFFont::glyphWidth(uint32_t code) const
{
    float width = 0;
    if (m_fontType == TypeType0) {
        width = cidWidth(cidForCode(code));
    } else if (!m_widths.empty() && code >= m_firstChar && code - m_firstChar < m_widths.size()) {
        width = m_widths[code - m_firstChar];
    } else if (!m_widths.empty() && (code < m_firstChar || code > m_lastChar)) {
        width = m_widths[0];
    } else if (code <= 0xFFFF) {
        width = measuredWidth(QString(QChar(char16_t(code))));
    }
    if (!m_identityMatrix)
        width = float(width * m_fontMatrix[0] + m_fontMatrix[4]);
    return width;
}

// ---- Metrics -----------------------------------------------------------------------------

void KVPDFFont::readMetrics()
{
    std::shared_ptr<KVPDFObjectDictionary> descriptor = m_fontDescriptor;
    if (m_fontType == TypeType0)
        descriptor = dictionaryEntry(descendant(), "FontDescriptor");
    m_descriptorAscent = numberEntry(descriptor, "Ascent");
    m_descriptorDescent = numberEntry(descriptor, "Descent");
    const std::vector<KVPDFObjectPtr> box = elements(kv_cast<KVPDFObjectArray>(entry(m_fontDescriptor, "FontBBox")));
    if (box.size() == 4) {
        m_boxDescent = numberValue(box[1]);
        m_boxAscent = numberValue(box[3]);
    }
    m_descriptorFlags = int64_t(numberEntry(m_fontDescriptor, "Flags").value_or(0));
}

void KVPDFFont::computeMetrics() const
{
    std::call_once(m_metricsOnce, [this] {
        std::shared_ptr<KVSystemFont> measuring =
            (m_descriptorAscent && m_descriptorDescent) ? nullptr : fontForWidths();
        if (m_descriptorAscent)
            m_ascent = float(*m_descriptorAscent / 1000.0);
        else if (measuring)
            m_ascent = float(measuring->ascent() / 10.0);
        else
            m_ascent = 1.0f;
        if (m_descriptorDescent)
            m_descent = float(*m_descriptorDescent / 1000.0);
        else if (measuring)
            m_descent = float(-std::fabs(measuring->descent()) / 10.0);
        else
            m_descent = 0.0f;
        if (m_ascent == 0)
            m_ascent = float(m_boxAscent / 1000.0);
        if (m_descent == 0)
            m_descent = float(m_boxDescent / 1000.0);
    });
}

float KVPDFFont::ascent() const
{
    computeMetrics();
    return m_ascent;
}

float KVPDFFont::descent() const
{
    computeMetrics();
    return m_descent;
}

int64_t KVPDFFont::descriptorFlags() const { return m_descriptorFlags; }

// ---- Text --------------------------------------------------------------------------------

uint32_t KVPDFFont::cidForCode(uint32_t code) const
{
    return m_encodingCMap ? m_encodingCMap->cidForCode(code) : code;
}

bool KVPDFFont::nextCode(QByteArrayView data, qsizetype &position, uint32_t &code, int &length) const
{
    if (position < 0 || position >= data.size())
        return false;
    if (!m_encodingCMap) {
        code = uint8_t(data[position]);
        length = 1;
        ++position;
        return true;
    }
    if (m_encodingCMap->isIdentity()) {
        if (position + 1 >= data.size()) {
            position = data.size();
            return false;
        }
        code = (uint32_t(uint8_t(data[position])) << 8) | uint8_t(data[position + 1]);
        length = 2;
        position += 2;
        return true;
    }
    int read = 0;
    code = m_encodingCMap->nextCode(data, position, &read);
    length = std::max(read, 1);
    return true;
}

void KVPDFFont::appendCodeText(uint32_t code, QString &out) const
{
    if (m_cmap) {
        m_cmap->appendText(m_cmapByCID ? cidForCode(code) : code, out);
        return;
    }
    if (m_encodingTable && code < 256) {
        out.append(QChar(m_encodingTable[code]));
        if (!m_privateLowSurrogates.empty() && m_privateLowSurrogates[code])
            out.append(QChar(m_privateLowSurrogates[code]));
        return;
    }
    // A two-byte font with no map at all: the code stands for itself.
    if (code <= 0xFFFF)
        out.append(QChar(char16_t(code)));
    else
        out.append(QChar(QChar::ReplacementCharacter));
}

QString KVPDFFont::stringForCode(uint32_t code) const
{
    QString out;
    appendCodeText(code, out);
    return out;
}

QString KVPDFFont::stringForData(QByteArrayView data) const
{
    QString out;
    out.reserve(data.size());
    qsizetype position = 0;
    uint32_t code = 0;
    int length = 0;
    while (nextCode(data, position, code, length))
        appendCodeText(code, out);
    return out;
}

QByteArray KVPDFFont::dataForGlyph(uint32_t code) const
{
    if (!m_cmap)
        return {};
    return m_cmap->stringDataForGlyph(m_cmapByCID ? cidForCode(code) : code);
}

// ---- Identity and names ------------------------------------------------------------------


bool KVPDFFont::isEqualToDictionary(const KVPDFObjectDictionary &dictionary) const
{
    return m_fontDictionary && (m_fontDictionary.get() == &dictionary || m_fontDictionary->isEqual(dictionary));
}

bool KVPDFFont::isEqual(const KVPDFFont &other) const
{
    return other.m_fontDictionary && isEqualToDictionary(*other.m_fontDictionary);
}

QString KVPDFFont::description() const
{
    return QStringLiteral("%1 %2").arg(m_fontName, m_subtype);
}

QString KVPDFFont::regularName(const QString &name)
{
    const QByteArray bytes = name.toLatin1();
    const char *regular = kvpdf::nameForStdAbbreviation(bytes.constData(), size_t(bytes.size()));
    return regular ? QString::fromLatin1(regular) : name;
}

std::shared_ptr<KVPDFObjectName> KVPDFFont::abbreviatedNameForFont(const KVSystemFont &font)
{
    QString name = font.fullName();
    const QByteArray bytes = name.toLatin1();
    if (const char *abbreviation = kvpdf::stdAbbreviation(bytes.constData(), size_t(bytes.size())))
        name = QString::fromLatin1(abbreviation);
    name.remove(QLatin1Char(' '));
    return KVPDFObjectName::nameWithString(name);
}

std::shared_ptr<KVPDFObjectDictionary> KVPDFFont::fontWithName(const QString &resourceName, const QString &baseName)
{
    return KVPDFObjectDictionary::dictionaryWithDictionary({
        {"Type", KVPDFObjectName::nameWithBytes("Font")},
        {"Subtype", KVPDFObjectName::nameWithBytes("Type1")},
        {"Name", KVPDFObjectName::nameWithString(resourceName)},
        {"BaseFont", KVPDFObjectName::nameWithString(baseName)},
        {"Encoding", encodingObject()},
    });
}

std::shared_ptr<KVPDFObjectDictionary> KVPDFFont::encodingObject()
{
    static const std::shared_ptr<KVPDFObjectDictionary> shared = [] {
        static const char *const differences[] = {
            "24", "breve", "caron", "circumflex", "dotaccent", "hungarumlaut", "ogonek", "ring", "tilde",
            "39", "quotesingle", "96", "grave", "128", "bullet", "dagger", "daggerdbl", "ellipsis", "emdash",
            "endash", "florin", "fraction", "guilsinglleft", "guilsinglright", "minus", "perthousand",
            "quotedblbase", "quotedblleft", "quotedblright", "quotesinglbase", "trademark", "fi", "fl", "Lslash",
            "OE", "Scaron", "Ydieresis", "Zcaron", "dotlessi", "lslash", "oe", "scaron", "zcaron", "160", "Euro",
            "164", "currency", "166", "brokenbar", "168", "dieresis", "copyright", "ordfeminine", "172",
            "logicalnot", ".notdef", "registered", "macron", "degree", "plusminus", "twosuperior",
            "threesuperior", "acute", "mu", "183", "periodcentered", "cedilla", "onesuperior", "ordmasculine",
            "188", "onequarter", "onehalf", "threequarters", "192", "Agrave", "Aacute", "Acircumflex", "Atilde",
            "Adieresis", "Aring", "AE", "Ccedilla", "Egrave", "Eacute", "Ecircumflex", "Edieresis", "Igrave",
            "Iacute", "Icircumflex", "Idieresis", "Eth", "Ntilde", "Ograve", "Oacute", "Ocircumflex", "Otilde",
            "Odieresis", "multiply", "Oslash", "Ugrave", "Uacute", "Ucircumflex", "Udieresis", "Yacute", "Thorn",
            "germandbls", "agrave", "aacute", "acircumflex", "atilde", "adieresis", "aring", "ae", "ccedilla",
            "egrave", "eacute", "ecircumflex", "edieresis", "igrave", "iacute", "icircumflex", "idieresis", "eth",
            "ntilde", "ograve", "oacute", "ocircumflex", "otilde", "odieresis", "divide", "oslash", "ugrave",
            "uacute", "ucircumflex", "udieresis", "yacute", "thorn", "ydieresis"};
        std::vector<KVPDFObjectPtr> items;
        for (const char *item : differences) {
            if (item[0] >= '0' && item[0] <= '9')
                items.push_back(KVPDFObjectInteger::integerWithLongLong(std::atoi(item)));
            else
                items.push_back(KVPDFObjectName::nameWithBytes(QByteArray(item)));
        }
        return KVPDFObjectDictionary::dictionaryWithDictionary({
            {"Type", KVPDFObjectName::nameWithBytes("Encoding")},
            {"Differences", KVPDFObjectArray::arrayWithArray(std::move(items))},
        });
    }();
    return shared;
}
