// A one-page PDF built from in-memory objects must be a valid file to peer tools, with strings,
// names and reals read back as written.
#include "KVPDFDocument.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectInteger.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectReal.h"
#include "KVPDFObjectReference.h"
#include "KVPDFObjectStream.h"
#include "KVPDFObjectString.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <clocale>

namespace {
using Dict = std::shared_ptr<KVPDFObjectDictionary>;

KVPDFObjectPtr name(const char *bytes) { return KVPDFObjectName::nameWithBytes(bytes); }
KVPDFObjectPtr integer(int64_t v) { return KVPDFObjectInteger::integerWithLongLong(v); }
KVPDFObjectPtr real(float v) { return KVPDFObjectReal::realWithFloat(v); }
KVPDFObjectPtr refTo(const KVPDFObjectPtr &target) { return KVPDFObjectReference::referenceWithObject(target); }

// Writes the document's numbered objects with a classic cross-reference table.
QByteArray writeWithXref(const std::vector<KVPDFObjectPtr> &objects, const KVPDFObjectPtr &root, const KVPDFObjectPtr &info)
{
    QByteArray out("%PDF-1.3\n%\xE2\xE3\xCF\xD3\n");
    std::vector<qsizetype> offsets;
    for (const auto &object : objects) {
        offsets.push_back(out.size());
        out.append(object->indirectObject());
    }
    const qsizetype xref = out.size();
    out.append("xref\n0 " + QByteArray::number(qsizetype(objects.size()) + 1) + "\n0000000000 65535 f\r\n");
    for (qsizetype offset : offsets)
        out.append(QByteArray::number(offset).rightJustified(10, '0') + " 00000 n\r\n");
    auto trailer = std::make_shared<KVPDFObjectDictionary>();
    trailer->setObject("Size", integer(qsizetype(objects.size()) + 1));
    trailer->setObject("Root", refTo(root));
    trailer->setObject("Info", refTo(info));
    out.append("trailer\n" + trailer->directObject() + "\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n");
    return out;
}

QJsonObject objectValue(const QJsonObject &objects, int number)
{
    return objects.value(QStringLiteral("obj:%1 0 R").arg(number)).toObject().value(QStringLiteral("value")).toObject();
}
}

TEST(KVPDFOnePageTest, BuiltDocumentPassesPeerToolsUnderAnyLocale)
{
    std::setlocale(LC_ALL, ""); // a German locale must not leak decimal commas into the file
    KVPDFDocument document;
    auto content = KVPDFObjectStream::streamByDeflatingData("BT /F1 24 Tf 72.5 700 Td (Hello) Tj ET\n");
    auto font = std::make_shared<KVPDFObjectDictionary>();
    font->setObject("Type", name("Font"));
    font->setObject("Subtype", name("Type1"));
    font->setObject("BaseFont", name("Helvetica"));
    auto fonts = std::make_shared<KVPDFObjectDictionary>();
    fonts->setObject("F1", refTo(font));
    auto resources = std::make_shared<KVPDFObjectDictionary>();
    resources->setObject("Font", fonts);

    auto pages = std::make_shared<KVPDFObjectDictionary>();
    auto page = std::make_shared<KVPDFObjectDictionary>();
    page->setObject("Type", name("Page"));
    page->setObject("Parent", refTo(pages));
    page->setObject("MediaBox", KVPDFObjectArray::arrayWithArray({integer(0), integer(0), real(612.5f), real(792)}));
    page->setObject("Contents", refTo(content));
    page->setObject("Resources", resources);
    page->setObject("A B", KVPDFObjectString::stringWithString(QStringLiteral("(paren) \\ back")));
    pages->setObject("Type", name("Pages"));
    pages->setObject("Kids", KVPDFObjectArray::arrayWithArray({refTo(page)}));
    pages->setObject("Count", integer(1));
    pages->setObject("UserUnit", real(0.5f));
    auto catalog = std::make_shared<KVPDFObjectDictionary>();
    catalog->setObject("Type", name("Catalog"));
    catalog->setObject("Pages", refTo(pages));
    auto info = std::make_shared<KVPDFObjectDictionary>();
    info->setObject("Title", KVPDFObjectString::stringWithString(QStringLiteral("Grüße aus Köln ✓")));
    info->setObject("Author", KVPDFObjectString::stringWithString(QStringLiteral("Zoë")));

    std::vector<KVPDFObjectPtr> objects{catalog, pages, page, content, font, info};
    for (size_t i = 0; i < objects.size(); ++i) {
        objects[i]->setContext(&document);
        document.setObject(objects[i], i + 1, 0);
    }
    const QByteArray bytes = writeWithXref(objects, catalog, info);
    std::setlocale(LC_ALL, "C");

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("one-page.pdf"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();

    const ToolResult check = runTool(QStringLiteral("qpdf"), {QStringLiteral("--check"), path});
    EXPECT_EQ(check.exitCode, 0) << check.out.toStdString() << check.err.toStdString();
    EXPECT_FALSE(check.out.contains("WARNING")) << check.out.toStdString();

    const ToolResult json = runTool(QStringLiteral("qpdf"), {QStringLiteral("--json"), QStringLiteral("--json-key=qpdf"), path});
    ASSERT_EQ(json.exitCode, 0) << json.err.toStdString();
    const QJsonObject objectsJson =
        QJsonDocument::fromJson(json.out).object().value(QStringLiteral("qpdf")).toArray().at(1).toObject();
    const QJsonObject pageJson = objectValue(objectsJson, 3);
    EXPECT_EQ(pageJson.value(QStringLiteral("/A B")).toString(), QStringLiteral("u:(paren) \\ back"))
        << QJsonDocument(pageJson).toJson().toStdString();
    const QJsonArray box = pageJson.value(QStringLiteral("/MediaBox")).toArray();
    ASSERT_EQ(box.size(), 4);
    EXPECT_DOUBLE_EQ(box.at(2).toDouble(), 612.5);
    EXPECT_DOUBLE_EQ(box.at(3).toDouble(), 792);
    EXPECT_DOUBLE_EQ(objectValue(objectsJson, 2).value(QStringLiteral("/UserUnit")).toDouble(), 0.5);
    EXPECT_EQ(objectValue(objectsJson, 6).value(QStringLiteral("/Title")).toString(), QStringLiteral("u:Grüße aus Köln ✓"));
    // One byte per character where the document encoding has it.
    EXPECT_EQ(objectValue(objectsJson, 6).value(QStringLiteral("/Author")).toString(), QStringLiteral("b:5a6feb"));

    const ToolResult pdfinfo = runTool(QStringLiteral("pdfinfo"), {path});
    ASSERT_EQ(pdfinfo.exitCode, 0) << pdfinfo.err.toStdString();
    EXPECT_TRUE(QString::fromUtf8(pdfinfo.out).contains(QStringLiteral("Grüße aus Köln ✓"))) << pdfinfo.out.toStdString();
    EXPECT_TRUE(QString::fromUtf8(pdfinfo.out).contains(QRegularExpression(QStringLiteral("Author: +Zoë\n"))));
    EXPECT_TRUE(QString::fromUtf8(pdfinfo.out).contains(QRegularExpression(QStringLiteral("Pages: +1\n"))));
}
