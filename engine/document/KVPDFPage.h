#pragma once
// The engine's view of one page: its dictionary, boxes, rotation and content streams. Made by
// the document's page-tree walk.
//
// Ownership: always held by std::shared_ptr (annotations link back to it weakly). The page
// refers to its document raw, and its objects do too. A page read by the walk relies on the
// document that lists it. A page made from data holds the document it made, and a copy holds
// its source document (when that is shared-owned), so either can outlive whoever else owned
// it. Put into the very document it holds (KVPDFDocument::insertPage, setPagesFromArray), a
// page lets go of it, since the document then owns the page and the pair would keep each
// other alive; from then on it relies on the document that lists it, like a page of the walk.
// Put into another document, the page becomes that document's (moveToDocument) and lets go of
// its source, so copies that go both ways between two documents never keep each other alive.
// Taken out of the list again (removePageAtIndex, setPagesFromArray), it holds its document
// once more, unless the list still holds it elsewhere. The imprint setters treat the
// annotations put on and taken off the page the same way (see KVPDFAnnotation::attachToPage
// and detachFromPage).
//
// Threads. Search and page-image threads prepare pages of one document at once, and may prepare
// one page together. Safe from any number of threads at once: parseContent() and what it leaves
// (gstate, gstateStack, textBlobs, images, parsedContent), contentStreams(), the boxes and the
// rotation, resources(), setupFontInfo() and fontsInResources(), and reading the annotations
// (processAnnotations and the imprint-list getters, with what they hand out read only). Each
// page prepares under its own mutex (m_prepareMutex): the first thread does the work, the others
// wait for it and find it done. Everything else is a write and stays one thread at a time with
// no reader running: the setters, the imprint-list setters, setRotate, useNewStream,
// resetContent, moveToDocument, copy(). One exception: a page with no MediaBox at all gets one
// written in by its first mediaBox() (done under the page's mutex, so two preparing threads
// never both write it); a thread reading pageDictionary() meanwhile is not covered.
//
// Lock order, outermost first: the page's mutex; then the document's locks (its object table,
// object-stream cache and warnings, and the lazy-state locks of objects and pages,
// kvpdf::lazyStateLock); then KVPDFPageLock. Only the page's mutex is ever held while another
// lock is taken: the others are held for a lookup or a publication and nothing else, so a page
// never waits for another page, and work (parsing, decoding, building a font) never runs under
// a document lock or KVPDFPageLock.
#include "KVPDFLazyState.h"
#include "KVPDFObject.h"

#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QVariantMap>
#include <QString>
#include <QUrl>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class KVBitmap;        // Images
class KVPDFAnnotation; // Imprints and annotations
class KVPDFBaseline;   // Text preparation
class KVPDFDocument;
class KVPDFFont; // Text
class KVPDFImprint; // Imprints and annotations
class KVPDFObjectArray;
class KVPDFObjectDictionary;
class KVPDFObjectStream;
class KVPDFOutline;
class KVPDFRebuiltImprintDocuments; // Imprints and annotations
class KVPDFGraphicsState; // Content
class KVPDFImage;         // Content
class KVPDFPageContent;   // Content
class KVPDFTextBlob;      // Content
struct KVPDFPageString;   // Text preparation
class KVSystemFont;

// The one lock of the engine's text code, shared by every page of every document: it guards
// the documents' font lists (KVPDFDocument::lookupFont / addFont) and the appending of text
// runs and their rewrites (KVPDFTextRunBuilder). Last in the lock order (see the top of this
// file). Taken with a scope guard (std::lock_guard), blocking; never held across other work: a
// font missing from the list is built outside it, and the first one added is the one every
// page shares.
extern std::mutex KVPDFPageLock;

// Text correction's rewrites of show operations: per run (by the run's address, which stays
// while the run is in its page's textBlobs()), the show operators that draw its codes one by
// one, e.g. "(H) Tj (i) Tj" for "(Hi) Tj".
using KVPDFTextRewrites = std::map<const KVPDFTextBlob *, QByteArray>;

// A web link found in the page text: its characters in the page string and where it leads.
struct KVPDFDetectedLink {
    KVPDFRange range;
    QUrl url;
};

class KVPDFPage : public std::enable_shared_from_this<KVPDFPage> {
public:
    KVPDFPage();
    ~KVPDFPage();

    static std::shared_ptr<KVPDFPage> pageWithDocument(KVPDFDocument *document, uint64_t number,
                                                       const std::shared_ptr<KVPDFObjectDictionary> &dictionary);
    // The page makes (and owns) a document from `data`.
    static std::shared_ptr<KVPDFPage> pageWithData(const QByteArray &data, uint64_t number,
                                                   const std::shared_ptr<KVPDFObjectDictionary> &dictionary);

    // What a page may inherit from its page-tree ancestors. Pages are written under one flat
    // root, so each written page carries these itself.
    static constexpr const char *kInheritableKeys[] = {"Resources", "MediaBox", "CropBox", "Rotate"};

    KVPDFDocument *document() const { return m_document; }
    void setDocument(KVPDFDocument *document) { m_document = document; }
    // The document the page holds alive (see the top of this file), or nullptr.
    const std::shared_ptr<KVPDFDocument> &heldDocument() const { return m_heldDocument; }
    // Stops holding `document` when it is the held one, answering it for the caller to drop
    // once it is done (it may be the last owner of `document`); else nullptr. For the
    // document's page-list setters.
    [[nodiscard]] std::shared_ptr<KVPDFDocument> releaseHeldDocument(const KVPDFDocument *document);
    // Starts holding the page's document (when it is shared-owned): for a page taken out of
    // its document's list, which may outlive every other owner of that document.
    void holdDocument();
    uint64_t pageNumberInDocument() const { return m_pageNumber; }
    void setPageNumberInDocument(uint64_t number) { m_pageNumber = number; }
    const std::shared_ptr<KVPDFObjectDictionary> &pageDictionary() const { return m_pageDictionary; }
    // Also empties the box and rotation caches.
    void setPageDictionary(const std::shared_ptr<KVPDFObjectDictionary> &dictionary);

    // [a0 a1 a2 a3] as a rectangle with its corners put in order (width and height >= 0); an
    // empty rectangle when the array cannot be read.
    static QRectF getPDFRectFromArray(const KVPDFObjectPtr &array);
    static std::shared_ptr<KVPDFObjectArray> makePDFRect(const QRectF &rect);

    // The boxes and the rotation never throw: a value (or a page-tree node on the way to it)
    // that cannot be read counts as absent, with a log line.
    // MediaBox through the Parent chain; a page without one gets the default paper of the
    // installed services (KVPDFServices::defaultPaper), written into the page.
    QRectF mediaBox();
    std::optional<QRectF> cropBox();
    // Rotate through the Parent chain, reduced into 0..359.
    std::optional<int> rotate();
    void setRotate(int angle);
    // Media box intersected with the crop box; width and height swapped for 90 and 270.
    QRectF croppedMediaBox();

    // The page's content streams in order, with live imprint streams left out. With more than
    // one stream, the joined stream (a line end between parts, so "Q" and "q" never fuse) is
    // kept as potentialNewStream and is the list's only element. The join stops (with a log
    // line) before the part that would take it past 256 MiB, the cap of one decoded stream.
    std::vector<std::shared_ptr<KVPDFObjectStream>> contentStreams();
    // The decoded parts, each followed by a line end, up to that cap; `owner` names them in the
    // log line.
    static QByteArray joinedContent(const std::vector<std::shared_ptr<KVPDFObjectStream>> &parts, const QString &owner);
    const std::shared_ptr<KVPDFObjectStream> &potentialNewStream() const { return m_potentialNewStream; }
    // False when the last contentStreams() of several streams met one that did not decode
    // completely, or stopped the join at the cap: the joined stream then lacks content.
    bool joinedContentWhole() const { return m_joinedContentWhole; }
    // Makes the joined stream the page's only content: a new stream object, so streams shared
    // with other pages are never emptied.
    void useNewStream();
    bool usingNewContentStream() const { return m_usingNewContentStream; }
    // Forgets what was worked out from the page dictionary (boxes, rotation, the joined content
    // stream, the page's fonts, what parseContent() found, the rewrites' entries), after the
    // dictionary was read again from new bytes.
    void resetContent();

    void addExtraObject(const KVPDFObjectPtr &object) { m_extraObjects.push_back(object); }
    void removeExtraObject(const KVPDFObjectPtr &object);
    const std::vector<KVPDFObjectPtr> &extraObjects() const { return m_extraObjects; }

    bool isEqual(const KVPDFPage &other) const { return m_document == other.m_document && m_pageNumber == other.m_pageNumber; }
    // The same document (held, see above) and number, a copy of the dictionary under the same
    // number, the same extra objects, and copies of the imprints, put on the copy; links to a
    // page of this document are left out.
    std::shared_ptr<KVPDFPage> copy() const;
    // Makes the page one of `target` (for the target's page-list setters): a copy of its
    // dictionary, with what it inherited made its own and without Parent, and everything it
    // reaches, its annotations' dictionaries and its extra objects are imported into the
    // target's table (KVPDFImport: pages and page-tree nodes of the source become null); the
    // page then refers to the target and holds no document, nor do its annotations. Content
    // imprints keep their own documents. Answers the documents let go of, for the caller to
    // drop once it is done. A page already of `target` (or of no document) only lets go of a
    // held `target`. A dictionary whose inherited keys cannot be read leaves the page as it is,
    // logged. The page must not be listed by its document any more (the target's setters
    // put in a copy of such a page).
    [[nodiscard]] std::vector<std::shared_ptr<KVPDFDocument>> moveToDocument(KVPDFDocument &target);

    // Outline items taken out of the document's outline with this page, in outline order
    // (KVPDFDocument::removeTOCEntriesForPages), until the page is put back.
    std::vector<std::shared_ptr<KVPDFOutline>> &deletedTOCEntries() { return m_deletedTOCEntries; }
    void setDeletedTOCEntries(std::vector<std::shared_ptr<KVPDFOutline>> entries) { m_deletedTOCEntries = std::move(entries); }

    // Index of the first (location, length) range holding `position`, else 0.
    static size_t streamIndex(const std::vector<KVPDFRange> &ranges, uint64_t position);

    // ---- Imprints and annotations (KVPDFPage_imprints.cpp) ---------------------------------
    // The imprint list holds the page's content imprints in stored order, then, once
    // processAnnotations() has run, its annotations in Annots order.
    //
    // Reads the imprints stored in the page by an earlier save (marked by "FolivoImprints";
    // one form object per live imprint, named "FolivoImprint<n>" in the page's own XObject
    // resources, read in numeric name order) into the imprint list. Answers whether it read
    // any. Never throws: a stored imprint whose objects do not parse is logged and skipped.
    // Imprints whose forms rebuild alike share one document through `rebuilt`, which the
    // caller keeps for one walk over its document's pages.
    bool setupImprints(KVPDFRebuiltImprintDocuments &rebuilt);
    // Turns each Annots entry into an annotation object (the class the factory table gives
    // for its Subtype, else KVPDFAnnotation) appended to the imprint list; runs once. Entries
    // that are not dictionaries, or do not parse, are skipped. Never throws.
    void processAnnotations();
    bool processedAnnotations() const { return m_processedAnnotations.load(std::memory_order_acquire); }
    // Runs processAnnotations() first.
    const std::vector<std::shared_ptr<KVPDFImprint>> &imprints();
    // Before annotations are read, the list itself; afterwards its entries of imprint type 1.
    // (Waits for a reading of the annotations under way on another thread.)
    std::vector<std::shared_ptr<KVPDFImprint>> contentImprints() const;
    // The following run processAnnotations() first.
    std::vector<std::shared_ptr<KVPDFAnnotation>> annotationImprints();
    std::vector<std::shared_ptr<KVPDFAnnotation>> widgets();
    std::vector<std::shared_ptr<KVPDFAnnotation>> links();
    // The setters put annotations on this page (KVPDFAnnotation::attachToPage).
    void setImprints(std::vector<std::shared_ptr<KVPDFImprint>> imprints);
    // A text field added here marks the document as one with form fields (setHasFields).
    void addImprint(const std::shared_ptr<KVPDFImprint> &imprint);
    // An index past the end appends.
    void insertImprint(const std::shared_ptr<KVPDFImprint> &imprint, size_t index);
    void removeImprintAtIndex(size_t index);
    void removeImprint(const std::shared_ptr<KVPDFImprint> &imprint);
    // ---- end Imprints and annotations --------------------------------------------------------

    // ---- Text (KVPDFPage_text.cpp) -----------------------------------------------------------
    // The fonts met so far, by resource name; filled by setupFontInfo.
    const std::map<QByteArray, std::shared_ptr<KVPDFFont>> &pageFonts() const { return m_pageFonts; }
    void setPageFonts(std::map<QByteArray, std::shared_ptr<KVPDFFont>> fonts) { m_pageFonts = std::move(fonts); }
    // Enters every font of the resources' Font dictionary in pageFonts under its resource name,
    // sharing one font per font dictionary through the document's font list (under
    // KVPDFPageLock). A font that cannot be built is logged and left out; never throws.
    void setupFontInfo(const std::shared_ptr<KVPDFObjectDictionary> &resources);
    // The page's Resources (through the Parent chain), or nullptr.
    std::shared_ptr<KVPDFObjectDictionary> resources();
    // The shared font of a font object, built and added to the document's font list when it
    // has none yet (under KVPDFPageLock, which must not be held by the caller); nullptr
    // (logged, `name` naming it) when it cannot be built.
    std::shared_ptr<KVPDFFont> sharedFont(const KVPDFObjectPtr &fontObject, const QByteArray &name);
    // The shared font that the resources' Font dictionary holds under `name`; nullptr (logged)
    // when there is none or it cannot be built. Never throws.
    std::shared_ptr<KVPDFFont> fontNamed(const std::shared_ptr<KVPDFObjectDictionary> &resources, const QByteArray &name);
    // Enters a font in pageFonts. The page's own fonts (`own`) take their names; a form's
    // font only a name the page does not use yet, so a form's /F1 never hides the page's.
    void addPageFont(const QByteArray &name, const std::shared_ptr<KVPDFFont> &font, bool own);

    // One font entry met by fontsInResources.
    struct FontUse {
        // The resource name, prefixed by the XObject and Pattern names that lead to it
        // ("Fm0/F1"); just the name for the page's own fonts.
        QByteArray path;
        // The font object as the resources hold it (a reference for an indirect font).
        KVPDFObjectPtr object;
        // nullptr when the font could not be built.
        std::shared_ptr<KVPDFFont> font;
    };
    // The fonts of the page's resources and, depth first, of the resources of its form
    // XObjects and patterns (to kMaxResourceDepth levels; a resource dictionary met twice is
    // walked once), each shared through the document's font list. Leaves pageFonts alone.
    std::vector<FontUse> fontsInResources();
    static constexpr int kMaxResourceDepth = 32;
    // ---- end Text ----------------------------------------------------------------------------

    // ---- Content (content/KVPDFPage_content.cpp, a layer above this one) ---------------------
    // What interpreting the page's content leaves: the state at its end, the saved states
    // still open, the text runs and the images drawn. parseContent() interprets the join
    // contentStreams() makes (forms drawn by the content included) from a state whose CTM moves
    // the crop box's corner (else the media box's) to the origin, once per page; the results
    // stay until resetContent(). Runs come in content order from the text-run builder
    // (KVPDFTextRunBuilder.h): a run of the page's content points into its one stream, or into
    // potentialNewStream() for a page of several; a form's into the form's data. The fonts
    // the runs use are entered in pageFonts (the page's own under their names, a form's only
    // under free ones). Never throws: a page whose content cannot be read has none.
    void parseContent();
    bool parsedContent() const { return m_content != nullptr; }
    // Before parseContent(), a default state and empty lists.
    const KVPDFGraphicsState &gstate() const;
    const std::vector<KVPDFGraphicsState> &gstateStack() const;
    const std::vector<std::shared_ptr<KVPDFTextBlob>> &textBlobs() const;
    const std::vector<std::shared_ptr<KVPDFImage>> &images() const;
    // Null (the default): parseContent() records no rewrites. A table set before it gets one
    // entry per run with text, entered under KVPDFPageLock (take it to read the table while
    // another thread may be parsing). resetContent() empties the table and keeps it set.
    void setRewritesDictionary(std::shared_ptr<KVPDFTextRewrites> rewrites) { m_rewrites = std::move(rewrites); }
    const std::shared_ptr<KVPDFTextRewrites> &rewritesDictionary() const { return m_rewrites; }
    // ---- end Content -------------------------------------------------------------------------

    // ---- Images (content/KVPDFPage_images.cpp) -----------------------------------------------
    // Recompression turns an image into baseline JPEG. Only images JPEG holds without loss of
    // meaning qualify: 8 bits per component, DeviceGray or DeviceRGB (or ICCBased with N 1 or
    // 3), Filter FlateDecode alone, no Decode, no ImageMask, no colour-key Mask, and decoded
    // data of at least Width x Height x components bytes. Indexed, CMYK, Lab, Separation,
    // DeviceN, masks and other depths stay as they are. The recompressed stream has Filter
    // DCTDecode, Width, Height and BitsPerComponent of the JPEG, no DecodeParms, and keeps its
    // other entries (SMask, ColorSpace, ...).
    static bool isRecompressibleImage(KVPDFObjectStream &stream);
    // Recompresses `stream` in place at `compression` (JPEG quality, 0..1). When the image,
    // drawn `actualSize` points large, has more than `maxPPI` pixels per inch across or down,
    // it is first scaled (smoothly) down to maxPPI; it is never scaled up. False, with the
    // stream unchanged, when it does not qualify or does not decode or encode.
    static bool compressImage(KVPDFObjectStream &stream, QSizeF actualSize, float compression, int maxPPI);
    // An 8-bit gray or RGB bitmap of the image's decoded samples, its size in pixels; a null
    // bitmap for any other image (other depths or colour spaces, a Decode array, a mask) or
    // one whose data is short.
    static KVBitmap bitmapFromImage(KVPDFObjectStream &stream);
    // Recompresses the images drawn on the page in place, each with its drawn size. Options:
    // "compression" (default 1.0) and "ppi" (default 300). Interprets the page first when
    // needed and leaves it interpreted. A failure ends the walk, logged; images not yet
    // handled stay as they were. Changes the document's own streams: the writer uses
    // compressedImageCopies instead.
    void compressImages(const QVariantMap &options = {});
    // For a compressing save: the qualifying images drawn on the page (each stream once) for
    // which `wanted` answers true, each with a recompressed copy; the originals are not
    // changed. A page not yet interpreted is interpreted for its images alone and left as it
    // was. Never throws: a page whose images cannot be worked through is logged and gives none.
    using ImageReplacement = std::pair<std::shared_ptr<KVPDFObjectStream>, std::shared_ptr<KVPDFObjectStream>>;
    std::vector<ImageReplacement> compressedImageCopies(float compression, int maxPPI,
                                                        const std::function<bool(const KVPDFObjectStream &)> &wanted);
    // ---- end Images --------------------------------------------------------------------------

    // ---- Invisible text (content/KVPDFPage_ocr.cpp) ------------------------------------------
    // Text is invisible when shown with rendering mode 3 or 7, or with fill alpha 0 and a
    // fill-only mode (0 or 4); stroked text under fill alpha 0 still shows.
    // True when the page shows invisible text (a run without text does not count). Leaves the page
    // interpreted or not as it found it.
    bool containsOCRText();
    // Replaces each invisible show, operand and operator together, by a TJ of one number that
    // moves the text matrix as the show did, so later text keeps its place; ' and " keep their
    // line move and spacing as "() '" and "() \"" in front of it. Edited streams keep their
    // numbers and their other entries and are stored Flate-compressed; a page of several
    // streams gets the joined one (useNewStream); then the document's data is rebuilt
    // (KVPDFDocument::updateDocData). A page whose content did not decode completely, or
    // whose join was capped, is logged and left. Answers whether the page was changed.
    bool removeOCRText();
    // ---- end Invisible text ------------------------------------------------------------------
    // ---- Text preparation (text/KVPDFPage_prepare.cpp, a layer above this one) -------------
    // The page text in two stages. prepareForSearch: the runs in reading order (higher first,
    // then further left, then earlier in the content), gathered into lines of one exact y each,
    // and the page string (each run's text with its font and fill colour, "\n" after every
    // line); each run's and line's range points into it. prepareForSelection (which prepares
    // for search first): every run measured (KVPDFTextWidths), lines outside the crop box
    // dropped, lines put into column order (prepareColumns) with the page string rebuilt in
    // that order, paragraph spacing recorded in it, and its web links detected (http(s) URLs,
    // "www." hosts as http://, e-mail addresses as mailto:). Each stage runs once per page,
    // under the page's mutex, until resetContent(); copies keep what is prepared.
    //
    // Neither throws: a page whose content or fonts cannot be read is prepared with what could
    // be read (possibly nothing), logged, so one bad page never stops a search over the others.
    // Threads: any number of threads may prepare and read at once; the getters answer
    // snapshots taken under the page's mutex. The lines and runs themselves are changed in
    // place by prepareForSelection (measured, split, renumbered): read them from another thread
    // only once the page is prepared for selection.
    void prepareForSearch();
    // `sections`, when given, receives what prepareColumns answers (nothing when the page was
    // prepared already).
    void prepareForSelection(std::vector<QRectF> *sections = nullptr);
    bool preparedForSearch() const { return m_preparedForSearch.load(std::memory_order_acquire); }
    bool preparedForSelection() const { return m_preparedForSelection.load(std::memory_order_acquire); }
    // True unless the annotations are read and the page is prepared for search and selection.
    bool needsSelectionPreparation() const
    {
        return !(processedAnnotations() && preparedForSearch() && preparedForSelection());
    }
    // The attributed page string (empty before preparation) and its plain text.
    std::shared_ptr<const KVPDFPageString> richPageString() const;
    QString pageString() const;
    void setPageString(std::shared_ptr<const KVPDFPageString> pageString);
    // The lines in page-string order.
    std::vector<std::shared_ptr<KVPDFBaseline>> baselines() const;
    void setBaselines(std::vector<std::shared_ptr<KVPDFBaseline>> baselines);
    // The links prepareForSelection found; they stay through resetContent() until the next
    // selection preparation replaces them.
    std::vector<KVPDFDetectedLink> clickableURLs() const;
    // The URL of the last link whose range holds `position`, the position just after its last
    // character included; an empty URL when none does.
    QUrl clickableURLForCharPosition(int32_t position) const;
    // The system font the page last matched a font name to, and that name.
    QString lastFontName() const;
    std::shared_ptr<KVSystemFont> lastFontMatch() const;

    // Hit tests, in the runs' coordinates (the crop box's corner is the origin), once the page
    // is prepared for selection. The position under the point on the line whose bounds (grown
    // by `tolerance`) hold it, of overlapping lines the one whose middle is nearest, written to
    // `*baseline` when given; KVPDFNotFound when no line holds it.
    int64_t charPositionForPoint(QPointF point, std::shared_ptr<KVPDFBaseline> *baseline = nullptr) const;
    int64_t charPositionForPoint(QPointF point, double tolerance, std::shared_ptr<KVPDFBaseline> *baseline = nullptr) const;
    // The position nearest the point: the last character of the page for a point right of the
    // last line's left edge and below its top, else the position under it on a line that holds
    // it, else the nearest line's first or last character or the one under x; 0 without lines.
    int64_t closestCharPositionForPoint(QPointF point) const;
    // The lines from the one holding `from` to the one holding `to`, both included; none when
    // both are below 1, when either lies on no line, or when `to`'s line comes before `from`'s.
    std::vector<std::shared_ptr<KVPDFBaseline>> baselinesFromCharPosition(int32_t from, int32_t to) const;
    // The union of the lines' bounds (the null rectangle for none); with `within`, of each
    // line's bounds cut to it.
    static QRectF boundsForBaselines(const std::vector<std::shared_ptr<KVPDFBaseline>> &baselines);
    static QRectF boundsForBaselines(const std::vector<std::shared_ptr<KVPDFBaseline>> &baselines, const QRectF &within);

    // Puts the lines into column order: the page (drawn through the installed imager pool,
    // KVPDFImager) with its runs as black boxes at half scale, cut into sections at white gaps
    // (KVPDFColumns); each line goes with the first section holding one of its runs' centres
    // and is split where a later run lies in another section; lines in no section come last.
    // Rebuilds the page string in the new order. Answers the sections in the runs'
    // coordinates. Without an imager, or when the analysis bitmap cannot be made (logged), the
    // order stays and no sections are answered. Called by prepareForSelection, under the
    // page's mutex.
    std::vector<QRectF> prepareColumns();
    // ---- end Text preparation ----------------------------------------------------------------

private:
    static bool isLiveImprintStream(const std::shared_ptr<KVPDFObjectStream> &stream);
    // Installs a copy of the page dictionary with `key` set to `value`.
    void replacePageDictionaryWith(QByteArrayView key, const KVPDFObjectPtr &value);

    // Puts an annotation on this page (KVPDFAnnotation::attachToPage); answers the document it
    // let go of. Content imprints are left as they are.
    [[nodiscard]] std::shared_ptr<KVPDFDocument> adopt(const std::shared_ptr<KVPDFImprint> &imprint);

    KVPDFDocument *m_document = nullptr;
    std::shared_ptr<KVPDFDocument> m_heldDocument;
    uint64_t m_pageNumber = 0;
    std::shared_ptr<KVPDFObjectDictionary> m_pageDictionary;
    std::vector<KVPDFObjectPtr> m_extraObjects;
    std::vector<std::shared_ptr<KVPDFOutline>> m_deletedTOCEntries;
    std::shared_ptr<KVPDFObjectStream> m_potentialNewStream;
    bool m_usingNewContentStream = false;
    bool m_joinedContentWhole = true;

    // Held while the page prepares what it keeps (parseContent, text preparation, the
    // annotations, the joined content stream, pageFonts); first in the lock order. Recursive:
    // preparing text parses the content under it, and an annotation being made may ask the page
    // for its imprints.
    mutable std::recursive_mutex m_prepareMutex;

    // The box and rotation caches: worked out unlocked, published under
    // kvpdf::lazyStateLock(this).
    std::optional<QRectF> m_cachedMediaBox;
    std::optional<std::optional<QRectF>> m_cachedCropBox;
    std::optional<std::optional<int>> m_cachedRotation;

    // Imprints and annotations
    std::vector<std::shared_ptr<KVPDFImprint>> m_imprints;
    // Set under m_prepareMutex when the reading of Annots starts; m_annotationsRead once it is
    // done, so other threads read m_imprints without the mutex from then on.
    std::atomic<bool> m_processedAnnotations{false};
    std::atomic<bool> m_annotationsRead{false};

    // Text
    std::map<QByteArray, std::shared_ptr<KVPDFFont>> m_pageFonts;

    // Content: made by parseContent() (under m_prepareMutex), dropped by resetContent(). Held
    // through a pointer so that this layer needs no definition of it; published whole, so
    // readers that do not take the mutex see either nothing or all of it.
    KVPDFPublishedPtr<KVPDFPageContent> m_content;
    std::shared_ptr<KVPDFTextRewrites> m_rewrites;

    // Text preparation: written under m_prepareMutex, read under it (the getters' snapshots).
    // The page string is replaced whole, never changed in place, so copies share it.
    std::shared_ptr<const KVPDFPageString> m_pageString;
    std::vector<std::shared_ptr<KVPDFBaseline>> m_baselines;
    std::vector<KVPDFDetectedLink> m_clickableURLs;
    std::atomic<bool> m_preparedForSearch{false};
    std::atomic<bool> m_preparedForSelection{false};
    QString m_lastFontName;
    std::shared_ptr<KVSystemFont> m_lastFontMatch;
};
