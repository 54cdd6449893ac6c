// Object-stream members read one at a time: they enter the table unread, parse on first use to
// what reading the whole stream gives, a save reads them without keeping them, and the decoded
// streams kept for them stay within the budget, decoded again only as often as the bound lets.
#include "KVPDFObjectStreamCache.h"

#include "KVPDFDocument.h"
#include "KVPDFLog.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectReference.h"
#include "KVPDFObjectStream.h"
#include "KVPDFTrailer.h"
#include "support/PdfBuilder.h"
#include "support/KVPDFSaveChecks.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <vector>

using namespace savechecks;

namespace {

QByteArray num(uint64_t value) { return QByteArray::number(qulonglong(value)); }

// A document whose bytes hold object streams 1, 2 and 3 (members 10.., 20.., 30..), entered as
// placeholders, the way the table holds them before any is read.
struct ThreeStreams {
    KVPDFDocument document;
    std::map<uint64_t, QByteArray> expected; // member number -> its written form

    ThreeStreams()
    {
        QByteArray bytes;
        std::vector<uint64_t> offsets;
        for (uint64_t stream = 1; stream <= 3; ++stream) {
            std::vector<std::pair<uint64_t, QByteArray>> members;
            for (uint64_t i = 0; i < 4; ++i) {
                const uint64_t number = stream * 10 + i;
                const QByteArray text = "(member " + num(number) + ")";
                members.push_back({number, text});
                expected[number] = text;
            }
            const QByteArray header = num(stream) + " 0 obj\n";
            bytes += header;
            offsets.push_back(uint64_t(bytes.size()));
            bytes += PdfBuilder::objectStream(members) + "\nendobj\n";
        }
        document.setDocData(bytes);
        for (uint64_t stream = 1; stream <= 3; ++stream)
            document.setObject(KVPDFObject::placeholder(&document, stream, 0, offsets[stream - 1]), stream, 0);
    }

    // What one entry costs: the decoded data and its header, the same for all three.
    uint64_t entryCost()
    {
        KVPDFObjectStreamCache probe(uint64_t(1) << 30);
        probe.member(document, 1, 0, 10);
        return probe.keptBytes();
    }
};

TEST(KVPDFObjectStreamCacheTest, MembersParseAsTheWholeStreamGivesThem)
{
    ThreeStreams file;
    KVPDFObjectStreamCache cache;
    std::optional<std::vector<uint64_t>> numbers = cache.memberNumbers(file.document, 2);
    ASSERT_TRUE(numbers);
    EXPECT_EQ(*numbers, (std::vector<uint64_t>{20, 21, 22, 23}));
    for (const auto &[number, text] : file.expected) {
        KVPDFObjectPtr member = cache.member(file.document, number / 10, number % 10, number);
        ASSERT_TRUE(member) << number;
        EXPECT_EQ(member->directObject(), text);
        EXPECT_TRUE(member->hasFlag(KVPDFObject::FlagCompressed));
    }
    // An index that does not match the header finds the member by number; a number the stream
    // does not hold, or a stream that is none, answers nothing.
    KVPDFLogCapture log;
    KVPDFObjectPtr moved = cache.member(file.document, 1, 3, 11);
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->directObject(), "(member 11)");
    EXPECT_FALSE(cache.member(file.document, 1, 0, 25));
    EXPECT_FALSE(cache.member(file.document, 12, 0, 30));
    EXPECT_FALSE(cache.memberNumbers(file.document, 99));
}

// Reading the streams in turn, 1 2 3 1 2 3 ..., with room for some of them.
TEST(KVPDFObjectStreamCacheTest, BudgetKeepsTheStreamsUsedLast)
{
    struct Case {
        const char *name;
        uint64_t entries;                // whole entries the budget holds
        unsigned decodesEach;            // decodes of each stream after two rounds
        std::vector<uint64_t> keptAfter; // streams held at the end
    };
    const Case cases[] = {
        {"room for all", 3, 1, {1, 2, 3}},
        {"room for two: the least recently used goes", 2, 2, {2, 3}},
        {"no room: the stream just read stays alone", 0, 2, {3}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ThreeStreams file;
        const uint64_t cost = file.entryCost();
        KVPDFObjectStreamCache cache(c.entries * cost);
        for (int round = 0; round < 2; ++round)
            for (uint64_t stream = 1; stream <= 3; ++stream)
                for (uint64_t i = 0; i < 4; ++i) {
                    const uint64_t number = stream * 10 + i;
                    KVPDFObjectPtr member = cache.member(file.document, stream, i, number);
                    ASSERT_TRUE(member) << number;
                    EXPECT_EQ(member->directObject(), file.expected[number]);
                }
        for (uint64_t stream = 1; stream <= 3; ++stream) {
            EXPECT_EQ(cache.decodeCount(stream), c.decodesEach) << stream;
            const bool kept = std::find(c.keptAfter.begin(), c.keptAfter.end(), stream) != c.keptAfter.end();
            EXPECT_EQ(cache.holds(stream), kept) << stream;
        }
        EXPECT_EQ(cache.keptBytes(), c.keptAfter.size() * cost);
    }
}

// Members read alternately from two streams when only one fits: each switch decodes again,
// until the bound keeps the streams for the rest of the operation.
TEST(KVPDFObjectStreamCacheTest, DecodesOfOneStreamAreBoundedWithinAnOperation)
{
    ThreeStreams file;
    KVPDFObjectStreamCache cache(file.entryCost());
    KVPDFLogCapture log;
    for (int round = 0; round < 50; ++round)
        for (uint64_t stream : {1, 2}) {
            const uint64_t number = stream * 10 + uint64_t(round % 4);
            KVPDFObjectPtr member = cache.member(file.document, stream, number % 10, number);
            ASSERT_TRUE(member) << round;
            EXPECT_EQ(member->directObject(), file.expected[number]);
        }
    EXPECT_EQ(cache.decodeCount(1), KVPDFObjectStreamCache::kMaxDecodes);
    EXPECT_EQ(cache.decodeCount(2), KVPDFObjectStreamCache::kMaxDecodes);
    EXPECT_TRUE(cache.holds(1));
    EXPECT_TRUE(cache.holds(2));
    EXPECT_GT(cache.keptBytes(), cache.budget()) << "past the bound the budget yields";

    // The next operation starts counting again and falls back under the budget.
    cache.beginOperation();
    EXPECT_EQ(cache.decodeCount(1), 0u);
    EXPECT_LE(cache.keptBytes(), cache.budget());
    EXPECT_TRUE(cache.holds(2)) << "the stream used last stays";
    ASSERT_TRUE(cache.member(file.document, 1, 0, 10));
    EXPECT_EQ(cache.decodeCount(1), 1u);
    EXPECT_FALSE(cache.holds(2));
}

// A member that does not parse was never an object: read for good it leaves the table, read
// once it stays for whoever asks next. Its neighbours are unaffected.
TEST(KVPDFObjectStreamCacheTest, MemberThatDoesNotParseLeavesTheTable)
{
    const QByteArray bytes = "1 0 obj\n" + PdfBuilder::objectStream({{7, QByteArray(100000, '[')}, {8, "(eight)"}}) + "\nendobj\n";
    KVPDFLogCapture log;
    KVPDFDocument document;
    document.setDocData(bytes);
    document.setObject(KVPDFObject::placeholder(&document, 1, 0, uint64_t(bytes.indexOf("<<"))), 1, 0);
    document.setObject(KVPDFObject::memberPlaceholder(&document, 7, 1, 0), 7, 0);
    document.setObject(KVPDFObject::memberPlaceholder(&document, 8, 1, 1), 8, 0);
    EXPECT_TRUE(document.isUnread(7));
    EXPECT_FALSE(document.readObjectOnce(7, 0));
    EXPECT_TRUE(document.isUnread(7));
    EXPECT_FALSE(document.resolveObject(7, 0));
    EXPECT_FALSE(document.objectWithNumber(7));
    KVPDFObjectPtr eight = document.resolveObject(8, 0);
    ASSERT_TRUE(eight);
    EXPECT_EQ(eight->directObject(), "(eight)");
    EXPECT_EQ(document.objectWithNumber(8), eight);
}

// A file written with object streams: its members are unread after the open, a save reads them
// without entering them, and the first use parses each to what the saved file holds.
TEST(KVPDFObjectStreamCacheTest, MembersStayUnreadThroughASave)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    PdfBuilder b = PdfBuilder::withPages(3);
    for (int i = 0; i < 40; ++i)
        b.add(10 + i, "<< /Kind /Extra /Index " + QByteArray::number(i) + " /Items [1 2 (three)] >>");
    b.trailerExtra = "/Info 6 0 R";
    QByteArray extras;
    for (int i = 0; i < 40; ++i)
        extras += QByteArray::number(10 + i) + " 0 R ";
    b.add(6, "<< /Title (Packed) /Extras [" + extras + "] >>");
    const QString plain = folder.filePath(QStringLiteral("plain.pdf"));
    const QString packed = folder.filePath(QStringLiteral("packed.pdf"));
    ASSERT_TRUE(writeFile(plain, b.build()));
    ASSERT_EQ(runTool(QStringLiteral("qpdf"), {QStringLiteral("--object-streams=generate"), plain, packed}).exitCode, 0);
    const QByteArray data = readFile(packed);
    ASSERT_TRUE(data.contains("/ObjStm"));

    KVPDFOpenResult result = KVPDFOpenBroken;
    auto document = KVPDFDocument::documentWithData(data, &result);
    ASSERT_TRUE(document);
    ASSERT_EQ(result, KVPDFOpenOK);
    // The writer reads the Info dictionary for good; what it reaches is read for the save alone.
    auto infoReference = kv_cast<KVPDFObjectReference>(document->trailer()->trailerDictionary()->objectForKey("Info"));
    ASSERT_TRUE(infoReference);
    std::vector<uint64_t> unread;
    for (const auto &[number, entry] : document->objects())
        if (document->isUnread(number) && entry->hasFlag(KVPDFObject::FlagCompressed) && number != infoReference->objectNumber())
            unread.push_back(number);
    ASSERT_GE(unread.size(), 40u) << "the extras are members nobody has read";

    const QByteArray saved = document->currentDataWithImprints(true);
    ASSERT_FALSE(saved.isEmpty());
    for (uint64_t number : unread)
        EXPECT_TRUE(document->isUnread(number)) << number << " was entered by the save";
    const QString output = folder.filePath(QStringLiteral("saved.pdf"));
    ASSERT_TRUE(writeFile(output, saved));
    const ToolResult check = qpdfCheck(output);
    EXPECT_EQ(check.exitCode, 0) << check.out.toStdString();
    EXPECT_EQ(pdfinfoField(output, QStringLiteral("Title")), QStringLiteral("Packed"));

    // Each member read once without keeping it, then for good, gives the same object.
    for (uint64_t number : unread) {
        KVPDFObjectPtr once = document->readObjectOnce(number, 0);
        ASSERT_TRUE(once) << number;
        EXPECT_TRUE(document->isUnread(number));
        KVPDFObjectPtr kept = document->resolveObject(number, 0);
        ASSERT_TRUE(kept) << number;
        EXPECT_FALSE(document->isUnread(number));
        EXPECT_EQ(document->objectWithNumber(number), kept);
        EXPECT_EQ(once->directObject(), kept->directObject()) << number;
        EXPECT_NE(once, kept);
    }
    auto info = kv_cast<KVPDFObjectDictionary>(document->trailer()->trailerDictionary()->resolvedObjectForKey("Info"));
    ASSERT_TRUE(info);
    auto list = kv_cast<KVPDFObjectArray>(info->resolvedObjectForKey("Extras"));
    ASSERT_TRUE(list);
    ASSERT_EQ(list->count(), 40u);
    auto fifth = kv_cast<KVPDFObjectDictionary>(list->resolvedObjectAtIndex(4));
    ASSERT_TRUE(fifth);
    EXPECT_EQ(fifth->integerForKey("Index", -1), 4);
}

// The hostile file: 8000 members, each a dictionary that never closes, in one stream. Each reads
// within its own eight bytes, and the open and the save go through with the file's outcome.
TEST(KVPDFObjectStreamCacheTest, StreamOfUnclosedDictionariesOpensAndSaves)
{
    QFile file(QStringLiteral(FOLIVO_TEST_DATA "/fuzz-regressions/object-stream-of-unclosed-dictionaries.pdf"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray data = file.readAll();
    KVPDFLogCapture log;
    KVPDFOpenResult result = KVPDFOpenBroken;
    auto document = KVPDFDocument::documentWithData(data, &result);
    ASSERT_TRUE(document);
    EXPECT_EQ(result, KVPDFOpenOK);
    EXPECT_EQ(document->pageCount(), 0u);
    EXPECT_TRUE(document->isUnread(10));
    EXPECT_FALSE(document->currentDataWithImprints(true).isEmpty());
    for (uint64_t number = 10; number < 8010; ++number) {
        auto member = kv_cast<KVPDFObjectDictionary>(document->resolveObject(number, 0));
        ASSERT_TRUE(member) << number;
        EXPECT_EQ(member->integerForKey("A", 0), 1) << number;
    }
    EXPECT_EQ(document->objectWithNumber(10)->directObject(), "<< /A 1>>") << "read within its own eight bytes";
}

} // namespace
