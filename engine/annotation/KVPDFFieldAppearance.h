#pragma once
// The field appearance pipeline: turns page 0 of a one-page PDF that the program rendered for a
// form field (QPdfWriter output, or any other PDF producer's) into the parts of the field's
// appearance stream: the page's content with the field font named as the field's DA names it,
// the resources that content names, and the colours the field's dictionary asks for.
//
// The rendering is trusted for nothing but its shape as content: the colour operators it uses
// (gray, RGB, CMYK, "cs"/"scn" with named spaces), how many text runs and fonts it has, and the
// names of its resources are whatever the producer chose. So the transforms read the content
// as PDF tokens, never by searching for text:
// - the field font is the operand of the first Tf; renaming it replaces whole name tokens
//   outside strings, comments and inline image data, so "/F1" never touches "/F10";
// - colours are set by structure (recolor);
// - every resource the content names is kept (Font, ColorSpace, ExtGState, Pattern, Shading,
//   XObject, Properties), as a deep copy;
// - content is bytes: nothing is decoded as text, line ends and comments stay as they are
//   (a joined line would hide what follows a "%").
//
// The content functions are pure and may be called from any thread. fromRendering reads the
// rendering's objects (one thread at a time, like its document) and never throws: a rendering
// without page 0 or with content that does not decode gives nullopt, logged.
#include "KVColor.h"
#include "KVPDFObject.h"

#include <QByteArray>
#include <QRectF>

#include <optional>
#include <set>
#include <vector>

class KVPDFDocument;
class KVPDFObjectDictionary;
class KVPDFObjectStream;

namespace kvpdf::fieldappearance {

// The name token (with its slash, as written) of the font operand of the first Tf, or empty
// when the content has no Tf with a name operand.
QByteArray firstFontOperand(const QByteArray &content);

// `content` with every name token equal to `from` replaced by `to` (both with their slash;
// names compare with "#xx" escapes decoded). Strings, comments and inline image data are left
// alone; everything else keeps its bytes.
QByteArray renameName(const QByteArray &content, const QByteArray &from, const QByteArray &to);

// The names the content's tokens use, decoded, without slash: every name a resource lookup
// could mean (and some that are no resource, such as a marked-content tag).
std::set<QByteArray> namesUsed(const QByteArray &content);

// The colours recolor sets; an absent one leaves those operators as the rendering wrote them.
struct Colors {
    std::optional<KVColor> text;       // fills that paint text
    std::optional<KVColor> background; // every other fill
    std::optional<KVColor> border;     // every stroke
};

// Sets the colours by what they paint. A stroke colour operator (G, RG, K, SC, SCN) takes the
// border colour. A fill colour operator (g, rg, k, sc, scn) inside BT ... ET takes the text
// colour; outside, it takes the text colour when what it is first used for is showing text
// (QPdfWriter sets a run's colour before its BT), and the background colour otherwise (a
// path fill, or no use at all). Use follows q/Q: a colour restored by Q is the one set
// before q. The replacement is an RGB operator ("r g b rg", "r g b RG") in place of the
// operands and the operator, so what follows still sees a three-component colour space.
// Operators with a name operand (a pattern) are left alone.
QByteArray recolor(const QByteArray &content, const Colors &colors);

// What fromRendering gives the appearance builder.
struct Rendering {
    // The page's decoded content, the field font renamed.
    QByteArray content;
    // The page's media box: the appearance maps it onto the widget's box.
    QRectF mediaBox;
    // A new Resources dictionary holding deep copies of the entries the content names,
    // category by category (an empty category is left out); the font category names the field
    // font `resourceName`.
    std::shared_ptr<KVPDFObjectDictionary> resources;
    // The field font's name in `content` and `resources` (without slash): `resourceName`, or
    // the rendering's own name when it kept it; empty without a Tf.
    QByteArray fontName;
    // A reference to the copy of the field font, nullptr when the content has no Tf (the
    // content then keeps its own font names).
    KVPDFObjectPtr fontReference;
    // References among the copies: the new indirect objects the appearance reaches.
    std::vector<KVPDFObjectPtr> subobjects;
};

// Reads page 0 of `rendering`. The first Tf operand becomes "/" + `resourceName` unless that
// name is taken by another token of the content, in which case the rendering's own name stays
// and `resourceName` is not used; a resource the content names but which cannot be copied is
// left out, logged.
std::optional<Rendering> fromRendering(KVPDFDocument &rendering, const QByteArray &resourceName);

// A Form XObject showing the rendering at `frame` in page space, for the fields whose appearance
// keeps the rendering's own colours (buttons, choices): "q 1 0 0 1 x y cm ... Q" around the
// content (its media box mapped onto the frame's size), BBox the frame, Matrix the translation
// back to the origin, Resources the rendering's with ProcSet [/PDF /Text]. Flate-compressed;
// line ends are those of the document `owner` belongs to (a line feed without one).
std::shared_ptr<KVPDFObjectStream> placedForm(const Rendering &rendering, const QRectF &frame, const KVPDFObjectDictionary *owner);

}
