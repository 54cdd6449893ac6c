#pragma once
// An imprint: something the user put on a page (a picture, a text box, a drawing, a stamp) that
// stays movable and editable after a save. It is a one-page PDF document of its own that draws
// it, the place and size it has on the page, a property dictionary the editing layer rebuilds
// the object from, and a flag that asks the next save to burn it into the page for good.
// Annotations are imprints too (KVPDFAnnotation).
//
// Ownership: owns its one-page document (shared between an imprint and its copies, and
// between stored imprints read back as the same one-page PDF, see KVPDFRebuiltImprintDocuments)
// and its property dictionary. Pages hold imprints by std::shared_ptr. Threads: one at a time.
//
// The property dictionary's keys belong to the editing layer; the engine stores it and gives
// it back unchanged. The one key the engine looks at is "filename", a local file the imprint
// was made from. A file path is only trusted when this session put it there: stored
// dictionaries and stored image dictionaries lose "filename" when read from a file, so a
// crafted document cannot make the next save pull in an arbitrary local file.
#include <QByteArray>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QTransform>
#include <QVariantMap>

#include <map>
#include <memory>
#include <optional>

class KVPDFDocument;
class KVPDFObject;
class KVPDFObjectDictionary;
class KVPDFObjectStream;

class KVPDFImprint {
public:
    enum ImprintType : int {
        ImprintContent = 1,
        ImprintAnnotation = 2,
    };

    KVPDFImprint();
    virtual ~KVPDFImprint();
    KVPDFImprint(const KVPDFImprint &) = delete;
    KVPDFImprint &operator=(const KVPDFImprint &) = delete;

    // Parses `data` into the imprint's own document (the open result is not checked: data that
    // does not parse still gives an imprint, whose document has no pages). Size (0, 0), no
    // property dictionary, not flattened.
    static std::shared_ptr<KVPDFImprint> imprintWithData(const QByteArray &data, QPointF location);

    QPointF location() const { return m_location; }
    virtual void setLocation(QPointF location) { m_location = location; }
    QSizeF size() const { return m_size; }
    virtual void setSize(QSizeF size) { m_size = size; }

    const std::shared_ptr<KVPDFDocument> &document() const { return m_document; }
    void setDocument(const std::shared_ptr<KVPDFDocument> &document) { m_document = document; }

    // False when the imprint has no property dictionary (none was stored, or the stored one
    // could not be read: see opaqueDictionaryData()).
    bool hasDictionary() const { return m_hasDictionary; }
    const QVariantMap &dictionary() const { return m_dictionary; }
    // Keeps the current "filename" across the replacement: a new rendering of the same picture
    // does not lose the file it came from.
    void setDictionary(const QVariantMap &dictionary);
    void removeFileName();
    // The "filename" of the property dictionary, or an empty string.
    QString fileName() const;

    // Stored property bytes that did not unarchive (damaged, too large, too deep, or written by
    // something else). Kept so a save can store them back unchanged; empty otherwise, and
    // cleared when a dictionary is set.
    const QByteArray &opaqueDictionaryData() const { return m_opaqueDictionaryData; }
    void setOpaqueDictionaryData(const QByteArray &data);

    bool flatten() const { return m_flatten; }
    void setFlatten(bool flatten) { m_flatten = flatten; }

    virtual int imprintType() const { return ImprintContent; }
    // A content imprint always prints.
    virtual bool flagPrint() const { return true; }

    // A new imprint of the receiver's class: same location and size, the same one-page document
    // (shared, not copied), a copy of the property dictionary; never flattened.
    virtual std::shared_ptr<KVPDFImprint> copy() const;

    // One-page PDF data that draws `form` (a form object stream of a parsed document): a page
    // with `mediaBox` as its MediaBox (left out when null), the form's stored content bytes
    // and filter keys as its content stream, and copies of the form's Resources and of
    // everything they reach. Page-tree nodes, catalogues and annotations reached from the
    // resources are not copied (their references become null), nor is anything the copies
    // cannot reach. Image dictionaries lose "filename". Numbered 1, 2, 3 ... with one
    // cross-reference subsection that starts at 1. Raises the engine's failures when the
    // form's objects do not parse.
    //
    // With `placement` (a form's Matrix that is not the identity) the content is drawn as a
    // page draws the form: through two more content streams around it that set the matrix and
    // clip to `clip` (the form's BBox), so the stored bytes stay as they are.
    static QByteArray onePageDataForForm(const std::shared_ptr<KVPDFObjectStream> &form,
                                         const std::shared_ptr<KVPDFObject> &mediaBox,
                                         const std::optional<QTransform> &placement = std::nullopt,
                                         const QRectF &clip = QRectF());

    // An image dictionary made in this session may name the local file it was made from; a
    // save may then store that file's bytes. Only a path set through setImageFileName on this
    // very dictionary object, and still there unchanged, is answered: a "filename" key read
    // from a file (or left on a copy) answers an empty string. The paths are remembered by the
    // installed services (KVPDFServices::sessionFileNames).
    static void setImageFileName(const std::shared_ptr<KVPDFObjectDictionary> &imageDictionary, const QString &path);
    static QString imageFileName(const KVPDFObjectDictionary &imageDictionary);

protected:
    // Copies what copy() carries over into `target` (a fresh object of the subclass).
    void copyImprintInto(KVPDFImprint &target) const;

private:
    QPointF m_location;
    QSizeF m_size;
    QVariantMap m_dictionary;
    QByteArray m_opaqueDictionaryData;
    std::shared_ptr<KVPDFDocument> m_document;
    bool m_hasDictionary = false;
    bool m_flatten = false;
};

// The one-page documents of the stored imprints read in one walk over a document's pages
// (KVPDFDocument::prepPages). Forms that rebuild into the same one-page PDF get one document
// between them, as copies of one imprint do: 50 stored copies of one picture (one content, one
// box, one Resources dictionary, each with its own place and properties) hold the picture
// once, and so do the imprints of many pages that reach the same forms through a Resources
// dictionary they share. A save then writes the picture once, where each imprint with a
// document of its own wrote it again. Forms that draw one picture differently (another
// content or box) rebuild into different one-page PDFs, and each of those is a whole file the
// imager draws on its own, so each holds the picture.
//
// Equal rebuilds are found before building, by a SHA-256 digest of everything
// onePageDataForForm reads: the form's stored content bytes, its content keys and Resources as
// syntax (strings decrypted, references by number) and the box's numbers. References name
// objects of the walked document, so one of these never outlives its walk: a refresh or
// another document numbers its objects anew. A form that differs in any of these is built on
// its own, and so is one that would rebuild equal bytes from other objects (two equal copies
// of an image): the sharing follows what the file itself shares.
//
// Bound: dropped when the walk ends, and it holds the documents weakly (the imprints own them),
// so what it keeps is a digest and a weak pointer per distinct form met; each distinct form is
// an object of the file, so the file's size bounds it, however many pages reach the forms. No
// cap that forgets entries is needed, and one would only cost sharing.
// Threads: one at a time, as the document walked.
class KVPDFRebuiltImprintDocuments {
public:
    // The document that draws `form` on a page of `mediaBox` (onePageDataForForm, then opened):
    // the one made earlier in this walk for an equal form while an imprint still holds it,
    // else a new one. Raises the engine's failures as onePageDataForForm does; nothing is
    // remembered for a form that fails.
    std::shared_ptr<KVPDFDocument> documentForForm(const std::shared_ptr<KVPDFObjectStream> &form,
                                                   const std::shared_ptr<KVPDFObject> &mediaBox);

private:
    std::map<QByteArray, std::weak_ptr<KVPDFDocument>> m_documents;
};

// The blank one-page PDF shipped with the engine (612 x 792 points, empty content, the blank
// template's ID): the base of documents made from nothing.
QByteArray KVPDFBlankPage();
