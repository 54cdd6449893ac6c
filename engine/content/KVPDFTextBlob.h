#pragma once
// One run of shown text: the graphics state at the show, where the run lies, which bytes of
// which stream showed it, its text, and (once text extraction has measured it) its advance
// widths and its place in the page string. Search, selection, text correction and redaction
// work on these runs. A run is made by the run builder (KVPDFTextRunBuilder) at a show.
//
// A value like the state it extends: copies are independent, the stream is shared. `string`
// is null (not empty) when the run's font was not found. Nothing here throws: ranges outside
// the run's characters or outside the data are clamped.
#include "KVPDFGraphicsState.h"
#include "KVPDFObject.h"

#include <QPointF>
#include <QRectF>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

class KVPDFFont;
class KVPDFObjectStream;

class KVPDFTextBlob : public KVPDFGraphicsState {
public:
    KVPDFTextBlob() = default;
    KVPDFTextBlob(QPointF location, float ascent, float descent, const KVPDFGraphicsState &state,
                  std::shared_ptr<KVPDFObjectStream> contentObject, KVPDFRange dataRange, QString string);

    QPointF location;                                 // the text rendering matrix's translation
    std::shared_ptr<KVPDFObjectStream> contentObject; // page content or a form
    KVPDFRange dataRange;                             // the show's operand in the stream's decoded data
    QString string;
    // The font the run was decoded with (null when none was found): measuring goes by it, not
    // by the font name, which a form may use for a font of its own.
    std::shared_ptr<KVPDFFont> font;
    float ascent = 0;          // up from the location, positive
    float descent = 0;         // down from the location, negative
    float width = 0;           // 0 until measured
    std::vector<float> widths; // one per UTF-16 unit of `string` once measured, else empty
    KVPDFRange rangeInPageString;

    const KVPDFGraphicsState &gstate() const { return *this; }
    float height() const { return ascent - descent; }
    double maxX() const { return location.x() + width; }
    size_t nWidths() const { return widths.size(); }

    // The box of the part of the run that `range` (in the page string) covers: from the
    // location moved by the widths before it, as wide as the widths it covers (0 when it
    // covers none), from the descent up to the ascent. Sums in single precision.
    QRectF rectForRangeInPageString(KVPDFRange range) const;
    // Reading order: the higher run first (-1 when this one is higher), then the one further
    // left, then the one earlier in its data; 0 when all three are equal.
    int compare(const KVPDFTextBlob &other) const;
    // Content order, never 0: in one stream by data position, else by the streams' identities.
    int orderBlobs(const KVPDFTextBlob &other) const;

    struct Clearing {
        KVPDFRange range; // the bytes to blank in the stream's decoded data
        std::shared_ptr<KVPDFObjectStream> contentObject;
        // What to put in place of the range instead of blanking it: a run shown by ' or "
        // moves to the next line as well, so its record keeps the operator with an empty
        // string ("() '", "() \"", the numbers of the latter lying before the range and
        // staying), and the lines after it stay where they were.
        std::optional<QByteArray> replacement;
    };
    // The operand and the show operator after it, for taking the run out of its stream;
    // nothing for a run without text (a lone line feed counts as none).
    std::optional<Clearing> contentForClearing() const;
    // From `dataRange`'s start through the first ' or " or TJ/Tj after it; `dataRange` itself
    // when no show operator follows; nothing when `stringRange` is empty. `data` is only read.
    static std::optional<KVPDFRange> clearContentFrom(const QByteArray &data, KVPDFRange dataRange, KVPDFRange stringRange);

    // "KVPDFTextBlob <identity>{stream, {location, length}}: 'text' (x, y) width {location, length}".
    QString description() const;
};
