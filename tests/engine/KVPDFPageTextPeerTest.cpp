// Page text against poppler's pdftotext on corpus pages: the words of the search text, the
// words on each line, the reading order of a two-column page, line edges, and the character
// under a point. Where the two legitimately part ways the page is listed with the reason; a
// listed difference that no longer occurs fails too, so the tables stay true.
#include "KVPDFBaseline.h"
#include "KVPDFDocument.h"
#include "KVPDFLog.h"
#include "KVPDFPage.h"
#include "KVPDFServices.h"
#include "KVPDFTextBlob.h"
#include "KVProbeText.h"
#include "support/CorpusManifest.h"
#include "support/ImagerServices.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <tuple>

namespace {

QString nfkc(const QString &text) { return text.normalized(QString::NormalizationForm_KC); }

std::map<QString, int> wordCounts(const QString &text)
{
    std::map<QString, int> counts;
    for (const QString &word : nfkc(text).split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts))
        ++counts[word];
    return counts;
}

QString corpusFile(const QString &name) { return QDir(corpusDir()).filePath(name); }

bool haveCorpus() { return QFile::exists(corpusFile(QStringLiteral("manifest.tsv"))); }

QString pdftotext(const QStringList &arguments)
{
    const ToolResult result = runTool(QStringLiteral("pdftotext"), arguments);
    EXPECT_TRUE(result.started) << "pdftotext missing (poppler-utils)";
    return QString::fromUtf8(result.out);
}

// pdftotext -bbox-layout: lines and their words, in top-down coordinates of the page.
struct BoxWord {
    QString text;
    QRectF box;
};
struct BoxLine {
    QRectF box;
    std::vector<BoxWord> words;
    QString joined() const
    {
        QString out;
        for (const BoxWord &word : words)
            out += word.text;
        return nfkc(out);
    }
};
struct BoxPage {
    QSizeF size;
    std::vector<BoxLine> lines;
};

QRectF boxOf(const QXmlStreamAttributes &a)
{
    const double xMin = a.value(QLatin1String("xMin")).toDouble(), yMin = a.value(QLatin1String("yMin")).toDouble();
    return QRectF(xMin, yMin, a.value(QLatin1String("xMax")).toDouble() - xMin, a.value(QLatin1String("yMax")).toDouble() - yMin);
}

BoxPage boxLayout(const QString &file, int page)
{
    const QString xml = pdftotext({QStringLiteral("-q"), QStringLiteral("-bbox-layout"), QStringLiteral("-f"), QString::number(page),
                                   QStringLiteral("-l"), QString::number(page), file, QStringLiteral("-")});
    BoxPage out;
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QStringView name = reader.name();
        if (name == QLatin1String("page"))
            out.size = QSizeF(reader.attributes().value(QLatin1String("width")).toDouble(),
                              reader.attributes().value(QLatin1String("height")).toDouble());
        else if (name == QLatin1String("line"))
            out.lines.push_back({boxOf(reader.attributes()), {}});
        else if (name == QLatin1String("word") && !out.lines.empty()) {
            const QRectF box = boxOf(reader.attributes());
            out.lines.back().words.push_back({reader.readElementText(), box});
        }
    }
    return out;
}

std::shared_ptr<KVPDFDocument> openCorpus(const QString &name)
{
    KVPDFOpenResult result = KVPDFOpenBroken;
    auto document = KVPDFDocument::documentWithContentsOfFile(corpusFile(name), &result);
    return result == KVPDFOpenOK ? document : nullptr;
}

struct KnownPage {
    const char *file;
    int page;
    const char *reason;
};

void checkKnown(const std::set<std::pair<QString, int>> &differing, const KnownPage *known, size_t count,
                const std::set<std::pair<QString, int>> &checked)
{
    for (size_t k = 0; k < count; ++k) {
        const std::pair<QString, int> key{QString::fromLatin1(known[k].file), known[k].page};
        if (checked.count(key) && !differing.count(key))
            ADD_FAILURE() << "listed difference no longer occurs (remove it): " << known[k].file << " page " << known[k].page;
    }
    for (const auto &[file, page] : differing) {
        const bool listed = std::any_of(known, known + count, [&](const KnownPage &k) {
            return file == QLatin1String(k.file) && page == k.page;
        });
        EXPECT_TRUE(listed) << file.toStdString() << " page " << page << " differs and is not listed";
    }
}

// ---- The words of the search text ------------------------------------------------------------

constexpr const char *kAppearances = "pdftotext adds the text of form fields' and annotations' appearances; the page "
                                     "string holds the page's own content";
constexpr const char *kGlued = "runs placed apart without a space character join in the page string (spaces come only "
                               "from wide TJ gaps)";
constexpr const char *kRaised = "raised or lowered text (superscripts, marks) lies on a baseline of its own, so it is a "
                                "line of its own in the page string";
constexpr const char *kCodes = "codes whose text neither reader knows (no ToUnicode, glyph names of a symbol font) "
                               "decode differently";

const KnownPage kSearchWordDifferences[] = {
    {"qpdf/annotations-rotated-90.pdf", 1, kAppearances},
    {"qpdf/form-fields-and-annotations.pdf", 1, kAppearances},
    {"qpdf/form-filled-by-acrobat.pdf", 1, kAppearances},
    {"pdfjs/TAMReview.pdf", 1, kGlued},
    {"pdfjs/TAMReview.pdf", 2, kCodes},
    {"pdfjs/TAMReview.pdf", 3, kCodes},
    {"pdfjs/ZapfDingbats.pdf", 1, kCodes},
    {"pdfjs/ZapfDingbats.pdf", 2, kCodes},
    {"pdfjs/annotation-button-widget.pdf", 1, kGlued},
    {"pdfjs/annotation-choice-widget.pdf", 1, kAppearances},
    {"pdfjs/annotation-freetext.pdf", 1, kAppearances},
    {"pdfjs/annotation-text-widget.pdf", 1, kAppearances},
    {"pdfjs/annotation-text-without-popup.pdf", 1, "pdftotext reads no text from this page's Type 3 font"},
    {"pdfjs/annotation-tx.pdf", 1, kAppearances},
    {"pdfjs/annotation-tx2.pdf", 1, kAppearances},
    {"pdfjs/annotation-tx3.pdf", 1, kAppearances},
    {"pdfjs/tracemonkey.pdf", 1, kRaised},
    {"pdfjs/tracemonkey.pdf", 2, kGlued},
    {"pdfjs/tracemonkey.pdf", 3, kGlued},
};

TEST(TextPeer, SearchTextHasTheWordsOfPdftotextRaw)
{
    if (!haveCorpus())
        GTEST_SKIP() << "no corpus at " << corpusDir().toStdString();
    KVPDFLogCapture quiet;
    std::set<std::pair<QString, int>> checked, differing;
    for (const CorpusManifestEntry &entry : readCorpusManifest()) {
        if (entry.pages <= 0 || !entry.password.isEmpty())
            continue;
        const std::shared_ptr<KVPDFDocument> document = openCorpus(entry.file);
        if (!document)
            continue;
        for (int page = 1; page <= std::min<int>(3, int(document->pageCount())); ++page) {
            const std::shared_ptr<KVPDFPage> p = document->pageAtIndex(size_t(page - 1));
            p->prepareForSearch();
            const QString reference = pdftotext({QStringLiteral("-q"), QStringLiteral("-raw"), QStringLiteral("-f"),
                                                 QString::number(page), QStringLiteral("-l"), QString::number(page),
                                                 corpusFile(entry.file), QStringLiteral("-")});
            checked.insert({entry.file, page});
            if (wordCounts(p->pageString()) != wordCounts(reference))
                differing.insert({entry.file, page});
        }
    }
    EXPECT_GE(checked.size(), 100u);
    checkKnown(differing, kSearchWordDifferences, std::size(kSearchWordDifferences), checked);
}

// ---- Reading order, lines, edges and hit tests on selection-prepared pages ----------------

struct SelectionPage {
    std::shared_ptr<KVPDFDocument> document;
    std::shared_ptr<KVPDFPage> page;
    double height = 0; // of the crop box: pdftotext counts y down from its top
};

SelectionPage prepareSelection(const QString &name, int page)
{
    SelectionPage out;
    out.document = openCorpus(name);
    if (!out.document || size_t(page) > out.document->pageCount())
        return out;
    out.page = out.document->pageAtIndex(size_t(page - 1));
    out.page->prepareForSelection();
    out.height = out.page->cropBox().value_or(out.page->mediaBox()).height();
    return out;
}

QString squeezed(const QString &text) { return nfkc(text).remove(QRegularExpression(QStringLiteral("\\s"))); }

QString lineText(const KVPDFPage &page, const KVPDFBaseline &line)
{
    const KVPDFRange range = line.rangeInPageString();
    return page.pageString().mid(qsizetype(range.location), qsizetype(range.length));
}

// Where `words` first occurs in `text`'s words from `from` on; -1 when it does not.
qsizetype find(const QStringList &text, const QStringList &words, qsizetype from = 0)
{
    for (qsizetype k = from; k + words.size() <= text.size(); ++k)
        if (std::equal(words.begin(), words.end(), text.begin() + k))
            return k;
    return -1;
}

// The longest common subsequence of two word lists.
qsizetype commonWords(const QStringList &a, const QStringList &b)
{
    std::vector<qsizetype> row(size_t(b.size()) + 1, 0), next(row.size(), 0);
    for (qsizetype i = 0; i < a.size(); ++i) {
        for (qsizetype j = 0; j < b.size(); ++j)
            next[size_t(j) + 1] = a[i] == b[j] ? row[size_t(j)] + 1 : std::max(row[size_t(j) + 1], next[size_t(j)]);
        std::swap(row, next);
    }
    return row.back();
}

TEST(TextPeer, TwoColumnPageReadsTitleLeftColumnRightColumnAsPdftotext)
{
    if (!haveCorpus())
        GTEST_SKIP() << "no corpus at " << corpusDir().toStdString();
    KVPDFLogCapture quiet;
    KVPDFServices::Installer services(imagerServices());
    const QString file = QStringLiteral("pdfjs/tracemonkey.pdf");
    SelectionPage selection = prepareSelection(file, 1);
    ASSERT_TRUE(selection.page);
    const QRegularExpression blanks(QStringLiteral("\\s+"));
    const QStringList ours = nfkc(selection.page->pageString()).split(blanks, Qt::SkipEmptyParts);
    const QStringList reference =
        nfkc(pdftotext({QStringLiteral("-q"), QStringLiteral("-f"), QStringLiteral("1"), QStringLiteral("-l"), QStringLiteral("1"),
                        corpusFile(file), QStringLiteral("-")}))
            .split(blanks, Qt::SkipEmptyParts);
    ASSERT_GT(reference.size(), 500);

    // The title, the left column from its top to its foot, then the right column.
    const char *anchors[] = {"Trace-based Just-in-Time Type", "Abstract Dynamic languages", "1. Introduction",
                             "Permission to make digital", "and is used for the application",
                             "Each compiled trace covers"};
    qsizetype inOurs = 0, inReference = 0;
    for (const char *anchor : anchors) {
        const QStringList words = QString::fromUtf8(anchor).split(QLatin1Char(' '));
        inOurs = find(ours, words, inOurs);
        inReference = find(reference, words, inReference);
        EXPECT_GE(inOurs, 0) << anchor << " is not in the selection text, or not in pdftotext's order";
        EXPECT_GE(inReference, 0) << anchor;
        inOurs = std::max<qsizetype>(inOurs, 0);
        inReference = std::max<qsizetype>(inReference, 0);
    }
    // The words in between follow pdftotext's order too; what differs is words glued where
    // runs touch, and marks raised onto lines of their own.
    EXPECT_GE(double(commonWords(ours, reference)), 0.85 * double(reference.size()));
}

// Pages whose lines are compared with pdftotext's; every line both readers make of the same
// characters is checked.
const std::pair<const char *, int> kLinePages[] = {
    {"pdfjs/tracemonkey.pdf", 1}, {"pdfjs/tracemonkey.pdf", 2}, {"pdfjs/tracemonkey.pdf", 5},
    {"pdfjs/TAMReview.pdf", 1},   {"pdfjs/alphatrans.pdf", 1},
};

// Lines whose lower edge lies further than a point from pdftotext's: the fonts' descents differ.
const KnownPage kLineEdgeDifferences[] = {
    {"qpdf/outlines-with-actions.pdf", 1, "the font's descriptor and pdftotext's font file give different descents"},
};

TEST(TextPeer, LineEdgesAndLowerEdgesLieWithinAPointOfPdftotext)
{
    if (!haveCorpus())
        GTEST_SKIP() << "no corpus at " << corpusDir().toStdString();
    KVPDFLogCapture quiet;
    KVPDFServices::Installer services(imagerServices());
    std::vector<std::pair<const char *, int>> pages(std::begin(kLinePages), std::end(kLinePages));
    for (const KnownPage &known : kLineEdgeDifferences)
        pages.emplace_back(known.file, known.page);
    std::set<std::pair<QString, int>> checked, differing;
    size_t compared = 0;
    for (const auto &[name, number] : pages) {
        const QString file = QString::fromLatin1(name);
        SCOPED_TRACE(file.toStdString() + " page " + std::to_string(number));
        SelectionPage selection = prepareSelection(file, number);
        ASSERT_TRUE(selection.page);
        checked.insert({file, number});
        // Our lines by their characters; a text met twice is ambiguous and left out.
        std::map<QString, std::shared_ptr<KVPDFBaseline>> byText;
        std::set<QString> twice;
        for (const auto &line : selection.page->baselines()) {
            const QString key = squeezed(lineText(*selection.page, *line));
            if (!byText.emplace(key, line).second)
                twice.insert(key);
        }
        const QString text = selection.page->pageString();
        for (const BoxLine &reference : boxLayout(corpusFile(file), number).lines) {
            const QString key = reference.joined().remove(QRegularExpression(QStringLiteral("\\s")));
            auto it = byText.find(key);
            if (it == byText.end() || twice.count(key))
                continue;
            const KVPDFBaseline &line = *it->second;
            // The ink: from the first character's left edge to the last visible one's right edge.
            std::optional<double> left, right;
            for (const auto &run : line.blobs()) {
                double x = run->location.x();
                for (size_t k = 0; k < run->widths.size(); ++k) {
                    const qsizetype at = qsizetype(run->rangeInPageString.location) + qsizetype(k);
                    if (at < text.size() && !text.at(at).isSpace()) {
                        left = left.value_or(x);
                        right = x + run->widths[k];
                    }
                    x += run->widths[k];
                }
            }
            ASSERT_TRUE(left && right) << key.toStdString();
            ++compared;
            const QRectF bounds = it->second->bounds();
            const double lowerEdge = selection.height - reference.box.bottom();
            const bool near = std::fabs(*left - reference.box.left()) <= 1 && std::fabs(*right - reference.box.right()) <= 1
                              && std::fabs(bounds.top() - lowerEdge) <= 1;
            if (!near)
                differing.insert({file, number});
            const bool known = std::any_of(std::begin(kLineEdgeDifferences), std::end(kLineEdgeDifferences),
                                           [&](const KnownPage &k) { return file == QLatin1String(k.file) && number == k.page; });
            if (!known) {
                EXPECT_NEAR(*left, reference.box.left(), 1) << key.toStdString();
                EXPECT_NEAR(*right, reference.box.right(), 1) << key.toStdString();
                // pdftotext reports no baseline, only the line's lower edge: its baseline moved
                // down by the font's descent, which is what the line's bounds start from too.
                EXPECT_NEAR(bounds.top(), lowerEdge, 1) << key.toStdString();
            }
        }
    }
    EXPECT_GE(compared, 300u);
    checkKnown(differing, kLineEdgeDifferences, std::size(kLineEdgeDifferences), checked);
}

// Words pdftotext puts where none of our lines holds them (page, word).
struct KnownWord {
    const char *file;
    int page;
    const char *word;
    const char *reason;
};
const KnownWord kWordLineDifferences[] = {
    {"pdfjs/tracemonkey.pdf", 2, "na\u0131\u0308ve", "the diaeresis is a run of its own above the dotless i, a line of its own"},
};

TEST(TextPeer, EachPdftotextWordLiesOnTheLineOfItsBaseline)
{
    if (!haveCorpus())
        GTEST_SKIP() << "no corpus at " << corpusDir().toStdString();
    KVPDFLogCapture quiet;
    KVPDFServices::Installer services(imagerServices());
    std::set<std::tuple<QString, int, QString>> missing;
    size_t words = 0;
    for (const auto &[name, number] : kLinePages) {
        const QString file = QString::fromLatin1(name);
        SelectionPage selection = prepareSelection(file, number);
        ASSERT_TRUE(selection.page);
        for (const BoxLine &reference : boxLayout(corpusFile(file), number).lines)
            for (const BoxWord &word : reference.words) {
                ++words;
                // The word's centre, in the page's coordinates (y up from the crop box's corner).
                // Lines may overlap (a line of superscripts over the line they mark), so any
                // line there may hold it.
                const QPointF centre(word.box.center().x(), selection.height - word.box.center().y());
                const QString wanted = squeezed(word.text);
                bool held = false;
                for (const auto &line : selection.page->baselines())
                    held = held || (line->hitTest(centre) && squeezed(lineText(*selection.page, *line)).contains(wanted));
                if (!held)
                    missing.insert({file, number, wanted});
            }
    }
    EXPECT_GE(words, 2000u);
    for (const auto &[file, page, word] : missing) {
        const bool listed = std::any_of(std::begin(kWordLineDifferences), std::end(kWordLineDifferences), [&](const KnownWord &k) {
            return file == QLatin1String(k.file) && page == k.page && word == QString::fromUtf8(k.word);
        });
        EXPECT_TRUE(listed) << file.toStdString() << " page " << page << ": " << word.toStdString() << " is on no line of ours there";
    }
    for (const KnownWord &known : kWordLineDifferences)
        if (!missing.count({QString::fromLatin1(known.file), known.page, QString::fromUtf8(known.word)}))
            ADD_FAILURE() << "listed word no longer differs (remove it): " << known.file << " " << known.word;
}

TEST(TextPeer, ProbeCharPosAtTheCentresOfSampledWordsFallsInThoseWords)
{
    if (!haveCorpus())
        GTEST_SKIP() << "no corpus at " << corpusDir().toStdString();
    const QString file = corpusFile(QStringLiteral("pdfjs/tracemonkey.pdf"));
    const BoxPage layout = boxLayout(file, 1);
    std::vector<BoxWord> all;
    for (const BoxLine &line : layout.lines)
        for (const BoxWord &word : line.words)
            if (squeezed(word.text).size() >= 2)
                all.push_back(word);
    ASSERT_GE(all.size(), 200u);
    size_t sampled = 0;
    for (size_t k = 0; k < all.size() && sampled < 50; k += all.size() / 50, ++sampled) {
        const BoxWord &word = all[k];
        const QPointF centre(word.box.center().x(), layout.size.height() - word.box.center().y());
        int exitCode = -1;
        const QJsonObject report = kvprobeCharPosJson(
            file, {QStringLiteral("--page"), QStringLiteral("1"), QStringLiteral("--at"),
                   QString::number(centre.x(), 'f', 3) + QLatin1Char(',') + QString::number(centre.y(), 'f', 3)},
            &exitCode);
        ASSERT_EQ(exitCode, 0);
        const QString wanted = squeezed(word.text);
        SCOPED_TRACE(wanted.toStdString());
        ASSERT_TRUE(report.value(QStringLiteral("position")).isDouble());
        // The character under the centre is one of the word's, and its line holds the word.
        const QString character = report.value(QStringLiteral("character")).toString();
        EXPECT_TRUE(wanted.contains(squeezed(character))) << character.toStdString();
        EXPECT_TRUE(squeezed(report.value(QStringLiteral("line")).toObject().value(QStringLiteral("text")).toString()).contains(wanted));
    }
    EXPECT_EQ(sampled, 50u);
}

} // namespace
