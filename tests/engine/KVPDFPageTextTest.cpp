// The page text that search and selection prepare: run order and lines, fonts of the page
// string, crop box, column order, paragraph spacing, links, hit tests, copies and resets.
// Every case is a small file made here; column order draws pages through the poppler imager.
#include "KVPDFBaseline.h"
#include "KVPDFDocument.h"
#include "KVPDFFont.h"
#include "KVPDFLog.h"
#include "KVPDFPage.h"
#include "KVPDFPageString.h"
#include "KVPDFServices.h"
#include "KVPDFTextBlob.h"
#include "KVSystemFont.h"
#include "support/PdfBuilder.h"
#include "support/ImagerServices.h"

#include <QByteArray>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

QByteArray stream(const QByteArray &data)
{
    return "<< /Length " + QByteArray::number(data.size()) + " >>\nstream\n" + data + "\nendstream";
}

// F1 has widths (codes 32..126: the space 0.25 em, the rest 0.5 em) and the name Helvetica;
// F2 is a subset of Times-Roman; F3 has no name and a descriptor saying Serif and ForceBold, F4
// none and one saying Nonsymbolic.
PdfBuilder pageWith(const QByteArray &content, const QByteArray &pageKeys = "/MediaBox [0 0 612 792]")
{
    QByteArray widths = "250";
    for (int code = 33; code <= 126; ++code)
        widths += " 500";
    const QByteArray simple = "/FirstChar 32 /LastChar 126 /Widths [" + widths + "]";
    PdfBuilder b = PdfBuilder::withPages(
        1, pageKeys + " /Contents 5 0 R /Resources << /Font << /F1 10 0 R /F2 11 0 R /F3 12 0 R /F4 13 0 R >> >>");
    b.add(5, stream(content));
    b.add(10, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica " + simple + " >>");
    b.add(11, "<< /Type /Font /Subtype /TrueType /BaseFont /ABCDEF+Times-Roman " + simple
                  + " /FontDescriptor << /Type /FontDescriptor /FontName /ABCDEF+Times-Roman /Flags 34 >> >>");
    b.add(12, "<< /Type /Font /Subtype /Type3 " + simple
                  + " /FontMatrix [0.001 0 0 0.001 0 0] /FontBBox [0 0 1000 1000] /CharProcs << >> /Encoding << /Differences [] >>"
                    " /FontDescriptor << /Type /FontDescriptor /Flags 262146 >> >>");
    b.add(13, "<< /Type /Font /Subtype /Type3 " + simple
                  + " /FontMatrix [0.001 0 0 0.001 0 0] /FontBBox [0 0 1000 1000] /CharProcs << >> /Encoding << /Differences [] >>"
                    " /FontDescriptor << /Type /FontDescriptor /Flags 32 >> >>");
    return b;
}

struct Prepared {
    std::shared_ptr<KVPDFDocument> document;
    std::shared_ptr<KVPDFPage> page;
};

Prepared open(const PdfBuilder &builder)
{
    Prepared out;
    KVPDFOpenResult result = KVPDFOpenBroken;
    out.document = KVPDFDocument::documentWithData(builder.build(), &result);
    EXPECT_EQ(result, KVPDFOpenOK);
    if (out.document)
        out.page = out.document->pageAtIndex(0);
    return out;
}

// "BT /F1 10 Tf x y Td (text) Tj ET" for each (x, y, text).
struct Show {
    double x, y;
    QByteArray text;
};
QByteArray shows(const std::vector<Show> &list, const QByteArray &font = "/F1 10 Tf")
{
    QByteArray content;
    for (const Show &s : list)
        content += "BT " + font + ' ' + QByteArray::number(s.x) + ' ' + QByteArray::number(s.y) + " Td (" + s.text + ") Tj ET\n";
    return content;
}

std::vector<QString> lineTexts(const KVPDFPage &page)
{
    std::vector<QString> out;
    const QString text = page.pageString();
    for (const auto &line : page.baselines())
        out.push_back(text.mid(qsizetype(line->rangeInPageString().location), qsizetype(line->rangeInPageString().length)));
    return out;
}

// ---- Search text: order, lines, ranges ------------------------------------------------------

struct OrderCase {
    const char *name;
    std::vector<Show> shows;
    QString text;
    std::vector<QString> lines;
};

class SearchText : public testing::TestWithParam<OrderCase> { };

TEST_P(SearchText, RunsComeInReadingOrderOneLinePerExactY)
{
    const OrderCase &c = GetParam();
    Prepared p = open(pageWith(shows(c.shows)));
    ASSERT_TRUE(p.page);
    p.page->prepareForSearch();
    EXPECT_TRUE(p.page->preparedForSearch());
    EXPECT_FALSE(p.page->preparedForSelection());
    EXPECT_EQ(p.page->pageString(), c.text);
    EXPECT_EQ(lineTexts(*p.page), c.lines);
    // Every run's range covers its text, and the last run of a line the line break too.
    const QString text = p.page->pageString();
    for (const auto &line : p.page->baselines()) {
        const auto &runs = line->blobs();
        for (size_t k = 0; k < runs.size(); ++k) {
            const KVPDFRange range = runs[k]->rangeInPageString;
            EXPECT_EQ(text.mid(qsizetype(range.location), qsizetype(range.length)),
                      runs[k]->string + (k + 1 == runs.size() ? QStringLiteral("\n") : QString()));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SearchText,
    testing::Values(
        OrderCase{"LeftRunFirstOnOneLine", {{300, 700, "right"}, {100, 700, "left"}}, "leftright\n", {"leftright\n"}},
        OrderCase{"HigherLineFirst", {{100, 600, "low"}, {100, 700, "high"}}, "high\nlow\n", {"high\n", "low\n"}},
        // The builder snaps a run to the previous run's y only within 0.05; with another run
        // between them, 0.001 apart is two lines.
        OrderCase{"NearlyEqualYIsTwoLines",
                  {{100, 700, "a"}, {100, 500, "between"}, {300, 700.001, "b"}},
                  "b\na\nbetween\n",
                  {"b\n", "a\n", "between\n"}},
        OrderCase{"SameYSnapsWithinAFewHundredths", {{100, 700, "a"}, {300, 700.04, "b"}}, "ab\n", {"ab\n"}},
        OrderCase{"NoRunsNoText", {}, "", {}}),
    [](const testing::TestParamInfo<OrderCase> &info) { return info.param.name; });

TEST(SearchTextFaults, RunsWithoutTextKeepTheLineBreakWithTheLineText)
{
    // A TJ of numbers only ends the line: its break must still follow the line's text once
    // the line drops the run.
    Prepared p = open(pageWith("BT /F1 10 Tf 100 700 Td (words) Tj [-500] TJ ET BT /F1 10 Tf 100 600 Td (next) Tj ET"));
    ASSERT_TRUE(p.page);
    p.page->prepareForSelection();
    EXPECT_EQ(p.page->pageString(), QStringLiteral("words\nnext\n"));
}

TEST(SearchTextFaults, APageWhoseContentCannotBeReadIsPreparedEmpty)
{
    KVPDFLogCapture quiet;
    PdfBuilder b = PdfBuilder::withPages(1, "/MediaBox [0 0 612 792] /Contents 5 0 R /Resources 6 0 R");
    b.add(5, "<< /Length 40 /Filter /FlateDecode >>\nstream\nnot deflated at all, not at all......\nendstream");
    b.add(6, "<< /Font 7 0 R >>");
    b.add(7, "[broken");
    Prepared p = open(b);
    ASSERT_TRUE(p.page);
    p.page->prepareForSearch();
    p.page->prepareForSelection();
    EXPECT_TRUE(p.page->preparedForSearch());
    EXPECT_TRUE(p.page->preparedForSelection());
    EXPECT_EQ(p.page->pageString(), QString());
    EXPECT_TRUE(p.page->baselines().empty());
}

// ---- Fonts of the page string -------------------------------------------------------------

TEST(PageStringFonts, SubsetNamesMatchTheirFamilyAndNamelessFontsFollowTheirFlags)
{
    Prepared p = open(pageWith("BT /F2 12 Tf 100 700 Td (sub) Tj ET BT /F3 20 Tf 100 600 Td (flags) Tj ET "
                               "BT /F1 8 Tf 2 0 0 2 100 500 Tm (big) Tj ET"));
    ASSERT_TRUE(p.page);
    p.page->prepareForSearch();
    const std::shared_ptr<const KVPDFPageString> string = p.page->richPageString();
    ASSERT_EQ(string->text, QStringLiteral("sub\nflags\nbig\n"));

    const auto *subset = string->attributesAt(0);
    ASSERT_TRUE(subset);
    EXPECT_EQ(subset->font.family(), KVSystemFont::fontWithName(QStringLiteral("Times-Roman"), 12)->familyName());
    EXPECT_DOUBLE_EQ(subset->font.pointSizeF(), 12);
    EXPECT_FALSE(subset->font.bold());

    const auto *flagged = string->attributesAt(4);
    ASSERT_TRUE(flagged);
    EXPECT_EQ(flagged->font.family(), KVSystemFont::fontWithName(QStringLiteral("Times-Bold"), 20)->familyName());
    EXPECT_TRUE(flagged->font.bold());
    EXPECT_DOUBLE_EQ(flagged->font.pointSizeF(), 20);

    // The size is Tf times the text matrix's and the CTM's vertical scale.
    const auto *scaled = string->attributesAt(10);
    ASSERT_TRUE(scaled);
    EXPECT_DOUBLE_EQ(scaled->font.pointSizeF(), 16);

    // A second nameless font is matched by its own flags, not by the last nameless match.
    Prepared nameless = open(pageWith("BT /F3 20 Tf 100 600 Td (serif) Tj ET BT /F4 20 Tf 100 500 Td (sans) Tj ET"));
    ASSERT_TRUE(nameless.page);
    nameless.page->prepareForSearch();
    const std::shared_ptr<const KVPDFPageString> twoNameless = nameless.page->richPageString();
    ASSERT_EQ(twoNameless->text, QStringLiteral("serif\nsans\n"));
    EXPECT_TRUE(twoNameless->attributesAt(0)->font.bold());
    EXPECT_FALSE(twoNameless->attributesAt(6)->font.bold());
    EXPECT_EQ(twoNameless->attributesAt(6)->font.family(), KVSystemFont::fontWithName(QStringLiteral("Helvetica"), 20)->familyName());

    // The last name matched without a system font of its own is remembered, prefix dropped.
    EXPECT_EQ(p.page->lastFontName(), QStringLiteral("Helvetica"));
    EXPECT_TRUE(p.page->lastFontMatch());
    EXPECT_EQ(string->attributes.size(), 3u);
    EXPECT_EQ(string->attributes[0].colour, QColor(Qt::black));
}

// ---- Selection: crop box, links, paragraphs, hit tests ------------------------------------

TEST(SelectionText, LinesOutsideTheCropBoxAreDropped)
{
    Prepared p = open(pageWith(shows({{100, 700, "inside"}, {100, 100, "outside"}, {-200, 400, "left"}}),
                               "/MediaBox [0 0 612 792] /CropBox [50 300 600 792]"));
    ASSERT_TRUE(p.page);
    p.page->prepareForSearch();
    EXPECT_EQ(p.page->pageString(), QStringLiteral("inside\nleft\noutside\n"));
    p.page->prepareForSelection();
    EXPECT_EQ(p.page->pageString(), QStringLiteral("inside\n"));
    ASSERT_EQ(p.page->baselines().size(), 1u);
}

struct LinkCase {
    const char *name;
    QByteArray text;
    std::vector<std::pair<QString, QString>> links; // text in the page string, URL
};

class SelectionLinks : public testing::TestWithParam<LinkCase> { };

TEST_P(SelectionLinks, OnlyWebAddressesAndMailAddressesAreLinks)
{
    const LinkCase &c = GetParam();
    Prepared p = open(pageWith(shows({{20, 700, c.text}})));
    ASSERT_TRUE(p.page);
    p.page->prepareForSelection();
    const QString text = p.page->pageString();
    const std::vector<KVPDFDetectedLink> links = p.page->clickableURLs();
    ASSERT_EQ(links.size(), c.links.size()) << text.toStdString();
    for (size_t k = 0; k < links.size(); ++k) {
        EXPECT_EQ(text.mid(qsizetype(links[k].range.location), qsizetype(links[k].range.length)), c.links[k].first);
        EXPECT_EQ(links[k].url.toString(), c.links[k].second);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SelectionLinks,
    testing::Values(
        LinkCase{"HttpsWithPathAndQuery", "see https://example.com/a/b?c=1 now",
                 {{"https://example.com/a/b?c=1", "https://example.com/a/b?c=1"}}},
        LinkCase{"SentencePunctuationStaysOut", "at http://example.org/x. Or (http://example.net/y)",
                 {{"http://example.org/x", "http://example.org/x"}, {"http://example.net/y", "http://example.net/y"}}},
        LinkCase{"WwwHostsBecomeHttp", "go to www.example.com/docs, then", {{"www.example.com/docs", "http://www.example.com/docs"}}},
        LinkCase{"MailAddressesBecomeMailto", "write to someone.else@mail.example.org.",
                 {{"someone.else@mail.example.org", "mailto:someone.else@mail.example.org"}}},
        LinkCase{"AnAddressInsideAUrlIsPartOfIt", "http://example.com/?to=a@b.org",
                 {{"http://example.com/?to=a@b.org", "http://example.com/?to=a@b.org"}}},
        LinkCase{"NothingElse", "ftp://example.com/f example.com mailto file:///etc/passwd javascript:alert(1) user@host", {}}),
    [](const testing::TestParamInfo<LinkCase> &info) { return info.param.name; });

TEST(SelectionLinks, APositionJustAfterALinkStillAnswersIt)
{
    Prepared p = open(pageWith(shows({{20, 700, "x www.example.com y"}})));
    ASSERT_TRUE(p.page);
    p.page->prepareForSelection();
    const QUrl url(QStringLiteral("http://www.example.com"));
    EXPECT_EQ(p.page->clickableURLForCharPosition(1), QUrl());
    EXPECT_EQ(p.page->clickableURLForCharPosition(2), url);
    EXPECT_EQ(p.page->clickableURLForCharPosition(16), url);
    EXPECT_EQ(p.page->clickableURLForCharPosition(17), url); // just after the last character
    EXPECT_EQ(p.page->clickableURLForCharPosition(18), QUrl());
    EXPECT_EQ(p.page->clickableURLForCharPosition(-1), QUrl());
}

TEST(SelectionText, ParagraphSpacingFollowsTheGapAboveEachLine)
{
    // Lines about 10 pt high: "two" overlaps "one" by 2 pt, "three" lies 70 pt below "two".
    Prepared p = open(pageWith(shows({{100, 700, "one"}, {100, 692, "two"}, {100, 612, "three"}})));
    ASSERT_TRUE(p.page);
    p.page->prepareForSelection();
    const std::shared_ptr<const KVPDFPageString> string = p.page->richPageString();
    ASSERT_EQ(string->text, QStringLiteral("one\ntwo\nthree\n"));
    const std::vector<std::shared_ptr<KVPDFBaseline>> lines = p.page->baselines();
    ASSERT_EQ(lines.size(), 3u);
    ASSERT_EQ(string->paragraphs.size(), 2u);
    // "two" overlaps the line above: a line-height multiple, below 0.75 here and so 1;
    // "three" has a gap: spacing before it.
    EXPECT_EQ(string->paragraphs[0].start, 4);
    EXPECT_EQ(string->paragraphs[0].spacingBefore, 0);
    EXPECT_EQ(string->paragraphs[0].lineHeightMultiple, 1.0);
    EXPECT_EQ(string->paragraphs[1].start, 8);
    const double gap = lines[1]->rectForClearing().y() - lines[2]->rectForClearing().y() - lines[2]->rectForClearing().height();
    ASSERT_GT(gap, 0);
    EXPECT_DOUBLE_EQ(string->paragraphs[1].spacingBefore, gap);
    EXPECT_NEAR(gap, 70, 0.5);
}

TEST(SelectionHitTests, PointsFindTheirCharacterAndLine)
{
    // F1 at 10 pt: each letter 5 pt wide. "abc" at x 100..115, "defg" at x 100..120 lower.
    Prepared p = open(pageWith(shows({{100, 700, "abc"}, {100, 600, "defg"}})));
    ASSERT_TRUE(p.page);
    p.page->prepareForSelection();
    ASSERT_EQ(p.page->pageString(), QStringLiteral("abc\ndefg\n"));

    std::shared_ptr<KVPDFBaseline> line;
    EXPECT_EQ(p.page->charPositionForPoint(QPointF(107, 702), &line), 1);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->rangeInPageString().location, 0u);
    EXPECT_EQ(p.page->charPositionForPoint(QPointF(107, 650)), KVPDFNotFound);
    EXPECT_EQ(p.page->charPositionForPoint(QPointF(118, 702)), KVPDFNotFound);
    EXPECT_EQ(p.page->charPositionForPoint(QPointF(118, 702), 5.0), 2);

    // Closest: right of and below the top of the last line is the page's last character, but
    // a point on the last line is the character under it.
    EXPECT_EQ(p.page->closestCharPositionForPoint(QPointF(300, 500)), 8);
    EXPECT_EQ(p.page->closestCharPositionForPoint(QPointF(300, 602)), 8);
    EXPECT_EQ(p.page->closestCharPositionForPoint(QPointF(112, 602)), 6);
    // Left of a line: its first character; right of it: its last one.
    EXPECT_EQ(p.page->closestCharPositionForPoint(QPointF(20, 703)), 0);
    EXPECT_EQ(p.page->closestCharPositionForPoint(QPointF(400, 703)), 3);

    // Lines from one position to another.
    EXPECT_EQ(p.page->baselinesFromCharPosition(1, 6).size(), 2u);
    EXPECT_EQ(p.page->baselinesFromCharPosition(4, 6).size(), 1u);
    EXPECT_TRUE(p.page->baselinesFromCharPosition(6, 1).empty()); // backwards
    EXPECT_TRUE(p.page->baselinesFromCharPosition(0, 0).empty());
    EXPECT_TRUE(p.page->baselinesFromCharPosition(2, 40).empty()); // past the text

    const std::vector<std::shared_ptr<KVPDFBaseline>> lines = p.page->baselines();
    const QRectF all = KVPDFPage::boundsForBaselines(lines);
    EXPECT_DOUBLE_EQ(all.left(), 100);
    EXPECT_DOUBLE_EQ(all.right(), 120);
    EXPECT_TRUE(KVPDFPage::boundsForBaselines({}).isNull());
    const QRectF cut = KVPDFPage::boundsForBaselines(lines, QRectF(0, 650, 612, 200));
    EXPECT_EQ(cut, lines[0]->bounds());
}

TEST(SelectionHitTests, APointWhereARaisedLineOverlapsItsLineFindsTheNearerLine)
{
    // Marks set 4 pt above a word, smaller: their line comes first and its bounds overlap the
    // word's; a point nearer the word's middle is the word's.
    Prepared p = open(pageWith("BT /F1 10 Tf 100 700 Td (David) Tj ET BT /F1 6 Tf 100 704 Td (**********) Tj ET"));
    ASSERT_TRUE(p.page);
    p.page->prepareForSelection();
    ASSERT_EQ(p.page->pageString(), QStringLiteral("**********\nDavid\n"));
    std::shared_ptr<KVPDFBaseline> line;
    EXPECT_EQ(p.page->charPositionForPoint(QPointF(107, 703.5), &line), 12);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->rangeInPageString().location, 11u);
    EXPECT_EQ(p.page->closestCharPositionForPoint(QPointF(107, 703.5)), 12);
    EXPECT_EQ(p.page->charPositionForPoint(QPointF(107, 707.5)), 2);
}

TEST(SelectionHitTests, APageWithoutLinesAnswersNothing)
{
    Prepared p = open(pageWith(""));
    ASSERT_TRUE(p.page);
    p.page->prepareForSelection();
    EXPECT_EQ(p.page->charPositionForPoint(QPointF(1, 1)), KVPDFNotFound);
    EXPECT_EQ(p.page->closestCharPositionForPoint(QPointF(1, 1)), 0);
    EXPECT_TRUE(p.page->baselinesFromCharPosition(1, 2).empty());
}

// ---- Column order -------------------------------------------------------------------------

TEST(SelectionColumns, AHeadingThenTheLeftColumnThenTheRight)
{
    KVPDFServices::Installer services(imagerServices());
    std::vector<Show> list{{72, 740, "A heading across the page over both columns of text"}};
    for (int k = 0; k < 12; ++k) {
        list.push_back({72, 680.0 - 14 * k, "left line " + QByteArray::number(k) + " of the text"});
        list.push_back({330, 680.0 - 14 * k, "right line " + QByteArray::number(k) + " of it"});
    }
    // One line runs across the gutter as one run per column.
    list.push_back({72, 512, "left across"});
    list.push_back({330, 512, "right across"});
    Prepared p = open(pageWith(shows(list)));
    ASSERT_TRUE(p.page);
    p.page->prepareForSearch();
    EXPECT_TRUE(p.page->pageString().startsWith(
        QStringLiteral("A heading across the page over both columns of text\nleft line 0 of the textright line 0 of it\n")));

    std::vector<QRectF> sections;
    p.page->prepareForSelection(&sections);
    ASSERT_GE(sections.size(), 3u);
    QString expected = QStringLiteral("A heading across the page over both columns of text\n");
    for (int k = 0; k < 12; ++k)
        expected += QStringLiteral("left line %1 of the text\n").arg(k);
    expected += QStringLiteral("left across\n");
    for (int k = 0; k < 12; ++k)
        expected += QStringLiteral("right line %1 of it\n").arg(k);
    expected += QStringLiteral("right across\n");
    EXPECT_EQ(p.page->pageString().toStdString(), expected.toStdString());
    // Lines and runs point at their new places.
    for (const QString &line : lineTexts(*p.page))
        EXPECT_TRUE(line.endsWith(QLatin1Char('\n'))) << line.toStdString();
    EXPECT_EQ(p.page->baselines().size(), 27u);
}

TEST(SelectionColumns, WithoutAnImagerTheOrderStays)
{
    std::vector<Show> list;
    for (int k = 0; k < 12; ++k) {
        list.push_back({72, 680.0 - 14 * k, "left " + QByteArray::number(k)});
        list.push_back({330, 680.0 - 14 * k, "right " + QByteArray::number(k)});
    }
    Prepared p = open(pageWith(shows(list)));
    ASSERT_TRUE(p.page);
    p.page->prepareForSearch();
    const QString searched = p.page->pageString();
    std::vector<QRectF> sections;
    p.page->prepareForSelection(&sections);
    EXPECT_TRUE(sections.empty());
    EXPECT_EQ(p.page->pageString(), searched);
}

// ---- Copies and resets --------------------------------------------------------------------

TEST(PreparedState, CopiesKeepItAndResetsForgetIt)
{
    Prepared p = open(pageWith(shows({{100, 700, "kept"}})));
    ASSERT_TRUE(p.page);
    const std::shared_ptr<KVPDFPage> unprepared = p.page->copy();
    EXPECT_FALSE(unprepared->preparedForSearch());
    EXPECT_TRUE(unprepared->needsSelectionPreparation());

    p.page->prepareForSelection();
    p.page->processAnnotations();
    EXPECT_FALSE(p.page->needsSelectionPreparation());
    const std::shared_ptr<KVPDFPage> copy = p.page->copy();
    EXPECT_TRUE(copy->preparedForSearch());
    EXPECT_TRUE(copy->preparedForSelection());
    EXPECT_EQ(copy->pageString(), QStringLiteral("kept\n"));
    ASSERT_EQ(copy->baselines().size(), 1u);
    EXPECT_EQ(copy->baselines()[0], p.page->baselines()[0]);
    EXPECT_EQ(copy->textBlobs().size(), 1u);

    p.page->resetContent();
    EXPECT_FALSE(p.page->preparedForSearch());
    EXPECT_FALSE(p.page->preparedForSelection());
    EXPECT_EQ(p.page->pageString(), QString());
    EXPECT_TRUE(p.page->baselines().empty());
    EXPECT_EQ(copy->pageString(), QStringLiteral("kept\n"));
    p.page->prepareForSearch();
    EXPECT_EQ(p.page->pageString(), QStringLiteral("kept\n"));
}

} // namespace
