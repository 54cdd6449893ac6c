// The outline and the links the engine reads, compared with peer tools: the outline with qpdf's
// JSON (title, level, open state, target page), before and after a save, where qpdf's objects
// (version 2, under "qpdf") also show each item's C, F and destination array unchanged; the links with a mutool script's
// getLinks() (tests/support/mutool-links.js).
//
// Where the engine and a peer legitimately part ways, the item is listed in a known-differences
// table; a listed difference that no longer occurs fails the test, so the table stays true.
#include "KVProbeLinks.h"
#include "KVProbeOutline.h"
#include "support/PdfBuilder.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <set>

namespace {
struct Case {
    QString label;                     // the corpus file, or a fixture's name
    std::function<QByteArray()> make;  // the fixture's bytes; empty for a corpus file
};

std::string caseName(const ::testing::TestParamInfo<Case> &info)
{
    std::string name;
    for (QChar c : info.param.label)
        name += c.isLetterOrNumber() ? char(c.toLatin1()) : '_';
    return name;
}

// The path of the case's file: the corpus file, or the fixture written into `dir`.
QString pathFor(const Case &c, const QTemporaryDir &dir)
{
    if (!c.make)
        return corpusDir() + QLatin1Char('/') + c.label;
    const QString path = dir.filePath(c.label + QStringLiteral(".pdf"));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(c.make());
    return path;
}

QJsonObject jsonOf(const QByteArray &text)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    return document.object();
}

// ---------------------------------------------------------------------------------------------
// Fixtures.

// Twelve levels deep, each level with a sibling; closed and open items, colours, flags and
// null operands; named and explicit destinations over four pages.
QByteArray deepOutline()
{
    PdfBuilder b = PdfBuilder::withPages(4);
    b.add(1, "<< /Type /Catalog /Pages 2 0 R /Outlines 19 0 R /Names << /Dests << /Names [(deep) [6 0 R /FitH 600]] >> >> >>");
    constexpr int kLevels = 12;
    // Item pairs: 100 + 2k is level k's first item (parent of the next level), 101 + 2k its sibling.
    b.add(19, "<< /Type /Outlines /First 100 0 R /Last 101 0 R >>");
    for (int k = 0; k < kLevels; ++k) {
        const int first = 100 + 2 * k;
        const QByteArray parent = k == 0 ? "19" : QByteArray::number(first - 2);
        const QByteArray page = QByteArray::number(3 + k % 4);
        QByteArray item = "<< /Title (level " + QByteArray::number(k) + ") /Parent " + parent + " 0 R /Next "
                          + QByteArray::number(first + 1) + " 0 R /Dest [" + page + " 0 R /XYZ null " + QByteArray::number(700 - k)
                          + " null]";
        if (k + 1 < kLevels)
            item += " /First " + QByteArray::number(first + 2) + " 0 R /Last " + QByteArray::number(first + 3) + " 0 R /Count "
                    + (k % 3 == 1 ? "-2" : QByteArray::number(2 * (kLevels - k - 1)));
        if (k % 2)
            item += " /C [0 0.5 1] /F " + QByteArray::number(k % 4);
        b.add(first, item + " >>");
        b.add(first + 1, "<< /Title (sibling " + QByteArray::number(k) + ") /Parent " + parent + " 0 R /Prev "
                             + QByteArray::number(first) + " 0 R " + (k % 2 ? "/Dest (deep)" : "/Dest [4 0 R /FitR 10 20 30 40]")
                             + " >>");
    }
    return b.build();
}

// Named, GoTo, GoToR, Launch and URI links, in qpdf's QDF form.
QByteArray linkFixture()
{
    PdfBuilder b = PdfBuilder::withPages(3);
    b.add(1, "<< /Type /Catalog /Pages 2 0 R /Names << /Dests 20 0 R >> >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Annots [10 0 R 11 0 R 12 0 R 13 0 R 14 0 R] >>");
    b.add(5, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Rotate 90 /Annots [15 0 R] >>");
    b.add(10, "<< /Type /Annot /Subtype /Link /Rect [10 10 60 30] /Dest (chapter) >>");
    b.add(11, "<< /Type /Annot /Subtype /Link /Rect [10 40 60 60] /A << /S /GoTo /D [5 0 R /Fit] >> >>");
    b.add(12, "<< /Type /Annot /Subtype /Link /Rect [10 70 60 90] /A << /S /GoToR /F (other.pdf) /D [0 /Fit] >> >>");
    b.add(13, "<< /Type /Annot /Subtype /Link /Rect [10 100 60 120] /A << /S /Launch /F (run.sh) >> >>");
    b.add(14, "<< /Type /Annot /Subtype /Link /Rect [60 150 10 130] /A << /S /URI /URI (https://example.org/page) >> >>");
    b.add(15, "<< /Type /Annot /Subtype /Link /Rect [100 200 300 250] /Dest [3 0 R /XYZ null null null] >>");
    b.add(20, "<< /Names [(chapter) << /D [4 0 R /XYZ null null null] >>] >>");
    QTemporaryDir dir;
    const QString plain = dir.filePath(QStringLiteral("plain.pdf"));
    const QString qdf = dir.filePath(QStringLiteral("qdf.pdf"));
    QFile file(plain);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(b.build());
    file.close();
    const ToolResult made = runTool(QStringLiteral("qpdf"), {QStringLiteral("--qdf"), plain, qdf});
    EXPECT_EQ(made.exitCode, 0) << made.err.toStdString();
    QFile result(qdf);
    return result.open(QIODevice::ReadOnly) ? result.readAll() : QByteArray();
}

// ---------------------------------------------------------------------------------------------
// Known differences.

struct KnownDifference {
    const char *label;
    const char *item;   // an outline title, or "page N link M" for a link
    const char *aspect; // "repeated" (the peer lists the item again), "uri", "kind"
    const char *reason;
};

const KnownDifference kKnownDifferences[] = {
    {"qpdf/outlines-with-loop.pdf", "Potato 1 -> 5: /XYZ null null null", "repeated",
     "a Next chain leads back to an earlier item: qpdf lists it once more, the engine stops at an item already read"},
    {"qpdf/outlines-with-loop.pdf", "Salad 2 -> 15: /XYZ 66 756 3", "repeated",
     "a Next chain leads back to an earlier item: qpdf lists it once more, the engine stops at an item already read"},
    {"link-fixture", "page 1 link 2", "uri",
     "the peer keeps another file's name relative; the engine resolves it against the document's folder"},
    {"link-fixture", "page 1 link 3", "kind", "the engine follows no Launch action"},
};

std::set<const KnownDifference *> &seenDifferences()
{
    static std::set<const KnownDifference *> seen;
    return seen;
}

const KnownDifference *knownDifference(const QString &label, const QString &item, const char *aspect)
{
    for (const KnownDifference &known : kKnownDifferences)
        if (label == QLatin1String(known.label) && item == QString::fromUtf8(known.item) && std::strcmp(known.aspect, aspect) == 0) {
            seenDifferences().insert(&known);
            return &known;
        }
    return nullptr;
}

void expectListedDifferencesOccurred(const QString &label, std::initializer_list<const char *> aspects)
{
    for (const KnownDifference &known : kKnownDifferences)
        for (const char *aspect : aspects)
            if (label == QLatin1String(known.label) && std::strcmp(known.aspect, aspect) == 0 && !seenDifferences().count(&known))
                ADD_FAILURE() << "listed difference no longer occurs (remove it from kKnownDifferences): " << known.item << " "
                              << known.aspect;
}

// ---------------------------------------------------------------------------------------------
// Outlines.

struct Item {
    QString title;
    int level = 0;
    bool open = false;
    int page = 0; // from 1; 0 without one
    QJsonObject peer; // qpdf's item (with "dest" and "object")
};

void flatten(const QJsonArray &items, int level, std::vector<Item> &out)
{
    for (const QJsonValue &value : items) {
        const QJsonObject item = value.toObject();
        out.push_back({item[QStringLiteral("title")].toString(), level, item[QStringLiteral("open")].toBool(),
                       item[QStringLiteral("destpageposfrom1")].toInt(0), item});
        flatten(item[QStringLiteral("kids")].toArray(), level + 1, out);
    }
}

std::vector<Item> engineOutline(const QString &path)
{
    int exitCode = -1;
    const QJsonObject json = kvprobeOutlineJson(path, {}, &exitCode);
    EXPECT_EQ(exitCode, 0);
    std::vector<Item> items;
    flatten(json[QStringLiteral("outlines")].toArray(), 0, items);
    return items;
}

QJsonObject qpdfJson(const QString &path)
{
    const ToolResult peer = runTool(QStringLiteral("qpdf"), {QStringLiteral("--json"), QStringLiteral("--json-key=outlines"),
                                                             QStringLiteral("--json-key=qpdf"), path});
    EXPECT_TRUE(peer.started);
    EXPECT_TRUE(peer.exitCode == 0 || peer.exitCode == 3) << peer.err.toStdString();
    return jsonOf(peer.out);
}

// qpdf's items, without those the engine is known to leave out.
std::vector<Item> peerOutline(const QJsonObject &json, const QString &label)
{
    std::vector<Item> all;
    flatten(json[QStringLiteral("outlines")].toArray(), 0, all);
    std::vector<Item> items;
    std::set<QString> seen;
    // The first time an item is listed is where the engine has it too; an item listed again
    // brings the rest of its chain (and their kids) with it, which the engine does not list.
    int repeatLevel = -1;
    for (const Item &item : all) {
        if (repeatLevel >= 0 && item.level >= repeatLevel && knownDifference(label, item.title, "repeated"))
            continue;
        repeatLevel = -1;
        if (!seen.insert(item.title).second && knownDifference(label, item.title, "repeated")) {
            repeatLevel = item.level;
            continue;
        }
        items.push_back(item);
    }
    return items;
}

QString describe(const Item &item)
{
    return QStringLiteral("%1 level %2 open %3 page %4").arg(item.title).arg(item.level).arg(item.open).arg(item.page);
}

// A number, or null, from qpdf's JSON (integers and reals alike).
bool sameNumber(const QJsonValue &a, const QJsonValue &b)
{
    if (a.isNull() || b.isNull())
        return a.isNull() && b.isNull();
    return a.isDouble() && b.isDouble() && std::fabs(a.toDouble() - b.toDouble()) < 1e-3;
}

// An item's C, F and destination as they stand in the file, the page given by its position.
struct Stored {
    QJsonArray color;
    double flags = 0;
    QJsonArray dest; // the elements after the page
    int page = 0;
};

Stored stored(const QJsonObject &json, const Item &item)
{
    Stored s;
    s.page = item.page;
    const QJsonArray dest = item.peer[QStringLiteral("dest")].toArray();
    for (qsizetype i = 1; i < dest.size(); ++i)
        s.dest.append(dest[i]);
    const QString object = item.peer[QStringLiteral("object")].toString();
    const QJsonObject objects = json[QStringLiteral("qpdf")].toArray().at(1).toObject();
    const QJsonObject value = objects[QStringLiteral("obj:") + object].toObject()[QStringLiteral("value")].toObject();
    // A missing C is black, a missing F is 0.
    s.color = value.contains(QStringLiteral("/C")) ? value[QStringLiteral("/C")].toArray() : QJsonArray{0, 0, 0};
    s.flags = value[QStringLiteral("/F")].toDouble(0);
    return s;
}

bool sameArray(const QJsonArray &a, const QJsonArray &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i].isString() || b[i].isString()) {
            if (a[i] != b[i])
                return false;
        } else if (!sameNumber(a[i], b[i])) {
            return false;
        }
    }
    return true;
}

class KVPDFOutlinePeerTest : public ::testing::TestWithParam<Case> { };

TEST_P(KVPDFOutlinePeerTest, OutlineEqualsQpdfAndSurvivesASave)
{
    const Case &c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = pathFor(c, dir);
    ASSERT_TRUE(QFile::exists(path)) << path.toStdString();

    const QJsonObject input = qpdfJson(path);
    const std::vector<Item> peer = peerOutline(input, c.label);
    const std::vector<Item> ours = engineOutline(path);
    ASSERT_FALSE(peer.empty());
    ASSERT_EQ(ours.size(), peer.size());
    for (size_t i = 0; i < ours.size(); ++i)
        EXPECT_EQ(describe(ours[i]).toStdString(), describe(peer[i]).toStdString()) << "item " << i;
    expectListedDifferencesOccurred(c.label, {"repeated"});

    const QString saved = dir.filePath(QStringLiteral("saved.pdf"));
    const ToolResult save = runTool(QStringLiteral(FOLIVO_KVPROBE), {QStringLiteral("save"), path, saved});
    ASSERT_EQ(save.exitCode, 0) << save.err.toStdString();
    int exitCode = -1;
    EXPECT_EQ(kvprobeOutlineJson(saved, {}, &exitCode), kvprobeOutlineJson(path, {}, &exitCode));

    const QJsonObject output = qpdfJson(saved);
    const std::vector<Item> written = peerOutline(output, c.label);
    ASSERT_EQ(written.size(), peer.size());
    for (size_t i = 0; i < peer.size(); ++i) {
        SCOPED_TRACE(peer[i].title.toStdString());
        EXPECT_EQ(describe(written[i]).toStdString(), describe(peer[i]).toStdString());
        const Stored before = stored(input, peer[i]);
        const Stored after = stored(output, written[i]);
        EXPECT_EQ(after.page, before.page);
        EXPECT_TRUE(sameArray(after.dest, before.dest))
            << QJsonDocument(after.dest).toJson(QJsonDocument::Compact).toStdString() << " vs "
            << QJsonDocument(before.dest).toJson(QJsonDocument::Compact).toStdString();
        EXPECT_TRUE(sameArray(after.color, before.color));
        EXPECT_EQ(after.flags, before.flags);
    }
}

std::vector<Case> outlineCases()
{
    std::vector<Case> cases;
    for (const char *file : {"qpdf/outlines-with-actions.pdf", "qpdf/outlines-with-loop.pdf", "qpdf/outlines-with-old-root-dests.pdf",
                             "qpdf/direct-outlines.pdf", "qpdf/page-labels-and-outlines.pdf"})
        cases.push_back({QString::fromLatin1(file), {}});
    cases.push_back({QStringLiteral("deep-outline"), deepOutline});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(KVPDFOutlinePeer, KVPDFOutlinePeerTest, ::testing::ValuesIn(outlineCases()), caseName);

// ---------------------------------------------------------------------------------------------
// Links.

class KVPDFLinksPeerTest : public ::testing::TestWithParam<Case> { };

TEST_P(KVPDFLinksPeerTest, LinksEqualTheMutoolScript)
{
    const Case &c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = pathFor(c, dir);
    ASSERT_TRUE(QFile::exists(path)) << path.toStdString();

    const QString script = QStringLiteral(FOLIVO_TEST_DATA "/../support/mutool-links.js");
    const ToolResult peer = runTool(QStringLiteral("mutool"), {QStringLiteral("run"), script, path});
    ASSERT_EQ(peer.exitCode, 0) << peer.err.toStdString();
    const QJsonArray peerPages = jsonOf(peer.out)[QStringLiteral("pages")].toArray();
    int exitCode = -1;
    const QJsonArray ourPages = kvprobeLinksJson(path, {}, &exitCode)[QStringLiteral("pages")].toArray();
    ASSERT_EQ(exitCode, 0);
    ASSERT_EQ(ourPages.size(), peerPages.size());

    size_t compared = 0;
    for (qsizetype p = 0; p < ourPages.size(); ++p) {
        const QJsonArray ours = ourPages[p].toArray();
        const QJsonArray theirs = peerPages[p].toArray();
        ASSERT_EQ(ours.size(), theirs.size()) << "page " << p + 1;
        for (qsizetype l = 0; l < ours.size(); ++l, ++compared) {
            const QJsonObject a = ours[l].toObject();
            const QJsonObject b = theirs[l].toObject();
            const QString where = QStringLiteral("page %1 link %2").arg(p + 1).arg(l);
            SCOPED_TRACE(where.toStdString());
            EXPECT_TRUE(sameArray(a[QStringLiteral("rect")].toArray(), b[QStringLiteral("rect")].toArray()));
            const QString kind = a[QStringLiteral("kind")].toString();
            if (b.contains(QStringLiteral("page"))) {
                EXPECT_EQ(kind, QStringLiteral("page"));
                EXPECT_EQ(a[QStringLiteral("page")].toInt(), b[QStringLiteral("page")].toInt());
            } else if (kind == QLatin1String("none") && knownDifference(c.label, where, "kind")) {
                continue;
            } else if (a[QStringLiteral("uri")] != b[QStringLiteral("uri")] && knownDifference(c.label, where, "uri")) {
                EXPECT_EQ(QUrl(a[QStringLiteral("uri")].toString()).fileName(),
                          b[QStringLiteral("uri")].toString().section(QLatin1Char('#'), 0, 0).section(QLatin1Char('/'), -1));
            } else {
                EXPECT_EQ(a[QStringLiteral("uri")].toString().toStdString(), b[QStringLiteral("uri")].toString().toStdString());
            }
        }
    }
    EXPECT_GT(compared, 0u);
    expectListedDifferencesOccurred(c.label, {"uri", "kind"});
}

std::vector<Case> linkCases()
{
    std::vector<Case> cases;
    for (const char *file : {"qpdf/link-annots.pdf", "pdfjs/annotation-link-text-popup.pdf", "pdfjs/TAMReview.pdf"})
        cases.push_back({QString::fromLatin1(file), {}});
    cases.push_back({QStringLiteral("link-fixture"), linkFixture});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(KVPDFLinksPeer, KVPDFLinksPeerTest, ::testing::ValuesIn(linkCases()), caseName);
} // namespace
