#pragma once
// An editable object on a page: an image, a text box, a stroke, an annotation or a form field.
// Each imprint pairs an engine record (KVPDFImprint, or an engine annotation deriving from it),
// which holds the stored form (a one-page PDF, place, size, flatten flag, property dictionary),
// with the editing state held here (the page that shows it, whether it is locked).
//
// This class is the base of every imprint kind and itself the plain image imprint. Until the
// imprint kinds of their own are built, every kind the factories meet falls back to it and
// keeps its record and dictionary untouched, so nothing read from a file is lost: a stored
// object draws its one-page PDF, an annotation draws its normal appearance.
//
// Ownership: a page owns its imprints (std::shared_ptr); the imprint refers back to its page
// raw (the page outlives every imprint it lists, and an imprint taken off a page has none).
// The imprint owns its engine record; an imprint standing for page content has none.
// Threads: main thread only.
#include <QMetaType>
#include <QRectF>
#include <QString>
#include <QVariant>

#include <memory>

class JXFolivoPage;
class KVPDFImage;
class KVPDFImprint;
class QPainter;

class JXFolivoImprint : public std::enable_shared_from_this<JXFolivoImprint> {
public:
    // `record` may be null (an imprint that stands for page content); `page` may be null.
    JXFolivoImprint(std::shared_ptr<KVPDFImprint> record, JXFolivoPage *page);
    virtual ~JXFolivoImprint();
    JXFolivoImprint(const JXFolivoImprint &) = delete;
    JXFolivoImprint &operator=(const JXFolivoImprint &) = delete;

    // The imprint of the class the record's property dictionary selects; the base when no kind
    // of its own is built for it. Never null for a non-null record.
    static std::shared_ptr<JXFolivoImprint> imprintWith(const std::shared_ptr<KVPDFImprint> &record,
                                                        JXFolivoPage *page);
    // The imprint that stands for an image drawn by the page content (the proxy image kind);
    // nullptr for a null image.
    static std::shared_ptr<JXFolivoImprint> imprintWithPDFImage(const std::shared_ptr<KVPDFImage> &image,
                                                                JXFolivoPage *page);
    // The notification a form field posts when its value changes: "FolivoFieldChanged".
    static QString fieldChange();

    // The class name the imprint answers to (scripting, form values by class, probes).
    virtual QString className() const { return QStringLiteral("JXFolivoImprint"); }
    virtual QString description() const;

    JXFolivoPage *page() const { return m_page; }
    virtual void setPage(JXFolivoPage *page);
    const std::shared_ptr<KVPDFImprint> &pdfImprint() const { return m_pdfImprint; }
    void setPDFImprint(std::shared_ptr<KVPDFImprint> record);
    // The image drawn by the page content this imprint stands for, or nullptr.
    const std::shared_ptr<KVPDFImage> &pdfImage() const { return m_pdfImage; }

    bool locked() const { return m_locked; }
    void setLocked(bool locked) { m_locked = locked; }
    // -1 for a flattened record, else 0.
    virtual int layer() const;

    // Page coordinates.
    virtual QRectF bounds() const;
    // The box and its rotation in degrees; without a rotation of its own the angle is 0.
    virtual QRectF boundsWithRotation(double *angle) const;
    // -1 when this one comes first in reading order (greater y, then smaller x), 1 when the
    // other does, 0 for the same location.
    int locationCompare(const JXFolivoImprint &other) const;

    // Hooks the page calls around insertion and removal, and the document before a save.
    virtual void postAddTo(JXFolivoPage *page);
    virtual void preRemoveFrom(JXFolivoPage *page);
    virtual void prepareToSave();

    // Draws into `painter`, whose coordinates are page coordinates (y up, as the page's PDF
    // space less the cropped media box origin).
    virtual void draw(QPainter &painter);

    // Form-field operations; only field kinds answer them (hasName() is true for them).
    virtual bool hasName() const { return false; }
    virtual QString fieldName() const { return {}; }
    virtual void setFieldName(const QString &name);
    // Takes `value` when `name` is this field's name and the value differs.
    virtual void setFieldName(const QString &name, const QVariant &value);
    virtual void resetForm();
    // An invalid QVariant stands for no value.
    virtual QVariant valueOrNil() const { return {}; }
    virtual bool required() const { return false; }

protected:
    JXFolivoPage *m_page = nullptr;
    std::shared_ptr<KVPDFImprint> m_pdfImprint;
    std::shared_ptr<KVPDFImage> m_pdfImage;
    bool m_locked = false;
};

Q_DECLARE_METATYPE(JXFolivoImprint *)
