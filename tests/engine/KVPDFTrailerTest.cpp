#include "KVPDFTrailer.h"

#include "KVPDFDocument.h"
#include "KVPDFLog.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectReference.h"
#include "KVPDFObjectStream.h"
#include "KVPDFParser.h"

#include <QDir>
#include <QFile>

#include "support/PdfBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

namespace {

QByteArray num(uint64_t value) { return QByteArray::number(qulonglong(value)); }
QByteArray padded(uint64_t value, int width) { return num(value).rightJustified(width, '0'); }

// One cross-reference entry as a test writes it.
struct Row {
    uint64_t number;
    char type; // 'n' in use at `field`, 'f' free, 'c' member `generation` of object stream `field`
    uint64_t field = 0;
    uint64_t generation = 0;
};

// Builds PDF bytes object by object and writes cross-reference sections with the offsets the
// objects really have.
class PdfWriter {
public:
    PdfWriter() : m_data("%PDF-1.5\n%\xE2\xE3\xCF\xD3\n") { }

    const QByteArray &data() const { return m_data; }
    uint64_t size() const { return uint64_t(m_data.size()); }
    void append(const QByteArray &bytes) { m_data += bytes; }

    // "N G obj" + body + "endobj"; answers the offset of the header.
    uint64_t object(uint64_t number, const QByteArray &body, uint64_t generation = 0)
    {
        const uint64_t offset = size();
        m_data += num(number) + ' ' + num(generation) + " obj\n" + body + "\nendobj\n";
        return offset;
    }

    // A classic table and its trailer ("<< " + entries + " >>"); answers the offset of "xref".
    uint64_t classic(std::vector<Row> rows, const QByteArray &entries, const QByteArray &rowEnd = "\r\n")
    {
        std::sort(rows.begin(), rows.end(), [](const Row &a, const Row &b) { return a.number < b.number; });
        const uint64_t offset = size();
        m_data += "xref\n";
        for (size_t i = 0; i < rows.size();) {
            size_t j = i + 1;
            while (j < rows.size() && rows[j].number == rows[j - 1].number + 1)
                ++j;
            m_data += num(rows[i].number) + ' ' + num(j - i) + '\n';
            for (; i < j; ++i)
                m_data += padded(rows[i].type == 'n' ? rows[i].field : 0, 10) + ' ' + padded(rows[i].generation, 5) + ' '
                          + (rows[i].type == 'n' ? 'n' : 'f') + rowEnd;
        }
        m_data += "trailer\n<< " + entries + " >>\n";
        finish(offset);
        return offset;
    }

    // A cross-reference stream as object `number` (no filter); answers its header offset.
    uint64_t xrefStream(uint64_t number, std::vector<Row> rows, const QByteArray &entries, std::array<int, 3> widths = {1, 2, 1},
                        bool withIndex = true)
    {
        std::sort(rows.begin(), rows.end(), [](const Row &a, const Row &b) { return a.number < b.number; });
        QByteArray table, index;
        for (size_t i = 0; i < rows.size(); ++i) {
            if (i == 0 || rows[i].number != rows[i - 1].number + 1) {
                size_t j = i + 1;
                while (j < rows.size() && rows[j].number == rows[j - 1].number + 1)
                    ++j;
                index += num(rows[i].number) + ' ' + num(j - i) + ' ';
            }
            const Row &row = rows[i];
            putBig(table, row.type == 'f' ? 0 : row.type == 'n' ? 1 : 2, widths[0]);
            putBig(table, row.field, widths[1]);
            putBig(table, row.generation, widths[2]);
        }
        const QByteArray w = "[" + num(widths[0]) + ' ' + num(widths[1]) + ' ' + num(widths[2]) + "]";
        const QByteArray body = "<< /Type /XRef /Size " + num(rows.back().number + 1) + " /W " + w
                                + (withIndex ? " /Index [" + index + "]" : QByteArray()) + " /Length " + num(table.size()) + ' '
                                + entries + " >>\nstream\n" + table + "\nendstream";
        const uint64_t offset = object(number, body);
        finish(offset);
        return offset;
    }

    void finish(uint64_t startxref) { m_data += "startxref\n" + num(startxref) + "\n%%EOF\n"; }

    // Replaces a 10-byte placeholder written earlier, for offsets known only later.
    void patch(const QByteArray &placeholder, uint64_t value)
    {
        const qsizetype at = m_data.indexOf(placeholder);
        ASSERT_GE(at, 0);
        m_data.replace(at, placeholder.size(), padded(value, int(placeholder.size())));
    }

    static void putBig(QByteArray &out, uint64_t value, int width)
    {
        for (int i = width - 1; i >= 0; --i)
            out += char((value >> (8 * i)) & 0xFF);
    }

private:
    QByteArray m_data;
};

// The document and its chain, the way the open road finds the newest section.
struct Opened {
    std::unique_ptr<KVPDFDocument> document = std::make_unique<KVPDFDocument>();
    std::unique_ptr<KVPDFTrailer> trailer;

    explicit Opened(const QByteArray &data)
    {
        document->setDocData(data);
        const qsizetype keyword = data.lastIndexOf("startxref");
        if (keyword < 0) {
            trailer = KVPDFTrailer::trailerWithOffset(0, document.get(), false);
            return;
        }
        uint64_t p = kvSkipWhite(data, uint64_t(keyword) + 9);
        uint64_t offset = 0;
        while (p < uint64_t(data.size()) && kvIsDigit(uint8_t(data[qsizetype(p)])))
            offset = offset * 10 + uint64_t(data[qsizetype(p++)] - '0');
        const uint64_t at = kvSkipWhite(data, offset);
        const bool hasXref = kvHasKeyword(data, at, "xref")
                             || (offset > 0 && at < uint64_t(data.size()) && kvIsDigit(uint8_t(data[qsizetype(at)])));
        trailer = KVPDFTrailer::trailerWithOffset(offset, document.get(), hasXref);
    }

    std::vector<KVPDFTrailer *> sections() const
    {
        std::vector<KVPDFTrailer *> out;
        for (KVPDFTrailer *t = trailer.get(); t; t = t->prev())
            out.push_back(t);
        return out;
    }
    bool setUp()
    {
        if (!trailer || !trailer->setupAllObjects())
            return false;
        trailer->handleAllDeferredResolves();
        return true;
    }
    // The object's PDF text, "missing" when the table has nothing for it.
    QByteArray value(uint64_t number)
    {
        KVPDFObjectPtr object = document->resolveObject(number, 0);
        return object ? object->directObject() : QByteArray("missing");
    }
    // The Type name of a dictionary object, empty for anything else.
    QByteArray typeOf(uint64_t number)
    {
        auto dictionary = kv_cast<KVPDFObjectDictionary>(document->resolveObject(number, 0));
        return dictionary ? dictionary->nameForKey("Type") : QByteArray();
    }
    uint64_t rootNumber() const
    {
        auto root = kv_cast<KVPDFObjectReference>(trailer->trailerDictionary()->objectForKey("Root"));
        return root ? root->objectNumber() : 0;
    }
};

// ---------------------------------------------------------------------------------------------

TEST(KVPDFTrailerTest, GetOffsetReadsRowFields)
{
    struct Case {
        const char *name;
        QByteArray row;
        int length;
        uint64_t offset;
        uint64_t generation;
        char flag;
    };
    const std::vector<Case> cases = {
        {"two-byte line end", "0000000017 00003 n\r\n0", 20, 17, 3, 'n'},
        {"space and LF line end", "0000000017 00000 n \n0", 20, 17, 0, 'n'},
        {"single-byte line end", "0000000017 00000 f\n0", 19, 17, 0, 'f'},
        {"no line end before the next row", "0000000017 00000 n0000000018", 18, 17, 0, 'n'},
        {"no line end before trailer", "0000000017 00000 ntrailer", 18, 17, 0, 'n'},
        {"row ending the data", "0000000017 00000 n", 18, 17, 0, 'n'},
        {"offset past 2 GiB read as signed 32 bits", "3000000000 00000 n\r\n", 20, 3000000000ULL, 0, 'n'},
        {"offset past 4 GiB truncated to 32 bits", "9999999999 65535 f\r\n", 20, 9999999999ULL, 65535, 'f'},
        {"negative offset", "-000000001 00000 n\r\n", 20, 0, 0, 'n'},
        {"letter inside the offset", "00000000x7 00000 n\r\n", 0, 0, 0, 0},
        {"unknown flag", "0000000017 00000 x\r\n", 0, 0, 0, 0},
        {"words instead of a row", "trailer << /Size 3 >>", 0, 0, 0, 0},
        {"row cut by the end of the data", "0000000017 00000", 0, 0, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        uint64_t offset = 0, generation = 0;
        char flag = 0;
        const int length = KVPDFTrailer::getOffset(offset, generation, flag, c.row.constData(), c.row.constData() + c.row.size());
        EXPECT_EQ(length, c.length);
        if (c.length == 0)
            continue;
        EXPECT_EQ(offset, c.offset);
        EXPECT_EQ(generation, c.generation);
        EXPECT_EQ(flag, c.flag);
    }
}

TEST(KVPDFTrailerTest, ReadBigBytesIsUnsignedBigEndian)
{
    struct Case {
        const char *name;
        std::vector<uint8_t> bytes;
        int count;
        uint64_t expected;
    };
    const std::vector<Case> cases = {
        {"zero width field", {0xFF}, 0, 0},
        {"byte order swapped", {0x01, 0x02}, 2, 0x0102},
        {"high bit sign-extended", {0xFF, 0xFF, 0xFF, 0xFF}, 4, 0xFFFFFFFFULL},
        {"reads past count", {0x00, 0x01, 0x02, 0x03}, 3, 0x0102},
        {"offset past 4 GiB truncated", {0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02}, 8, 0x100000002ULL},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(KVPDFTrailer::readBigBytes(c.count, c.bytes.data()), c.expected);
    }
}

TEST(KVPDFTrailerTest, RowsWithShortLineEndsReadTheSameObjects)
{
    struct Case {
        const char *name;
        QByteArray rowEnd;
    };
    const std::vector<Case> cases = {
        {"CR LF (20-byte rows)", "\r\n"}, {"space LF (20-byte rows)", " \n"}, {"LF only (19-byte rows)", "\n"},
        {"CR only (19-byte rows)", "\r"}, {"no line end (18-byte rows)", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PdfWriter w;
        const uint64_t one = w.object(1, "<< /Type /Catalog >>");
        const uint64_t two = w.object(2, "(two)");
        const uint64_t five = w.object(5, "55");
        const uint64_t xref =
            w.classic({{0, 'f', 0, 65535}, {1, 'n', one}, {2, 'n', two}, {5, 'n', five}}, "/Size 6 /Root 1 0 R", c.rowEnd);
        Opened opened(w.data());
        ASSERT_TRUE(opened.trailer);
        EXPECT_TRUE(opened.trailer->hasXref());
        ASSERT_TRUE(opened.setUp());
        EXPECT_EQ(opened.value(2), "(two)");
        EXPECT_EQ(opened.value(5), "55");
        EXPECT_EQ(opened.rootNumber(), 1u);
        EXPECT_EQ(opened.trailer->maxObjectNumber(), 5u);
        const std::vector<KVPDFRange> ranges = {{0, 3}, {5, 1}};
        EXPECT_EQ(opened.trailer->xrefRanges(), ranges);
        ASSERT_EQ(opened.trailer->rangeOffsets().size(), 2u);
        EXPECT_TRUE(w.data().mid(qsizetype(opened.trailer->rangeOffsets()[0]), 10) == "0000000000");
        EXPECT_GT(opened.trailer->rangeOffsets()[0], xref);
    }
}

TEST(KVPDFTrailerTest, StreamWithW121AndNoIndexCoversZeroToSizeMinusOne)
{
    PdfWriter w;
    const uint64_t one = w.object(1, "<< /Type /Catalog >>");
    const uint64_t two = w.object(2, "(two)");
    const uint64_t three = w.size();
    w.xrefStream(3, {{0, 'f', 0, 255}, {1, 'n', one}, {2, 'n', two}, {3, 'n', three}}, "/Root 1 0 R", {1, 2, 1}, false);
    Opened opened(w.data());
    ASSERT_TRUE(opened.trailer);
    EXPECT_TRUE(opened.trailer->hasXRefStm());
    ASSERT_TRUE(opened.setUp());
    EXPECT_EQ(opened.typeOf(1), "Catalog");
    EXPECT_EQ(opened.value(2), "(two)");
    EXPECT_EQ(opened.document->objectWithNumber(3)->dataRange().location, three + 8);
    EXPECT_EQ(opened.document->objectWithNumber(0), nullptr);
    EXPECT_EQ(opened.trailer->maxObjectNumber(), 4u);
    EXPECT_EQ(opened.rootNumber(), 1u);
}

TEST(KVPDFTrailerTest, StreamFailingItsChecksGivesNoSection)
{
    struct Case {
        const char *name;
        QByteArray dictionary;
        const char *message;
    };
    const std::vector<Case> cases = {
        {"Type missing", "/Size 2 /W [1 2 1]", "Expected stream of type XRef"},
        {"Size zero", "/Type /XRef /Size 0 /W [1 2 1]", "Expected size of XRefStm to be greater than zero"},
        {"W missing", "/Type /XRef /Size 2", "Expected W array in XRefStm"},
        {"W of two widths", "/Type /XRef /Size 2 /W [1 2]", "Expected W array length in XRefStm to be 3"},
        {"W wider than any offset", "/Type /XRef /Size 2 /W [1 9 1]", "Expected W array entries in XRefStm to be 0 to 8 bytes"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PdfWriter w;
        const uint64_t one = w.object(1, "<< /Type /Catalog >>");
        QByteArray table;
        PdfWriter::putBig(table, 1, 1);
        PdfWriter::putBig(table, one, 2);
        PdfWriter::putBig(table, 0, 1);
        const uint64_t xref = w.object(2, "<< " + c.dictionary + " /Length 4 >>\nstream\n" + table + "\nendstream");
        w.finish(xref);
        KVPDFLogCapture capture;
        Opened opened(w.data());
        EXPECT_EQ(opened.trailer, nullptr);
        EXPECT_TRUE(capture.contains(c.message));
    }
}

TEST(KVPDFTrailerTest, OddIndexLosesItsLastElementOnly)
{
    PdfWriter w;
    const uint64_t one = w.object(1, "(one)");
    const uint64_t two = w.object(2, "(two)");
    QByteArray table;
    for (uint64_t offset : {one, two}) {
        PdfWriter::putBig(table, 1, 1);
        PdfWriter::putBig(table, offset, 2);
        PdfWriter::putBig(table, 0, 1);
    }
    const uint64_t xref =
        w.object(3, "<< /Type /XRef /Size 3 /W [1 2 1] /Index [1 2 7] /Length 8 >>\nstream\n" + table + "\nendstream");
    w.finish(xref);
    KVPDFLogCapture capture;
    Opened opened(w.data());
    ASSERT_TRUE(opened.setUp());
    EXPECT_TRUE(capture.contains("Expected XRefStm Index array length to be even"));
    EXPECT_EQ(opened.value(1), "(one)");
    EXPECT_EQ(opened.value(2), "(two)");
}

// An update over an object stream: object 1 is rewritten in the clear, object 4 is deleted,
// object 6 lands in a new object stream that also carries a stale copy of object 2.
TEST(KVPDFTrailerTest, UpdatedObjectNeverRevertsToItsOlderCompressedVersion)
{
    PdfWriter w;
    const uint64_t five = w.object(5, PdfBuilder::objectStream({{1, "(old one)"}, {2, "(kept two)"}, {4, "(old four)"}}));
    const uint64_t three = w.size();
    w.xrefStream(3, {{1, 'c', 5, 0}, {2, 'c', 5, 1}, {4, 'c', 5, 2}, {5, 'n', five}, {3, 'n', three}}, "/Root 1 0 R");
    const uint64_t one = w.object(1, "(new one)");
    const uint64_t seven = w.object(7, PdfBuilder::objectStream({{6, "(six)"}, {2, "(stale two)"}}));
    const uint64_t eight = w.size();
    w.xrefStream(8, {{1, 'n', one}, {4, 'f', 0, 1}, {6, 'c', 7, 0}, {7, 'n', seven}, {8, 'n', eight}},
                 "/Root 1 0 R /Prev " + num(three));

    struct Case {
        const char *name;
        bool setUpNewestFirst;
        bool expandOldestFirst;
    };
    const std::vector<Case> cases = {
        {"set up newest first, expanded oldest first", true, true},
        {"older section set up before the newer", false, true},
        {"newer object stream expanded first", true, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Opened opened(w.data());
        ASSERT_TRUE(opened.trailer);
        std::vector<KVPDFTrailer *> sections = opened.sections();
        ASSERT_EQ(sections.size(), 2u);
        if (!c.setUpNewestFirst)
            std::reverse(sections.begin(), sections.end());
        for (KVPDFTrailer *section : sections)
            ASSERT_TRUE(section->setupObjects());
        sections = opened.sections();
        if (c.expandOldestFirst)
            std::reverse(sections.begin(), sections.end());
        for (KVPDFTrailer *section : sections)
            section->handleDeferredResolves();
        EXPECT_EQ(opened.value(1), "(new one)");
        EXPECT_EQ(opened.value(2), "(kept two)");
        EXPECT_EQ(opened.value(4), "null");
        EXPECT_EQ(opened.value(6), "(six)");
    }
}

// A hybrid update: its classic table lists what old readers need, its XRefStm the rest.
TEST(KVPDFTrailerTest, HybridFileReadsEntriesListedOnlyInItsXRefStm)
{
    PdfWriter w;
    const uint64_t one = w.object(1, "<< /Type /Catalog /Pages 2 0 R >>");
    const uint64_t two = w.object(2, "<< /Type /Pages /Kids [] /Count 0 >>");
    const uint64_t three = w.object(3, "(old three)");
    const uint64_t original =
        w.classic({{0, 'f', 0, 65535}, {1, 'n', one}, {2, 'n', two}, {3, 'n', three}}, "/Size 4 /Root 1 0 R");
    const uint64_t newThree = w.object(3, "(three from stream)");
    const uint64_t fourClassic = w.object(4, "(four from table)");
    const uint64_t fourStream = w.object(4, "(four from stream)");
    const uint64_t six = w.object(6, PdfBuilder::objectStream({{5, "(five compressed)"}}));
    const uint64_t seven = w.size();
    w.xrefStream(7, {{3, 'n', newThree}, {4, 'n', fourStream}, {5, 'c', 6, 0}, {6, 'n', six}, {7, 'n', seven}}, "");
    w.classic({{0, 'f', 0, 65535}, {4, 'n', fourClassic}},
              "/Size 8 /Root 1 0 R /Prev " + num(original) + " /XRefStm " + num(seven));

    KVPDFLogCapture capture;
    Opened opened(w.data());
    ASSERT_TRUE(opened.trailer);
    ASSERT_TRUE(opened.setUp());
    EXPECT_EQ(opened.value(3), "(three from stream)");
    EXPECT_EQ(opened.value(4), "(four from table)");
    EXPECT_EQ(opened.value(5), "(five compressed)");
    EXPECT_EQ(opened.typeOf(2), "Pages");
    EXPECT_TRUE(opened.trailer->hasXRefStm());
    EXPECT_EQ(opened.trailer->xrefStmOffset(), seven);
    EXPECT_EQ(opened.trailer->trailerDictionary()->objectForKey("XRefStm"), nullptr);
    EXPECT_TRUE(opened.trailer->trailerDictionary()->directObject().contains("/Prev"));
    EXPECT_FALSE(opened.trailer->trailerDictionary()->directObject().contains("XRefStm"));
    EXPECT_TRUE(capture.messages.isEmpty()) << capture.messages.join('\n').toStdString();
}

TEST(KVPDFTrailerTest, PrevLoopEndsTheChainWithALogLine)
{
    struct Case {
        const char *name;
        bool selfLoop;
    };
    const std::vector<Case> cases = {
        {"Prev names its own section", true},
        {"oldest Prev names the newest section", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PdfWriter w;
        const uint64_t one = w.object(1, "<< /Type /Catalog >>");
        const uint64_t two = w.object(2, "(old two)");
        uint64_t original = 0;
        if (!c.selfLoop)
            original = w.classic({{1, 'n', one}, {2, 'n', two}}, "/Size 3 /Root 1 0 R /Prev PPPPPPPPPP");
        const uint64_t newTwo = w.object(2, "(new two)");
        const uint64_t update = w.size();
        w.classic({{2, 'n', newTwo}}, "/Size 3 /Root 1 0 R /Prev " + (c.selfLoop ? num(update) : num(original)));
        if (!c.selfLoop)
            w.patch("PPPPPPPPPP", update);

        KVPDFLogCapture capture;
        Opened opened(w.data());
        ASSERT_TRUE(opened.trailer);
        EXPECT_LE(opened.sections().size(), 3u);
        ASSERT_TRUE(opened.setUp());
        EXPECT_TRUE(capture.contains("Cross reference chain loops back to offset " + QString::number(update)));
        EXPECT_EQ(opened.value(2), "(new two)");
        EXPECT_EQ(opened.typeOf(1), "Catalog");
    }
}

TEST(KVPDFTrailerTest, OverlongPrevChainStopsAtTheCap)
{
    PdfWriter w;
    const uint64_t one = w.object(1, "<< /Type /Catalog >>");
    uint64_t previous = w.classic({{1, 'n', one}}, "/Size 2 /Root 1 0 R");
    for (size_t i = 0; i < KVPDFTrailer::kMaxSections + 5; ++i)
        previous = w.classic({{1, 'n', one}}, "/Size 2 /Root 1 0 R /Prev " + num(previous));
    KVPDFLogCapture capture;
    Opened opened(w.data());
    ASSERT_TRUE(opened.trailer);
    EXPECT_EQ(opened.sections().size(), KVPDFTrailer::kMaxSections + 1);
    EXPECT_TRUE(capture.contains("longer than 1000 sections"));
    ASSERT_TRUE(opened.setUp());
    EXPECT_EQ(opened.typeOf(1), "Catalog");
}

TEST(KVPDFTrailerTest, DamagedTableFallsBackToWalkingObjects)
{
    struct Case {
        const char *name;
        QByteArray table; // %1 and %2: offsets of objects 1 and the first object 2
    };
    const std::vector<Case> cases = {
        {"words after the row flags", "xref\n0 3\n0000000000 65535 f don't panic\n%1 00000 n life is short\n%2 00000 n \n"},
        {"subsection header missing", "xref\n0000000000 65535 f\r\n%1 00000 n\r\n%2 00000 n\r\n"},
        {"fewer rows than the count", "xref\n0 5\n0000000000 65535 f\r\n%1 00000 n\r\n%2 00000 n\r\n"},
        {"subsection header of words", "xref\nzero three\n0000000000 65535 f\r\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PdfWriter w;
        const uint64_t one = w.object(1, "<< /Type /Catalog >>");
        const uint64_t two = w.object(2, "(first two)");
        w.object(2, "(second two)");
        const uint64_t xref = w.size();
        QByteArray table = c.table;
        table.replace("%1", padded(one, 10)).replace("%2", padded(two, 10));
        w.append(table + "trailer\n<< /Size 3 /Root 1 0 R >>\n");
        w.finish(xref);

        KVPDFLogCapture capture;
        Opened opened(w.data());
        ASSERT_TRUE(opened.trailer);
        EXPECT_TRUE(
            capture.contains("Encountered exception when processing cross reference table. Back off to walking objects."));
        EXPECT_FALSE(opened.trailer->hasXref());
        ASSERT_TRUE(opened.setUp());
        EXPECT_EQ(opened.value(2), "(second two)");
        EXPECT_EQ(opened.rootNumber(), 1u);
        EXPECT_EQ(opened.typeOf(1), "Catalog");
        EXPECT_EQ(opened.trailer->maxObjectNumber(), 2u);
    }
}

TEST(KVPDFTrailerTest, WalkTakesTheLastCatalogueWhenTheTrailerHasNoUsableRoot)
{
    struct Case {
        const char *name;
        QByteArray tail;
        uint64_t root;
    };
    const std::vector<Case> cases = {
        {"no trailer at all", "", 3},
        {"trailer without Root", "trailer\n<< /Size 4 >>\n", 3},
        {"Root naming no object", "trailer\n<< /Size 4 /Root 9 0 R >>\n", 3},
        {"Root naming a string", "trailer\n<< /Size 4 /Root 2 0 R >>\n", 3},
        {"usable Root kept", "trailer\n<< /Size 4 /Root 1 0 R >>\n", 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PdfWriter w;
        w.object(1, "<< /Type /Catalog /Marker (early) >>");
        w.object(2, "(not a catalogue)");
        w.object(3, "<< /Type /Catalog /Marker (late) >>");
        w.object(4, "(mentions /Catalog in passing)");
        w.append(c.tail);
        Opened opened(w.data());
        ASSERT_TRUE(opened.trailer);
        EXPECT_FALSE(opened.trailer->hasXref());
        ASSERT_TRUE(opened.setUp());
        EXPECT_EQ(opened.rootNumber(), c.root);
        auto root = kv_cast<KVPDFObjectDictionary>(opened.trailer->trailerDictionary()->resolvedObjectForKey("Root"));
        ASSERT_TRUE(root);
        EXPECT_EQ(root->nameForKey("Type"), "Catalog");
    }
}

TEST(KVPDFTrailerTest, WalkTakesTheTrailerOfTheLastCrossReferenceStream)
{
    struct Case {
        const char *name;
        bool classicBefore;
    };
    const std::vector<Case> cases = {
        {"no trailer keyword in the file", false},
        {"stream written after the last trailer keyword", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PdfWriter w;
        const uint64_t one = w.object(1, "<< /Type /Catalog >>");
        if (c.classicBefore)
            w.classic({{1, 'n', one}}, "/Size 2 /Root 1 0 R /ID [<aa><aa>]");
        w.object(2, PdfBuilder::objectStream({{3, "(three compressed)"}}));
        w.xrefStream(4, {{1, 'n', one}, {3, 'c', 2, 0}}, "/Root 1 0 R /ID [<01><02>]");
        QByteArray data = w.data();
        data.replace("startxref", "startxxxx");
        Opened opened(data);
        ASSERT_TRUE(opened.trailer);
        EXPECT_FALSE(opened.trailer->hasXref());
        ASSERT_TRUE(opened.setUp());
        const QByteArray trailer = opened.trailer->trailerDictionary()->directObject();
        EXPECT_TRUE(trailer.contains("<01>") && trailer.contains("<02>")) << trailer.toStdString();
        EXPECT_FALSE(trailer.contains("/W ")) << trailer.toStdString();
        EXPECT_EQ(opened.rootNumber(), 1u);
        EXPECT_EQ(opened.value(3), "(three compressed)");
    }
}

// Without cross-reference data the walk looks among the objects for a cross-reference stream,
// object streams and the catalogue, parsing each object whose text names one. With no "endobj"
// anywhere and values that never close, each such object was read on through every later one:
// these look-alikes took minutes.
TEST(KVPDFTrailerTest, WalkReadsEachCandidateOnlyUpToTheNextHeader)
{
    constexpr int count = 20000;
    struct Case {
        const char *name;
        QByteArray lookAlike; // mentions the name the walk looks for, but is not that object
    };
    const std::vector<Case> cases = {
        {"catalogue look-alikes", "<< /Type /Catalogue /Pages /Catalog"},
        {"cross-reference stream look-alikes", "<< /Type /XRefs /W [1 2 1] /Size 9"},
        {"object stream look-alikes", "<< /Type /ObjStms /N 1 /First 4"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        // The real catalogue comes first and closes; nothing has "endobj".
        QByteArray data = "%PDF-1.4\n1 0 obj\n<< /Type /Catalog /Marker (real) >>\n";
        for (int i = 2; i <= count + 1; ++i)
            data += num(uint64_t(i)) + " 0 obj\n" + c.lookAlike + "\n";
        KVPDFLogCapture capture;
        Opened opened(data);
        ASSERT_TRUE(opened.trailer);
        EXPECT_FALSE(opened.trailer->hasXref());
        ASSERT_TRUE(opened.setUp());
        EXPECT_EQ(opened.trailer->maxObjectNumber(), uint64_t(count + 1));
        EXPECT_EQ(opened.rootNumber(), 1u);
        EXPECT_EQ(opened.value(1), "<< /Type /Catalog /Marker (real)>>");
        EXPECT_EQ(opened.trailer->trailerDictionary()->objectForKey("W"), nullptr);
    }
}

TEST(KVPDFTrailerTest, FreedNumberStaysFreedWhateverTheSetupOrder)
{
    PdfWriter w;
    const uint64_t four = w.object(4, "(old four)");
    const uint64_t five = w.object(5, "(old five)");
    const uint64_t original = w.classic({{4, 'n', four}, {5, 'n', five}, {6, 'f', 0, 1}}, "/Size 7");
    const uint64_t newFive = w.object(5, "(new five)");
    const uint64_t six = w.object(6, "(six)");
    w.classic({{4, 'f', 0, 1}, {5, 'n', newFive}, {6, 'n', six}}, "/Size 7 /Prev " + num(original));

    struct Case {
        const char *name;
        bool newestFirst;
    };
    for (const Case &c : std::vector<Case>{{"newest first", true}, {"oldest first", false}}) {
        SCOPED_TRACE(c.name);
        Opened opened(w.data());
        std::vector<KVPDFTrailer *> sections = opened.sections();
        ASSERT_EQ(sections.size(), 2u);
        if (!c.newestFirst)
            std::reverse(sections.begin(), sections.end());
        for (KVPDFTrailer *section : sections)
            ASSERT_TRUE(section->setupObjects());
        EXPECT_EQ(opened.value(4), "null");
        EXPECT_EQ(opened.value(5), "(new five)");
        EXPECT_EQ(opened.value(6), "(six)");
    }
}

TEST(KVPDFTrailerTest, RowBeyondTheDataFailsTheSectionButOtherRowsEnter)
{
    PdfWriter w;
    const uint64_t one = w.object(1, "(one)");
    const uint64_t three = w.object(3, "(three)");
    w.classic({{1, 'n', one}, {2, 'n', 9999999}, {3, 'n', three}}, "/Size 4");
    KVPDFLogCapture capture;
    Opened opened(w.data());
    ASSERT_TRUE(opened.trailer);
    EXPECT_FALSE(opened.trailer->setupObjects());
    EXPECT_TRUE(capture.contains("Cross reference entry for object 2 points beyond the data (offset 9999999)"));
    EXPECT_EQ(opened.value(1), "(one)");
    EXPECT_EQ(opened.value(3), "(three)");
    EXPECT_EQ(opened.value(2), "missing");
}

TEST(KVPDFTrailerTest, RowMissingItsHeaderTakesTheDefinitionTheWalkFinds)
{
    struct Case {
        const char *name;
        int64_t shift; // added to object 2's offset in its row
        QByteArray expected;
    };
    const std::vector<Case> cases = {
        {"offset inside the previous endobj", -4, "(two)"},
        {"offset inside the header", 2, "(two)"},
        {"offset at another object's header", -21, "(two)"},
        {"offset beyond the data", 1000000, "(two)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PdfWriter w;
        const uint64_t one = w.object(1, "(one)");
        const uint64_t two = w.object(2, "(two)");
        w.classic({{1, 'n', one}, {2, 'n', uint64_t(int64_t(two) + c.shift)}}, "/Size 3");
        KVPDFLogCapture capture;
        Opened opened(w.data());
        ASSERT_TRUE(opened.setUp());
        EXPECT_EQ(opened.value(2), c.expected);
        EXPECT_EQ(opened.value(1), "(one)");
        EXPECT_TRUE(capture.contains("took the definitions found by walking objects"));
    }
}

// Cross-reference stream entries go the same way as classic rows; an entry a newer section
// overrides is never looked at, so wherever it points it breaks nothing.
TEST(KVPDFTrailerTest, EntryThatMissesItsObjectTakesTheWalksDefinitionInAnySection)
{
    PdfWriter w;
    const uint64_t one = w.object(1, "<< /Type /Catalog >>");
    w.object(2, "(two)");
    w.object(3, "(three)");
    const uint64_t stream = w.size();
    w.xrefStream(4, {{1, 'n', one}, {2, 'n', 9999999}, {3, 'n', one}, {4, 'n', stream}, {5, 'n', 9999999}}, "/Root 1 0 R",
                 {1, 4, 1});
    const uint64_t newTwo = w.object(2, "(new two)");
    const uint64_t newFive = w.object(5, "(new five)");
    w.classic({{2, 'n', newTwo}, {5, 'n', newFive}, {6, 'n', 8888888}}, "/Root 1 0 R /Size 7 /Prev " + num(stream));

    KVPDFLogCapture capture;
    Opened opened(w.data());
    ASSERT_TRUE(opened.trailer);
    ASSERT_EQ(opened.sections().size(), 2u);
    // The newest section's row for 6 leads nowhere the file defines: as before, it fails.
    EXPECT_FALSE(opened.trailer->setupObjects());
    EXPECT_TRUE(opened.trailer->prev()->setupObjects()) << "2 and 5 are the newer section's; 3 is found by the walk";
    EXPECT_EQ(opened.value(2), "(new two)");
    EXPECT_EQ(opened.value(3), "(three)");
    EXPECT_EQ(opened.value(5), "(new five)");
    EXPECT_EQ(opened.value(6), "missing");
    EXPECT_TRUE(capture.contains("1 cross reference entries of the section at offset " + QString::number(stream)));
}

TEST(KVPDFTrailerTest, RowForAnObjectDefinedNowhereIsDropped)
{
    PdfWriter w;
    const uint64_t one = w.object(1, "(one)");
    w.classic({{1, 'n', one}, {2, 'n', one}}, "/Size 3");
    KVPDFLogCapture capture;
    Opened opened(w.data());
    ASSERT_TRUE(opened.setUp());
    EXPECT_EQ(opened.value(2), "missing");
    EXPECT_TRUE(capture.contains("Object 2 listed at offset"));
}

// ---------------------------------------------------------------------------------------------
// Files from other producers. Expected entries come from an independent reader's listing.

QString corpusDir()
{
    const QByteArray fromEnvironment = qgetenv("FOLIVO_CORPUS");
    return fromEnvironment.isEmpty() ? QStringLiteral(FOLIVO_DEFAULT_CORPUS) : QString::fromLocal8Bit(fromEnvironment);
}

// Where object `number`'s value begins when its header is the first one at or after `offset`.
uint64_t valueAfter(const QByteArray &data, uint64_t offset, uint64_t number, uint64_t generation)
{
    const QByteArray header = num(number) + ' ' + num(generation) + " obj";
    const qsizetype at = data.indexOf(header, qsizetype(offset));
    return at < 0 ? 0 : kvSkipWhite(data, uint64_t(at + header.size()));
}

TEST(KVPDFTrailerTest, CorpusFilesReadTheEntriesAnotherReaderLists)
{
    struct Entry {
        uint64_t number;
        uint64_t generation;
        uint64_t offset; // 0: compressed
    };
    struct Case {
        const char *file;
        std::vector<Entry> entries;
        const char *log;
    };
    const std::vector<Case> cases = {
        {"append-xref-loop.pdf", {{1, 0, 16648}, {2, 0, 145}, {33, 0, 16817}, {38, 0, 7152}}, "loops back"},
        {"hybrid-xref.pdf", {{1, 0, 16113}, {33, 0, 6748}, {94, 0, 11281}, {95, 0, 0}, {107, 0, 0}, {108, 0, 13575}}, nullptr},
        {"bad-xref.pdf", {{1, 0, 9}, {4, 0, 307}, {6, 0, 438}}, "Back off to walking objects"},
        {"bad-xref-entry.pdf", {{1, 0, 52}, {5, 0, 580}, {7, 0, 774}}, "walking objects"},
        {"compress-objstm-xref.pdf", {{1, 0, 15}, {2, 0, 0}, {6, 0, 0}, {7, 0, 338}, {8, 0, 456}}, nullptr},
        {"incremental-1.pdf", {{3, 0, 1069}, {4, 1, 948}, {7, 0, 974}}, nullptr},
        {"incremental-2.pdf", {{3, 0, 925}, {4, 1, 804}, {7, 0, 830}}, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        QFile file(corpusDir() + QStringLiteral("/qpdf/") + QString::fromLatin1(c.file));
        if (!file.open(QIODevice::ReadOnly))
            GTEST_SKIP() << "corpus not found: " << file.fileName().toStdString();
        const QByteArray data = file.readAll();
        KVPDFLogCapture capture;
        Opened opened(data);
        ASSERT_TRUE(opened.trailer);
        ASSERT_TRUE(opened.trailer->setupAllObjects());
        for (const Entry &e : c.entries) {
            if (!e.offset)
                continue;
            SCOPED_TRACE(e.number);
            KVPDFObjectPtr entry = opened.document->objectWithNumber(e.number);
            ASSERT_TRUE(entry);
            EXPECT_EQ(entry->dataRange().location, valueAfter(data, e.offset, e.number, e.generation));
            EXPECT_EQ(entry->generation(), e.generation);
        }
        opened.trailer->handleAllDeferredResolves();
        for (const Entry &e : c.entries) {
            SCOPED_TRACE(e.number);
            KVPDFObjectPtr object = opened.document->resolveObject(e.number, e.generation);
            ASSERT_TRUE(object);
            EXPECT_EQ(object->hasFlag(KVPDFObject::FlagCompressed), e.offset == 0);
        }
        auto root = kv_cast<KVPDFObjectDictionary>(opened.trailer->trailerDictionary()->resolvedObjectForKey("Root"));
        ASSERT_TRUE(root);
        EXPECT_EQ(root->nameForKey("Type"), "Catalog");
        EXPECT_TRUE(kv_cast<KVPDFObjectDictionary>(root->resolvedObjectForKey("Pages")));
        if (c.log) {
            EXPECT_TRUE(capture.contains(QString::fromLatin1(c.log))) << capture.messages.join('\n').toStdString();
        }
    }
}

// Every file of the corpus, broken ones included: the chain is read without a crash or a hang.
TEST(KVPDFTrailerTest, EveryCorpusFileReadsWithoutCrashing)
{
    const QDir root(corpusDir());
    if (!root.exists())
        GTEST_SKIP() << "corpus not found";
    int files = 0;
    for (const QString &folder : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QDir dir(root.filePath(folder));
        for (const QString &name : dir.entryList({QStringLiteral("*.pdf")}, QDir::Files)) {
            SCOPED_TRACE(name.toStdString());
            QFile file(dir.filePath(name));
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            KVPDFLogCapture capture;
            Opened opened(file.readAll());
            ++files;
            if (!opened.trailer)
                continue;
            try {
                opened.setUp();
                opened.trailer->trailerDictionary()->resolvedObjectForKey("Root");
            } catch (const std::exception &) {
                // Parse failures are the open road's business; only crashes and hangs count here.
            }
        }
    }
    EXPECT_GT(files, 0);
}

} // namespace
