// Hostile input for the object parser: data cut at every look-ahead, tokens without digits,
// nesting without end, lengths and references that loop or point past the data. Every case must
// run clean under ASan and UBSan, finish quickly, and end either in the named failure or with
// the data kept as described.
#include "KVPDFDocument.h"
#include "KVPDFExceptions.h"
#include "KVPDFFilters.h"
#include "KVPDFLog.h"
#include "KVPDFObject.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectReference.h"
#include "KVPDFObjectStream.h"
#include "KVPDFObjectString.h"
#include "KVPDFPage.h"
#include "KVPDFParser.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

namespace {

// Far above what any case needs even under the sanitizers; a case that gets near it has gone
// quadratic or worse.
constexpr qint64 kSlowMs = 5000;

enum class Expect {
    Parsed,       // an object, described by its written form
    Nothing,      // nullptr, no exception
    ParseFailure, // FolivoParseFailure, raised by the parse or by the first use of the object
};

const char *expectName(Expect e)
{
    switch (e) {
    case Expect::Parsed: return "an object";
    case Expect::Nothing: return "no object";
    case Expect::ParseFailure: return "FolivoParseFailure";
    }
    return "?";
}

// Asks every lazy part below `root` for its contents: array elements, dictionary values, string
// text, stream data. References are not followed (cases with a table follow them explicitly).
void forceAll(const KVPDFObjectPtr &root)
{
    std::vector<KVPDFObjectPtr> pending{root};
    while (!pending.empty()) {
        KVPDFObjectPtr object = std::move(pending.back());
        pending.pop_back();
        if (!object)
            continue;
        if (auto array = kv_cast<KVPDFObjectArray>(object)) {
            for (const auto &element : array->value())
                pending.push_back(element);
        } else if (auto dictionary = kv_cast<KVPDFObjectDictionary>(object)) {
            for (const auto &entry : dictionary->value())
                pending.push_back(entry.second);
        } else if (auto stream = kv_cast<KVPDFObjectStream>(object)) {
            pending.push_back(stream->dictionary());
            stream->decodedData();
        } else if (auto string = kv_cast<KVPDFObjectString>(object)) {
            string->stringValue();
        }
    }
}

struct Outcome {
    Expect kind = Expect::Nothing;
    KVPDFObjectPtr object;
    std::string reason;
    uint64_t end = 0;
};

// Parses at `offset` and forces the result; FolivoParseFailure is the only exception caught, so
// anything else fails the test.
Outcome parseAndForce(KVPDFDocument *document, const QByteArray &data, uint64_t offset, bool directOnly, bool contained = false)
{
    Outcome outcome;
    try {
        outcome.object = KVPDFParser::objectAtOffset(document, offset, data, directOnly, contained, false, false, &outcome.end);
        forceAll(outcome.object);
        outcome.kind = outcome.object ? Expect::Parsed : Expect::Nothing;
    } catch (const FolivoParseFailure &failure) {
        outcome.kind = Expect::ParseFailure;
        outcome.reason = failure.reason();
    }
    return outcome;
}

QByteArray repeated(const char *text, int count) { return QByteArray(text).repeated(count); }

QByteArray deflated(const QByteArray &data)
{
    uLongf size = compressBound(uLong(data.size()));
    QByteArray out(qsizetype(size), Qt::Uninitialized);
    EXPECT_EQ(compress2(reinterpret_cast<Bytef *>(out.data()), &size, reinterpret_cast<const Bytef *>(data.constData()),
                        uLong(data.size()), 9),
              Z_OK);
    out.resize(qsizetype(size));
    return out;
}

// Text that compresses into several deflate blocks, so that a cut stream still decodes a part.
QByteArray sampleText(int lines)
{
    QByteArray text;
    for (int i = 0; i < lines; ++i)
        text += "BT /F1 12 Tf " + QByteArray::number(i * 7919 % 1000) + " 700 Td (line " + QByteArray::number(i) + ") Tj ET\n";
    return text;
}

// ---------------------------------------------------------------------------------------------
// One object at an offset of the file bytes (or, in direct-only mode, of a content buffer).

struct ParseCase {
    const char *name;
    QByteArray input;
    Expect expect;
    QByteArray written; // directObject() of the forced object when one is expected
    bool directOnly = false;
};

void runParseCases(const std::vector<ParseCase> &cases)
{
    for (const ParseCase &c : cases) {
        SCOPED_TRACE(c.name);
        KVPDFLogCapture log;
        KVPDFDocument document;
        // A leading space keeps the object off offset 0, which reads as a missing object.
        const QByteArray bytes = " " + c.input;
        QByteArray data = bytes;
        if (!c.directOnly) {
            document.setDocData(bytes);
            data = document.docData();
        }
        QElapsedTimer timer;
        timer.start();
        const Outcome outcome = parseAndForce(&document, data, 0, c.directOnly);
        EXPECT_LT(timer.elapsed(), kSlowMs);
        EXPECT_STREQ(expectName(outcome.kind), expectName(c.expect)) << outcome.reason;
        if (c.expect == Expect::Parsed && outcome.object) {
            EXPECT_EQ(outcome.object->directObject(), c.written);
        }
        if (outcome.kind != Expect::ParseFailure) {
            EXPECT_GT(outcome.end, 0u) << "the position must move past what was read";
        }
    }
}

TEST(KVPDFHostileInputTest, LookAheadsStopAtTheEndOfTheData)
{
    runParseCases({
        {"true cut to tru", "tru", Expect::Nothing, {}},
        {"false cut to fals", "fals", Expect::Nothing, {}},
        {"null cut to nul", "nul", Expect::Nothing, {}},
        {"null cut to n", "n", Expect::Nothing, {}},
        {"dictionary opened at the last two bytes", "<<", Expect::Parsed, "<< >>"},
        {"dictionary key without value at the end", "<< /Type", Expect::Parsed, "<< >>"},
        {"dictionary value cut at the end", "<< /Type /Pag", Expect::Parsed, "<< /Type /Pag>>"},
        {"dictionary cut after the first closing bracket", "<< /A 1 >", Expect::Parsed, "<< /A 1>>"},
        {"reference look-ahead cut after the generation", "12 0", Expect::Parsed, "12"},
        {"reference look-ahead cut after the number and a space", "12 ", Expect::Parsed, "12"},
        {"reference look-ahead cut after the generation and a space", "12 0 ", Expect::Parsed, "12"},
        {"reference without its R", "1 0 X", Expect::Parsed, "1"},
        {"reference with R glued to the generation", "12 0R", Expect::Parsed, "12 0 R"},
        {"name that is only the slash", "/", Expect::Parsed, "/"},
        {"name escape cut after the hash", "/A#", Expect::Parsed, "/A#23"},
        {"name escape cut after one hex digit", "/A#4", Expect::Parsed, "/A#234"},
        {"literal string cut after a backslash keeps what was read", "(abc\\", Expect::Parsed, "(abc)"},
        {"literal string without closing bracket keeps what was read", "(abc", Expect::Parsed, "(abc)"},
        {"literal string cut inside a nested bracket", "(a(b)c", Expect::Parsed, "(a\\(b\\)c)"},
        {"literal string cut inside an octal escape", "(x\\10", Expect::Parsed, "(x\\b)"},
        {"literal string cut after a CR", "(x\r", Expect::Parsed, "(x\\n)"},
        {"hex string cut after one digit", "<4", Expect::ParseFailure, {}},
        {"hex string opened at the last byte", "<", Expect::ParseFailure, {}},
        {"hex string with a byte that is not a digit", "<41x>", Expect::ParseFailure, {}},
        {"array opened at the last byte", "[", Expect::Parsed, "[ ]"},
        {"stream keyword as the last bytes", "<< /Length 3 >>\nstream", Expect::Parsed, "<< /Length 3>>"},
        {"array cut after an element", "[1 2", Expect::Parsed, "[ 1 2 ]"},
        {"array cut inside a reference look-ahead", "[1 0", Expect::Parsed, "[ 1 0 ]"},
        {"comment running to the end of the data", "% nothing follows", Expect::ParseFailure, {}},
        {"only white space after the offset", "  \r\n\t", Expect::ParseFailure, {}},
    });
}

TEST(KVPDFHostileInputTest, TokensWithoutDigitsStillMoveThePositionOn)
{
    runParseCases({
        {"lone signs and a lone dot", "[+ - +- .]", Expect::Parsed, "[ 0 0 0 0 ]"},
        {"signs glued to a closing bracket", "[+]", Expect::Parsed, "[ 0 ]"},
        {"run of signs", "[" + repeated("-", 5000) + "]", Expect::Parsed, "[ 0 ]"},
        {"dot followed by a sign", "[.- 7]", Expect::Parsed, "[ 0 0 7 ]"},
        {"misspelt keywords are left out of a content array", "[tru 1 nul 2 fals]", Expect::Parsed, "[ 1 2 ]", true},
        {"misspelt keyword as the only element of a content array", "[ nul ]", Expect::Parsed, "[ ]", true},
        {"misspelt keyword in a file array", "[ nul ]", Expect::ParseFailure, {}},
        {"misspelt keyword as a dictionary value", "<< /A nul /B 2 >>", Expect::Parsed, "<< /B 2>>"},
        {"stray bytes in a content array are left out", "[) 1 } 2]", Expect::Parsed, "[ 1 2 ]", true},
        {"stray byte in a file array", "[1 ) 2]", Expect::ParseFailure, {}},
        {"integer beyond 64 bits saturates", "99999999999999999999999", Expect::Parsed, "9223372036854775807"},
        {"negative integer beyond 64 bits saturates", "-99999999999999999999999", Expect::Parsed, "-9223372036854775808"},
        {"reference numbers beyond 64 bits", "[99999999999999999999999 99999999999999999999999 R]", Expect::Parsed,
         "[ 18446744073709551615 18446744073709551615 R ]"},
    });
}

// Numbers written without white space between them ("1-1-1", "-.5-.5") form one long run of
// numeric bytes; each number of the run must cost its own length, not the rest of the run.
TEST(KVPDFHostileInputTest, NumbersGluedIntoOneLongRunParseInLinearTime)
{
    constexpr int count = 100000;
    runParseCases({
        {"integers glued by their signs", "[1" + repeated("-1", count) + "]", Expect::Parsed,
         "[ 1 " + repeated("-1 ", count) + "]"},
        {"reals glued by their signs", "[" + repeated("-.5", count) + "]", Expect::Parsed,
         "[ " + repeated("-0.500000 ", count) + "]"},
        {"signs before a final dot", "[" + repeated("-", count) + ".]", Expect::Parsed, "[ 0 ]"},
        {"integers glued in a content stream", "[1" + repeated("-1", count) + "]", Expect::Parsed,
         "[ 1 " + repeated("-1 ", count) + "]", true},
    });
}

TEST(KVPDFHostileInputTest, NamesAndStringsOfAnyLength)
{
    const QByteArray longName(10 * 1024, 'N');
    const QByteArray longString(64 * 1024, 's');
    runParseCases({
        {"name of 10 KB", "/" + longName, Expect::Parsed, "/" + longName},
        {"name of 10 KB as a dictionary key", "<< /" + longName + " 1 >>", Expect::Parsed, "<< /" + longName + " 1>>"},
        {"literal string of 64 KB without its closing bracket", "(" + longString, Expect::Parsed, "(" + longString + ")"},
        {"literal string of 20000 unclosed brackets", repeated("(", 20000), Expect::Parsed, "(" + repeated("\\(", 19999) + ")"},
    });
}

TEST(KVPDFHostileInputTest, NestingDeeperThanTheParserAllowsIsAParseFailure)
{
    runParseCases({
        {"arrays nested 100000 deep", repeated("[", 100000), Expect::ParseFailure, {}},
        {"closed arrays nested 100000 deep", repeated("[", 100000) + repeated("]", 100000), Expect::ParseFailure, {}},
        {"dictionaries nested 100000 deep", repeated("<< /A ", 100000), Expect::ParseFailure, {}},
        {"arrays and dictionaries alternating", repeated("[<< /A ", 50000), Expect::ParseFailure, {}},
        {"content arrays nested 100000 deep", repeated("[", 100000), Expect::ParseFailure, {}, true},
        {"content dictionaries nested 100000 deep", repeated("<< /A ", 100000), Expect::ParseFailure, {}, true},
    });
}

// ---------------------------------------------------------------------------------------------
// Streams: Length and data that do not agree, filters that fail half-way.

struct StreamCase {
    const char *name;
    QByteArray text; // dictionary, "stream" and what follows
    QByteArray decoded;
    bool complete = true;
};

TEST(KVPDFHostileInputTest, StreamDataStaysInsideTheFileAndKeepsWhatDecoded)
{
    const QByteArray text = sampleText(400);
    QByteArray cutFlate = deflated(text);
    cutFlate.chop(cutFlate.size() / 3);
    const QByteArray zs(3000, 'z');
    const QByteArray pngRow = deflated(QByteArray("\x00\x41", 2));

    const std::vector<StreamCase> cases = {
        {"Length beyond the end of the data with endstream", "<< /Length 100000 >>\nstream\nabc\nendstream\nendobj\n", "abc"},
        {"Length beyond the end of the data without endstream", "<< /Length 100000 >>\nstream\nabc", "abc"},
        {"Length beyond 64 bits", "<< /Length 99999999999999999999999 >>\nstream\nabc\nendstream", "abc"},
        {"negative Length", "<< /Length -5 >>\nstream\nabc\nendstream", "abc"},
        {"Length that refers to a missing object", "<< /Length 9 0 R >>\nstream\nabc\nendstream", "abc"},
        {"Length that is not a number", "<< /Length (x) >>\nstream\nabc\nendstream", "abc"},
        {"stream keyword and CR as the last bytes", "<< /Length 3 >>\nstream\r", ""},
        {"Flate data cut short keeps the decoded part",
         "<< /Filter /FlateDecode /Length " + QByteArray::number(cutFlate.size()) + " >>\nstream\n" + cutFlate + "\nendstream",
         {},
         false},
        {"ASCII85 of only z bytes gives four zero bytes each", "<< /Filter /ASCII85Decode >>\nstream\n" + zs + "~>\nendstream",
         QByteArray(4 * zs.size(), '\0')},
        {"ASCII85 cut before its end marker", "<< /Filter /A85 >>\nstream\n87cURD]i,\"Ebo80~\nendstream", "Hello World!", false},
        {"predictor with Columns beyond 32 bits",
         "<< /Filter /FlateDecode /DecodeParms << /Predictor 12 /Columns 99999999999 >> >>\nstream\n" + pngRow + "\nendstream",
         "\x41"},
        {"predictor with Colors and Columns negative",
         "<< /Filter /FlateDecode /DecodeParms << /Predictor 15 /Colors -3 /Columns -1 >> >>\nstream\n" + pngRow + "\nendstream",
         QByteArray("\x00\x41", 2), false},
    };
    for (const StreamCase &c : cases) {
        SCOPED_TRACE(c.name);
        KVPDFLogCapture log;
        KVPDFDocument document;
        document.setDocData("1 0 obj\n" + c.text);
        QElapsedTimer timer;
        timer.start();
        const Outcome outcome = parseAndForce(&document, document.docData(), 8, false);
        EXPECT_LT(timer.elapsed(), kSlowMs);
        ASSERT_STREQ(expectName(outcome.kind), "an object") << outcome.reason;
        auto stream = kv_cast<KVPDFObjectStream>(outcome.object);
        ASSERT_TRUE(stream);
        const KVPDFRange range = stream->range();
        EXPECT_LE(range.location + range.length, uint64_t(document.docData().size()));
        const QByteArray decoded = stream->decodedData();
        if (c.complete) {
            EXPECT_EQ(decoded, c.decoded);
        } else if (!c.decoded.isEmpty()) {
            EXPECT_EQ(decoded, c.decoded);
        } else {
            EXPECT_FALSE(decoded.isEmpty()) << "what decoded before the fault is kept";
            EXPECT_TRUE(text.startsWith(decoded));
        }
        EXPECT_EQ(stream->decodeComplete(), c.complete);
    }
}

TEST(KVPDFHostileInputTest, LengthThatRefersToItsOwnObjectEndsTheLoop)
{
    const QByteArray header = "5 0 obj\n";
    const QByteArray bytes = header + "<< /Length 5 0 R >>\nstream\nabc\nendstream\nendobj\n";
    for (bool lazyReference : {true, false}) {
        SCOPED_TRACE(lazyReference ? "table entry is a reference with a position" : "table entry is a placeholder");
        KVPDFLogCapture log;
        KVPDFDocument document;
        document.setDocData(bytes);
        const uint64_t valueOffset = uint64_t(header.size());
        document.setObject(lazyReference
                               ? KVPDFObjectPtr(KVPDFObjectReference::referenceWithObjectNumber(5, 0, &document, valueOffset))
                               : KVPDFObject::placeholder(&document, 5, 0, valueOffset),
                           5, 0);
        KVPDFObjectPtr object;
        ASSERT_NO_THROW(object = document.resolveObject(5, 0));
        auto stream = kv_cast<KVPDFObjectStream>(object);
        ASSERT_TRUE(stream);
        EXPECT_EQ(stream->decodedData(), "abc");
        EXPECT_EQ(document.objectWithNumber(5), object);
        EXPECT_FALSE(log.messages.isEmpty()) << "the loop is reported";
    }
}

// Objects left open (no ">>", "]" or "endobj") end where the next object's header begins:
// each keeps only what it holds, and reading them all stays linear in the file.
TEST(KVPDFHostileInputTest, UnclosedObjectsEndAtTheNextObjectHeader)
{
    struct Case {
        const char *name;
        QByteArray body; // the text of each object after its header
        size_t count;    // keys or elements each must read
    };
    const Case cases[] = {
        {"dictionaries", "<< /Type /Page /Rotate 90\n", 2},
        {"dictionaries whose last key lacks its value", "<< /Type /Page /Parent\n", 1},
        {"arrays", "[ 1 2 /Three\n", 3},
        {"arrays ended by endobj", "[ 1 2 /Three\nendobj\n", 3},
        {"arrays of references", "[ 4 0 R 5 0 R\n", 2},
    };
    constexpr int objects = 20000;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray bytes;
        std::vector<uint64_t> offsets;
        for (int i = 1; i <= objects; ++i) {
            bytes += QByteArray::number(i) + " 0 obj\n";
            offsets.push_back(uint64_t(bytes.size()));
            bytes += c.body;
        }
        KVPDFLogCapture log;
        KVPDFDocument document;
        document.setDocData(bytes);
        for (int i = 1; i <= objects; ++i)
            document.setObject(KVPDFObject::placeholder(&document, uint64_t(i), 0, offsets[size_t(i - 1)]), uint64_t(i), 0);
        for (int i : {1, objects / 2, objects}) {
            KVPDFObjectPtr object;
            ASSERT_NO_THROW(object = document.resolveObject(uint64_t(i), 0)) << i;
            ASSERT_TRUE(object) << i;
            size_t count = 0;
            if (auto dictionary = kv_cast<KVPDFObjectDictionary>(object))
                count = dictionary->count();
            else if (auto array = kv_cast<KVPDFObjectArray>(object))
                count = array->count();
            EXPECT_EQ(count, c.count) << "object " << i;
        }
        for (int i = 1; i <= objects; ++i)
            ASSERT_TRUE(document.resolveObject(uint64_t(i), 0)) << i;
    }
}

TEST(KVPDFHostileInputTest, LengthsThatReferToEachOtherEndTheLoop)
{
    const QByteArray bytes = "5 0 obj\n<< /Length 6 0 R >>\nstream\nabc\nendstream\nendobj\n"
                             "6 0 obj\n<< /Length 5 0 R >>\nstream\nxy\nendstream\nendobj\n";
    KVPDFLogCapture log;
    KVPDFDocument document;
    document.setDocData(bytes);
    document.setObject(KVPDFObject::placeholder(&document, 5, 0, uint64_t(bytes.indexOf("<<"))), 5, 0);
    document.setObject(KVPDFObject::placeholder(&document, 6, 0, uint64_t(bytes.indexOf("<<", 10))), 6, 0);
    auto five = kv_cast<KVPDFObjectStream>(document.resolveObject(5, 0));
    auto six = kv_cast<KVPDFObjectStream>(document.resolveObject(6, 0));
    ASSERT_TRUE(five);
    ASSERT_TRUE(six);
    EXPECT_EQ(five->decodedData(), "abc");
    EXPECT_EQ(six->decodedData(), "xy");
}

// The stream whose dictionary starts at `offset` of the document's bytes.
std::shared_ptr<KVPDFObjectStream> streamAt(KVPDFDocument &document, uint64_t offset)
{
    return kv_cast<KVPDFObjectStream>(
        KVPDFParser::objectAtOffset(&document, offset, document.docData(), false, false, false, false));
}

// A Length that misses "endstream" makes the reader search for the keyword. In a file with many
// such streams and no "endstream" after them (or one far behind), each search used to read the
// rest of the file: these 20 MB took minutes.
TEST(KVPDFHostileInputTest, LengthRecoveryOverManyStreamsReadsTheFileOnce)
{
    constexpr int count = 20000;
    const QByteArray streamData = "q Q\n" + QByteArray(1000, '%');
    const struct {
        const char *name;
        QByteArray tail;
    } cases[] = {
        {"no endstream anywhere", ""},
        {"one endstream at the end of the file", "\nendstream\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray data = "%PDF-1.4\n";
        data.reserve(count * (streamData.size() + 40));
        std::vector<uint64_t> offsets;
        offsets.reserve(count);
        for (int i = 1; i <= count; ++i) {
            data += QByteArray::number(i) + " 0 obj\n";
            offsets.push_back(uint64_t(data.size()));
            data += "<< /Length 99999999 >>\nstream\n" + streamData;
        }
        data += c.tail;
        const uint64_t end = c.tail.isEmpty() ? uint64_t(data.size()) : uint64_t(data.lastIndexOf("\nendstream"));
        // Last to first as well: a search that starts before the spans already read must not
        // read them again.
        for (bool backwards : {false, true}) {
            KVPDFLogCapture log;
            KVPDFDocument document;
            document.setDocData(data);
            for (int i = 0; i < count; ++i) {
                const uint64_t offset = offsets[size_t(backwards ? count - 1 - i : i)];
                auto stream = streamAt(document, offset);
                ASSERT_TRUE(stream);
                const uint64_t dataStart = offset + sizeof("<< /Length 99999999 >>\nstream\n") - 1;
                ASSERT_EQ(stream->range().location, dataStart);
                ASSERT_EQ(stream->range().location + stream->range().length, end);
            }
        }
    }
}

// The search that remembers its spans answers every query as a plain search does, whatever the
// order of the queries, wherever occurrences (and cut ones) fall against the spans searched,
// and when the buffer changes under it.
TEST(KVPDFHostileInputTest, KeywordFinderAnswersAsAPlainSearch)
{
    quint64 state = 88172645463325252ull;
    auto random = [&state](quint64 below) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return below ? state % below : 0;
    };
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        QByteArray data(qsizetype(random(300)), 'e');
        for (quint64 i = random(6); i-- > 0 && data.size() >= 9;) {
            const QByteArray piece = QByteArray("endstream").left(qsizetype(random(3) ? 9 : 1 + random(8)));
            data.replace(qsizetype(random(quint64(data.size() - piece.size() + 1))), piece.size(), piece);
        }
        QByteArray other = data;
        other.replace(0, std::min<qsizetype>(other.size(), 9), "endstream");
        KVPDFKeywordFinder finder("endstream");
        for (int query = 0; query < 80; ++query) {
            const QByteArray &buffer = query % 11 == 10 ? other : data;
            const uint64_t from = random(quint64(buffer.size()) + 2);
            const qsizetype expected = from < uint64_t(buffer.size()) ? buffer.indexOf("endstream", qsizetype(from)) : -1;
            ASSERT_EQ(finder.find(buffer, from), expected < 0 ? KVPDFKeywordFinder::kNotFound : uint64_t(expected))
                << "from " << from << " in " << buffer.toStdString();
        }
    }
}

// Lengths recovered through the shared search are those a search of its own finds, in whatever
// order the streams are read, and new file bytes are searched afresh.
TEST(KVPDFHostileInputTest, LengthRecoveryFindsTheSameEndInAnyOrder)
{
    const QByteArray damaged = "%PDF-1.4\n"
                               "1 0 obj\n<< /Length 3 >>\nstream\nabc\nendstream\nendobj\n"
                               "2 0 obj\n<< /Length 50 >>\nstream\ntwo\r\nendstream\nendobj\n"
                               "3 0 obj\n<< /Length 1 >>\nstream\nthree, cut\n"
                               "4 0 obj\n<< >>\nstream\nfour\rendstream\n"
                               "5 0 obj\n<< /Length 2 >>\nstream\nendstream\n"
                               "6 0 obj\n<< /Length 999 >>\nstream\nsix runs to the end\n"
                               "7 0 obj\n<< /Length 4 >>\nstream\nlast\n";
    std::vector<uint64_t> offsets;
    for (qsizetype at = damaged.indexOf(" obj\n"); at >= 0; at = damaged.indexOf(" obj\n", at + 1))
        offsets.push_back(uint64_t(at + 5));
    KVPDFLogCapture log;
    // Each stream read in a document of its own: nothing shared between the searches.
    std::vector<KVPDFRange> alone;
    for (uint64_t offset : offsets) {
        KVPDFDocument document;
        document.setDocData(damaged);
        auto stream = streamAt(document, offset);
        ASSERT_TRUE(stream);
        alone.push_back(stream->range());
    }
    EXPECT_EQ(QByteArray(damaged.constData() + alone[3].location, qsizetype(alone[3].length)), "four");
    EXPECT_EQ(QByteArray(damaged.constData() + alone[2].location, qsizetype(alone[2].length)),
              "three, cut\n4 0 obj\n<< >>\nstream\nfour");

    const std::vector<std::vector<size_t>> orders = {
        {0, 1, 2, 3, 4, 5, 6}, {6, 5, 4, 3, 2, 1, 0}, {3, 5, 2, 6, 0, 4, 1}, {2, 2, 6, 3, 6, 1, 2}};
    for (const auto &order : orders) {
        KVPDFDocument document;
        document.setDocData(damaged);
        for (size_t index : order) {
            SCOPED_TRACE(testing::Message() << "object " << index + 1);
            auto stream = streamAt(document, offsets[index]);
            ASSERT_TRUE(stream);
            EXPECT_EQ(stream->range().location, alone[index].location);
            EXPECT_EQ(stream->range().length, alone[index].length);
        }
    }

    // Bytes of the same size with the keyword elsewhere: what was found in the old bytes is no
    // answer for the new ones.
    KVPDFDocument document;
    document.setDocData(damaged);
    ASSERT_TRUE(streamAt(document, offsets[2]));
    QByteArray changed = damaged;
    changed.replace(changed.indexOf("four\rendstream"), 14, "four\rENDSTREAM");
    document.setDocData(changed);
    auto stream = streamAt(document, offsets[2]);
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->range().location + stream->range().length, uint64_t(changed.indexOf("\nendstream", offsets[4])));
}

// A page's Contents may list one stream any number of times. Each part is capped by its filters;
// the joined stream gets the same cap and stops before the part that would pass it, keeping the
// parts before. A few megabytes of run-length data decode to the largest part a filter gives.
TEST(KVPDFHostileInputTest, JoinedPageContentStopsAtTheCapOfOneDecodedStream)
{
    // Runs of 128 spaces, one run more than the cap holds: the part is cut at the cap.
    const QByteArray runs = QByteArray("\x81 ", 2).repeated(int(KVPDFMaxDecodedSize / 128 + 1));
    QByteArray data = "%PDF-1.4\n";
    const qsizetype five = data.size() + 8;
    data += "5 0 obj\n<< /Length 3 >>\nstream\nq Q\nendstream\nendobj\n";
    const qsizetype six = data.size() + 8;
    data += "6 0 obj\n<< /Filter /RunLengthDecode /Length " + QByteArray::number(runs.size()) + " >>\nstream\n" + runs
            + "\nendstream\nendobj\n";
    const qsizetype three = data.size() + 8;
    data += "3 0 obj\n<< /Type /Page /Contents [5 0 R 6 0 R 6 0 R 6 0 R 5 0 R] >>\nendobj\n";

    KVPDFLogCapture log;
    KVPDFDocument document;
    document.setDocData(data);
    for (auto [number, offset] : {std::pair{3, three}, std::pair{5, five}, std::pair{6, six}})
        document.setObject(KVPDFObject::placeholder(&document, uint64_t(number), 0, uint64_t(offset)), uint64_t(number), 0);
    auto dictionary = kv_cast<KVPDFObjectDictionary>(document.resolveObject(3, 0));
    ASSERT_TRUE(dictionary);
    auto page = KVPDFPage::pageWithDocument(&document, 0, dictionary);
    const auto streams = page->contentStreams();
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0], page->potentialNewStream());
    const QByteArray joined = streams[0]->decodedData();
    ASSERT_LE(joined.size(), KVPDFMaxDecodedSize);
    EXPECT_EQ(joined, "q Q\n");
    EXPECT_TRUE(log.contains("joined content would exceed"));
}

// A dictionary followed by "stream" in data that is not the file (a content stream, an object
// stream) has no stream data in the file: the position the parser reports must still move on.
TEST(KVPDFHostileInputTest, StreamKeywordOutsideTheFileBytesDoesNotMoveThePositionBack)
{
    KVPDFLogCapture log;
    KVPDFDocument document;
    document.setDocData("%PDF-1.4\n");
    const QByteArray content = QByteArray(40, ' ') + "<< /Length 3 >> stream\nabc\nendstream\n";
    for (bool directOnly : {true, false}) {
        SCOPED_TRACE(directOnly ? "direct-only" : "not direct-only");
        const uint64_t offset = 40;
        const Outcome outcome = parseAndForce(&document, content, offset, directOnly);
        ASSERT_STREQ(expectName(outcome.kind), "an object") << outcome.reason;
        EXPECT_GT(outcome.end, offset);
        EXPECT_LE(outcome.end, uint64_t(content.size()));
    }
}

// ---------------------------------------------------------------------------------------------
// Object streams whose header does not match their data.

struct ObjectStreamCase {
    const char *name;
    QByteArray dictionaryEntries; // N, First and anything else besides Type and Length
    QByteArray data;
    std::vector<std::pair<uint64_t, QByteArray>> members; // number -> written form, all that must enter the table
};

TEST(KVPDFHostileInputTest, ObjectStreamHeaderThatRunsPastTheData)
{
    const std::vector<ObjectStreamCase> cases = {
        {"N larger than the pairs", "/N 1000 /First 5", "7 0  42", {{7, "42"}}},
        {"offset beyond the data", "/N 2 /First 10", "7 9999 8 0 (eight)", {{8, "(eight)"}}},
        {"First beyond the data", "/N 1 /First 99999", "7 0 1", {}},
        {"negative First", "/N 1 /First -4", "7 0 1", {}},
        {"negative N", "/N -1 /First 4", "7 0 1", {}},
        {"header cut after an object number", "/N 2 /First 0", "7", {}},
        {"member at the very end of the data", "/N 1 /First 4", "7 0 ", {}},
        {"member cut inside a dictionary", "/N 1 /First 4", "7 0 << /A [1 2", {{7, "<< /A [ 1 2 ]>>"}}},
        {"member that looks like a stream stays a dictionary",
         "/N 1 /First 4",
         "7 0 << >> stream\nxyz\nendstream",
         {{7, "<< >>"}}},
        {"object number beyond 64 bits", "/N 2 /First 13", "1.0e30 0 8 3 (a) (b)", {{8, "(b)"}}},
        {"object number that is not finite", "/N 2 /First 13", "9.0e99 0 8 3 (a) (b)", {{8, "(b)"}}},
        {"member that is a reference", "/N 1 /First 4", "7 0 9 0 R", {{7, "null"}}},
        {"member that refers to itself", "/N 1 /First 4", "7 0 7 0 R", {{7, "null"}}},
        {"members nested deeper than the parser allows", "/N 1 /First 4", "7 0 " + repeated("[", 100000), {}},
    };
    for (const ObjectStreamCase &c : cases) {
        SCOPED_TRACE(c.name);
        KVPDFLogCapture log;
        KVPDFDocument document;
        const QByteArray bytes = "1 0 obj\n<< /Type /ObjStm " + c.dictionaryEntries + " /Length "
                                 + QByteArray::number(c.data.size()) + " >>\nstream\n" + c.data + "\nendstream\nendobj\n";
        document.setDocData(bytes);
        document.setObject(KVPDFObject::placeholder(&document, 1, 0, 8), 1, 0);
        auto stream = kv_cast<KVPDFObjectStream>(document.resolveObject(1, 0));
        ASSERT_TRUE(stream);
        QElapsedTimer timer;
        timer.start();
        EXPECT_NO_THROW(stream->handleCompressedObjects());
        EXPECT_LT(timer.elapsed(), kSlowMs);
        EXPECT_EQ(document.objects().size(), c.members.size() + 1);
        for (const auto &[number, written] : c.members) {
            KVPDFObjectPtr member = document.objectWithNumber(number);
            ASSERT_TRUE(member) << number;
            forceAll(member);
            EXPECT_EQ(member->directObject(), written);
            EXPECT_TRUE(member->hasFlag(KVPDFObject::FlagCompressed));
        }
        EXPECT_LE(document.objectCount(), 100u) << "no member enters under a number it does not have";
    }
}

TEST(KVPDFHostileInputTest, EmptyObjectStreamIsAParseFailure)
{
    KVPDFLogCapture log;
    KVPDFDocument document;
    document.setDocData("1 0 obj\n<< /Type /ObjStm /N 3 /First 0 /Length 0 >>\nstream\n\nendstream\nendobj\n");
    document.setObject(KVPDFObject::placeholder(&document, 1, 0, 8), 1, 0);
    auto stream = kv_cast<KVPDFObjectStream>(document.resolveObject(1, 0));
    ASSERT_TRUE(stream);
    EXPECT_THROW(stream->handleCompressedObjects(), FolivoParseFailure);
}

// ---------------------------------------------------------------------------------------------
// References that loop.

// Indirect objects 1 to 4 at the offsets of their values, as a cross-reference table gives them.
void enterObjects(KVPDFDocument &document)
{
    const QByteArray &bytes = document.docData();
    for (uint64_t number = 1; number <= 4; ++number) {
        const QByteArray header = QByteArray::number(qulonglong(number)) + " 0 obj";
        const qsizetype at = bytes.indexOf(header);
        if (at >= 0)
            document.setObject(KVPDFObject::placeholder(&document, number, 0, uint64_t(at + header.size())), number, 0);
    }
}

TEST(KVPDFHostileInputTest, ReferenceCycleResolvesToNothing)
{
    const struct {
        const char *name;
        QByteArray bytes;
    } cases[] = {
        {"two objects whose values refer to each other",
         "1 0 obj\n2 0 R\nendobj\n2 0 obj\n1 0 R\nendobj\n3 0 obj\n<< /A 1 0 R /B 2 0 R >>\nendobj\n"},
        {"object whose value refers to itself", "1 0 obj\n1 0 R\nendobj\n3 0 obj\n<< /A 1 0 R /B 1 0 R >>\nendobj\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        KVPDFLogCapture log;
        KVPDFDocument document;
        document.setDocData(c.bytes);
        enterObjects(document);
        auto dictionary = kv_cast<KVPDFObjectDictionary>(document.resolveObject(3, 0));
        ASSERT_TRUE(dictionary);
        for (const char *key : {"A", "B"}) {
            SCOPED_TRACE(key);
            KVPDFObjectPtr value;
            ASSERT_NO_THROW(value = dictionary->resolvedObjectForKey(key));
            // Resolving again and again must end: a loop reads as nothing (or null), never as a
            // reference that answers itself.
            for (int step = 0; value && value->objectType() == KVPDFObject::TypeReference && step < 10; ++step) {
                KVPDFObjectPtr next = value->resolvedObject();
                ASSERT_NE(next, value) << "a reference resolves to itself";
                value = next;
            }
            EXPECT_TRUE(!value || value->objectType() == KVPDFObject::TypeNull)
                << "resolved to " << value->objectTypeName().toStdString();
        }
        EXPECT_FALSE(log.messages.isEmpty()) << "the loop is reported";
    }
}

TEST(KVPDFHostileInputTest, DictionariesThatReferToEachOtherResolveAndAreFreed)
{
    KVPDFLogCapture log;
    KVPDFDocument document;
    document.setDocData("1 0 obj\n<< /Next 2 0 R /Parent 2 0 R >>\nendobj\n2 0 obj\n<< /Next 1 0 R /Parent 1 0 R >>\nendobj\n");
    enterObjects(document);
    KVPDFObjectPtr object = document.resolveObject(1, 0);
    for (int step = 0; step < 6; ++step) {
        auto dictionary = kv_cast<KVPDFObjectDictionary>(object);
        ASSERT_TRUE(dictionary) << step;
        EXPECT_EQ(dictionary->objectNumber(), uint64_t(step % 2 + 1));
        object = dictionary->resolvedObjectForKey("Next");
    }
    // The Parent chain loops: an inherited key that nobody has must still end the search.
    auto first = kv_cast<KVPDFObjectDictionary>(document.resolveObject(1, 0));
    EXPECT_EQ(first->objectFromAncestorsForKey("Resources"), nullptr);
    KVPDFVisitedSet visited;
    EXPECT_EQ(first->subobjects(visited).size(), 2u);
    // The leak checker of the sanitizer build tells whether the cycle is freed with the document.
}

// ---------------------------------------------------------------------------------------------
// Inputs the fuzzer found; each file once crashed or leaked. The fuzz_regression test replays
// them through the fuzz entry point; here each must also parse at every offset, in the file and
// as content, with no exception other than FolivoParseFailure.

TEST(KVPDFHostileInputTest, SavedFuzzInputsParseAtEveryOffset)
{
    QDir dir(QStringLiteral(FOLIVO_TEST_DATA "/fuzz-regressions"));
    const QStringList files = dir.entryList(QDir::Files, QDir::Name);
    for (const QString &name : files) {
        SCOPED_TRACE(name.toStdString());
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        if (bytes.size() > 4096)
            continue;
        KVPDFLogCapture log;
        KVPDFDocument document;
        document.setDocData(bytes);
        QElapsedTimer timer;
        timer.start();
        for (qsizetype offset = 0; offset <= bytes.size(); ++offset) {
            parseAndForce(&document, document.docData(), uint64_t(offset), false);
            parseAndForce(&document, QByteArray(bytes.constData(), bytes.size()), uint64_t(offset), true);
        }
        EXPECT_LT(timer.elapsed(), 4 * kSlowMs);
    }
}

} // namespace
