#pragma once
// The application's page: one engine page (KVPDFPage), a raw link back to its document, and the
// page's editable objects, its imprints.
//
// The imprint list is built on first use from what the engine page holds: proxies of the
// images the page content draws (in the engine's order), then the objects stored in the page
// content, then the annotations (hidden ones, pop-ups and kinds without an imprint left out).
// While it is built no change is reported. Afterwards it is the one list of record, changed
// only through insertImprint/removeImprint, which keep the engine page's own imprint list in
// step: an imprint with an engine record has it in the engine page's list at the index at
// which it was inserted here.
//
// Ownership: the document owns its pages (std::shared_ptr); a page refers to its document raw
// and never outlives it in use (a page taken out of a document keeps a pointer it must not
// use until it is given a document again). The page owns its imprints and holds its engine
// page. Threads: main thread only; the small page image has a lock of its own (cacheLock).
#include "KVFolivoPreferences.h"

#include <QImage>
#include <QList>
#include <QMetaType>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QTextDocument>
#include <QVariantMap>

#include <memory>
#include <mutex>
#include <vector>

class JXFolivoDocument;
class JXFolivoImprint;
class KVPDFPage;

enum class JXFieldNaming { Keep, RenameIfTaken };

using JXImprintList = std::vector<std::shared_ptr<JXFolivoImprint>>;

class JXFolivoPage : public std::enable_shared_from_this<JXFolivoPage> {
public:
    JXFolivoPage(std::shared_ptr<KVPDFPage> pdfPage, JXFolivoDocument *document);
    ~JXFolivoPage();
    JXFolivoPage(const JXFolivoPage &) = delete;
    JXFolivoPage &operator=(const JXFolivoPage &) = delete;

    // Making pages.
    static std::shared_ptr<JXFolivoPage> pageWith(std::shared_ptr<KVPDFPage> pdfPage, JXFolivoDocument *document);
    // An empty engine page of `rect`'s size whose engine document the document keeps alive
    // (extraDocuments); nullptr when no page could be made.
    static std::shared_ptr<KVPDFPage> blankLowLevelPageWithRect(const QRectF &rect, JXFolivoDocument *document);
    static std::shared_ptr<JXFolivoPage> blankPageWithRect(const QRectF &rect, JXFolivoDocument *document);
    // A page exactly the image's size (at its resolution, 72 ppi without one) showing it.
    static std::shared_ptr<JXFolivoPage> pageWithImageRep(const QImage &image, JXFolivoDocument *document);
    // A page of `pageRect`'s size with the image shrunk to fit (never enlarged) and centred.
    static std::shared_ptr<JXFolivoPage> pageWithImageRep(const QImage &image, JXFolivoDocument *document,
                                                          const QRectF &pageRect);
    static KVFolivoFont defaultFont();
    // The name without its trailing decimal digits, taken off one at a time while at least two
    // characters remain ("Text12" -> "Text", "7" -> "7", "A7" -> "A").
    static QString baseName(const QString &name);

    // A new page over a copy of the engine page, with the same document and applied rotation;
    // its imprint list is built afresh from the copy.
    std::shared_ptr<JXFolivoPage> copy() const;
    // Points the page at another engine page, keeping the imprint list; drops the cached images.
    void resetFromKVPDFpage(std::shared_ptr<KVPDFPage> pdfPage);

    const std::shared_ptr<KVPDFPage> &pdfPage() const { return m_pdfPage; }
    JXFolivoDocument *document() const { return m_document; }
    void setDocument(JXFolivoDocument *document) { m_document = document; }
    void setDrawWithMatch(int drawWithMatch) { m_drawWithMatch = drawWithMatch; }
    int drawWithMatch() const { return m_drawWithMatch; }
    // Turning it off drops the full-size cache.
    void fullyCache(bool on);
    bool isFullyCached() const { return m_fullyCache; }

    // The imprint list.
    // Built on first use.
    const JXImprintList &imprints();
    // Builds only the objects stored in the page content and answers the list as it stands.
    const JXImprintList &contentImprints();
    // The list without building anything (empty when not built).
    const JXImprintList &imprintsAsBuilt() const { return m_imprints; }
    bool hasProcessedImprints() const;
    // Never builds the list.
    bool hasImprints() const;
    // The engine record joins the engine page at the same index; an index past the end
    // appends. With RenameIfTaken, a field whose name the document already uses gets baseName
    // and the first free number. Only a field new to the document (made, pasted or dropped)
    // asks for it: one put back by undo or moved by reordering keeps its name, or radio groups
    // would fall apart.
    void insertImprint(const std::shared_ptr<JXFolivoImprint> &imprint, size_t index,
                       JXFieldNaming naming = JXFieldNaming::Keep);
    // The imprint must be on this page.
    void removeImprint(const std::shared_ptr<JXFolivoImprint> &imprint);
    void removeImprintAtIndex(size_t index);
    void addImprintsFromArray(const JXImprintList &imprints);
    void removeAllImprints();

    // Change reports to the document; dropped while the list is being built.
    void pageChanged();
    void pageChanged(JXFolivoImprint *imprint, const QRectF *rect, const QRectF *prevRect, bool endEditing = false);

    // Layers.
    int minIndexForLayer(int layer);
    int maxIndexForLayer(int layer);
    JXImprintList lockedItemsInLayer(int layer);

    // Form widgets (imprints whose hasName() is true); all answer empty when hasImprints() is
    // false.
    QStringList widgetNames();
    JXImprintList widgetsNamed(const QString &name);
    void setFieldName(const QString &name, const QVariant &value);
    void resetForm();
    // values[class name][field name] = value, "" for none. A button's empty or "Off" value never
    // replaces one already collected under its name (the one button of a group that is on
    // decides the group's value).
    void widgetValuesInto(QVariantMap &values);
    JXImprintList widgetsRequiredAndNotFilledValuesFrom(const QVariantMap &values);
    // For pages pasted into a document whose field names are `namesInUse`: fields whose names
    // are taken get fresh ones; fields that shared a name on this page share the new one.
    void renameFieldsNamedIn(const QStringList &namesInUse);

    // Notes.
    // The page's note imprints sorted by reading order; built on first use, from the list as it
    // stands, and kept until cleared.
    const JXImprintList &orderedNotes();
    void setOrderedNotes(JXImprintList notes);
    void clearOrderedNotes();
    // 1-based; 0 for a note not on the page.
    unsigned noteNumber(const JXFolivoImprint *note);
    // Two columns, number (10 %, right-aligned, 10-point right margin) and contents (90 %).
    std::unique_ptr<QTextDocument> generateNotesTable();

    bool hasImprintOfIdenticalDimensionAs(const JXFolivoImprint *imprint) const;
    QString description() const;

    // Geometry

private:
    void processEmbeddedImages();
    void processContentImprints();
    void processAnnotationImprints();
    QString freeFieldName(const QString &name, const QStringList &taken) const;

    JXFolivoDocument *m_document = nullptr;
    std::shared_ptr<KVPDFPage> m_pdfPage;
    JXImprintList m_imprints;
    bool m_imprintsBuilt = false;
    QImage m_cachedImageRep;
    bool m_duringInitialization = false;
    std::mutex m_cacheLock;
    int m_appliedRotation = 0;
    QImage m_pageCache;
    float m_pageCacheScale = 0;
    bool m_fullyCache = false;
    bool m_processedContentImprints = false;
    bool m_processedAnnotationImprints = false;
    bool m_processedEmbeddedImages = false;
    std::vector<std::pair<const JXFolivoImprint *, QImage>> m_imprintCache;
    JXImprintList m_orderedNotes;
    bool m_orderedNotesBuilt = false;
    int m_drawWithMatch = 0;
    QVariantMap m_imageCache;
    int m_isOCRCandidate = 0;
};

Q_DECLARE_METATYPE(JXFolivoPage *)
