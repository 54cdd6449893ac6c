#include "JXFolivoDocument.h"

#include "JXDocumentTestSupport.h"
#include "JXFolivoImprint.h"
#include "JXFolivoPage.h"
#include "KVDocInfoController.h"
#include "KVPDFDocument.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectString.h"
#include "KVPDFPage.h"
#include "KVPDFServices.h"
#include "KVPDFTrailer.h"
#include "KVProcess.h"
#include "support/PdfBuilder.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {
// A two-page file encrypted by qpdf with the user password "view" and the owner password
// "master"; `bits` 128 gives the RC4 handler (R3), 256 the AES-256 one (R6).
QString encryptedFixture(const QTemporaryDir &dir, int bits)
{
    const QString plain = writeFile(dir, QStringLiteral("plain.pdf"), PdfBuilder::withPages(2).build());
    const QString out = dir.filePath(QStringLiteral("enc%1.pdf").arg(bits));
    QStringList arguments{QStringLiteral("--allow-weak-crypto"), QStringLiteral("--encrypt"), QStringLiteral("view"), QStringLiteral("master"),
                          QString::number(bits)};
    if (bits == 128)
        arguments << QStringLiteral("--use-aes=n");
    arguments << QStringLiteral("--") << plain << out;
    const ToolResult run = runTool(QStringLiteral("qpdf"), arguments);
    return run.exitCode == 0 ? out : QString();
}

const QStringList kDocumentNotifications{
    JXFolivoDocument::pagesChangedNotification(), JXFolivoDocument::pagesSavedOrRevertedNotification(),
    JXFolivoDocument::documentReorderedNotification()};
}

TEST(JXFolivoDocumentTest, PasswordAnswersDecideWhetherTheDocumentOpensOrCloses)
{
    QTemporaryDir dir;
    const QString path = encryptedFixture(dir, 128);
    ASSERT_FALSE(path.isEmpty());
    struct Case {
        const char *name;
        QStringList answers;
        QString preset;
        bool opens;
        size_t prompts;
    };
    const Case cases[] = {
        {"right after two wrong", {"x", "y", "view"}, {}, true, 3},
        {"three wrong", {"x", "y", "z"}, {}, false, 3},
        {"an empty entry counts as wrong", {"", "view"}, {}, true, 2},
        {"cancelled", {}, {}, false, 1},
        {"preset right", {}, "view", true, 0},
        {"preset wrong asks", {"master"}, "nope", true, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto prompter = std::make_shared<JXScriptedPrompter>();
        for (const QString &answer : c.answers)
            prompter->answers.push_back(answer);
        JXFolivoDocument::setPasswordFromOpenScriptCommand(c.preset);
        JXFolivoDocument document;
        document.setPrompter(prompter);
        bool closed = false;
        qint64 closedAfter = -1;
        QObject::connect(&document, &JXFolivoDocument::closed, [&] {
            closed = true;
            closedAfter = prompter->sinceLastAnswer.isValid() ? prompter->sinceLastAnswer.elapsed() : 0;
        });
        JXNotificationRecorder recorder(kDocumentNotifications);
        ASSERT_TRUE(document.readFromFile(path, JXFolivoDocument::pdfTypeName()));
        EXPECT_EQ(document.openResult(), KVPDFOpenNeedsPassword);
        spinUntil([&] { return closed || document.pageCount() > 0; }, 4000);
        JXFolivoDocument::setPasswordFromOpenScriptCommand({});

        EXPECT_EQ(prompter->prompts.size(), c.prompts);
        EXPECT_EQ(document.pageCount(), c.opens ? 2u : 0u);
        EXPECT_EQ(closed, !c.opens);
        if (c.opens) {
            EXPECT_EQ(document.pdfDocument()->pageCount(), 2u);
            EXPECT_EQ(recorder.names(), (QStringList{JXFolivoDocument::pagesChangedNotification(),
                                                     JXFolivoDocument::pagesSavedOrRevertedNotification()}));
            EXPECT_TRUE(document.isPasswordProtected());
        } else {
            EXPECT_TRUE(recorder.posted.empty());
        }
        if (!prompter->prompts.empty()) {
            EXPECT_FALSE(prompter->prompts[0].bold);
            EXPECT_NE(prompter->prompts[0].text, QStringLiteral("Password Incorrect. Try Again."));
        }
        // Every prompt after a failure is the failure prompt, in bold 12 points.
        for (size_t i = 1; i < prompter->prompts.size(); ++i) {
            EXPECT_EQ(prompter->prompts[i].text, QStringLiteral("Password Incorrect. Try Again."));
            EXPECT_TRUE(prompter->prompts[i].bold);
            EXPECT_EQ(prompter->prompts[i].pointSize, 12);
        }
        if (c.answers.size() == 3 && !c.opens) {
            // Three failures close the document a second later; a cancel closes it at once.
            EXPECT_GE(closedAfter, 950);
            EXPECT_LT(closedAfter, 3000);
        } else if (c.answers.isEmpty() && !c.opens) {
            EXPECT_LT(closedAfter, 500);
        }
    }
}

TEST(JXFolivoDocumentTest, UnsupportedSecurityHandlerFailsWithTheAlert)
{
    QTemporaryDir dir;
    const QString path = encryptedFixture(dir, 256);
    ASSERT_FALSE(path.isEmpty());
    auto prompter = std::make_shared<JXScriptedPrompter>();
    prompter->answers = {QStringLiteral("view")};
    JXFolivoDocument document;
    document.setPrompter(prompter);
    JXNotificationRecorder recorder(kDocumentNotifications);
    EXPECT_FALSE(document.readFromFile(path, JXFolivoDocument::pdfTypeName()));
    EXPECT_EQ(document.openResult(), KVPDFOpenUnsupportedSecurity);
    EXPECT_EQ(document.pdfDocument(), nullptr);
    EXPECT_EQ(document.pageCount(), 0u);
    ASSERT_EQ(prompter->alerts.size(), 1u);
    EXPECT_EQ(prompter->alerts[0].style, JXAlertStyle::Critical);
    EXPECT_EQ(prompter->alerts[0].title, QStringLiteral("Unsupported Security Handler"));
    EXPECT_EQ(prompter->alerts[0].message,
              QStringLiteral("FolivoPro does not support the security handler used for this PDF document."));
    EXPECT_TRUE(prompter->prompts.empty());
    EXPECT_TRUE(recorder.posted.empty());
}

TEST(JXFolivoDocumentTest, FilesTheEngineCannotReadFailTheRead)
{
    // Object 1 does not parse, so the engine offers its redraw.
    PdfBuilder broken = PdfBuilder::withPages(1);
    broken.add(1, "<< /Type /Catalog /Pages 2 0 R /Bad ) >>");
    KVPDFServices services = *KVPDFServices::installed();
    int redrawn = 0;
    services.redraw = [&redrawn](const QByteArray &) {
        ++redrawn;
        return PdfBuilder::withPages(3).build();
    };
    KVPDFServices::Installer installed(std::move(services));

    struct Case {
        const char *name;
        QByteArray data;
        bool consent;
        bool reads;
        int asked;
        size_t pages;
    };
    const Case cases[] = {
        {"no header", "oops\n", false, false, 0, 0},
        {"empty", "", false, false, 0, 0},
        {"parse failure, redraw declined", broken.build(), false, false, 1, 0},
        {"parse failure, redraw accepted", broken.build(), true, true, 1, 3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto prompter = std::make_shared<JXScriptedPrompter>();
        prompter->consent = c.consent;
        JXFolivoDocument document;
        document.setPrompter(prompter);
        QString error;
        EXPECT_EQ(document.readFromData(c.data, JXFolivoDocument::pdfTypeName(), &error), c.reads);
        EXPECT_EQ(prompter->redrawAsked, c.asked);
        EXPECT_EQ(document.pageCount(), c.pages);
        EXPECT_EQ(error.isEmpty(), c.reads);
        if (!c.reads) {
            EXPECT_EQ(document.pdfDocument(), nullptr);
        }
    }
    // Reading from data leaves no file behind in the private folder.
    const QStringList left = QDir(kvTemporaryFolder()).entryList({QStringLiteral("com.quorvane.folivo.data*")});
    EXPECT_TRUE(left.isEmpty()) << left.join(' ').toStdString();
}

TEST(JXFolivoDocumentTest, APDFUnderAnImageNameOpensWithItsPages)
{
    QTemporaryDir dir;
    const QString path = writeFile(dir, QStringLiteral("pages.png"), PdfBuilder::withPages(3).build());
    JXFolivoDocument document;
    ASSERT_TRUE(document.readFromFile(path, QStringLiteral("image/png")));
    EXPECT_EQ(document.pageCount(), 3u);
    EXPECT_EQ(document.pdfDocument()->pageCount(), 3u);
    EXPECT_FALSE(document.wasCreatedFromImage());
}

TEST(JXFolivoDocumentTest, AnImageOpensAsAPageOfItsOwnSize)
{
    QTemporaryDir dir;
    QImage image(144, 72, QImage::Format_Grayscale8);
    image.fill(0x80);
    // 96 pixels per inch: the page is 108 x 54 points.
    image.setDotsPerMeterX(3780);
    image.setDotsPerMeterY(3780);
    const QString path = dir.filePath(QStringLiteral("grey.png"));
    ASSERT_TRUE(image.save(path));
    JXFolivoDocument document;
    JXNotificationRecorder recorder(kDocumentNotifications);
    ASSERT_TRUE(document.readFromFile(path, QStringLiteral("image/png")));
    EXPECT_TRUE(document.wasCreatedFromImage());
    ASSERT_EQ(document.pageCount(), 1u);
    ASSERT_EQ(document.pdfDocument()->pageCount(), 1u);
    EXPECT_EQ(document.pdfDocument()->pageAtIndex(0), document.pages()[0]->pdfPage());
    const QRectF box = document.pages()[0]->pdfPage()->mediaBox();
    EXPECT_NEAR(box.width(), 108, 0.05);
    EXPECT_NEAR(box.height(), 54, 0.05);
    // The read ends in setPages, which says the document was reordered.
    ASSERT_FALSE(recorder.posted.empty());
    EXPECT_EQ(recorder.posted.back().name, JXFolivoDocument::documentReorderedNotification());
    auto info = KVDocInfoController::ensureInfo(*document.pdfDocument());
    EXPECT_EQ(KVDocInfoController::valueFrom(info.get(), "Creator"), QStringLiteral("FolivoPro"));

    // A file that is neither an image nor a PDF fails, and leaves no page behind.
    const QString text = writeFile(dir, QStringLiteral("notes.png"), "just some text\n");
    EXPECT_FALSE(document.readFromFile(text, QStringLiteral("image/png")));
    EXPECT_EQ(document.pageCount(), 0u);
    EXPECT_EQ(document.pdfDocument(), nullptr);
}

TEST(JXFolivoDocumentTest, InsertingIntoADocumentWithoutEngineDocumentLeavesOnlyThatPage)
{
    JXFolivoDocument document;
    int willChange = 0, didChange = 0;
    QObject::connect(&document, &JXFolivoDocument::pdfDocumentWillChange, [&] {
        ++willChange;
        EXPECT_EQ(document.pdfDocument(), nullptr);
    });
    QObject::connect(&document, &JXFolivoDocument::pdfDocumentDidChange, [&] {
        ++didChange;
        EXPECT_NE(document.pdfDocument(), nullptr);
    });
    auto page = JXFolivoPage::blankPageWithRect(QRectF(0, 0, 300, 400), &document);
    if (!page)
        GTEST_SKIP() << "the blank page road is not available";
    JXNotificationRecorder recorder(kDocumentNotifications);
    document.insertPage(page, 0);
    EXPECT_EQ(willChange, 1);
    EXPECT_EQ(didChange, 1);
    ASSERT_EQ(document.pageCount(), 1u);
    ASSERT_EQ(document.pdfDocument()->pageCount(), 1u);
    EXPECT_EQ(document.pdfDocument()->pageAtIndex(0), document.pages()[0]->pdfPage());
    EXPECT_EQ(document.pdfDocument()->pageAtIndex(0)->mediaBox(), QRectF(0, 0, 300, 400));
    EXPECT_EQ(page->document(), &document);
    EXPECT_EQ(recorder.names(), QStringList{JXFolivoDocument::pagesChangedNotification()});
}

TEST(JXFolivoDocumentTest, PageArrayOperationsKeepTheEnginePagesInStep)
{
    QTemporaryDir dir;
    const QString path = writeFile(dir, QStringLiteral("five.pdf"), PdfBuilder::withPages(5).build());
    JXFolivoDocument document;
    ASSERT_TRUE(document.readFromFile(path, JXFolivoDocument::pdfTypeName()));
    ASSERT_EQ(document.pageCount(), 5u);
    auto inStep = [&document] {
        if (document.pageCount() != document.pdfDocument()->pageCount())
            return false;
        for (size_t i = 0; i < document.pageCount(); ++i) {
            if (document.pages()[i]->pdfPage() != document.pdfDocument()->pageAtIndex(i)
                || document.pages()[i]->document() != &document)
                return false;
        }
        return true;
    };
    EXPECT_TRUE(inStep());

    JXNotificationRecorder recorder(kDocumentNotifications);
    const auto third = document.pages()[2];
    document.removePage(third);
    EXPECT_EQ(document.pageCount(), 4u);
    EXPECT_EQ(document.indexOfPage(third.get()), -1);
    EXPECT_TRUE(inStep());

    document.insertPage(third, 0);
    EXPECT_EQ(document.indexOfPage(third.get()), 0);
    EXPECT_TRUE(inStep());

    // Reversed: one notification, "documentReordered".
    auto reversed = document.savePageArray();
    std::reverse(reversed.begin(), reversed.end());
    document.setPages(reversed);
    EXPECT_EQ(document.pages(), reversed);
    EXPECT_TRUE(inStep());
    EXPECT_EQ(recorder.names(), (QStringList{JXFolivoDocument::pagesChangedNotification(),
                                             JXFolivoDocument::pagesChangedNotification(),
                                             JXFolivoDocument::documentReorderedNotification()}));

    // A page copied from another open document: the engine lists a copy, and the page shows it.
    QTemporaryDir otherDir;
    JXFolivoDocument other;
    ASSERT_TRUE(other.readFromFile(writeFile(otherDir, QStringLiteral("two.pdf"), PdfBuilder::withPages(2).build()),
                                   JXFolivoDocument::pdfTypeName()));
    auto borrowed = JXFolivoPage::pageWith(other.pages()[1]->pdfPage(), &document);
    document.insertPage(borrowed, 2);
    EXPECT_TRUE(inStep());
    EXPECT_EQ(other.pdfDocument()->pageCount(), 2u);

    EXPECT_EQ(document.pagesInRange(1, 2).size(), 2u);
    EXPECT_EQ(document.pagesInRange(5, 9).size(), 1u);
    EXPECT_TRUE(document.pagesInRange(9, 1).empty());
}

TEST(JXFolivoDocumentTest, PageChangedPostsOnlyTheKeysGiven)
{
    QTemporaryDir dir;
    JXFolivoDocument document;
    ASSERT_TRUE(document.readFromFile(writeFile(dir, QStringLiteral("one.pdf"), PdfBuilder::withPages(1).build()),
                                      JXFolivoDocument::pdfTypeName()));
    JXFolivoPage *page = document.pages()[0].get();
    JXFolivoImprint imprint;
    const QRectF rect(1, 2, 3, 4), prev(5, 6, 7, 8);
    struct Case {
        const char *name;
        JXFolivoImprint *imprint;
        const QRectF *rect;
        const QRectF *prev;
        bool endEditing;
        QStringList keys;
    };
    const Case cases[] = {
        {"page only", nullptr, nullptr, nullptr, false, {"page"}},
        {"everything",
         &imprint,
         &rect,
         &prev,
         true,
         {"endEditing", "page", "pageImprint", "pageImprintPrevRect", "pageImprintRect"}},
        {"no previous rectangle", &imprint, &rect, nullptr, false, {"page", "pageImprint", "pageImprintRect"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        JXNotificationRecorder recorder({JXFolivoDocument::pagesChangedNotification()});
        document.pageChanged(page, c.imprint, c.rect, c.prev, c.endEditing);
        ASSERT_EQ(recorder.posted.size(), 1u);
        const auto &info = recorder.posted[0].userInfo;
        QStringList keys = info.keys();
        keys.sort();
        EXPECT_EQ(keys, c.keys);
        EXPECT_EQ(recorder.posted[0].sender, &document);
        EXPECT_EQ(info.value("page").value<JXFolivoPage *>(), page);
        if (c.rect) {
            EXPECT_EQ(info.value("pageImprintRect").toRectF(), rect);
        }
        if (c.prev) {
            EXPECT_EQ(info.value("pageImprintPrevRect").toRectF(), prev);
        }
        if (c.endEditing) {
            EXPECT_EQ(info.value("endEditing").toString(), QStringLiteral("true"));
        }
    }
}

TEST(JXFolivoDocumentTest, EngineNotificationsArePostedAgainFromEachEngineDocument)
{
    QTemporaryDir dir;
    const QString path = writeFile(dir, QStringLiteral("one.pdf"), PdfBuilder::withPages(1).build());
    JXFolivoDocument document;
    ASSERT_TRUE(document.readFromFile(path, JXFolivoDocument::pdfTypeName()));
    const std::shared_ptr<KVPDFDocument> first = document.pdfDocument();
    // A read replaces the engine document: only the new one is heard from.
    ASSERT_TRUE(document.readFromFile(path, JXFolivoDocument::pdfTypeName()));
    const std::shared_ptr<KVPDFDocument> second = document.pdfDocument();
    ASSERT_NE(first, second);

    JXNotificationRecorder recorder({KVPDFDocument::SaveProgressNotification, KVPDFDocument::WillSaveOutlineNotification});
    first->postNotification(KVPDFDocument::SaveProgressNotification, {{"Percentage", 0.5}});
    second->postNotification(KVPDFDocument::SaveProgressNotification, {{"Percentage", 0.25}});
    second->postNotification(KVPDFDocument::WillSaveOutlineNotification);
    ASSERT_EQ(recorder.posted.size(), 2u);
    EXPECT_EQ(recorder.posted[0].sender, second.get());
    EXPECT_EQ(recorder.posted[0].userInfo.value("Percentage").toDouble(), 0.25);
    EXPECT_EQ(recorder.posted[1].name, QStringLiteral("KVPDFDocumentWillSaveOutline"));

    // A save posts its progress through the same bridge.
    recorder.posted.clear();
    EXPECT_TRUE(second->writeUpdatedDocument(dir.filePath(QStringLiteral("saved.pdf")), {}));
    EXPECT_FALSE(recorder.posted.empty());
}

TEST(JXFolivoDocumentTest, ChangeCountFollowsThePlatform)
{
    JXFolivoDocument document;
    std::vector<bool> edited;
    QObject::connect(&document, &JXFolivoDocument::documentEditedChanged, [&](bool on) { edited.push_back(on); });
    const std::pair<JXDocumentChange, int> steps[] = {
        {JXDocumentChange::Done, 1},    {JXDocumentChange::Done, 2},     {JXDocumentChange::Undone, 1},
        {JXDocumentChange::Undone, 0},  {JXDocumentChange::Undone, -1},  {JXDocumentChange::Cleared, 0},
    };
    for (const auto &[change, count] : steps) {
        document.updateChangeCount(change);
        EXPECT_EQ(document.changeCount(), count);
        EXPECT_EQ(document.isDocumentEdited(), count != 0);
    }
    EXPECT_EQ(edited, (std::vector<bool>{true, false, true, false}));
}

TEST(KVDocInfoControllerTest, StampsBeforeSavingAndOnBlankDocuments)
{
    const QDateTime now(QDate(2026, 12, 11), QTime(13, 14, 15), Qt::UTC);
    auto info = [](KVPDFDocument &document, const char *key) {
        return KVDocInfoController::valueFrom(KVDocInfoController::ensureInfo(document).get(), key, "<none>");
    };
    struct Case {
        const char *name;
        QByteArray infoObject; // object 9, or empty for no Info
        QString creator, producer, title;
        bool creationDateKept;
    };
    const Case cases[] = {
        {"no Info", {}, "FolivoPro", "FolivoPro", "<none>", false},
        {"creator kept with its producer", "<< /Creator (Writer) /Producer (Lib) /Title (T) /CreationDate (D:2001) >>",
         "Writer", "Lib", "T", true},
        {"empty creator", "<< /Creator () /Producer (Lib) >>", "FolivoPro", "Lib", "<none>", false},
        {"creator not a string", "<< /Creator 7 >>", "FolivoPro", "FolivoPro", "<none>", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PdfBuilder builder = PdfBuilder::withPages(1);
        if (!c.infoObject.isEmpty()) {
            builder.add(9, c.infoObject);
            builder.trailerExtra = "/Info 9 0 R";
        }
        KVPDFOpenResult result;
        auto document = KVPDFDocument::documentWithData(builder.build(), &result);
        ASSERT_TRUE(document);
        KVDocInfoController::prepareToSave(*document, now);
        EXPECT_EQ(info(*document, "Creator"), c.creator);
        EXPECT_EQ(info(*document, "Producer"), c.producer);
        EXPECT_EQ(info(*document, "Title"), c.title);
        EXPECT_TRUE(info(*document, "ModDate").startsWith("D:20261211"));
        EXPECT_EQ(info(*document, "CreationDate").startsWith("D:2001"), c.creationDateKept);

        // The stamp reaches the saved file.
        const QByteArray saved = document->currentDataWithImprints(true);
        auto reread = KVPDFDocument::documentWithData(saved, &result);
        ASSERT_TRUE(reread);
        EXPECT_EQ(info(*reread, "Creator"), c.creator);

        KVDocInfoController::blankDocument(*document, now);
        for (const char *key : {"Title", "Author", "Subject", "Keywords"})
            EXPECT_EQ(info(*document, key), QString()) << key;
        EXPECT_EQ(info(*document, "Creator"), QStringLiteral("FolivoPro"));
        EXPECT_EQ(info(*document, "Producer"), QStringLiteral("FolivoPro"));
        EXPECT_EQ(info(*document, "CreationDate"), info(*document, "ModDate"));
    }
}
