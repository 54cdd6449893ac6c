// The document's geometry: its bounds and spreads, the print paper new pages take, the
// full-size caching passes, the window's first placement and the reduction of large scans.
#include "JXFolivoDocument.h"

#include "JXFolivoImprint.h"
#include "JXFolivoPage.h"
#include "KVDefaults.h"
#include "KVLog.h"
#include "KVPDFBaseline.h"
#include "KVPDFDocument.h"
#include "KVPDFImage.h"
#include "KVPDFImager.h"
#include "KVPDFPage.h"

#include <QPainter>

namespace {

// The one stand-in for an image the page content draws: no stored record of its own.
bool isProxyImage(const JXFolivoImprint &imprint) { return imprint.pdfImage() && !imprint.pdfImprint(); }

// The image drawn alone at its own pixel size, through the installed imager pool, onto the
// new page: a scan keeps every pixel it had.
std::shared_ptr<JXFolivoPage> pageFromScannedImage(JXFolivoDocument &document, JXFolivoImprint &imprint,
                                                   const QRectF &pageRect)
{
    const std::shared_ptr<KVPDFImage> &image = imprint.pdfImage();
    if (!image || image->width() <= 0 || image->height() <= 0)
        return nullptr;
    std::shared_ptr<KVPDFImager> imager = KVPDFImager::pooledPDFImagerForData(image->pdfData());
    if (!imager)
        return nullptr;
    QImage picture(int(image->pixelWidth()), int(image->pixelHeight()), QImage::Format_RGB32);
    if (picture.isNull()) {
        imager->returnToPool();
        return nullptr;
    }
    constexpr double kDotsPerMeterAt72 = 72 / 0.0254;
    picture.setDotsPerMeterX(qRound(kDotsPerMeterAt72));
    picture.setDotsPerMeterY(qRound(kDotsPerMeterAt72));
    picture.fill(Qt::white);
    {
        QPainter painter(&picture);
        painter.scale(picture.width() / double(image->width()), picture.height() / double(image->height()));
        imager->drawPage(0, 0, painter);
    }
    imager->returnToPool();
    return JXFolivoPage::pageWithImageRep(picture, &document, pageRect);
}

// A page as the scan reduction sees it.
class ScanPageOf : public JXFolivoGeometry::ScanPage {
public:
    explicit ScanPageOf(JXFolivoPage &page) : m_page(page) { }

    bool hasTextLines() override
    {
        const std::shared_ptr<KVPDFPage> &pdfPage = m_page.pdfPage();
        if (!pdfPage)
            return false;
        pdfPage->prepareForSelection();
        return !pdfPage->baselines().empty();
    }
    int64_t imprintCount() override
    {
        if (m_page.pdfPage())
            m_page.pdfPage()->processAnnotations();
        return int64_t(m_page.imprints().size());
    }
    std::optional<QSizeF> soleProxyImagePixelSize() override
    {
        const JXImprintList &list = m_page.imprints();
        if (list.size() != 1 || !isProxyImage(*list.front()))
            return std::nullopt;
        const KVPDFImage &image = *list.front()->pdfImage();
        return QSizeF(image.pixelWidth(), image.pixelHeight());
    }
    QSizeF mediaBoxSize() override { return m_page.pdfPage() ? m_page.pdfPage()->mediaBox().size() : QSizeF(); }

private:
    JXFolivoPage &m_page;
};

} // namespace

// ---- Bounds ----------------------------------------------------------------------------------

QRectF JXFolivoDocument::bounds()
{
    if (!m_computedDocumentBounds) {
        std::vector<QRectF> pageBounds;
        pageBounds.reserve(m_pages.size() + 1);
        pageBounds.push_back(m_documentBounds);
        for (const auto &page : m_pages)
            pageBounds.push_back(page->bounds());
        m_documentBounds = JXFolivoGeometry::documentBounds(pageBounds);
        m_computedDocumentBounds = true;
    }
    return m_documentBounds;
}

QRectF JXFolivoDocument::boundsOfPage(long index)
{
    if (index >= 0 && size_t(index) < m_pages.size())
        return m_pages[size_t(index)]->bounds();
    return defaultPageSizeForCreation();
}

KVPDFPaper JXFolivoDocument::printPaper() const
{
    if (m_printPaper)
        return *m_printPaper;
    const std::shared_ptr<const KVPDFServices> services = KVPDFServices::installed();
    return services ? services->defaultPaper : KVPDFPaper();
}

QRectF JXFolivoDocument::defaultPageSizeForCreation() const
{
    const KVPDFPaper paper = printPaper();
    return JXFolivoGeometry::defaultPageSizeForCreation(paper.size, paper.landscape);
}

int JXFolivoDocument::defaultPageRotationWhenNone() const
{
    return JXFolivoGeometry::defaultPageRotationWhenNone(printPaper().landscape);
}

QRectF JXFolivoDocument::boundsOfFacingPage(long index, bool facingPageOne)
{
    return JXFolivoGeometry::facingSpreadBounds(
        index, facingPageOne, int64_t(m_pages.size()), [this](int64_t i) { return boundsOfPage(long(i)); },
        defaultPageSizeForCreation());
}

// ---- Full-size caching passes ----------------------------------------------------------------

void JXFolivoDocument::beginFullyCachePages() { m_fullyCachedPages.begin(); }

void JXFolivoDocument::fullyCachePage(long index)
{
    if (m_fullyCachedPages.add(index, int64_t(m_pages.size())))
        m_pages[size_t(index)]->fullyCache(true);
}

void JXFolivoDocument::endFullyCachePages()
{
    for (int64_t index : m_fullyCachedPages.end(int64_t(m_pages.size())))
        m_pages[size_t(index)]->fullyCache(false);
}

// ---- The window ------------------------------------------------------------------------------

JXFolivoGeometry::WindowPlacement JXFolivoDocument::windowPlacement(const QRectF &mainScreenVisible,
                                                                    const QRectF &windowScreenVisible,
                                                                    const QSizeF &savedContentSize,
                                                                    const KVDefaults &defaults)
{
    JXFolivoGeometry::WindowPlacementInput input;
    input.mainScreenVisible = mainScreenVisible;
    input.windowScreenVisible = windowScreenVisible;
    input.hasPages = !m_pages.empty();
    if (input.hasPages)
        input.documentSize = bounds().size();
    input.fillScreenHeight = defaults.integerForKey(QStringLiteral("windowHeight")) == 1;
    input.savedContentSize = savedContentSize;
    return JXFolivoGeometry::windowPlacement(input);
}

// ---- Scan reduction --------------------------------------------------------------------------

void JXFolivoDocument::diminishLargeScan(QSizeF size)
{
    if (const std::optional<QSizeF> target = JXFolivoGeometry::scanTargetSize(size))
        reduceScanIfNeeded(*target);
}

void JXFolivoDocument::reduceScanIfNeeded(QSizeF target)
{
    std::vector<ScanPageOf> views;
    views.reserve(m_pages.size());
    for (const auto &page : m_pages)
        views.emplace_back(*page);
    std::vector<JXFolivoGeometry::ScanPage *> walk;
    for (ScanPageOf &view : views)
        walk.push_back(&view);

    const QRectF pageRect(QPointF(0, 0), target);
    std::vector<std::shared_ptr<JXFolivoPage>> replaced;
    for (const JXFolivoGeometry::ScanReduction &reduction : JXFolivoGeometry::scanPagesToReduce(walk)) {
        JXFolivoPage &page = *m_pages[size_t(reduction.pageIndex)];
        kvLog(QStringLiteral("Reducing 72dpi image page: %1, (%2,%3)")
                  .arg(reduction.pageIndex)
                  .arg(int64_t(reduction.pixelSize.width()))
                  .arg(int64_t(reduction.pixelSize.height())));
        JXFolivoImprint &image = *page.imprints().front();
        std::shared_ptr<JXFolivoPage> smaller =
            m_scanPageMaker ? m_scanPageMaker(*this, image, pageRect) : pageFromScannedImage(*this, image, pageRect);
        // Without a page to put in its place the scan stays: a null page would lose it.
        if (!smaller)
            continue;
        if (replaced.empty())
            replaced = m_pages;
        replaced[size_t(reduction.pageIndex)] = std::move(smaller);
    }
    if (replaced.empty())
        return;
    setPages(std::move(replaced));
    m_computedDocumentBounds = false;
    m_documentBounds = QRectF();
}
