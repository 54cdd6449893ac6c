#pragma once
// The engine document: one PDF file's bytes held in memory, the object table, the line end
// of the file and the security state. The open road, the cross-reference chain, the pages and
// the writer build on this shell.
//
// Ownership: owns its bytes and every object in its table. Objects point back at it raw, so it
// must outlive them. Always held by std::shared_ptr (documentWithData): page and annotation
// copies, which may outlive every other owner, hold their source document through
// weak_from_this() until they are put back into it (see KVPDFPage.h).
// Threads: one thread at a time.
#include "KVPDFObject.h"
#include "KVPDFObjectContext.h"
#include "KVPDFParser.h"

#include <QByteArray>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QTransform>
#include <QVariantMap>

#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

class KVPDFObjectArray;
class KVPDFObjectDictionary;
class KVPDFAnnotation;
class KVPDFPage;
class KVPDFTrailer;
class KVPDFDataWriter;        // Writing
struct KVPDFLogCapture;
struct KVPDFWriteState;       // Writing

// Open results.
enum KVPDFOpenResult : int {
    KVPDFOpenOK = 0,
    KVPDFOpenNeedsPassword = 1,
    KVPDFOpenBroken = 2,                // no header, no trailer, or a broken cross-reference chain
    KVPDFOpenUnsupportedSecurity = 3,
};

// A file the engine cannot parse may be redrawn page by page by a renderer the layer above
// installs (the engine itself links no renderer). Answers the new PDF bytes, or empty.
using KVPDFRedrawFunction = std::function<QByteArray(const QByteArray &data)>;
// Asked before a redrawn copy is used: the copy loses annotations and form fields.
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

    // Opens PDF bytes. Never throws: the result code says what happened, and the document is
    // answered whenever one could be made (also for results 1 and 3). A parse failure offers the
    // redrawn copy when a redraw function is installed and `consent` agrees.
    static std::shared_ptr<KVPDFDocument> documentWithData(const QByteArray &data, int *result,
                                                           const KVPDFRedrawConsent &consent = {},
                                                           KVPDFOpenMode mode = KVPDFOpenMode::Editing);
    // As above from a file; an unreadable file gives result 2 and no document.
    static std::shared_ptr<KVPDFDocument> documentWithContentsOfFile(const QString &path, int *result,
                                                                     const KVPDFRedrawConsent &consent = {},
                                                                     KVPDFOpenMode mode = KVPDFOpenMode::Editing);
    KVPDFOpenMode openMode() const { return m_openMode; }
    static void setRedrawFunction(KVPDFRedrawFunction function);

    // Open steps.
    bool versionAndEOF();
    bool workTrailer();
    // Walks the page tree into pages; answers whether any page holds stored imprints.
    bool prepPages();

    const QString &pdfVersion() const { return m_pdfVersion; }
    void setPDFVersion(const QString &version) { m_pdfVersion = version; }
    const QString &path() const { return m_path; }
    void setPath(const QString &path) { m_path = path; }
    KVPDFTrailer *trailer() const { return m_trailer.get(); }
    const std::shared_ptr<KVPDFObjectDictionary> &rootObject() const { return m_rootObject; }
    void setRootObject(const std::shared_ptr<KVPDFObjectDictionary> &root) { m_rootObject = root; }
    const std::shared_ptr<KVPDFObjectDictionary> &pagesObject() const { return m_pagesObject; }
    void setPagesObject(const std::shared_ptr<KVPDFObjectDictionary> &pages);
    bool hasFields() const { return m_hasFields; }
    void setHasFields(bool hasFields) { m_hasFields = hasFields; }
    bool secondTry() const { return m_secondTry; }
    bool hadFormSubmitInstructionsOnOpen() const { return m_hadFormSubmitInstructionsOnOpen; }
    uint64_t startxref() const { return m_startxref; }
    const std::shared_ptr<KVPDFObjectArray> &docIDArray() const { return m_docID; }

    // Pages.
    const std::vector<std::shared_ptr<KVPDFPage>> &pages() const { return m_pages; }
    size_t pageCount() const { return m_pages.size(); }
    std::shared_ptr<KVPDFPage> pageAtIndex(size_t index) const;
    // A page that holds this document lets go of it here (KVPDFPage::releaseHeldDocument).
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

    // Identity for 0 or less; otherwise a translation then a rotation by `degrees`.
    static QTransform pageTransformForRotation(float degrees, QSizeF size);
    // The crop box size (media box without one), swapped for 90 and 270.
    static QSizeF pageSizeForPage(KVPDFPage &page);
    static bool isJPEG(const QString &path);

    // Recoverable defects met while opening, and those of its objects met after (a stream that
    // does not decode on first use), in order: the records, and their messages alone.
    const std::vector<KVPDFWarning> &warningRecords() const { return m_warningSink.records(); }
    QStringList warnings() const { return m_warningSink.messages(); }
    void warn(const KVPDFWarning &warning) override;

    const QByteArray &docData() const { return m_docData; }
    void setDocData(const QByteArray &data) { m_docData = data; }

    // Where the stream reader looks for "endstream" when a Length misses it.
    KVPDFKeywordFinder &endstreamFinder() { return m_endstreamFinder; }

    // The line end found after the header: "\n", "\r" or "\r\n".
    const QByteArray &EOL() const { return m_eol; }
    int EOLLength() const { return int(m_eol.size()); }
    void setEOL(const QByteArray &eol) { m_eol = eol; }

    // Object table. Number 0 is ignored; the stored object is stamped with number and generation.
    // Numbers above kMaxObjectNumber are refused: no real file comes near it, and mark tables are
    // sized by the highest number.
    void setObject(const KVPDFObjectPtr &object, uint64_t number, uint64_t generation);
    // The object under `number`; the generation does not take part.
    KVPDFObjectPtr objectWithNumber(uint64_t number, uint64_t generation = 0) const;
    // The parsed object under `number`: a table entry that only knows where the object's text
    // lies (a placeholder, or a lazy reference with a position) is parsed there and replaces
    // itself in the table, so every reference to the number shares one instance. nullptr when
    // the number is absent, unparsable in a recoverable way, or part of a resolution cycle.
    KVPDFObjectPtr resolveObject(uint64_t number, uint64_t generation, bool contained = false);
    // For a writer that copies what it reads and lets it go: an object the table has not read
    // yet is parsed without entering the table (stamped with its number and generation), so a
    // save does not leave the whole file parsed in memory. Otherwise as resolveObject.
    KVPDFObjectPtr readObjectOnce(uint64_t number, uint64_t generation);
    // True when the table holds `number` but has not parsed it yet.
    bool isUnread(uint64_t number) const;
    void removeObject(uint64_t number) { m_objects.erase(number); }
    const std::unordered_map<uint64_t, KVPDFObjectPtr> &objects() const { return m_objects; }
    uint64_t generationCount() const { return m_generationCount; }
    uint64_t objectCount() const { return m_objectCount; }
    void setObjectCount(uint64_t count) { m_objectCount = count; }

    // The object parser over `data` (the file bytes, an object stream or any other buffer).
    // directOnly: `data` is not the file (content streams): numbers are never references and an
    // unrecognised byte answers nullptr. contained: the object is an element of a container.
    // compressed: `data` is an object stream. Raises FolivoParseFailure on bad syntax.
    KVPDFObjectPtr objectAtOffset(uint64_t offset, const QByteArray &data, bool directOnly, bool contained,
                                  bool indexed, bool compressed);
    KVPDFObjectPtr numberAtOffset(uint64_t offset, const QByteArray &data, bool directOnly, bool contained);

    // Security state. Until a security handler is installed the document is never encrypted.
    EncryptionStatus encryptionStatus() const { return m_encryptionStatus; }
    bool hasEncryptionKey() const { return !m_encryptKey.isEmpty(); }
    const QByteArray &encryptKey() const { return m_encryptKey; }
    bool aesEncryption() const { return m_aesEncryption; }
    // False while strings read from the file still hold encrypted bytes.
    bool pastDecryption() const { return m_pastDecryption; }
    void setPastDecryption(bool past) { m_pastDecryption = past; }

    // Reading and writing keep keys of their own: bytes read from the file decrypt with the key
    // the password gave, whatever the passwords set for the next write. Opened for editing, an
    // encrypted file is read once with the read key into a plain copy, which is what the
    // document then holds: the read key is gone and only the key for writing stays.
    bool isDecrypting() const { return !m_readKey.isEmpty(); }
    bool isEncrypting() const { return hasEncryptionKey() && m_encryptionStatus == EncryptionEncrypting; }
    // The file key the accepted password gave (empty for plain files and before a password).
    const QByteArray &fileKey() const { return m_fileKey; }

    // Decrypts the bytes of a string or stream of object (number, generation). AES input starts
    // with its 16-byte vector and has its padding removed; bad padding is logged and kept.
    QByteArray decryptData(const QByteArray &data, uint64_t number, uint64_t generation, CryptTarget target = CryptString);
    // Encrypts for writing: AES output is a fresh vector followed by the padded cipher text.
    QByteArray encryptData(const QByteArray &data, uint64_t number, uint64_t generation, CryptTarget target = CryptString);
    // As encryptData, whether or not the document is encrypting now: a write that encrypts asks
    // for it (the key for writing is needed; without one the data is answered as it is).
    QByteArray encryptWithWriteKey(const QByteArray &data, uint64_t number, uint64_t generation,
                                   CryptTarget target) override;
    // False for a stream the file leaves in clear: the Metadata stream of a file whose
    // EncryptMetadata is false, and streams with an Identity crypt filter of their own.
    bool streamIsEncrypted(const KVPDFObjectDictionary &streamDictionary);

    // Standard security handler. validatePassword answers 0 when the password is accepted (as
    // user or owner) and 1 when refused; a refusal changes nothing.
    int validatePassword(const QString &password);
    // Sets, changes or removes (both empty, as owner) the passwords the next write encrypts with.
    // permissions: the permission bits asked for; reserved bits are set as the format requires.
    void setUserPassword(const QString &userPassword, const QString &ownerPassword, int64_t permissions,
                         bool encryptMetadata = true);
    bool isOwner() const { return m_isOwner; }
    // 0xFFFFFFFC (everything) for the owner and for plain files, else the file's P.
    int64_t accessPermissions() const { return m_isOwner ? int64_t(0xFFFFFFFC) : m_accessPermissions; }
    bool awaitingPassword() const { return m_encryptDictionary && m_fileKey.isEmpty() && m_encryptKey.isEmpty(); }
    const std::shared_ptr<KVPDFObjectDictionary> &encryptDictionary() const { return m_encryptDictionary; }
    // The first element of the ID in force, which every key depends on.
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
    // holding the current pages (a complete plain file when the bytes have no cross-reference
    // section to update or are still encrypted). Every line ends with EOL() except the fixed
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

    // Seams of the writer.
    // The dictionary written for one page (KVPDFDocument_imprints.cpp): a direct dictionary
    // whose references may still name objects of the page's own document (the writer copies
    // and renumbers what they reach); Parent is state.newPagesObject. New objects it makes go
    // through state.addObject(). The page's inherited keys become its own. Live imprint
    // streams stored by an earlier save are dropped from Contents (and their "FolivoImprint"
    // names from the XObject resources), since the page holds those imprints as objects.
    // withImprints: each content imprint is written as a form object drawn by a placement
    // stream after the page's content, inside one q/Q marker pair ("FolivoImprint<n>" with
    // its location and properties, or "FolivoFlattened<n>" for good), and listed under
    // "FolivoImprints"; once the page's annotations were read, Annots is rebuilt from the
    // annotation imprints' dictionaries. An imprint whose document has no page is logged and
    // left out. nullptr fails the write.
    virtual std::shared_ptr<KVPDFObjectDictionary> page(KVPDFPage &source, bool withImprints, KVPDFWriteState &state);
    // The value of the written catalogue's Outlines, or nullptr to keep the catalogue's own.
    virtual KVPDFObjectPtr outlinesForWriting(KVPDFWriteState &state);
    // Annots of the written page `dictionary`, from the page's annotation imprints.
    void writeAnnotations(KVPDFPage &source, const std::shared_ptr<KVPDFObjectDictionary> &dictionary, KVPDFWriteState &state);
    // What the written copy of an annotation's dictionary takes from the annotation: its new
    // appearance, and P = the written page. Also for copies made before their page is built
    // (reached from an earlier page, such as the widgets of a field on several pages).
    static void finishAnnotationCopy(const KVPDFAnnotation &annotation, const std::shared_ptr<KVPDFObjectDictionary> &copy,
                                     const std::shared_ptr<KVPDFObjectDictionary> &page);
    // The next imprint form name, "FolivoFlattened<n>" or "FolivoImprint<n>", n from the
    // document's name counter, which it advances.
    QByteArray createName(bool flattened);
    uint64_t nameCount() const { return m_nameCount; }
    void setNameCount(uint64_t count) { m_nameCount = count; }
    // The Encrypt dictionary to write, or nullptr for a plain file. When one is answered the
    // document must hold the file key for output (hasEncryptionKey()); the writer then
    // encrypts every string and stream but this dictionary. This version answers a copy of
    // encryptDictionary() with U and O as new strings, unless the document is being decrypted
    // on open or has no key.
    virtual std::shared_ptr<KVPDFObjectDictionary> encryptDictionaryForWriting();
    // ---- end Writing ------------------------------------------------------------------------

    // ---- Data refresh (KVPDFDocument_refresh.cpp) -------------------------------------------
    // After objects of the table were changed in memory: the bytes are rebuilt from the table
    // (changedDocData), re-read (refreshDocData), and the working copy of the result becomes
    // the data. The page objects stay the same objects. False, with the data unchanged, when
    // the table could not be written or the result not read back.
    bool updateDocData();
    // A new complete file holding every object of the table under its own number and
    // generation, unencrypted: one table from 0 with free rows for missing numbers, and a
    // trailer of Root, Info, ID and Size. Object and cross-reference streams are left out (the
    // objects they held are in the table themselves); an object that cannot be read gets a
    // free row. Empty when the document has no catalogue.
    QByteArray changedDocData();
    // Re-reads the line end and cross-reference chain of the current data and gives every page
    // object the re-read page dictionary with its object number (pages matched in order when
    // the numbers changed but the count did not); pages keep their imprints and drop parsed
    // content. Objects of the old table stay alive (the program may hold them) until the
    // document goes. False when the data does not read.
    bool refreshDocData();
    // ---- end Data refresh --------------------------------------------------------------------

protected:
    // Resets to the freshly made state (the open road re-runs on the same object).
    void reset();
    int openData(const QByteArray &data, const KVPDFRedrawConsent &consent, KVPDFOpenMode mode = KVPDFOpenMode::Editing);
    int openOnce();
    void setUpDocumentID();
    // Parses the object an unread table entry stands for; nullptr on a cycle or no object.
    KVPDFObjectPtr parseEntry(const KVPDFObjectPtr &entry, uint64_t number, uint64_t generation, bool contained);
    // The security step of the open road. Without a security handler an encrypted file can
    // only report that it needs a password.
    virtual int setupSecurity();

    QByteArray m_docData;
    KVPDFKeywordFinder m_endstreamFinder{"endstream"};
    QByteArray m_eol = QByteArrayLiteral("\n");
    std::unordered_map<uint64_t, KVPDFObjectPtr> m_objects;
    // Table entries replaced while the document lives; released with it, since callers may still
    // hold them and they may be part of reference cycles.
    std::vector<KVPDFObjectPtr> m_retired;
    uint64_t m_generationCount = 1;
    uint64_t m_objectCount = 0;

    QByteArray m_encryptKey;
    EncryptionStatus m_encryptionStatus = EncryptionNone;
    bool m_aesEncryption = false;
    bool m_pastDecryption = true;

    QString m_pdfVersion;
    QString m_path;
    std::unique_ptr<KVPDFTrailer> m_trailer;
    std::shared_ptr<KVPDFObjectDictionary> m_rootObject;
    std::shared_ptr<KVPDFObjectDictionary> m_pagesObject;
    std::vector<std::shared_ptr<KVPDFPage>> m_pages;
    std::shared_ptr<KVPDFObjectArray> m_docID;
    uint64_t m_startxref = 0;
    bool m_secondTry = false;
    bool m_hasFields = false;
    bool m_hadFormSubmitInstructionsOnOpen = false;
    bool m_isOwner = false;

    // Security state beyond the key and status above.
    enum class CryptMethod { None, RC4, AES };
    CryptMethod methodFor(CryptTarget target) const { return target == CryptStream ? m_streamMethod : m_stringMethod; }
    int checkSecurityHandler();
    // Continues the open road once a key is known: object streams, catalogue, pages, then the
    // rewrites below when opened for editing.
    int finishOpen();
    // The file's objects as read with the read key, written in clear into memory and read
    // again; the security state is kept for writing. On a failed write the document stays as
    // read (decrypting on demand).
    int decryptedRewrite();
    // The data becomes the working copy (without the imprints the pages now hold as objects).
    void workingCopyRewrite();
    // Reads `data` as the document's bytes (refreshDocData); when it does not read, logs
    // `failure` and reads the bytes it had again.
    bool readDocDataOrKeep(const QByteArray &data, const QString &failure);
    // The page dictionaries of the page tree under pagesObject(), depth first.
    std::vector<std::shared_ptr<KVPDFObjectDictionary>> pageDictionariesInTree();
    KVPDFOpenMode m_openMode = KVPDFOpenMode::Editing;
    uint64_t m_nameCount = 0;
    // Old objects replaced by a refresh; kept for whoever still holds them, and taken apart
    // (their reference cycles broken) with the document.
    struct RetiredObjects {
        std::vector<KVPDFObjectPtr> objects;
        void release()
        {
            for (auto &object : objects)
                if (object)
                    object->releaseGraph();
            objects.clear();
        }
        ~RetiredObjects() { release(); }
    };
    RetiredObjects m_retiredObjects;
    QByteArray m_fileKey;
    QByteArray m_readKey;
    CryptMethod m_readStringMethod = CryptMethod::RC4;
    CryptMethod m_readStreamMethod = CryptMethod::RC4;
    int32_t m_filePermissions = -4;
    std::shared_ptr<KVPDFObjectDictionary> m_encryptDictionary;
    int64_t m_accessPermissions = int64_t(0xFFFFFFFC);
    CryptMethod m_stringMethod = CryptMethod::RC4;
    CryptMethod m_streamMethod = CryptMethod::RC4;
    bool m_encryptMetadata = true;

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
