#pragma once
// The engine document: one PDF file's bytes held in memory, the object table, the line end
// of the file and the security state. The open road, the cross-reference chain, the pages and
// the writer build on this shell.
//
// Ownership, who holds whom and when:
// - The document is always held by std::shared_ptr (documentWithData). It owns its bytes, its
//   object table, its retired objects and its page list.
// - Objects, pages and annotations read from it point back at it raw (document()): they rely
//   on it and must not outlive it unless one of the holds below keeps it.
// - Objects keep the targets of the references they have read, so the table is full of
//   cycles (page <-> Parent, page -> Annots -> annotation -> P -> page). releaseGraph() breaks
//   them: the document calls it on every table entry and every retired object when it goes
//   or re-opens. Retired objects are table entries replaced while the document lives (by
//   setObject, or the whole old table at a refresh); callers may still hold them, so they
//   stay alive until then.
// - The page list holds the pages; a page's imprint list holds its annotations, which link
//   back to the page weakly.
// - Stored imprints read at open that rebuild into the same one-page PDF share one document
//   (KVPDFRebuiltImprintDocuments), as copies of an imprint do. That document is made from
//   bytes and holds nothing of any other document, so sharing it forms no cycle.
// - A copy that may outlive every other owner holds its source document strongly: a page
//   copy (KVPDFPage::copy) or a page made from data (heldDocument()), and an annotation copy
//   (KVPDFAnnotation::heldDocument()). An imprint owns the one-page document it draws. The
//   hold is switched so that no cycle forms: a page put into the very document it holds
//   (insertPage, setPagesFromArray) lets go of it and takes it up again when taken out
//   (removePageAtIndex, setPagesFromArray) and no longer listed; an annotation copy lets go
//   when put on a page of its document and takes it up when taken off
//   (KVPDFAnnotation::attachToPage, detachFromPage).
// - A copy put into another document (a page into its list, an annotation onto one of its
//   pages) has its objects imported into that document's table (KVPDFImport) and lets go of
//   its source: copies going both ways between two documents would otherwise hold each other.
// - A write owns the copies it makes and takes them apart when it ends (KVPDFWriteState).
// So once the document and every copy made from it are dropped, nothing of it stays alive.
//
// Threads. Reading may run on any number of threads at once: search and page-image threads
// prepare pages of one document together (KVPDFPage.h). Safe together are the object table's
// lookups and resolution (objectWithNumber, resolveObject, resolvePlaceholder, readObjectOnce,
// isUnread, objectCount, generationCount), everything the object classes do lazily on first
// read (see KVPDFLazyState.h), the decryption of strings and streams, the members of object
// streams, endstreamFinder(), the warnings (warn, warningRecords, warnings) and the font list
// under KVPDFPageLock. The table is guarded by a lock of its own, held only for a lookup or a
// replacement: an entry is parsed outside it, and the first object entered under a number is
// the one every thread gets. Everything else stays one thread at a time with no reader running:
// opening, edits of objects and pages, setObject/removeObject by callers, the page-list
// setters, passwords, writes and saves, refreshes, and objects() (iterate it only then).
#include "KVPDFObject.h"
#include "KVPDFObjectContext.h"
#include "KVPDFObjectStreamCache.h"
#include "KVPDFParser.h"

#include <QByteArray>
#include <QHash>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QTransform>
#include <QVariantMap>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class KVPDFObjectArray;
class KVPDFObjectDictionary;
class KVPDFAnnotation;
class KVPDFFont;
class KVPDFOutline;
class KVPDFPage;
class KVPDFTrailer;
class KVPDFDataWriter; // Writing
struct KVPDFLogCapture;
struct KVPDFUnlockedKey;
struct KVPDFWriteState; // Writing

// Open results.
enum KVPDFOpenResult : int {
    KVPDFOpenOK = 0,
    KVPDFOpenNeedsPassword = 1,
    KVPDFOpenBroken = 2, // no header, no trailer, or a broken cross-reference chain
    KVPDFOpenUnsupportedSecurity = 3,
};

// What a password check answers.
enum class KVPDFPasswordResult { Accepted, Refused };

// A file the engine cannot parse may be redrawn page by page by the renderer of the installed
// services (KVPDFServices::redraw). Asked before a redrawn copy is used: the copy loses
// annotations and form fields.
using KVPDFRedrawConsent = std::function<bool()>;

// How a document is opened. For editing (the program's way) an encrypted file is decrypted
// into a plain copy in memory and a file holding imprints becomes a copy without them, the
// imprints living on as objects of their pages; as stored (tools that show a file's own
// objects) the file's objects stay as they are numbered in the file, decrypted on demand.
enum class KVPDFOpenMode { Editing, AsStored };

// Implements KVPDFObjectContext with the calls of the same names below (the bytes, the line
// end, the object table, the crypt calls) and warn().
class KVPDFDocument : public std::enable_shared_from_this<KVPDFDocument>, public KVPDFObjectContext {
public:
    enum EncryptionStatus : int {
        EncryptionNone = 0,
        EncryptionDecrypting = 1,
        EncryptionEncrypting = 2,
    };

    KVPDFDocument();
    virtual ~KVPDFDocument();
    KVPDFDocument(const KVPDFDocument &) = delete;
    KVPDFDocument &operator=(const KVPDFDocument &) = delete;

    // Opens PDF bytes. Never throws: `result` (optional) says what happened, and the document is
    // answered whenever one could be made (also for KVPDFOpenNeedsPassword and
    // KVPDFOpenUnsupportedSecurity). A parse failure offers the
    // redrawn copy when a redraw function is installed and `consent` agrees.
    static std::shared_ptr<KVPDFDocument> documentWithData(const QByteArray &data, KVPDFOpenResult *result,
                                                           const KVPDFRedrawConsent &consent = {},
                                                           KVPDFOpenMode mode = KVPDFOpenMode::Editing);
    // As above from a file; an unreadable file gives KVPDFOpenBroken and no document.
    static std::shared_ptr<KVPDFDocument> documentWithContentsOfFile(const QString &path, KVPDFOpenResult *result,
                                                                     const KVPDFRedrawConsent &consent = {},
                                                                     KVPDFOpenMode mode = KVPDFOpenMode::Editing);
    KVPDFOpenMode openMode() const { return m_openMode; }

    // Open steps.
    // Finds the header ("%PDF-" within the first 1000 bytes), takes the version from it and the
    // line end after it, and cuts junk that stands before it. False without a header or line end.
    bool versionAndEOF();
    // Reads the cross-reference chain from startxref (object by object when there is none or
    // it cannot be read) into trailer() and the object table, then the catalogue when the file
    // is not encrypted, and settles objectCount().
    bool workTrailer();
    // Walks the page tree into pages; answers whether any page holds stored imprints.
    bool prepPages();

    const QString &pdfVersion() const { return m_bytes.pdfVersion; }
    const QString &path() const { return m_path; }
    KVPDFTrailer *trailer() const { return m_structure.trailer.get(); }
    const std::shared_ptr<KVPDFObjectDictionary> &rootObject() const { return m_structure.rootObject; }
    const std::shared_ptr<KVPDFObjectDictionary> &pagesObject() const { return m_structure.pagesObject; }
    bool hasFields() const { return m_structure.hasFields; }
    // Set when a text field is put on a page (KVPDFPage::addImprint); read again from the
    // catalogue's AcroForm whenever the bytes are.
    void setHasFields(bool hasFields) { m_structure.hasFields = hasFields; }
    bool secondTry() const { return m_secondTry; }
    bool hadFormSubmitInstructionsOnOpen() const { return m_structure.hadFormSubmitInstructionsOnOpen; }
    uint64_t startxref() const { return m_structure.startxref; }
    const std::shared_ptr<KVPDFObjectArray> &docIDArray() const { return m_contents.docID; }

    // Pages.
    const std::vector<std::shared_ptr<KVPDFPage>> &pages() const { return m_contents.pages; }
    size_t pageCount() const { return m_contents.pages.size(); }
    std::shared_ptr<KVPDFPage> pageAtIndex(size_t index) const;
    // A page that holds this document lets go of it here (KVPDFPage::releaseHeldDocument). A
    // page of another document becomes this document's (KVPDFPage::moveToDocument); one that
    // its document still lists is copied first, and the copy is what this list holds. A page
    // may be listed more than once; it holds this document again only once no entry is left.
    void insertPage(const std::shared_ptr<KVPDFPage> &page, size_t index);
    void removePageAtIndex(size_t index);
    void setPagesFromArray(std::vector<std::shared_ptr<KVPDFPage>> pages);
    // The page whose dictionary has the object number of `object` (a reference or a dictionary).
    std::shared_ptr<KVPDFPage> pageForReference(const KVPDFObjectPtr &object) const;

    // 32 upper-case hex digits of the first 16 bytes of ID element `index`, or "".
    QString docID(int index) const;
    // The text of ID element 0, or a null string without an ID.
    QString permanentID() const;
    static QByteArray uuidData();

    // Fonts met so far by the pages' text code, shared between pages. Callers hold
    // KVPDFPageLock (KVPDFPage.h) around a lookup and the add that follows it, and build a
    // missing font outside it (see KVPDFPage::sharedFont).
    // The first font whose dictionary is `fontDictionary` (the same object, or the same
    // indirect object of this document), or nullptr.
    std::shared_ptr<KVPDFFont> lookupFont(const KVPDFObjectDictionary &fontDictionary) const;
    void addFont(const std::shared_ptr<KVPDFFont> &font);

    // Identity for 0 or less; otherwise a translation then a rotation by `degrees`.
    static QTransform pageTransformForRotation(float degrees, QSizeF size);
    // The crop box size (media box without one), swapped for 90 and 270.
    static QSizeF pageSizeForPage(KVPDFPage &page);
    static bool isJPEG(const QString &path);

    // Recoverable defects met while opening, and those of its objects met after (a stream that
    // does not decode on first use), in order: the records, and their messages alone.
    std::vector<KVPDFWarning> warningRecords() const { return m_warningSink.records(); }
    QStringList warnings() const { return m_warningSink.messages(); }
    void warn(const KVPDFWarning &warning) override;

    const QByteArray &docData() const { return m_bytes.data; }
    void setDocData(const QByteArray &data) { m_bytes.data = data; }

    // Where the stream reader looks for "endstream" when a Length misses it.
    KVPDFKeywordFinder &endstreamFinder() { return m_bytes.endstreamFinder; }

    // The line end found after the header: "\n", "\r" or "\r\n".
    const QByteArray &EOL() const { return m_bytes.eol; }
    int EOLLength() const { return int(m_bytes.eol.size()); }
    void setEOL(const QByteArray &eol) { m_bytes.eol = eol; }

    // Object table. Number 0 is ignored; the stored object is stamped with number and generation.
    // Numbers above kMaxObjectNumber are refused: no real file comes near it, and mark tables are
    // sized by the highest number.
    void setObject(const KVPDFObjectPtr &object, uint64_t number, uint64_t generation);
    // The object under `number`; the generation does not take part.
    KVPDFObjectPtr objectWithNumber(uint64_t number, uint64_t generation = 0) const;
    // The parsed object under `number`: a table entry that only knows where the object's text
    // lies (a placeholder, or a lazy reference with a position) is parsed there and replaces
    // itself in the table, so every reference to the number shares one instance. nullptr when
    // the number is absent, unparsable in a recoverable way, or part of a resolution cycle. An
    // object-stream member that does not parse leaves the table, as if its stream never held it.
    // Threads resolving one number at once may each parse it; the first to enter its object
    // wins, and the others answer that object and drop theirs.
    KVPDFObjectPtr resolveObject(uint64_t number, uint64_t generation, bool contained = false);
    // For a placeholder of `number` (one the table holds, or held before): resolveObject of the
    // number, the placeholder entering the table first when the table holds nothing under it.
    // A placeholder read after another thread (or an earlier call) read its number so answers
    // that reader's object and never makes a second one.
    KVPDFObjectPtr resolvePlaceholder(const KVPDFObjectPtr &placeholder, bool contained) override;
    // For a writer that copies what it reads and lets it go: an object the table has not read
    // yet is parsed without entering the table (stamped with its number and generation), so a
    // save does not leave the whole file parsed in memory. Otherwise as resolveObject.
    KVPDFObjectPtr readObjectOnce(uint64_t number, uint64_t generation);
    // True when the table holds `number` but has not parsed it yet (object-stream members
    // included, whether or not their stream is kept decoded).
    bool isUnread(uint64_t number) const;
    void removeObject(uint64_t number);
    // The table itself: for the one thread of an edit or a write, with no reader running.
    const std::unordered_map<uint64_t, KVPDFObjectPtr> &objects() const { return m_table.objects; }
    uint64_t generationCount() const;
    uint64_t objectCount() const;

    // The object parser over `data` (the file bytes, an object stream or any other buffer).
    // directOnly: `data` is not the file (content streams): numbers are never references and an
    // unrecognised byte answers nullptr. contained: the object is an element of a container.
    // compressed: `data` is an object stream. Raises FolivoParseFailure on bad syntax.
    KVPDFObjectPtr objectAtOffset(uint64_t offset, const QByteArray &data, bool directOnly, bool contained, bool indexed,
                                  bool compressed);
    KVPDFObjectPtr numberAtOffset(uint64_t offset, const QByteArray &data, bool directOnly, bool contained);

    // Security state. Until a security handler is installed the document is never encrypted.
    EncryptionStatus encryptionStatus() const { return m_security.encryptionStatus; }
    bool hasEncryptionKey() const { return !m_security.encryptKey.isEmpty(); }
    const QByteArray &encryptKey() const { return m_security.encryptKey; }
    bool aesEncryption() const { return m_security.aesEncryption; }
    // False while strings read from the file still hold encrypted bytes.
    bool pastDecryption() const { return m_structure.pastDecryption; }

    // Reading and writing keep keys of their own: bytes read from the file decrypt with the key
    // the password gave, whatever the passwords set for the next write. Opened for editing, an
    // encrypted file is read once with the read key into a plain copy, which is what the
    // document then holds: the read key is gone and only the key for writing stays.
    bool isDecrypting() const { return !m_security.readKey.isEmpty(); }
    bool isEncrypting() const { return hasEncryptionKey() && m_security.encryptionStatus == EncryptionEncrypting; }
    // The file key the accepted password gave (empty for plain files and before a password).
    const QByteArray &fileKey() const { return m_security.fileKey; }

    // Decrypts the bytes of a string or stream of object (number, generation). AES input starts
    // with its 16-byte vector and has its padding removed; bad padding is logged and kept.
    QByteArray decryptData(const QByteArray &data, uint64_t number, uint64_t generation, CryptTarget target = CryptString);
    // Encrypts for writing: AES output is a fresh vector followed by the padded cipher text.
    QByteArray encryptData(const QByteArray &data, uint64_t number, uint64_t generation, CryptTarget target = CryptString);
    // As encryptData, whether or not the document is encrypting now: a write that encrypts asks
    // for it (the key for writing is needed; without one the data is answered as it is).
    QByteArray encryptWithWriteKey(const QByteArray &data, uint64_t number, uint64_t generation, CryptTarget target) override;
    // False for a stream the file leaves in clear: the Metadata stream of a file whose
    // EncryptMetadata is false, and streams with an Identity crypt filter of their own.
    bool streamIsEncrypted(const KVPDFObjectDictionary &streamDictionary);

    // Standard security handler. A password is accepted as the user's or the owner's; a refusal
    // changes nothing.
    KVPDFPasswordResult validatePassword(const QString &password);
    // Sets, changes or removes (both empty, as owner) the passwords the next write encrypts with.
    // permissions: the permission bits asked for; reserved bits are set as the format requires.
    void setUserPassword(const QString &userPassword, const QString &ownerPassword, int64_t permissions,
                         bool encryptMetadata = true);
    bool isOwner() const { return m_security.isOwner; }
    // 0xFFFFFFFC (everything) for the owner and for plain files, else the file's P.
    int64_t accessPermissions() const { return m_security.isOwner ? int64_t(0xFFFFFFFC) : m_security.accessPermissions; }
    bool awaitingPassword() const
    {
        return m_security.encryptDictionary && m_security.fileKey.isEmpty() && m_security.encryptKey.isEmpty();
    }
    const std::shared_ptr<KVPDFObjectDictionary> &encryptDictionary() const { return m_security.encryptDictionary; }
    // The first element of the trailer's ID as read, empty where it is missing or not a string:
    // the keys of the bytes read were made with it.
    QByteArray firstIDBytes() const;
    // The first element of the ID the next save writes.
    QByteArray writtenIDBytes() const;

    // ---- Writing (KVPDFDocument_write.cpp) -------------------------------------------------
    // Every save goes through currentDataWithImprints(withImprints, compression, writer). With
    // imprints it writes a complete new file: header "%PDF-1.3", the objects the current page
    // list, the catalogue and Info reach, numbered 1..N in the order met (the page-tree root 1,
    // the catalogue 2, written last), one classic cross-reference table, and a trailer with
    // Root, FolivoVersion, Size, Info, Encrypt (when encrypting) and ID. Each object is written
    // as soon as it is final and its copy let go; what the program had not read is read for the
    // write alone and not kept, and each page's objects are written with it. A save thus holds
    // little beyond the file's bytes and what the program itself has read.
    // The page tree is rebuilt flat from pages(), so insertions, deletions
    // and reordering take effect; what a page inherited from the old tree moves into the page.
    // Without imprints it writes the working copy: the current bytes and an incremental update
    // holding the current pages, its trailer keeping the FolivoVersion of the trailer chain (a
    // complete plain file when the bytes have no cross-reference section to update or are
    // still encrypted). Every line ends with EOL() except the fixed
    // 20-byte table rows and the "stream" keyword's line, always CR LF.
    //
    // The object table is not changed: objects are copied and the copies renumbered. A reference
    // to a missing or unreadable object, or to a page no longer in the document, is written as
    // null. Nothing here throws: a failure (a page that cannot be written, a write error) answers
    // false and is logged. Pages' extra objects are emptied only after a successful write. The
    // same document gives the same bytes on every save (imprint form names count from 0 in
    // each write).
    using NotificationHandler = std::function<void(const QString &name, const QVariantMap &info)>;
    // Posted once per page, info {"Percentage": i / n as a double from 0}.
    static constexpr char SaveProgressNotification[] = "KVPDFDocumentSaveProgress";
    // Posted before the catalogue is copied when it has an outline, without info.
    static constexpr char WillSaveOutlineNotification[] = "KVPDFDocumentWillSaveOutline";
    // Receives the document's notifications on the posting thread; empty for none.
    void setNotificationHandler(NotificationHandler handler);
    void postNotification(const QString &name, const QVariantMap &info = {}) const;

    // Saves to `path` through KVPDFFileDataWriter: the old file is replaced only when the whole
    // file was written and flushed. options: "compression" 0 to 3; 1 to 3 ask for image
    // quality 0.9, 0.8, 0.7 (KVPDFWriteState::compression), other values leave images alone.
    bool writeUpdatedDocument(const QString &path, const QVariantMap &options);
    // The file's bytes, or empty on failure.
    QByteArray currentDataWithImprints(bool withImprints, int compression = 0);
    bool currentDataWithImprints(bool withImprints, int compression, KVPDFDataWriter &writer);

    // Parts of the writer.
    // Builds the page dictionary a save writes for `source` (KVPDFDocument_imprints.cpp): a
    // direct dictionary whose references may still name objects of the page's own document (the
    // writer copies and renumbers what they reach); Parent is state.newPagesObject. New objects it makes go
    // through state.addObject(). The page's inherited keys become its own. Live imprint
    // streams stored by an earlier save are dropped from Contents (and their "FolivoImprint"
    // names from the XObject resources), since the page holds those imprints as objects.
    // withImprints: each content imprint is written as a form object drawn by a placement
    // stream after the page's content, inside one q/Q marker pair ("FolivoImprint<n>" with
    // its location and properties, or "FolivoFlattened<n>" for good), and listed under
    // "FolivoImprints"; once the page's annotations were read, Annots is rebuilt from the
    // annotation imprints' dictionaries. An imprint whose document has no page is logged and
    // left out. nullptr fails the write.
    std::shared_ptr<KVPDFObjectDictionary> page(KVPDFPage &source, bool withImprints, KVPDFWriteState &state);
    // The value of the written catalogue's Outlines (KVPDFDocument_outline.cpp): the outline
    // written afresh from outlines(), or nullptr (keeping the catalogue's own) when the
    // outline is empty and the catalogue had none. An item leading to a page of the document
    // gets Dest with its fit and operands (nulls kept); any other item keeps its own action
    // (or the Dest no page answered). An expanded item's Count is its visible descendants, a
    // closed one's the negated number of its children.
    KVPDFObjectPtr outlinesForWriting(KVPDFWriteState &state);
    // Annots of the written page `dictionary`, from the page's annotation imprints.
    void writeAnnotations(KVPDFPage &source, const std::shared_ptr<KVPDFObjectDictionary> &dictionary, KVPDFWriteState &state);
    // What the written copy of an annotation's dictionary takes from the annotation: its new
    // appearance (AP) and default resources (DR), and P = the written page. Also for copies made before their page is built
    // (reached from an earlier page, such as the widgets of a field on several pages).
    static void finishAnnotationCopy(const KVPDFAnnotation &annotation, const std::shared_ptr<KVPDFObjectDictionary> &copy,
                                     const std::shared_ptr<KVPDFObjectDictionary> &page);
    // The form's fields of the widgets the pages read (KVPDFDocument_fields.cpp), before the
    // pages are written: widgets that model a field (KVPDFFormField) are gathered by name over
    // pages whose annotations were read. A name with one widget takes the field's entries into
    // the widget's dictionary when the two were one dictionary already, or when it is a new
    // text field; otherwise one field dictionary holds them, with the widgets as Kids. A rebuilt
    // field keeps the entries the engine does not model of the field it was read from and
    // stands for it (state.translate, state.fieldReplacements), so the form's Fields and CO
    // name it where they named the old one. Top-level fields join state.collectedFields.
    void writeFields(const std::vector<std::shared_ptr<KVPDFPage>> &pages, KVPDFWriteState &state);
    // Before a save's full rewrite, what the submit buttons ask for with their "FolivoFlags":
    // 0x2 puts the submit information page (marked by FolivoFlags 0x1 in its page dictionary)
    // first, unless it is there or was there when the file was opened (then the buttons stop
    // asking); 0x4 adds the hidden text fields "com.folivo.docID" (the ID's first element) and
    // "com.folivo.docTitle" (Info Title, else the localised "Untitled") to the first page when
    // missing. Both change the live document, so a later save finds them in place. Answers
    // whether the page was inserted. Defined beside the form-field classes
    // (annotation/KVPDFDocument_submit.cpp).
    bool prepareFormSubmission();
    // The next imprint form name, "FolivoFlattened<n>" or "FolivoImprint<n>", n from the
    // document's name counter, which it advances.
    QByteArray createName(bool flattened);
    uint64_t nameCount() const { return m_contents.nameCount; }
    void setNameCount(uint64_t count) { m_contents.nameCount = count; }
    // The Encrypt dictionary to write, or nullptr for a plain file. When one is answered the
    // document must hold the file key for output (hasEncryptionKey()); the writer then
    // encrypts every string and stream but this dictionary. It is a copy of
    // encryptDictionary() with U and O as new strings, unless the document is being decrypted
    // on open or has no key.
    std::shared_ptr<KVPDFObjectDictionary> encryptDictionaryForWriting();
    // ---- end Writing ------------------------------------------------------------------------

    // ---- Outline and named destinations (KVPDFDocument_outline.cpp) -------------------------
    // Both are read by the open road once the pages are built (processDests, then
    // processOutline) and edited in place afterwards. Reading never throws: an outline or a
    // name tree that cannot be read is logged and what was read of it stays. Next/First chains
    // and name-tree Kids that loop stop at the item already visited, with a log line.
    //
    // Named destinations: the catalogue's Dests dictionary and the Names/Dests tree, merged;
    // where both define a name, the tree wins. The values are the objects as stored (a
    // destination array, a dictionary with D, or a reference to either).
    void processDests();
    const QHash<QString, KVPDFObjectPtr> &dests() const { return m_contents.dests; }
    // A string or name is looked up in dests() and followed through references; a dictionary
    // answers its D. Anything else answers itself resolved. nullptr when a name is not defined.
    KVPDFObjectPtr resolveDestination(const KVPDFObjectPtr &destination);
    // The root outline item (empty title, no destination) whose children are the top-level
    // items; made empty when the catalogue has no Outlines. Never null.
    void processOutline();
    const std::shared_ptr<KVPDFOutline> &outlines();
    void setOutlines(std::shared_ptr<KVPDFOutline> root);
    // The item whose children hold `item`, searched depth first below `start` (never `start`
    // itself: a top-level item has no parent below the root). nullptr when none.
    KVPDFOutline *outlineParentOf(const KVPDFOutline *item, const KVPDFOutline &start) const;
    // Every item below `start` in pre-order.
    std::vector<std::shared_ptr<KVPDFOutline>> flattenedOutlineItemsStartingAt(const KVPDFOutline &start) const;
    // Parks every item below `node` whose destination is one of `pages` on that page
    // (KVPDFPage::deletedTOCEntries), taking it out of the tree with its sub-items.
    void removeTOCEntriesForPages(const std::vector<std::shared_ptr<KVPDFPage>> &pages, KVPDFOutline &node);
    // Puts the items parked on `pages` back, each page's in their order, before the first
    // item of the tree (in pre-order) that leads to a later page than theirs, else at the end
    // of the top level; empties the pages' parked lists.
    void addTOCEntriesForPages(const std::vector<std::shared_ptr<KVPDFPage>> &pages);
    // ---- end Outline ---------------------------------------------------------------------------

    // ---- Data refresh (KVPDFDocument_refresh.cpp) -------------------------------------------
    // After objects of the table were changed in memory: the bytes are rebuilt from the table
    // (changedDocData), re-read (refreshDocData), and the working copy of the result becomes
    // the data. The page objects stay the same objects. False, with the data unchanged, when
    // the table could not be written or the result not read back.
    bool updateDocData();
    // A new complete file holding every object of the table under its own number and
    // generation, unencrypted: one table from 0 with free rows for missing numbers, and a
    // trailer of Root, Info, ID, Size and the FolivoVersion found along the trailer chain. Object and cross-reference streams are left out (the
    // objects they held are in the table themselves); an object that cannot be read gets a
    // free row. Empty when the document has no catalogue.
    QByteArray changedDocData();
    // Re-reads the line end and cross-reference chain of the current data and gives every page
    // object the re-read page dictionary with its object number (pages matched in order when
    // the numbers changed but the count did not; a page imported since, which the tree does
    // not list, takes its own dictionary by number); pages keep their imprints and drop parsed
    // content. Objects of the old table stay alive (the program may hold them) until the
    // document goes. False when the data does not read.
    bool refreshDocData();
    // ---- end Data refresh --------------------------------------------------------------------

protected:
    // Forgets everything read from the bytes and done since (the open road re-runs on the same
    // object). What stays: the path, the open mode, the second-try mark and the warnings.
    void reset();
    KVPDFOpenResult openData(const QByteArray &data, const KVPDFRedrawConsent &consent,
                             KVPDFOpenMode mode = KVPDFOpenMode::Editing);
    KVPDFOpenResult openOnce();
    // What the page-list setters put into the list for `page`: the page made this document's,
    // or a copy of it when its own document still lists it. What pages let go of joins
    // `released`.
    std::shared_ptr<KVPDFPage> pageToList(const std::shared_ptr<KVPDFPage> &page,
                                          std::vector<std::shared_ptr<KVPDFDocument>> &released);
    void setUpDocumentID();
    // Parses the object an unread table entry stands for; nullptr on a cycle or no object.
    KVPDFObjectPtr parseEntry(const KVPDFObjectPtr &entry, uint64_t number, uint64_t generation, bool contained);
    // The security step of the open road. Without a security handler an encrypted file can
    // only report that it needs a password.
    KVPDFOpenResult setupSecurity();

    // The state is kept in groups that are reset by assigning a fresh value, so a field added
    // to a group is reset with it. reset() resets every group; a refresh, which reads new bytes
    // under the same pages and security, resets the object table and the file structure only.
    enum class CryptMethod { None, RC4, AES };

    // The bytes and what their header says.
    struct Bytes {
        QByteArray data;
        // The line end found after the header: "\n", "\r" or "\r\n".
        QByteArray eol = QByteArrayLiteral("\n");
        KVPDFKeywordFinder endstreamFinder{"endstream"};
        QString pdfVersion;
    };
    // Numbered objects. An entry replaced while the document lives goes to m_retired.
    struct ObjectTable {
        std::unordered_map<uint64_t, KVPDFObjectPtr> objects;
        uint64_t generationCount = 1;
        // The next number a new object gets; never past kMaxObjectNumber.
        uint64_t objectCount = 0;
        // The decoded object streams whose members the table has yet to read.
        KVPDFObjectStreamCache objectStreams;
    };
    // What the cross-reference chain and the catalogue of the current bytes say.
    struct FileStructure {
        std::unique_ptr<KVPDFTrailer> trailer;
        std::shared_ptr<KVPDFObjectDictionary> rootObject;
        std::shared_ptr<KVPDFObjectDictionary> pagesObject;
        uint64_t startxref = 0;
        // False while strings read from the bytes still hold encrypted bytes.
        bool pastDecryption = true;
        bool hasFields = false;
        bool hadFormSubmitInstructionsOnOpen = false;
    };
    // The standard security handler's state. Reading uses the read key and methods of the
    // file; writing uses the encrypt key and methods, which the passwords may change.
    struct Security {
        std::shared_ptr<KVPDFObjectDictionary> encryptDictionary;
        QByteArray fileKey;
        QByteArray readKey;
        QByteArray encryptKey;
        // What the key for writing and the U of encryptDictionary were made with: the user
        // password (padded when O gave it), the ID's first element and the key length in bits.
        QByteArray userPassword;
        QByteArray keyID;
        int keyBits = 0;
        EncryptionStatus encryptionStatus = EncryptionNone;
        CryptMethod readStringMethod = CryptMethod::RC4;
        CryptMethod readStreamMethod = CryptMethod::RC4;
        CryptMethod stringMethod = CryptMethod::RC4;
        CryptMethod streamMethod = CryptMethod::RC4;
        bool aesEncryption = false;
        bool encryptMetadata = true;
        bool isOwner = false;
        int32_t filePermissions = -4;
        int64_t accessPermissions = int64_t(0xFFFFFFFC);
    };
    // What the program works on; kept through a refresh.
    struct Contents {
        std::vector<std::shared_ptr<KVPDFPage>> pages;
        // The ID in force: the file's first element where it is a string other than the blank
        // template's, else a fresh one; a fresh second one.
        std::shared_ptr<KVPDFObjectArray> docID;
        // The imprint form name counter of the write under way.
        uint64_t nameCount = 0;
        std::shared_ptr<KVPDFOutline> outlines;
        QHash<QString, KVPDFObjectPtr> dests;
    };

    Bytes m_bytes;
    ObjectTable m_table;
    FileStructure m_structure;
    Security m_security;
    Contents m_contents;
    // The font list: emptied with the objects (the fonts hold their dictionaries).
    std::vector<std::shared_ptr<KVPDFFont>> m_fonts;
    // Objects the table let go of (replaced entries, and the whole table at a refresh): callers
    // may still hold them, so they stay alive until the document goes or re-opens, and are taken
    // apart then (their reference cycles broken).
    std::vector<KVPDFObjectPtr> m_retired;
    // Breaks the reference cycles of the table's objects and the retired ones, and empties both.
    void releaseObjects();
    // Guards m_table.objects, its counts and m_retired while readers run on several threads; a
    // leaf lock (nothing else is locked or parsed while it is held).
    mutable std::mutex m_tableMutex;
    // setObject with m_tableMutex held.
    void setObjectLocked(const KVPDFObjectPtr &object, uint64_t number, uint64_t generation);

    QString m_path;
    bool m_secondTry = false;

    CryptMethod methodFor(CryptTarget target) const
    {
        return target == CryptStream ? m_security.streamMethod : m_security.stringMethod;
    }
    KVPDFOpenResult checkSecurityHandler();
    // A password unlocked a key: reading decrypts with it, and the next write encrypts with it
    // and the file's methods unless the passwords change. Owner status is only ever added.
    void acceptKey(const KVPDFUnlockedKey &unlocked);
    // Once the open has settled the ID in force, which the next save writes: RC4 and AES-128
    // keys depend on its first element, so when that is not the element the key for writing
    // was made with (a file without an ID, or with something other than a string first, made
    // its keys with empty bytes; the blank template's ID gives way to a fresh one), U and that
    // key are made again with it from the user password the open found. O depends on the
    // passwords alone and stays. The dictionary in force also states the key length the
    // password passed at when its own Length did not give it.
    void keyWithWrittenID();
    // Continues the open road once a key is known: object streams, catalogue, pages, then the
    // rewrites below when opened for editing.
    KVPDFOpenResult finishOpen();
    // The file's objects as read with the read key, written in clear into memory and read
    // again; the security state is kept for writing. On a failed write the document stays as
    // read (decrypting on demand).
    KVPDFOpenResult decryptedRewrite();
    // The data becomes the working copy (without the imprints the pages now hold as objects).
    void workingCopyRewrite();
    // Reads `data` as the document's bytes (refreshDocData); when it does not read, logs
    // `failure` and reads the bytes it had again.
    bool readDocDataOrKeep(const QByteArray &data, const QString &failure);
    // refreshDocData's steps: the line end, the cross-reference chain and the catalogue of the
    // new bytes (false when they do not read), then each page of this document matched to its
    // re-read dictionary.
    bool readStructureAgain();
    void givePagesTheirDictionaries(const std::vector<std::shared_ptr<KVPDFObjectDictionary>> &leaves);
    // The page dictionaries of the page tree under pagesObject(), depth first.
    std::vector<std::shared_ptr<KVPDFObjectDictionary>> pageDictionariesInTree();
    void setPath(const QString &path) { m_path = path; }
    void setPagesObject(const std::shared_ptr<KVPDFObjectDictionary> &pages);
    // Outline steps: one level along a Next chain into `parent`; a name-tree node into `into`.
    // `visited` holds the dictionaries met so far.
    void processOutlineLevel(const std::shared_ptr<KVPDFObjectDictionary> &first, KVPDFOutline &parent,
                             std::unordered_set<const KVPDFObject *> &visited, int depth);
    void processNameTree(const std::shared_ptr<KVPDFObjectDictionary> &node, QHash<QString, KVPDFObjectPtr> &into,
                         std::unordered_set<const KVPDFObject *> &visited, int depth);
    KVPDFOpenMode m_openMode = KVPDFOpenMode::Editing;

    // Writing
    NotificationHandler m_notificationHandler;

    // Warnings: the document's records, and while an open runs, the capture that collects its
    // messages (a record reported then only places a message the capture holds already).
    KVPDFWarningSink m_warningSink;
    KVPDFLogCapture *m_openCapture = nullptr;
};

namespace kvpdf {
// The document `object` belongs to: nullptr for an object without one (or with a context that
// is not a document).
inline KVPDFDocument *documentOf(const KVPDFObject &object) { return dynamic_cast<KVPDFDocument *>(object.context()); }
}
