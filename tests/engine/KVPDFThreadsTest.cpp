// Several threads reading one document at once, as search and page-image threads do: every
// thread must see what one thread alone sees, and no lazy state may be torn. The cases start
// their threads together on a cold document so that first reads meet; `make test-tsan` runs
// them under ThreadSanitizer, which reports any unguarded access they reach.
#include "KVPDFAnnotation.h"
#include "KVPDFBaseline.h"
#include "KVPDFDocument.h"
#include "KVPDFFont.h"
#include "KVPDFImage.h"
#include "KVPDFLog.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectReference.h"
#include "KVPDFObjectStream.h"
#include "KVPDFObjectString.h"
#include "KVPDFPage.h"
#include "KVPDFPageString.h"
#include "KVPDFParser.h"
#include "KVPDFServices.h"
#include "KVPDFTextBlob.h"
#include "KVPDFTrailer.h"
#include "support/PdfBuilder.h"
#include "support/ImagerServices.h"
#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <latch>
#include <map>
#include <set>
#include <thread>

namespace {

// Runs `work(thread index)` on `count` threads released together.
void onThreads(int count, const std::function<void(int)> &work)
{
    std::latch start(count);
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i)
        threads.emplace_back([&, i] {
            start.arrive_and_wait();
            work(i);
        });
    for (std::thread &thread : threads)
        thread.join();
}

QByteArray hashOf(QByteArrayView bytes) { return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex().left(16); }

QByteArray numberText(double value) { return QByteArray::number(value, 'f', 3); }

// The strings of a dictionary's values, decrypted on first read in a file opened as stored.
void appendStrings(QByteArray &out, const std::shared_ptr<KVPDFObjectDictionary> &dictionary)
{
    if (!dictionary)
        return;
    for (const auto &[key, value] : dictionary->value()) {
        KVPDFObjectPtr resolved = value ? value->resolvedObject() : nullptr;
        if (auto string = kv_cast<KVPDFObjectString>(resolved))
            out += key + '=' + string->stringValue().toUtf8() + ';';
    }
}

// What a page gives a reader: its decoded content, the runs and images its interpretation
// leaves, its fonts with some of their text and widths, the streams of its XObjects decoded,
// its annotations and the strings of the document's Info. Equal digests, equal readings.
QByteArray pageDigest(KVPDFDocument &document, KVPDFPage &page)
{
    QByteArray out;
    const QRectF box = page.croppedMediaBox();
    out += "box " + numberText(box.x()) + ' ' + numberText(box.y()) + ' ' + numberText(box.width()) + ' '
           + numberText(box.height()) + '\n';

    for (const auto &stream : page.contentStreams())
        out += "content " + (stream ? hashOf(stream->decodedData()) : QByteArray("none")) + '\n';
    page.parseContent();
    out += "runs " + QByteArray::number(qsizetype(page.textBlobs().size())) + '\n';
    for (const auto &blob : page.textBlobs())
        out += blob->string.toUtf8() + " @" + numberText(blob->location.x()) + ',' + numberText(blob->location.y()) + '\n';
    out += "images " + QByteArray::number(qsizetype(page.images().size())) + '\n';
    for (const auto &image : page.images())
        out += numberText(image->width()) + 'x' + numberText(image->height()) + ' '
               + (image->xObject() ? hashOf(image->xObject()->decodedData()) : QByteArray()) + '\n';

    QByteArray sample;
    for (int c = 0x20; c < 0x7F; ++c)
        sample.append(char(c));
    for (const KVPDFPage::FontUse &use : page.fontsInResources()) {
        out += "font " + use.path;
        if (use.font)
            out += ' ' + use.font->description().toUtf8() + ' ' + use.font->stringForData(sample).toUtf8().toHex().left(64) + ' '
                   + numberText(use.font->glyphWidth('a')) + ' ' + numberText(use.font->ascent());
        out += '\n';
    }
    if (auto resources = page.resources())
        if (auto xObjects = kv_cast<KVPDFObjectDictionary>(resources->resolvedObjectForKey("XObject")))
            for (const auto &[name, value] : xObjects->value())
                if (auto stream = kv_cast<KVPDFObjectStream>(value ? value->resolvedObject() : nullptr))
                    out +=
                        "xobject " + name + ' ' + hashOf(stream->decodedData()) + (stream->decodeComplete() ? "" : " cut") + '\n';

    for (const auto &annotation : page.annotationImprints()) {
        const QRectF rect = annotation->dictionaryRect();
        out += "annotation " + annotation->subtype() + ' ' + numberText(rect.x()) + ' ' + numberText(rect.y()) + ' '
               + QByteArray::number(annotation->flag(KVPDFAnnotation::FlagPrint));
        appendStrings(out, annotation->annotDict());
        out += '\n';
    }
    if (document.trailer() && document.trailer()->trailerDictionary())
        appendStrings(out, kv_cast<KVPDFObjectDictionary>(document.trailer()->trailerDictionary()->resolvedObjectForKey("Info")));
    return out;
}

struct CorpusUse {
    const char *file;
    KVPDFOpenMode mode;
    const char *password; // nullptr: the empty user password opens it
};

// At least 200 pages of varied making: Type1, TrueType and CID fonts, images, forms and links,
// object streams and cross-reference streams, a damaged stream, and encrypted files read as
// stored (strings and streams decrypted on first read, RC4 and AES) and for editing.
const CorpusUse kCorpus[] = {
    {"pdfjs/tracemonkey.pdf", KVPDFOpenMode::Editing, nullptr},
    {"pdfjs/TAMReview.pdf", KVPDFOpenMode::Editing, nullptr},
    {"pdfjs/arial_unicode_en_cidfont.pdf", KVPDFOpenMode::Editing, nullptr},
    {"qpdf/V4-aes.pdf", KVPDFOpenMode::AsStored, nullptr},
    {"qpdf/enc-R3,V2,U=view,O=master.pdf", KVPDFOpenMode::AsStored, "view"},
    {"qpdf/V4.pdf", KVPDFOpenMode::Editing, nullptr},
    {"qpdf/encrypted-with-images.pdf", KVPDFOpenMode::AsStored, nullptr},
    {"qpdf/form-filled-by-acrobat.pdf", KVPDFOpenMode::Editing, nullptr},
    {"qpdf/link-annots.pdf", KVPDFOpenMode::Editing, nullptr},
    {"qpdf/content-stream-errors.pdf", KVPDFOpenMode::Editing, nullptr},
    {"qpdf/compress-objstm-xref.pdf", KVPDFOpenMode::Editing, nullptr},
    {"qpdf/big-ostream.pdf", KVPDFOpenMode::Editing, nullptr},
    {"qpdf/damaged-stream.pdf", KVPDFOpenMode::Editing, nullptr},
    {"qpdf/hybrid-xref.pdf", KVPDFOpenMode::Editing, nullptr},
    {"qpdf/outlines-with-actions.pdf", KVPDFOpenMode::Editing, nullptr},
};

std::shared_ptr<KVPDFDocument> openCorpusFile(const CorpusUse &use)
{
    const QString path = QDir(corpusDir()).filePath(QString::fromLatin1(use.file));
    KVPDFOpenResult result = KVPDFOpenBroken;
    auto document = KVPDFDocument::documentWithContentsOfFile(path, &result, {}, use.mode);
    if (document && use.password && result == KVPDFOpenNeedsPassword
        && document->validatePassword(QString::fromLatin1(use.password)) == KVPDFPasswordResult::Accepted)
        result = KVPDFOpenOK;
    return result == KVPDFOpenOK ? document : nullptr;
}

struct PageUse {
    std::shared_ptr<KVPDFDocument> document;
    size_t index;
    QByteArray label;
};

std::vector<PageUse> openCorpus(std::vector<std::shared_ptr<KVPDFDocument>> &documents)
{
    std::vector<PageUse> pages;
    for (const CorpusUse &use : kCorpus) {
        std::shared_ptr<KVPDFDocument> document = openCorpusFile(use);
        if (!document) {
            ADD_FAILURE() << use.file << " does not open";
            continue;
        }
        documents.push_back(document);
        for (size_t i = 0; i < document->pageCount(); ++i)
            pages.push_back({document, i, QByteArray(use.file) + " page " + QByteArray::number(qulonglong(i + 1))});
    }
    return pages;
}


// What text preparation gives a reader: the page string and each line's range, with the
// lines' bounds once they are measured, and the links.
QByteArray preparedText(KVPDFPage &page)
{
    QByteArray out = page.pageString().toUtf8() + "\n--\n";
    for (const auto &line : page.baselines()) {
        const KVPDFRange range = line->rangeInPageString();
        out += QByteArray::number(qulonglong(range.location)) + '+' + QByteArray::number(qulonglong(range.length));
        if (page.preparedForSelection()) {
            const QRectF b = line->bounds();
            out += ' ' + numberText(b.x()) + ' ' + numberText(b.y()) + ' ' + numberText(b.width());
        }
        out += '\n';
    }
    for (const KVPDFDetectedLink &link : page.clickableURLs())
        out += link.url.toEncoded() + ' ' + QByteArray::number(qulonglong(link.range.location)) + '\n';
    return out;
}

// The search text, then the selection text, of a page no other thread prepares.
QByteArray searchThenSelection(KVPDFPage &page)
{
    page.prepareForSearch();
    QByteArray out = preparedText(page) + "==\n";
    page.prepareForSelection();
    return out + preparedText(page);
}

} // namespace

TEST(KVPDFThreadsTest, PagesPreparedForSearchAndSelectionOnManyThreadsGiveOneThreadsText)
{
    if (!QFile::exists(QDir(corpusDir()).filePath(QStringLiteral("manifest.tsv"))))
        GTEST_SKIP() << "no corpus at " << corpusDir().toStdString();
    KVPDFLogCapture quiet;
    KVPDFServices::Installer services(imagerServices());

    std::vector<std::shared_ptr<KVPDFDocument>> alone;
    const std::vector<PageUse> expected = openCorpus(alone);
    ASSERT_GE(expected.size(), 200u);
    std::vector<QByteArray> oneThread;
    for (const PageUse &use : expected)
        oneThread.push_back(searchThenSelection(*use.document->pageAtIndex(use.index)));
    QByteArray firstPageSelected;
    {
        const std::shared_ptr<KVPDFPage> first = expected[0].document->pageAtIndex(0);
        firstPageSelected = preparedText(*first);
    }

    // Cold documents again: eight threads take the pages in file order, so pages of one
    // document share fonts while they prepare; two more prepare the first page of another
    // copy of the first file together, one for search and selection, one for selection at once.
    std::vector<std::shared_ptr<KVPDFDocument>> shared;
    const std::vector<PageUse> pages = openCorpus(shared);
    ASSERT_EQ(pages.size(), expected.size());
    const std::shared_ptr<KVPDFDocument> onePageDocument = openCorpusFile(kCorpus[0]);
    ASSERT_TRUE(onePageDocument);
    const std::shared_ptr<KVPDFPage> onePage = onePageDocument->pageAtIndex(0);
    std::vector<QByteArray> manyThreads(pages.size());
    QByteArray onOnePage[2];
    std::atomic<size_t> next{0};
    onThreads(10, [&](int thread) {
        KVPDFLogCapture quietHere;
        if (thread >= 8) {
            if (thread == 8)
                onePage->prepareForSearch();
            onePage->prepareForSelection();
            onOnePage[thread - 8] = preparedText(*onePage);
            return;
        }
        for (size_t i = next++; i < pages.size(); i = next++)
            manyThreads[i] = searchThenSelection(*pages[i].document->pageAtIndex(pages[i].index));
    });
    for (size_t i = 0; i < pages.size(); ++i) {
        SCOPED_TRACE(pages[i].label.toStdString());
        EXPECT_EQ(manyThreads[i], oneThread[i]);
    }
    EXPECT_EQ(onOnePage[0], firstPageSelected);
    EXPECT_EQ(onOnePage[1], firstPageSelected);
}

TEST(KVPDFThreadsTest, CorpusPagesReadOnEightThreadsAndTwoOnOnePageAsOnOneThread)
{
    if (!QFile::exists(QDir(corpusDir()).filePath(QStringLiteral("manifest.tsv"))))
        GTEST_SKIP() << "no corpus at " << corpusDir().toStdString();
    KVPDFLogCapture quiet;

    std::vector<std::shared_ptr<KVPDFDocument>> alone;
    const std::vector<PageUse> expected = openCorpus(alone);
    ASSERT_GE(expected.size(), 200u);
    std::vector<QByteArray> oneThread;
    for (const PageUse &use : expected)
        oneThread.push_back(pageDigest(*use.document, *use.document->pageAtIndex(use.index)));

    // The same files opened again, cold: eight threads take the pages in file order, so they
    // meet on the pages, fonts, resources and object streams of one document; two more read
    // the first page of the first file together.
    std::vector<std::shared_ptr<KVPDFDocument>> shared;
    const std::vector<PageUse> pages = openCorpus(shared);
    ASSERT_EQ(pages.size(), expected.size());
    std::vector<QByteArray> manyThreads(pages.size());
    QByteArray onOnePage[2];
    std::atomic<size_t> next{0};
    onThreads(10, [&](int thread) {
        KVPDFLogCapture quietHere;
        if (thread >= 8) {
            onOnePage[thread - 8] = pageDigest(*pages[0].document, *pages[0].document->pageAtIndex(0));
            return;
        }
        for (size_t i = next++; i < pages.size(); i = next++)
            manyThreads[i] = pageDigest(*pages[i].document, *pages[i].document->pageAtIndex(pages[i].index));
    });

    for (size_t i = 0; i < pages.size(); ++i) {
        SCOPED_TRACE(pages[i].label.toStdString());
        EXPECT_EQ(manyThreads[i], oneThread[i]);
    }
    EXPECT_EQ(onOnePage[0], oneThread[0]);
    EXPECT_EQ(onOnePage[1], oneThread[0]);

    // Pages that built the same font at once still share one.
    for (const auto &document : shared) {
        std::map<const KVPDFObject *, std::set<const KVPDFFont *>> fontsByDictionary;
        for (const auto &page : document->pages())
            for (const KVPDFPage::FontUse &use : page->fontsInResources())
                if (use.font)
                    fontsByDictionary[use.font->fontDictionary().get()].insert(use.font.get());
        for (const auto &[dictionary, fonts] : fontsByDictionary)
            EXPECT_EQ(fonts.size(), 1u) << "font dictionary " << dictionary->objectNumber();
    }
}

TEST(KVPDFThreadsTest, EveryThreadGetsTheOneObjectANumberStandsFor)
{
    // Objects parsed lazily from the file, and the same objects as members of object streams
    // (qpdf packs them), each referred to from a list that every thread walks in its own order.
    constexpr int kObjects = 300;
    PdfBuilder builder = PdfBuilder::withPages(1);
    builder.add(1, "<< /Type /Catalog /Pages 2 0 R /List 9 0 R >>");
    QByteArray list;
    for (int n = 10; n < 10 + kObjects; ++n) {
        builder.add(n, "<< /Number " + QByteArray::number(n) + " /Name (n" + QByteArray::number(n) + ") /Next [ "
                           + QByteArray::number(n + 1 < 10 + kObjects ? n + 1 : 10) + " 0 R ] >>");
        list += QByteArray::number(n) + " 0 R ";
    }
    builder.add(9, "[ " + list + "]");
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString plain = folder.filePath(QStringLiteral("plain.pdf"));
    const QString packed = folder.filePath(QStringLiteral("packed.pdf"));
    {
        QFile file(plain);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(builder.build());
    }
    const ToolResult qpdf = runTool(QStringLiteral("qpdf"), {QStringLiteral("--object-streams=generate"), plain, packed});
    ASSERT_TRUE(qpdf.started && (qpdf.exitCode == 0 || qpdf.exitCode == 3)) << qpdf.err.toStdString();
    QFile packedFile(packed);
    ASSERT_TRUE(packedFile.open(QIODevice::ReadOnly));

    for (const QByteArray &fixture : {builder.build(), packedFile.readAll()}) {
        KVPDFOpenResult result = KVPDFOpenBroken;
        auto document = KVPDFDocument::documentWithData(fixture, &result);
        ASSERT_EQ(result, KVPDFOpenOK);
        // The numbers the list names, read through another document of the same bytes, so the
        // one under test starts cold.
        std::vector<uint64_t> numbers;
        {
            auto copy = KVPDFDocument::documentWithData(fixture, &result);
            ASSERT_TRUE(copy && copy->rootObject());
            auto array = kv_cast<KVPDFObjectArray>(copy->rootObject()->resolvedObjectForKey("List"));
            ASSERT_TRUE(array);
            for (const KVPDFObjectPtr &element : array->value())
                numbers.push_back(element->objectNumber());
        }
        ASSERT_EQ(numbers.size(), size_t(kObjects));

        constexpr int kThreads = 8;
        std::vector<std::vector<const KVPDFObject *>> seen(kThreads, std::vector<const KVPDFObject *>(numbers.size()));
        onThreads(kThreads, [&](int thread) {
            std::vector<KVPDFObjectPtr> references;
            for (uint64_t number : numbers)
                references.push_back(KVPDFObjectReference::referenceWithObjectNumber(number, 0, document.get()));
            // Each thread starts at another place, so first reads of a number meet.
            for (size_t k = 0; k < numbers.size(); ++k) {
                const size_t i = (k + size_t(thread) * numbers.size() / kThreads) % numbers.size();
                seen[size_t(thread)][i] = references[i]->resolvedObject().get();
            }
        });
        for (size_t i = 0; i < numbers.size(); ++i) {
            const KVPDFObject *inTable = document->objectWithNumber(numbers[i]).get();
            ASSERT_NE(inTable, nullptr) << numbers[i];
            EXPECT_EQ(inTable->objectType(), KVPDFObject::TypeDictionary) << numbers[i];
            for (int thread = 0; thread < kThreads; ++thread)
                EXPECT_EQ(seen[size_t(thread)][i], inTable) << "object " << numbers[i] << " on thread " << thread;
        }
    }
}

TEST(KVPDFThreadsTest, AStreamDecodedOnManyThreadsAtOnceIsOneResultAndOneWarning)
{
    struct Case {
        const char *name;
        QByteArray stream;
        QByteArray decoded; // empty: whatever it is, every thread's must be the same
        bool complete;
    };
    const QByteArray text = QByteArray("BT /F1 12 Tf (threads) Tj ET\n").repeated(200);
    const QByteArray deflated = qCompress(text).mid(4); // zlib stream without Qt's length prefix
    const QByteArray damaged = deflated.left(deflated.size() / 2) + QByteArray(40, '\x7F');
    const Case cases[] = {
        {"Flate stream decodes",
         "<< /Length " + QByteArray::number(deflated.size()) + " /Filter /FlateDecode >>\nstream\n" + deflated + "\nendstream",
         text, true},
        {"damaged Flate stream keeps what it decoded and warns once",
         "<< /Length " + QByteArray::number(damaged.size()) + " /Filter /FlateDecode >>\nstream\n" + damaged + "\nendstream",
         QByteArray(), false},
        {"stream with a Length that misses endstream is found by searching",
         "<< /Length 9999 >>\nstream\n" + text + "\nendstream", text, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PdfBuilder builder = PdfBuilder::withPages(1, "/MediaBox [0 0 612 792] /Contents 9 0 R");
        builder.add(9, c.stream);
        KVPDFOpenResult result = KVPDFOpenBroken;
        auto document = KVPDFDocument::documentWithData(builder.build(), &result);
        ASSERT_EQ(result, KVPDFOpenOK);
        const size_t warningsBefore = document->warningRecords().size();

        constexpr int kThreads = 8;
        std::vector<QByteArray> decoded(kThreads);
        std::vector<int> complete(kThreads);
        onThreads(kThreads, [&](int thread) {
            KVPDFLogCapture quiet;
            auto stream = kv_cast<KVPDFObjectStream>(document->resolveObject(9, 0));
            if (!stream)
                return;
            decoded[size_t(thread)] = stream->decodedData();
            complete[size_t(thread)] = stream->decodeComplete();
        });
        for (int thread = 0; thread < kThreads; ++thread) {
            if (!c.decoded.isEmpty()) {
                EXPECT_EQ(decoded[size_t(thread)], c.decoded) << "thread " << thread;
            }
            EXPECT_EQ(decoded[size_t(thread)], decoded[0]) << "thread " << thread;
            EXPECT_EQ(bool(complete[size_t(thread)]), c.complete) << "thread " << thread;
        }
        EXPECT_EQ(document->warningRecords().size() - warningsBefore, c.complete ? 0u : 1u);
    }
}

TEST(KVPDFThreadsTest, KeywordSearchesFromManyThreadsAgreeWithAPlainScan)
{
    // Keywords far apart and close together, and a long stretch without one at the end: the
    // spans threads learn overlap in every way.
    QByteArray data(20000, 'x');
    for (int at : {100, 105, 3000, 3009, 9000, 15000})
        data.replace(at, 9, "endstream");
    auto plainScan = [&](uint64_t from) {
        const qsizetype found = data.indexOf("endstream", qsizetype(from));
        return found < 0 ? KVPDFKeywordFinder::kNotFound : uint64_t(found);
    };
    KVPDFKeywordFinder finder("endstream");
    constexpr int kThreads = 8;
    std::atomic<int> wrong{0};
    onThreads(kThreads, [&](int thread) {
        for (uint64_t from = uint64_t(thread) * 37; from < uint64_t(data.size()); from += 41 + uint64_t(thread))
            if (finder.find(data, from) != plainScan(from))
                ++wrong;
    });
    EXPECT_EQ(wrong.load(), 0);
    for (uint64_t from = 0; from < uint64_t(data.size()); from += 7)
        ASSERT_EQ(finder.find(data, from), plainScan(from)) << "from " << from;
}

TEST(KVPDFThreadsTest, AnEntryReadAfterItsNumberAnswersTheObjectTheTableHolds)
{
    // A table entry taken before another reader parsed its number: reading it then must give
    // that reader's object, not parse a second one (readers of one number would part).
    for (const bool placeholder : {false, true}) {
        SCOPED_TRACE(placeholder ? "placeholder" : "entry of a classic table (a reference with a position)");
        PdfBuilder builder = PdfBuilder::withPages(1);
        builder.add(7, "<< /Kind /Shared >>");
        const QByteArray bytes = builder.build();
        KVPDFOpenResult result = KVPDFOpenBroken;
        auto document = KVPDFDocument::documentWithData(bytes, &result);
        ASSERT_EQ(result, KVPDFOpenOK);
        if (placeholder)
            document->setObject(KVPDFObject::placeholder(document.get(), 7, 0, uint64_t(bytes.indexOf("<< /Kind"))), 7, 0);
        KVPDFObjectPtr held = document->objectWithNumber(7);
        ASSERT_TRUE(held);
        ASSERT_TRUE(document->isUnread(7));
        KVPDFObjectPtr first = document->resolveObject(7, 0);
        ASSERT_TRUE(first);
        EXPECT_EQ(held->resolvedObject(), first);
        EXPECT_EQ(document->objectWithNumber(7), first);
    }
}
