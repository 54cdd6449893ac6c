#pragma once
// The geometry of the application document and its pages, as plain functions of plain values:
// page rectangles from the engine page's boxes, turning a page by quarter turns and the
// transforms between a page's turned view and its own unturned space, the document's bounds
// and facing spreads, the document window's placement and zoomed frame against a given
// screen, the full-size caching passes and the reduction of large 72-pixel-per-inch scans.
// JXFolivoDocument and JXFolivoPage answer through these; display/ applies the window sizes.
//
// Coordinates. Page rectangles are in points, y up, with the visible area of the page (its
// media box cut to its crop box) starting at (0, 0). Screen and window rectangles are in Qt's
// screen coordinates, y down. Transforms are QTransforms read in the order points go through
// them: `a * b` applies a first, then b.
//
// Rotation. A page's rotation is its Rotate value, clockwise: 0, 90, 180 or 270. A file whose
// Rotate is not a quarter turn (45, say) is drawn unturned by every reader we compare with and
// is not valid PDF, so it counts as 0 here; the value in the file is left alone until the page
// is turned. A turn (`turnTransform`) is counterclockwise as the user sees it.
//
// Bad input. Nothing here throws. Empty or degenerate sizes give empty results rather than
// infinities: the window keeps its unscaled size when the document has no height, and a crop
// box that misses the media box altogether leaves the media box, as the engine does.
//
// Threads: pure functions, safe anywhere; JXFolivoCachePasses is one thread's.
#include <QMarginsF>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QTransform>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class KVPDFPage;

namespace JXFolivoGeometry {

// ---- Page boxes ------------------------------------------------------------------------------

// What a page's geometry is made from, read once from the engine page.
struct PageBoxes {
    QRectF mediaBox;
    std::optional<QRectF> cropBox;
    QRectF croppedMediaBox; // the engine's: media box cut to the crop box, turned for 90 and 270
    int rotation = 0;       // 0, 90, 180 or 270
};
PageBoxes pageBoxes(KVPDFPage &page);

// A quarter-turn rotation stays; anything else (absent, 45, ...) is 0.
int pageRotation(std::optional<int> rotate);
bool isQuarterTurn(int degrees);
bool swapsSides(int rotation); // 90 and 270

// The media box cut to the crop box (the media box alone without a crop box, or when the two
// do not overlap), moved to (0, 0).
QRectF boundsWithoutRotation(const PageBoxes &boxes);
// The same, width and height exchanged for 90 and 270.
QRectF bounds(const PageBoxes &boxes);
// The crop box's origin when the page has one, else the cropped media box's; x and y exchanged
// for 90 and 270. Added to view positions to reach the engine's text coordinates.
QPointF pageOriginOffset(const PageBoxes &boxes);
// As pageOriginOffset, but the crop box's origin only when the media box holds the whole crop
// box: a crop box reaching outside falls back to the cropped media box's origin.
QPointF quadPointsOriginOffset(const PageBoxes &boxes);

// ---- Turning a page --------------------------------------------------------------------------

// The turn that brings a page at `current` to `wanted`, for setRotation: none when `wanted` is
// not 0, 90, 180 or 270, or already is the rotation; else (current - wanted) mod 360 in 0..359.
std::optional<int> turnForRotation(int current, int wanted);
// The rotation after a counterclockwise turn by `degrees` (a Rotate is clockwise, so the turn
// subtracts), in 0..359.
int rotationAfterTurn(int rotation, int degrees);
// What a page's objects go through when it turns by `degrees` from a page of size `before` to
// one of size `after`: a turn about the old page's centre, then a shift that puts that centre
// on the new page's centre.
QTransform turnTransform(QSizeF before, QSizeF after, int degrees);

// ---- Between the turned view and the unturned page -------------------------------------------

// For drawing the unturned page into the turned view of size `bounds`: none for rotation 0.
std::optional<QTransform> pageTransform(int rotation, QSizeF bounds);
// From the turned view (size `bounds`) to the unturned page; identity for rotation 0.
QTransform turnedViewToPage(int rotation, QSizeF bounds);
// From the unturned page to the turned view; the inverse of turnedViewToPage.
QTransform pageToTurnedView(int rotation, QSizeF bounds);

// ---- Text positions ----------------------------------------------------------------------------

// The character of the engine page's text under `point` (unturned page space, y up), else the
// closest one; 0 for a page without text. Prepares the page's text for selection.
int64_t charPositionInPage(KVPDFPage &page, QPointF point);
// Whether a line of the page's text holds `point`, its bounds grown by `tolerance`.
bool hasCharPositionInPage(KVPDFPage &page, QPointF point, float tolerance);

// ---- The document ----------------------------------------------------------------------------

// The size a page is given when there is no page to take it from.
inline QRectF defaultPageSizeWhenNone() { return QRectF(0, 0, 612, 792); }
// (0, 0, paper), the sides exchanged for landscape.
QRectF defaultPageSizeForCreation(QSizeF paper, bool landscape);
inline int defaultPageRotationWhenNone(bool landscape) { return landscape ? 90 : 0; }

// The union of the page bounds with its origin at (0, 0); the zero rectangle for no pages.
QRectF documentBounds(const std::vector<QRectF> &pageBounds);

// The rectangle of the facing spread that holds page `index`: pages pair (0, 1), (2, 3), ...
// when `facingPageOne`, else page 0 stands alone and pages pair (1, 2), (3, 4), ... Two pages
// side by side give the sum of their widths and the larger height; a page alone takes the room
// of two; no page at all, two of the creation size. `boundsOfPage` answers for any index,
// falling back to the creation size outside the document.
QRectF facingSpreadBounds(int64_t index, bool facingPageOne, int64_t pageCount,
                          const std::function<QRectF(int64_t)> &boundsOfPage, QRectF creationSize);

// ---- The document window ---------------------------------------------------------------------

// What the window's first placement reads.
struct WindowPlacementInput {
    QRectF mainScreenVisible;   // the visible area of the main screen
    QRectF windowScreenVisible; // the visible area of the screen the window is on
    QSizeF documentSize;        // the document's bounds size; unused without pages
    bool hasPages = false;
    bool fillScreenHeight = false; // the user default "windowHeight" is 1
    QSizeF savedContentSize;       // the document view's remembered size; width 0 for none
};
struct WindowPlacement {
    QPointF frameTopLeft; // the window's top edge at the top of the main screen's visible area
    QSizeF contentSize;
};
WindowPlacement windowPlacement(const WindowPlacementInput &input);

// The zoomed frame. `currentContent` is the content rectangle of the window's current frame
// and `frameMargins` what the frame adds around its content; without a document view
// (`documentViewSize` absent) the default frame is the answer. The top edge stays.
struct ZoomInput {
    QRectF defaultFrame;
    std::optional<QSizeF> documentViewSize;
    double sidebarWidth = 0;
    double toolbarHeight = 0; // see toolbarHeight
    QRectF currentContent;
    QMarginsF frameMargins;
};
QRectF zoomedFrame(const ZoomInput &input);
// The room a visible toolbar takes: the content rectangle's height for the frame less the
// content view's, through single precision; 0 when no toolbar shows.
double toolbarHeight(bool toolbarVisible, double contentRectHeight, double contentViewHeight);

// ---- Full-size caching passes ----------------------------------------------------------------

// The pages asked to keep a full-size image in one pass of drawing, and those of the pass
// before. A page asked for in one pass and not in the next is let go of at the end of that
// next pass.
class CachePasses {
public:
    void begin();
    // Answers whether `index` names a page (then it joins the pass).
    bool add(int64_t index, int64_t pageCount);
    // The pages to let go of (asked for in the prior pass, not in this one, still in the
    // document), each once; the prior pass is then forgotten.
    std::vector<int64_t> end(int64_t pageCount);
    const std::vector<int64_t> &current() const { return m_current; }
    const std::vector<int64_t> &prior() const { return m_prior; }

private:
    bool m_started = false;
    std::vector<int64_t> m_current;
    std::vector<int64_t> m_prior;
};

// ---- Reducing large scans ----------------------------------------------------------------------

// The paper a document of `size` was scanned from at 72 pixels per inch, when its shape and
// width say it is a scan larger than that paper; none otherwise.
std::optional<QSizeF> scanTargetSize(QSizeF size);

// What the reduction asks of one page, in the order it asks.
class ScanPage {
public:
    virtual ~ScanPage() = default;
    // Prepares the page's text for selection; whether it has any line.
    virtual bool hasTextLines() = 0;
    // Reads the page's annotations; how many imprints the page then holds.
    virtual int64_t imprintCount() = 0;
    // The pixel size of the page's only imprint when it is exactly a proxy image imprint.
    virtual std::optional<QSizeF> soleProxyImagePixelSize() = 0;
    virtual QSizeF mediaBoxSize() = 0;
};
struct ScanReduction {
    int64_t pageIndex;
    QSizeF pixelSize;
};
// The pages to replace by their image on the target paper, in order; empty when any page has
// text or other than one imprint, since the document is then no plain scan.
std::vector<ScanReduction> scanPagesToReduce(const std::vector<ScanPage *> &pages);

} // namespace JXFolivoGeometry
