// Text lines: bounds, the character lookups, rectangles, clearing edits, splits, the rebuilt
// page string and gaps, on lines made of hand-measured runs; and a line's edits applied to a
// file (kvprobe clear), checked with pdftotext on a small file made here and on a corpus page.
#include "KVPDFBaseline.h"
#include "KVPDFObjectStream.h"
#include "KVPDFTextBlob.h"
#include "KVProbeClear.h"
#include "KVProbeText.h"
#include "support/PdfBuilder.h"
#include "support/TestSupport.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using Blob = std::shared_ptr<KVPDFTextBlob>;

// A measured run: text, place, widths (one per character unless a test says otherwise) and
// page-string range.
Blob run(const QString &text, double x, std::vector<float> widths, KVPDFRange range, double y = 700,
         std::shared_ptr<KVPDFObjectStream> stream = nullptr, KVPDFRange dataRange = {})
{
    auto blob = std::make_shared<KVPDFTextBlob>(QPointF(x, y), 9, -3, KVPDFGraphicsState(), std::move(stream), dataRange, text);
    blob->widths = std::move(widths);
    for (float w : blob->widths)
        blob->width += w;
    blob->rangeInPageString = range;
    return blob;
}

// "abc" at x 10 (widths 5 each, page string 0..2), "de" at x 40 (widths 10, page string 3..5
// with the line break).
KVPDFBaseline twoRuns()
{
    return KVPDFBaseline({run(QStringLiteral("abc"), 10, {5, 5, 5}, {0, 3}), run(QStringLiteral("de"), 40, {10, 10}, {3, 3})},
                         {0, 6});
}

TEST(KVPDFBaselineTest, IntersectGaps)
{
    struct Row {
        const char *name;
        KVPDFGap a, b, expected;
    };
    const Row rows[] = {
        {"Overlapping", {10, 20}, {25, 20}, {25, 5}},
        {"Apart", {10, 5}, {20, 5}, KVPDFEmptyGap},
        {"Touching", {10, 5}, {15, 5}, KVPDFEmptyGap},
        {"Inside", {0, 100}, {40, 10}, {40, 10}},
    };
    for (const Row &row : rows)
        EXPECT_EQ(KVPDFIntersectGaps(row.a, row.b), row.expected) << row.name;
    EXPECT_TRUE(KVPDFIsEmptyGap({7, 0}));
    EXPECT_EQ(KVPDFGapMax({10, 20}), 30.0f);
}

TEST(KVPDFBaselineTest, BoundsMoveARunDrawnFromThePreviousRunsPlaceAndDropEmptyRuns)
{
    Blob first = run(QStringLiteral("ab"), 100, {6, 6}, {0, 2});
    Blob same = run(QStringLiteral("cd"), 100, {6, 6}, {2, 3});
    Blob empty = run(QString(), 130, {}, {5, 0});
    same->ascent = 14;
    same->descent = -5;
    KVPDFBaseline line({first, empty, same}, {0, 5});
    const QRectF bounds = line.bounds();
    EXPECT_EQ(line.blobs().size(), 2u);
    EXPECT_EQ(same->location, QPointF(112, 700));
    EXPECT_EQ(bounds, QRectF(100, 695, 24, 19));
    EXPECT_EQ(line.minX(), 100);
    EXPECT_EQ(line.maxX(), 124);
    EXPECT_TRUE(line.hitTest(QPointF(100, 695)));
    EXPECT_FALSE(line.hitTest(QPointF(124, 700)));
    EXPECT_TRUE(line.hitTest(QPointF(125, 700), 2));

    KVPDFBaseline none({}, {0, 0});
    EXPECT_TRUE(none.bounds().isNull());
    EXPECT_FALSE(none.hitTest(QPointF(0, 0), 1));
}

TEST(KVPDFBaselineTest, CharacterPositionLookups)
{
    const KVPDFBaseline line = twoRuns();
    struct Row {
        double x;
        int64_t forPoint, rightOf, leftOf;
    };
    const Row rows[] = {
        {5, -1, 0, KVPDFNotFound},  // left of the line
        {12, 0, 1, KVPDFNotFound},  // inside the first character
        {15, 0, 1, 0},              // on the first character's right edge
        {16, 1, 2, 1},
        {22, 2, 3, 2},
        {30, 2, 3, 2},              // in the gap between the runs
        {45, 3, 4, 2},
        {55, 4, 5, 4},
        {100, 4, 5, 4},             // right of the line
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.x);
        EXPECT_EQ(line.charPositionForPoint(QPointF(row.x, 0)), row.forPoint);
        EXPECT_EQ(line.charPositionRightOfX(row.x), row.rightOf);
        EXPECT_EQ(line.charPositionLeftOfX(row.x), row.leftOf);
    }

    struct RectRow {
        const char *name;
        double left, right;
        KVPDFRange range;
    };
    const RectRow rects[] = {
        {"AcrossTheFirstRun", 12, 22, {1, 2}},
        {"InTheSecondRun", 41, 55, {4, 1}},
        {"InsideOneCharacter", 16, 18, {uint64_t(KVPDFNotFound), 0}},
        {"LeftOfTheLine", 0, 5, {uint64_t(KVPDFNotFound), 0}},
        {"WholeLine", 0, 100, {0, 5}},
    };
    for (const RectRow &row : rects)
        EXPECT_EQ(line.charRangeWithinRect(QRectF(row.left, 690, row.right - row.left, 20)), row.range) << row.name;
}

TEST(KVPDFBaselineTest, LookupsNeverReadPastARunsWidths)
{
    // Measured runs whose widths and text disagree in length, and one not measured at all:
    // the lookups stay within both (the sanitizer build reads any stray width).
    const KVPDFBaseline line({run(QStringLiteral("abcd"), 10, {5}, {0, 4}), run(QStringLiteral("ef"), 40, {10, 10, 10, 10}, {4, 2}),
                              run(QStringLiteral("gh"), 100, {}, {6, 3})},
                             {0, 9});
    EXPECT_EQ(line.charPositionForPoint(QPointF(30, 0)), 0);
    EXPECT_EQ(line.charPositionForPoint(QPointF(90, 0)), 5);
    EXPECT_EQ(line.charPositionForPoint(QPointF(120, 0)), 5);
    EXPECT_EQ(line.charPositionRightOfX(30), 1);
    EXPECT_EQ(line.charPositionRightOfX(90), 6);
    EXPECT_EQ(line.charPositionLeftOfX(95), 5);
    EXPECT_EQ(line.charPositionLeftOfX(120), 5);
    EXPECT_EQ(line.rectForRangeInPageString({0, 9}), QRectF(10, 697, 50, 12));
}

TEST(KVPDFBaselineTest, RunsAndRectanglesOfARange)
{
    KVPDFBaseline line = twoRuns();
    struct Row {
        const char *name;
        int64_t from, to;
        size_t first, count;
    };
    const Row rows[] = {
        {"OneRun", 1, 2, 0, 1},
        {"BothRuns", 0, 4, 0, 2},
        {"ToClampedToTheLine", 3, 400, 1, 1},
        {"FromOnNoRun", 40, 50, 0, 0},
        {"Backwards", 4, 0, 0, 0},
    };
    for (const Row &row : rows) {
        const KVPDFBaseline::Blobs blobs = line.blobsFromCharPosition(row.from, row.to);
        ASSERT_EQ(blobs.size(), row.count) << row.name;
        if (row.count) {
            EXPECT_EQ(blobs.front(), line.blobs()[row.first]) << row.name;
        }
    }
    EXPECT_TRUE(KVPDFBaseline({}, {0, 0}).blobsFromCharPosition(0, 0).empty());

    EXPECT_EQ(line.rectForRangeInPageString({1, 3}), QRectF(15, 697, 35, 12));
    EXPECT_TRUE(line.rectForRangeInPageString({1, 0}).isNull());
    // Only the line break: no width, so no rectangle.
    EXPECT_TRUE(line.rectForRangeInPageString({5, 1}).isNull());
    EXPECT_EQ(line.rectForClearing(), QRectF(10, 697, 50, 12));
    EXPECT_EQ(line.rectForClearingRange({2, 2}), QRectF(20, 697, 30, 12));
}

struct ClearingFixture {
    std::shared_ptr<KVPDFObjectStream> stream;
    Blob first, second;
};

// Two runs of one line, each shown by its own operator.
ClearingFixture clearingFixture(const QByteArray &secondShow = "(de) Tj")
{
    const QByteArray content = "BT /F1 10 Tf 10 700 Td (abc) Tj 30 0 Td " + secondShow + " ET";
    ClearingFixture f;
    f.stream = KVPDFObjectStream::streamWithData(content);
    const qsizetype abc = content.indexOf("(abc)");
    const qsizetype de = content.indexOf("(de)");
    f.first = run(QStringLiteral("abc"), 10, {5, 5, 5}, {0, 3}, 700, f.stream, {uint64_t(abc), 5});
    f.second = run(QStringLiteral("de"), 40, {10, 10}, {3, 3}, 700, f.stream, {uint64_t(de), 4});
    for (const Blob &blob : {f.first, f.second})
        blob->TfontSize = 10;
    return f;
}

TEST(KVPDFBaselineTest, ClearingALineAdvancesByItsWidthInTheLastRunsTextSpace)
{
    // The cleared width is 50 on the page; the TJ number is in thousandths of the last run's
    // text space unit, which Tf, Tz, the text matrix and the CTM all scale.
    struct Row {
        const char *name;
        float fontSize, horizontalScaling;
        QTransform textMatrix, ctm;
        QByteArray move;
    };
    const Row rows[] = {
        {"Plain", 10, 1, QTransform(), QTransform(), "[-5000]TJ"},
        {"HalfHorizontalScaling", 10, 0.5f, QTransform(), QTransform(), "[-10000]TJ"},
        {"ScaledTextMatrix", 10, 1, QTransform(2, 0, 0, 2, 40, 700), QTransform(), "[-2500]TJ"},
        {"ScaledAndMirroredCTM", 10, 1, QTransform(), QTransform(-4, 0, 0, 4, 0, 0), "[-1250]TJ"},
        {"QuarterTurnedTextMatrix", 10, 1, QTransform(0, 2, -2, 0, 40, 700), QTransform(), "[-2500]TJ"},
        {"FontSize12", 12, 1, QTransform(), QTransform(), "[-4166.666667]TJ"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ClearingFixture f = clearingFixture();
        f.second->TfontSize = row.fontSize;
        f.second->ThorizontalScaling = row.horizontalScaling;
        f.second->textMatrix = row.textMatrix;
        f.second->CTM = row.ctm;
        const KVPDFBaseline line({f.first, f.second}, {0, 6});
        const std::vector<KVPDFEditRecord> edits = line.contentForClearing();
        ASSERT_EQ(edits.size(), 2u);
        EXPECT_EQ(edits[0].contentObject, f.stream);
        EXPECT_EQ(edits[0].range, (KVPDFRange{f.first->dataRange.location, 8}));
        EXPECT_FALSE(edits[0].replacement.has_value());
        EXPECT_EQ(edits[1].range, (KVPDFRange{f.second->dataRange.location, 7}));
        EXPECT_EQ(edits[1].replacement, row.move);
    }

    // No size to divide by: the run is blanked and nothing else is made up.
    ClearingFixture f = clearingFixture();
    f.second->TfontSize = 0;
    EXPECT_FALSE(KVPDFBaseline({f.first, f.second}, {0, 6}).contentForClearing()[1].replacement.has_value());
}

TEST(KVPDFBaselineTest, ClearingEditsOfPartsQuotesAndReplacements)
{
    {
        // A range within the first run clears that run only, and advances by the range's width.
        ClearingFixture f = clearingFixture();
        const std::vector<KVPDFEditRecord> edits = KVPDFBaseline({f.first, f.second}, {0, 6}).contentForClearingRange({1, 1});
        ASSERT_EQ(edits.size(), 1u);
        EXPECT_EQ(edits[0].range.location, f.first->dataRange.location);
        EXPECT_EQ(edits[0].replacement, QByteArray("[-500]TJ"));
    }
    {
        // The last run moved to its line with ': the line move stays before the advance.
        ClearingFixture f = clearingFixture("(de) '");
        const std::vector<KVPDFEditRecord> edits = KVPDFBaseline({f.first, f.second}, {0, 6}).contentForClearing();
        ASSERT_EQ(edits.size(), 2u);
        EXPECT_EQ(edits[1].replacement, QByteArray("() ' [-5000]TJ"));
    }
    {
        // Replacements stand in for the runs they name; the others keep their own records, and
        // nothing is advanced.
        ClearingFixture f = clearingFixture("(de) '");
        KVPDFTextRewrites replacements{{f.first.get(), "(a) Tj (bc) Tj"}};
        const std::vector<KVPDFEditRecord> edits = KVPDFBaseline({f.first, f.second}, {0, 6}).contentForClearingRange({0, 6}, &replacements);
        ASSERT_EQ(edits.size(), 2u);
        EXPECT_EQ(edits[0].replacement, QByteArray("(a) Tj (bc) Tj"));
        EXPECT_EQ(edits[1].replacement, QByteArray("() '"));
    }
    {
        ClearingFixture f = clearingFixture();
        EXPECT_TRUE(KVPDFBaseline({f.first, f.second}, {0, 6}).contentForClearingRange({20, 4}).empty());
    }
}

TEST(KVPDFBaselineTest, SplitsKeepTheLeftPartAndMarkItForALineBreak)
{
    auto threeRuns = [] {
        return KVPDFBaseline({run(QStringLiteral("aaaa"), 10, {10, 10, 10, 10}, {0, 4}), run(QStringLiteral("bbb"), 60, {10, 10, 10}, {4, 3}),
                              run(QStringLiteral("cc"), 200, {25, 25}, {7, 3})},
                             {0, 10});
    };
    {
        KVPDFBaseline line = threeRuns();
        line.bounds();
        const std::shared_ptr<KVPDFBaseline> right = line.splitBaselineAtXPos(150);
        ASSERT_TRUE(right);
        ASSERT_EQ(right->blobs().size(), 1u);
        EXPECT_EQ(right->blobs()[0]->string, QStringLiteral("cc"));
        EXPECT_EQ(right->rangeInPageString(), (KVPDFRange{7, 3}));
        EXPECT_FALSE(right->needsNewline());
        EXPECT_EQ(line.blobs().size(), 2u);
        EXPECT_EQ(line.rangeInPageString(), (KVPDFRange{0, 7}));
        EXPECT_TRUE(line.needsNewline());
        EXPECT_EQ(line.bounds(), QRectF(10, 697, 80, 12));

        // Cut again: the part after the second cut ends where the first cut was, so it needs
        // its own line break too.
        const std::shared_ptr<KVPDFBaseline> middle = line.splitBaselineAtXPos(55);
        ASSERT_TRUE(middle);
        EXPECT_TRUE(middle->needsNewline());
        EXPECT_EQ(middle->rangeInPageString(), (KVPDFRange{4, 3}));
    }
    {
        KVPDFBaseline line = threeRuns();
        EXPECT_FALSE(line.splitBaselineAtXPos(300));
        const std::shared_ptr<KVPDFBaseline> all = line.splitBaselineAtXPos(0);
        ASSERT_TRUE(all);
        EXPECT_EQ(all->blobs().size(), 3u);
        EXPECT_TRUE(line.isEmpty());
        EXPECT_TRUE(line.bounds().isNull());
        EXPECT_EQ(line.rangeInPageString(), (KVPDFRange{0, 0}));
    }
    {
        KVPDFBaseline line = threeRuns();
        const KVPDFTextBlob *middle = line.blobs()[1].get();
        const KVPDFTextBlob *last = line.blobs()[2].get();
        KVPDFTextBlob stranger;
        EXPECT_FALSE(line.splitBaselineAtBlob(last));
        EXPECT_FALSE(line.splitBaselineAtBlob(&stranger));
        const std::shared_ptr<KVPDFBaseline> right = line.splitBaselineAtBlob(middle);
        ASSERT_TRUE(right);
        EXPECT_EQ(right->blobs().front().get(), last);
        EXPECT_EQ(line.blobs().size(), 2u);
    }
    {
        KVPDFBaseline single({run(QStringLiteral("x"), 10, {5}, {0, 2})}, {0, 2});
        EXPECT_FALSE(single.splitBaselineAtBlob(single.blobs()[0].get()));
    }
}

TEST(KVPDFBaselineTest, RebuiltPageStringSpacesRunsApartAndEndsCutLines)
{
    // "ab" and "cd" (average width 5) on one line, with no spaces in the page string.
    struct Row {
        const char *name;
        double secondX;
        QString text;
    };
    const Row rows[] = {
        {"FourPointsApart", 24, QStringLiteral("ab cd\n")},
        {"HalfAPointApart", 20.5, QStringLiteral("abcd\n")},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        KVPDFPageString old;
        old.append(QStringLiteral("xxabcd\n"), QFont(QStringLiteral("Serif")), QColor(Qt::red));
        Blob first = run(QStringLiteral("ab"), 10, {5, 5}, {2, 2});
        Blob second = run(QStringLiteral("cd"), row.secondX, {5, 5}, {4, 3});
        KVPDFBaseline line({first, second}, {2, 5});
        KVPDFPageString rebuilt;
        rebuilt.append(QStringLiteral("0123456789"), QFont(), QColor());
        line.addBaselineBlobsToPageString(rebuilt, old);
        EXPECT_EQ(rebuilt.text.mid(10), row.text);
        EXPECT_EQ(line.rangeInPageString(), (KVPDFRange{10, uint64_t(row.text.size())}));
        EXPECT_EQ(first->rangeInPageString, (KVPDFRange{10, uint64_t(row.text.size()) - 3}));
        EXPECT_EQ(second->rangeInPageString.location + second->rangeInPageString.length, uint64_t(rebuilt.size()));
        const KVPDFPageString::Attributes *attributes = rebuilt.attributesAt(10);
        ASSERT_TRUE(attributes);
        EXPECT_EQ(attributes->colour, QColor(Qt::red));
    }

    // A cut line ends with a line break: a trailing blank becomes one, else one is added.
    struct CutRow {
        const char *name;
        QString oldText;
        QString rebuilt;
        uint64_t runLength;
    };
    const CutRow cuts[] = {
        {"Added", QStringLiteral("ab"), QStringLiteral("ab\n"), 3},
        {"TrailingBlankTurned", QStringLiteral("ab "), QStringLiteral("ab\n"), 3},
    };
    for (const CutRow &row : cuts) {
        SCOPED_TRACE(row.name);
        KVPDFPageString old;
        old.append(row.oldText, QFont(), QColor());
        Blob blob = run(QStringLiteral("ab"), 10, {5, 5}, {0, uint64_t(row.oldText.size())});
        KVPDFBaseline line({blob}, {0, uint64_t(row.oldText.size())});
        line.setNeedsNewline(true);
        KVPDFPageString rebuilt;
        line.addBaselineBlobsToPageString(rebuilt, old);
        EXPECT_EQ(rebuilt.text, row.rebuilt);
        EXPECT_EQ(blob->rangeInPageString.length, row.runLength);
        EXPECT_FALSE(line.needsNewline());
    }
    KVPDFBaseline empty({}, {0, 0});
    empty.setNeedsNewline(true);
    KVPDFPageString rebuilt;
    empty.addBaselineBlobsToPageString(rebuilt, KVPDFPageString());
    EXPECT_EQ(rebuilt.text, QStringLiteral("\n"));
}

TEST(KVPDFBaselineTest, GapsThroughALine)
{
    // Runs at 10-50, 60-90 and 200-250.
    KVPDFBaseline line({run(QStringLiteral("aaaa"), 10, {10, 10, 10, 10}, {0, 4}), run(QStringLiteral("bbb"), 60, {10, 10, 10}, {4, 3}),
                        run(QStringLiteral("cc"), 200, {25, 25}, {7, 3})},
                       {0, 10});
    EXPECT_EQ(line.findFirstGapOfWidth(5), (KVPDFGap{50, 10}));
    EXPECT_EQ(line.findFirstGapOfWidth(20), (KVPDFGap{90, 110}));
    EXPECT_EQ(line.findFirstGapOfWidth(200), KVPDFEmptyGap);
    struct Row {
        const char *name;
        KVPDFGap gap;
        float width;
        KVPDFGap expected;
    };
    const Row rows[] = {
        {"NarrowsToTheLinesGap", {80, 160}, 20, {90, 110}},
        {"LineWithoutSuchAGap", {80, 160}, 150, KVPDFEmptyGap},
        {"LineEndsBeforeTheGapsLastWidth", {80, 200}, 20, {80, 200}},
        {"GapRightOfTheLine", {300, 50}, 20, {300, 50}},
        {"GapLeftOfTheLine", {0, 5}, 1, {0, 5}},
    };
    for (const Row &row : rows)
        EXPECT_EQ(line.findGapInGap(row.gap, row.width), row.expected) << row.name;
}

// ---- Clearing a line out of a file ----------------------------------------------------------

struct BoxWord {
    QString text;
    QRectF box;
};

QString nfkc(const QString &text) { return text.normalized(QString::NormalizationForm_KC); }

std::vector<BoxWord> bboxWords(const QString &file, int page)
{
    const ToolResult result = runTool(QStringLiteral("pdftotext"), {QStringLiteral("-q"), QStringLiteral("-bbox"), QStringLiteral("-f"),
                                                                    QString::number(page), QStringLiteral("-l"), QString::number(page), file,
                                                                    QStringLiteral("-")});
    EXPECT_TRUE(result.started) << "pdftotext missing (poppler-utils)";
    std::vector<BoxWord> words;
    QXmlStreamReader reader(result.out);
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement || reader.name() != QLatin1String("word"))
            continue;
        const QXmlStreamAttributes a = reader.attributes();
        const double xMin = a.value(QLatin1String("xMin")).toDouble(), yMin = a.value(QLatin1String("yMin")).toDouble();
        const QRectF box(xMin, yMin, a.value(QLatin1String("xMax")).toDouble() - xMin, a.value(QLatin1String("yMax")).toDouble() - yMin);
        words.push_back({nfkc(reader.readElementText()), box});
    }
    return words;
}

// The index of the first line of the selection-prepared page whose text (ligatures split,
// blanks trimmed) starts with `start`; -1 when none does.
int lineStartingWith(const QString &file, int page, const QString &start)
{
    int exitCode = 0;
    const QJsonObject text = kvprobeTextJson(file, {QStringLiteral("--page"), QString::number(page), QStringLiteral("--selection")}, &exitCode);
    EXPECT_EQ(exitCode, 0);
    const QJsonArray lines = text.value(QStringLiteral("lines")).toArray();
    for (qsizetype k = 0; k < lines.size(); ++k)
        if (nfkc(lines[k].toObject().value(QStringLiteral("text")).toString()).trimmed().startsWith(start))
            return int(k);
    return -1;
}

// Clears the line starting with `start` out of page `page` of `file`, then checks with
// pdftotext that exactly the line's words are gone and every other word kept its box.
void expectLineCleared(const QString &file, int page, const QString &start, const QString &out)
{
    SCOPED_TRACE(start.toStdString());
    const int line = lineStartingWith(file, page, start);
    ASSERT_GE(line, 0);
    int exitCode = 0;
    const QJsonObject report = kvprobeClearJson(
        file, {QStringLiteral("--page"), QString::number(page), QStringLiteral("--line"), QString::number(line), QStringLiteral("-o"), out},
        &exitCode);
    ASSERT_EQ(exitCode, 0);
    const QString lineText = report.value(QStringLiteral("text")).toString();
    ASSERT_FALSE(report.value(QStringLiteral("edits")).toArray().isEmpty());

    // Every word after the clearing is one from before, in the same place within 0.05 pt; the
    // words no longer there are the line's words.
    std::vector<BoxWord> before = bboxWords(file, page);
    for (const BoxWord &word : bboxWords(out, page)) {
        const auto kept = std::find_if(before.begin(), before.end(), [&](const BoxWord &w) {
            return w.text == word.text && std::abs(w.box.left() - word.box.left()) <= 0.05 && std::abs(w.box.top() - word.box.top()) <= 0.05 &&
                   std::abs(w.box.right() - word.box.right()) <= 0.05 && std::abs(w.box.bottom() - word.box.bottom()) <= 0.05;
        });
        EXPECT_NE(kept, before.end()) << "moved or new after clearing: " << word.text.toStdString() << " at " << word.box.x() << ", "
                                      << word.box.y();
        if (kept != before.end())
            before.erase(kept);
    }
    QStringList gone, lineWords = nfkc(lineText).split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    for (const BoxWord &word : before)
        gone.append(word.text);
    gone.sort();
    lineWords.sort();
    EXPECT_EQ(gone, lineWords);
}

TEST(KVPDFBaselineClearTest, ClearedLinesLeaveTheTextAndTheOtherWordsStay)
{
    // Lines shown by Tj, by ' and by " (which also sets word and character spacing for the
    // lines after it), and a raised word that follows its line's advance: it stays only when
    // the clearing advances by the line's width in the scaled text space (Tf 12, Tz 50).
    const QByteArray content = "BT /F1 12 Tf 14 TL 72 700 Td (Alpha Beta) Tj (Gamma Delta) ' 2 1 (Epsilon Zeta) \" (Eta Theta) ' ET\n"
                               "BT /F1 12 Tf 50 Tz 72 500 Td (Base line) Tj 6 Ts (Up) Tj ET";
    PdfBuilder builder = PdfBuilder::withPages(1, "/MediaBox [0 0 612 792] /Contents 5 0 R /Resources << /Font << /F1 10 0 R >> >>");
    builder.add(5, "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream");
    builder.add(10, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString file = folder.filePath(QStringLiteral("lines.pdf"));
    QFile pdf(file);
    ASSERT_TRUE(pdf.open(QIODevice::WriteOnly));
    pdf.write(builder.build());
    pdf.close();

    const char *lines[] = {"Alpha", "Gamma", "Epsilon", "Eta", "Base"};
    for (const char *start : lines)
        expectLineCleared(file, 1, QString::fromLatin1(start), folder.filePath(QStringLiteral("cleared-%1.pdf").arg(QLatin1String(start))));
}

TEST(KVPDFBaselineClearTest, ACorpusLineLeavesTheTextAndTheOtherWordsStay)
{
    const QString file = QDir(corpusDir()).filePath(QStringLiteral("pdfjs/tracemonkey.pdf"));
    if (!QFile::exists(file))
        GTEST_SKIP() << "no corpus at " << corpusDir().toStdString();
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    expectLineCleared(file, 1, QStringLiteral("that identifies frequently"), folder.filePath(QStringLiteral("cleared.pdf")));
}

} // namespace
