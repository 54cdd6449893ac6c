// The fonts the engine reads, page by page, against three peers: the Widths and W arrays as
// qpdf's JSON gives them, the metrics of the URW base-35 AFM files for standard-14 fonts that
// carry no widths, and the names and ToUnicode flags pdffonts lists for the fonts of a page and
// of its forms. Where the engine and a peer legitimately differ the difference is listed in
// kKnownDifferences; a listed difference that no longer occurs fails, so the list stays true.
#include "KVProbeFonts.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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

struct PeerCase {
    QString label; // "pdfjs/TAMReview.pdf", or the name of a fixture made here
    std::function<QString(const QString &folder)> make; // writes a fixture, answers its path
};

// A Type 3 font whose widths are in glyph units under a FontMatrix, with a ToUnicode map,
// shown on the page and inside a form.
QString writeType3Fixture(const QString &folder)
{
    const QByteArray toUnicode = "/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n"
                                 "1 begincodespacerange <00> <FF> endcodespacerange\n"
                                 "2 beginbfchar <41> <0061> <42> <0062> endbfchar\n"
                                 "endcmap CMapName currentdict /CMap defineresource pop end end";
    const QByteArray glyph = "500 0 0 0 500 700 d1 0 0 500 700 re f";
    const QByteArray content = "BT /T3 24 Tf 72 700 Td (ABC) Tj ET /Fm0 Do";
    const QByteArray form = "BT /T3b 12 Tf 72 600 Td (A) Tj ET";
    auto stream = [](const QByteArray &dictionary, const QByteArray &data) {
        return "<< " + dictionary + " /Length " + QByteArray::number(data.size()) + " >>\nstream\n" + data + "\nendstream";
    };
    std::map<int, QByteArray> objects{
        {1, "<< /Type /Catalog /Pages 2 0 R >>"},
        {2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"},
        {3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R"
            " /Resources << /Font << /T3 5 0 R >> /XObject << /Fm0 9 0 R >> >> >>"},
        {4, stream("", content)},
        {5, "<< /Type /Font /Subtype /Type3 /FontBBox [0 0 1000 1000] /FontMatrix [0.001 0 0 0.001 0 0]"
            " /CharProcs << /a 6 0 R /b 6 0 R /c 6 0 R >> /Encoding << /Type /Encoding /Differences [65 /a /b /c] >>"
            " /FirstChar 65 /LastChar 67 /Widths 7 0 R /ToUnicode 8 0 R /Resources << >> >>"},
        {6, stream("", glyph)},
        {7, "[500 250.5 750]"},
        {8, stream("", toUnicode)},
        {9, stream("/Type /XObject /Subtype /Form /BBox [0 0 612 792] /Resources << /Font << /T3b 10 0 R >> >>", form)},
        {10, "<< /Type /Font /Subtype /Type3 /FontBBox [0 0 1000 1000] /FontMatrix [0.002 0 0 0.002 0 0]"
             " /CharProcs << /a 6 0 R >> /Encoding << /Differences [65 /a] >> /FirstChar 65 /LastChar 65"
             " /Widths [400] /Resources << >> >>"},
    };
    QByteArray file = "%PDF-1.4\n";
    std::map<int, qsizetype> offsets;
    for (const auto &[number, text] : objects) {
        offsets[number] = file.size();
        file += QByteArray::number(number) + " 0 obj\n" + text + "\nendobj\n";
    }
    const qsizetype xref = file.size();
    file += "xref\n0 11\n0000000000 65535 f \n";
    for (const auto &[number, offset] : offsets)
        file += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    file += "trailer\n<< /Size 11 /Root 1 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    const QString path = folder + QStringLiteral("/type3.pdf");
    QFile out(path);
    if (out.open(QIODevice::WriteOnly))
        out.write(file);
    return path;
}

std::vector<PeerCase> peerCases()
{
    std::vector<PeerCase> cases;
    for (const char *name : {"pdfjs/TAMReview.pdf", "pdfjs/tracemonkey.pdf", "pdfjs/arial_unicode_en_cidfont.pdf",
                             "pdfjs/ZapfDingbats.pdf", "pdfjs/90ms_rksj_h_sample.pdf"})
        cases.push_back({QString::fromLatin1(name), nullptr});
    cases.push_back({QStringLiteral("type3-fixture"), writeType3Fixture});
    return cases;
}

void PrintTo(const PeerCase &param, std::ostream *out) { *out << param.label.toStdString(); }

std::string testName(const ::testing::TestParamInfo<PeerCase> &info)
{
    QString name = QFileInfo(info.param.label).completeBaseName();
    name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9]")), QStringLiteral("_"));
    return name.toStdString();
}

// ---------------------------------------------------------------------------------------------
// Where the engine and a peer legitimately read a font differently.

struct KnownDifference {
    const char *label;
    const char *object; // "N G R"
    const char *peer;   // "qpdf", "afm" or "pdffonts"
    const char *reason;
};

constexpr const char *kAnnotationFonts = "pdffonts also lists the fonts of annotation appearances; the "
                                         "engine's page fonts are those of the page and its forms";

const KnownDifference kKnownDifferences[] = {
    // The /Helv of the form fields' appearance streams.
    {"pdfjs/ZapfDingbats.pdf", "47 0 R", "pdffonts", kAnnotationFonts},
};

const KnownDifference *knownDifference(const QString &label, const QString &object, const char *peer)
{
    for (const KnownDifference &known : kKnownDifferences)
        if (label == QLatin1String(known.label) && object == QLatin1String(known.object) && std::strcmp(known.peer, peer) == 0)
            return &known;
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// qpdf

struct QpdfObjects {
    QJsonObject objects; // "obj:N G R" -> {"value": ...} or {"stream": {"dict": ...}}

    QJsonValue resolve(QJsonValue value, int depth = 0) const
    {
        static const QRegularExpression reference(QStringLiteral("^\\d+ \\d+ R$"));
        while (value.isString() && reference.match(value.toString()).hasMatch() && depth++ < 16) {
            const QJsonObject entry = objects.value(QStringLiteral("obj:") + value.toString()).toObject();
            value = entry.contains(QStringLiteral("value")) ? entry.value(QStringLiteral("value"))
                                                            : entry.value(QStringLiteral("stream")).toObject().value(QStringLiteral("dict"));
        }
        return value;
    }
    QJsonObject dictionary(const QString &object) const { return resolve(QJsonValue(object)).toObject(); }
};

QpdfObjects qpdfObjects(const QString &path)
{
    const ToolResult result = runTool(QStringLiteral("qpdf"), {QStringLiteral("--json=2"), QStringLiteral("--json-key=qpdf"), path});
    QpdfObjects out;
    const QJsonArray qpdf = QJsonDocument::fromJson(result.out).object().value(QStringLiteral("qpdf")).toArray();
    if (qpdf.size() == 2)
        out.objects = qpdf.at(1).toObject();
    return out;
}

// The numbers of a JSON value with references resolved, flattened with "[" and "]" marks so
// that [1 [2 3]] and [1 2 3] differ.
void flatten(const QpdfObjects &qpdf, const QJsonValue &value, std::vector<double> &out, bool resolve)
{
    const QJsonValue v = resolve ? qpdf.resolve(value) : value;
    if (v.isDouble()) {
        out.push_back(v.toDouble());
    } else if (v.isArray()) {
        out.push_back(NAN);
        for (const QJsonValue &element : v.toArray())
            flatten(qpdf, element, out, resolve);
        out.push_back(INFINITY);
    } else {
        out.push_back(-INFINITY); // anything else
    }
}

bool sameNumbers(const std::vector<double> &a, const std::vector<double> &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::isnan(a[i]) || std::isnan(b[i])) {
            if (std::isnan(a[i]) != std::isnan(b[i]))
                return false;
        } else if (std::isinf(a[i]) || std::isinf(b[i])) {
            if (a[i] != b[i])
                return false;
        } else if (std::fabs(a[i] - b[i]) > 1e-3 * std::max(1.0, std::fabs(b[i]))) {
            return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// AFM

const std::map<QString, QString> kAfmFiles = {
    {"Helvetica", "NimbusSans-Regular"},         {"Helvetica-Bold", "NimbusSans-Bold"},
    {"Helvetica-Oblique", "NimbusSans-Italic"},  {"Helvetica-BoldOblique", "NimbusSans-BoldItalic"},
    {"Times-Roman", "NimbusRoman-Regular"},      {"Times-Bold", "NimbusRoman-Bold"},
    {"Times-Italic", "NimbusRoman-Italic"},      {"Times-BoldItalic", "NimbusRoman-BoldItalic"},
    {"Courier", "NimbusMonoPS-Regular"},         {"Courier-Bold", "NimbusMonoPS-Bold"},
    {"Courier-Oblique", "NimbusMonoPS-Italic"},  {"Courier-BoldOblique", "NimbusMonoPS-BoldItalic"},
    {"Symbol", "StandardSymbolsPS"},             {"ZapfDingbats", "D050000L"},
};

struct Afm {
    std::map<QString, int> widthByName;
    std::map<int, QString> nameByCode;
};

Afm readAfm(const QString &base)
{
    Afm afm;
    QFile file(QStringLiteral("/usr/share/fonts/type1/urw-base35/") + base + QStringLiteral(".afm"));
    if (!file.open(QIODevice::ReadOnly))
        return afm;
    static const QRegularExpression line(QStringLiteral("^C (-?\\d+) ; WX (\\d+) ; N (\\S+) ;"));
    while (!file.atEnd()) {
        const QRegularExpressionMatch m = line.match(QString::fromLatin1(file.readLine()));
        if (!m.hasMatch())
            continue;
        afm.widthByName[m.captured(3)] = m.captured(2).toInt();
        if (m.captured(1).toInt() >= 0)
            afm.nameByCode[m.captured(1).toInt()] = m.captured(3);
    }
    return afm;
}

// The widths a standard-14 font gets at the printable ASCII codes, by the glyph names
// ISOLatin1Encoding gives them (StandardEncoding's, but minus at 0x2D).
std::map<int, int> afmWidths(const QString &font)
{
    std::map<int, int> out;
    auto it = kAfmFiles.find(font);
    if (it == kAfmFiles.end())
        return out;
    static const Afm latin = readAfm(QStringLiteral("NimbusSans-Regular"));
    const Afm afm = readAfm(it->second);
    for (int code = 0x20; code <= 0x7E; ++code) {
        const QString name = code == 0x2D ? QStringLiteral("minus") : latin.nameByCode.count(code) ? latin.nameByCode.at(code) : QString();
        auto width = afm.widthByName.find(name);
        out[code] = width == afm.widthByName.end() ? 0 : width->second;
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// pdffonts

struct PdffontsRow {
    QString name;
    bool unicode = false;
};

// Object "N G R" -> row; fonts without an object number are left out.
std::map<QString, PdffontsRow> pdffonts(const QString &path, int page)
{
    std::map<QString, PdffontsRow> rows;
    const ToolResult result = runTool(QStringLiteral("pdffonts"),
                                      {QStringLiteral("-f"), QString::number(page), QStringLiteral("-l"), QString::number(page), path});
    const QStringList lines = QString::fromUtf8(result.out).split(QLatin1Char('\n'));
    for (qsizetype i = 2; i < lines.size(); ++i) {
        const QStringList fields = lines[i].split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (fields.size() < 7)
            continue;
        const QString object = fields[fields.size() - 2] + QLatin1Char(' ') + fields.last() + QStringLiteral(" R");
        rows[object] = {fields.first(), fields[fields.size() - 3] == QLatin1String("yes")};
    }
    return rows;
}

// ---------------------------------------------------------------------------------------------

class KVPDFFontPeerTest : public ::testing::TestWithParam<PeerCase> { };

TEST_P(KVPDFFontPeerTest, FontsMatchQpdfTheAfmFilesAndPdffonts)
{
    const PeerCase &param = GetParam();
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString path = param.make ? param.make(folder.path()) : corpusDir() + QLatin1Char('/') + param.label;
    ASSERT_TRUE(QFile::exists(path)) << path.toStdString();

    const ToolResult info = runTool(QStringLiteral("pdfinfo"), {path});
    const QRegularExpressionMatch pagesMatch =
        QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(QString::fromUtf8(info.out));
    ASSERT_TRUE(pagesMatch.hasMatch());
    const int pageCount = pagesMatch.captured(1).toInt();
    const QpdfObjects qpdf = qpdfObjects(path);
    ASSERT_FALSE(qpdf.objects.isEmpty());

    struct Tally {
        int compared = 0;
        int equal = 0;
    } qpdfTally, afmTally, pdffontsTally;
    std::set<QString> widthsDone;
    std::vector<std::pair<QString, QString>> differences; // (peer, what)
    std::set<std::pair<QString, QString>> seen;            // (object, peer)
    auto differ = [&](const QString &object, const char *peer, const QString &what) {
        seen.insert({object, QString::fromLatin1(peer)});
        if (const KnownDifference *known = knownDifference(param.label, object, peer))
            std::cout << "[ known    ] " << peer << " " << object.toStdString() << ": " << known->reason << "\n";
        else
            ADD_FAILURE() << peer << " " << object.toStdString() << ": " << what.toStdString();
    };

    for (int page = 1; page <= pageCount; ++page) {
        int exitCode = -1;
        const QJsonObject probe =
            kvprobeFontsJson(path, {QStringLiteral("--page"), QString::number(page)}, &exitCode);
        ASSERT_EQ(exitCode, 0) << "page " << page;
        const QJsonObject fonts = probe.value(QStringLiteral("fonts")).toObject();

        // Ours, by object.
        std::map<QString, QJsonObject> ours;
        for (auto it = fonts.begin(); it != fonts.end(); ++it) {
            const QJsonObject font = it.value().toObject();
            EXPECT_FALSE(font.contains(QStringLiteral("error"))) << it.key().toStdString();
            if (font.value(QStringLiteral("object")).isString())
                ours.emplace(font.value(QStringLiteral("object")).toString(), font);
        }

        // pdffonts: the same fonts, names and ToUnicode flags.
        const std::map<QString, PdffontsRow> rows = pdffonts(path, page);
        std::set<QString> objects;
        for (const auto &[object, row] : rows)
            objects.insert(object);
        for (const auto &[object, font] : ours)
            objects.insert(object);
        for (const QString &object : objects) {
            auto row = rows.find(object);
            auto font = ours.find(object);
            if (row == rows.end() || font == ours.end()) {
                differ(object, "pdffonts",
                       QStringLiteral("page %1: only %2 lists it").arg(page).arg(row == rows.end() ? "the engine" : "pdffonts"));
                continue;
            }
            ++pdffontsTally.compared;
            QString name = font->second.value(QStringLiteral("base_font")).toString();
            if (name.isEmpty())
                name = QStringLiteral("[none]");
            const bool unicode = font->second.value(QStringLiteral("to_unicode")).toBool();
            if (name == row->second.name && unicode == row->second.unicode)
                ++pdffontsTally.equal;
            else
                differ(object, "pdffonts",
                       QStringLiteral("page %1: engine %2 uni %3, pdffonts %4 uni %5")
                           .arg(page).arg(name).arg(unicode).arg(row->second.name).arg(row->second.unicode));
        }

        // qpdf and the AFM files: each font's widths once per file.
        for (const auto &[object, font] : ours) {
            if (!widthsDone.insert(object).second)
                continue;
            const QJsonObject dictionary = qpdf.dictionary(object);
            const QString subtype = dictionary.value(QStringLiteral("/Subtype")).toString();
            if (subtype == QLatin1String("/Type0")) {
                const QJsonArray descendants = qpdf.resolve(dictionary.value(QStringLiteral("/DescendantFonts"))).toArray();
                const QJsonObject cidFont = qpdf.resolve(descendants.at(0)).toObject();
                std::vector<double> theirs, mine;
                const QJsonValue w = cidFont.value(QStringLiteral("/W"));
                if (w.isUndefined())
                    flatten(qpdf, QJsonArray(), theirs, false);
                else
                    flatten(qpdf, qpdf.resolve(w), theirs, true);
                flatten(qpdf, font.value(QStringLiteral("w")), mine, false);
                const QJsonValue dwValue = cidFont.value(QStringLiteral("/DW"));
                const double dw = dwValue.isDouble() ? dwValue.toDouble() : 1000;
                ++qpdfTally.compared;
                if (sameNumbers(mine, theirs) && std::fabs(font.value(QStringLiteral("dw")).toDouble() * 1000 - dw) < 1e-3)
                    ++qpdfTally.equal;
                else
                    differ(object, "qpdf", QStringLiteral("W or DW differ"));
                continue;
            }
            const QJsonArray widths = font.value(QStringLiteral("widths")).toArray();
            if (dictionary.contains(QStringLiteral("/FirstChar"))) {
                const double scale = subtype == QLatin1String("/Type3") ? 1 : 1000;
                std::vector<double> theirs, mine;
                for (const QJsonValue &value : qpdf.resolve(dictionary.value(QStringLiteral("/Widths"))).toArray())
                    theirs.push_back(qpdf.resolve(value).toDouble());
                for (const QJsonValue &value : widths)
                    mine.push_back(value.toDouble() * scale);
                ++qpdfTally.compared;
                if (sameNumbers(mine, theirs)
                    && font.value(QStringLiteral("first_char")).toDouble() == dictionary.value(QStringLiteral("/FirstChar")).toDouble()
                    && font.value(QStringLiteral("last_char")).toDouble() == dictionary.value(QStringLiteral("/LastChar")).toDouble())
                    ++qpdfTally.equal;
                else
                    differ(object, "qpdf", QStringLiteral("FirstChar, LastChar or Widths differ"));
                continue;
            }
            const std::map<int, int> afm = afmWidths(font.value(QStringLiteral("base_font")).toString());
            if (afm.empty())
                continue;
            ++afmTally.compared;
            QStringList wrong;
            for (const auto &[code, width] : afm) {
                const double mine = code < widths.size() ? widths.at(code).toDouble() * 1000 : -1;
                if (std::fabs(mine - width) > 1e-3)
                    wrong << QStringLiteral("%1: %2 vs %3").arg(code).arg(mine).arg(width);
            }
            if (wrong.isEmpty())
                ++afmTally.equal;
            else
                differ(object, "afm", wrong.join(QStringLiteral(", ")));
        }
    }

    std::cout << "[ compared ] " << param.label.toStdString() << ": qpdf " << qpdfTally.equal << "/" << qpdfTally.compared
              << " equal, afm " << afmTally.equal << "/" << afmTally.compared << ", pdffonts " << pdffontsTally.equal << "/"
              << pdffontsTally.compared << " over " << pageCount << " pages\n";
    EXPECT_GT(qpdfTally.compared + afmTally.compared, 0);
    for (const KnownDifference &known : kKnownDifferences)
        if (param.label == QLatin1String(known.label)
            && !seen.count({QString::fromLatin1(known.object), QString::fromLatin1(known.peer)}))
            ADD_FAILURE() << "listed difference no longer occurs (remove it from kKnownDifferences): " << known.peer << " "
                          << known.object;
}

INSTANTIATE_TEST_SUITE_P(FontPeer, KVPDFFontPeerTest, ::testing::ValuesIn(peerCases()), testName);

// The string the RKSJ sample shows in its CMap font decodes as pdftotext reads it.
TEST(KVPDFFontPeerDecode, RksjStringDecodesAsPdftotextReadsIt)
{
    const QString path = corpusDir() + QStringLiteral("/pdfjs/90ms_rksj_h_sample.pdf");
    const ToolResult content =
        runTool(QStringLiteral("qpdf"), {QStringLiteral("--show-object=4"), QStringLiteral("--filtered-stream-data"), path});
    const QRegularExpressionMatch shown =
        QRegularExpression(QStringLiteral("/F1 [\\d.]+ Tf\\s*<([0-9A-Fa-f]+)> Tj")).match(QString::fromLatin1(content.out));
    ASSERT_TRUE(shown.hasMatch()) << content.out.toStdString();

    const ToolResult text = runTool(QStringLiteral("pdftotext"), {path, QStringLiteral("-")});
    ASSERT_EQ(text.exitCode, 0);
    const QStringList lines = QString::fromUtf8(text.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);

    const ToolResult probe = runTool(QStringLiteral(FOLIVO_KVPROBE),
                                     {QStringLiteral("fonts"), path, QStringLiteral("--page"), QStringLiteral("1"),
                                      QStringLiteral("--font"), QStringLiteral("F1"), QStringLiteral("--decode"), shown.captured(1)});
    ASSERT_EQ(probe.exitCode, 0) << probe.err.toStdString();
    const QJsonObject decoded = QJsonDocument::fromJson(probe.out).object();
    const QString decodedText = decoded.value(QStringLiteral("text")).toString();
    EXPECT_EQ(decodedText, QStringLiteral("日本語テスト"));
    EXPECT_TRUE(lines.contains(decodedText)) << text.out.toStdString();
    const QJsonArray codes = decoded.value(QStringLiteral("codes")).toArray();
    ASSERT_EQ(codes.size(), 6);
    for (const QJsonValue &code : codes) {
        EXPECT_EQ(code.toObject().value(QStringLiteral("length")).toInt(), 2);
        EXPECT_DOUBLE_EQ(code.toObject().value(QStringLiteral("width")).toDouble(), 1.0); // DW 1000
    }
}

} // namespace
