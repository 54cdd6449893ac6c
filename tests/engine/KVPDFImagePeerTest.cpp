// The images the engine records on each page (kvprobe images) against two peers, over every
// corpus file and a fixture made here:
// - pdfimages -list: the same images in the same order, by page, object and pixel size. Rows
//   of type image and stencil count; [inline] rows do not, since inline images make no record.
//   smask rows do not count either: pdfimages lists an image's soft mask as a row of its own
//   right after the image, under the image's object, though nothing draws it by itself; the
//   Do is the image row.
// - mutool trace: each record's drawn box is the box of one of mutool's fill_image or
//   fill_image_mask elements, in order, within 0.01, with the same pixel size. mutool also
//   draws inline images, so a page has as many boxes more as pdfimages lists inline images.
// Where the engine and a peer legitimately differ the difference is listed in
// kKnownDifferences; a listed difference that no longer occurs fails, so the list stays true.
#include "KVProbeImages.h"

#include "support/CorpusManifest.h"
#include "support/MutoolTrace.h"
#include "support/PdfBuilder.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <vector>

namespace {

struct PeerCase {
    QString label;                                      // "pdfjs/tracemonkey.pdf", or a fixture's name
    std::function<QString(const QString &folder)> make; // writes a fixture, answers its path
    QString password;
};

QByteArray stream(const QByteArray &dictionaryKeys, const QByteArray &data)
{
    return "<< " + dictionaryKeys + " /Length " + QByteArray::number(data.size()) + " >>\nstream\n" + data + "\nendstream";
}

// Images under a crop box at (36, 36): scaled, turned by the CTM, a stencil mask, drawn twice,
// inside a turned form with a Matrix, and an inline image between them.
QString writeFixture(const QString &folder)
{
    PdfBuilder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /CropBox [36 36 576 756]"
             " /Resources << /XObject << /Im1 10 0 R /Mask 11 0 R /Fm1 12 0 R >> >> /Contents 4 0 R >>");
    b.add(4, stream("", "q 100 0 0 50 100 600 cm /Im1 Do Q\n"
                        "q 0 100 -50 0 200 300 cm /Im1 Do Q\n"
                        "q 10 0 0 10 400 400 cm BI /W 1 /H 1 /BPC 8 /CS /G ID \x80 EI Q\n"
                        "q 0 0 1 rg 80 0 0 10 100 100 cm /Mask Do Q\n"
                        "q 2 0 0 2 0 0 cm /Fm1 Do Q\n"));
    b.add(10, stream("/Type /XObject /Subtype /Image /Width 2 /Height 2 /BitsPerComponent 8 /ColorSpace /DeviceRGB",
                     QByteArray(12, '\x60')));
    b.add(11, stream("/Type /XObject /Subtype /Image /Width 8 /Height 1 /ImageMask true", "\xAA"));
    b.add(12, stream("/Type /XObject /Subtype /Form /BBox [0 0 100 100] /Matrix [0 1 -1 0 150 20]"
                     " /Resources << /XObject << /Im1 10 0 R >> >>",
                     "50 0 0 40 0 0 cm /Im1 Do"));
    const QString path = QDir(folder).filePath(QStringLiteral("images.pdf"));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(b.build());
    return path;
}

std::vector<PeerCase> peerCases()
{
    std::vector<PeerCase> cases;
    for (const CorpusManifestEntry &entry : readCorpusManifest())
        cases.push_back({entry.file, {}, entry.password});
    cases.push_back({QStringLiteral("images in forms under a crop box"), writeFixture, {}});
    return cases;
}

void PrintTo(const PeerCase &param, std::ostream *out) { *out << param.label.toStdString(); }

std::string testName(const ::testing::TestParamInfo<PeerCase> &info)
{
    QString name = info.param.label;
    name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9]")), QStringLiteral("_"));
    return name.toStdString();
}

// ---------------------------------------------------------------------------------------------
// Where the engine and a peer legitimately differ.

struct KnownDifference {
    const char *label;
    const char *peer; // "pdfimages" or "mutool"
    const char *what; // the difference as the test words it
    const char *reason;
};

// Both peers draw annotations' appearances after the page's content; the records are what
// the content draws.
constexpr const char *kAnnotation = "drawn by an annotation's appearance, not by the page's content";
// mutool paints every cell of a tiling pattern; patterns are not content the interpretation
// runs, and pdfimages lists none of their images either.
constexpr const char *kPattern = "drawn in the cells of a tiling pattern";

// An inline image whose data runs to the end of the content without "EI": mutool reports
// "syntax error after inline image" and draws nothing of it; pdfimages lists it.
constexpr const char *kUnendedInline = "mutool drops an inline image that has no EI";

const KnownDifference kKnownDifferences[] = {
    {"qpdf/content-stream-errors.pdf", "mutool", "page 3: 1 inline images not traced by the peer", kUnendedInline},
    {"qpdf/form-filled-by-acrobat.pdf", "pdfimages", "page 3: 85 0 R 983x66 listed by the peer only", kAnnotation},
    {"qpdf/form-filled-by-acrobat.pdf", "mutool", "page 3: 1 boxes traced by the peer only", kAnnotation},
    {"pdfjs/tracemonkey.pdf", "mutool", "page 13: 39 boxes traced by the peer only", kPattern},
};

const KnownDifference *knownDifference(const QString &label, const char *peer, const QString &what)
{
    for (const KnownDifference &known : kKnownDifferences)
        if (label == QLatin1String(known.label) && std::strcmp(known.peer, peer) == 0 && what == QLatin1String(known.what))
            return &known;
    return nullptr;
}

// ---------------------------------------------------------------------------------------------

struct ListedImage {
    int page = 0;
    QString type; // image, mask, smask or stencil
    QString object; // "N G R", or "[inline]"
    int width = 0;
    int height = 0;
    QString key() const
    {
        return QStringLiteral("page %1: %2 %3x%4").arg(page).arg(object).arg(width).arg(height);
    }
};

std::optional<std::vector<ListedImage>> pdfimagesList(const QString &path, const QString &password, QString *error)
{
    QStringList arguments{QStringLiteral("-list")};
    if (!password.isEmpty())
        arguments << QStringLiteral("-upw") << password;
    arguments << path;
    const ToolResult result = runTool(QStringLiteral("pdfimages"), arguments);
    if (!result.started || result.exitCode != 0) {
        *error = QStringLiteral("pdfimages -list failed: ") + QString::fromUtf8(result.err);
        return std::nullopt;
    }
    std::vector<ListedImage> rows;
    const QList<QByteArray> lines = result.out.split('\n');
    for (qsizetype k = 2; k < lines.size(); ++k) {
        const QStringList cells = QString::fromUtf8(lines[k]).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (cells.size() < 11)
            continue;
        ListedImage row;
        row.page = cells[0].toInt();
        row.type = cells[2];
        row.width = cells[3].toInt();
        row.height = cells[4].toInt();
        row.object = cells[10] == QLatin1String("[inline]") ? cells[10] : cells[10] + QLatin1Char(' ') + cells.value(11)
                                                                             + QStringLiteral(" R");
        rows.push_back(row);
    }
    return rows;
}

// The elements of `a` and of `b` that a longest common subsequence leaves out.
void unmatched(const std::vector<QString> &a, const std::vector<QString> &b, std::vector<QString> *onlyA,
               std::vector<QString> *onlyB)
{
    std::vector<std::vector<int>> length(a.size() + 1, std::vector<int>(b.size() + 1, 0));
    for (size_t i = a.size(); i-- > 0;)
        for (size_t j = b.size(); j-- > 0;)
            length[i][j] = a[i] == b[j] ? length[i + 1][j + 1] + 1 : std::max(length[i + 1][j], length[i][j + 1]);
    size_t i = 0, j = 0;
    while (i < a.size() || j < b.size()) {
        if (i < a.size() && j < b.size() && a[i] == b[j]) {
            ++i;
            ++j;
        } else if (j == b.size() || (i < a.size() && length[i + 1][j] >= length[i][j + 1])) {
            onlyA->push_back(a[i++]);
        } else {
            onlyB->push_back(b[j++]);
        }
    }
}

QString recordKey(const QJsonObject &image)
{
    const QJsonArray pixels = image.value(QStringLiteral("pixels")).toArray();
    return QStringLiteral("page %1: %2 %3x%4")
        .arg(image.value(QStringLiteral("page")).toInt())
        .arg(image.value(QStringLiteral("object")).isString() ? image.value(QStringLiteral("object")).toString()
                                                               : QStringLiteral("null"))
        .arg(pixels.isEmpty() ? -1 : pixels[0].toInt())
        .arg(pixels.isEmpty() ? -1 : pixels[1].toInt());
}

QRectF recordBox(const QJsonObject &image)
{
    const QJsonArray box = image.value(QStringLiteral("box")).toArray();
    return QRectF(box[0].toDouble(), box[1].toDouble(), box[2].toDouble(), box[3].toDouble());
}

bool near(const QRectF &a, const QRectF &b)
{
    constexpr double kTolerance = 0.01;
    return std::abs(a.x() - b.x()) <= kTolerance && std::abs(a.y() - b.y()) <= kTolerance
           && std::abs(a.width() - b.width()) <= kTolerance && std::abs(a.height() - b.height()) <= kTolerance;
}

QString boxText(const QRectF &box)
{
    return QStringLiteral("[%1 %2 %3 %4]").arg(box.x()).arg(box.y()).arg(box.width()).arg(box.height());
}

class KVPDFImagePeerTest : public ::testing::TestWithParam<PeerCase> { };

TEST_P(KVPDFImagePeerTest, RecordsMatchPdfimagesAndMutoolTrace)
{
    const PeerCase &param = GetParam();
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString path = param.make ? param.make(folder.path()) : corpusDir() + QLatin1Char('/') + param.label;
    ASSERT_TRUE(QFile::exists(path)) << path.toStdString();

    QString error;
    const std::optional<std::vector<ListedImage>> listed = pdfimagesList(path, param.password, &error);
    if (!listed)
        GTEST_SKIP() << "the peer does not read the file: " << error.toStdString();
    QStringList options;
    if (!param.password.isEmpty())
        options << QStringLiteral("--password") << param.password;
    int exitCode = -1;
    const QJsonObject probe = kvprobeImagesJson(path, options, &exitCode);
    // Files the engine does not open (an unsupported security handler) are the open tests' concern.
    if (exitCode == 4)
        GTEST_SKIP() << "the engine does not open the file";
    ASSERT_EQ(exitCode, 0);
    const QJsonArray records = probe.value(QStringLiteral("images")).toArray();

    std::set<std::pair<std::string, QString>> seen; // (peer, what)
    auto differ = [&](const char *peer, const QString &what) {
        seen.insert({peer, what});
        if (const KnownDifference *known = knownDifference(param.label, peer, what))
            std::cout << "[ known    ] " << peer << " " << what.toStdString() << ": " << known->reason << "\n";
        else
            ADD_FAILURE() << peer << " " << what.toStdString();
    };

    // pdfimages: page, object and pixel size, in order.
    std::vector<QString> peerKeys;
    std::map<int, int> inlineImages; // page -> count
    std::set<int> pages;
    for (const ListedImage &row : *listed) {
        pages.insert(row.page);
        if (row.object == QLatin1String("[inline]"))
            ++inlineImages[row.page];
        else if (row.type == QLatin1String("image") || row.type == QLatin1String("stencil"))
            peerKeys.push_back(row.key());
    }
    std::vector<QString> ourKeys;
    std::map<int, std::vector<QJsonObject>> byPage;
    for (const QJsonValue &value : records) {
        const QJsonObject image = value.toObject();
        ourKeys.push_back(recordKey(image));
        byPage[image.value(QStringLiteral("page")).toInt()].push_back(image);
        pages.insert(image.value(QStringLiteral("page")).toInt());
    }
    std::vector<QString> onlyPeer, onlyOurs;
    unmatched(peerKeys, ourKeys, &onlyPeer, &onlyOurs);
    for (const QString &key : onlyPeer)
        differ("pdfimages", key + QStringLiteral(" listed by the peer only"));
    for (const QString &key : onlyOurs)
        differ("pdfimages", key + QStringLiteral(" recorded by the engine only"));

    // mutool trace: the boxes, on every page where either side saw an image.
    int boxesCompared = 0;
    for (const int page : pages) {
        const std::optional<MutoolPage> traced = mutoolTracePage(path, page, param.password, &error);
        ASSERT_TRUE(traced) << "page " << page << ": " << error.toStdString();
        const QPointF origin = traced->cropBox.value_or(traced->mediaBox).topLeft();
        const std::vector<QJsonObject> &ours = byPage[page];
        size_t next = 0;
        size_t matched = 0;
        for (const QJsonObject &image : ours) {
            const QRectF box = recordBox(image);
            size_t k = next;
            while (k < traced->images.size() && !near(traced->images[k].box.translated(-origin), box))
                ++k;
            if (k == traced->images.size()) {
                differ("mutool", QStringLiteral("page %1: %2 box %3 not traced by the peer")
                                     .arg(page)
                                     .arg(image.value(QStringLiteral("name")).toString(), boxText(box)));
                continue;
            }
            const QJsonArray pixels = image.value(QStringLiteral("pixels")).toArray();
            const QSize size = traced->images[k].pixels;
            if (pixels.size() != 2 || pixels[0].toInt() != size.width() || pixels[1].toInt() != size.height())
                differ("mutool", QStringLiteral("page %1: %2 box %3 traced with %4x%5 pixels")
                                     .arg(page)
                                     .arg(image.value(QStringLiteral("name")).toString(), boxText(box))
                                     .arg(size.width())
                                     .arg(size.height()));
            ++boxesCompared;
            ++matched;
            next = k + 1;
        }
        const long extra = long(traced->images.size()) - long(matched) - inlineImages[page];
        if (extra > 0)
            differ("mutool", QStringLiteral("page %1: %2 boxes traced by the peer only").arg(page).arg(extra));
        else if (extra < 0)
            differ("mutool", QStringLiteral("page %1: %2 inline images not traced by the peer").arg(page).arg(-extra));
    }
    std::cout << "[ compared ] " << param.label.toStdString() << ": " << records.size() << " records, "
              << peerKeys.size() << " pdfimages rows, " << boxesCompared << " boxes\n";

    for (const KnownDifference &known : kKnownDifferences)
        if (param.label == QLatin1String(known.label) && !seen.count({known.peer, QString::fromLatin1(known.what)}))
            ADD_FAILURE() << "listed difference no longer occurs (remove it from kKnownDifferences): " << known.peer << " "
                          << known.what;
}

// Named Corpus/ so the suite carries the corpus label with the other peer tests.
INSTANTIATE_TEST_SUITE_P(Corpus, KVPDFImagePeerTest, ::testing::ValuesIn(peerCases()), testName);

} // namespace
