#pragma once
// Checks on saved files shared by the writer, round-trip, imprint and refresh tests: the shape
// every full rewrite has, and what peer tools (qpdf, pdfinfo, pdftotext, pdftoppm) read from a
// file. A `password` opens an encrypted file for the peer tools (empty: none needed).
#include "KVPDFVersion.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QStringList>

#include <map>
#include <vector>

#include <sys/stat.h>

#include <QDir>
#include <QFile>

namespace savechecks {

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// qpdf --check: 0 clean, 2 errors, 3 warnings.
// A folder "ro" below `parent` holding a writable "old.pdf" with known bytes, the folder itself
// made read-only. Answers the file's path, or empty when it could not be set up. Root ignores
// permission bits, so callers check the failure as an unprivileged user.
inline QString readOnlyFolderWithOldFile(const QString &parent)
{
    ::chmod(QFile::encodeName(parent).constData(), 0755);
    const QString folder = QDir(parent).filePath(QStringLiteral("ro"));
    if (!QDir().mkpath(folder))
        return QString();
    const QString target = QDir(folder).filePath(QStringLiteral("old.pdf"));
    if (!writeFile(target, "the old file"))
        return QString();
    ::chmod(QFile::encodeName(target).constData(), 0666);
    ::chmod(QFile::encodeName(folder).constData(), 0555);
    return target;
}

inline ToolResult qpdfCheck(const QString &path, const QString &password = QString())
{
    QStringList arguments{QStringLiteral("--check")};
    if (!password.isEmpty())
        arguments << QStringLiteral("--password=") + password;
    return runTool(QStringLiteral("qpdf"), arguments << path);
}

inline QStringList popplerPassword(const QString &password)
{
    return password.isEmpty() ? QStringList() : QStringList{QStringLiteral("-upw"), password};
}

// The page box and rotation lines pdfinfo prints, one list per page.
inline std::vector<QStringList> pdfinfoBoxes(const QString &path, const QString &password = QString())
{
    const ToolResult info =
        runTool(QStringLiteral("pdfinfo"), popplerPassword(password)
                                               + QStringList{QStringLiteral("-box"), QStringLiteral("-f"), QStringLiteral("1"),
                                                             QStringLiteral("-l"), QStringLiteral("1000000"), path});
    static const QRegularExpression line(QStringLiteral("^Page +(\\d+) (rot|MediaBox|CropBox|BleedBox|TrimBox|ArtBox): *(.*)$"));
    std::vector<QStringList> pages;
    for (const QString &text : QString::fromUtf8(info.out).split(QLatin1Char('\n'))) {
        const auto match = line.match(text);
        if (!match.hasMatch())
            continue;
        const size_t index = size_t(match.captured(1).toInt() - 1);
        if (pages.size() <= index)
            pages.resize(index + 1);
        pages[index] << match.captured(2) + QLatin1Char(' ') + match.captured(3).simplified();
    }
    return pages;
}

inline QString pdfinfoField(const QString &path, const QString &field, const QString &password = QString())
{
    const ToolResult info = runTool(QStringLiteral("pdfinfo"), popplerPassword(password) << path);
    for (const QString &text : QString::fromUtf8(info.out).split(QLatin1Char('\n')))
        if (text.startsWith(field + QLatin1Char(':')))
            return text.mid(field.size() + 1).trimmed();
    return QString();
}

inline int pdfinfoPages(const QString &path, const QString &password = QString())
{
    return pdfinfoField(path, QStringLiteral("Pages"), password).toInt();
}

// The text of each page (pdftotext ends every page with a form feed).
inline QStringList pdftotextPages(const QString &path, const QString &password = QString())
{
    const ToolResult text = runTool(QStringLiteral("pdftotext"), popplerPassword(password) << path << QStringLiteral("-"));
    QStringList pages = QString::fromUtf8(text.out).split(QLatin1Char('\f'));
    if (!pages.isEmpty() && pages.last().isEmpty())
        pages.removeLast();
    return pages;
}

// Every page's crop box drawn by pdftoppm at 72 dpi in gray, in page order.
inline std::vector<QImage> renderGray(const QString &path, const QString &folder, const QString &password = QString())
{
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    const QString prefix = QDir(folder).filePath(QStringLiteral("page"));
    runTool(QStringLiteral("pdftoppm"), popplerPassword(password)
                                            << QStringLiteral("-r") << QStringLiteral("72") << QStringLiteral("-gray")
                                            << QStringLiteral("-cropbox") << path << prefix);
    QStringList files = QDir(folder).entryList({QStringLiteral("page-*.pgm")}, QDir::Files, QDir::Name);
    // pdftoppm pads page numbers to a common width, so names sort in page order.
    std::vector<QImage> images;
    for (const QString &file : files)
        images.push_back(QImage(QDir(folder).filePath(file)).convertToFormat(QImage::Format_Grayscale8));
    return images;
}

// The share (0..1) of pixels that differ between two renders of a page; 1 when sizes differ.
inline double differingPixelShare(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.isNull())
        return 1.0;
    qint64 differing = 0;
    for (int y = 0; y < a.height(); ++y) {
        const uchar *rowA = a.constScanLine(y);
        const uchar *rowB = b.constScanLine(y);
        for (int x = 0; x < a.width(); ++x)
            differing += rowA[x] != rowB[x];
    }
    return double(differing) / (double(a.width()) * a.height());
}

// The file without its stream data, where any bytes may stand.
inline QByteArray withoutStreamData(const QByteArray &file)
{
    static const QRegularExpression stream(QStringLiteral("stream\\r?\\n.*?endstream"),
                                           QRegularExpression::DotMatchesEverythingOption);
    return QString::fromLatin1(file).replace(stream, QStringLiteral("stream endstream")).toLatin1();
}

// What keeps `file` from having the shape every full rewrite has: the header, objects 1..N
// each once (written in any order), one table whose rows hold the objects' offsets, a trailer naming the version, and
// references only to 1..N. Empty when it has it.
inline QStringList fullRewriteShapeProblems(const QByteArray &file, const QByteArray &eol = "\n")
{
    QStringList problems;
    auto expect = [&problems](bool condition, const QString &problem) {
        if (!condition)
            problems << problem;
        return condition;
    };
    if (!expect(file.startsWith("%PDF-1.3" + eol), QStringLiteral("header is not %PDF-1.3")))
        return problems;
    const QByteArray text = withoutStreamData(file);
    static const QRegularExpression xref(QStringLiteral("(^|[\\r\\n])xref[\\r\\n]"));
    expect(QString::fromLatin1(text).count(xref) == 1, QStringLiteral("not exactly one cross-reference table"));
    expect(text.count("startxref") == 1, QStringLiteral("not exactly one startxref"));
    expect(text.count("%%EOF") == 1, QStringLiteral("not exactly one %%EOF"));
    expect(!text.contains("/ObjStm"), QStringLiteral("an object stream is written"));
    expect(!text.contains("/Type /XRef"), QStringLiteral("a cross-reference stream is written"));
    const qsizetype trailerAt = text.lastIndexOf("trailer" + eol);
    if (!expect(trailerAt >= 0, QStringLiteral("no trailer")))
        return problems;
    const QString trailer = QString::fromLatin1(text.mid(trailerAt, text.lastIndexOf("startxref") - trailerAt));
    expect(!trailer.contains(QLatin1String("/Prev")), QStringLiteral("the trailer has Prev"));
    expect(trailer.contains(QLatin1String("/FolivoVersion (" FOLIVO_VERSION ")")),
           QStringLiteral("no FolivoVersion in the trailer"));
    expect(trailer.contains(QLatin1String("/ID [ ")), QStringLiteral("no ID in the trailer"));

    static const QRegularExpression header(QStringLiteral("(?:^|[\\r\\n])(\\d+) (\\d+) obj[\\r\\n]"));
    std::map<int, qsizetype> offsets; // number -> offset of its header
    for (auto it = header.globalMatch(QString::fromLatin1(file)); it.hasNext();) {
        const auto match = it.next();
        const int number = match.captured(1).toInt();
        expect(match.captured(2).toInt() == 0, QStringLiteral("object %1 has generation %2").arg(number).arg(match.captured(2)));
        if (!expect(offsets.emplace(number, match.capturedStart(1)).second,
                    QStringLiteral("object %1 written twice").arg(number)))
            return problems;
    }
    const int count = int(offsets.size());
    if (!expect(count > 0, QStringLiteral("no objects")))
        return problems;
    expect(offsets.begin()->first == 1 && offsets.rbegin()->first == count,
           QStringLiteral("objects are not numbered 1..N without gaps"));
    static const QRegularExpression size(QStringLiteral("/Size (\\d+)"));
    expect(size.match(trailer).captured(1).toInt() == count + 1, QStringLiteral("Size is not the object count + 1"));

    const qsizetype table = file.lastIndexOf("xref" + eol + "0 " + QByteArray::number(count + 1) + eol);
    if (!expect(table >= 0, QStringLiteral("no table section 0 %1").arg(count + 1)))
        return problems;
    qsizetype row = table + 4 + eol.size() + 2 + QByteArray::number(count + 1).size() + eol.size();
    expect(file.mid(row, 20) == QByteArray("0000000000 65535 f \n"), QStringLiteral("bad head row"));
    for (const auto &[number, offset] : offsets) {
        if (file.mid(row + qsizetype(number) * 20, 20) != QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n") {
            problems << QStringLiteral("row %1 does not point at its object").arg(number);
            break;
        }
    }
    static const QRegularExpression reference(QStringLiteral("(\\d+) (\\d+) R\\b"));
    for (auto it = reference.globalMatch(QString::fromLatin1(text)); it.hasNext();) {
        const auto match = it.next();
        const int target = match.captured(1).toInt();
        if (!(target >= 1 && target <= count && match.captured(2) == QLatin1String("0"))) {
            problems << QStringLiteral("reference %1 leads nowhere").arg(match.captured(0));
            break;
        }
    }
    static const QRegularExpression startxref(QStringLiteral("startxref[\\r\\n]+(\\d+)"));
    expect(startxref.match(QString::fromLatin1(text)).captured(1).toLongLong() == table,
           QStringLiteral("startxref is not the table's offset"));
    return problems;
}

} // namespace savechecks
