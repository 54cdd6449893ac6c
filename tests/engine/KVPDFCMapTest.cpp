// CMaps: the ToUnicode map read by tokens (whatever the line layout), the code-splitting map
// a composite font names as its Encoding (read from the predefined folder, usecmap followed),
// and the process-wide cache of predefined files.
#include "KVPDFCMap.h"
#include "KVPDFEncodingCMap.h"
#include "KVPDFLog.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectStream.h"
#include "KVPDFParser.h"
#include "KVPDFPredefinedCMaps.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

QString textFor(const KVPDFCMap &cmap, uint32_t code)
{
    QString text;
    cmap.appendText(code, text);
    return text;
}

std::string hex(const QString &text)
{
    return QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2).toHex(' ').toStdString();
}

std::shared_ptr<KVPDFObjectDictionary> dictionaryFrom(const QByteArray &text)
{
    return kv_cast<KVPDFObjectDictionary>(KVPDFParser::objectAtOffset(nullptr, 0, text, true, false, false, false));
}

// Points the predefined folder somewhere else for one test and back afterwards.
class PredefinedFolder {
public:
    explicit PredefinedFolder(const QString &path) : m_previous(kvpdf::predefinedcmaps::directory())
    {
        kvpdf::predefinedcmaps::setDirectory(path);
    }
    ~PredefinedFolder() { kvpdf::predefinedcmaps::setDirectory(m_previous); }

private:
    QString m_previous;
};

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// ---- ToUnicode maps ----------------------------------------------------------------------

struct Lookup {
    uint32_t code;
    QString text;
};

struct ToUnicodeCase {
    const char *name;
    QByteArray cmap;
    std::vector<Lookup> lookups;
};

const QString kA = QStringLiteral("A");

std::vector<ToUnicodeCase> toUnicodeCases()
{
    return {
        {"OneBfchar", "1 beginbfchar\n<0003> <0020>\nendbfchar\n", {{3, QStringLiteral(" ")}, {4, QString(QChar(4))}}},
        {"LigatureDestination", "1 beginbfchar\n<01> <00660069>\nendbfchar\n", {{1, QStringLiteral("fi")}}},
        {"RangeCountsUp",
         "1 beginbfrange\n<0010> <0012> <0041>\nendbfrange\n",
         {{0x10, kA}, {0x11, QStringLiteral("B")}, {0x12, QStringLiteral("C")}, {0x13, QString(QChar(0x13))}}},
        {"BfcharWinsOverLaterRange",
         "1 beginbfchar\n<0011> <0078>\nendbfchar\n1 beginbfrange\n<0010> <0012> <0041>\nendbfrange\n",
         {{0x11, QStringLiteral("x")}, {0x12, QStringLiteral("C")}}},
        {"BfcharWinsOverEarlierRange",
         "1 beginbfrange\n<0010> <0012> <0041>\nendbfrange\n1 beginbfchar\n<0011> <0078>\nendbfchar\n",
         {{0x11, QStringLiteral("x")}, {0x10, kA}}},
        {"LaterBfcharReplacesEarlier", "2 beginbfchar\n<01> <0041>\n<01> <0042>\nendbfchar\n", {{1, QStringLiteral("B")}}},
        {"CarriageReturnLineEnds",
         "/CIDInit /ProcSet findresource begin\r12 dict begin\rbegincmap\r2 beginbfchar\r<01> <0041>\r<02> "
         "<0042>\rendbfchar\rendcmap\r",
         {{1, kA}, {2, QStringLiteral("B")}}},
        {"BlankAfterKeyword", "1 beginbfchar \n<01> <0041>\nendbfchar\n", {{1, kA}}},
        {"TabAndBlankAfterRangeKeyword", "1 beginbfrange\t \n<01> <02> <0061>\nendbfrange\n", {{2, QStringLiteral("b")}}},
        {"SeveralEntriesOnOneLine",
         "3 beginbfchar <01> <0041> <02> <0042> <03> <0043> endbfchar 2 beginbfrange <10> <11> <0061><20><21><0078> endbfrange",
         {{1, kA}, {3, QStringLiteral("C")}, {0x11, QStringLiteral("b")}, {0x21, QStringLiteral("y")}}},
        {"EntrySplitOverLines", "1 beginbfchar\n<01>\n<00\n41>\nendbfchar\n", {{1, kA}}},
        {"RangeArrayDestination",
         "1 beginbfrange\n<05> <07> [<0041> <00660069>\n<0043>]\nendbfrange\n",
         {{5, kA}, {6, QStringLiteral("fi")}, {7, QStringLiteral("C")}, {8, QString(QChar(8))}}},
        {"ShortArrayLeavesTheRestUnmapped", "1 beginbfrange\n<05> <07> [<0041>]\nendbfrange\n", {{5, kA}, {6, QString(QChar(6))}}},
        {"SurrogatePairDestination",
         "1 beginbfchar\n<01> <D835DC00>\nendbfchar\n1 beginbfrange\n<10> <11> <D835DC00>\nendbfrange\n",
         {{1, QString::fromUcs4(U"\U0001D400")}, {0x11, QString::fromUcs4(U"\U0001D401")}}},
        {"HostileCountEndsAtEndKeyword", "4294967295 beginbfchar\n<01> <0041>\nendbfchar\n", {{1, kA}}},
        {"MissingEndKeywordStopsAtNextSection",
         "5 beginbfchar\n<01> <0041>\n1 beginbfrange\n<10> <12> <0061>\nendbfrange\n",
         {{1, kA}, {0x11, QStringLiteral("b")}}},
        {"FourByteCodes", "1 beginbfchar\n<00010203> <0041>\nendbfchar\n", {{0x00010203, kA}, {0x00010204, QString(QChar(0xFFFD))}}},
        {"CommentsAreSkipped", "1 beginbfchar % <01> <0042>\n<01> <0041>\nendbfchar\n", {{1, kA}}},
        {"BadHexKeepsTheNextEntry", "2 beginbfchar\n<0G> <0041>\n<02> <0042>\nendbfchar\n", {{2, QStringLiteral("B")}}},
        {"NameDestinationIsSkipped", "2 beginbfchar\n<01> /space\n<02> <0042>\nendbfchar\n", {{1, QString(QChar(1))}, {2, QStringLiteral("B")}}},
        {"OneByteDestination", "1 beginbfchar\n<01> <41>\nendbfchar\n", {{1, kA}}},
        {"FirstOfOverlappingRangesWins",
         "2 beginbfrange\n<10> <20> <0041>\n<15> <16> <0061>\nendbfrange\n",
         {{0x15, QStringLiteral("F")}, {0x20, QStringLiteral("Q")}}},
        {"ReversedRangeIsDropped", "1 beginbfrange\n<12> <10> <0041>\nendbfrange\n", {{0x11, QString(QChar(0x11))}}},
        {"OverlongCodeIsDropped", "1 beginbfchar\n<0102030405> <0041>\nendbfchar\n", {{0x02030405, QString(QChar(0xFFFD))}}},
        {"CutOffText", "1 beginbfrange\n<01> <02> [<0041> <00", {{1, QString(QChar(1))}}},
    };
}

class ToUnicodeTable : public testing::TestWithParam<ToUnicodeCase> { };

TEST_P(ToUnicodeTable, MapsCodes)
{
    const ToUnicodeCase &c = GetParam();
    KVPDFCMap cmap;
    cmap.processCMapString(c.cmap);
    for (const Lookup &lookup : c.lookups)
        EXPECT_EQ(hex(textFor(cmap, lookup.code)), hex(lookup.text)) << "code " << std::hex << lookup.code;
}

INSTANTIATE_TEST_SUITE_P(KVPDFCMapTest, ToUnicodeTable, testing::ValuesIn(toUnicodeCases()),
                         [](const testing::TestParamInfo<ToUnicodeCase> &info) { return std::string(info.param.name); });

TEST(KVPDFCMapTest, MapsAnswersWhetherTheMapSaysAnything)
{
    KVPDFCMap cmap;
    EXPECT_TRUE(cmap.isEmpty());
    cmap.processCMapString("1 beginbfchar <01> <0041> endbfchar 1 beginbfrange <10> <11> [<0061>] endbfrange");
    EXPECT_FALSE(cmap.isEmpty());
    EXPECT_TRUE(cmap.maps(1));
    EXPECT_TRUE(cmap.maps(0x10));
    EXPECT_FALSE(cmap.maps(0x11)); // the array ends before it
    EXPECT_FALSE(cmap.maps(2));
    EXPECT_EQ(cmap.stringDataForGlyph(1), QByteArray::fromHex("0041"));
    EXPECT_EQ(cmap.stringDataForGlyph(0x1234), QByteArray::fromHex("1234"));
}

TEST(KVPDFCMapTest, ReadsACompressedStream)
{
    const QByteArray text = "/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n"
                            "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
                            "1 begincodespacerange <00> <FF> endcodespacerange\n"
                            "1 beginbfchar <41> <0058> endbfchar\nendcmap CMapName currentdict /CMap defineresource pop end end\n";
    std::shared_ptr<KVPDFCMap> cmap = KVPDFCMap::cmapWithStream(KVPDFObjectStream::streamByDeflatingData(text));
    ASSERT_TRUE(cmap);
    EXPECT_EQ(textFor(*cmap, 0x41), QStringLiteral("X"));
}

TEST(KVPDFCMapTest, UndecodableStreamGivesAnEmptyMapAndALogLine)
{
    const QByteArray junk = "this is not deflated";
    auto dictionary = dictionaryFrom("<< /Filter /FlateDecode /Length 20 >>");
    ASSERT_TRUE(dictionary);
    auto stream = KVPDFObjectStream::streamWithDictionary(dictionary, junk, {0, uint64_t(junk.size())});
    KVPDFLogCapture log;
    std::shared_ptr<KVPDFCMap> cmap = KVPDFCMap::cmapWithStream(stream);
    ASSERT_TRUE(cmap);
    EXPECT_TRUE(cmap->isEmpty());
    EXPECT_TRUE(log.contains(QStringLiteral("does not decode")));
    EXPECT_EQ(textFor(*cmap, 0x41), kA);
}

// ---- Encoding CMaps ----------------------------------------------------------------------

struct Split {
    uint32_t code;
    int length;
    bool inCodeSpace;
    uint32_t cid;
};

std::vector<Split> split(const KVPDFEncodingCMap &cmap, const QByteArray &bytes)
{
    std::vector<Split> codes;
    qsizetype position = 0;
    while (position < bytes.size()) {
        int length = 0;
        const uint32_t code = cmap.nextCode(bytes, position, &length);
        codes.push_back({code, length, cmap.inCodeSpace(code, length), cmap.cidForCode(code)});
    }
    return codes;
}

std::string describe(const std::vector<Split> &codes)
{
    std::string out;
    for (const Split &s : codes) {
        out += QStringLiteral("%1/%2%3->%4 ")
                   .arg(s.code, 0, 16)
                   .arg(s.length)
                   .arg(s.inCodeSpace ? "" : "!")
                   .arg(s.cid)
                   .toStdString();
    }
    return out;
}

TEST(KVPDFEncodingCMapTest, ShiftJISSplitsOneAndTwoByteCodes)
{
    std::shared_ptr<KVPDFEncodingCMap> cmap = KVPDFEncodingCMap::cmapWithName("90ms-RKSJ-H");
    ASSERT_TRUE(cmap) << "poppler-data is missing";
    EXPECT_FALSE(cmap->isVertical());
    EXPECT_FALSE(cmap->isIdentity());
    EXPECT_EQ(cmap->registry(), QStringLiteral("Adobe"));
    EXPECT_EQ(cmap->ordering(), QStringLiteral("Japan1"));
    // "A", a two-byte kanji, a half-width katakana (one byte from A0..DF), a control byte
    // (notdefrange), then bytes that start no code: FD, and a lead byte 81 whose next byte
    // (20) cannot follow it.
    const QByteArray bytes = QByteArray::fromHex("41" "93fa" "b1" "05" "fd" "8120");
    EXPECT_EQ(describe(split(*cmap, bytes)), describe({{0x41, 1, true, 264},
                                                       {0x93fa, 2, true, 3284},
                                                       {0xb1, 1, true, 343},
                                                       {0x05, 1, true, 231},
                                                       {0xfd, 1, false, 0},
                                                       {0x81, 1, false, 0},
                                                       {0x20, 1, true, 231}}));
}

TEST(KVPDFEncodingCMapTest, ShiftJISTextThroughTheCollectionGivesUnicode)
{
    std::shared_ptr<KVPDFEncodingCMap> encoding = KVPDFEncodingCMap::cmapWithName("90ms-RKSJ-H");
    ASSERT_TRUE(encoding) << "poppler-data is missing";
    auto info = dictionaryFrom("<< /Registry (" + encoding->registry().toLatin1() + ") /Ordering (" + encoding->ordering().toLatin1()
                               + ") /Supplement 2 >>");
    std::shared_ptr<KVPDFCMap> unicode = KVPDFCMap::cmapWithCIDSystemInfo(info);
    ASSERT_TRUE(unicode);
    ASSERT_FALSE(unicode->isEmpty());
    const QByteArray shiftJIS = QByteArray::fromHex("93fa967b8cea836583588367");
    QString text;
    for (const Split &s : split(*encoding, shiftJIS))
        unicode->appendText(s.cid, text);
    EXPECT_EQ(text, QStringLiteral("日本語テスト"));
}

TEST(KVPDFEncodingCMapTest, UsecmapPullsInTheBaseAndTheOwnEntriesWin)
{
    std::shared_ptr<KVPDFEncodingCMap> horizontal = KVPDFEncodingCMap::cmapWithName("90ms-RKSJ-H");
    std::shared_ptr<KVPDFEncodingCMap> vertical = KVPDFEncodingCMap::cmapWithName("90ms-RKSJ-V");
    ASSERT_TRUE(horizontal && vertical) << "poppler-data is missing";
    EXPECT_TRUE(vertical->isVertical());
    // The vertical map states only what differs (81 41, the ideographic comma, turns); the
    // rest, code spaces included, comes from the horizontal map.
    EXPECT_EQ(vertical->cidForCode(0x8141), 7887u);
    EXPECT_EQ(horizontal->cidForCode(0x8141), 634u);
    EXPECT_EQ(vertical->cidForCode(0x93fa), horizontal->cidForCode(0x93fa));
    EXPECT_EQ(describe(split(*vertical, QByteArray::fromHex("418141"))), describe({{0x41, 1, true, 264}, {0x8141, 2, true, 7887}}));
}

TEST(KVPDFEncodingCMapTest, IdentityReadsTwoByteCodesAndLeavesAnOddByteOutside)
{
    for (bool verticalMap : {false, true}) {
        std::shared_ptr<KVPDFEncodingCMap> cmap = KVPDFEncodingCMap::cmapWithName(verticalMap ? "Identity-V" : "Identity-H");
        ASSERT_TRUE(cmap);
        EXPECT_TRUE(cmap->isIdentity());
        EXPECT_EQ(cmap->isVertical(), verticalMap);
        EXPECT_EQ(describe(split(*cmap, QByteArray::fromHex("0041" "ffff" "42"))),
                  describe({{0x41, 2, true, 0x41}, {0xffff, 2, true, 0xffff}, {0x42, 1, false, 0x42}}));
    }
}

struct EncodingTextCase {
    const char *name;
    QByteArray cmap;
    QByteArray bytes;
    std::vector<Split> codes;
};

std::vector<EncodingTextCase> encodingTextCases()
{
    return {
        {"LaterEntriesCutEarlierRanges",
         "1 begincodespacerange <0000> <FFFF> endcodespacerange\n"
         "1 begincidrange <0000> <00ff> 100 endcidrange\n1 begincidchar <0010> 5 endcidchar\n",
         QByteArray::fromHex("000f" "0010" "0011" "0100"),
         {{0x0f, 2, true, 115}, {0x10, 2, true, 5}, {0x11, 2, true, 117}, {0x100, 2, true, 0}}},
        {"NotdefRangeForUnmappedCodes",
         "1 begincodespacerange <00> <FF> endcodespacerange 1 beginnotdefrange <00> <1f> 1 endnotdefrange "
         "1 begincidrange <20> <7e> 32 endcidrange",
         QByteArray::fromHex("05" "41"),
         {{0x05, 1, true, 1}, {0x41, 1, true, 65}}},
        {"EntriesOnOneLineAndOverLines",
         "2 begincodespacerange <00> <7f> <8000>\n<ffff> endcodespacerange 2 begincidchar <41> 1 <8000>\n2 endcidchar",
         QByteArray::fromHex("41" "8000" "7f"),
         {{0x41, 1, true, 1}, {0x8000, 2, true, 2}, {0x7f, 1, true, 0}}},
        {"NoCodeSpaceReadsTwoBytes",
         "1 begincidrange <0000> <ffff> 0 endcidrange",
         QByteArray::fromHex("0102" "03"),
         {{0x102, 2, false, 0x102}, {0x03, 1, false, 3}}},
        {"MismatchedCodeSpaceIsDropped",
         "2 begincodespacerange <00> <ffff> <00> <7f> endcodespacerange",
         QByteArray::fromHex("80" "41"),
         {{0x80, 1, false, 0}, {0x41, 1, true, 0}}},
        {"HostileCIDsAreDropped",
         "1 begincodespacerange <00> <ff> endcodespacerange 3 begincidrange <00> <10> -5 <20> <30> 99999999999 <40> <50> 7 "
         "endcidrange",
         QByteArray::fromHex("05" "25" "45"),
         {{0x05, 1, true, 0}, {0x25, 1, true, 0}, {0x45, 1, true, 12}}},
    };
}

class EncodingTextTable : public testing::TestWithParam<EncodingTextCase> { };

TEST_P(EncodingTextTable, SplitsAndMaps)
{
    const EncodingTextCase &c = GetParam();
    std::shared_ptr<KVPDFEncodingCMap> cmap = KVPDFEncodingCMap::cmapWithText(c.cmap);
    ASSERT_TRUE(cmap);
    EXPECT_EQ(describe(split(*cmap, c.bytes)), describe(c.codes));
}

INSTANTIATE_TEST_SUITE_P(KVPDFEncodingCMapTest, EncodingTextTable, testing::ValuesIn(encodingTextCases()),
                         [](const testing::TestParamInfo<EncodingTextCase> &info) { return std::string(info.param.name); });

TEST(KVPDFEncodingCMapTest, StatesWritingModeAndSystemInfoOfItsText)
{
    std::shared_ptr<KVPDFEncodingCMap> cmap = KVPDFEncodingCMap::cmapWithText(
        "/CIDSystemInfo 3 dict dup begin /Registry (Adobe) def /Ordering (Korea1) def /Supplement 2 def end def\n"
        "/WMode 1 def 1 begincodespacerange <00> <ff> endcodespacerange");
    ASSERT_TRUE(cmap);
    EXPECT_TRUE(cmap->isVertical());
    EXPECT_EQ(cmap->registry(), QStringLiteral("Adobe"));
    EXPECT_EQ(cmap->ordering(), QStringLiteral("Korea1"));
}

TEST(KVPDFEncodingCMapTest, EmbeddedStreamUsesItsBaseAndDictionary)
{
    const QByteArray text = "1 begincidchar <0041> 9 endcidchar";
    auto dictionary = dictionaryFrom("<< /UseCMap /Identity-H /WMode 1 /CIDSystemInfo << /Registry (Adobe) /Ordering (GB1) >> >>");
    ASSERT_TRUE(dictionary);
    auto stream = KVPDFObjectStream::streamWithDictionary(dictionary, text, {0, uint64_t(text.size())});
    std::shared_ptr<KVPDFEncodingCMap> cmap = KVPDFEncodingCMap::cmapWithStream(stream);
    ASSERT_TRUE(cmap);
    EXPECT_TRUE(cmap->isVertical());
    EXPECT_EQ(cmap->ordering(), QStringLiteral("GB1"));
    EXPECT_EQ(cmap->cidForCode(0x41), 9u);
    EXPECT_EQ(cmap->cidForCode(0x42), 0x42u);
}

TEST(KVPDFEncodingCMapTest, UnknownOrUnsafeNamesGiveNothing)
{
    for (const char *name : {"No-Such-CMap-H", "../Adobe-Japan1/90ms-RKSJ-H", "Adobe-Japan1/90ms-RKSJ-H", "", ".."})
        EXPECT_FALSE(KVPDFEncodingCMap::cmapWithName(name)) << name;
}

// ---- The predefined folder ---------------------------------------------------------------

TEST(KVPDFPredefinedCMapsTest, EachFileIsReadOnce)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    ASSERT_TRUE(writeFile(folder.filePath("Test-Order/Test-Order-UCS2"), "1 beginbfchar <0001> <0041> endbfchar"));
    PredefinedFolder predefined(folder.path());
    auto info = dictionaryFrom("<< /Registry (Test) /Ordering (Order) /Supplement 0 >>");
    const int before = kvpdf::predefinedcmaps::filesRead();
    std::shared_ptr<KVPDFCMap> first = KVPDFCMap::cmapWithCIDSystemInfo(info);
    EXPECT_EQ(kvpdf::predefinedcmaps::filesRead(), before + 1);
    std::shared_ptr<KVPDFCMap> second = KVPDFCMap::cmapWithCIDSystemInfo(info);
    EXPECT_EQ(kvpdf::predefinedcmaps::filesRead(), before + 1);
    EXPECT_EQ(textFor(*first, 1), kA);
    EXPECT_EQ(textFor(*second, 1), kA);
    EXPECT_NE(first, second);
    // A missing file is remembered as missing.
    auto missing = dictionaryFrom("<< /Registry (Test) /Ordering (Missing) /Supplement 0 >>");
    EXPECT_TRUE(KVPDFCMap::cmapWithCIDSystemInfo(missing)->isEmpty());
    EXPECT_FALSE(kvpdf::predefinedcmaps::text("Test-Missing", "Test-Missing-UCS2"));
    EXPECT_EQ(kvpdf::predefinedcmaps::filesRead(), before + 1);
}

TEST(KVPDFPredefinedCMapsTest, NamesFromFilesStayInsideTheFolder)
{
    QTemporaryDir outside;
    ASSERT_TRUE(outside.isValid());
    ASSERT_TRUE(writeFile(outside.filePath("secret-UCS2"), "1 beginbfchar <0001> <0041> endbfchar"));
    ASSERT_TRUE(writeFile(outside.filePath("cmaps/A-B/A-B-UCS2"), "1 beginbfchar <0001> <0042> endbfchar"));
    PredefinedFolder predefined(outside.filePath("cmaps"));
    for (const QByteArray &info : {QByteArray("<< /Registry (../..) /Ordering (x) >>"),
                                   QByteArray("<< /Registry (A/..) /Ordering (B) >>")}) {
        std::shared_ptr<KVPDFCMap> cmap = KVPDFCMap::cmapWithCIDSystemInfo(dictionaryFrom(info));
        ASSERT_TRUE(cmap);
        EXPECT_TRUE(cmap->isEmpty()) << info.constData();
    }
    EXPECT_FALSE(KVPDFCMap::cmapWithCIDSystemInfo(dictionaryFrom("<< /Registry (A) /Ordering (B) >>"))->isEmpty());
}

TEST(KVPDFPredefinedCMapsTest, UsecmapLoopsEnd)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    ASSERT_TRUE(writeFile(folder.filePath("X-Y/Loop-A"), "/Loop-B usecmap 1 begincodespacerange <00> <ff> endcodespacerange "
                                                         "1 begincidchar <41> 1 endcidchar"));
    ASSERT_TRUE(writeFile(folder.filePath("X-Y/Loop-B"), "/Loop-A usecmap 1 begincidchar <42> 2 endcidchar"));
    PredefinedFolder predefined(folder.path());
    KVPDFLogCapture log;
    std::shared_ptr<KVPDFEncodingCMap> cmap = KVPDFEncodingCMap::cmapWithName("Loop-A");
    ASSERT_TRUE(cmap);
    EXPECT_EQ(cmap->cidForCode(0x41), 1u);
    EXPECT_EQ(cmap->cidForCode(0x42), 2u);
    EXPECT_TRUE(log.contains(QStringLiteral("levels")));
}

TEST(KVPDFPredefinedCMapsTest, SetDirectoryTakesEffectAtOnce)
{
    PredefinedFolder predefined(QStringLiteral("/nonexistent-folder"));
    EXPECT_EQ(kvpdf::predefinedcmaps::directory(), QStringLiteral("/nonexistent-folder"));
    EXPECT_FALSE(kvpdf::predefinedcmaps::textNamed(QStringLiteral("90ms-RKSJ-H")));
}

} // namespace
