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
// Threads: one thread at a time.
#include "KVPDFObject.h"

#include <QRectF>
#include <QSizeF>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class KVPDFAnnotation; // Imprints and annotations
class KVPDFDocument;
class KVPDFFont; // Text
class KVPDFImprint; // Imprints and annotations
class KVPDFObjectArray;
class KVPDFObjectDictionary;
class KVPDFObjectStream;
class KVPDFRebuiltImprintDocuments; // Imprints and annotations
class KVPDFGraphicsState; // Content
class KVPDFImage;         // Content
class KVPDFPageContent;   // Content
class KVPDFTextBlob;      // Content

// The one lock of the engine's text code, shared by every page of every document: it guards
// the documents' font lists (KVPDFDocument::lookupFont / addFont) and the building of fonts.
// Taken with a scope guard (std::lock_guard), blocking; never held across other work.
extern std::mutex KVPDFPageLock;

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
    // Makes the joined stream the page's only content: a new stream object, so streams shared
    // with other pages are never emptied.
    void useNewStream();
    bool usingNewContentStream() const { return m_usingNewContentStream; }
    // Forgets what was worked out from the page dictionary (boxes, rotation, the joined content
    // stream, the page's fonts, what parseContent() found), after the dictionary was read again
    // from new bytes.
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
    bool processedAnnotations() const { return m_processedAnnotations; }
    // Runs processAnnotations() first.
    const std::vector<std::shared_ptr<KVPDFImprint>> &imprints();
    // Before annotations are read, the list itself; afterwards its entries of imprint type 1.
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
    // stay until resetContent(). Never throws: a page whose content cannot be read has none.
    void parseContent();
    bool parsedContent() const { return m_content != nullptr; }
    // Before parseContent(), a default state and empty lists.
    const KVPDFGraphicsState &gstate() const;
    const std::vector<KVPDFGraphicsState> &gstateStack() const;
    const std::vector<std::shared_ptr<KVPDFTextBlob>> &textBlobs() const;
    const std::vector<std::shared_ptr<KVPDFImage>> &images() const;
    // ---- end Content -------------------------------------------------------------------------

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
    std::shared_ptr<KVPDFObjectStream> m_potentialNewStream;
    bool m_usingNewContentStream = false;

    std::optional<QRectF> m_cachedMediaBox;
    std::optional<std::optional<QRectF>> m_cachedCropBox;
    std::optional<std::optional<int>> m_cachedRotation;

    // Imprints and annotations
    std::vector<std::shared_ptr<KVPDFImprint>> m_imprints;
    bool m_processedAnnotations = false;

    // Text
    // The shared font of a font object, built and added to the document's list when it has
    // none yet; nullptr (logged) when it cannot be built.
    std::shared_ptr<KVPDFFont> sharedFont(const KVPDFObjectPtr &fontObject, const QByteArray &name);
    std::map<QByteArray, std::shared_ptr<KVPDFFont>> m_pageFonts;

    // Content: made by parseContent(), dropped by resetContent(). Held through shared_ptr so
    // that this layer needs no definition of it.
    std::shared_ptr<KVPDFPageContent> m_content;
};
