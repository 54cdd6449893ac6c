// The RTF writer: the words other readers depend on, and what two other programs make of our
// output. Text runs are built through QTextCursor, as the text views build them.
#include "KVRTF.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <functional>

namespace {

QTextCharFormat face(const QString &family, double size, bool bold = false, bool italic = false)
{
    QTextCharFormat format;
    format.setFontFamilies(QStringList{family});
    format.setFontPointSize(size);
    if (bold)
        format.setFontWeight(QFont::Bold);
    format.setFontItalic(italic);
    return format;
}

// Several paragraphs whose text has every kind of character the writer escapes or encodes,
// including digits and letters straight after characters written as \uN, and a link.
void fillMixedText(QTextDocument &document)
{
    QTextCursor cursor(&document);
    cursor.insertText(QStringLiteral("Caf\u00e9 9 lives {in} C:\\path"), face("Helvetica", 12));
    cursor.insertText(QStringLiteral(" and \u20ac5, "), face("Times New Roman", 14, true));
    cursor.insertText(QString::fromUtf8("emoji \xF0\x9F\x98\x80x"), face("Times New Roman", 14, false, true));
    cursor.insertBlock();
    cursor.insertText(QStringLiteral("see "), face("Helvetica", 12));
    QTextCharFormat link = face("Helvetica", 12);
    link.setAnchor(true);
    link.setAnchorHref(QStringLiteral("https://example.com/a?b=\"c\""));
    link.setFontUnderline(true);
    cursor.insertText(QStringLiteral("the site"), link);
    cursor.insertText(QStringLiteral(" now\tthen"), face("Helvetica", 12));
    cursor.insertBlock();
    cursor.insertBlock();
    cursor.insertText(QStringLiteral("last \u0142ine"), face("Helvetica", 12));
}

// Every group closes, and only the outermost closes last.
bool groupsBalance(const QByteArray &rtf)
{
    int depth = 0;
    for (qsizetype i = 0; i < rtf.size(); ++i) {
        if (rtf[i] == '\\')
            ++i;
        else if (rtf[i] == '{')
            ++depth;
        else if (rtf[i] == '}' && (--depth < 0 || (depth == 0 && rtf.indexOf('{', i) >= 0)))
            return false;
    }
    return depth == 0;
}

QString runTool(const QString &program, const QStringList &arguments, int timeoutMs)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << program.toStdString() << " did not finish";
        return {};
    }
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    return QString::fromUtf8(process.readAllStandardOutput());
}

QString writeToFile(const QTemporaryDir &folder, const QTextDocument &document)
{
    const QString path = folder.filePath(QStringLiteral("text.rtf"));
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(kvrtf::write(document));
    return path;
}

} // namespace

TEST(KVRTFWriterTest, WritesTheWordsOtherReadersKnow)
{
    struct Case {
        const char *name;
        std::function<void(QTextCursor &)> build;
        QList<QByteArray> expected;
    };
    const Case cases[] = {
        {"a surrogate pair is two signed 16-bit characters, each in its own group",
         [](QTextCursor &cursor) {
             cursor.insertText(QString::fromUtf8("a\xF0\x9F\x98\x80"
                                                 "1"));
         },
         {"\\uc0", "a{\\u-10179}{\\u-8704}1"}},
        {"braces, backslashes and tabs are escaped",
         [](QTextCursor &cursor) { cursor.insertText(QStringLiteral("{x}\\\ty")); },
         {"\\{x\\}\\\\\\tab y"}},
        {"a PostScript name becomes its family with bold and italic",
         [](QTextCursor &cursor) { cursor.insertText(QStringLiteral("x"), face("Helvetica-BoldOblique", 11)); },
         {"{\\f0\\fnil\\fcharset0 Helvetica;}", "\\plain\\f0\\fs22\\b\\i x"}},
        {"a family name that is no PostScript name stays whole, and semibold is not bold",
         [](QTextCursor &cursor) {
             QTextCharFormat format = face("Noto-Sans-Display", 10.5);
             format.setFontWeight(QFont::DemiBold);
             cursor.insertText(QStringLiteral("x"), format);
         },
         {"Noto-Sans-Display;", "\\plain\\f0\\fs21 x"}},
        {"a colour with its opacity is written once, opaque, for text and background",
         [](QTextCursor &cursor) {
             QTextCharFormat format;
             format.setForeground(QColor(255, 0, 0, 128));
             cursor.insertText(QStringLiteral("a"), format);
             format.setForeground(QColor(255, 0, 0));
             format.setBackground(QColor(0, 0, 255));
             cursor.insertText(QStringLiteral("b"), format);
         },
         {"{\\colortbl;\\red255\\green0\\blue0;\\red0\\green0\\blue255;}", "\\cf1 a", "\\cf1\\cb2\\highlight2 b"}},
        {"paragraph words: alignment, indents in twips, spacing, tabs",
         [](QTextCursor &cursor) {
             QTextBlockFormat format;
             format.setAlignment(Qt::AlignJustify);
             format.setLeftMargin(36);
             format.setTextIndent(-18);
             format.setRightMargin(18);
             format.setTopMargin(6);
             format.setBottomMargin(12);
             format.setTabPositions({QTextOption::Tab(72, QTextOption::RightTab)});
             cursor.setBlockFormat(format);
             cursor.insertText(QStringLiteral("x"));
         },
         {"\\pard\\qj\\li720\\fi-360\\ri360\\sb120\\sa240\\tqr\\tx1440 "}},
        {"a link is a HYPERLINK field around its label, a quote in the address escaped",
         [](QTextCursor &cursor) {
             QTextCharFormat link;
             link.setAnchor(true);
             link.setAnchorHref(QStringLiteral("https://e.com/?q=\"a\""));
             cursor.insertText(QStringLiteral("label"), link);
         },
         {"{\\field{\\*\\fldinst HYPERLINK \"https://e.com/?q=%22a%22\"}{\\fldrslt \\plain label}}"}},
    };
    for (const Case &testCase : cases) {
        SCOPED_TRACE(testCase.name);
        QTextDocument document;
        QTextCursor cursor(&document);
        testCase.build(cursor);
        const QByteArray rtf = kvrtf::write(document);
        EXPECT_TRUE(rtf.startsWith("{\\rtf1\\ansi")) << rtf.constData();
        EXPECT_TRUE(groupsBalance(rtf)) << rtf.constData();
        for (const QByteArray &expected : testCase.expected)
            EXPECT_TRUE(rtf.contains(expected)) << "missing " << expected.constData() << " in\n" << rtf.constData();
    }
}

// The converter's text output drops what it reads as \uN, and its HTML output shows it as an
// entity; neither may lose the text around such characters, and fields show their labels.
TEST(KVRTFWriterInterchangeTest, CommandLineConverterReadsOurText)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QTextDocument document;
    fillMixedText(document);
    const QString path = writeToFile(folder, document);
    QString expected = document.toPlainText();
    expected.remove(QRegularExpression(QStringLiteral("[^\\x{0}-\\x{7f}]")));
    expected = expected.simplified();

    QStringList lines = runTool(QStringLiteral("unrtf"), {QStringLiteral("--text"), path}, 30000).split(u'\n');
    lines.removeIf(
        [](const QString &line) { return line.startsWith(QLatin1String("###")) || line == QLatin1String("-----------------"); });
    EXPECT_EQ(lines.join(u' ').simplified().toStdString(), expected.toStdString());

    QString html = runTool(QStringLiteral("unrtf"), {QStringLiteral("--html"), path}, 30000);
    html = html.mid(html.indexOf(QLatin1String("<body>")));
    html.remove(QRegularExpression(QStringLiteral("<[^>]*>|&[#a-z0-9]+;")));
    EXPECT_EQ(html.simplified().toStdString(), expected.toStdString());
}

TEST(KVRTFWriterInterchangeTest, OfficeSuiteReadsOurText)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QTextDocument document;
    fillMixedText(document);
    const QString input = writeToFile(folder, document);
    runTool(QStringLiteral("soffice"),
            {QStringLiteral("--headless"),
             QStringLiteral("-env:UserInstallation=file://") + folder.filePath(QStringLiteral("profile")),
             QStringLiteral("--convert-to"), QStringLiteral("txt:Text (encoded):UTF8"), QStringLiteral("--outdir"),
             folder.filePath(QStringLiteral("out")), input},
            180000);
    QFile converted(folder.filePath(QStringLiteral("out/text.txt")));
    ASSERT_TRUE(converted.open(QIODevice::ReadOnly));
    QString text = QString::fromUtf8(converted.readAll());
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    while (text.endsWith(u'\n') || text.endsWith(u'\r'))
        text.chop(1);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    EXPECT_EQ(text.toStdString(), document.toPlainText().toStdString());
}
