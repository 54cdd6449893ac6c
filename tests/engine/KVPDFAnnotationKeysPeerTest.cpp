// `kvprobe annots` against qpdf on the corpus files made to show annotations: every key the
// probe reports agrees with qpdf's reading of the file (so reading an annotation wrote
// nothing into it), dates read the same in every time zone, and a save without edits leaves
// every annotation dictionary as it was apart from object numbers.
#include "KVPDFDocument.h"
#include "KVPDFPage.h"
#include "KVProbeAnnots.h"
#include "support/CorpusManifest.h"
#include "support/KVPDFSaveChecks.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <cmath>

namespace {
const char *const kKeys[] = {"Contents", "T",  "M",  "NM", "Subj",    "C",        "IC",         "CA",
                             "BS",       "L",  "LE", "InkList",  "Vertices", "QuadPoints", "Parent"};

QStringList annotationFiles()
{
    QStringList files;
    for (const CorpusManifestEntry &entry : readCorpusManifest())
        if (entry.pages >= 0 && entry.password.isEmpty()
            && ((entry.file.startsWith(QLatin1String("pdfjs/annotation-")) && entry.file.endsWith(QLatin1String(".pdf")))
                || entry.file == QLatin1String("pdfjs/ZapfDingbats.pdf")
                || entry.file == QLatin1String("qpdf/form-fields-and-annotations.pdf")))
            files << entry.file;
    return files;
}

struct QpdfFile {
    QJsonObject objects;
    std::vector<std::vector<QJsonObject>> pages; // each page's annotation dictionaries, in Annots order

    QJsonValue resolve(QJsonValue value) const
    {
        static const QRegularExpression reference(QStringLiteral("^\\d+ \\d+ R$"));
        for (int hops = 0; hops < 16 && value.isString() && reference.match(value.toString()).hasMatch(); ++hops) {
            const QJsonObject entry = objects.value(QStringLiteral("obj:") + value.toString()).toObject();
            value = entry.contains(QStringLiteral("stream"))
                        ? entry.value(QStringLiteral("stream")).toObject().value(QStringLiteral("dict"))
                        : entry.value(QStringLiteral("value"));
        }
        return value;
    }
};

std::optional<QpdfFile> qpdfFile(const QString &path)
{
    const ToolResult run = runTool(QStringLiteral("qpdf"), {QStringLiteral("--json=2"), QStringLiteral("--json-key=qpdf"),
                                                            QStringLiteral("--json-key=pages"), path});
    if (!run.started || (run.exitCode != 0 && run.exitCode != 3))
        return std::nullopt;
    const QJsonObject json = QJsonDocument::fromJson(run.out).object();
    QpdfFile file{json.value(QStringLiteral("qpdf")).toArray().at(1).toObject(), {}};
    for (const QJsonValue &pageEntry : json.value(QStringLiteral("pages")).toArray()) {
        std::vector<QJsonObject> list;
        const QJsonObject page = file.resolve(pageEntry.toObject().value(QStringLiteral("object"))).toObject();
        for (const QJsonValue &element : file.resolve(page.value(QStringLiteral("/Annots"))).toArray())
            if (const QJsonValue value = file.resolve(element); value.isObject())
                list.push_back(value.toObject());
        file.pages.push_back(std::move(list));
    }
    return file;
}

// Equal as qpdf prints them; numbers within what a 32-bit float keeps of a coordinate.
// `references`: compare references as references only, whatever their numbers.
bool same(const QJsonValue &a, const QJsonValue &b, bool references = false)
{
    static const QRegularExpression reference(QStringLiteral("^\\d+ \\d+ R$"));
    if (a.isDouble() && b.isDouble())
        return std::abs(a.toDouble() - b.toDouble()) <= 1e-4 * std::max(1.0, std::abs(b.toDouble()));
    if (references && a.isString() && b.isString() && reference.match(a.toString()).hasMatch())
        return reference.match(b.toString()).hasMatch();
    if (a.isArray() && b.isArray()) {
        const QJsonArray x = a.toArray(), y = b.toArray();
        if (x.size() != y.size())
            return false;
        for (qsizetype i = 0; i < x.size(); ++i)
            if (!same(x.at(i), y.at(i), references))
                return false;
        return true;
    }
    if (a.isObject() && b.isObject()) {
        const QJsonObject x = a.toObject(), y = b.toObject();
        if (x.keys() != y.keys())
            return false;
        for (const QString &key : x.keys())
            if (!same(x.value(key), y.value(key), references))
                return false;
        return true;
    }
    return a == b;
}

QString text(const QJsonValue &value)
{
    if (value.isObject())
        return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
    if (value.isArray())
        return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
    return QJsonArray{value}.isEmpty() ? QString() : QString::fromUtf8(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact));
}

// The UTC time of a PDF date as qpdf gives it ("u:D:20151220233005+01'00'"); for a date
// without a zone, its wall-clock time.
QString utcOf(const QString &date)
{
    static const QRegularExpression form(
        QStringLiteral("^u:D:(\\d{4})(\\d{2})(\\d{2})(\\d{2})(\\d{2})(\\d{2})(?:Z|([+-])(\\d{2})'?(\\d{2})'?)?"));
    const QRegularExpressionMatch m = form.match(date);
    if (!m.hasMatch())
        return QString();
    if (m.captured(7).isEmpty() && !date.contains(QLatin1Char('Z')))
        return QStringLiteral("%1-%2-%3T%4:%5:%6")
            .arg(m.captured(1), m.captured(2), m.captured(3), m.captured(4), m.captured(5), m.captured(6));
    int offset = 0;
    if (!m.captured(7).isEmpty())
        offset = (m.captured(8).toInt() * 3600 + m.captured(9).toInt() * 60) * (m.captured(7) == QLatin1String("-") ? -1 : 1);
    const QDateTime local(QDate(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt()),
                          QTime(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt()),
                          QTimeZone(offset));
    return local.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ"));
}
}

TEST(KVPDFAnnotationKeysPeerTest, ProbeKeysAgreeWithQpdf)
{
    const QStringList files = annotationFiles();
    if (files.isEmpty())
        GTEST_SKIP() << "no corpus at " << corpusDir().toStdString();
    static const QRegularExpression danglingReference(QStringLiteral("^\\d+ \\d+ R$"));
    int compared = 0;
    QStringList seenKeys;
    for (const QString &relative : files) {
        SCOPED_TRACE(relative.toStdString());
        const QString path = corpusDir() + QLatin1Char('/') + relative;
        const std::optional<QpdfFile> peer = qpdfFile(path);
        ASSERT_TRUE(peer);
        int exitCode = -1;
        const QJsonObject ours = kvprobeAnnotsJson(path, {}, &exitCode);
        ASSERT_EQ(exitCode, 0);
        const QJsonArray pages = ours.value(QStringLiteral("pages")).toArray();
        ASSERT_EQ(size_t(pages.size()), peer->pages.size());
        for (qsizetype p = 0; p < pages.size(); ++p) {
            const QJsonArray list = pages.at(p).toArray();
            ASSERT_EQ(size_t(list.size()), peer->pages[p].size()) << "page " << p;
            for (qsizetype i = 0; i < list.size(); ++i) {
                SCOPED_TRACE(QStringLiteral("page %1, annotation %2").arg(p).arg(i).toStdString());
                const QJsonObject engine = list.at(i).toObject();
                const QJsonObject &qpdf = peer->pages[p][i];
                // A widget's field keys belong to the form-field model, which reads them into
                // the field and writes them back with it.
                if (engine.value(QStringLiteral("subtype")) == QLatin1String("Widget"))
                    continue;
                for (const char *key : kKeys) {
                    const QString name = QLatin1String(key);
                    if (name == QLatin1String("Parent") && engine.value(QStringLiteral("subtype")) != QLatin1String("Popup"))
                        continue;
                    QJsonValue peerValue = qpdf.value(QLatin1Char('/') + name);
                    // qpdf reads a reference to an object the file lacks as null, and leaves
                    // the key out; the engine keeps the reference.
                    if (peerValue.isUndefined() && engine.value(name).isString()
                        && danglingReference.match(engine.value(name).toString()).hasMatch()
                        && peer->resolve(engine.value(name)).isNull())
                        peerValue = engine.value(name);
                    EXPECT_TRUE(same(engine.value(name), peerValue))
                        << key << ": engine " << text(engine.value(name)).toStdString() << ", qpdf "
                        << text(peerValue).toStdString();
                    if (!peerValue.isUndefined() && !seenKeys.contains(name))
                        seenKeys << name;
                }
                const QString m = peer->resolve(qpdf.value(QStringLiteral("/M"))).toString();
                if (!utcOf(m).isEmpty()) {
                    EXPECT_EQ(engine.value(QStringLiteral("modified")).toString(), utcOf(m)) << m.toStdString();
                }
                ++compared;
            }
        }
    }
    EXPECT_GT(compared, 20);
    for (const char *key : kKeys)
        EXPECT_TRUE(seenKeys.contains(QLatin1String(key))) << key << " is compared somewhere";
}

TEST(KVPDFAnnotationKeysPeerTest, DefaultAppearanceAndStyleAreReadFromTheirStrings)
{
    struct Case {
        const char *name;
        QByteArray keys;
        QByteArray da; // compact JSON; empty: no DA entry
        QByteArray ds;
    };
    const Case cases[] = {
        {"font, size and RGB", "/DA (/Helv 12 Tf 1 0 0 rg)", R"({"color":[1,0,0],"font":"/Helv","size":12})", ""},
        {"gray before the font", "/DA (0.5 g /F1 9.5 Tf)", R"({"color":[0.5],"font":"/F1","size":9.5})", ""},
        {"CMYK, the last colour wins", "/DA (1 g /F2 0 Tf 0 0 0 1 k)", R"({"color":[0,0,0,1],"font":"/F2","size":0})", ""},
        {"no operators", "/DA (garbage)", "{}", ""},
        {"style colour", "/DS (font: Helvetica 12pt; color:#E52237)", "", R"({"color":"#e52237"})"},
        {"style without colour", "/DS (font: Helvetica 12pt)", "", "{}"},
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray annotation = "<< /Type /Annot /Subtype /FreeText /Rect [0 0 10 10] " + c.keys + " >>";
        const QString path = dir.filePath(QStringLiteral("da.pdf"));
        QByteArray file = "%PDF-1.4\n";
        // A hand-made file: catalogue, pages, one page, the annotation.
        const QByteArray objects[] = {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] /Annots [4 0 R] >>", annotation};
        QList<qsizetype> offsets;
        for (int i = 0; i < 4; ++i) {
            offsets << file.size();
            file += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
        }
        const qsizetype xref = file.size();
        file += "xref\n0 5\n0000000000 65535 f\r\n";
        for (qsizetype offset : offsets)
            file += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n\r\n";
        file += "trailer\n<< /Size 5 /Root 1 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
        ASSERT_TRUE(savechecks::writeFile(path, file));
        int exitCode = -1;
        const QJsonObject out = kvprobeAnnotsJson(path, {}, &exitCode);
        ASSERT_EQ(exitCode, 0);
        const QJsonObject entry = out.value(QStringLiteral("pages")).toArray().at(0).toArray().at(0).toObject();
        EXPECT_EQ(entry.contains(QStringLiteral("DA")) ? text(entry.value(QStringLiteral("DA"))).toUtf8() : QByteArray(), c.da);
        EXPECT_EQ(entry.contains(QStringLiteral("DS")) ? text(entry.value(QStringLiteral("DS"))).toUtf8() : QByteArray(), c.ds);
    }
}

// Reading every annotation into its class and saving writes each dictionary back as it was:
// only object numbers change, and every annotation keeps its page (P).
TEST(KVPDFAnnotationKeysPeerTest, SavingWithoutEditsKeepsEveryAnnotationDictionary)
{
    const QStringList files = annotationFiles();
    if (files.isEmpty())
        GTEST_SKIP() << "no corpus at " << corpusDir().toStdString();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    int compared = 0;
    for (const QString &relative : files) {
        SCOPED_TRACE(relative.toStdString());
        const QString path = corpusDir() + QLatin1Char('/') + relative;
        KVPDFOpenResult result = KVPDFOpenResult(-1);
        auto document = KVPDFDocument::documentWithData(savechecks::readFile(path), &result);
        ASSERT_TRUE(document);
        for (const auto &page : document->pages())
            page->annotationImprints();
        const QString saved = dir.filePath(QStringLiteral("saved.pdf"));
        ASSERT_TRUE(document->writeUpdatedDocument(saved, {}));
        const std::optional<QpdfFile> before = qpdfFile(path);
        const std::optional<QpdfFile> after = qpdfFile(saved);
        ASSERT_TRUE(before && after);
        ASSERT_EQ(before->pages.size(), after->pages.size());
        for (size_t p = 0; p < before->pages.size(); ++p) {
            ASSERT_EQ(before->pages[p].size(), after->pages[p].size()) << "page " << p;
            for (size_t i = 0; i < before->pages[p].size(); ++i) {
                QJsonObject old = before->pages[p][i];
                // Widgets are written with their fields by the form-field model.
                if (old.value(QStringLiteral("/Subtype")) == QLatin1String("/Widget"))
                    continue;
                // A save states each annotation's page.
                if (!old.contains(QStringLiteral("/P")))
                    old.insert(QStringLiteral("/P"), after->pages[p][i].value(QStringLiteral("/P")));
                EXPECT_TRUE(same(after->pages[p][i], old, true))
                    << "page " << p << ", annotation " << i << ":\n  before " << text(old).toStdString() << "\n  after  "
                    << text(after->pages[p][i]).toStdString();
                ++compared;
            }
        }
    }
    EXPECT_GT(compared, 20);
}
