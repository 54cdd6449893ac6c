#pragma once
// What `mutool trace` (mupdf-tools) sees on one page, reduced to what peer tests compare: the
// glyphs shown, each at its pen position, and the boxes images are drawn into, both in the
// page's PDF user space (no crop-box move: a caller comparing with the engine's runs or image
// records subtracts the crop box's corner itself).
//
// mutool draws into a device space whose origin is the top-left corner of the visible box
// (crop box within media box), y pointing down, turned by /Rotate. Its trace prints for text
// the pen position before the CTM and the CTM (page transform included), and for an image the
// matrix that maps the unit square to the device. The reducer undoes the page transform, which
// it rebuilds from `mutool pages` (media box, crop box, rotation); a rebuilt transform whose
// page size differs from the trace's "mediabox" attribute is refused. UserUnit is not read.
//
// What mutool traces that is not the page's content: the appearances of annotations and form
// fields follow the content on the same page, without a mark between; compare pages without
// annotations. Text that mutool paints twice (rendering modes that fill and stroke, or paint
// and clip) comes once: an element whose glyphs are those of the text element just before it
// is a repeat and is dropped.
//
// mutool prints characters XML cannot carry (control codes) as character references that a
// conforming XML reader refuses; they are read back as the code they name.
#include <QByteArray>
#include <QPointF>
#include <QRectF>
#include <QSize>
#include <QString>
#include <QTransform>

#include <optional>
#include <vector>

struct MutoolGlyph {
    QString unicode;   // what mutool maps the glyph to; U+FFFD when it knows nothing; may be empty
    QString glyph;     // the glyph's name or number as mutool prints it
    QPointF position;  // the pen position in user space
    QString font;      // the span's font name (subset prefix included)
    QTransform trm;    // the span's text rendering matrix without translation (size, scale, shear)
    bool vertical = false; // the span's writing mode is vertical
    QString element;   // fill_text, stroke_text, clip_text, clip_stroke_text or ignore_text
};

struct MutoolImage {
    QRectF box;        // the bounding box of the unit square under the image's matrix, in user space
    QSize pixels;      // the image's own size (width and height attributes)
    bool mask = false; // drawn with fill_image_mask (a stencil) rather than fill_image
};

struct MutoolPage {
    QRectF mediaBox;              // as `mutool pages` reads it (inherited entries included)
    std::optional<QRectF> cropBox;
    int rotate = 0;               // 0, 90, 180 or 270
    QTransform pageTransform;     // user space to mutool's device space
    std::vector<MutoolGlyph> glyphs; // in the order mutool met them
    std::vector<MutoolImage> images; // in drawing order
};

// mupdf's page transform: y flipped, turned by -rotate, and moved so that the visible box
// (crop box intersected with the media box; the media box without a crop box) starts at 0 0.
QTransform mutoolPageTransform(const QRectF &mediaBox, const std::optional<QRectF> &cropBox, int rotate);

// Reads `mutool pages` output for one page (MediaBox, CropBox, Rotate elements) into `page`'s
// boxes, rotation and page transform. False with `error` set when no MediaBox is given.
bool parseMutoolPages(const QByteArray &xml, MutoolPage &page, QString *error);

// Reads `mutool trace` output for one page into `page`'s glyphs and images, with the page
// transform already in `page`. False with `error` set on XML it cannot read, or when the trace's
// page size is not that of the page transform.
bool parseMutoolTrace(const QByteArray &xml, MutoolPage &page, QString *error);

// Runs `mutool pages` and `mutool trace` on page `page` (from 1) of `path`, with `password`
// when not empty. Nothing, with `error` set, when mutool cannot be run, fails, or prints what
// the readers above refuse.
std::optional<MutoolPage> mutoolTracePage(const QString &path, int page, const QString &password, QString *error);
