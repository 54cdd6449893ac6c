// The outline, destinations and named destinations: reading, parking items with removed pages,
// writing them back, and other-file targets resolved against the document's folder.
#include "KVPDFDestination.h"
#include "KVPDFDocument.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectName.h"
#include "KVPDFOutline.h"
#include "KVPDFPage.h"
#include "support/PdfBuilder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {
std::shared_ptr<KVPDFDocument> open(const QByteArray &bytes)
{
    KVPDFOpenResult result = KVPDFOpenResult(-1);
    auto document = KVPDFDocument::documentWithData(bytes, &result);
    EXPECT_EQ(result, KVPDFOpenOK);
    return document;
}

// `items` (object text without Parent/Next) become a top-level chain of objects 20, 21, ...
// under the outline root 19, in a file of `pages` pages (objects 3...).
PdfBuilder withOutline(int pages, const std::vector<QByteArray> &items, const QByteArray &catalogExtra = {})
{
    PdfBuilder b = PdfBuilder::withPages(pages);
    b.add(1, "<< /Type /Catalog /Pages 2 0 R /Outlines 19 0 R " + catalogExtra + " >>");
    const int last = 20 + int(items.size()) - 1;
    b.add(19, "<< /Type /Outlines /First 20 0 R /Last " + QByteArray::number(last) + " 0 R >>");
    for (size_t i = 0; i < items.size(); ++i) {
        const int number = 20 + int(i);
        QByteArray text = items[i];
        text.chop(2); // ">>"
        text += " /Parent 19 0 R";
        if (number < last)
            text += " /Next " + QByteArray::number(number + 1) + " 0 R";
        b.add(number, text + " >>");
    }
    return b;
}

size_t pageIndex(KVPDFDocument &document, const KVPDFOutline &item)
{
    const auto &pages = document.pages();
    const auto page = item.destination() ? item.destination()->page() : nullptr;
    return size_t(std::find(pages.begin(), pages.end(), page) - pages.begin());
}

std::vector<QString> titles(const KVPDFOutline &parent)
{
    std::vector<QString> out;
    for (const auto &child : parent.children())
        out.push_back(child->title());
    return out;
}
} // namespace

TEST(KVPDFOutlineTest, ItemsReadTheirFlagsColourAndOpenState)
{
    struct Case {
        QByteArray item;
        bool italic, bold, black, expanded;
    } cases[] = {
        {"<< /Title (flags 3) /F 3 >>", true, false, true, false},
        {"<< /Title (flags 6) /F 6 >>", true, true, true, false},
        {"<< /Title (black) /C [0 0 0] >>", false, false, true, false},
        {"<< /Title (no colour) >>", false, false, true, false},
        {"<< /Title (red) /C [1 0 0] >>", false, false, false, false},
        {"<< /Title (short colour) /C [0.5] >>", false, false, false, false},
        {"<< /Title (negative count) /Count -3 >>", false, false, true, false},
        {"<< /Title (positive count) /Count 2 >>", false, false, true, true},
    };
    std::vector<QByteArray> items;
    for (const Case &c : cases)
        items.push_back(c.item);
    auto document = open(withOutline(1, items).build());
    const auto &root = document->outlines();
    ASSERT_EQ(root->numberOfChildren(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case &c = cases[i];
        const KVPDFOutline &item = *root->children()[i];
        SCOPED_TRACE(c.item.toStdString());
        EXPECT_EQ(item.italic(), c.italic);
        EXPECT_EQ(item.bold(), c.bold);
        EXPECT_EQ(item.colorIsBlack(), c.black);
        EXPECT_EQ(item.isExpanded(), c.expanded);
    }
    EXPECT_EQ(root->children()[5]->color(), KVColor::rgb(0.5f, 0, 0));
}

TEST(KVPDFOutlineTest, DestinationsResolveNamesWithTheTreeWinningAndKeepNullOperands)
{
    const QByteArray names = "/Dests << /a [4 0 R /Fit] /b [3 0 R /Fit] >> "
                             "/Names << /Dests << /Kids [30 0 R] >> >>";
    PdfBuilder b = withOutline(4,
                               {"<< /Title (a) /Dest /a >>", "<< /Title (b) /Dest (b) >>", "<< /Title (c) /Dest (c) >>",
                                "<< /Title (goto) /A << /S /GoTo /D [6 0 R /XYZ null null null] >> >>",
                                "<< /Title (fitr) /Dest [5 0 R /FitR 1 2 3 4] >>", "<< /Title (nowhere) /Dest /zzz >>",
                                "<< /Title (short) /Dest [4 0 R /XYZ 7] >>"},
                               names);
    b.add(30, "<< /Names [(b) [6 0 R /FitH 700] (c) 31 0 R] >>");
    b.add(31, "<< /D [3 0 R /XYZ null 500 null] >>");
    auto document = open(b.build());
    ASSERT_EQ(document->dests().size(), 3);
    const auto &items = document->outlines()->children();
    ASSERT_EQ(items.size(), 7u);

    struct Expected {
        size_t page;
        int fit;
        std::optional<double> left, top, bottom, right, zoom;
    } expected[] = {
        {1, KVPDFFitOperands::Fit, {}, {}, {}, {}, {}},
        {3, KVPDFFitOperands::FitH, {}, 700, {}, {}, {}},
        {0, KVPDFFitOperands::XYZ, {}, 500, {}, {}, {}},
        {3, KVPDFFitOperands::XYZ, {}, {}, {}, {}, {}},
        {2, KVPDFFitOperands::FitR, 1, 4, 2, 3, {}},
    };
    for (size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(items[i]->title().toStdString());
        const auto &destination = items[i]->destination();
        ASSERT_EQ(destination->type(), KVPDFDestination::TypePage);
        EXPECT_EQ(pageIndex(*document, *items[i]), expected[i].page);
        const KVPDFFitOperands &operands = destination->operands();
        EXPECT_EQ(operands.fit, expected[i].fit);
        EXPECT_EQ(operands.left, expected[i].left);
        EXPECT_EQ(operands.top, expected[i].top);
        EXPECT_EQ(operands.bottom, expected[i].bottom);
        EXPECT_EQ(operands.right, expected[i].right);
        EXPECT_EQ(operands.zoom, expected[i].zoom);
    }
    EXPECT_EQ(items[5]->destination()->type(), KVPDFDestination::TypeNone);
    // Operands the array leaves out read as null, never as 0.
    EXPECT_EQ(items[6]->destination()->operands().left, 7.0);
    EXPECT_FALSE(items[6]->destination()->operands().top.has_value());
    EXPECT_FALSE(items[6]->destination()->operands().zoom.has_value());
}

TEST(KVPDFOutlineTest, LoopsInChainsAndNameTreesStopAtTheItemAlreadyRead)
{
    PdfBuilder b = PdfBuilder::withPages(2);
    b.add(1, "<< /Type /Catalog /Pages 2 0 R /Outlines 19 0 R /Names << /Dests 30 0 R >> >>");
    b.add(19, "<< /Type /Outlines /First 20 0 R >>");
    // 21's Next leads back to 20; 22 (a child of 21) has 21 as its First.
    b.add(20, "<< /Title (one) /Dest [3 0 R /Fit] /Next 21 0 R >>");
    b.add(21, "<< /Title (two) /Dest [4 0 R /Fit] /Next 20 0 R /First 22 0 R >>");
    b.add(22, "<< /Title (two.one) /First 21 0 R >>");
    b.add(30, "<< /Kids [31 0 R] >>");
    b.add(31, "<< /Kids [30 0 R 32 0 R] >>");
    b.add(32, "<< /Names [(x) [3 0 R /Fit]] >>");
    auto document = open(b.build());
    EXPECT_EQ(document->pageCount(), 2u);
    const auto &root = document->outlines();
    EXPECT_EQ(titles(*root), (std::vector<QString>{"one", "two"}));
    ASSERT_EQ(root->children()[1]->numberOfChildren(), 1u);
    EXPECT_FALSE(root->children()[1]->children()[0]->hasChildren());
    EXPECT_TRUE(document->dests().contains(QStringLiteral("x")));
    const QString log = document->warnings().join(QLatin1Char('\n'));
    EXPECT_TRUE(log.contains(QStringLiteral("leads back to an item already read"))) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("name tree node is its own descendant"))) << log.toStdString();
}

TEST(KVPDFOutlineTest, RemovedPagesParkTheirItemsAndBringThemBackInOrder)
{
    auto document = open(withOutline(4, {"<< /Title (A) /Dest [3 0 R /Fit] >>", "<< /Title (B) /Dest [4 0 R /Fit] >>",
                                         "<< /Title (C) /Dest [5 0 R /Fit] >>"})
                             .build());
    const auto root = document->outlines();
    int announced = 0;
    root->setChildrenObserver([&announced](KVPDFOutline &) { ++announced; });
    const std::vector<std::shared_ptr<KVPDFPage>> all = document->pages();

    document->setPagesFromArray({all[0], all[2], all[3]});
    EXPECT_EQ(titles(*root), (std::vector<QString>{"A", "C"}));
    ASSERT_EQ(all[1]->deletedTOCEntries().size(), 1u);
    EXPECT_EQ(all[1]->deletedTOCEntries()[0]->title(), QStringLiteral("B"));
    EXPECT_EQ(announced, 1);

    document->setPagesFromArray(all);
    EXPECT_EQ(titles(*root), (std::vector<QString>{"A", "B", "C"}));
    EXPECT_TRUE(all[1]->deletedTOCEntries().empty());
    EXPECT_EQ(announced, 2);

    EXPECT_FALSE(root->children()[0]->canDemote());
    EXPECT_TRUE(root->children()[1]->canDemote());
    EXPECT_FALSE(root->children()[1]->canPromote());
}

TEST(KVPDFOutlineTest, SavedOutlineKeepsActionsNullOperandsAndClosedItems)
{
    PdfBuilder b = withOutline(3,
                               {"<< /Title (uri) /A << /S /URI /URI (https://example.org/) >> /C [0 0 1] /F 2 >>",
                                "<< /Title (named) /A << /S /Named /N /NextPage >> >>",
                                "<< /Title (launch) /A << /S /Launch /F (run.sh) >> >>",
                                "<< /Title (remote) /A << /S /GoToR /F (other.pdf) /D [0 /Fit] >> >>",
                                "<< /Title (nulls) /Dest [4 0 R /XYZ null null null] /First 40 0 R /Last 40 0 R /Count -1 >>"});
    b.add(40, "<< /Title (inner) /Parent 24 0 R /Dest [5 0 R /FitH 300] >>");
    auto document = open(b.build());
    auto saved = open(document->currentDataWithImprints(true));
    const auto &items = saved->outlines()->children();
    ASSERT_EQ(titles(*saved->outlines()), (std::vector<QString>{"uri", "named", "launch", "remote", "nulls"}));

    const std::vector<QByteArray> actions{"URI", "Named", "Launch", "GoToR"};
    for (size_t i = 0; i < actions.size(); ++i) {
        SCOPED_TRACE(actions[i].toStdString());
        const auto &action = items[i]->destination()->action();
        ASSERT_TRUE(action);
        auto dictionary = kv_cast<KVPDFObjectDictionary>(action->resolvedObject());
        ASSERT_TRUE(dictionary);
        EXPECT_EQ(dictionary->nameForKey("S"), actions[i]);
    }
    EXPECT_EQ(items[0]->destination()->url(), QStringLiteral("https://example.org/"));
    EXPECT_EQ(items[0]->color(), KVColor::rgb(0, 0, 1));
    EXPECT_EQ(items[0]->flags(), 2);

    const KVPDFOutline &nulls = *items[4];
    EXPECT_EQ(pageIndex(*saved, nulls), 1u);
    KVPDFFitOperands allNull;
    allNull.fit = KVPDFFitOperands::XYZ;
    EXPECT_EQ(nulls.destination()->operands(), allNull);
    EXPECT_FALSE(nulls.isExpanded());
    ASSERT_EQ(nulls.numberOfChildren(), 1u);
    EXPECT_EQ(pageIndex(*saved, *nulls.children()[0]), 2u);
    EXPECT_EQ(nulls.children()[0]->destination()->operands().top, 300.0);
}

TEST(KVPDFOutlineTest, OtherFileTargetsResolveAgainstTheDocumentsFolderWithoutChangingDirectory)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("docs/folder")));
    QFile existing(dir.filePath(QStringLiteral("docs/folder/there.pdf")));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.close();

    const QByteArray bytes = withOutline(1, {"<< /Title (relative) /A << /S /GoToR /F (other.pdf) /D [0 /Fit] >> >>",
                                             "<< /Title (mac) /A << /S /GoToR /F << /Mac (Disk:folder:there.pdf) >> >> >>",
                                             "<< /Title (mac gone) /A << /S /GoToR /F << /Mac (Disk:folder:gone.pdf) >> >> >>",
                                             "<< /Title (url) /A << /S /GoToR /F << /FS /URL /F (https://example.org/x.pdf) >> >> >>"})
                                 .build();
    const QString path = dir.filePath(QStringLiteral("docs/file.pdf"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();

    char before[4096];
    ASSERT_TRUE(getcwd(before, sizeof before));
    KVPDFOpenResult result = KVPDFOpenResult(-1);
    auto document = KVPDFDocument::documentWithContentsOfFile(path, &result);
    ASSERT_EQ(result, KVPDFOpenOK);
    char after[4096];
    ASSERT_TRUE(getcwd(after, sizeof after));
    EXPECT_STREQ(before, after);

    const auto &items = document->outlines()->children();
    ASSERT_EQ(items.size(), 4u);
    for (const auto &item : items)
        EXPECT_EQ(item->destination()->type(), KVPDFDestination::TypeFile);
    const QString docs = QDir(dir.path()).canonicalPath() + QStringLiteral("/docs/");
    auto local = [](const QString &url) { return QUrl(url).toLocalFile(); };
    EXPECT_EQ(QFileInfo(local(items[0]->destination()->url())).absoluteFilePath(),
              QFileInfo(dir.filePath(QStringLiteral("docs/other.pdf"))).absoluteFilePath());
    EXPECT_EQ(QFileInfo(local(items[1]->destination()->url())).canonicalFilePath(), docs + QStringLiteral("folder/there.pdf"));
    EXPECT_EQ(items[2]->destination()->url(), QStringLiteral("Disk:folder:gone.pdf"));
    EXPECT_EQ(items[3]->destination()->url(), QStringLiteral("https://example.org/x.pdf"));
}

TEST(KVPDFOutlineTest, NestingBeyondTheLimitIsCutWithALogLine)
{
    PdfBuilder b = PdfBuilder::withPages(1);
    b.add(1, "<< /Type /Catalog /Pages 2 0 R /Outlines 19 0 R >>");
    b.add(19, "<< /Type /Outlines /First 100 0 R >>");
    constexpr int kLevels = 2000;
    for (int k = 0; k < kLevels; ++k)
        b.add(100 + k, "<< /Title (x) /Dest [3 0 R /Fit]" + (k + 1 < kLevels ? " /First " + QByteArray::number(101 + k) + " 0 R" : QByteArray())
                           + " >>");
    auto document = open(b.build());
    int depth = 0;
    for (const KVPDFOutline *item = document->outlines().get(); item->hasChildren(); item = item->children()[0].get())
        ++depth;
    EXPECT_GT(depth, 100);
    EXPECT_LT(depth, kLevels);
    EXPECT_TRUE(document->warnings().join(QLatin1Char('\n')).contains(QStringLiteral("nests too deeply")));
    // What was read is written and reads back the same.
    auto saved = open(document->currentDataWithImprints(true));
    int savedDepth = 0;
    for (const KVPDFOutline *item = saved->outlines().get(); item->hasChildren(); item = item->children()[0].get())
        ++savedDepth;
    EXPECT_EQ(savedDepth, depth);
}
