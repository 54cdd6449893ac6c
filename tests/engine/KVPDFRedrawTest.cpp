// Redrawing a file the engine cannot parse keeps every page's size and orientation.
#include "KVPDFRedraw.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {
// "W x H" of each page as poppler shows it (rotation applied).
QStringList shownSizes(const QString &path)
{
    const ToolResult info = runTool(
        QStringLiteral("pdfinfo"), {QStringLiteral("-f"), QStringLiteral("1"), QStringLiteral("-l"), QStringLiteral("99"), path});
    QStringList sizes;
    static const QRegularExpression size(QStringLiteral("Page +\\d+ size: +([0-9.]+) x ([0-9.]+)"));
    static const QRegularExpression rotation(QStringLiteral("Page +\\d+ rot: +(\\d+)"));
    QString pending;
    for (const QString &line : QString::fromUtf8(info.out).split(QLatin1Char('\n'))) {
        if (auto m = size.match(line); m.hasMatch())
            pending = QString::number(qRound(m.captured(1).toDouble())) + QLatin1Char('x')
                      + QString::number(qRound(m.captured(2).toDouble()));
        if (auto m = rotation.match(line); m.hasMatch() && !pending.isEmpty()) {
            if (m.captured(1) == QLatin1String("90") || m.captured(1) == QLatin1String("270"))
                pending = pending.section(QLatin1Char('x'), 1, 1) + QLatin1Char('x') + pending.section(QLatin1Char('x'), 0, 0);
            sizes.append(pending);
            pending.clear();
        }
    }
    return sizes;
}
}

TEST(KVPDFRedrawTest, PagesKeepTheirSizeAndOrientation)
{
    QTemporaryDir dir;
    // Landscape pages, and a copy with the first page turned by a Rotate entry.
    const QString landscape = QDir(corpusDir()).filePath(QStringLiteral("qpdf/annotations-rotated-90.pdf"));
    const QString paper = QDir(corpusDir()).filePath(QStringLiteral("pdfjs/tracemonkey.pdf"));
    const QString rotated = dir.filePath(QStringLiteral("rotated.pdf"));
    ASSERT_EQ(runTool(QStringLiteral("qpdf"), {QStringLiteral("--rotate=+90:1"), paper, rotated}).exitCode, 0);
    for (const QString &path : {landscape, rotated}) {
        SCOPED_TRACE(path.toStdString());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray redrawn = kvRedrawPDF(file.readAll());
        ASSERT_FALSE(redrawn.isEmpty());
        const QString out = dir.filePath(QStringLiteral("redrawn.pdf"));
        QFile outFile(out);
        ASSERT_TRUE(outFile.open(QIODevice::WriteOnly));
        outFile.write(redrawn);
        outFile.close();
        const QStringList expected = shownSizes(path);
        ASSERT_FALSE(expected.isEmpty());
        EXPECT_EQ(shownSizes(out), expected);
    }
    EXPECT_TRUE(kvRedrawPDF("not a pdf").isEmpty());
}
