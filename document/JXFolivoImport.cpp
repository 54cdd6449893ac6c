#include "JXFolivoImport.h"

#include <QFile>

namespace jximport {

namespace {
void fail(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
}
const QString kNotYet = QStringLiteral("This kind of file cannot be opened yet.");
} // namespace

FileKind fileKindOfFile(const QString &)
{
    return FileKind::Unknown;
}

FileKind fileKindOfData(const QByteArray &)
{
    return FileKind::Unknown;
}

QByteArray pdfFromImageFile(const QString &, QString *error)
{
    fail(error, kNotYet);
    return {};
}

QByteArray pdfFromImageData(const QByteArray &, QString *error)
{
    fail(error, kNotYet);
    return {};
}

QByteArray pdfFromImage(const QImage &, const QSizeF &, const QRectF &, QString *error)
{
    fail(error, kNotYet);
    return {};
}

QRectF imageRectOnPage(const QSizeF &, const QRectF &pageRect)
{
    return QRectF(pageRect.width() / 2, pageRect.height() / 2, 0, 0);
}

QString baseName(const QString &name)
{
    return name;
}

QByteArray blankPagePDF(const QSizeF &, QString *error)
{
    fail(error, kNotYet);
    return {};
}

QByteArray convertWordToPDF(const QString &, const WordConversionOptions &, QString *error)
{
    fail(error, kNotYet);
    return {};
}

std::unique_ptr<QFile> createTemporaryFile(const QString &, QString *error)
{
    fail(error, kNotYet);
    return nullptr;
}

} // namespace jximport
