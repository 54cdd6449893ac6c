// The rich-text reader: text and first-character attributes from what real writers produce,
// and bad data that must neither crash nor leak tables or skipped groups into the text. Then the
// whole text storage: runs and paragraphs from each writer's dialect, and hostile input that
// must end with the text read so far and a report that says what went wrong.
#include "KVRTF.h"
#include "KVRTFReader.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QFile>
#include <QFont>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>

#include <optional>
#include <vector>

namespace {
struct Expected {
    QString text;
    QString fontName;
    double fontSize = 12.0;
    std::optional<KVColor> color;
};

void expectText(const QByteArray &rtf, const Expected &expected)
{
    const std::optional<KVRTFText> read = KVRTFReader::read(rtf);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->plainText, expected.text);
    EXPECT_EQ(read->fontName, expected.fontName);
    EXPECT_DOUBLE_EQ(read->fontSize, expected.fontSize);
    EXPECT_EQ(read->color, expected.color);
}
}

TEST(KVRTFReaderTest, WritersTextAndFirstCharacterAttributes)
{
    struct Case {
        const char *name;
        QByteArray rtf;
        Expected expected;
    };
    const Case cases[] = {
        {"desktop text view: tables, expanded colours, backslash line end",
         "{\\rtf1\\ansi\\ansicpg1252\\cocoartf2639\n"
         "\\cocoatextscaling0\\cocoaplatform0{\\fonttbl\\f0\\fswiss\\fcharset0 Helvetica-Bold;\\f1\\fnil\\fcharset0 "
         "Menlo-Regular;}\n"
         "{\\colortbl;\\red255\\green255\\blue255;\\red0\\green0\\blue255;}\n"
         "{\\*\\expandedcolortbl;;\\csgenericrgb\\c0\\c0\\c100000;}\n"
         "\\pard\\tx566\\pardirnatural\\partightenfactor0\n\n"
         "\\f0\\b\\fs36 \\cf2 Hello \n\\f1\\fs24 \\cf0 World\\\nsecond line}",
         {"Hello World\nsecond line", "Helvetica-Bold", 18.0, KVColor::rgb(0, 0, 1)}},
        {"word processor: font groups, generator, Unicode with fallback, hex escapes",
         "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\froman\\fcharset0 Times New Roman;}{\\f1\\fswiss Arial;}}\n"
         "{\\*\\generator Riched20 10.0.19041}\\viewkind4\\uc1\\pard\\f1\\fs20 Caf\\'e9 \\u8364?5\\'85\\par\n}",
         {QString::fromUtf8("Café €5…\n"), "Arial", 10.0, std::nullopt}},
        {"the default font serves text without \\f",
         "{\\rtf1\\deff1{\\fonttbl{\\f0 Symbol;}{\\f1 Courier}}x}", {"x", "Courier", 12.0, std::nullopt}},
        {"a font number the table lacks names no font", "{\\rtf1{\\fonttbl\\f0 Helvetica;}\\f7 x}", {"x", "", 12.0, std::nullopt}},
        {"destinations without document text are skipped, a field shows its result",
         "{\\rtf1{\\stylesheet{\\s0 Normal;}}{\\info{\\title Title}{\\author A}}{\\*\\unknownword hidden}"
         "{\\field{\\*\\fldinst HYPERLINK \"http://x\"}{\\fldrslt link}}{\\header head}.}",
         {"link.", "", 12.0, std::nullopt}},
        {"attributes are the first character's, not the last's",
         "{\\rtf1{\\fonttbl\\f0 A;\\f1 B;}{\\colortbl;\\red255\\green0\\blue0;\\red0\\green255\\blue0;}"
         "{\\f1\\fs30\\cf2 a}\\f0\\fs10\\cf1 b}",
         {"ab", "B", 15.0, KVColor::rgb(0, 1, 0)}},
        {"\\plain returns to the defaults", "{\\rtf1{\\colortbl;\\red1\\green2\\blue3;}\\fs40\\cf1\\plain x}",
         {"x", "", 12.0, std::nullopt}},
        {"a group's attributes end with it", "{\\rtf1{\\fs40 }x}", {"x", "", 12.0, std::nullopt}},
        {"symbols and named characters",
         "{\\rtf1 a\\{b\\}c\\\\d\\~e\\tab f\\emdash g\\lquote h\\rquote\\-i\\_j}",
         {QString::fromUtf8("a{b}c\\d\u00a0e\tf\u2014g\u2018h\u2019i\u2011j"), "", 12.0, std::nullopt}},
        {"negative \\u values make a surrogate pair; \\uc0 skips nothing",
         "{\\rtf1\\uc0\\u-10179\\u-8704 x}", {QString::fromUtf8("\U0001F600x"), "", 12.0, std::nullopt}},
        {"\\uc2 skips two fallback characters, a hex escape counting as one",
         "{\\rtf1\\uc2\\u252\\'fcu after}", {QString::fromUtf8("\u00fc after"), "", 12.0, std::nullopt}},
        {"\\bin data is no text even when it holds braces", "{\\rtf1 a\\bin3 }{}b}", {"ab", "", 12.0, std::nullopt}},
        {"raw bytes above 0x7F are Windows-1252", "{\\rtf1 \x80 \xe9}", {QString::fromUtf8("€ é"), "", 12.0, std::nullopt}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        expectText(c.rtf, c.expected);
    }
}

TEST(KVRTFReaderTest, BadDataEndsCleanly)
{
    struct Case {
        const char *name;
        QByteArray rtf;
        Expected expected;
    };
    const QByteArray deep = "{\\rtf1 " + QByteArray(200000, '{') + "x";
    const Case cases[] = {
        {"cut short inside a group", "{\\rtf1 abc{\\fs40 de", {"abcde", "", 12.0, std::nullopt}},
        {"text after the outermost group is not read", "{\\rtf1 a}b{c}", {"a", "", 12.0, std::nullopt}},
        {"nesting far past the depth limit", deep, {"x", "", 12.0, std::nullopt}},
        {"\\bin longer than the data", "{\\rtf1 a\\bin999999999 bcd}", {"a", "", 12.0, std::nullopt}},
        {"a size parameter far out of range is clamped", "{\\rtf1\\fs99999999999999 x}",
         {"x", "", double(INT32_MAX) / 2.0, std::nullopt}},
        {"a negative or zero size keeps the default", "{\\rtf1\\fs-4 x\\fs0 y}", {"xy", "", 12.0, std::nullopt}},
        {"a colour index past the table is the automatic colour", "{\\rtf1{\\colortbl;\\red9\\green9\\blue9;}\\cf5 x}",
         {"x", "", 12.0, std::nullopt}},
        {"an escape that is not hex", "{\\rtf1 \\'zz}", {"zz", "", 12.0, std::nullopt}},
        {"an escape cut by the end", "{\\rtf1 a\\'e", {"a", "", 12.0, std::nullopt}},
        {"a backslash at the very end", "{\\rtf1 a\\", {"a", "", 12.0, std::nullopt}},
        {"an overlong control word stops at 32 letters",
         "{\\rtf1\\" + QByteArray(40, 'a') + " x}", {"aaaaaaaa x", "", 12.0, std::nullopt}},
        {"a \\uc far out of range skips no more than the group", "{\\rtf1{\\uc999999\\u65 bcd}e}",
         {"Ae", "", 12.0, std::nullopt}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        expectText(c.rtf, c.expected);
    }
}

TEST(KVRTFReaderTest, DataThatIsNotRtfReadsAsNothing)
{
    for (const QByteArray &data : {QByteArray(), QByteArray("plain text"), QByteArray("{\\rt"), QByteArray(" {\\rtf1 x}")}) {
        SCOPED_TRACE(data.constData());
        EXPECT_FALSE(KVRTFReader::read(data).has_value());
    }
}

namespace {
struct TextRun {
    QString text;
    QTextCharFormat format;
};

struct Paragraph {
    QString text;
    QTextBlockFormat format;
    std::vector<TextRun> runs;
};

std::vector<Paragraph> paragraphsOf(const QTextDocument &document)
{
    std::vector<Paragraph> paragraphs;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        Paragraph paragraph{block.text(), block.blockFormat(), {}};
        for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it)
            paragraph.runs.push_back({it.fragment().text(), it.fragment().charFormat()});
        paragraphs.push_back(paragraph);
    }
    return paragraphs;
}

QString familyOf(const QTextCharFormat &format)
{
    const QStringList families = format.fontFamilies().toStringList();
    return families.isEmpty() ? QString() : families.first();
}

QByteArray dataFile(const QString &name)
{
    QFile file(QStringLiteral(FOLIVO_TEST_DATA "/rtf/") + name);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
    return file.readAll();
}
}

TEST(KVRTFDocumentTest, TextSystemDialectKeepsFontSizeColourAndAlignment)
{
    QTextDocument document;
    const kvrtf::ReadReport report = kvrtf::read(dataFile(QStringLiteral("text-system.rtf")), document);
    EXPECT_TRUE(report.complete) << report.problem.toStdString();
    const std::vector<Paragraph> paragraphs = paragraphsOf(document);
    ASSERT_EQ(paragraphs.size(), 2u);

    const Paragraph &centred = paragraphs[0];
    EXPECT_EQ(centred.text, QString::fromUtf8("Café naïve €"));
    EXPECT_EQ(centred.format.alignment(), Qt::AlignHCenter);
    const QList<QTextOption::Tab> tabs = centred.format.tabPositions();
    ASSERT_EQ(tabs.size(), 4);
    EXPECT_DOUBLE_EQ(tabs[1].position, 1133 / 20.0);
    EXPECT_EQ(tabs[2].type, QTextOption::LeftTab);
    EXPECT_EQ(tabs[3].type, QTextOption::RightTab);
    ASSERT_EQ(centred.runs.size(), 1u);
    const QTextCharFormat &helvetica = centred.runs[0].format;
    EXPECT_EQ(familyOf(helvetica), "Helvetica");
    EXPECT_DOUBLE_EQ(helvetica.fontPointSize(), 14.0);
    EXPECT_EQ(helvetica.foreground().color(), QColor(204, 0, 51));
    EXPECT_FALSE(helvetica.hasProperty(QTextFormat::FontWeight));

    const Paragraph &right = paragraphs[1];
    EXPECT_EQ(right.text, "Right");
    EXPECT_EQ(right.format.alignment(), Qt::AlignRight);
    ASSERT_EQ(right.runs.size(), 1u);
    const QTextCharFormat &menlo = right.runs[0].format;
    EXPECT_EQ(familyOf(menlo), "Menlo");
    EXPECT_EQ(menlo.fontWeight(), QFont::Bold);
    EXPECT_TRUE(menlo.fontItalic());
    EXPECT_DOUBLE_EQ(menlo.fontPointSize(), 10.0);
    EXPECT_FALSE(menlo.hasProperty(QTextFormat::ForegroundBrush)) << "\\cf0 is the automatic colour";
}

// The office suite's RTF made from a hand-written flat ODT: its font table names faces with
// nested alternatives, and its paragraphs restate their style's properties inline.
TEST(KVRTFDocumentTest, OfficeSuiteRtfKeepsFontsColoursAndAlignment)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QProcess soffice;
    soffice.start(QStringLiteral("soffice"),
                  {QStringLiteral("-env:UserInstallation=file://") + folder.filePath(QStringLiteral("profile")),
                   QStringLiteral("--headless"), QStringLiteral("--convert-to"), QStringLiteral("rtf"),
                   QStringLiteral("--outdir"), folder.path(),
                   QStringLiteral(FOLIVO_TEST_DATA "/rtf/office-formats.fodt")});
    ASSERT_TRUE(soffice.waitForFinished(120000));
    ASSERT_EQ(soffice.exitCode(), 0) << soffice.readAllStandardError().toStdString();
    QFile converted(folder.filePath(QStringLiteral("office-formats.rtf")));
    ASSERT_TRUE(converted.open(QIODevice::ReadOnly));

    QTextDocument document;
    const kvrtf::ReadReport report = kvrtf::read(converted.readAll(), document);
    EXPECT_TRUE(report.complete) << report.problem.toStdString();
    const std::vector<Paragraph> paragraphs = paragraphsOf(document);
    // The suite ends its last paragraph with \par too, which leaves an empty one after it.
    ASSERT_GE(paragraphs.size(), 2u);
    EXPECT_EQ(document.toPlainText().trimmed(), "Centred serif\nJustified mono");

    struct Expected {
        const char *text;
        Qt::Alignment alignment;
        const char *family;
        double size;
        bool bold;
        bool italic;
        QColor color;
    };
    const Expected expected[] = {
        {"Centred serif", Qt::AlignHCenter, "Liberation Serif", 18.0, true, false, QColor(255, 0, 0)},
        {"Justified mono", Qt::AlignJustify, "Liberation Mono", 10.0, false, true, QColor(0, 0, 255)},
    };
    for (size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(expected[i].text);
        const Paragraph &paragraph = paragraphs[i];
        EXPECT_EQ(paragraph.text, expected[i].text);
        EXPECT_EQ(paragraph.format.alignment(), expected[i].alignment);
        ASSERT_EQ(paragraph.runs.size(), 1u);
        const QTextCharFormat &format = paragraph.runs[0].format;
        EXPECT_EQ(familyOf(format), expected[i].family);
        EXPECT_DOUBLE_EQ(format.fontPointSize(), expected[i].size);
        EXPECT_EQ(format.fontWeight() >= QFont::Bold, expected[i].bold);
        EXPECT_EQ(format.fontItalic(), expected[i].italic);
        EXPECT_EQ(format.foreground().color(), expected[i].color);
    }
}

TEST(KVRTFDocumentTest, RunsCarryTheirFormats)
{
    QTextDocument document;
    const QByteArray rtf = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Helvetica-BoldOblique;}{\\f1\\fnil Arial-ItalicMT;}"
                           "{\\f2 Liberation Sans;}{\\f3 Avenir-Heavy;}{\\f4 Foo-Bar;}}"
                           "{\\colortbl;\\red255\\green0\\blue0;;\\red0\\green0\\blue255;}\n"
                           "\\f0 a\\plain\\f1 b\\plain\\f2\\b c\\b0\\f3 d\\plain\\f4 e\\plain\\f9 f\\plain g"
                           "\\ul h\\ulnone i\\uld j\\ul0 \\cf1\\cb3 k\\cf2\\cb0 l\\highlight1 m\\plain\\fs21 n}";
    EXPECT_TRUE(kvrtf::read(rtf, document).complete);
    const std::vector<Paragraph> paragraphs = paragraphsOf(document);
    ASSERT_EQ(paragraphs.size(), 1u);
    ASSERT_EQ(paragraphs[0].text, "abcdefghijklmn");

    struct Expected {
        const char *family;
        int weight;
        bool italic;
        bool underline;
        std::optional<QColor> foreground;
        std::optional<QColor> background;
        double size;
    };
    const std::optional<QColor> none;
    const Expected expected[] = {
        {"Helvetica", QFont::Bold, true, false, none, none, 0},          // a: PostScript face
        {"Arial", QFont::Normal, true, false, none, none, 0},            // b: "MT" suffix
        {"Liberation Sans", QFont::Bold, false, false, none, none, 0},   // c: \b on a family
        {"Avenir", QFont::Black, false, false, none, none, 0},           // d: a face's weight
        {"Foo-Bar", QFont::Normal, false, false, none, none, 0},         // e: not a face suffix
        {"", QFont::Normal, false, false, none, none, 0},                // f: not in the table
        {"", QFont::Normal, false, false, none, none, 0},                // g: \deff is not applied
        {"", QFont::Normal, false, true, none, none, 0},                 // h
        {"", QFont::Normal, false, false, none, none, 0},                // i: \ulnone
        {"", QFont::Normal, false, true, none, none, 0},                 // j: dotted is underlined
        {"", QFont::Normal, false, false, QColor(255, 0, 0), QColor(0, 0, 255), 0}, // k: \ul0
        {"", QFont::Normal, false, false, none, none, 0},                // l: automatic entry
        {"", QFont::Normal, false, false, none, QColor(255, 0, 0), 0},   // m: \highlight
        {"", QFont::Normal, false, false, none, none, 10.5},             // n
    };
    QString text;
    std::vector<QTextCharFormat> formats;
    for (const TextRun &run : paragraphs[0].runs)
        for (QChar c : run.text) {
            text.append(c);
            formats.push_back(run.format);
        }
    ASSERT_EQ(formats.size(), std::size(expected));
    for (size_t i = 0; i < formats.size(); ++i) {
        SCOPED_TRACE(QString(text.at(qsizetype(i))).toStdString());
        const QTextCharFormat &format = formats[i];
        EXPECT_EQ(familyOf(format), expected[i].family);
        EXPECT_EQ(format.fontWeight(), expected[i].weight);
        EXPECT_EQ(format.fontItalic(), expected[i].italic);
        EXPECT_EQ(format.fontUnderline(), expected[i].underline);
        EXPECT_EQ(format.hasProperty(QTextFormat::ForegroundBrush), expected[i].foreground.has_value());
        if (expected[i].foreground)
            EXPECT_EQ(format.foreground().color(), *expected[i].foreground);
        EXPECT_EQ(format.hasProperty(QTextFormat::BackgroundBrush), expected[i].background.has_value());
        if (expected[i].background)
            EXPECT_EQ(format.background().color(), *expected[i].background);
        EXPECT_EQ(format.hasProperty(QTextFormat::FontPointSize), expected[i].size > 0);
        if (expected[i].size > 0)
            EXPECT_DOUBLE_EQ(format.fontPointSize(), expected[i].size);
    }
}

TEST(KVRTFDocumentTest, ParagraphsTakeThePropertiesInForceAtTheirEnd)
{
    QTextDocument document;
    const QByteArray rtf = "{\\rtf1\\pard\\qj\\li720\\ri360\\fi-180\\sb120\\sa240\\tqc\\tx1440\\tx2880 one\\tab two"
                           "\\line three\\par\\pard\\ql\\par\\pard first \\qc\\par\n"
                           "\\pard\\qr\\li99999999 last}";
    EXPECT_TRUE(kvrtf::read(rtf, document).complete);
    const std::vector<Paragraph> paragraphs = paragraphsOf(document);
    ASSERT_EQ(paragraphs.size(), 4u);

    const QTextBlockFormat &first = paragraphs[0].format;
    EXPECT_EQ(paragraphs[0].text, QStringLiteral("one\ttwo") + QChar::LineSeparator + QStringLiteral("three"));
    EXPECT_EQ(first.alignment(), Qt::AlignJustify);
    EXPECT_DOUBLE_EQ(first.leftMargin(), 36.0);
    EXPECT_DOUBLE_EQ(first.rightMargin(), 18.0);
    EXPECT_DOUBLE_EQ(first.textIndent(), -9.0);
    EXPECT_DOUBLE_EQ(first.topMargin(), 6.0);
    EXPECT_DOUBLE_EQ(first.bottomMargin(), 12.0);
    const QList<QTextOption::Tab> tabs = first.tabPositions();
    ASSERT_EQ(tabs.size(), 2);
    EXPECT_EQ(tabs[0].type, QTextOption::CenterTab);
    EXPECT_DOUBLE_EQ(tabs[0].position, 72.0);
    EXPECT_EQ(tabs[1].type, QTextOption::LeftTab);

    // \pard forgets everything; what it does not restate stays unset.
    EXPECT_EQ(paragraphs[1].text, "");
    EXPECT_EQ(paragraphs[1].format.alignment(), Qt::AlignLeft);
    EXPECT_FALSE(paragraphs[1].format.hasProperty(QTextFormat::BlockLeftMargin));
    EXPECT_TRUE(paragraphs[1].format.tabPositions().isEmpty());
    EXPECT_EQ(paragraphs[2].text, "first ");
    EXPECT_EQ(paragraphs[2].format.alignment(), Qt::AlignHCenter) << "set after the text, before \\par";

    // The last paragraph has no \par; an indent beyond any page is held to one.
    EXPECT_EQ(paragraphs[3].text, "last");
    EXPECT_EQ(paragraphs[3].format.alignment(), Qt::AlignRight);
    EXPECT_DOUBLE_EQ(paragraphs[3].format.leftMargin(), 31680 / 20.0);
}

TEST(KVRTFDocumentTest, HyperlinkFieldsBecomeLinks)
{
    struct Case {
        const char *name;
        QByteArray rtf;
        QString href;
    };
    const Case cases[] = {
        {"desktop text system", "{\\rtf1 a{\\field{\\*\\fldinst{HYPERLINK \"https://example.com/x?a=1\"}}"
                                "{\\fldrslt \\ul link}}b}", "https://example.com/x?a=1"},
        {"office suite", "{\\rtf1 a{\\field{\\*\\fldinst HYPERLINK \"http://example.org/\" }{\\fldrslt {\\rtlch link}}}b}",
         "http://example.org/"},
        {"unquoted, with a target switch", "{\\rtf1 a{\\field{\\*\\fldinst HYPERLINK \\\\t \"_blank\" http://e.x/}"
                                           "{\\fldrslt link}}b}", "http://e.x/"},
        {"a bookmark", "{\\rtf1 a{\\field{\\*\\fldinst HYPERLINK \\\\l \"part2\"}{\\fldrslt link}}b}", "#part2"},
        {"another kind of field shows its result only", "{\\rtf1 a{\\field{\\*\\fldinst PAGE}{\\fldrslt link}}b}", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QTextDocument document;
        EXPECT_TRUE(kvrtf::read(c.rtf, document).complete);
        ASSERT_EQ(document.toPlainText(), "alinkb");
        const std::vector<Paragraph> paragraphs = paragraphsOf(document);
        for (const TextRun &run : paragraphs[0].runs) {
            const bool inLink = run.text == "link";
            EXPECT_EQ(run.format.isAnchor(), inLink && !c.href.isEmpty()) << run.text.toStdString();
            EXPECT_EQ(run.format.anchorHref(), inLink ? c.href : QString()) << run.text.toStdString();
        }
    }
}

TEST(KVRTFDocumentTest, BadDataKeepsTheTextReadSoFarAndSaysSo)
{
    struct Case {
        const char *name;
        QByteArray rtf;
        QString text;
        bool complete;
    };
    const QByteArray nested = "{\\rtf1 a" + QByteArray(10000, '{') + "b" + QByteArray(10000, '}') + "c}";
    const QByteArray longWord = "{\\rtf1 a\\" + QByteArray(1 << 20, 'x') + " b}";
    const QByteArray longNumber = "{\\rtf1\\fs" + QByteArray(1 << 20, '9') + " a}";
    const Case cases[] = {
        {"a group left open", "{\\rtf1 a{\\b b", "ab", false},
        {"a brace closing more than was opened", "{\\rtf1 a}}b}", "a", true},
        {"10,000 nested groups", nested, "abc", false},
        {"a \\u cut off", "{\\rtf1 a\\u", "a", false},
        {"a \\u without its number", "{\\rtf1 a\\u-}", "a-", true},
        {"\\u-1", "{\\rtf1\\uc0 \\u-1 a}", QString(QChar(0xFFFF)) + "a", true},
        {"\\u beyond 16 bits", "{\\rtf1\\uc0\\u-99999 a\\u65536 b}", QString::fromUtf8("\uFFFDa\uFFFDb"), true},
        {"\\'zz", "{\\rtf1 \\'zz}", "zz", false},
        {"a control word of a megabyte", longWord, "a" + QString(qsizetype((1 << 20) - 32), u'x') + " b", false},
        {"a parameter of a megabyte", longNumber, "a", true},
        {"\\bin with a huge count", "{\\rtf1 a\\bin2147483647 bc}", "a", false},
        {"\\bin with a negative count", "{\\rtf1 a\\bin-5 b}", "ab", true},
        {"characters the storage treats as structure", "{\\rtf1\\uc0 a\\u13 b\\u8233 c\\u-560 d}", "a\nb\nc\nd", true},
        {"not RTF at all", "plain words", "", false},
        {"nothing", "", "", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QTextDocument document(QStringLiteral("what was there before"));
        const kvrtf::ReadReport report = kvrtf::read(c.rtf, document);
        EXPECT_EQ(document.toPlainText(), c.text);
        EXPECT_EQ(report.complete, c.complete) << report.problem.toStdString();
        EXPECT_EQ(report.problem.isEmpty(), report.complete);
    }
}

TEST(KVRTFDocumentTest, HugeSizesAreHeldToWhatRtfCanSay)
{
    QTextDocument document;
    EXPECT_TRUE(kvrtf::read("{\\rtf1\\fs99999999 a}", document).complete);
    EXPECT_DOUBLE_EQ(document.begin().begin().fragment().charFormat().fontPointSize(), 32767 / 2.0);
}
