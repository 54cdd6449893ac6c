// The engine's text runs, page by page, against three peers:
// - mutool's trace: each run lies where its first glyph lies (less the crop box's corner, as
//   the engine's page space starts there) within 0.01, and the runs' text, white space left
//   out (the engine puts spaces into wide TJ gaps), is the glyphs' text;
// - qpdf's decoded stream data: each run's range, in the stream the run names (for a page of
//   several streams their parts joined by a line end), holds a string or array operand (it
//   starts with "(", "<" or "[" and ends where that operand ends) followed by a show operator;
// - pdftotext -raw: the runs' text equals its text of the page after NFKC, white space left out.
// kvprobe runs must report what the engine holds.
//
// Where a peer differs for a reason of its own, or by a choice the engine makes on purpose,
// the difference is listed in kKnownDifferences; a listed difference that no longer occurs
// fails, so the list stays true.
#include "KVProbeRuns.h"

#include "KVPDFDocument.h"
#include "KVPDFObjectStream.h"
#include "KVPDFPage.h"
#include "KVPDFTextBlob.h"
#include "KVPDFTextRunBuilder.h"

#include "support/MutoolTrace.h"
#include "support/PdfBuilder.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <iostream>
#include <map>
#include <set>

namespace {

QByteArray stream(const QByteArray &dictionary, const QByteArray &data)
{
    return "<< " + dictionary + " /Length " + QByteArray::number(data.size()) + " >>\nstream\n" + data + "\nendstream";
}

QString writeFixture(const QString &folder, const QString &name, const PdfBuilder &pdf)
{
    const QString path = folder + QLatin1Char('/') + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(pdf.build()) < 0)
        return {};
    return path;
}

// Text in a form drawn under a cm and its own Matrix, in a font the form names /F1 while the
// page's /F1 is another font; text before and after the form.
QString writeFormFixture(const QString &folder)
{
    PdfBuilder pdf = PdfBuilder::withPages(1, "/MediaBox [0 0 612 792] /Contents 4 0 R"
                                              " /Resources << /Font << /F1 5 0 R >> /XObject << /Fm1 6 0 R >> >>");
    pdf.add(4, stream("", "BT /F1 12 Tf 72 700 Td (Before the form) Tj ET\n"
                          "q 1 0 0 1 100 50 cm /Fm1 Do Q\n"
                          "BT /F1 12 Tf 72 200 Td (After) Tj ( the form) Tj ET"));
    pdf.add(5, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    pdf.add(6, stream("/Type /XObject /Subtype /Form /BBox [0 0 400 400] /Matrix [0.5 0 0 0.5 10 20]"
                      " /Resources << /Font << /F1 7 0 R >> >>",
                      "BT /F1 20 Tf 30 400 Td (Inside) Tj ( a form) Tj 0 -30 Td [(Gap) -2000 (here)] TJ ET"));
    pdf.add(7, "<< /Type /Font /Subtype /Type1 /BaseFont /Courier >>");
    return writeFixture(folder, QStringLiteral("form.pdf"), pdf);
}

// A crop box at (36, 36), with each show operator and the state they move by, and a TJ whose
// first element is a number (the run starts where its first glyph is drawn).
QString writeCropFixture(const QString &folder)
{
    PdfBuilder pdf = PdfBuilder::withPages(1, "/MediaBox [0 0 612 792] /CropBox [36 36 576 756] /Contents 4 0 R"
                                              " /Resources << /Font << /F1 5 0 R >> >>");
    pdf.add(4, stream("", "BT /F1 12 Tf 14 TL 100 700 Td (Cropped) Tj ( page) Tj T*\n"
                          "2 Tc (spaced) Tj 0 Tc 6 Tw (word space) '\n"
                          "80 Tz 1 0.5 (scaled and quoted) \" 100 Tz 0 Tw\n"
                          "[(Kern) 120 (ed) -1500 (gap)] TJ T* [-800 (opens with a number)] TJ ET"));
    pdf.add(5, "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman >>");
    return writeFixture(folder, QStringLiteral("crop.pdf"), pdf);
}

struct PeerCase {
    QString label; // a corpus file, or the name of a fixture made here
    std::vector<int> pages;
    std::function<QString(const QString &folder)> make; // writes a fixture, answers its path
    bool glyphs = true; // compared with mutool's trace (else only with qpdf and pdftotext)
};

void PrintTo(const PeerCase &param, std::ostream *out) { *out << param.label.toStdString(); }

std::vector<PeerCase> peerCases()
{
    return {
        {QStringLiteral("qpdf/bad2.pdf"), {1}, nullptr},
        {QStringLiteral("pdfjs/basicapi.pdf"), {1, 2, 3}, nullptr},
        {QStringLiteral("pdfjs/tracemonkey.pdf"), {1, 2}, nullptr},
        {QStringLiteral("pdfjs/TAMReview.pdf"), {1}, nullptr},
        {QStringLiteral("pdfjs/arial_unicode_en_cidfont.pdf"), {1}, nullptr},
        {QStringLiteral("pdfjs/90ms_rksj_h_sample.pdf"), {1}, nullptr, false},
        {QStringLiteral("form-fixture"), {1}, writeFormFixture},
        {QStringLiteral("crop-fixture"), {1}, writeCropFixture},
    };
}

std::string testName(const ::testing::TestParamInfo<PeerCase> &info)
{
    QString name = QFileInfo(info.param.label).completeBaseName();
    name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9]")), QStringLiteral("_"));
    return name.toStdString();
}

// ---------------------------------------------------------------------------------------------
// Where a peer legitimately differs.

struct KnownDifference {
    const char *label;
    int page;
    const char *aspect; // "mutool location", "mutool text", "range" or "pdftotext"
    const char *run;    // a part of the difference's message that names the run ("" for any)
    const char *reason;
};

const KnownDifference kKnownDifferences[] = {
    // TeX's circle of the copyright sign, drawn over a "c".
    {"pdfjs/tracemonkey.pdf", 1, "mutool text", "\u20DD",
     "mutool names the glyph circlecopyrt U+20DD by TeX's glyph list; the engine, like pdftotext, "
     "reads glyph names by the Adobe Glyph List, which has no such name"},
    // "na\u00A8\u0131ve": the dieresis is shown before the dotless i it stands over.
    {"pdfjs/tracemonkey.pdf", 2, "pdftotext", "\u0131\u0308",
     "pdftotext moves an accent drawn over a letter behind that letter; the runs keep content order"},
};

const KnownDifference *knownDifference(const QString &label, int page, const QString &aspect, const QString &what)
{
    for (const KnownDifference &known : kKnownDifferences)
        if (*known.label && label == QLatin1String(known.label) && page == known.page && aspect == QLatin1String(known.aspect)
            && what.contains(QString::fromUtf8(known.run)))
            return &known;
    return nullptr;
}

// ---------------------------------------------------------------------------------------------

QString withoutWhiteSpace(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text)
        if (!c.isSpace())
            out += c;
    return out;
}

// Pairs the characters of two texts that mostly agree: where they part, the shortest skip on
// either side (at most four characters) after which eight characters agree again resumes the
// pairing, and `differ` hears of the skipped part. Answers, per character of `ours`, the index
// of its partner in `theirs`, or -1.
std::vector<qsizetype> alignTexts(const QString &ours, const QString &theirs, const std::function<void(const QString &)> &differ)
{
    std::vector<qsizetype> partner(size_t(ours.size()), -1);
    auto agree = [&](qsizetype i, qsizetype j) {
        const qsizetype n = std::min<qsizetype>({8, ours.size() - i, theirs.size() - j});
        return n > 0 && (n == 8 || (i + n == ours.size() && j + n == theirs.size()))
               && QStringView(ours).mid(i, n) == QStringView(theirs).mid(j, n);
    };
    qsizetype i = 0, j = 0;
    while (i < ours.size() && j < theirs.size()) {
        if (ours[i] == theirs[j]) {
            partner[size_t(i++)] = j++;
            continue;
        }
        qsizetype skipOurs = -1, skipTheirs = -1;
        for (qsizetype total = 1; total <= 8 && skipOurs < 0; ++total)
            for (qsizetype a = 0; a <= total && a <= 4; ++a)
                if (total - a <= 4 && agree(i + a, j + total - a)) {
                    skipOurs = a;
                    skipTheirs = total - a;
                    break;
                }
        const qsizetype from = std::max<qsizetype>(0, i - 12);
        if (skipOurs < 0) {
            differ(QStringLiteral("texts part at %1 for good: engine \"%2\", peer \"%3\"")
                       .arg(i).arg(ours.mid(from, 40), theirs.mid(std::max<qsizetype>(0, j - 12), 40)));
            return partner;
        }
        differ(QStringLiteral("engine \"%1\" where the peer has \"%2\", in engine \"%3\"")
                   .arg(ours.mid(i, skipOurs), theirs.mid(j, skipTheirs), ours.mid(from, 30)));
        i += skipOurs;
        j += skipTheirs;
    }
    if (i < ours.size() || j < theirs.size())
        differ(QStringLiteral("one text goes on: engine \"%1\", peer \"%2\"").arg(ours.mid(i, 40), theirs.mid(j, 40)));
    return partner;
}

// qpdf's decoded data of a stream object.
QByteArray qpdfStreamData(const QString &path, qint64 object)
{
    const ToolResult qpdf = runTool(QStringLiteral("qpdf"), {QStringLiteral("--show-object=%1").arg(object),
                                                            QStringLiteral("--filtered-stream-data"), path});
    return qpdf.exitCode == 0 || qpdf.exitCode == 3 ? qpdf.out : QByteArray();
}

// The page's content stream objects, as qpdf lists them.
std::vector<qint64> qpdfContents(const QString &path, int page)
{
    const ToolResult qpdf = runTool(QStringLiteral("qpdf"), {QStringLiteral("--json=2"), QStringLiteral("--json-key=pages"), path});
    const QJsonArray pages = QJsonDocument::fromJson(qpdf.out).object().value(QStringLiteral("pages")).toArray();
    std::vector<qint64> out;
    for (const QJsonValue &content : pages.at(page - 1).toObject().value(QStringLiteral("contents")).toArray())
        out.push_back(content.toString().section(QLatin1Char(' '), 0, 0).toLongLong());
    return out;
}

// A range holds an operand when it opens with "(", "<" or "[", closes with what opens it, and a
// show operator follows it.
QString operandFault(const QByteArray &data, qint64 location, qint64 length)
{
    if (location < 0 || length < 2 || location + length > data.size())
        return QStringLiteral("range [%1, %2] outside %3 bytes").arg(location).arg(length).arg(data.size());
    const QByteArray operand = data.mid(location, length);
    const char open = operand.front(), close = operand.back();
    if (!((open == '(' && close == ')') || (open == '<' && close == '>') || (open == '[' && close == ']')))
        return QStringLiteral("\"%1\" is no string or array").arg(QString::fromLatin1(operand.left(60)));
    qint64 i = location + length;
    while (i < data.size() && (data[i] == 0 || std::strchr(" \t\r\n\f", data[i])))
        ++i;
    const QByteArray after = data.mid(i, 3);
    const bool shows = after.startsWith('\'') || after.startsWith('"')
                       || ((after.startsWith("Tj") || after.startsWith("TJ"))
                           && (after.size() == 2 || !QChar::isLetterOrNumber(uchar(after[2]))));
    if (!shows)
        return QStringLiteral("\"%1\" is followed by \"%2\", no show operator")
            .arg(QString::fromLatin1(operand.left(60)), QString::fromLatin1(data.mid(i, 10)));
    return {};
}

// The kvprobe binary. Under the leak checker of a sanitizer build, what fontconfig keeps for
// the life of the process counts as no leak of ours (as in the test binaries themselves).
ToolResult runProbe(const QString &folder, const QStringList &arguments)
{
    const QString suppressions = folder + QStringLiteral("/lsan.supp");
    QFile file(suppressions);
    if (file.open(QIODevice::WriteOnly))
        file.write("leak:libfontconfig.so\n");
    file.close();
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString lsan = environment.value(QStringLiteral("LSAN_OPTIONS"));
    environment.insert(QStringLiteral("LSAN_OPTIONS"),
                       (lsan.isEmpty() ? QString() : lsan + QLatin1Char(':')) + QStringLiteral("suppressions=") + suppressions);
    process.setProcessEnvironment(environment);
    ToolResult result;
    process.start(QStringLiteral(FOLIVO_KVPROBE), arguments);
    if (!process.waitForStarted(60000) || !process.waitForFinished(300000))
        return result;
    result.started = true;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

class KVPDFTextRunPeerTest : public ::testing::TestWithParam<PeerCase> { };

} // namespace

TEST_P(KVPDFTextRunPeerTest, RunsMatchMutoolQpdfAndPdftotext)
{
    const PeerCase &param = GetParam();
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString path = param.make ? param.make(folder.path()) : corpusDir() + QLatin1Char('/') + param.label;
    ASSERT_TRUE(QFile::exists(path)) << path.toStdString();

    KVPDFOpenResult result = KVPDFOpenBroken;
    const std::shared_ptr<KVPDFDocument> document =
        KVPDFDocument::documentWithContentsOfFile(path, &result, {}, KVPDFOpenMode::AsStored);
    ASSERT_TRUE(document);
    ASSERT_EQ(result, KVPDFOpenOK);

    std::set<std::pair<int, QString>> seen; // (page, aspect) of the listed differences met
    auto differ = [&](int page, const char *aspect, const QString &what) {
        if (const KnownDifference *known = knownDifference(param.label, page, QString::fromLatin1(aspect), what)) {
            seen.insert({page, QString::fromLatin1(aspect)});
            std::cout << "[ known    ] page " << page << " " << aspect << ": " << known->reason << "\n";
        } else {
            ADD_FAILURE() << "page " << page << " " << aspect << ": " << what.toStdString();
        }
    };

    for (int pageNumber : param.pages) {
        SCOPED_TRACE(pageNumber);
        ASSERT_LE(size_t(pageNumber), document->pageCount());
        const std::shared_ptr<KVPDFPage> page = document->pageAtIndex(size_t(pageNumber - 1));
        page->parseContent();
        const std::vector<std::shared_ptr<KVPDFTextBlob>> &runs = page->textBlobs();
        ASSERT_FALSE(runs.empty());
        QString engineText;
        for (const auto &run : runs)
            engineText += run->string;

        // kvprobe reports the runs the engine holds.
        int exitCode = -1;
        const QJsonObject probe = kvprobeRunsJson(path, {QStringLiteral("--page"), QString::number(pageNumber)}, &exitCode);
        ASSERT_EQ(exitCode, 0);
        const ToolResult probeTool = runProbe(folder.path(), {QStringLiteral("runs"), path, QStringLiteral("--page"),
                                                              QString::number(pageNumber)});
        ASSERT_EQ(probeTool.exitCode, 0) << probeTool.err.toStdString();
        EXPECT_EQ(QJsonDocument::fromJson(probeTool.out).object(), probe);
        const QJsonArray probeRuns = probe.value(QStringLiteral("runs")).toArray();
        ASSERT_EQ(size_t(probeRuns.size()), runs.size());
        for (size_t i = 0; i < runs.size(); ++i) {
            const QJsonObject entry = probeRuns.at(qsizetype(i)).toObject();
            const KVPDFTextBlob &run = *runs[i];
            SCOPED_TRACE(run.string.toStdString());
            EXPECT_EQ(entry.value(QStringLiteral("text")).toString(), run.string);
            EXPECT_EQ(entry.value(QStringLiteral("text")).isNull(), run.string.isNull());
            EXPECT_NEAR(entry.value(QStringLiteral("x")).toDouble(), run.location.x(), 1e-4);
            EXPECT_NEAR(entry.value(QStringLiteral("y")).toDouble(), run.location.y(), 1e-4);
            const QJsonArray range = entry.value(QStringLiteral("range")).toArray();
            EXPECT_EQ(range.at(0).toInteger(), qint64(run.dataRange.location));
            EXPECT_EQ(range.at(1).toInteger(), qint64(run.dataRange.length));
            const bool joined = run.contentObject == page->potentialNewStream();
            if (joined)
                EXPECT_EQ(entry.value(QStringLiteral("object")).toString(), QStringLiteral("joined"));
            else
                EXPECT_EQ(entry.value(QStringLiteral("object")).toInteger(), qint64(run.contentObject->objectNumber()));
        }

        // qpdf: every range holds a string or array operand followed by a show operator.
        std::map<qint64, QByteArray> streams; // object -> qpdf's data; -1 for the join
        for (size_t i = 0; i < runs.size(); ++i) {
            const KVPDFTextBlob &run = *runs[i];
            const qint64 object = run.contentObject == page->potentialNewStream() ? -1 : qint64(run.contentObject->objectNumber());
            if (!streams.count(object)) {
                QByteArray data;
                if (object >= 0) {
                    data = qpdfStreamData(path, object);
                } else {
                    QByteArrayList parts;
                    for (qint64 part : qpdfContents(path, pageNumber))
                        parts.append(qpdfStreamData(path, part));
                    data = parts.join('\n');
                }
                streams[object] = data;
            }
            const QString fault = operandFault(streams[object], qint64(run.dataRange.location), qint64(run.dataRange.length));
            if (!fault.isEmpty())
                differ(pageNumber, "range", QStringLiteral("run %1 \"%2\": %3").arg(i).arg(run.string, fault));
        }

        // pdftotext -raw: the same text.
        const ToolResult pdftotext = runTool(QStringLiteral("pdftotext"), {QStringLiteral("-raw"), QStringLiteral("-enc"), QStringLiteral("UTF-8"),
                                                                          QStringLiteral("-f"), QString::number(pageNumber), QStringLiteral("-l"),
                                                                          QString::number(pageNumber), path, QStringLiteral("-")});
        ASSERT_EQ(pdftotext.exitCode, 0) << pdftotext.err.toStdString();
        const QString words = withoutWhiteSpace(engineText.normalized(QString::NormalizationForm_KC));
        const QString theirWords = withoutWhiteSpace(QString::fromUtf8(pdftotext.out).normalized(QString::NormalizationForm_KC));
        alignTexts(words, theirWords, [&](const QString &what) { differ(pageNumber, "pdftotext", what); });

        if (!param.glyphs)
            continue;

        // mutool: the same text, and each run where its first glyph is.
        QString error;
        const std::optional<MutoolPage> trace = mutoolTracePage(path, pageNumber, {}, &error);
        ASSERT_TRUE(trace) << error.toStdString();
        const QPointF origin = trace->cropBox.value_or(trace->mediaBox).topLeft();
        QString glyphText;               // without white space
        std::vector<size_t> glyphOfChar; // the glyph each character of glyphText comes from
        for (size_t g = 0; g < trace->glyphs.size(); ++g) {
            for (QChar c : trace->glyphs[g].unicode) {
                if (c.isSpace())
                    continue;
                glyphText += c;
                glyphOfChar.push_back(g);
            }
        }
        const QString runText = withoutWhiteSpace(engineText);
        const std::vector<qsizetype> peerOfChar = alignTexts(runText, glyphText, [&](const QString &what) {
            differ(pageNumber, "mutool text", what);
        });
        qsizetype at = 0;
        size_t placed = 0;
        const KVPDFTextBlob *previous = nullptr;
        for (size_t i = 0; i < runs.size(); previous = runs[i].get(), ++i) {
            const KVPDFTextBlob &run = *runs[i];
            const QString chars = withoutWhiteSpace(run.string);
            at += chars.size();
            if (chars.isEmpty() || peerOfChar[size_t(at - chars.size())] < 0)
                continue;
            const qsizetype peerChar = peerOfChar[size_t(at - chars.size())];
            // A run that opens with white space starts at the space glyphs before its first
            // other glyph, when mutool shows them.
            size_t first = glyphOfChar[size_t(peerChar)];
            const size_t floor = peerChar > 0 ? glyphOfChar[size_t(peerChar - 1)] + 1 : 0;
            for (qsizetype lead = 0; lead < run.string.size() && run.string[lead].isSpace() && first > floor
                                     && trace->glyphs[first - 1].unicode.trimmed().isEmpty();
                 ++lead)
                --first;
            const QPointF expected = trace->glyphs[first].position - origin;
            const bool xEqual = std::fabs(run.location.x() - expected.x()) <= 0.01;
            // A run within 0.05 of the previous run's baseline takes that baseline.
            const bool yEqual = std::fabs(run.location.y() - expected.y()) <= 0.01
                                || (previous && run.location.y() == previous->location.y()
                                    && std::fabs(expected.y() - previous->location.y()) <= KVPDFTextRunBuilder::kBaselineSnap + 0.01);
            if (xEqual && yEqual)
                ++placed;
            else
                differ(pageNumber, "mutool location",
                       QStringLiteral("run %1 \"%2\" at (%3, %4), its first glyph at (%5, %6)")
                           .arg(i).arg(run.string).arg(run.location.x()).arg(run.location.y()).arg(expected.x()).arg(expected.y()));
        }
        std::cout << "[ compared ] page " << pageNumber << ": " << runs.size() << " runs, " << placed
                  << " placed on their first glyph, " << trace->glyphs.size() << " glyphs\n";
    }

    for (const KnownDifference &known : kKnownDifferences)
        if (*known.label && param.label == QLatin1String(known.label) && !seen.count({known.page, QString::fromLatin1(known.aspect)}))
            ADD_FAILURE() << "listed difference no longer occurs (remove it from kKnownDifferences): page " << known.page << " "
                          << known.aspect << " " << known.run;
}

INSTANTIATE_TEST_SUITE_P(RunPeer, KVPDFTextRunPeerTest, ::testing::ValuesIn(peerCases()), testName);
