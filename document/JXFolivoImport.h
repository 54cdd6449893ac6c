#pragma once
// The roads by which a file that is not a PDF becomes one: images (one page per frame), Word
// documents (LibreOffice run headless), and the blank page of a given size; the geometry of an
// image placed on a page; and the private temporary files those roads and the document's read
// from bytes go through. Every road answers the bytes of a complete PDF that the engine opens
// like any other file; nothing here touches a document or a page.
//
// Precedence: what a file is comes from its bytes, never from its name or the type a caller
// assumed: a PDF renamed .png is a PDF, an image named .pdf is an image. The PDF header wins
// over everything else (a PDF may start with junk before "%PDF-", and an image format's magic
// bytes may happen to follow it) when it starts the file; then Word's two containers, whose
// signatures are strong; then the image formats Qt reads; then a PDF header after junk.
//
// Ownership: every answer is a value (QByteArray, QString, geometry) or a file the caller owns
// (createTemporaryFile). Files are made only in the run's private temporary folder
// (kvTemporaryFolder of platform/KVProcess.h), exclusively, readable by the user only, and
// removed again by the road that made them, failed or not; whatever is left when the program
// exits goes with that folder.
//
// Threads: every function may be called from any thread; none shares state with another call.
// convertWordToPDF blocks its caller until LibreOffice ends or the time limit passes, calling
// `busy` on the caller's thread meanwhile. The image roads use QImageReader, which a thread
// without a QGuiApplication may use as well.
//
// Bad input never throws out of this file. Each road answers an empty QByteArray (or false) and
// puts a sentence fit for the user in `error` when given: an unreadable or missing file, an
// image Qt cannot decode or whose size is zero or beyond kMaxImagePixels, a Word file
// LibreOffice cannot convert, a conversion that ends without a PDF, or with a PDF the engine
// cannot open or that has no page (no conversion is reported as success unless a page came
// out of it), LibreOffice missing, or over its time limit (its process group is killed).
#include <QByteArray>
#include <QImage>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

class QFile;

namespace jximport {

// What a file holds, judged by its first bytes.
enum class FileKind {
    Unknown, // none of the below; the document reads it as a PDF, as it does an unreadable image
    PDF,
    Image, // a format QImageReader recognises in the bytes (PNG, JPEG, TIFF, GIF, BMP, WebP, ...)
    Word,  // a Word binary (.doc, OLE compound file) or Office Open XML word-processing file (.docx)
};

// The PDF header is searched in this many leading bytes, as the engine does when it opens one.
inline constexpr qsizetype kPDFHeaderSearchBytes = 1000;
// Images larger than this (width x height, per frame) are refused rather than decoded.
inline constexpr qint64 kMaxImagePixels = qint64(1) << 28;
// The PPI assumed for an image that states none (or states a resolution below 1 ppi).
inline constexpr double kDefaultImagePPI = 72.0;

// The kind of the file at `path` from its bytes; Unknown when it cannot be read.
FileKind fileKindOfFile(const QString &path);
// The kind of a file whose whole content (or at least its first few kilobytes) is `data`.
// A .docx is recognised by its "word/" part names within these bytes, so give at least the
// first 64 KiB of a zip file when giving a prefix.
FileKind fileKindOfData(const QByteArray &data);

// A PDF of the image file at `path`: one page per page of a TIFF, in file order, and one page
// for any other image (an animation or an icon file gives its first picture). Each page is
// exactly the picture's size in points at its stated resolution (kDefaultImagePPI when it
// states none: PNG's pHYs and JPEG's JFIF density are read from the bytes; for other formats a
// resolution equal to the one Qt gives every new image counts as none), the picture drawn over
// the whole page, turned as its EXIF orientation says. A JPEG that PDF readers can show as it
// is (Huffman-coded, 8 bits, grey, RGB or CMYK) is stored as it is (DCTDecode, never
// re-encoded); other pictures as samples, Flate-compressed, converted to sRGB when they carry
// another colour profile: grey kept as one DeviceGray channel, colour as DeviceRGB, opacity as
// an SMask (left out when every pixel is opaque). A TIFF page that fails to decode after an
// earlier one succeeded ends the pages there (the pages read are kept, and the reason logged);
// a failure on the first fails the road.
QByteArray pdfFromImageFile(const QString &path, QString *error = nullptr);
// The same for the bytes of an image file.
QByteArray pdfFromImageData(const QByteArray &data, QString *error = nullptr);

// A one-page PDF of `pageSize` points (width x height, both above 0) showing `image` within
// `imageRect` (page coordinates, origin at the top left, y down like QImage's rows), stored as
// pdfFromImageFile stores a decoded frame. A null image or an empty page fails.
QByteArray pdfFromImage(const QImage &image, const QSizeF &pageSize, const QRectF &imageRect,
                        QString *error = nullptr);

// The rectangle, in the coordinates of a page of `pageRect`'s size (origin at its corner), in
// which an image of `imageSize` is drawn on that page: scaled down by the smaller of the two
// width and height ratios when the image is larger than the page either way (never enlarged),
// and centred. An image with no area answers an empty rectangle at the page's centre.
QRectF imageRectOnPage(const QSizeF &imageSize, const QRectF &pageRect);

// `name` without its trailing decimal digits, removed one at a time while at least two
// characters remain: "Text12" gives "Text", "7" stays "7", "A7" gives "A", "77" gives "7".
QString baseName(const QString &name);

// A one-page PDF of exactly `pageSize` points, with no margins and nothing drawn. Empty (with
// the reason) when either side is not above 0 or beyond the 14400-point limit of PDF viewers.
QByteArray blankPagePDF(const QSizeF &pageSize, QString *error = nullptr);

struct WordConversionOptions {
    // The LibreOffice program, looked up on PATH when it has no '/'.
    QString program = QStringLiteral("soffice");
    // After this long the conversion is stopped and fails.
    std::chrono::milliseconds timeLimit = std::chrono::seconds(120);
    // Called on the caller's thread about every `busyInterval` while LibreOffice runs, so the
    // caller can show that it is busy (and keep its window painted); may be empty.
    std::function<void()> busy;
    std::chrono::milliseconds busyInterval = std::chrono::milliseconds(100);
};

// The PDF that LibreOffice makes of the Word file at `path` (`soffice --headless --convert-to
// pdf`), with a user profile of its own in the private temporary folder, so that neither a
// running LibreOffice of the user nor the user's settings take part. Its pages are the sizes
// and orientation the document asks for. Fails, with a sentence for the user, when the
// program cannot be found or started ("LibreOffice is needed to open Word documents…"), when
// it exits without a PDF, with a PDF that the engine cannot open or that has no page, or when
// it runs over the time limit.
QByteArray convertWordToPDF(const QString &path, const WordConversionOptions &options = {},
                            QString *error = nullptr);

// Makes a file in the private temporary folder from `nameTemplate`, whose trailing run of 'X'
// (before any extension: "wordXXX.pdf") is replaced by random letters and digits, exclusively
// and with mode 0600; another name is tried when one is taken. Answers it open for reading and
// writing; the caller removes it. nullptr, with the reason, when the template has no 'X', holds
// a '/', or no folder or name can be had.
std::unique_ptr<QFile> createTemporaryFile(const QString &nameTemplate, QString *error = nullptr);

// The template of the file the document's read from bytes goes through.
inline const QString kDataFileTemplate = QStringLiteral("com.quorvane.folivo.dataXXXXXXXX");

} // namespace jximport
