// The object model: identity, serialisation and graph operations of the value classes.
#include "KVPDFDocument.h"
#include "KVPDFExceptions.h"
#include "KVPDFLog.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDate.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectDirectInteger.h"
#include "KVPDFObjectInteger.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectReal.h"
#include "KVPDFObjectReference.h"
#include "KVPDFObjectStream.h"
#include "KVPDFObjectString.h"
#include "KVPDFParser.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <thread>

namespace {
// Parses one object from `text` held as a document's file bytes.
struct Parsed {
    KVPDFDocument document;
    KVPDFObjectPtr object;
    uint64_t end = 0;
    Parsed(const QByteArray &text, bool directOnly = false, bool contained = true)
    {
        // A leading space keeps the object off offset 0, which the file reader treats as missing.
        document.setDocData(" " + text);
        object = KVPDFParser::objectAtOffset(&document, 0, document.docData(), directOnly, contained, false, false, &end);
    }
};

// Parser output for numbers and words must not depend on the C locale the program runs in.
class KVPDFSerialTest : public ::testing::Test {
protected:
    void SetUp() override { std::setlocale(LC_ALL, ""); }
    void TearDown() override { std::setlocale(LC_ALL, "C"); }
};
}

TEST_F(KVPDFSerialTest, ValuesWriteBackInCanonicalForm)
{
    struct Case {
        const char *name;
        QByteArray text;
        QByteArray written;
    };
    const Case cases[] = {
        {"whole real loses its point", "2.0", "2"},
        {"fraction keeps six decimals", "0.5", "0.500000"},
        {"leading point with sign", "-.5", "-0.500000"},
        {"trailing point", "5.", "5"},
        {"exponent through the fallback", "1.5e3", "1500"},
        {"single precision above 2^24", "16777217.0", "16777216"},
        {"integer", "-42", "-42"},
        {"integer with plus sign", "+17", "17"},
        {"name escape decodes and re-escapes", "/A#20B", "/A#20B"},
        {"name delimiters escaped", "/a#28b#29", "/a#28b#29"},
        {"name hash escaped", "/x#23y", "/x#23y"},
        {"balanced brackets kept and escaped", "(a(b)c)", "(a\\(b\\)c)"},
        {"doubled backslash then n", "(\\\\n)", "(\\\\n)"},
        {"octal escape", "(\\053)", "(+)"},
        {"line continuation dropped", "(ab\\\ncd)", "(abcd)"},
        {"carriage return normalised to line feed", "(a\rb)", "(a\\nb)"},
        {"hex odd digit padded with zero", "<4>", "<40>"},
        {"hex white space between pairs", "<41 42\n43>", "<414243>"},
        {"literal starting with zero byte becomes hex", "(\\000a)", "<0061>"},
        {"array", "[1 2.5 /N]", "[ 1 2.500000 /N ]"},
        {"dictionary with one entry", "<< /A 1 >>", "<< /A 1>>"},
        {"empty dictionary", "<<>>", "<< >>"},
        {"nested", "<</K [<</X true>> null]>>", "<< /K [ << /X true>> null ]>>"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Parsed parsed(c.text);
        ASSERT_TRUE(parsed.object);
        EXPECT_EQ(parsed.object->directObject(), c.written);
    }
}

TEST_F(KVPDFSerialTest, RealsWithoutPdfSyntaxWriteAsZero)
{
    EXPECT_EQ(KVPDFObjectReal::realWithFloat(std::nanf(""))->directObject(), "0");
    EXPECT_EQ(KVPDFObjectReal::realWithFloat(INFINITY)->directObject(), "0");
    EXPECT_EQ(KVPDFObjectReal::realWithFloat(-0.25f)->directObject(), "-0.250000");
}

TEST_F(KVPDFSerialTest, UnicodeTextIsWrittenBigEndianWithMark)
{
    auto built = KVPDFObjectString::stringWithString(QStringLiteral("Grüße ✓"));
    const QByteArray written = built->directObject();
    ASSERT_TRUE(written.startsWith("(\xFE\xFF"));
    Parsed reread(written);
    EXPECT_EQ(kv_cast<KVPDFObjectString>(reread.object)->stringValue(), QStringLiteral("Grüße ✓"));

    // Little-endian text from another producer is read; its bytes are written back as they were
    // read, since a binary string (an ID) can start with FF FE by chance.
    Parsed little(QByteArray("(\xFF\xFE"
                             "A\x00"
                             "\x13\x27)",
                             8));
    auto string = kv_cast<KVPDFObjectString>(little.object);
    EXPECT_EQ(string->stringValue(), QString::fromUtf16(u"A\u2713"));
    EXPECT_EQ(string->directObject(), QByteArray("(\xFF\xFE"
                                                 "A\x00"
                                                 "\x13\x27)",
                                                 8));

    // Latin text stays one byte per character.
    EXPECT_EQ(KVPDFObjectString::stringWithString(QStringLiteral("café"))->directObject(), "(caf\xE9)");
}

TEST(KVPDFParserTest, NumbersReferencesAndComments)
{
    Parsed commented("% one\r\n% two\n  42");
    ASSERT_TRUE(commented.object);
    EXPECT_EQ(commented.object->objectType(), KVPDFObject::TypeInteger);
    EXPECT_EQ(commented.object->longLongValue(), 42);

    for (const char *text : {"12 0 R", "12 0R", "12 0 Rx"}) {
        SCOPED_TRACE(text);
        Parsed reference(text, false, false);
        ASSERT_TRUE(reference.object);
        EXPECT_EQ(reference.object->objectType(), KVPDFObject::TypeReference);
        EXPECT_EQ(reference.object->objectNumber(), 12u);
    }
    Parsed content("12 0 R", true);
    EXPECT_EQ(content.object->objectType(), KVPDFObject::TypeInteger);
    Parsed three("1 2 3", false, false);
    EXPECT_EQ(three.object->longLongValue(), 1);
    EXPECT_EQ(three.end, 2u);

    // Integers are advanced past by the bytes the conversion used, shared or not.
    Parsed plus("+5 ]"), zeros("007 ]");
    EXPECT_EQ(plus.end, 3u);
    EXPECT_EQ(zeros.end, 4u);
}

TEST(KVPDFParserTest, MisspeltKeywordsAnswerNothingAndUnknownBytesRaise)
{
    EXPECT_FALSE(Parsed("fals").object);
    EXPECT_FALSE(Parsed("nul").object);
    EXPECT_FALSE(Parsed("}", true).object);
    EXPECT_THROW(Parsed("}"), FolivoParseFailure);
    EXPECT_THROW(Parsed("\x80"), FolivoParseFailure);
}

TEST(KVPDFParserTest, ZeroOffsetIsAMissingObject)
{
    KVPDFDocument document;
    document.setDocData("42");
    KVPDFLogCapture log;
    KVPDFObjectPtr object = KVPDFParser::objectAtOffset(&document, 0, document.docData(), false, false, false, false);
    EXPECT_EQ(object->objectType(), KVPDFObject::TypeNull);
    EXPECT_TRUE(log.contains("Missing object (0 offset)"));
}

TEST(KVPDFObjectModelTest, EqualityFollowsIdentityOrObjectNumber)
{
    KVPDFDocument document;
    auto a = KVPDFObjectInteger::integerWithLongLong(5);
    auto b = KVPDFObjectInteger::integerWithLongLong(5);
    EXPECT_FALSE(a->isEqual(*b));
    EXPECT_TRUE(a->isEqual(*a));
    a->setContext(&document);
    b->setContext(&document);
    a->setObjectNumber(7);
    b->setObjectNumber(7);
    EXPECT_TRUE(a->isEqual(*b));
    b->setGeneration(1);
    EXPECT_FALSE(a->isEqual(*b));

    EXPECT_TRUE(KVPDFObjectName::nameWithBytes("X")->isEqual(*KVPDFObjectName::nameWithBytes("X")));
    auto target = KVPDFObjectInteger::integerWithLongLong(1);
    EXPECT_TRUE(KVPDFObjectReference::referenceWithObject(target)->isEqual(*KVPDFObjectReference::referenceWithObject(target)));
}

TEST(KVPDFObjectModelTest, IndirectFormUsesTheDocumentLineEnd)
{
    KVPDFDocument document;
    document.setEOL("\r\n");
    auto dictionary = std::make_shared<KVPDFObjectDictionary>();
    dictionary->setObject("A", KVPDFObjectInteger::integerWithLongLong(1));
    dictionary->setContext(&document);
    document.setObject(dictionary, 12, 0);
    EXPECT_EQ(dictionary->indirectObject(), "12 0 obj\r\n<< /A 1>>\r\nendobj\r\n");
    auto loose = KVPDFObjectInteger::integerWithLongLong(3);
    loose->setObjectNumber(4);
    EXPECT_EQ(loose->indirectObject(), "4 0 obj\n3\nendobj\n");
}

TEST(KVPDFObjectModelTest, ContainerIsTheOutermost)
{
    Parsed parsed("<< /K [ (inner) ] >>");
    auto dictionary = kv_cast<KVPDFObjectDictionary>(parsed.object);
    auto array = kv_cast<KVPDFObjectArray>(dictionary->objectForKey("K"));
    KVPDFObjectPtr inner = array->objectAtIndex(0);
    EXPECT_EQ(inner->immediateContainer(), array);
    EXPECT_EQ(inner->container(), dictionary);
    EXPECT_EQ(dictionary->container(), nullptr);
}

TEST(KVPDFObjectModelTest, CopiesLeaveNumbersBehindExceptReferences)
{
    KVPDFDocument document;
    auto dictionary = std::make_shared<KVPDFObjectDictionary>();
    dictionary->setObject("V", KVPDFObjectString::stringWithString(QStringLiteral("x")));
    document.setObject(dictionary, 9, 0);
    dictionary->setDirect(false);
    auto copy = kv_cast<KVPDFObjectDictionary>(dictionary->copy());
    EXPECT_EQ(copy->objectNumber(), 0u);
    EXPECT_TRUE(copy->isDirect());
    EXPECT_NE(copy->objectForKey("V"), dictionary->objectForKey("V"));
    EXPECT_EQ(copy->objectForKey("V")->immediateContainer(), copy);

    auto reference = KVPDFObjectReference::referenceWithObjectNumber(9, 2, &document);
    auto referenceCopy = reference->copy();
    EXPECT_EQ(referenceCopy->objectNumber(), 9u);
    EXPECT_EQ(referenceCopy->generation(), 2u);
}

TEST(KVPDFObjectModelTest, SharedDirectIntegersAreImmutableAndThreadSafe)
{
    Parsed first("[0 1]"), second("<< /Z 0 >>");
    auto zeroInArray = kv_cast<KVPDFObjectArray>(first.object)->objectAtIndex(0);
    auto zeroInDictionary = kv_cast<KVPDFObjectDictionary>(second.object)->objectForKey("Z");
    EXPECT_EQ(zeroInArray, zeroInDictionary);
    EXPECT_EQ(zeroInArray->flags(), KVPDFObject::FlagDirectInteger);
    EXPECT_THROW(kv_cast<KVPDFObjectInteger>(zeroInArray)->setLongLongValue(3), FolivoLogicFailure);
    // The shared instance never learns a container, document or number.
    EXPECT_EQ(zeroInArray->immediateContainer(), nullptr);
    zeroInArray->setObjectNumber(5);
    EXPECT_EQ(zeroInArray->objectNumber(), 0u);

    // The threads race to make the shared instances of the values they meet first.
    std::vector<std::thread> threads;
    std::vector<const KVPDFObject *> seen(8);
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([t, &seen] {
            for (int64_t i = 0; i < 2000; ++i) {
                auto integer = KVPDFObjectDirectInteger::integerWithLongLong(i);
                if (i == KVPDFObjectDirectInteger::kSharedLimit - 1)
                    seen[size_t(t)] = integer.get();
            }
        });
    for (auto &thread : threads)
        thread.join();
    for (const KVPDFObject *p : seen)
        EXPECT_EQ(p, seen[0]);
}

// A copy (the writer copies every object it writes) shares what cannot change: the direct
// integers and the key bytes. Everything else is its own, and it writes what the original writes.
TEST(KVPDFObjectModelTest, ContainerCopiesShareOnlyWhatCannotChange)
{
    Parsed parsed("<< /Type /Thing /N 5 /Big 123456789 /A [ 0 7 2000 (s) ] /S (text) /R 3 0 R /N 6 >>");
    auto original = kv_cast<KVPDFObjectDictionary>(parsed.object);
    ASSERT_TRUE(original);
    auto copy = kv_cast<KVPDFObjectDictionary>(original->copy());
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->directObject(), original->directObject());
    // A key read twice keeps its last value, in a copy as in the original.
    EXPECT_EQ(copy->count(), original->count());
    EXPECT_EQ(copy->objectForKey("N")->longLongValue(), 6);

    for (size_t i = 0; i < original->value().size(); ++i) {
        const auto &[key, value] = original->value()[i];
        const auto &[copyKey, copyValue] = copy->value()[i];
        EXPECT_TRUE(copyKey.isSharedWith(key)) << key.constData();
        if (value->hasFlag(KVPDFObject::FlagDirectInteger))
            EXPECT_EQ(copyValue, value) << key.constData();
        else
            EXPECT_NE(copyValue, value) << key.constData();
    }
    auto array = kv_cast<KVPDFObjectArray>(original->objectForKey("A"));
    auto arrayCopy = kv_cast<KVPDFObjectArray>(copy->objectForKey("A"));
    ASSERT_TRUE(array && arrayCopy);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(arrayCopy->objectAtIndex(i), array->objectAtIndex(i)) << i;
    EXPECT_NE(arrayCopy->objectAtIndex(3), array->objectAtIndex(3));
    EXPECT_EQ(arrayCopy->objectAtIndex(3)->immediateContainer(), arrayCopy);

    // Changing the copy leaves the original as it was.
    copy->setObject("N", KVPDFObjectInteger::integerWithLongLong(9));
    arrayCopy->replaceObjectAtIndex(0, KVPDFObjectInteger::integerWithLongLong(1));
    EXPECT_EQ(original->objectForKey("N")->longLongValue(), 6);
    EXPECT_EQ(array->objectAtIndex(0)->longLongValue(), 0);

    // An entry's location survives a copy of the unread entry.
    auto entry = KVPDFObjectReference::referenceWithObjectNumber(4, 0, &parsed.document, 1234);
    EXPECT_EQ(entry->copy()->dataRange().location, 1234u);
}

// A file may list any number of distinct integers; only the small ones are shared, so the
// process-wide table stays within its range however many a file holds.
TEST(KVPDFObjectModelTest, DistinctIntegersDoNotGrowTheSharedTable)
{
    const int64_t limit = KVPDFObjectDirectInteger::kSharedLimit;
    std::vector<int64_t> values;
    for (int64_t i = -5000; i < 4 * limit; ++i)
        values.push_back(i);
    for (int64_t i = 0; i < 50000; ++i)
        values.push_back(1000000007 + 7919 * i);
    values.push_back(std::numeric_limits<int64_t>::min());
    values.push_back(std::numeric_limits<int64_t>::max());
    QByteArray text = "[";
    for (int64_t value : values)
        text += ' ' + QByteArray::number(qlonglong(value));
    text += " ]";

    Parsed parsed(text);
    auto array = kv_cast<KVPDFObjectArray>(parsed.object);
    ASSERT_TRUE(array);
    ASSERT_EQ(array->value().size(), values.size());
    EXPECT_LE(KVPDFObjectDirectInteger::cacheSize(), size_t(limit));
    for (size_t i = 0; i < values.size(); ++i) {
        const KVPDFObjectPtr &element = array->objectAtIndex(i);
        ASSERT_EQ(element->longLongValue(), values[i]) << i;
        EXPECT_EQ(element->flags(), KVPDFObject::FlagDirectInteger) << values[i];
        const QByteArray written = QByteArray::number(qlonglong(values[i]));
        EXPECT_EQ(element->directObject(), written) << values[i];
        EXPECT_EQ(element->rawLength(), uint64_t(written.size())) << values[i];
    }

    // In range one instance per value; out of range a new one each time, immutable all the same.
    const QByteArray last = QByteArray::number(qlonglong(limit - 1)), past = QByteArray::number(qlonglong(limit));
    Parsed repeated("[ 0 " + last + ' ' + last + ' ' + past + ' ' + past + " -1 -1 ]");
    auto again = kv_cast<KVPDFObjectArray>(repeated.object);
    ASSERT_EQ(again->value().size(), 7u);
    EXPECT_EQ(again->objectAtIndex(1), again->objectAtIndex(2));
    EXPECT_EQ(again->objectAtIndex(1), array->objectAtIndex(size_t(5000 + limit - 1)));
    EXPECT_NE(again->objectAtIndex(3), again->objectAtIndex(4));
    EXPECT_NE(again->objectAtIndex(5), again->objectAtIndex(6));
    EXPECT_THROW(kv_cast<KVPDFObjectInteger>(again->objectAtIndex(3))->setLongLongValue(3), FolivoLogicFailure);
    EXPECT_LE(KVPDFObjectDirectInteger::cacheSize(), size_t(limit));
}

TEST(KVPDFObjectModelTest, LengthReferencesResolveWhileParsing)
{
    KVPDFDocument document;
    document.setDocData(" << /Length 12 0 R /Length1 7 >> 12 0 obj 345 endobj");
    const qsizetype valueAt = document.docData().indexOf("345");
    document.setObject(KVPDFObjectReference::referenceWithObjectNumber(12, 0, &document, uint64_t(valueAt)), 12, 0);
    auto dictionary =
        kv_cast<KVPDFObjectDictionary>(KVPDFParser::objectAtOffset(&document, 0, document.docData(), false, true, false, false));
    ASSERT_TRUE(dictionary);
    auto length = dictionary->objectForKey("Length");
    EXPECT_EQ(length->objectType(), KVPDFObject::TypeInteger);
    EXPECT_EQ(length->longLongValue(), 345);
    EXPECT_EQ(dictionary->integerForKey("Length1"), 7);
}

TEST(KVPDFObjectModelTest, IndexedColourSpacesAreMarked)
{
    Parsed indexed("[/Indexed /DeviceRGB 1 <00FF00FF0000>]");
    // The shared integers carry only their own flag.
    for (const auto &element : kv_cast<KVPDFObjectArray>(indexed.object)->value()) {
        if (element->objectType() != KVPDFObject::TypeInteger) {
            EXPECT_TRUE(element->hasFlag(KVPDFObject::FlagIndexedLookup)) << element->description().toStdString();
        }
    }
    Parsed later("[/DeviceRGB /Indexed (x)]");
    for (const auto &element : kv_cast<KVPDFObjectArray>(later.object)->value())
        EXPECT_FALSE(element->hasFlag(KVPDFObject::FlagIndexedLookup));
}

TEST(KVPDFObjectModelTest, MergeConcatenatesArraysAndKeepsOwnScalars)
{
    Parsed own("<< /A [1] /S 1 /D << /X 1 >> >>"), other("<< /A [2] /B 3 /S 2 /D << /Y 2 >> >>");
    auto merged = kv_cast<KVPDFObjectDictionary>(own.object)->mergeWithDictionary(kv_cast<KVPDFObjectDictionary>(other.object));
    EXPECT_EQ(merged->directObject(), "<< /A [ 1 2 ] /S 1 /D << /X 1 /Y 2>> /B 3>>");
    EXPECT_EQ(kv_cast<KVPDFObjectDictionary>(own.object)->directObject(), "<< /A [ 1 ] /S 1 /D << /X 1>>>>");
}

TEST(KVPDFObjectModelTest, AncestorLookupStopsOnParentLoops)
{
    KVPDFDocument document;
    document.setDocData(" 1 0 obj << /Parent 2 0 R >> endobj 2 0 obj << /Parent 1 0 R >> endobj");
    const QByteArray &data = document.docData();
    document.setObject(KVPDFObjectReference::referenceWithObjectNumber(1, 0, &document, uint64_t(data.indexOf("<<"))), 1, 0);
    document.setObject(KVPDFObjectReference::referenceWithObjectNumber(2, 0, &document, uint64_t(data.lastIndexOf("<<"))), 2, 0);
    auto first = kv_cast<KVPDFObjectDictionary>(document.resolveObject(1, 0));
    ASSERT_TRUE(first);
    EXPECT_EQ(first->objectFromAncestorsForKey("Rotate"), nullptr);
}

TEST(KVPDFObjectModelTest, ReachabilityAndMarkingFollowReferencesOnce)
{
    KVPDFDocument document;
    document.setDocData(" 1 0 obj << /Kids [2 0 R 3 0 R] >> endobj 2 0 obj << /Parent 1 0 R /N 3 0 R >> endobj"
                        " 3 0 obj (leaf) endobj");
    const QByteArray &data = document.docData();
    uint64_t positions[4] = {0, uint64_t(data.indexOf("<< /Kids")), uint64_t(data.indexOf("<< /Parent")),
                             uint64_t(data.indexOf("(leaf)"))};
    for (uint64_t n = 1; n <= 3; ++n)
        document.setObject(KVPDFObjectReference::referenceWithObjectNumber(n, 0, &document, positions[n]), n, 0);
    auto root = KVPDFObjectReference::referenceWithObjectNumber(1, 0, &document);
    KVPDFVisitedSet visited;
    auto found = root->subobjects(visited);
    std::vector<uint64_t> numbers;
    for (const auto &object : found)
        numbers.push_back(object->objectNumber());
    EXPECT_EQ(numbers, (std::vector<uint64_t>{1, 2, 3}));

    KVPDFMarkArray marks(2, 0); // grows as needed
    root->markSubobjects(marks);
    ASSERT_GE(marks.size(), 4u);
    EXPECT_EQ(std::vector<uint8_t>(marks.begin() + 1, marks.begin() + 4), (std::vector<uint8_t>{1, 1, 1}));
}

TEST(KVPDFObjectModelTest, LongReferenceChainsDoNotOverflowTheStack)
{
    // 20000 objects each pointing at the next, as long outline chains do.
    KVPDFDocument document;
    QByteArray text(" ");
    std::vector<uint64_t> positions(20001);
    for (int n = 1; n <= 20000; ++n) {
        text += QByteArray::number(n) + " 0 obj ";
        positions[size_t(n)] = uint64_t(text.size());
        text += n < 20000 ? "<< /Next " + QByteArray::number(n + 1) + " 0 R >>" : QByteArray("null");
        text += " endobj\n";
    }
    document.setDocData(text);
    for (uint64_t n = 1; n <= 20000; ++n)
        document.setObject(KVPDFObjectReference::referenceWithObjectNumber(n, 0, &document, positions[n]), n, 0);
    KVPDFVisitedSet visited;
    EXPECT_EQ(KVPDFObjectReference::referenceWithObjectNumber(1, 0, &document)->subobjects(visited).size(), 20000u);
}

TEST(KVPDFObjectModelTest, FixReferencesSwapsTargetsFromTheTable)
{
    KVPDFDocument document;
    auto original = KVPDFObjectInteger::integerWithLongLong(1);
    original->setContext(&document);
    document.setObject(original, 4, 0);
    auto reference = KVPDFObjectReference::referenceWithObject(original);
    auto replacement = KVPDFObjectInteger::integerWithLongLong(2);
    replacement->setObjectNumber(1);
    KVPDFTranslationTable table;
    table[&document].resize(1);
    table[&document][0][4] = replacement;
    reference->fixReferences(table);
    EXPECT_EQ(reference->resolvedObject(), replacement);
    EXPECT_EQ(reference->directObject(), "1 0 R");
}

TEST(KVPDFObjectModelTest, DatesRoundTrip)
{
    const QDateTime moment = QDateTime::fromSecsSinceEpoch(1720000000);
    auto date = KVPDFObjectDate::dateWithDate(moment);
    EXPECT_TRUE(date->stringValue().startsWith(QStringLiteral("D:")));
    ASSERT_TRUE(date->dateValue());
    EXPECT_EQ(date->dateValue()->toSecsSinceEpoch(), moment.toSecsSinceEpoch());
    auto yearOnly = KVPDFObjectString::stringWithString(QStringLiteral("D:2024"));
    auto parsed = KVPDFObjectDate::dateFromPDFString(*yearOnly);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->toLocalTime().date(), QDate(2024, 1, 1));
    EXPECT_EQ(parsed->toLocalTime().time(), QTime(0, 0));
}

// Two new dictionaries that refer to each other (a pop-up's Parent, its note's Popup) must be
// freed once nothing else holds them: the back link is weak, and stays weak in a copy.
TEST(KVPDFObjectReferenceTest, AWeakBackLinkResolvesWhileItsTargetLivesAndHoldsNothing)
{
    auto note = KVPDFObjectDictionary::dictionaryWithDictionary({});
    auto popup = KVPDFObjectDictionary::dictionaryWithDictionary({});
    note->setObject("Popup", KVPDFObjectReference::referenceWithObject(popup));
    auto parent = KVPDFObjectReference::referenceWithObjectWeakly(note);
    popup->setObject("Parent", parent);
    auto copied = std::dynamic_pointer_cast<KVPDFObjectReference>(parent->copy());
    ASSERT_TRUE(copied);

    EXPECT_EQ(parent->resolvedObject(), note);
    EXPECT_EQ(parent->cachedTarget(), note);
    EXPECT_EQ(copied->resolvedObject(), note);

    std::weak_ptr<KVPDFObject> watchNote = note, watchPopup = popup;
    popup.reset();
    note.reset();
    EXPECT_TRUE(watchNote.expired()) << "the pop-up's Parent kept its note alive";
    EXPECT_TRUE(watchPopup.expired());
    EXPECT_EQ(parent->resolvedObject(), nullptr);
    EXPECT_EQ(copied->resolvedObject(), nullptr) << "the copy holds its target strongly";
}
