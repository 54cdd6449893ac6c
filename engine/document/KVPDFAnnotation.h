#pragma once
// One annotation of a page: a view on its annotation dictionary, kept in the page's imprint
// list after the content imprints, so the editing layer moves and sizes it like any imprint
// (which rewrites its Rect). The base class carries every kind of annotation that has no class
// of its own through editing and saving unchanged, and gives the kinds their shared services:
// the rectangle, the flags, colours as PDF arrays and operators, deep copies of object
// subtrees, copies of appearance resources into a page, and the one-page PDF of an existing
// appearance stream.
//
// Ownership: owns its dictionary, the old dictionary the writer keeps, a replacement appearance
// and the cached appearance data. The page is a weak back link (page() is null once the page
// is gone, and for a page not held by std::shared_ptr). The dictionary points at its document
// raw, so the document must outlive the annotation: an annotation read from a page relies on
// its page's document. A copy holds its source document (when that is shared-owned) until it
// is put on a page that has a document. On a page of its source the page keeps that document
// alive for the copy (through the document's page list, or a page copy's own hold), and
// holding it too would make a cycle (document -> page -> annotation -> document). On a page of
// another document its objects are imported into that document first (importInto), so it
// relies on that document from then on and holds none: holding the source would tie the two
// documents together once copies go both ways. An annotation taken off its page holds its
// dictionary's document from then on. An annotation is on one page at a time: one still
// listed by a page of another document is copied before it is put on a page.
// Threads: like the page's annotations (KVPDFPage.h): the getters and pdfDataForAppearance()
// may be called from any number of threads at once (the appearance data is rendered unlocked
// and the first result kept); the setters, copies, imports and page changes are writes (one
// thread, no reader).
//
// Bad input: a missing or non-numeric Rect gives an empty rectangle; a Rect whose corners are
// given in another order is put in order (lower-left, positive size), so a crafted Rect cannot
// give negative sizes to the layers above. Missing F reads as 0. An appearance that is not a
// stream is logged and treated as none.
#include "KVColor.h"
#include "KVPDFImprint.h"
#include "KVPDFObject.h"

#include <QRectF>
#include <QTransform>

#include <optional>
#include <vector>

class KVPDFDocument;
class KVPDFImport;
class KVPDFObjectArray;
class KVPDFPage;

class KVPDFAnnotation : public KVPDFImprint {
public:
    // Answered by annotationType(); the editing layer and the page's widgets()/links() filter
    // on them.
    enum AnnotationType : int {
        AnnotationBase = 0,
        AnnotationText = 1,
        AnnotationLink = 2,
        AnnotationFreeText = 3,
        AnnotationLine = 4,
        AnnotationSquare = 5,
        AnnotationCircle = 6,
        AnnotationHighlight = 7,
        AnnotationUnderline = 8,
        AnnotationSquiggly = 9,
        AnnotationStrikeOut = 10,
        AnnotationStamp = 11,
        AnnotationInk = 12,
        AnnotationPopup = 13,
        AnnotationWidget = 17,
        AnnotationPolygon = 20,
    };
    // Flag n of F, counted from 1, is bit n - 1.
    enum Flag : int {
        FlagHidden = 2,
        FlagPrint = 3,
        FlagReadOnly = 7,
        FlagLocked = 8,
    };

    // The object of the class the installed services name for the dictionary's Subtype (and a
    // widget's field type), or a base annotation; see KVPDFServices::annotationFactories.
    static std::shared_ptr<KVPDFAnnotation> annotationForDictionary(const std::shared_ptr<KVPDFObjectDictionary> &dictionary,
                                                                    KVPDFPage *page);
    // Always a base annotation.
    static std::shared_ptr<KVPDFAnnotation> annotationWithDictionary(const std::shared_ptr<KVPDFObjectDictionary> &dictionary,
                                                                     KVPDFPage *page);

    // A numbered dictionary is taken from its document's table again (so the annotation and the
    // table share one object); a direct one is used as it is. Location and size come from Rect.
    // `page` is linked weakly, so only a page held by std::shared_ptr is remembered.
    KVPDFAnnotation(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, KVPDFPage *page);
    ~KVPDFAnnotation() override;

    virtual int annotationType() const { return AnnotationBase; }
    // Whether the annotation leads to a page of its own document (a page copy leaves such
    // links out, since the copy may land elsewhere). The base answers for a Link dictionary
    // with Dest or a GoTo action; KVPDFAnnotationLink by its kind.
    virtual bool leadsToPage() const;
    // The form-field kind of a widget (KVPDFAnnotationWidget::WidgetType: 1 text, 2 button,
    // 3 choice); 0 for a widget of no modelled kind and for every other annotation.
    virtual int widgetType() const { return 0; }
    int imprintType() const override { return ImprintAnnotation; }
    bool flagPrint() const override { return flag(FlagPrint); }
    // Set the imprint field, then write Rect from rect().
    void setLocation(QPointF location) override;
    void setSize(QSizeF size) override;
    // The imprint copy, then a copy of the dictionary as a new object (number 0; its
    // references still resolve through the source document, which the copy holds), the same
    // page and old dictionary; no appearance or cached data.
    std::shared_ptr<KVPDFImprint> copy() const override;

    const std::shared_ptr<KVPDFObjectDictionary> &annotDict() const { return m_annotDict; }
    void setAnnotDict(const std::shared_ptr<KVPDFObjectDictionary> &dictionary) { m_annotDict = dictionary; }
    const std::shared_ptr<KVPDFObjectDictionary> &oldDict() const { return m_oldDict; }
    void setOldDict(const std::shared_ptr<KVPDFObjectDictionary> &dictionary) { m_oldDict = dictionary; }
    const std::shared_ptr<KVPDFObjectDictionary> &appearance() const { return m_appearance; }
    // The default resources (DR) a save writes into the dictionary with the appearance, or
    // nullptr to leave DR as the dictionary holds it.
    virtual std::shared_ptr<KVPDFObjectDictionary> resourcesForWriting() const { return nullptr; }
    void setAppearance(const std::shared_ptr<KVPDFObjectDictionary> &appearance) { m_appearance = appearance; }
    std::shared_ptr<KVPDFPage> page() const { return m_page.lock(); }
    // Only the link: putting the annotation on a page goes through attachToPage().
    void setPage(std::weak_ptr<KVPDFPage> page) { m_page = std::move(page); }
    // The document this annotation holds alive (a copy's source document), or nullptr.
    const std::shared_ptr<KVPDFDocument> &heldDocument() const { return m_heldDocument; }
    // Called by the page the annotation is put on: links it to the page. When the dictionary
    // belongs to another document than the page, it is imported into the page's document
    // first (importInto). Once the dictionary is of the page's document the annotation stops
    // holding a document. Answers the document let go of, for the caller to drop once it is
    // done (it may be the last owner of the page's document).
    [[nodiscard]] std::shared_ptr<KVPDFDocument> attachToPage(KVPDFPage &page);
    // Adds the dictionary to `import` when it belongs to another document than the import's
    // target, and the old dictionary and the replacement appearance with it, and takes the
    // copies in their place (final once the import has finished). The copy of the dictionary
    // also stands for the number it was copied from (originalObjectNumber()), so a pop-up's
    // Parent finds it. False, with nothing changed, when there is nothing to import.
    bool importInto(KVPDFImport &import);
    // Called by the page the annotation is taken off: from then on the annotation holds its
    // dictionary's document itself.
    void detachFromPage();
    // Called by the page that read this pop-up, once for each note or free-text box of the page
    // whose dictionary is the pop-up's Parent. Links the two in memory only (reading writes
    // nothing). Every annotation but a pop-up ignores it.
    virtual void joinParent(const std::shared_ptr<KVPDFAnnotation> &parent) { (void)parent; }
    // The dictionary's object number when it was read (0 for a direct or new dictionary).
    uint64_t originalObjectNumber() const { return m_originalObjectNumber; }
    QByteArray subtype() const;

    // Rect in order: lower-left origin, width and height >= 0. Empty without a dictionary or Rect.
    QRectF dictionaryRect() const;
    // Location and size as a rectangle.
    QRectF rect() const { return QRectF(location(), size()); }

    bool flag(int n) const;
    // Writes F only when flag n changes.
    void setFlag(int n, bool value);
    bool isHidden() const { return flag(FlagHidden); }
    void setFlagPrint(bool print) { setFlag(FlagPrint, print); }

    // The Matrix of the normal appearance (the replacement appearance, else AP; for a
    // dictionary of states the one AS names), or nothing.
    std::optional<QTransform> matrix() const;
    // Drops AP from `entries` (the entries a setter is about to store) and the cached data.
    // Setters call it when they change what the appearance shows.
    void resetAppearance(std::vector<std::pair<QByteArray, KVPDFObjectPtr>> &entries);
    // One-page PDF data drawing the appearance stream AP[key] (for a dictionary of states, the
    // one AS names), the page's MediaBox being the stream's BBox in order; rebuilt the way
    // stored imprints are. Cached (one slot, whatever the key); empty when there is no such
    // stream or it does not parse. Never throws.
    QByteArray pdfDataForAppearance(const QByteArray &key);
    // The objects the annotation dictionary reaches (subobjects of the dictionary).
    std::vector<KVPDFObjectPtr> subobjects(KVPDFVisitedSet &visited);

    // Colours. Gray gives [w], RGB [r g b], CMYK [c m y k]; a QColor of any other model
    // arrives as RGB (see KVColor). An invalid colour gives an empty array.
    static std::shared_ptr<KVPDFObjectArray> arrayFromColor(const KVColor &color);
    // 1 number: gray; 3: RGB; 4 or more: CMYK from the first four; otherwise (no array, 0 or 2
    // numbers) none. Numbers are clamped into 0..1; alpha is 1.
    static std::optional<KVColor> colorFromArray(const KVPDFObjectPtr &array);
    // The colour operator for the colour's array: "G"/"g", "RG"/"rg" or "K"/"k" after the
    // components in array order; empty for an invalid colour.
    static QByteArray stringFromColor(const KVColor &color, bool stroke);
    // The stroke operator, then " " and the fill operator when there is a fill colour.
    static QByteArray stringFromColor(const std::optional<KVColor> &stroke, const std::optional<KVColor> &fill);

    // [x y x+w y+h] as reals.
    static std::shared_ptr<KVPDFObjectArray> arrayForRect(const QRectF &rect);
    // (a b c d tx ty) from the first six numbers of an array; identity when it has fewer.
    static QTransform transformForArray(const KVPDFObjectPtr &array);
    static std::shared_ptr<KVPDFObjectArray> arrayForTransform(const QTransform &transform);

    // A deep copy of the graph below `object`: element 0 is the copy of `object`, the others
    // every object copied below it. Objects reached through references become new objects
    // (number 0, no document); a target reached twice is copied twice. A reference back to an
    // object whose copy is still being made (a cycle, such as P -> page -> Annots -> this
    // annotation) becomes null, so the copy ends and its objects never keep each other alive.
    // Beyond kMaxCopyDepth nested levels, or once kMaxCopies objects were copied, further
    // branches become null too. Both are logged. Raises the engine's failures when an object
    // below does not parse.
    static std::vector<KVPDFObjectPtr> copySubtreeFor(const KVPDFObjectPtr &object);
    // Copies what `object` (a resources dictionary, already a copy) refers to into the page's
    // extra objects, pointing its references at the copies; each target is copied once. A
    // reference back to an object whose copy is being walked (a form among its own resources)
    // becomes null. The copies become new objects (number 0, no document). Raises the engine's
    // failures when an object below does not parse.
    static void copyResourcesFor(const KVPDFObjectPtr &object, KVPDFPage &page);

    static constexpr int kMaxCopyDepth = 200;
    static constexpr size_t kMaxCopies = 100000;

protected:
    // Copies what copy() carries over into `target` (a fresh object of the subclass).
    void copyAnnotationInto(KVPDFAnnotation &target) const;
    // Stores new entries into the dictionary in place, so Annots keeps pointing at it.
    void storeEntries(std::vector<std::pair<QByteArray, KVPDFObjectPtr>> entries);
    std::vector<std::pair<QByteArray, KVPDFObjectPtr>> entries() const;
    // The normal-or-other appearance stream for `key`, or nullptr.
    std::shared_ptr<KVPDFObjectStream> appearanceStream(const QByteArray &key) const;

    // For copy(): an annotation without dictionary or page, filled by copyAnnotationInto.
    KVPDFAnnotation() = default;

private:
    void writeRect();

    std::weak_ptr<KVPDFPage> m_page;
    std::shared_ptr<KVPDFDocument> m_heldDocument;
    std::shared_ptr<KVPDFObjectDictionary> m_annotDict;
    std::shared_ptr<KVPDFObjectDictionary> m_oldDict;
    std::shared_ptr<KVPDFObjectDictionary> m_appearance;
    QByteArray m_appearancePDFData; // published under kvpdf::lazyStateLock(this)
    uint64_t m_originalObjectNumber = 0;
};
