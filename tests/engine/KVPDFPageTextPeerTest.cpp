// Page text against poppler's pdftotext on corpus pages: the words of the search text, the
// words on each line, the reading order of a two-column page, line edges, and the character
// under a point. Where the two legitimately part ways the page is listed with the reason; a
// listed difference that no longer occurs fails too, so the tables stay true.
#include "KVPDFBaseline.h"
#include "KVPDFDocument.h"
#include "KVPDFLog.h"
#include "KVPDFPage.h"
#include "KVPDFServices.h"
#include "KVProbeText.h"
#include "support/CorpusManifest.h"
#include "support/PopplerImagerPool.h"
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
#include <set>

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

} // namespace
