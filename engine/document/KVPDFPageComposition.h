#pragma once
// Page composition: a new one-page PDF whose page draws an existing page of any engine
// document as a form object, under a transform, a clip and an opacity, with an optional layer
// of drawn content over it. The page is carried over as objects, never as pixels: its text
// stays text (searchable, invisible OCR text included), its vectors stay vectors and its
// images keep their streams and filters. Re-rendering an imprint, baking a rotation or crop at
// save, redaction, printing and OCR all redraw pages through this one call.
//
// What the new file holds: a page of `mediaBox` whose content is one form object per source
// (the source page's content, joined and decoded, with the page's Resources as the form's;
// the layer's page 0 the same way), placed by a content stream of the new page. Resources and
// everything they reach are copied as KVPDFImprint::onePageDataForForm copies a form's:
// page-tree nodes, catalogues and annotations reached from them become null, image
// dictionaries lose "filename", and the file is written in clear (whoever embeds it encrypts it
// with its own file). Drawing a composed page again nests one more form: to redraw a page
// many times, compose from the first page each time with the total transform.
//
// Precedence of the placements, outermost first: `clip` (in new-page space), then `transform`
// (source default user space -> new-page space), then the source page's own box (its crop box
// within its media box, in the source's space) as the form's BBox. The source page's /Rotate
// is not applied: pass uprightTransform() (or a transform built on it) to draw the page as it
// is shown. The layer is drawn after the source, in new-page space, with no transform, clip or
// opacity of the source's; its own box clips it.
//
// Opacity below 1 makes the source form a transparency group painted under that constant
// alpha, so overlapping objects of the page fade together instead of showing through each
// other.
//
// Not drawn: the source page's annotations and its content imprints held in the imprint list
// (KVPDFPage::imprints); they are not part of its content until a save writes them there.
// Compose a saved page, or draw them in the layer.
//
// Ownership: the source page and its document are only read, and must stay alive during the
// call; the result owns nothing of them. Threads: reads the page as its other readers do
// (contentStreams, resources, the boxes), so it may run on a page-image thread while other
// readers run; not while a writer changes the page or its document.
//
// Bad input never throws out of this call; an empty result (with the reason logged and put in
// `*error` when given) stands for:
// - a media box that is empty or not finite, a transform or clip that is not finite or not
//   invertible, an opacity that is not a number (finite opacities are clamped into 0..1);
// - layer data that does not open as a PDF with at least one page;
// - source objects that do not parse while they are copied.
// A source page whose content does not decode completely is composed with what decodes, with
// a log line, as the page would draw in a reader.
#include <QByteArray>
#include <QRectF>
#include <QString>
#include <QTransform>

#include <optional>

class KVPDFPage;

struct KVPDFPageComposition {
    // The new page's MediaBox (its origin need not be 0, 0).
    QRectF mediaBox;
    // Maps the source page's default user space into the new page's.
    QTransform transform;
    // Clips the source in new-page space; none clips only to the source's own box.
    std::optional<QRectF> clip;
    // Constant alpha the source is painted with.
    double opacity = 1.0;
    // One-page PDF data (page 0 of it is used) drawn over the source; empty for none.
    QByteArray layer;
};

class KVPDFPageComposer {
public:
    // The new one-page PDF, or empty on failure (see the top of this file). `source` may be
    // nullptr: the new page then holds the layer alone.
    static QByteArray compose(KVPDFPage *source, const KVPDFPageComposition &composition, QString *error = nullptr);

    // Maps the page's default user space so that its box as shown (crop box within media box,
    // turned clockwise by its /Rotate) lies at (0, 0) with the shown width and height.
    static QTransform uprightTransform(KVPDFPage &page);
    // The page's crop box within its media box, in its default user space (not turned).
    static QRectF visibleBox(KVPDFPage &page);
};
