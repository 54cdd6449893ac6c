#pragma once
// Draws one source of an imprint (an image, an imprint's one-page PDF, a text view, vector
// paths, OCR text over a page, or an application page's base image) into a rectangle, so its
// content becomes the one-page PDF an engine imprint keeps, or pixels in a bitmap cache.
//
// Use: make one with the frame of the wanted rectangle, set exactly one source with the
// settings that apply to it, optionally move the bounds origin (translateOriginToPoint), then
// ask for pdfDataInsideRect (or draw into any QPainter with drawInto) and drop the renderer.
//
// Coordinates are PDF's: y grows upward, the frame's lower-left corner is (0, 0) before
// translateOriginToPoint. The sources are drawn in this order of precedence; only the first
// one present is drawn: application page, engine imprint, stroke, image, text view, OCR text.
// Without any source nothing is drawn (the PDF is an empty page of the rectangle).
//
// Two outputs, one geometry:
// - pdfDataInsideRect: what we draw ourselves (images, text, strokes, OCR strings, a base
//   image) is drawn through QPdfWriter (exact page size, no margins, 72 dpi, lossless images).
//   A PDF source (an engine imprint, PDF image data, the page under OCR text) is never drawn
//   through a rasteriser: the engine composes its page as a form object under the placement
//   (KVPDFPageComposer), with the drawn OCR strings as a layer over it, so its text, vectors
//   and images survive. Composing a composed rendering again nests one form more: re-render
//   from the first rendering with the total transform instead.
// - drawInto: the same drawing onto any QPainter (a bitmap cache); PDF sources are drawn by
//   poppler from their bytes.
//
// Sources with no counterpart here: PICT images (there is no PICT reader; such data has no
// image representation, so it never reaches a renderer), and an OCR background made of image
// imprints (the OCR source takes the engine page instead).
//
// The stroke line scale is 1 / sqrt(|det|) of the applied transform, so a stroke keeps its
// width in points under the identity and under any turn.
//
// Ownership: the image and the PDF image data are copied in; every other source (the imprint,
// the text view, the stroke source, the engine page, the application page and its imager) is
// borrowed and must stay alive until the output is taken. Threads: one renderer per thread;
// a renderer shares nothing with others. The base-image callback runs on the caller's thread.
//
// Bad input: a PDF source that does not open (or has no page) draws nothing, and the PDF is an
// empty page of the rectangle, logged. A frame or rectangle that is empty or not finite gives
// empty data.
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QList>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QTransform>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

class JXFolivoPage;
class JXPDFImager;
class KVPDFImprint;
class KVPDFPage;
class QPainter;
class QTextDocument;

// A text view the renderer can draw: the text system's own view, or any other.
class JXRendererTextView {
public:
    virtual ~JXRendererTextView() = default;
    // The view's bounds, in its own y-down coordinates.
    virtual QRectF bounds() const = 0;
    // Draws `rect` of the view with `painter` set to the view's y-down coordinates.
    virtual void drawRect(QPainter &painter, const QRectF &rect) = 0;
};

// The vector source: what the stroke imprint draws.
class JXRendererStrokeSource {
public:
    virtual ~JXRendererStrokeSource() = default;
    // The bounds of `paths` stroked `strokeWidth` wide.
    virtual QRectF boundsForPaths(const QList<QPainterPath> &paths, double strokeWidth) const = 0;
    // The imprint's own bounds, for a source without paths.
    virtual QRectF bounds() const = 0;
    // Draws `paths` with line widths multiplied by `lineScale`.
    virtual void drawInternal(QPainter &painter, const QList<QPainterPath> &paths, double lineScale) = 0;
};

class JXPDFImageRenderer {
public:
    // Draws `page`'s base image at `scale` with `imager` (the page's own drawing, installed by
    // the display layer). Without one installed the application-page source draws nothing.
    using BaseImageDrawer = std::function<void(QPainter &painter, JXFolivoPage *page, double scale, JXPDFImager *imager)>;
    static void setBaseImageDrawer(BaseImageDrawer drawer);

    // One OCR string and the rectangle it fills.
    struct StringAndRect {
        QString text;
        QRectF rect;
    };

    explicit JXPDFImageRenderer(const QRectF &frame);
    ~JXPDFImageRenderer();
    JXPDFImageRenderer(const JXPDFImageRenderer &) = delete;
    JXPDFImageRenderer &operator=(const JXPDFImageRenderer &) = delete;

    // ---- Sources -------------------------------------------------------------------------
    void setPDFImprint(KVPDFImprint *imprint, QPointF origin);
    void setImage(const QImage &image, QPointF origin);
    // PDF data drawn as an image: its page 0, its crop box at `origin`.
    void setPDFImage(const QByteArray &data, QPointF origin);
    void setTextView(JXRendererTextView *textView, QPointF origin, QPointF textOrigin);
    // A plain text document drawn at its own size, for a text view without the text system's.
    void setTextView(QTextDocument *document, QPointF origin, QPointF textOrigin);
    void setStroke(JXRendererStrokeSource *stroke, const QList<QPainterPath> &paths, QPointF origin);
    void setStringsAndRects(const QList<StringAndRect> &stringsAndRects, KVPDFPage *page);
    void setJXPDFPage(JXFolivoPage *page, double scale, JXPDFImager *imager);

    // ---- Settings ------------------------------------------------------------------------
    // A negative height asks for a vertical flip.
    void setImagedSize(QSizeF size) { m_imagedSize = size; }
    // The true size of an image source when it differs from its own.
    void setImageSize(QSizeF size) { m_realImageSize = size; }
    void setDoScale(bool doScale) { m_doScale = doScale; }
    // Image sources: its alpha is the drawing opacity. Text sources: the frame colour.
    void setColor(const QColor &color) { m_color = color; }
    void setFillColor(const QColor &color) { m_fillColor = color; }
    void setTransform(const QTransform &transform) { m_appliedTransform = transform; }
    void setStrokeWidth(double width) { m_strokeWidth = width; }
    // Ignored unless it has at least two entries.
    void setPatternArray(const QList<qreal> &pattern) { m_patternArray = pattern; }
    // Moves the bounds so that bounds point (0, 0) lies at `point` of the frame's coordinates.
    void translateOriginToPoint(QPointF point) { m_boundsOrigin -= point; }

    QRectF bounds() const { return QRectF(m_boundsOrigin, m_frame.size()); }
    // The line scale strokes are drawn with: 1 / sqrt(|det|) of the applied transform.
    double lineScale() const;

    // ---- Output --------------------------------------------------------------------------
    // A one-page PDF of `rect` (bounds coordinates) with what lies in it; empty data for an
    // empty or non-finite rectangle.
    QByteArray pdfDataInsideRect(const QRectF &rect);
    // Draws `rect` (bounds coordinates) into `painter`, whose current coordinates are y-down
    // points with `rect`'s top-left corner at (0, 0).
    void drawInto(QPainter &painter, const QRectF &rect);

private:
    struct PDFSource;
    class DocumentTextView;

    // The drawn sources in y-up bounds coordinates; PDF sources are left to the caller.
    void drawOwn(QPainter &painter, const QRectF &rect);
    void drawImage(QPainter &painter);
    void drawStroke(QPainter &painter);
    void drawText(QPainter &painter);
    void drawStrings(QPainter &painter);
    // The PDF source and the transform from its page's default user space into y-up bounds
    // coordinates; nullopt without a PDF source, or one that does not open.
    std::optional<PDFSource> pdfSource() const;
    bool hasOwnDrawing() const;
    QByteArray writerData(const QRectF &rect);

    QRectF m_frame;
    QPointF m_boundsOrigin;

    KVPDFImprint *m_pdfImprint = nullptr;
    QImage m_image;
    QByteArray m_pdfImage;
    JXRendererTextView *m_textView = nullptr;
    std::unique_ptr<DocumentTextView> m_documentView;
    JXRendererStrokeSource *m_strokeImprint = nullptr;
    QList<QPainterPath> m_strokePaths;
    bool m_hasStrings = false;
    QList<StringAndRect> m_stringsAndRects;
    KVPDFPage *m_pdfPage = nullptr;
    JXFolivoPage *m_jxPDFPage = nullptr;
    double m_scale = 1.0;
    JXPDFImager *m_imager = nullptr;

    QPointF m_origin;
    QPointF m_textOrigin;
    QColor m_color;
    QColor m_fillColor;
    bool m_doScale = true;
    QTransform m_appliedTransform;
    QSizeF m_imagedSize;
    QSizeF m_realImageSize;
    double m_strokeWidth = 0;
    QList<qreal> m_patternArray;
};
