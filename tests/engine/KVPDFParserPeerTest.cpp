// The engine's object parser against qpdf, object for object. For every corpus file qpdf reads
// and the engine opens, and for files qpdf rewrites from the corpus at test time (QDF form,
// object and cross-reference streams, linearized, encrypted), every object in use must read as
// qpdf reads it (kvprobe prints the engine's objects in the shape of qpdf's JSON), and every
// stream's data must be qpdf's: decoded where qpdf decodes it, as stored where qpdf leaves it
// (DCT and other image filters, or data qpdf cannot decode).
//
// Equal means: dictionaries equal with a null value and a reference to a missing or null object
// counting as an absent key, as PDF readers treat them; reals equal within what the engine's
// single-precision number reader keeps; strings equal byte for byte (kvprobe chooses "u:" or
// "b:" by qpdf's rule from the bytes the engine read).
//
// Where the two legitimately part ways, the object is listed in kKnownDifferences with the
// reason; a listed difference that no longer occurs fails too, so the table stays true.
// FOLIVO_CORPUS may point the test at any folder laid out like the corpus.
#include "support/CorpusManifest.h"
#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <iostream>
#include <map>
#include <optional>
#include <set>

namespace {
// ---------------------------------------------------------------------------------------------
// A lenient JSON reader. qpdf writes numbers as they stand in the file ("5.", "+.5", "00.5") and
// names as their raw bytes, which need not be UTF-8; a strict reader refuses both.

struct JsonValue {
    enum Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Null;
    QByteArray text; // a number's text, a string's bytes, "true" or "false"
    std::vector<JsonValue> items;
    std::vector<std::pair<QByteArray, JsonValue>> members; // sorted by key

    const JsonValue *member(QByteArrayView key) const
    {
        auto it = std::lower_bound(members.begin(), members.end(), key,
                                   [](const auto &member, QByteArrayView k) { return member.first < k; });
        return it != members.end() && it->first == key ? &it->second : nullptr;
    }
};

class JsonReader {
public:
    explicit JsonReader(const QByteArray &text) : m_p(text.constData()), m_end(text.constData() + text.size()) { }

    std::optional<JsonValue> read()
    {
        JsonValue value;
        if (!readValue(value, 0))
            return std::nullopt;
        skipWhite();
        if (m_p != m_end)
            return std::nullopt;
        return value;
    }

private:
    void skipWhite()
    {
        while (m_p < m_end && (*m_p == ' ' || *m_p == '\n' || *m_p == '\r' || *m_p == '\t'))
            ++m_p;
    }

    bool literal(const char *word)
    {
        const size_t n = std::strlen(word);
        if (size_t(m_end - m_p) < n || std::memcmp(m_p, word, n) != 0)
            return false;
        m_p += n;
        return true;
    }

    bool readUnit(char16_t &unit)
    {
        if (m_end - m_p < 4)
            return false;
        bool ok = false;
        unit = QByteArray(m_p, 4).toUShort(&ok, 16);
        m_p += 4;
        return ok;
    }

    bool readString(QByteArray &out)
    {
        ++m_p; // the opening quote
        while (m_p < m_end && *m_p != '"') {
            if (*m_p != '\\') {
                const char *run = m_p;
                while (m_p < m_end && *m_p != '"' && *m_p != '\\')
                    ++m_p;
                out.append(run, m_p - run);
                continue;
            }
            if (++m_p >= m_end)
                return false;
            const char escape = *m_p++;
            switch (escape) {
            case 'n': out.append('\n'); break;
            case 'r': out.append('\r'); break;
            case 't': out.append('\t'); break;
            case 'b': out.append('\b'); break;
            case 'f': out.append('\f'); break;
            case 'u': {
                char16_t units[2] = {0, 0};
                if (!readUnit(units[0]))
                    return false;
                qsizetype count = 1;
                if (QChar::isHighSurrogate(units[0]) && m_end - m_p >= 6 && m_p[0] == '\\' && m_p[1] == 'u') {
                    m_p += 2;
                    if (!readUnit(units[1]))
                        return false;
                    count = 2;
                }
                out.append(QString(reinterpret_cast<const QChar *>(units), count).toUtf8());
                break;
            }
            default: out.append(escape); break;
            }
        }
        if (m_p >= m_end)
            return false;
        ++m_p;
        return true;
    }

    bool consume(char c)
    {
        skipWhite();
        if (m_p >= m_end || *m_p != c)
            return false;
        ++m_p;
        return true;
    }

    bool readValue(JsonValue &out, int depth)
    {
        skipWhite();
        if (m_p >= m_end || depth > 1000)
            return false;
        if (*m_p == '"') {
            out.kind = JsonValue::String;
            return readString(out.text);
        }
        if (consume('[')) {
            out.kind = JsonValue::Array;
            if (consume(']'))
                return true;
            do {
                out.items.emplace_back();
                if (!readValue(out.items.back(), depth + 1))
                    return false;
            } while (consume(','));
            return consume(']');
        }
        if (consume('{')) {
            out.kind = JsonValue::Object;
            if (!consume('}')) {
                do {
                    QByteArray key;
                    JsonValue value;
                    skipWhite();
                    if (m_p >= m_end || *m_p != '"' || !readString(key) || !consume(':') || !readValue(value, depth + 1))
                        return false;
                    out.members.emplace_back(std::move(key), std::move(value));
                } while (consume(','));
                if (!consume('}'))
                    return false;
            }
            std::sort(out.members.begin(), out.members.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
            return true;
        }
        for (const char *word : {"true", "false", "null"}) {
            if (literal(word)) {
                out.kind = word[0] == 'n' ? JsonValue::Null : JsonValue::Bool;
                out.text = word;
                return true;
            }
        }
        const char *start = m_p;
        while (m_p < m_end
               && (std::isdigit(uint8_t(*m_p)) || *m_p == '+' || *m_p == '-' || *m_p == '.' || *m_p == 'e' || *m_p == 'E'))
            ++m_p;
        if (m_p == start)
            return false;
        out.kind = JsonValue::Number;
        out.text = QByteArray(start, m_p - start);
        return true;
    }

    const char *m_p;
    const char *m_end;
};

std::optional<JsonValue> parseJson(const QByteArray &text) { return JsonReader(text).read(); }

// ---------------------------------------------------------------------------------------------
// Object listings: (number, generation) -> {"value": X} or {"stream": {...}}.

using ObjectId = std::pair<uint64_t, uint64_t>;
struct Listing {
    std::map<ObjectId, JsonValue> entries;
    std::map<uint64_t, const JsonValue *> byNumber; // a reference finds its target by number, as in the engine
};

QByteArray idText(const ObjectId &id) { return QByteArray::number(id.first) + ' ' + QByteArray::number(id.second); }

bool parseObjectKey(const QByteArray &key, uint64_t &number, uint64_t &generation)
{
    static const QRegularExpression pattern(QStringLiteral("^obj:(\\d+) (\\d+) R$"));
    const auto match = pattern.match(QString::fromLatin1(key));
    if (!match.hasMatch())
        return false;
    number = match.captured(1).toULongLong();
    generation = match.captured(2).toULongLong();
    return true;
}

// Objects with a value other than null (a null object and a free one mean the same), and those
// kvprobe could not read (null with an "error").
Listing listing(const JsonValue &objects)
{
    Listing out;
    for (const auto &[key, entry] : objects.members) {
        uint64_t number = 0, generation = 0;
        const JsonValue *value = entry.member("value");
        const bool null = value && value->kind == JsonValue::Null;
        if (!parseObjectKey(key, number, generation) || (null && !entry.member("error")))
            continue;
        const JsonValue &stored = out.entries[{number, generation}] = entry;
        if (!null)
            out.byNumber[number] = &stored;
    }
    return out;
}

std::optional<uint64_t> referencedNumber(const JsonValue &value)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d+) \\d+ R$"));
    if (value.kind != JsonValue::String)
        return std::nullopt;
    const auto match = pattern.match(QString::fromLatin1(value.text));
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1).toULongLong();
}

// kvprobe prints a name whose bytes are not UTF-8 as "n:/A#E9"; qpdf prints the raw bytes.
QByteArray rawName(const QByteArray &text)
{
    if (!text.startsWith("n:/"))
        return text;
    QByteArray out("/");
    for (qsizetype i = 3; i < text.size(); ++i) {
        bool ok = false;
        const int byte = text[i] == '#' ? text.mid(i + 1, 2).toInt(&ok, 16) : 0;
        if (ok && i + 2 < text.size()) {
            out.append(char(byte));
            i += 2;
        } else {
            out.append(text[i]);
        }
    }
    return out;
}

// The value as a PDF reader sees it: dictionary entries that are null or refer to nothing are
// gone, names are raw bytes.
JsonValue normalised(const JsonValue &value, const Listing &objects)
{
    JsonValue out;
    out.kind = value.kind;
    switch (value.kind) {
    case JsonValue::String: out.text = rawName(value.text); break;
    case JsonValue::Array:
        for (const JsonValue &item : value.items)
            out.items.push_back(normalised(item, objects));
        break;
    case JsonValue::Object:
        for (const auto &[key, item] : value.members) {
            if (item.kind == JsonValue::Null)
                continue;
            if (auto number = referencedNumber(item); number && !objects.byNumber.count(*number))
                continue;
            out.members.emplace_back(rawName(key), normalised(item, objects));
        }
        std::sort(out.members.begin(), out.members.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
        break;
    default: out.text = value.text; break;
    }
    return out;
}

// A stream's dictionary, with an indirect Length replaced by its value: the engine resolves it
// while parsing.
JsonValue streamDictionary(const JsonValue &stream, const Listing &objects)
{
    const JsonValue *dictionary = stream.member("dict");
    if (!dictionary)
        return {};
    JsonValue copy = *dictionary;
    for (auto &[key, item] : copy.members) {
        auto number = key == "/Length" ? referencedNumber(item) : std::nullopt;
        auto target = number ? objects.byNumber.find(*number) : objects.byNumber.end();
        if (target != objects.byNumber.end() && target->second->member("value"))
            item = *target->second->member("value");
    }
    return normalised(copy, objects);
}

// ---------------------------------------------------------------------------------------------
// Comparison.

bool isReal(const QByteArray &number) { return number.contains('.') || number.contains('e') || number.contains('E'); }

double numberValue(QByteArray text)
{
    if (text.startsWith('+'))
        text.remove(0, 1);
    double value = 0;
    std::from_chars(text.constData(), text.constData() + text.size(), value);
    return value;
}

// The engine reads reals in single precision, adding digit times a running power of ten, so a
// value carries a few units in the last place of a float (one unit: 6e-8 of the value) on top
// of the float's own rounding; the corpus shows up to three.
bool realsAgree(double engine, double peer)
{
    return std::abs(engine - peer) <= 1e-6 * std::max(std::abs(engine), std::abs(peer)) + 1e-12;
}

QByteArray shortText(const JsonValue &value)
{
    switch (value.kind) {
    case JsonValue::Null: return "null";
    case JsonValue::Array: return "[" + QByteArray::number(qsizetype(value.items.size())) + " items]";
    case JsonValue::Object: return "{" + QByteArray::number(qsizetype(value.members.size())) + " keys}";
    case JsonValue::String: return '"' + value.text.left(60) + (value.text.size() > 60 ? "...\"" : "\"");
    default: return value.text;
    }
}

void compareValues(const JsonValue &engine, const JsonValue &peer, const QByteArray &path, QList<QByteArray> &differences)
{
    if (differences.size() >= 3)
        return;
    auto differ = [&](const QByteArray &what) {
        differences.append((path.isEmpty() ? QByteArray("value") : path) + ": " + what);
    };
    if (engine.kind != peer.kind) {
        differ("engine " + shortText(engine) + ", qpdf " + shortText(peer));
        return;
    }
    switch (engine.kind) {
    case JsonValue::Number:
        if (isReal(engine.text) != isReal(peer.text))
            differ("engine " + engine.text + ", qpdf " + peer.text + " (integer and real)");
        else if (isReal(engine.text) ? !realsAgree(numberValue(engine.text), numberValue(peer.text))
                                     : engine.text.toLongLong() != QByteArray(peer.text).replace('+', "").toLongLong())
            differ("engine " + engine.text + ", qpdf " + peer.text);
        return;
    case JsonValue::Array:
        if (engine.items.size() != peer.items.size()) {
            differ("engine " + shortText(engine) + ", qpdf " + shortText(peer));
            return;
        }
        for (size_t i = 0; i < engine.items.size(); ++i)
            compareValues(engine.items[i], peer.items[i], path + '[' + QByteArray::number(qsizetype(i)) + ']', differences);
        return;
    case JsonValue::Object: {
        std::set<QByteArray> keys;
        for (const auto &member : engine.members)
            keys.insert(member.first);
        for (const auto &member : peer.members)
            keys.insert(member.first);
        for (const QByteArray &key : keys) {
            const JsonValue *e = engine.member(key);
            const JsonValue *p = peer.member(key);
            if (!e || !p)
                differences.append(path + key + (e ? ": only the engine has it" : ": only qpdf has it"));
            else
                compareValues(*e, *p, path + key, differences);
            if (differences.size() >= 3)
                return;
        }
        return;
    }
    default:
        if (engine.text != peer.text)
            differ("engine " + shortText(engine) + ", qpdf " + shortText(peer));
        return;
    }
}

QList<QByteArray> compareEntries(const JsonValue &engine, const Listing &engineObjects, const JsonValue &peer,
                                 const Listing &peerObjects)
{
    QList<QByteArray> differences;
    if (const JsonValue *error = engine.member("error")) {
        differences.append("the engine cannot read it: " + error->text);
        return differences;
    }
    const JsonValue *engineStream = engine.member("stream");
    const JsonValue *peerStream = peer.member("stream");
    const JsonValue *engineValue = engine.member("value");
    const JsonValue *peerValue = peer.member("value");
    if (engineStream && peerStream)
        compareValues(streamDictionary(*engineStream, engineObjects), streamDictionary(*peerStream, peerObjects), "stream dict",
                      differences);
    else if (engineStream || peerStream)
        differences.append(engineStream ? "the engine reads a stream, qpdf a value" : "qpdf reads a stream, the engine a value");
    else if (!engineValue || !peerValue)
        differences.append("entry without a value");
    else
        compareValues(normalised(*engineValue, engineObjects), normalised(*peerValue, peerObjects), {}, differences);
    return differences;
}

// ---------------------------------------------------------------------------------------------
// Cases.

struct PeerCase {
    QString label;       // names the case in kKnownDifferences and in the test name
    QString source;      // corpus-relative file; empty: the syntax file below
    QStringList rewrite; // qpdf options that make the file compared from the source; empty: the source
    QString password;    // the user password the source needs
};

void PrintTo(const PeerCase &param, std::ostream *out) { *out << param.label.toStdString(); }

// Object syntax the corpus seldom shows, one object each, and a stream per filter and filter
// form, with a cross-reference table: well-formed PDF that both readers must read alike.
QByteArray syntaxFile()
{
    const QList<QByteArray> values = {
        "(plain text)",
        "(nested (balanced (parentheses)) stay)",
        "(escapes \\n\\r\\t\\b\\f\\(\\)\\\\ end)",
        "(octal \\101\\060\\0601\\7\\777 end)",
        "(split\\\nline and \\\r\nline)",
        "(bare\rCR and CRLF\r\nand LF\n)",
        "(unknown \\q escape)",
        "(\\376\\377\\000A\\330\\075\\336\\000)",
        "(\\357\\273\\277UTF-8 \\303\\251)",
        "(PDFDocEncoding: a bullet \\200 and a euro \\240 in text)",
        "(mostly binary \\001\\002\\003)",
        "<48656C6C6F>",
        "<48 65 6c\n6C 6F>",
        "<4865F>",
        "<>",
        "<FEFF00e9>",
        "[/Name /A#20B /#41#42 /a.b-c_d /paired#28#29 /F#23 / /#80#ff]",
        "[1 -1 +5 -0 1.5 -.5 .5 5. 0.000001 00012 -3.62 123456789 0.1 4. 16777217 -2147483649 123456.789]",
        "[true false null]",
        "[1 0 R 2 0 R [] [[]] <<>>]",
        "<</A 1/B<</C[1 2<</D(x)>>]>>/E null/F 99 0 R>>",
        "[1 % a comment\n2]",
        "<</Type/Font/Subtype/Type1/BaseFont/Helvetica>>",
    };
    const QByteArray text = "Stream data, repeated repeated repeated repeated.\n";
    const QByteArray deflated = qCompress(text).mid(4); // qCompress puts the length before the zlib data
    // PNG "Up" rows of 10 bytes (the text is 5 rows): each byte minus the one above it.
    QByteArray rows;
    QByteArray above(10, '\0');
    for (qsizetype i = 0; i < text.size(); i += 10) {
        const QByteArray row = text.mid(i, 10);
        rows.append('\x02');
        for (qsizetype k = 0; k < row.size(); ++k)
            rows.append(char(row[k] - above[k]));
        above = row;
    }
    const std::pair<QByteArray, QByteArray> streams[] = {
        {"", text},
        {"/Filter /ASCIIHexDecode", text.toHex() + '>'},
        {"/Filter /ASCII85Decode", R"a85(;fm%k@;R,t@<>p/+ED%4ART[lA0>o(E+NI"ARlp(AT23hFCeu*Eb03$@<?'k/d_~>)a85"},
        {"/Filter /RunLengthDecode", QByteArray("\x04hello\xfd"
                                                "A\x80")},
        {"/Filter /LZWDecode",
         QByteArray::fromHex("8014ce87232984da2032184e861160820870829d0ca6487196210a89c562f128a43e23131702a020")},
        {"/Filter /FlateDecode", deflated},
        {"/Filter [/ASCIIHexDecode /FlateDecode]", deflated.toHex() + '>'},
        {"/Filter [/AHx /Fl] /DecodeParms [null << /Predictor 12 /Columns 10 >>]", qCompress(rows).mid(4).toHex() + '>'},
    };
    QByteArray file = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    QList<qsizetype> offsets;
    auto add = [&](const QByteArray &body) {
        offsets.append(file.size());
        file += QByteArray::number(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
    };
    for (const QByteArray &value : values)
        add(value);
    for (const auto &[dictionary, data] : streams)
        add("<< /Length " + QByteArray::number(data.size()) + ' ' + dictionary + " >>\nstream\n" + data + "\nendstream");
    const qsizetype root = offsets.size() + 1;
    add("<< /Type /Catalog /Pages " + QByteArray::number(root + 1) + " 0 R >>");
    add("<< /Type /Pages /Kids [] /Count 0 >>");
    const qsizetype xref = file.size();
    file += "xref\n0 " + QByteArray::number(offsets.size() + 1) + "\n0000000000 65535 f \n";
    for (const qsizetype offset : offsets)
        file += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    file += "trailer\n<< /Size " + QByteArray::number(offsets.size() + 1) + " /Root " + QByteArray::number(root)
            + " 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return file;
}

std::vector<PeerCase> rewrittenCases()
{
    const QStringList qdf = {QStringLiteral("--qdf"), QStringLiteral("--object-streams=disable")};
    const QStringList objectStreams = {QStringLiteral("--object-streams=generate")};
    const QStringList linearized = {QStringLiteral("--linearize")};
    // Empty user password, so the engine opens them without asking.
    const QStringList rc4 = {QStringLiteral("--allow-weak-crypto"),
                             QStringLiteral("--encrypt"),
                             QString(),
                             QStringLiteral("owner"),
                             QStringLiteral("128"),
                             QStringLiteral("--use-aes=n"),
                             QStringLiteral("--")};
    const QStringList aes = {QStringLiteral("--encrypt"),   QString(),           QStringLiteral("owner"), QStringLiteral("128"),
                             QStringLiteral("--use-aes=y"), QStringLiteral("--")};
    const QString thirtyPages = QStringLiteral("qpdf/page-labels-and-outlines.pdf");
    const QString annotations = QStringLiteral("pdfjs/annotation-link-text-popup.pdf");
    const QString form = QStringLiteral("qpdf/form-fields-and-annotations.pdf");
    const QString paper = QStringLiteral("pdfjs/tracemonkey.pdf");
    return {
        {QStringLiteral("qdf ") + thirtyPages, thirtyPages, qdf, {}},
        {QStringLiteral("object streams ") + thirtyPages, thirtyPages, objectStreams, {}},
        {QStringLiteral("qdf ") + annotations, annotations, qdf, {}},
        {QStringLiteral("object streams ") + annotations, annotations, objectStreams, {}},
        {QStringLiteral("object streams ") + paper, paper, objectStreams, {}},
        {QStringLiteral("linearized ") + form, form, linearized, {}},
        {QStringLiteral("RC4 ") + form, form, rc4, {}},
        {QStringLiteral("AES ") + form, form, aes, {}},
    };
}

std::vector<PeerCase> corpusCases()
{
    std::vector<PeerCase> cases;
    for (const CorpusManifestEntry &entry : readCorpusManifest())
        cases.push_back({entry.file, entry.file, {}, entry.password});
    return cases;
}

std::string testName(const ::testing::TestParamInfo<PeerCase> &info)
{
    QString name = info.param.label;
    name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9]")), QStringLiteral("_"));
    return name.toStdString();
}

// ---------------------------------------------------------------------------------------------
// Where the engine and qpdf legitimately read a file differently.

struct KnownDifference {
    const char *label;
    const char *object; // "number generation"
    const char *aspect; // "object" or "stream"
    const char *reason;
};

// An update frees an object and reuses its number with the next generation. qpdf keeps every
// (number, generation) a cross-reference section listed or its repair found, so it still reads
// the replaced object; the engine keeps one object per number, the newest, as the newest
// section says.
constexpr const char *kOldGeneration = "qpdf keeps the replaced generation of a reused object number";

const KnownDifference kKnownDifferences[] = {
    {"qpdf/incremental-1.pdf", "4 0", "object", kOldGeneration},
    {"qpdf/incremental-2.pdf", "4 0", "object", kOldGeneration},
    {"qpdf/append-xref-loop.pdf", "107 0", "object", kOldGeneration},
};

const KnownDifference *knownDifference(const QString &label, const QByteArray &object, const char *aspect)
{
    for (const KnownDifference &known : kKnownDifferences)
        if (label == QLatin1String(known.label) && object == known.object && std::strcmp(known.aspect, aspect) == 0)
            return &known;
    return nullptr;
}

// ---------------------------------------------------------------------------------------------

std::optional<JsonValue> qpdfObjects(const QString &path, const QStringList &options, QString *error)
{
    const ToolResult qpdf =
        runTool(QStringLiteral("qpdf"),
                QStringList{QStringLiteral("--json=2"), QStringLiteral("--json-key=qpdf")} + options + QStringList{path});
    // 3: read with warnings (a damaged file qpdf repaired).
    if (qpdf.exitCode != 0 && qpdf.exitCode != 3) {
        *error = QStringLiteral("qpdf exits %1: %2").arg(qpdf.exitCode).arg(QString::fromUtf8(qpdf.err.left(500)));
        return std::nullopt;
    }
    std::optional<JsonValue> json = parseJson(qpdf.out);
    const JsonValue *sections = json ? json->member("qpdf") : nullptr;
    if (!sections || sections->items.size() != 2) {
        *error = QStringLiteral("qpdf's JSON has no object section");
        return std::nullopt;
    }
    return sections->items[1];
}

struct Difference {
    QByteArray object; // "number generation"
    const char *aspect;
    QByteArray what;
};

class KVPDFParserPeerTest : public ::testing::TestWithParam<PeerCase> { };
}

TEST_P(KVPDFParserPeerTest, ObjectsAndStreamsReadAsQpdfReadsThem)
{
    const PeerCase &param = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QString path = QDir(corpusDir()).filePath(param.source);
    if (param.source.isEmpty()) {
        path = dir.filePath(QStringLiteral("syntax.pdf"));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(syntaxFile()) > 0);
    }
    ASSERT_TRUE(QFile::exists(path)) << path.toStdString();
    if (!param.rewrite.isEmpty()) {
        const QString rewritten = dir.filePath(QStringLiteral("rewritten.pdf"));
        const ToolResult qpdf = runTool(QStringLiteral("qpdf"), param.rewrite + QStringList{path, rewritten});
        ASSERT_TRUE(qpdf.exitCode == 0 || qpdf.exitCode == 3) << qpdf.err.toStdString();
        path = rewritten;
    }

    // Both readers decrypt with the manifest's password, when the file needs one.
    const QStringList password =
        param.password.isEmpty() ? QStringList() : QStringList{QStringLiteral("--password=") + param.password};
    QString error;
    const std::optional<JsonValue> peerJson = qpdfObjects(path, password, &error);
    if (!peerJson)
        GTEST_SKIP() << "qpdf does not read the file: " << error.toStdString();

    const ToolResult probe =
        runTool(QStringLiteral(FOLIVO_KVPROBE), QStringList{QStringLiteral("objects"), path} + password, 60000);
    ASSERT_TRUE(probe.started);
    if (probe.exitCode == 4) {
        // qpdf answers 0 for an encrypted file.
        if (runTool(QStringLiteral("qpdf"), {QStringLiteral("--is-encrypted"), path}).exitCode == 0)
            GTEST_SKIP() << "the engine does not open this encrypted file: " << probe.err.toStdString();
        FAIL() << "the engine does not open a file qpdf reads: " << probe.err.toStdString();
    }
    ASSERT_EQ(probe.exitCode, 0) << "crashed or hung: " << probe.err.left(2000).toStdString();
    const std::optional<JsonValue> engineJson = parseJson(probe.out);
    ASSERT_TRUE(engineJson) << "kvprobe's JSON does not parse";

    const Listing engineObjects = listing(*engineJson);
    const Listing peerObjects = listing(*peerJson);
    std::vector<Difference> differences;
    std::set<ObjectId> ids;
    for (const auto &entry : engineObjects.entries)
        ids.insert(entry.first);
    for (const auto &entry : peerObjects.entries)
        ids.insert(entry.first);
    size_t objectsEqual = 0;
    for (const ObjectId &id : ids) {
        auto engine = engineObjects.entries.find(id);
        auto peer = peerObjects.entries.find(id);
        if (engine == engineObjects.entries.end()) {
            differences.push_back({idText(id), "object", "only qpdf has it"});
        } else if (peer == peerObjects.entries.end()) {
            // Neither reads a value when the engine cannot read it and qpdf reads null.
            if (engine->second.member("error"))
                ++objectsEqual;
            else
                differences.push_back({idText(id), "object", "only the engine has it"});
        } else if (const QList<QByteArray> found = compareEntries(engine->second, engineObjects, peer->second, peerObjects);
                   !found.isEmpty()) {
            differences.push_back({idText(id), "object", found.join("; ")});
        } else {
            ++objectsEqual;
        }
    }

    // Streams: qpdf decodes what it can at the specialized level (everything but lossy and
    // image-only filters); a stream it leaves alone keeps its Filter in the dictionary and its
    // stored bytes, which must then be the engine's stored bytes.
    const QStringList level = {QStringLiteral("--decode-level=specialized")};
    const std::optional<JsonValue> peerData =
        qpdfObjects(path, QStringList{QStringLiteral("--json-stream-data=inline")} + level + password, &error);
    ASSERT_TRUE(peerData) << error.toStdString();
    const ToolResult streams =
        runTool(QStringLiteral(FOLIVO_KVPROBE), QStringList{QStringLiteral("streams"), path} + level + password, 60000);
    ASSERT_EQ(streams.exitCode, 0) << "crashed or hung: " << streams.err.left(2000).toStdString();
    const std::optional<JsonValue> engineData = parseJson(streams.out);
    ASSERT_TRUE(engineData) << "kvprobe's stream JSON does not parse";

    size_t streamCount = 0, streamsEqual = 0, storedCompared = 0;
    for (const auto &[key, entry] : peerData->members) {
        uint64_t number = 0, generation = 0;
        const JsonValue *stream = entry.member("stream");
        if (!parseObjectKey(key, number, generation) || !stream)
            continue;
        ++streamCount;
        const QByteArray id = idText({number, generation});
        const JsonValue *engine = engineData->member(key);
        if (!engine) {
            // A stream the engine does not have at all is already an object difference.
            if (engineObjects.entries.count({number, generation}))
                differences.push_back({id, "stream", "the engine has no stream data"});
            continue;
        }
        const JsonValue *data = stream->member("data");
        const QByteArray bytes = QByteArray::fromBase64(data ? data->text : QByteArray());
        const QByteArray digest = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
        const JsonValue *dictionary = stream->member("dict");
        const bool decodedByPeer = dictionary && !dictionary->member("/Filter");
        auto field = [engine](const char *name) {
            const JsonValue *value = engine->member(name);
            return value ? value->text : QByteArray();
        };
        if (!decodedByPeer) {
            ++storedCompared;
            if (field("stored_sha256") == digest)
                ++streamsEqual;
            else
                differences.push_back(
                    {id, "stream", "stored bytes differ (qpdf has " + QByteArray::number(bytes.size()) + " bytes)"});
            continue;
        }
        // The engine may call a decoding incomplete where qpdf only warns (a Flate stream
        // without its end marker): the bytes decide.
        if (field("decoded") != "true")
            differences.push_back({id, "stream", "qpdf decodes it, the engine leaves it as stored"});
        else if (field("sha256") != digest)
            differences.push_back({id, "stream",
                                   "decoded bytes differ: engine " + field("length") + " bytes"
                                       + (field("complete") == "true" ? "" : " (decoding stopped early)") + ", qpdf "
                                       + QByteArray::number(bytes.size())});
        else
            ++streamsEqual;
    }

    std::cout << "[ compared ] " << param.label.toStdString() << ": objects " << objectsEqual << "/" << ids.size()
              << " equal, streams " << streamsEqual << "/" << streamCount << " equal (" << storedCompared
              << " compared as stored)\n";

    std::set<std::pair<QByteArray, std::string>> seen;
    for (const Difference &difference : differences) {
        seen.insert({difference.object, difference.aspect});
        if (const KnownDifference *known = knownDifference(param.label, difference.object, difference.aspect))
            std::cout << "[ known    ] " << difference.aspect << " " << known->object << ": " << known->reason << "\n";
        else
            ADD_FAILURE() << difference.aspect << " " << difference.object.toStdString() << ": " << difference.what.toStdString();
    }
    for (const KnownDifference &known : kKnownDifferences)
        if (param.label == QLatin1String(known.label) && !seen.count({known.object, known.aspect}))
            ADD_FAILURE() << "listed difference no longer occurs (remove it from kKnownDifferences): " << known.aspect << " "
                          << known.object;
}

INSTANTIATE_TEST_SUITE_P(Corpus, KVPDFParserPeerTest, ::testing::ValuesIn(corpusCases()), testName);
INSTANTIATE_TEST_SUITE_P(Rewritten, KVPDFParserPeerTest, ::testing::ValuesIn(rewrittenCases()), testName);
INSTANTIATE_TEST_SUITE_P(HandMade, KVPDFParserPeerTest, ::testing::Values(PeerCase{QStringLiteral("syntax"), {}, {}, {}}),
                         testName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(KVPDFParserPeerTest);
