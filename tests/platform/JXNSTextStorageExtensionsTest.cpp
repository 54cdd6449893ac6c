// The text-storage helpers: alpha strings written and applied (with what files may hold), sizes,
// alignment queries and changes, link labels and attribute removal.
#include "JXNSTextStorageExtensions.h"

#include <gtest/gtest.h>

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <functional>
#include <limits>
#include <optional>

using namespace JXNSTextStorageExtensions;

namespace {

QTextCharFormat colored(const QColor &color)
{
    QTextCharFormat format;
    format.setForeground(color);
    return format;
}

// The format of the character at `position`; for a paragraph break, the one Qt keeps for it.
QTextCharFormat formatAt(const QTextDocument &document, int position)
{
    QTextCursor cursor(const_cast<QTextDocument *>(&document));
    cursor.setPosition(position + 1);
    return cursor.charFormat();
}

std::optional<QColor> colorAt(const QTextDocument &document, int position)
{
    const QTextCharFormat format = formatAt(document, position);
    if (!format.hasProperty(QTextFormat::ForegroundBrush))
        return std::nullopt;
    return format.foreground().color().toRgb();
}

std::string describe(const std::optional<QColor> &color)
{
    return color ? color->name(QColor::HexArgb).toStdString() : "no colour";
}

} // namespace

TEST(JXNSTextStorageExtensionsTest, AlphaStrings)
{
    const QColor red(255, 0, 0);
    auto redText = [red](const QString &text) {
        return [text, red](QTextCursor &cursor) { cursor.insertText(text, colored(red)); };
    };
    auto plainText = [](const QString &text) { return [text](QTextCursor &cursor) { cursor.insertText(text); }; };
    struct Check {
        int position;
        std::optional<QColor> color;
    };
    struct Case {
        const char *name;
        std::function<void(QTextCursor &)> build;
        QString apply;
        QString expected;
        QList<Check> checks;
    };
    const Case cases[] = {
        {"opaque text gives the empty string, and applying it changes nothing", redText("hello"), "", "", {{0, red}, {4, red}}},
        {"groups in text order",
         redText("0123456789ab"),
         "0,5,0.50,9,2,0.25",
         "0,5,0.50,9,2,0.25",
         {{4, QColor(255, 0, 0, 128)}, {5, red}, {9, QColor(255, 0, 0, 64)}, {11, red}}},
        {"a group past the end stops, the earlier ones stay",
         redText("01234"),
         "0,2,0.50,3,3,0.25,4,1,0.10",
         "0,2,0.50",
         {{1, QColor(255, 0, 0, 128)}, {3, red}, {4, red}}},
        {"colourless text turns black with the alpha",
         plainText("abcd"),
         "1,2,0.40",
         "1,2,0.40",
         {{0, std::nullopt}, {1, QColor(0, 0, 0, 102)}, {2, QColor(0, 0, 0, 102)}, {3, std::nullopt}}},
        {"a longer colour run keeps its opacity outside the group",
         redText("0123456789"),
         "2,3,0.5",
         "2,3,0.50",
         {{1, red}, {2, QColor(255, 0, 0, 128)}, {5, red}}},
        {"a run across a paragraph break is one group",
         redText("ab\ncd"),
         "0,5,0.50",
         "0,5,0.50",
         {{2, QColor(255, 0, 0, 128)}, {4, QColor(255, 0, 0, 128)}}},
        {"a negative location stops", redText("abcd"), "0,1,0.50,-1,2,0.50", "0,1,0.50", {{1, red}}},
        {"a non-numeric location or length stops",
         redText("abcd"),
         "0,1,0.50,x,1,0.50,1,2x,0.5",
         "0,1,0.50",
         {{1, red}, {2, red}}},
        {"alphas are clamped to 0..1",
         plainText("abcd"),
         "0,1,1.70,1,1,-3",
         "1,1,0.00",
         {{0, QColor(0, 0, 0)}, {1, QColor(0, 0, 0, 0)}}},
        {"an incomplete last group is ignored", redText("abcd"), "0,1,0.50,2", "0,1,0.50", {{2, red}}},
        {"an empty group at the very end changes nothing", redText("abcd"), "4,0,0.50", "", {{3, red}}},
        {"a sum of location and length beyond int stops", redText("abcd"), "2147483647,2147483647,0.5", "", {{0, red}}},
    };
    for (const Case &testCase : cases) {
        SCOPED_TRACE(testCase.name);
        QTextDocument document;
        QTextCursor cursor(&document);
        testCase.build(cursor);
        applyAlphaString(document, testCase.apply);
        EXPECT_EQ(alphaString(document).toStdString(), testCase.expected.toStdString());
        for (const Check &check : testCase.checks)
            EXPECT_EQ(describe(colorAt(document, check.position)), describe(check.color)) << "at " << check.position;
    }
}

TEST(JXNSTextStorageExtensionsTest, NewSizeKeepsEachFaceAndLeavesFontlessRunsAlone)
{
    QTextDocument document;
    QTextCursor cursor(&document);
    QTextCharFormat helveticaBold;
    helveticaBold.setFontFamilies(QStringList{"Helvetica"});
    helveticaBold.setFontWeight(QFont::Bold);
    helveticaBold.setFontPointSize(12);
    QTextCharFormat timesItalic;
    timesItalic.setFontFamilies(QStringList{"Times"});
    timesItalic.setFontItalic(true);
    timesItalic.setFontPointSize(9);
    cursor.insertText("ab", helveticaBold);
    cursor.insertText("cd", timesItalic);
    cursor.insertText("ef", QTextCharFormat());
    cursor.insertBlock(QTextBlockFormat(), timesItalic);
    cursor.insertText("gh", timesItalic);

    setSizeOfTextTo(document, 20);
    for (int position : {0, 1}) {
        const QTextCharFormat format = formatAt(document, position);
        EXPECT_EQ(format.fontFamilies().toStringList(), QStringList{"Helvetica"});
        EXPECT_EQ(format.fontWeight(), QFont::Bold);
        EXPECT_FALSE(format.fontItalic());
        EXPECT_EQ(format.fontPointSize(), 20);
    }
    for (int position : {2, 3, 6, 7, 8}) {
        const QTextCharFormat format = formatAt(document, position);
        EXPECT_EQ(format.fontFamilies().toStringList(), QStringList{"Times"}) << position;
        EXPECT_TRUE(format.fontItalic()) << position;
        EXPECT_EQ(format.fontPointSize(), 20) << position;
    }
    for (int position : {4, 5}) {
        EXPECT_FALSE(formatAt(document, position).hasProperty(QTextFormat::FontPointSize)) << position;
        EXPECT_FALSE(formatAt(document, position).hasProperty(QTextFormat::FontFamilies)) << position;
    }

    for (float bad : {0.0f, -4.0f, std::numeric_limits<float>::quiet_NaN()}) {
        setSizeOfTextTo(document, bad);
        EXPECT_EQ(formatAt(document, 0).fontPointSize(), 20) << bad;
    }

    QTextDocument empty;
    setSizeOfTextTo(empty, 20);
    EXPECT_TRUE(empty.isEmpty());
}

TEST(JXNSTextStorageExtensionsTest, AlignmentQueries)
{
    auto block = [](std::optional<Qt::Alignment> alignment, double leftMargin = 0) {
        QTextBlockFormat format;
        if (alignment)
            format.setAlignment(*alignment);
        if (leftMargin)
            format.setLeftMargin(leftMargin);
        return format;
    };
    struct Case {
        const char *name;
        QList<QTextBlockFormat> paragraphs;
        int alignment;
        bool wraps;
    };
    const Case cases[] = {
        {"an empty text answers the default", {}, defaultAlignment(), false},
        {"paragraphs without a style answer the default", {QTextBlockFormat(), QTextBlockFormat()}, defaultAlignment(), false},
        {"the first style found, after one without",
         {QTextBlockFormat(), block(Qt::AlignHCenter), block(Qt::AlignRight)},
         2,
         true},
        {"a style without an alignment is natural", {block(std::nullopt, 10), block(Qt::AlignJustify)}, 4, true},
        {"left and natural need no wrap", {block(Qt::AlignLeft), block(std::nullopt, 10)}, 0, false},
        {"right", {block(Qt::AlignRight)}, 1, true},
    };
    for (const Case &testCase : cases) {
        SCOPED_TRACE(testCase.name);
        QTextDocument document;
        QTextCursor cursor(&document);
        for (qsizetype i = 0; i < testCase.paragraphs.size(); ++i) {
            if (i == 0)
                cursor.setBlockFormat(testCase.paragraphs[i]);
            else
                cursor.insertBlock(testCase.paragraphs[i]);
            cursor.insertText(QStringLiteral("text"));
        }
        EXPECT_EQ(alignment(document), testCase.alignment);
        EXPECT_EQ(containsWrapNeedingAlignment(document), testCase.wraps);
    }

    EXPECT_EQ(defaultAlignment(), 0); // the shipped strings are English
    const std::pair<const char *, int> languages[] = {{"en", 0},    {"de", 0}, {"ar", 1}, {"he", 1},
                                                      {"fa_IR", 1}, {"", 0},   {"xx", 0}};
    for (const auto &[code, expected] : languages)
        EXPECT_EQ(defaultAlignmentForLanguage(QString::fromLatin1(code)), expected) << code;
}

// Each paragraph keeps its own tail indent and spacing; a paragraph without a style gains the
// alignment without spreading its lack of style to the others.
TEST(JXNSTextStorageExtensionsTest, NewAlignmentKeepsEveryParagraphsOtherProperties)
{
    QTextDocument document;
    QTextCursor cursor(&document);
    QTextBlockFormat first;
    first.setLeftMargin(20);
    first.setRightMargin(10);
    first.setTopMargin(4);
    QTextBlockFormat third;
    third.setAlignment(Qt::AlignRight);
    third.setLeftMargin(15);
    third.setTextIndent(5);
    third.setRightMargin(30);
    third.setBottomMargin(8);
    third.setTabPositions({QTextOption::Tab(40, QTextOption::LeftTab)});
    cursor.setBlockFormat(first);
    cursor.insertText("first");
    cursor.insertBlock(QTextBlockFormat());
    cursor.insertText("no style");
    cursor.insertBlock(third);
    cursor.insertText("third");

    applyAlignment(document, kAlignmentCenter);
    const QTextBlockFormat one = document.findBlockByNumber(0).blockFormat();
    const QTextBlockFormat two = document.findBlockByNumber(1).blockFormat();
    const QTextBlockFormat three = document.findBlockByNumber(2).blockFormat();
    for (const QTextBlockFormat &format : {one, two, three}) {
        EXPECT_EQ(format.alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
        EXPECT_EQ(format.leftMargin(), 0);
    }
    EXPECT_EQ(one.rightMargin(), 10);
    EXPECT_EQ(one.topMargin(), 4);
    EXPECT_EQ(one.textIndent(), 20); // the first line stays where it was
    EXPECT_EQ(two.rightMargin(), 0);
    EXPECT_EQ(two.textIndent(), 0);
    EXPECT_EQ(three.rightMargin(), 30);
    EXPECT_EQ(three.bottomMargin(), 8);
    EXPECT_EQ(three.textIndent(), 20);
    EXPECT_EQ(three.tabPositions().size(), 1);
    EXPECT_EQ(alignment(document), kAlignmentCenter);

    applyAlignment(document, kAlignmentNatural);
    EXPECT_EQ(alignment(document), kAlignmentNatural);
    EXPECT_FALSE(containsWrapNeedingAlignment(document));
    applyAlignment(document, 7);
    EXPECT_EQ(alignment(document), kAlignmentNatural);
    EXPECT_EQ(document.findBlockByNumber(2).blockFormat().rightMargin(), 30);
}

TEST(JXNSTextStorageExtensionsTest, LinkLabelCarriesLinkColourUnderlineAndFont)
{
    QFont font(QStringLiteral("Helvetica"));
    font.setPointSizeF(13);
    font.setBold(true);
    font.setItalic(true);
    const QTextDocumentFragment label =
        attributedStringWithLink(QStringLiteral("https://example.com/"), QStringLiteral("Example"), QColor(0, 0, 255), font);
    QTextDocument document;
    QTextCursor(&document).insertFragment(label);
    EXPECT_EQ(document.toPlainText(), QStringLiteral("Example"));
    for (int position : {0, 6}) {
        const QTextCharFormat format = formatAt(document, position);
        EXPECT_TRUE(format.isAnchor());
        EXPECT_EQ(format.anchorHref(), QStringLiteral("https://example.com/"));
        EXPECT_EQ(format.foreground().color(), QColor(0, 0, 255));
        EXPECT_TRUE(format.fontUnderline());
        EXPECT_EQ(format.fontFamilies().toStringList(), QStringList{"Helvetica"});
        EXPECT_EQ(format.fontPointSize(), 13);
        EXPECT_EQ(format.fontWeight(), QFont::Bold);
        EXPECT_TRUE(format.fontItalic());
    }
}

TEST(JXNSTextStorageExtensionsTest, RemovedAttributeLeavesEveryRunAndParagraph)
{
    QTextDocument document;
    QTextCursor cursor(&document);
    QTextCharFormat format = colored(Qt::red);
    format.setFontUnderline(true);
    QTextBlockFormat paragraph;
    paragraph.setRightMargin(12);
    cursor.setBlockFormat(paragraph);
    cursor.insertText("ab", format);
    cursor.insertText("cd", colored(Qt::blue));
    cursor.insertBlock(paragraph, format);
    cursor.insertText("ef", format);

    removeAttribute(document, QTextFormat::ForegroundBrush);
    removeAttribute(document, QTextFormat::BlockRightMargin);
    for (int position = 0; position < document.characterCount() - 1; ++position) {
        EXPECT_FALSE(formatAt(document, position).hasProperty(QTextFormat::ForegroundBrush)) << position;
        EXPECT_EQ(formatAt(document, position).fontUnderline(), position < 2 || position > 3) << position;
    }
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
        EXPECT_FALSE(block.blockFormat().hasProperty(QTextFormat::BlockRightMargin));
    EXPECT_TRUE(alphaString(document).isEmpty());
}

namespace {

QString describeParagraph(const QTextBlockFormat &format)
{
    QStringList tabs;
    for (const QTextOption::Tab &tab : format.tabPositions())
        tabs << QStringLiteral("%1/%2").arg(tab.position).arg(int(tab.type));
    return QStringLiteral("paragraph align %1 head %2 first %3 tail %4 before %5 after %6 tabs %7")
        .arg(int(format.alignment() & Qt::AlignHorizontal_Mask))
        .arg(format.leftMargin())
        .arg(format.leftMargin() + format.textIndent())
        .arg(format.rightMargin())
        .arg(format.topMargin())
        .arg(format.bottomMargin())
        .arg(tabs.join(u' '));
}

QString describeCharacters(const QTextCharFormat &format)
{
    auto brush = [&format](QTextFormat::Property property) {
        return format.hasProperty(property) && format.brushProperty(property).style() != Qt::NoBrush
                   ? format.brushProperty(property).color().toRgb().name(QColor::HexArgb)
                   : QStringLiteral("none");
    };
    const QStringList families = format.fontFamilies().toStringList();
    return QStringLiteral("%1 %2pt%3%4%5 fg %6 bg %7 link %8")
        .arg(families.value(0))
        .arg(format.fontPointSize())
        .arg(format.fontWeight() >= QFont::Bold ? " bold" : "")
        .arg(format.fontItalic() ? " italic" : "")
        .arg(format.fontUnderline() ? " underline" : "")
        .arg(brush(QTextFormat::ForegroundBrush), brush(QTextFormat::BackgroundBrush),
             format.isAnchor() ? format.anchorHref() : QStringLiteral("none"));
}

// Paragraph by paragraph, the paragraph's properties and then each run as its text and its
// formats, fragments of equal formats joined (how Qt splits a run into fragments is its own).
QStringList describeRuns(const QTextDocument &document)
{
    QStringList lines;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        lines << describeParagraph(block.blockFormat());
        QString format, text;
        for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it) {
            const QString next = describeCharacters(it.fragment().charFormat());
            if (next != format && !text.isEmpty()) {
                lines << "  \"" + text + "\" " + format;
                text.clear();
            }
            format = next;
            text += it.fragment().text();
        }
        if (!text.isEmpty())
            lines << "  \"" + text + "\" " + format;
    }
    return lines;
}

} // namespace

TEST(JXNSTextStorageExtensionsTest, StoredTextComesBackRunByRun)
{
    QTextDocument document;
    QTextCursor cursor(&document);
    auto run = [&cursor](const QString &text, const QString &family, double size, auto &&...edits) {
        QTextCharFormat format;
        format.setFontFamilies(QStringList{family});
        format.setFontPointSize(size);
        (edits(format), ...);
        cursor.insertText(text, format);
    };
    auto paragraph = [](Qt::Alignment alignment) {
        QTextBlockFormat format;
        format.setAlignment(alignment);
        return format;
    };
    auto bold = [](QTextCharFormat &format) { format.setFontWeight(QFont::Bold); };
    auto italic = [](QTextCharFormat &format) { format.setFontItalic(true); };
    auto underline = [](QTextCharFormat &format) { format.setFontUnderline(true); };
    auto color = [](QColor c) { return [c](QTextCharFormat &format) { format.setForeground(c); }; };
    auto background = [](QColor c) { return [c](QTextCharFormat &format) { format.setBackground(c); }; };

    QTextBlockFormat indented = paragraph(Qt::AlignLeft);
    indented.setLeftMargin(18);
    indented.setTextIndent(-9);
    indented.setRightMargin(12);
    indented.setTopMargin(3);
    indented.setBottomMargin(6);
    indented.setTabPositions({QTextOption::Tab(72, QTextOption::LeftTab), QTextOption::Tab(144, QTextOption::RightTab)});
    cursor.setBlockFormat(indented);
    run("Plain then ", "Helvetica", 12);
    run("bold", "Helvetica", 12, bold);
    run(" and\titalic", "Times New Roman", 14.5, italic);
    run(" underlined half-red", "Times New Roman", 14, underline, color(QColor(255, 0, 0, 128)));
    run(" on yellow", "Times New Roman", 14, color(QColor(0, 128, 0)), background(QColor(255, 255, 0)));
    cursor.insertBlock(paragraph(Qt::AlignHCenter));
    run("Centred with ", "Helvetica", 10, color(QColor(0, 0, 255, 64)));
    run("a link", "Helvetica", 10, underline, color(QColor(0, 0, 255)), [](QTextCharFormat &format) {
        format.setAnchor(true);
        format.setAnchorHref(QStringLiteral("https://example.com/page?x=1&y=2"));
    });
    run(".", "Helvetica", 10);
    cursor.insertBlock(paragraph(Qt::AlignRight));
    run(QString::fromUtf8("Right: \xF0\x9F\x98\x80"
                          "42 caf\xC3\xA9"),
        "Times New Roman", 12, bold, italic);
    cursor.insertBlock(paragraph(Qt::AlignLeft));
    cursor.insertBlock(paragraph(Qt::AlignJustify));
    run("Justified {braces} and \\ end", "Helvetica", 9);

    const QByteArray stored = getTextData(document);
    const QString alpha = alphaString(document);
    EXPECT_EQ(alpha.toStdString(), "26,20,0.50,57,13,0.25");
    const std::unique_ptr<QTextDocument> read = textStorageWithData(stored);
    ASSERT_TRUE(read);
    applyAlphaString(*read, alpha);

    EXPECT_EQ(read->toPlainText(), document.toPlainText());
    EXPECT_EQ(describeRuns(*read).join(u'\n').toStdString(), describeRuns(document).join(u'\n').toStdString())
        << stored.constData();
    EXPECT_EQ(alphaString(*read), alpha);
}
