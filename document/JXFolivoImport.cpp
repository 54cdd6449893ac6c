#include "JXFolivoImport.h"

#include "KVPDFDocument.h"
#include "KVPDFImage.h"
#include "KVPDFImprint.h"
#include "KVPDFLog.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFPage.h"
#include "KVProcess.h"

#include <QBuffer>
#include <QColorSpace>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImageIOHandler>
#include <QImageReader>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <signal.h>
#include <unistd.h>

#include <cmath>
#include <optional>

namespace jximport {

namespace {

void fail(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
}

// The most bytes read of an image or of a Word binary; larger files are refused rather than
// held in memory whole.
constexpr qint64 kMaxFileBytes = qint64(1) << 30;
constexpr qint64 kMaxWordSniffBytes = qint64(64) << 20;
constexpr qsizetype kSniffBytes = 64 * 1024;
// The page side PDF viewers accept at most, in points.
constexpr double kMaxPageSide = 14400;

const QByteArray kCompoundFileMagic = QByteArray::fromHex("d0cf11e0a1b11ae1");

bool isZip(QByteArrayView data) { return data.startsWith("PK\x03\x04"); }

// A Word binary is a compound file with a stream named "WordDocument"; its name is stored in
// UTF-16 in a directory sector, which may lie anywhere in the file.
bool holdsWordDocumentStream(QByteArrayView data)
{
    static const QByteArray name = QByteArray("W\0o\0r\0d\0D\0o\0c\0u\0m\0e\0n\0t\0", 24);
    return data.indexOf(name) >= 0;
}

// Office Open XML word-processing files keep their parts under "word/" (document.xml and
// the rest), names that appear in the local headers and in the central directory.
bool holdsWordParts(QByteArrayView data) { return data.indexOf("word/") >= 0; }

bool canReadImage(const QByteArray &data)
{
    QBuffer buffer;
    buffer.setData(data);
    if (!buffer.open(QIODevice::ReadOnly))
        return false;
    return !QImageReader::imageFormat(&buffer).isEmpty();
}

// `head` is the file's start; `whole` answers the bytes a Word check needs beyond it (the file
// or the data, up to a bound).
FileKind kindOf(const QByteArray &head, const std::function<QByteArray(bool zip)> &more)
{
    if (head.startsWith("%PDF-"))
        return FileKind::PDF;
    // Word's containers have strong signatures, and some image formats' checks are weak enough
    // to take other files for theirs, so Word is asked before the images.
    if (head.startsWith(kCompoundFileMagic)) {
        if (holdsWordDocumentStream(head) || holdsWordDocumentStream(more(false)))
            return FileKind::Word;
    } else if (isZip(head)) {
        if (holdsWordParts(head) || holdsWordParts(more(true)))
            return FileKind::Word;
    }
    if (canReadImage(head))
        return FileKind::Image;
    if (head.left(kPDFHeaderSearchBytes).contains("%PDF-"))
        return FileKind::PDF;
    return FileKind::Unknown;
}

std::optional<QByteArray> readWholeFile(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(error, QStringLiteral("The file \"%1\" could not be opened: %2.").arg(QFileInfo(path).fileName(), file.errorString()));
        return std::nullopt;
    }
    if (file.size() > kMaxFileBytes) {
        fail(error, QStringLiteral("The file \"%1\" is too large to open.").arg(QFileInfo(path).fileName()));
        return std::nullopt;
    }
    QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        fail(error, QStringLiteral("The file \"%1\" could not be read: %2.").arg(QFileInfo(path).fileName(), file.errorString()));
        return std::nullopt;
    }
    return data;
}

// ---------------------------------------------------------------- images

quint32 bigEndian32(const uchar *p) { return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3]; }
quint16 bigEndian16(const uchar *p) { return quint16(p[0] << 8 | p[1]); }

struct Resolution {
    double x = kDefaultImagePPI;
    double y = kDefaultImagePPI;
};

// Pixels per inch from pixels per metre. A whole number of pixels per metre cannot state a
// whole number of pixels per inch (72 ppi is stored as 2835, 72.009 ppi), so a value within one
// step of a whole number is taken to mean that number, and a 72 ppi page is not a hair small.
double perInch(double perMetre)
{
    const double ppi = perMetre * 0.0254;
    const double whole = std::round(ppi);
    return std::abs(ppi - whole) <= 0.0254 ? whole : ppi;
}

// A PNG's pHYs chunk in pixels per inch, when it states one in metres.
std::optional<Resolution> pngResolution(const QByteArray &data)
{
    const auto *bytes = reinterpret_cast<const uchar *>(data.constData());
    qsizetype at = 8;
    while (at + 12 <= data.size()) {
        const quint32 length = bigEndian32(bytes + at);
        const QByteArrayView type(data.constData() + at + 4, 4);
        if (type == "IDAT" || type == "IEND" || length > quint32(data.size() - at - 12))
            return std::nullopt;
        if (type == "pHYs" && length == 9) {
            const uchar *p = bytes + at + 8;
            if (p[8] != 1)
                return std::nullopt;
            return Resolution{perInch(bigEndian32(p)), perInch(bigEndian32(p + 4))};
        }
        at += 12 + qsizetype(length);
    }
    return std::nullopt;
}

// What is needed of a JPEG to store it as it is.
struct JPEGHeader {
    int width = 0;
    int height = 0;
    int components = 0;
    bool adobe = false;
    std::optional<Resolution> resolution;
};

// The frame header, JFIF density and Adobe marker of a JPEG that PDF readers can show as it
// is: Huffman-coded baseline, extended or progressive, 8 bits, 1, 3 or 4 components. Anything
// else (arithmetic coding, 12 bits, lossless, a damaged marker) answers nothing, and the image
// is decoded and stored as samples instead.
std::optional<JPEGHeader> jpegHeader(const QByteArray &data)
{
    const auto *bytes = reinterpret_cast<const uchar *>(data.constData());
    const qsizetype size = data.size();
    if (size < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8)
        return std::nullopt;
    JPEGHeader header;
    qsizetype at = 2;
    while (at + 4 <= size) {
        if (bytes[at] != 0xFF)
            return std::nullopt;
        const uchar marker = bytes[at + 1];
        if (marker == 0xFF) {
            ++at;
            continue;
        }
        const qsizetype length = bigEndian16(bytes + at + 2);
        if (length < 2 || at + 2 + length > size)
            return std::nullopt;
        const uchar *segment = bytes + at + 4;
        const qsizetype segmentLength = length - 2;
        if (marker == 0xE0 && segmentLength >= 12 && QByteArrayView(segment, 5) == QByteArrayView("JFIF\0", 5)) {
            const int units = segment[7];
            const double x = bigEndian16(segment + 8);
            const double y = bigEndian16(segment + 10);
            if ((units == 1 || units == 2) && x > 0 && y > 0)
                header.resolution = units == 1 ? Resolution{x, y} : Resolution{x * 2.54, y * 2.54};
        } else if (marker == 0xEE && segmentLength >= 5 && QByteArrayView(segment, 5) == "Adobe") {
            header.adobe = true;
        } else if (marker == 0xC0 || marker == 0xC1 || marker == 0xC2) {
            if (segmentLength < 6 || segment[0] != 8)
                return std::nullopt;
            header.height = bigEndian16(segment + 1);
            header.width = bigEndian16(segment + 3);
            header.components = segment[5];
            if (header.width <= 0 || header.height <= 0 ||
                (header.components != 1 && header.components != 3 && header.components != 4))
                return std::nullopt;
            return header;
        } else if ((marker >= 0xC3 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) ||
                   marker == 0xDA || marker == 0xD9) {
            // Another kind of frame, or scan data before any frame header.
            return std::nullopt;
        }
        at += 2 + length;
    }
    return std::nullopt;
}

// The resolution Qt read into `image`, unless it is the value every new image gets, which
// means the file stated none.
Resolution statedResolution(const QImage &image)
{
    static const int defaultX = QImage(1, 1, QImage::Format_RGB32).dotsPerMeterX();
    static const int defaultY = QImage(1, 1, QImage::Format_RGB32).dotsPerMeterY();
    if (image.dotsPerMeterX() <= 0 || image.dotsPerMeterY() <= 0 ||
        (image.dotsPerMeterX() == defaultX && image.dotsPerMeterY() == defaultY))
        return {};
    return {perInch(image.dotsPerMeterX()), perInch(image.dotsPerMeterY())};
}

// The orientation a JPEG asks to be shown in, applied to a point of the stored image (u right,
// d down, both 0..1), as Qt applies it: mirror and flip first, then a quarter turn clockwise.
QPointF oriented(QImageIOHandler::Transformations transformation, QPointF point)
{
    double u = point.x();
    double d = point.y();
    if (transformation == QImageIOHandler::TransformationRotate270)
        return {d, 1 - u};
    if (transformation & QImageIOHandler::TransformationMirror)
        u = 1 - u;
    if (transformation & QImageIOHandler::TransformationFlip)
        d = 1 - d;
    if (transformation & QImageIOHandler::TransformationRotate90)
        return {1 - d, u};
    return {u, d};
}

bool turnsQuarter(QImageIOHandler::Transformations transformation)
{
    return transformation == QImageIOHandler::TransformationRotate270 ||
           (transformation & QImageIOHandler::TransformationRotate90);
}

// The matrix that draws the image's unit square (origin at the bottom left of the stored
// image) onto a page of `pageSize`, within `rect` (origin at the top left), shown in the
// given orientation.
QTransform imageMatrix(const QSizeF &pageSize, const QRectF &rect,
                       QImageIOHandler::Transformations transformation = QImageIOHandler::TransformationNone)
{
    auto place = [&](double s, double t) {
        const QPointF shown = oriented(transformation, QPointF(s, 1 - t));
        return QPointF(rect.x() + shown.x() * rect.width(), pageSize.height() - rect.y() - shown.y() * rect.height());
    };
    const QPointF origin = place(0, 0);
    const QPointF right = place(1, 0) - origin;
    const QPointF up = place(0, 1) - origin;
    return QTransform(right.x(), right.y(), up.x(), up.y(), origin.x(), origin.y());
}

// The decoded pixels of `image` as samples: grey when every pixel is grey (kept at one
// channel), else RGB; opacity as alpha when any pixel is not opaque.
KVPDFImageSamples samplesOf(QImage image)
{
    KVPDFImageSamples samples;
    samples.width = image.width();
    samples.height = image.height();
    const bool grey = image.isGrayscale();
    // Grey profiles are not converted by this Qt; colour ones are brought to sRGB, which is
    // what DeviceRGB is taken to be.
    if (!grey && image.colorSpace().isValid() && image.colorSpace() != QColorSpace(QColorSpace::SRgb))
        image.convertToColorSpace(QColorSpace(QColorSpace::SRgb));
    const qsizetype width = image.width();
    if (grey && !image.hasAlphaChannel()) {
        if (image.format() != QImage::Format_Grayscale8)
            image.convertTo(QImage::Format_Grayscale8);
        samples.kind = KVPDFImageSamples::Kind::Gray;
        samples.data.reserve(width * image.height());
        for (int y = 0; y < image.height(); ++y)
            samples.data.append(reinterpret_cast<const char *>(image.constScanLine(y)), width);
        return samples;
    }
    const bool alpha = image.hasAlphaChannel();
    image.convertTo(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    samples.kind = grey ? KVPDFImageSamples::Kind::Gray : KVPDFImageSamples::Kind::RGB;
    samples.data.resize(width * image.height() * (grey ? 1 : 3));
    if (alpha)
        samples.alpha.resize(width * image.height());
    char *out = samples.data.data();
    char *outAlpha = samples.alpha.data();
    bool opaque = true;
    for (int y = 0; y < image.height(); ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (qsizetype x = 0; x < width; ++x) {
            const QRgb pixel = row[x];
            if (grey) {
                *out++ = char(qRed(pixel));
            } else {
                *out++ = char(qRed(pixel));
                *out++ = char(qGreen(pixel));
                *out++ = char(qBlue(pixel));
            }
            if (alpha) {
                *outAlpha++ = char(qAlpha(pixel));
                opaque = opaque && qAlpha(pixel) == 255;
            }
        }
    }
    if (opaque)
        samples.alpha.clear();
    return samples;
}

QSizeF pointSize(double widthPixels, double heightPixels, Resolution resolution)
{
    return QSizeF(widthPixels * 72.0 / resolution.x, heightPixels * 72.0 / resolution.y);
}

Resolution sane(Resolution resolution)
{
    if (!(resolution.x >= 1) || !(resolution.y >= 1) || !std::isfinite(resolution.x) || !std::isfinite(resolution.y))
        return {};
    return resolution;
}

QString imageError(const QImageReader &reader)
{
    const QString reason = reader.errorString();
    return reason.isEmpty() ? QStringLiteral("The image could not be read.")
                            : QStringLiteral("The image could not be read: %1.").arg(reason);
}

bool tooLarge(QSize size)
{
    return size.isValid() && qint64(size.width()) * size.height() > kMaxImagePixels;
}

// A reader of the image in `data`, over a buffer of its own: Qt's TIFF reader loses its place
// in a device another reader (or its own size()) has read from.
struct BufferReader {
    explicit BufferReader(const QByteArray &data, const QByteArray &format = {})
    {
        buffer.setData(data);
        buffer.open(QIODevice::ReadOnly);
        reader.setDevice(&buffer);
        if (!format.isEmpty())
            reader.setFormat(format);
        reader.setDecideFormatFromContent(format.isEmpty());
    }
    QBuffer buffer;
    QImageReader reader;
};

// The JPEG of `header` as it is on a page of its own.
KVPDFImagePage jpegPage(const QByteArray &data, const JPEGHeader &header)
{
    BufferReader orientation(data, "jpeg");
    QImageReader &reader = orientation.reader;
    // Only asked for the orientation: nothing is decoded.
    const QImageIOHandler::Transformations transformation = reader.transformation();
    KVPDFImagePage page;
    page.image.kind = KVPDFImageSamples::Kind::JPEG;
    page.image.width = header.width;
    page.image.height = header.height;
    page.image.components = header.components;
    page.image.invertedCMYK = header.components == 4 && header.adobe;
    page.image.data = data;
    Resolution resolution = sane(header.resolution.value_or(Resolution{}));
    double shownWidth = header.width;
    double shownHeight = header.height;
    if (turnsQuarter(transformation)) {
        std::swap(shownWidth, shownHeight);
        std::swap(resolution.x, resolution.y);
    }
    page.pageSize = pointSize(shownWidth, shownHeight, resolution);
    page.ctm = imageMatrix(page.pageSize, QRectF(QPointF(0, 0), page.pageSize), transformation);
    return page;
}

QByteArray pdfFromImageBytes(const QByteArray &data, QString *error)
{
    const QByteArray format = BufferReader(data).reader.format();
    if (format.isEmpty()) {
        fail(error, QStringLiteral("The file is not an image of a kind that can be opened."));
        return {};
    }
    const std::optional<JPEGHeader> jpeg = format == "jpeg" ? jpegHeader(data) : std::nullopt;
    if (tooLarge(BufferReader(data, format).reader.size()) || (jpeg && tooLarge(QSize(jpeg->width, jpeg->height)))) {
        fail(error, QStringLiteral("The image is too large to open."));
        return {};
    }

    std::vector<KVPDFImagePage> pages;
    if (jpeg) {
        pages.push_back(jpegPage(data, *jpeg));
    } else {
        BufferReader pageReader(data, format);
        QImageReader &reader = pageReader.reader;
        reader.setAutoTransform(true);
        // Room for the largest image allowed, at four bytes a pixel.
        reader.setAllocationLimit(int(kMaxImagePixels * 4 >> 20));
        // Only a TIFF's pages become pages; the frames of an animation or the sizes of an icon
        // are one picture.
        const int count = format == "tiff" ? std::max(reader.imageCount(), 1) : 1;
        const std::optional<Resolution> pngStated = format == "png" ? pngResolution(data) : std::nullopt;
        for (int index = 0; index < count; ++index) {
            if (index > 0 && !reader.jumpToImage(index)) {
                kvLog(QStringLiteral("Page %1 of the TIFF image cannot be reached; %2 page(s) kept").arg(index + 1).arg(index));
                break;
            }
            const QImage image = reader.read();
            if (image.isNull() || image.width() <= 0 || image.height() <= 0 || tooLarge(image.size())) {
                if (index == 0) {
                    fail(error, tooLarge(image.size()) ? QStringLiteral("The image is too large to open.") : imageError(reader));
                    return {};
                }
                kvLog(QStringLiteral("Page %1 of the TIFF image cannot be read (%2); %3 page(s) kept")
                          .arg(index + 1)
                          .arg(reader.errorString())
                          .arg(index));
                break;
            }
            KVPDFImagePage page;
            const Resolution resolution = sane(format == "png" ? pngStated.value_or(Resolution{}) : statedResolution(image));
            page.pageSize = pointSize(image.width(), image.height(), resolution);
            page.ctm = imageMatrix(page.pageSize, QRectF(QPointF(0, 0), page.pageSize));
            page.image = samplesOf(image);
            pages.push_back(std::move(page));
        }
    }
    QByteArray pdf = KVPDFImage::pdfDataWithImages(pages);
    if (pdf.isEmpty())
        fail(error, QStringLiteral("A PDF could not be made of the image."));
    return pdf;
}

// ---------------------------------------------------------------- Word

QString soffice(const QString &program)
{
    if (program.contains(QLatin1Char('/')))
        return QFileInfo(program).isExecutable() ? program : QString();
    return QStandardPaths::findExecutable(program);
}

// The suffix LibreOffice's type detection starts from: the kind found in the bytes, else the
// file's own suffix (letters and digits only).
QString wordSuffix(const QString &path)
{
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray head = file.read(8);
        if (head.startsWith(kCompoundFileMagic))
            return QStringLiteral("doc");
        if (isZip(head))
            return QStringLiteral("docx");
    }
    QString suffix = QFileInfo(path).suffix();
    suffix.removeIf([](QChar c) { return !c.isLetterOrNumber() || c.unicode() > 127; });
    return suffix.isEmpty() ? QStringLiteral("doc") : suffix.left(8);
}

} // namespace

FileKind fileKindOfFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return FileKind::Unknown;
    const QByteArray head = file.read(kSniffBytes);
    return kindOf(head, [&file](bool zip) -> QByteArray {
        if (zip) {
            // The central directory, which names every part, is at the end.
            const qint64 size = file.size();
            if (size <= kSniffBytes || !file.seek(size - kSniffBytes))
                return {};
            return file.read(kSniffBytes);
        }
        if (!file.seek(0))
            return {};
        return file.read(kMaxWordSniffBytes);
    });
}

FileKind fileKindOfData(const QByteArray &data)
{
    const QByteArray head = data.left(kSniffBytes);
    return kindOf(head, [&data](bool zip) -> QByteArray {
        return zip ? data.right(kSniffBytes) : data.left(kMaxWordSniffBytes);
    });
}

QByteArray pdfFromImageFile(const QString &path, QString *error)
{
    const std::optional<QByteArray> data = readWholeFile(path, error);
    return data ? pdfFromImageBytes(*data, error) : QByteArray();
}

QByteArray pdfFromImageData(const QByteArray &data, QString *error) { return pdfFromImageBytes(data, error); }

QByteArray pdfFromImage(const QImage &image, const QSizeF &pageSize, const QRectF &imageRect, QString *error)
{
    if (image.isNull() || image.width() <= 0 || image.height() <= 0) {
        fail(error, QStringLiteral("There is no image to put on the page."));
        return {};
    }
    if (!(pageSize.width() > 0 && pageSize.height() > 0 && std::isfinite(pageSize.width()) && std::isfinite(pageSize.height()))) {
        fail(error, QStringLiteral("The page has no area."));
        return {};
    }
    const QRectF rect = imageRect.normalized();
    if (!(rect.width() > 0 && rect.height() > 0)) {
        fail(error, QStringLiteral("The image has no area on the page."));
        return {};
    }
    KVPDFImagePage page;
    page.image = samplesOf(image);
    page.pageSize = pageSize;
    page.ctm = imageMatrix(pageSize, rect);
    QByteArray pdf = KVPDFImage::pdfDataWithImages({page});
    if (pdf.isEmpty())
        fail(error, QStringLiteral("A PDF could not be made of the image."));
    return pdf;
}

QRectF imageRectOnPage(const QSizeF &imageSize, const QRectF &pageRect)
{
    const double pageWidth = pageRect.width();
    const double pageHeight = pageRect.height();
    if (!(imageSize.width() > 0 && imageSize.height() > 0))
        return QRectF(pageWidth / 2, pageHeight / 2, 0, 0);
    const double widthRatio = pageWidth / imageSize.width();
    const double heightRatio = pageHeight / imageSize.height();
    const double factor = (widthRatio < 1 || heightRatio < 1) ? std::min(widthRatio, heightRatio) : 1.0;
    const double width = imageSize.width() * factor;
    const double height = imageSize.height() * factor;
    return QRectF((pageWidth - width) / 2, (pageHeight - height) / 2, width, height);
}

QString baseName(const QString &name)
{
    QString base = name;
    while (base.size() >= 2 && base.back().isDigit() && base.back().unicode() < 128)
        base.chop(1);
    return base;
}

QByteArray blankPagePDF(const QSizeF &pageSize, QString *error)
{
    const double width = pageSize.width();
    const double height = pageSize.height();
    if (!(width > 0 && height > 0 && width <= kMaxPageSide && height <= kMaxPageSide)) {
        fail(error, QStringLiteral("A blank page of %1 x %2 points cannot be made.").arg(width).arg(height));
        return {};
    }
    // QPdfWriter rounds page sizes to whole points, so the engine's blank page is given the
    // exact box instead.
    std::shared_ptr<KVPDFDocument> document = KVPDFDocument::documentWithData(KVPDFBlankPage(), nullptr);
    std::shared_ptr<KVPDFPage> page = document ? document->pageAtIndex(0) : nullptr;
    if (!page || !page->pageDictionary()) {
        fail(error, QStringLiteral("A blank page could not be made."));
        return {};
    }
    page->pageDictionary()->setObject("MediaBox", KVPDFPage::makePDFRect(QRectF(0, 0, width, height)));
    page->pageDictionary()->removeObjectForKey("CropBox");
    QByteArray pdf = document->currentDataWithImprints(true);
    if (pdf.isEmpty())
        fail(error, QStringLiteral("A blank page could not be made."));
    return pdf;
}

QByteArray convertWordToPDF(const QString &path, const WordConversionOptions &options, QString *error)
{
    const QString program = soffice(options.program);
    if (program.isEmpty()) {
        fail(error, QStringLiteral("LibreOffice is needed to open Word documents, but its program \"%1\" was not found. "
                                   "Install LibreOffice Writer and try again.")
                        .arg(options.program));
        return {};
    }
    if (!QFileInfo(path).isFile()) {
        fail(error, QStringLiteral("The Word document \"%1\" could not be found.").arg(QFileInfo(path).fileName()));
        return {};
    }
    const QString folder = kvTemporaryFolder();
    if (folder.isEmpty()) {
        fail(error, QStringLiteral("There is no private temporary folder for converting the Word document."));
        return {};
    }
    // The work folder holds a copy of the document (so LibreOffice leaves no lock file beside
    // the user's), the PDF and a LibreOffice profile used by no other run.
    QTemporaryDir work(folder + QStringLiteral("/wordXXXXXX"));
    if (!work.isValid()) {
        fail(error, QStringLiteral("A folder for converting the Word document could not be made: %1.").arg(work.errorString()));
        return {};
    }
    const QString input = work.filePath(QStringLiteral("document.") + wordSuffix(path));
    const QString output = work.filePath(QStringLiteral("out"));
    const QString profile = work.filePath(QStringLiteral("profile"));
    if (!QFile::copy(path, input) || !QDir().mkdir(output) || !QDir().mkdir(profile)) {
        fail(error, QStringLiteral("The Word document could not be copied for converting."));
        return {};
    }

    QProcess process;
    process.setProgram(program);
    process.setArguments({QStringLiteral("-env:UserInstallation=") + QUrl::fromLocalFile(profile).toString(QUrl::FullyEncoded),
                          QStringLiteral("--headless"), QStringLiteral("--invisible"), QStringLiteral("--nologo"),
                          QStringLiteral("--norestore"), QStringLiteral("--nodefault"), QStringLiteral("--nolockcheck"),
                          QStringLiteral("--convert-to"), QStringLiteral("pdf"), QStringLiteral("--outdir"), output, input});
    process.setWorkingDirectory(work.path());
    process.setProcessChannelMode(QProcess::MergedChannels);
    // A group of its own, so that a stop reaches the office process the launcher starts.
    process.setChildProcessModifier([] { ::setsid(); });
    process.start();
    if (!process.waitForStarted(30000)) {
        fail(error, QStringLiteral("LibreOffice could not be started to open the Word document: %1.").arg(process.errorString()));
        return {};
    }
    const qint64 pid = process.processId();
    QElapsedTimer clock;
    clock.start();
    const int interval = int(std::max<qint64>(options.busyInterval.count(), 10));
    bool overTime = false;
    while (process.state() != QProcess::NotRunning) {
        if (process.waitForFinished(interval))
            break;
        if (clock.elapsed() >= options.timeLimit.count()) {
            overTime = true;
            break;
        }
        if (options.busy)
            options.busy();
    }
    if (overTime) {
        if (pid > 0)
            ::kill(-pid_t(pid), SIGKILL);
        process.kill();
        process.waitForFinished(5000);
        fail(error, QStringLiteral("LibreOffice did not finish converting the Word document within %1 seconds.")
                        .arg(std::chrono::duration_cast<std::chrono::seconds>(options.timeLimit).count()));
        return {};
    }
    // The launcher's children may outlive it; none of them is wanted any more.
    if (pid > 0)
        ::kill(-pid_t(pid), SIGKILL);
    const QByteArray said = process.readAll().trimmed();

    const QString pdfPath = output + QStringLiteral("/document.pdf");
    QByteArray pdf;
    QFile file(pdfPath);
    if (file.open(QIODevice::ReadOnly))
        pdf = file.readAll();
    if (pdf.isEmpty()) {
        kvLog(QStringLiteral("soffice exited with %1 and made no PDF: %2").arg(process.exitCode()).arg(QString::fromLocal8Bit(said)));
        fail(error, QStringLiteral("LibreOffice could not convert the Word document to PDF."));
        return {};
    }
    KVPDFOpenResult result = KVPDFOpenOK;
    std::shared_ptr<KVPDFDocument> document = KVPDFDocument::documentWithData(pdf, &result);
    if (!document || result != KVPDFOpenOK) {
        fail(error, QStringLiteral("The PDF that LibreOffice made of the Word document cannot be read."));
        return {};
    }
    if (document->pageCount() == 0) {
        fail(error, QStringLiteral("LibreOffice made no pages of the Word document."));
        return {};
    }
    return pdf;
}

std::unique_ptr<QFile> createTemporaryFile(const QString &nameTemplate, QString *error)
{
    if (nameTemplate.contains(QLatin1Char('/'))) {
        fail(error, QStringLiteral("not a file name template: \"%1\"").arg(nameTemplate));
        return nullptr;
    }
    // The last run of X's, which in "wordXXX.pdf" stands before the extension.
    const qsizetype end = nameTemplate.lastIndexOf(QLatin1Char('X')) + 1;
    qsizetype start = end;
    while (start > 0 && nameTemplate.at(start - 1) == QLatin1Char('X'))
        --start;
    if (end == 0) {
        fail(error, QStringLiteral("no X in the file name template \"%1\"").arg(nameTemplate));
        return nullptr;
    }
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    const QString folder = kvTemporaryFolder();
    if (folder.isEmpty()) {
        fail(error, QStringLiteral("no temporary folder"));
        return nullptr;
    }
    QString reason;
    for (int attempt = 0; attempt < 100; ++attempt) {
        QString name = nameTemplate;
        for (qsizetype i = start; i < end; ++i)
            name[i] = QLatin1Char(letters[QRandomGenerator::system()->bounded(int(sizeof letters - 1))]);
        if (std::unique_ptr<QFile> file = kvCreateTemporaryFile(name, &reason))
            return file;
        // Only a name already taken is worth another try.
        if (!QFileInfo::exists(folder + QLatin1Char('/') + name) && !QFileInfo(folder + QLatin1Char('/') + name).isSymLink())
            break;
    }
    fail(error, reason);
    return nullptr;
}

} // namespace jximport
