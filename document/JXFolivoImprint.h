#pragma once
// An imprint: an editable object on a page (an image, a text box, a stroke, a note, a field).
// This base class is also the plain image imprint, whose look is the one-page PDF of its engine
// record drawn scaled into its box.
//
// Two halves: the stored form, an engine record (KVPDFImprint, or an annotation) holding the
// one-page PDF, location, size, flatten flag and property dictionary; and the editing state kept
// here: the page, the control points, the colour and the lock. Every edit changes the points or
// a property and then re-renders the record through the installed re-renderer.
//
// Coordinates: control points are page coordinates (points, y upwards, origin at the lower left
// of the page's cropped media box); the record's location is in the engine page's PDF space,
// that is page coordinates plus the cropped media box origin.
//
// Stored properties (the record's dictionary): "controlPoints" (see JXFolivoImprintGeometry),
// "locked" (bool) and "color" (a QColor, which the engine's archive keeps as a tagged colour).
// Subclasses own the other keys; a dictionary with none of the base's keys still makes an
// imprint (points from the record's box, unlocked, no colour).
//
// Construction is two-phase so that a subclass's defaults exist before the record is read:
// construct, then initWith() (which is virtual). imprintWith() does both and picks the class.
//
// Until the imprint kinds of their own are built, the factories make stand-ins that keep their
// record and dictionary untouched, so nothing read from a file is lost: a stored object draws
// its one-page PDF, an annotation its normal appearance, and an annotation's Rect is not
// rewritten by merely reading it.
//
// Ownership: a page owns its imprints (std::shared_ptr); the imprint refers back to its page
// raw (the page outlives every imprint it lists, and an imprint taken off a page has none). The
// imprint owns its engine record (shared with the engine page that lists it); an imprint
// standing for page content has none. Threads: the main thread only.
#include "JXFolivoImprintGeometry.h"

#include <QColor>
#include <QMetaType>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QTransform>
#include <QVariant>
#include <QVariantList>

#include <functional>
#include <memory>
#include <span>
#include <vector>

class JXFolivoPage;
class KVPDFImage;
class KVPDFImprint;
class QPainter;

class JXFolivoImprint : public std::enable_shared_from_this<JXFolivoImprint> {
public:
    JXFolivoImprint();
    virtual ~JXFolivoImprint();
    JXFolivoImprint(const JXFolivoImprint &) = delete;
    JXFolivoImprint &operator=(const JXFolivoImprint &) = delete;

    // --- Making imprints
    // The class that the record's dictionary selects by the first of its keys "link",
    // "annotationText", "widgetButton", "widgetText", "textData", "line", "highlight", "path",
    // "widgetChoice" present (a text field's dictionary also holds "textData", a line's "path");
    // with none of them, a plain image imprint. A class that is not built yet is stood in for by
    // a base imprint that reports that class's name and keeps the whole dictionary.
    static std::shared_ptr<JXFolivoImprint> imprintWith(const std::shared_ptr<KVPDFImprint> &record, JXFolivoPage *page);
    // Reads points, colour and lock from the record (points from its box when the dictionary
    // has no "controlPoints"); re-rendering is held while it runs. Either argument may be null.
    virtual void initWith(const std::shared_ptr<KVPDFImprint> &record, JXFolivoPage *page);
    // Same class, equal points, colour and lock, a copy of the record (its own dictionary and
    // box, sharing the one-page document), and no page until inserted.
    virtual std::shared_ptr<JXFolivoImprint> copy() const;
    // The imprint that stands for an image drawn by the page content (the proxy image kind),
    // boxed by the image's place and size; nullptr for a null image.
    static std::shared_ptr<JXFolivoImprint> imprintWithPDFImage(const std::shared_ptr<KVPDFImage> &image,
                                                                JXFolivoPage *page);
    // The class name the imprint answers to (scripting, form values by class, probes).
    virtual QString className() const { return QStringLiteral("JXFolivoImprint"); }

    // The notification form-field imprints post when their value changes.
    static QString fieldChange();
    // Numbers narrowed to 32-bit floats, as annotation arrays store them; empty for count < 1.
    static QVariantList arrayFromArray(const double *values, int count);
    // `origin` plus the page's cropped media box origin (each narrowed to a 32-bit float):
    // page coordinates to the engine page's PDF space. Unchanged without a page.
    static QPointF computeOriginOffsetWithPage(JXFolivoPage *page, QPointF origin);
    // The rectangle moved back from PDF space to page coordinates, without narrowing.
    static QRectF computeRectOriginOffsetWithinPage(JXFolivoPage *page, const QRectF &rect);
    // White with alpha 0: the colour scripts see for an imprint that has none.
    static const QColor &JXnoColor();

    // --- Record, page and holds
    JXFolivoPage *page() const { return m_page; }
    const std::shared_ptr<KVPDFImprint> &pdfImprint() const { return m_pdfImprint; }
    void setPDFImprint(std::shared_ptr<KVPDFImprint> record) { m_pdfImprint = std::move(record); }
    // The image drawn by the page content this imprint stands for, or nullptr.
    const std::shared_ptr<KVPDFImage> &pdfImage() const { return m_pdfImage; }
    // Sets the page, ends the being-initialised hold and re-renders (through resized()).
    virtual void setPage(JXFolivoPage *page);
    // Sets the page and holds re-rendering until doneInitialization().
    void setPageWithoutRedraw(JXFolivoPage *page);
    bool beingInitialized() const { return m_beingInitialized; }
    void stillBeingInitialized() { m_beingInitialized = true; }
    // Ends the hold and gives the imprint its first rendering.
    void doneInitialization();
    int dragType() const { return m_dragType; }
    // 1 moving, 2 rotating, 3 scaling, 0 when the drag ends; re-rendering waits while not 0.
    void beingDragged(int dragType) { m_dragType = dragType; }
    bool locked() const { return m_locked; }
    void setLocked(bool locked) { m_locked = locked; }
    void setFlatten(bool flatten);
    QPointF computeOriginOffsetWith(QPointF origin) const { return computeOriginOffsetWithPage(m_page, origin); }

    // --- Control points
    int nControlPoints() const { return int(m_controlPoints.size()); }
    // The points, writable in place; valid until the next setControlPoints(). An imprint
    // without points gets four at (0, 0) first.
    std::span<QPointF> controlPoints();
    std::span<const QPointF> controlPoints() const { return m_controlPoints; }
    // Copies the points (none clears them), stores them in the dictionary and sends resized().
    virtual void setControlPoints(const QPointF *points, int count);
    // Writes "controlPoints" into a copy of the record's dictionary, keeping every other entry.
    void pushControlPointsToPDFDictionary();
    QByteArray _controlPointsInPowerPCFormat() const;
    static JXFolivoImprintGeometry::ControlPoints _swizeledControlPoints(const QByteArray &stored);
    static QByteArray _swizeledControlPoints64(std::span<const QPointF> points);

    // --- Overridable behaviour
    virtual QString description() const;
    // -1 (out of reach of the ordinary selection) when the record is flattened, else 0.
    virtual int layer() const;
    // Both go through the installed re-renderer; rerenderInRect() does nothing while the
    // imprint is being initialised or dragged.
    virtual void rerenderInRect(const QRectF &rect);
    virtual void rerender();
    // Brings the record's location and size to the drawn bounds, then re-renders.
    virtual void resized();
    // Settles after an edit: plain images move to whole points, the record's location follows,
    // and the imprint re-renders unless its rendering already has the drawn size.
    virtual void fixTransform();
    virtual bool prefersNotToBeCached() const { return false; }
    // The unrotated box of the record's location and size (PDF space to page coordinates).
    virtual void setBaseControlPointsFromPDFImprint(const std::shared_ptr<KVPDFImprint> &record, JXFolivoPage *page);
    virtual void preRemoveFrom(JXFolivoPage *) { }
    virtual void postAddTo(JXFolivoPage *) { }
    virtual void prepareToSave() { }
    virtual QPainterPath boundsPath() const;
    virtual bool hitTest(QPointF) const { return true; }
    virtual void normalizeRectangle();
    virtual void transform(const QTransform &transform);
    virtual QRectF bounds() const { return drawnBounds(); }
    virtual QRectF drawnBounds() const;
    virtual bool canBeCachedForScreen() const { return true; }
    // `painter` draws in page coordinates (y upwards). Off the screen (a printer or PDF device)
    // only imprints that print are drawn.
    virtual void drawIn(QPainter &painter);
    virtual void draw(QPainter &painter);
    virtual bool canResize() const { return true; }
    virtual float width() const;
    virtual float height() const;
    virtual void setXPosition(float x);
    virtual void setYPosition(float y);
    virtual void setHeight(float height);
    virtual void setWidth(float width);
    // An invalid colour means none. Re-renders unless being initialised.
    virtual void setColor(const QColor &color);
    // Black when none is set.
    virtual QColor color() const;
    // The text search looks in; a null string when the imprint has none.
    virtual QString searchStringRep() const { return {}; }
    // The four component texts of the colour string ("1.00", ...), JXnoColor's when none.
    virtual QStringList colorFromScript() const;
    // Three or four component texts (three are opaque); fewer, or texts that make no colour,
    // change nothing.
    virtual void setColorFromScript(const QStringList &components);

    // Form-field operations; only field kinds answer them (hasName() is true for them).
    virtual bool hasName() const { return false; }
    virtual QString fieldName() const { return {}; }
    virtual void setFieldName(const QString &) { }
    // Takes `value` when `name` is this field's name and the value differs.
    virtual void setFieldName(const QString &, const QVariant &) { }
    virtual void resetForm() { }
    // An invalid QVariant stands for no value.
    virtual QVariant valueOrNil() const { return {}; }
    virtual bool required() const { return false; }

    // --- Printing, scripting, search, order
    bool shouldPrint() const;
    struct SearchHit {
        int location; // UTF-16 index into text
        QString text;
        bool operator==(const SearchHit &) const = default;
    };
    // Every case-insensitive, non-overlapping occurrence of `string` in searchStringRep();
    // none for an empty string or an imprint without text.
    std::vector<SearchHit> search(const QString &string) const;
    QString path() const { return m_filePath; }
    // "" clears; another path is tilde-expanded and taken only when a file exists there.
    void setPath(const QString &path);
    // Reading order of the records' locations: -1 when this one comes first (higher on the
    // page, or level and further left), 1 when `other` does, 0 for equal locations.
    int locationCompare(const JXFolivoImprint &other) const;

    // --- Geometry
    // The box (origin, origin.x, corner.y), corner, (corner.x, origin.y), turned by `rotation`
    // degrees about the origin when it is not 0.
    void setRectControlPointsOrigin(QPointF origin, QPointF corner, float rotation);
    // The box in its own frame (origin at point 0) and, through `angle`, its direction in
    // (0, 360] (360 unrotated); for other than four points the drawn bounds and angle 0.
    virtual QRectF boundsWithRotation(double *angle) const;
    // Scales by `scale` in the imprint's own (rotated) frame about the point `translation`
    // moves to the origin; a dragged imprint on a page reports the whole page changed.
    void scaleAroundTranslation(const QTransform &translation, const QTransform &scale);
    // Drags one handle; a box stays rectangular. An index outside the points does nothing.
    void translateViaControlPoint(int index, QSizeF offset);
    int indexOriginForControlPoint(int index) const;
    QPointF originForControlPoint(int index) const;
    QPointF centerPoint() const;
    // Shrinks (never enlarges) to fit `rect` and centres by whole points, then settles.
    void sizeToFit(const QRectF &rect);
    // Centres on `center`, kept inside `rect`.
    void fixCenterAround(QPointF center, const QRectF &rect);
    float xPosition() const;
    float yPosition() const;

    // --- Re-rendering seam
    // What rerenderInRect() does once the holds pass: turn the imprint into new PDF data on its
    // record and tell the page. Returns the previous one; an empty function renders nothing.
    using Rerenderer = std::function<void(JXFolivoImprint &imprint, const QRectF &rect)>;
    static Rerenderer setRerenderer(Rerenderer rerenderer);

protected:
    // A new, uninitialised object of the receiver's class, for copy().
    virtual std::shared_ptr<JXFolivoImprint> newInstance() const;
    bool isPlainImage() const;
    // Takes the record, page, lock and the box of the record's Rect without writing anything
    // back: for records whose own fields are the saved truth.
    void adoptRecordUntouched(const std::shared_ptr<KVPDFImprint> &record, JXFolivoPage *page);

private:
    JXFolivoPage *m_page = nullptr;
    std::shared_ptr<KVPDFImprint> m_pdfImprint;
    std::shared_ptr<KVPDFImage> m_pdfImage;
    JXFolivoImprintGeometry::ControlPoints m_controlPoints;
    QString m_filePath;
    QColor m_color;
    int m_dragType = 0;
    bool m_beingInitialized = true;
    bool m_locked = false;
};

Q_DECLARE_METATYPE(JXFolivoImprint *)
