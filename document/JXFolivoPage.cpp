#include "JXFolivoPage.h"

#include "JXFolivoDocument.h"
#include "JXFolivoImport.h"
#include "JXFolivoImprint.h"
#include "KVLog.h"
#include "KVPDFAnnotation.h"
#include "KVPDFAnnotationText.h"
#include "KVPDFAnnotationWidget.h"
#include "KVPDFDocument.h"
#include "KVPDFImage.h"
#include "KVPDFImprint.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFPage.h"

#include <QTextCursor>
#include <QTextTable>

#include <algorithm>
#include <limits>

JXFolivoPage::JXFolivoPage(std::shared_ptr<KVPDFPage> pdfPage, JXFolivoDocument *document)
    : m_document(document), m_pdfPage(std::move(pdfPage))
{
}

JXFolivoPage::~JXFolivoPage()
{
    // Imprints outlive the page when someone else still holds them (undo): they must not
    // point at it. Nothing about them changed, so closing a document re-renders none of them.
    for (const auto &imprint : m_imprints) {
        if (imprint && imprint->page() == this)
            imprint->setPageWithoutRedraw(nullptr);
    }
}

std::shared_ptr<JXFolivoPage> JXFolivoPage::pageWith(std::shared_ptr<KVPDFPage> pdfPage, JXFolivoDocument *document)
{
    if (!pdfPage)
        return nullptr;
    return std::make_shared<JXFolivoPage>(std::move(pdfPage), document);
}

namespace {
// The engine page of a one-page PDF, its document kept alive by the application document.
std::shared_ptr<KVPDFPage> onePage(const QByteArray &data, JXFolivoDocument *document)
{
    if (data.isEmpty())
        return nullptr;
    KVPDFOpenResult result = KVPDFOpenOK;
    std::shared_ptr<KVPDFDocument> pdf = KVPDFDocument::documentWithData(data, &result);
    if (!pdf || result != KVPDFOpenOK || pdf->pageCount() < 1)
        return nullptr;
    if (document)
        document->extraDocuments().push_back(pdf);
    return pdf->pageAtIndex(0);
}

// The image's size in points at its own resolution, 72 ppi when it states none.
QSizeF imageSizeInPoints(const QImage &image)
{
    const double ppiX = image.dotsPerMeterX() * 0.0254;
    const double ppiY = image.dotsPerMeterY() * 0.0254;
    return QSizeF(image.width() * 72.0 / (ppiX >= 1 ? ppiX : jximport::kDefaultImagePPI),
                  image.height() * 72.0 / (ppiY >= 1 ? ppiY : jximport::kDefaultImagePPI));
}
}

std::shared_ptr<KVPDFPage> JXFolivoPage::blankLowLevelPageWithRect(const QRectF &rect, JXFolivoDocument *document)
{
    return onePage(jximport::blankPagePDF(rect.size()), document);
}

std::shared_ptr<JXFolivoPage> JXFolivoPage::blankPageWithRect(const QRectF &rect, JXFolivoDocument *document)
{
    return pageWith(blankLowLevelPageWithRect(rect, document), document);
}

std::shared_ptr<JXFolivoPage> JXFolivoPage::pageWithImageRep(const QImage &image, JXFolivoDocument *document)
{
    if (image.isNull())
        return nullptr;
    const QSizeF size = imageSizeInPoints(image);
    return pageWith(onePage(jximport::pdfFromImage(image, size, QRectF(QPointF(0, 0), size)), document), document);
}

std::shared_ptr<JXFolivoPage> JXFolivoPage::pageWithImageRep(const QImage &image, JXFolivoDocument *document,
                                                             const QRectF &pageRect)
{
    if (image.isNull())
        return nullptr;
    const QRectF drawn = jximport::imageRectOnPage(imageSizeInPoints(image), pageRect);
    return pageWith(onePage(jximport::pdfFromImage(image, pageRect.size(), drawn), document), document);
}

KVFolivoFont JXFolivoPage::defaultFont() { return KVFolivoDefaultFont(); }

QString JXFolivoPage::baseName(const QString &name)
{
    return jximport::baseName(name);
}

std::shared_ptr<JXFolivoPage> JXFolivoPage::copy() const
{
    auto page = std::make_shared<JXFolivoPage>(m_pdfPage ? m_pdfPage->copy() : nullptr, m_document);
    page->m_appliedRotation = m_appliedRotation;
    return page;
}

void JXFolivoPage::resetFromKVPDFpage(std::shared_ptr<KVPDFPage> pdfPage)
{
    m_pdfPage = std::move(pdfPage);
    std::lock_guard<std::mutex> lock(m_cacheLock);
    m_cachedImageRep = QImage();
    m_imprintCache.clear();
    m_pageCache = QImage();
}

void JXFolivoPage::fullyCache(bool on)
{
    m_fullyCache = on;
    if (!on)
        m_pageCache = QImage();
}

// ---- The imprint list --------------------------------------------------------------------

const JXImprintList &JXFolivoPage::imprints()
{
    if (m_processedEmbeddedImages && m_processedContentImprints && m_processedAnnotationImprints)
        return m_imprints;
    const bool wasInitializing = m_duringInitialization;
    m_duringInitialization = true;
    processEmbeddedImages();
    processContentImprints();
    processAnnotationImprints();
    m_duringInitialization = wasInitializing;
    return m_imprints;
}

const JXImprintList &JXFolivoPage::contentImprints()
{
    const bool wasInitializing = m_duringInitialization;
    m_duringInitialization = true;
    processContentImprints();
    m_duringInitialization = wasInitializing;
    return m_imprints;
}

bool JXFolivoPage::hasProcessedImprints() const
{
    return m_processedEmbeddedImages || m_processedContentImprints || m_processedAnnotationImprints;
}

bool JXFolivoPage::hasImprints() const
{
    if (m_imprintsBuilt && m_processedContentImprints && m_processedAnnotationImprints)
        return !m_imprints.empty();
    return m_pdfPage && !m_pdfPage->imprints().empty();
}

void JXFolivoPage::processEmbeddedImages()
{
    if (m_processedEmbeddedImages)
        return;
    m_processedEmbeddedImages = true;
    m_imprintsBuilt = true;
    if (!m_pdfPage)
        return;
    m_pdfPage->parseContent();
    const auto &images = m_pdfPage->images();
    // Taken in reverse, each put first: the proxies end up at the front in the engine's order.
    for (auto it = images.rbegin(); it != images.rend(); ++it) {
        if (!*it || (*it)->hasBeenBlankedOut())
            continue;
        if (auto proxy = JXFolivoImprint::imprintWithPDFImage(*it, this))
            m_imprints.insert(m_imprints.begin(), proxy);
    }
}

void JXFolivoPage::processContentImprints()
{
    if (m_processedContentImprints)
        return;
    m_processedContentImprints = true;
    m_imprintsBuilt = true;
    if (!m_pdfPage)
        return;
    for (const auto &record : m_pdfPage->contentImprints()) {
        if (auto imprint = JXFolivoImprint::imprintWith(record, this))
            m_imprints.push_back(imprint);
    }
}

namespace {
// The imprint of an engine annotation, by its kind; nullptr for the kinds that get none. Kinds
// whose imprint class is not built yet get the base, which draws the annotation's appearance.
std::shared_ptr<JXFolivoImprint> imprintForAnnotation(const std::shared_ptr<KVPDFAnnotation> &annotation,
                                                      JXFolivoPage *page)
{
    int type = annotation->annotationType();
    // Kinds the engine has no class for come as its base annotation: their subtype tells them.
    if (type == KVPDFAnnotation::AnnotationBase && annotation->annotDict()) {
        static const QHash<QByteArray, int> withoutClass = {
            {"Widget", KVPDFAnnotation::AnnotationWidget}, {"FileAttachment", 14}, {"Sound", 15},
            {"Movie", 16},                                 {"Screen", 18},         {"PrinterMark", 19},
        };
        type = withoutClass.value(annotation->annotDict()->nameForKey("Subtype"), type);
    }
    switch (type) {
    case KVPDFAnnotation::AnnotationText:
    case KVPDFAnnotation::AnnotationLink:
    case KVPDFAnnotation::AnnotationFreeText:
    case KVPDFAnnotation::AnnotationLine:
    case KVPDFAnnotation::AnnotationSquare:
    case KVPDFAnnotation::AnnotationCircle:
    case KVPDFAnnotation::AnnotationHighlight:
    case KVPDFAnnotation::AnnotationUnderline:
    case KVPDFAnnotation::AnnotationSquiggly:
    case KVPDFAnnotation::AnnotationStrikeOut:
    case KVPDFAnnotation::AnnotationStamp:
    case KVPDFAnnotation::AnnotationInk:
    case KVPDFAnnotation::AnnotationPolygon:
        return JXFolivoImprint::imprintWith(annotation, page);
    case KVPDFAnnotation::AnnotationPopup:
    case 14:
    case 15:
    case 16:
    case 18:
    case 19:
        return nullptr;
    case KVPDFAnnotation::AnnotationWidget:
        switch (annotation->widgetType()) {
        case KVPDFAnnotationWidget::WidgetText:
        case KVPDFAnnotationWidget::WidgetButton:
        case KVPDFAnnotationWidget::WidgetChoice:
            return JXFolivoImprint::imprintWith(annotation, page);
        default:
            // A signature field has no widget class of its own in the engine: its type is read
            // from the field dictionary.
            if (auto widget = std::dynamic_pointer_cast<KVPDFAnnotationWidget>(annotation);
                (widget ? widget->fieldType() : KVPDFAnnotationWidget::fieldTypeFor(annotation->annotDict())) == "Sig")
                kvLog(QStringLiteral("KVPDFAnnotationWidgetTypeSignature not implemented"));
            return nullptr;
        }
    default:
        kvLog(QStringLiteral("Unknown annotation type"));
        return nullptr;
    }
}
}

void JXFolivoPage::processAnnotationImprints()
{
    if (m_processedAnnotationImprints)
        return;
    m_processedAnnotationImprints = true;
    m_imprintsBuilt = true;
    if (!m_pdfPage)
        return;
    for (const auto &annotation : m_pdfPage->annotationImprints()) {
        if (!annotation || annotation->isHidden())
            continue;
        if (auto imprint = imprintForAnnotation(annotation, this))
            m_imprints.push_back(imprint);
    }
}

QString JXFolivoPage::freeFieldName(const QString &name, const QStringList &taken) const
{
    if (!taken.contains(name))
        return name;
    const QString base = baseName(name);
    for (qint64 n = 1;; ++n) {
        const QString candidate = base + QString::number(n);
        if (!taken.contains(candidate))
            return candidate;
    }
}

void JXFolivoPage::insertImprint(const std::shared_ptr<JXFolivoImprint> &imprint, size_t index, JXFieldNaming naming)
{
    if (!imprint)
        return;
    imprints();
    if (naming == JXFieldNaming::RenameIfTaken && imprint->hasName()) {
        const QStringList taken = m_document ? m_document->widgetNames() : widgetNames();
        const QString name = imprint->fieldName();
        const QString free = freeFieldName(name, taken);
        if (free != name)
            imprint->setFieldName(free);
    }
    index = std::min(index, m_imprints.size());
    m_imprints.insert(m_imprints.begin() + qsizetype(index), imprint);
    imprint->setPage(this);
    if (imprint->pdfImprint() && m_pdfPage)
        m_pdfPage->insertImprint(imprint->pdfImprint(), index);
    imprint->postAddTo(this);
    const QRectF bounds = imprint->bounds();
    pageChanged(imprint.get(), &bounds, &bounds);
}

void JXFolivoPage::removeImprint(const std::shared_ptr<JXFolivoImprint> &imprint)
{
    auto it = std::find(m_imprints.begin(), m_imprints.end(), imprint);
    if (!imprint || it == m_imprints.end())
        return;
    // Held here until the end: undo may put it back, and its hooks still need it.
    std::shared_ptr<JXFolivoImprint> kept = imprint;
    kept->preRemoveFrom(this);
    it = std::find(m_imprints.begin(), m_imprints.end(), kept);
    if (it != m_imprints.end())
        m_imprints.erase(it);
    if (kept->pdfImprint() && m_pdfPage)
        m_pdfPage->removeImprint(kept->pdfImprint());
    kept->setPage(nullptr);
    const QRectF bounds = kept->bounds();
    pageChanged(kept.get(), &bounds, &bounds);
}

void JXFolivoPage::removeImprintAtIndex(size_t index)
{
    if (index < m_imprints.size())
        removeImprint(std::shared_ptr<JXFolivoImprint>(m_imprints[index]));
}

void JXFolivoPage::addImprintsFromArray(const JXImprintList &imprints)
{
    for (const auto &imprint : imprints)
        insertImprint(imprint, m_imprints.size());
}

void JXFolivoPage::removeAllImprints()
{
    while (!m_imprints.empty())
        removeImprintAtIndex(m_imprints.size() - 1);
}

// ---- Change reports ------------------------------------------------------------------------

void JXFolivoPage::pageChanged()
{
    if (m_duringInitialization)
        return;
    {
        std::lock_guard<std::mutex> lock(m_cacheLock);
        m_cachedImageRep = QImage();
    }
    if (m_document)
        m_document->pageChanged(this, nullptr, nullptr, nullptr, false);
}

void JXFolivoPage::pageChanged(JXFolivoImprint *imprint, const QRectF *rect, const QRectF *prevRect, bool endEditing)
{
    if (m_duringInitialization)
        return;
    std::erase_if(m_imprintCache, [imprint](const auto &entry) { return entry.first == imprint; });
    {
        std::lock_guard<std::mutex> lock(m_cacheLock);
        m_cachedImageRep = QImage();
    }
    if (m_document)
        m_document->pageChanged(this, imprint, rect, prevRect, endEditing);
}

// ---- Layers ------------------------------------------------------------------------------------

int JXFolivoPage::minIndexForLayer(int layer)
{
    const JXImprintList &list = imprints();
    if (list.empty())
        return 0;
    for (size_t i = 0; i < list.size(); ++i) {
        if (list[i]->layer() == layer)
            return int(i);
    }
    return layer <= 0 ? 0 : maxIndexForLayer(layer - 1);
}

int JXFolivoPage::maxIndexForLayer(int layer)
{
    const JXImprintList &list = imprints();
    if (list.empty())
        return 0;
    // Down through the layers below until one has imprints, jumping straight to the next layer
    // in use: a huge layer number costs no more than a small one.
    for (int current = layer;;) {
        for (size_t i = list.size(); i-- > 0;) {
            if (list[i]->layer() == current)
                return int(i);
        }
        if (current <= 0)
            return -1;
        int next = -1;
        for (const auto &imprint : list) {
            if (imprint->layer() < current)
                next = std::max(next, imprint->layer());
        }
        if (next < 0)
            return -1;
        current = next;
    }
}

JXImprintList JXFolivoPage::lockedItemsInLayer(int layer)
{
    JXImprintList locked;
    for (const auto &imprint : imprints()) {
        if (imprint->layer() == layer && imprint->locked())
            locked.push_back(imprint);
    }
    return locked;
}

// ---- Form widgets --------------------------------------------------------------------------

QStringList JXFolivoPage::widgetNames()
{
    QStringList names;
    if (!hasImprints())
        return names;
    for (const auto &imprint : imprints()) {
        if (imprint->hasName())
            names.push_back(imprint->fieldName());
    }
    return names;
}

JXImprintList JXFolivoPage::widgetsNamed(const QString &name)
{
    JXImprintList named;
    if (!hasImprints())
        return named;
    for (const auto &imprint : imprints()) {
        if (imprint->hasName() && imprint->fieldName() == name)
            named.push_back(imprint);
    }
    return named;
}

void JXFolivoPage::setFieldName(const QString &name, const QVariant &value)
{
    if (!hasImprints())
        return;
    // A field taking the value may post again and so reach this page once more: work on a
    // snapshot of the list.
    const JXImprintList list = imprints();
    for (const auto &imprint : list)
        imprint->setFieldName(name, value);
}

void JXFolivoPage::resetForm()
{
    if (!hasImprints())
        return;
    const JXImprintList list = imprints();
    for (const auto &imprint : list)
        imprint->resetForm();
}

namespace {
bool isButtonField(const JXFolivoImprint &imprint)
{
    auto annotation = std::dynamic_pointer_cast<KVPDFAnnotation>(imprint.pdfImprint());
    return annotation && annotation->annotationType() == KVPDFAnnotation::AnnotationWidget
           && annotation->widgetType() == KVPDFAnnotationWidget::WidgetButton;
}
}

void JXFolivoPage::widgetValuesInto(QVariantMap &values)
{
    if (!hasImprints())
        return;
    for (const auto &imprint : imprints()) {
        if (!imprint->hasName())
            continue;
        const QString className = imprint->className();
        const QString name = imprint->fieldName();
        const QVariant found = imprint->valueOrNil();
        const QVariant value = found.isValid() ? found : QVariant(QString());
        QVariantMap byName = values.value(className).toMap();
        if (isButtonField(*imprint) && byName.contains(name)) {
            const QString text = value.toString();
            if (text.isEmpty() || text == QLatin1String("Off"))
                continue;
        }
        byName.insert(name, value);
        values.insert(className, byName);
    }
}

JXImprintList JXFolivoPage::widgetsRequiredAndNotFilledValuesFrom(const QVariantMap &values)
{
    JXImprintList missing;
    if (!hasImprints())
        return missing;
    for (const auto &imprint : imprints()) {
        if (!imprint->required())
            continue;
        const QVariantMap byName = values.value(imprint->className()).toMap();
        const auto it = byName.constFind(imprint->fieldName());
        if (it == byName.constEnd() || it->toString().isEmpty())
            missing.push_back(imprint);
    }
    return missing;
}

void JXFolivoPage::renameFieldsNamedIn(const QStringList &namesInUse)
{
    QStringList taken = namesInUse;
    QHash<QString, QString> renamed;
    for (const auto &imprint : imprints()) {
        if (!imprint->hasName())
            continue;
        const QString name = imprint->fieldName();
        if (const auto it = renamed.constFind(name); it != renamed.constEnd()) {
            if (*it != name)
                imprint->setFieldName(*it);
            continue;
        }
        const QString fresh = freeFieldName(name, taken);
        renamed.insert(name, fresh);
        if (fresh != name) {
            taken.push_back(fresh);
            imprint->setFieldName(fresh);
        }
    }
}

// ---- Notes -------------------------------------------------------------------------------------

namespace {
bool isNote(const JXFolivoImprint &imprint)
{
    return imprint.className() == QLatin1String("JXFolivoAnnotationText")
           || std::dynamic_pointer_cast<KVPDFAnnotationText>(imprint.pdfImprint()) != nullptr;
}
}

const JXImprintList &JXFolivoPage::orderedNotes()
{
    if (m_orderedNotesBuilt)
        return m_orderedNotes;
    m_orderedNotes.clear();
    for (const auto &imprint : m_imprints) {
        if (imprint && isNote(*imprint))
            m_orderedNotes.push_back(imprint);
    }
    std::stable_sort(m_orderedNotes.begin(), m_orderedNotes.end(),
                     [](const auto &a, const auto &b) { return a->locationCompare(*b) < 0; });
    m_orderedNotesBuilt = true;
    return m_orderedNotes;
}

void JXFolivoPage::setOrderedNotes(JXImprintList notes)
{
    m_orderedNotes = std::move(notes);
    m_orderedNotesBuilt = true;
}

void JXFolivoPage::clearOrderedNotes()
{
    m_orderedNotes.clear();
    m_orderedNotesBuilt = false;
}

unsigned JXFolivoPage::noteNumber(const JXFolivoImprint *note)
{
    const JXImprintList &notes = orderedNotes();
    for (size_t i = 0; i < notes.size(); ++i) {
        if (notes[i].get() == note)
            return unsigned(i + 1);
    }
    return 0;
}

std::unique_ptr<QTextDocument> JXFolivoPage::generateNotesTable()
{
    auto table = std::make_unique<QTextDocument>();
    const JXImprintList &notes = orderedNotes();
    if (notes.empty())
        return table;
    QTextCursor cursor(table.get());
    QTextTableFormat format;
    format.setColumnWidthConstraints(
        {QTextLength(QTextLength::PercentageLength, 10), QTextLength(QTextLength::PercentageLength, 90)});
    format.setBorder(0);
    format.setCellPadding(0);
    format.setWidth(QTextLength(QTextLength::PercentageLength, 100));
    QTextTable *textTable = cursor.insertTable(int(notes.size()), 2, format);
    for (size_t n = 0; n < notes.size(); ++n) {
        QString contents;
        if (auto note = std::dynamic_pointer_cast<KVPDFAnnotationText>(notes[n]->pdfImprint()))
            contents = note->contents();
        QTextCursor numberCell = textTable->cellAt(int(n), 0).firstCursorPosition();
        QTextBlockFormat numberBlock;
        numberBlock.setAlignment(Qt::AlignRight);
        numberBlock.setRightMargin(10);
        numberCell.setBlockFormat(numberBlock);
        numberCell.insertText(QString::asprintf("%d\n", int(n + 1)));
        QTextCursor noteCell = textTable->cellAt(int(n), 1).firstCursorPosition();
        QTextBlockFormat noteBlock;
        noteBlock.setAlignment(Qt::AlignLeft);
        noteCell.setBlockFormat(noteBlock);
        noteCell.insertText(contents + QLatin1Char('\n'));
    }
    return table;
}

bool JXFolivoPage::hasImprintOfIdenticalDimensionAs(const JXFolivoImprint *imprint) const
{
    if (!imprint || !m_imprintsBuilt)
        return false;
    double angle = 0;
    const QRectF box = imprint->boundsWithRotation(&angle);
    // A proxy of page content counts as a plain image imprint.
    auto kind = [](const JXFolivoImprint &i) {
        const QString name = i.className();
        return name == QLatin1String("JXFolivoProxyImageImprint") ? QStringLiteral("JXFolivoImprint") : name;
    };
    for (const auto &other : m_imprints) {
        if (!other || other.get() == imprint || kind(*other) != kind(*imprint))
            continue;
        double otherAngle = 0;
        const QRectF otherBox = other->boundsWithRotation(&otherAngle);
        if (otherAngle == angle && otherBox == box)
            return true;
    }
    return false;
}

QString JXFolivoPage::description() const
{
    const long index = m_document ? m_document->indexOfPage(this) : -1;
    const QRectF box = m_pdfPage ? m_pdfPage->croppedMediaBox() : QRectF();
    QString text = QString::asprintf("[JXFolivoPage]#%d (0x%llx)[document 0x%llx [pdfPage 0x%llx] bounds %.1f %.1f %.1f %.1f",
                                     int(index), (unsigned long long)quintptr(this),
                                     (unsigned long long)quintptr(m_document),
                                     (unsigned long long)quintptr(m_pdfPage.get()), box.x(), box.y(), box.width(),
                                     box.height());
    for (const auto &imprint : m_imprints)
        text += QStringLiteral("\n\t") + imprint->description();
    return text;
}
