#pragma once
// One line of page text: the text runs that share a baseline, left to right, and the line's
// characters in the page string (KVPDFPageString). Selection, search highlighting, link
// clicking and text correction ask a line for rectangles, for the character under a point and
// for the content-stream edits that blank part of it; column detection splits lines at
// gutters, looks for horizontal gaps through several lines and rebuilds the page string line
// by line in reading order.
//
// Positions are page-string indexes (int64_t): -1 means "left of every run", KVPDFNotFound
// means "none". A not-found range has location KVPDFNotFound and length 0.
//
// Bounds are computed on first need and again after a split. Computing them changes the line:
// a run that starts at exactly the previous run's x is moved to that run's right edge (the run
// is shared with the page, which sees the move), and runs without text leave the line. A line
// without runs has the null rectangle as bounds and no hit test accepts a point.
//
// Bad input: nothing throws and nothing reads outside a run's widths. A run not yet measured
// (no widths) counts as having no characters for the position lookups. Ranges outside the line
// give empty answers (the null rectangle, no runs, no edits).
//
// Ownership: the line shares its runs with the page's run list. Threads: a line is changed
// (bounds(), splits, setters, addBaselineBlobsToPageString) by the one thread that prepares
// its page; call bounds() before handing lines to readers, after which the const members may
// be used from any number of threads.
#include "KVPDFObject.h"
#include "KVPDFPage.h"
#include "KVPDFPageString.h"

#include <QByteArray>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class KVPDFObjectStream;
class KVPDFTextBlob;

// A stretch of the x axis: where it starts and how wide it is.
struct KVPDFGap {
    float location = 0;
    float width = 0;
    bool operator==(const KVPDFGap &) const = default;
};
inline constexpr KVPDFGap KVPDFEmptyGap{0, 0};
inline bool KVPDFIsEmptyGap(KVPDFGap gap) { return gap.width == 0; }
inline float KVPDFGapMax(KVPDFGap gap) { return gap.location + gap.width; }
// The stretch both gaps cover; the empty gap when they do not overlap.
KVPDFGap KVPDFIntersectGaps(KVPDFGap a, KVPDFGap b);

// One change to a content stream's decoded data: the bytes of `range` in `contentObject` are
// replaced by `replacement`, or blanked when there is none.
struct KVPDFEditRecord {
    std::shared_ptr<KVPDFObjectStream> contentObject;
    KVPDFRange range;
    std::optional<QByteArray> replacement;
};

class KVPDFBaseline {
public:
    using Blobs = std::vector<std::shared_ptr<KVPDFTextBlob>>;

    KVPDFBaseline(Blobs blobs, KVPDFRange rangeInPageString);
    static std::shared_ptr<KVPDFBaseline> baselineWithBlobs(Blobs blobs, KVPDFRange rangeInPageString);

    const Blobs &blobs() const { return m_blobs; }
    void setBlobs(Blobs blobs);
    KVPDFRange rangeInPageString() const { return m_rangeInPageString; }
    void setRangeInPageString(KVPDFRange range) { m_rangeInPageString = range; }
    bool isEmpty() const { return m_blobs.empty(); }
    // Set by a split: the line must end with a line break when the page string is rebuilt.
    bool needsNewline() const { return m_needsNewline; }
    void setNeedsNewline(bool needsNewline) { m_needsNewline = needsNewline; }

    // From the first run's x to the last run's right edge, from the first run's y plus the
    // lowest descent (at most 0), as high as the highest run.
    QRectF bounds();
    // The bounds as last computed (or set), without computing them.
    QRectF cachedBounds() const { return m_bounds; }
    bool boundsCalculated() const { return m_boundsCalculated; }
    void setBounds(const QRectF &bounds);
    double minX() { return bounds().left(); }
    double maxX() { return bounds().right(); }

    bool hitTest(QPointF point);
    // The bounds grown by `tolerance` on every side.
    bool hitTest(QPointF point, double tolerance);

    // Only x is used. The character whose right edge first reaches x in the last run that
    // starts left of x (its last character when none does); -1 when no run starts left of x.
    int64_t charPositionForPoint(QPointF point) const;
    // The first character whose left edge is at or right of x.
    int64_t charPositionRightOfX(double x) const;
    // The last character whose left edge lies left of x.
    int64_t charPositionLeftOfX(double x) const;
    // From charPositionRightOfX(left edge) to charPositionLeftOfX(right edge), both included;
    // not-found when the second is not found or lies before the first.
    KVPDFRange charRangeWithinRect(const QRectF &rect) const;
    // The runs from the one holding `from` to the one holding min(`to`, the line's last
    // position), both included; none when either lies in no run.
    Blobs blobsFromCharPosition(int64_t from, int64_t to) const;
    // The union of each run's rectangle for `range`; the null rectangle for an empty range.
    QRectF rectForRangeInPageString(KVPDFRange range) const;
    // The union of the rectangles of the parts of `range` that fall in each run.
    QRectF rectForClearingRange(KVPDFRange range);
    QRectF rectForClearing();

    // The edits that blank the runs sharing a character with `range`: a run with an entry in
    // `replacements` is replaced by that entry, any other by its own clearing record
    // (KVPDFTextBlob::contentForClearing). Without replacements, the last edit also advances
    // by the cleared width ("[n]TJ" after what the run's own record puts in), so text shown
    // after it in the same text object keeps its place.
    std::vector<KVPDFEditRecord> contentForClearingRange(KVPDFRange range, const KVPDFTextRewrites *replacements) const;
    std::vector<KVPDFEditRecord> contentForClearingRange(KVPDFRange range) const { return contentForClearingRange(range, nullptr); }
    std::vector<KVPDFEditRecord> contentForClearing() const { return contentForClearingRange(m_rangeInPageString, nullptr); }

    // The runs right of x move to a new line (answered), from the first run after the last
    // run that ends left of x; nothing when no run lies right of it. This line then ends
    // where the new one starts and needs a line break.
    std::shared_ptr<KVPDFBaseline> splitBaselineAtXPos(double x);
    // The runs after `blob` move to a new line; nothing when `blob` is the last run or is not
    // on the line.
    std::shared_ptr<KVPDFBaseline> splitBaselineAtBlob(const KVPDFTextBlob *blob);

    // Appends the line's runs to `newString`, each run's text and attributes taken from
    // `oldString` by its range, with a space between runs far enough apart in a page string
    // nearly without spaces, and a line break when the line needs one; the runs and the line
    // take their new ranges.
    void addBaselineBlobsToPageString(KVPDFPageString &newString, const KVPDFPageString &oldString);

    // The first gap between consecutive runs at least `width` wide; the empty gap when none.
    KVPDFGap findFirstGapOfWidth(float width);
    // `gap` unchanged when the line does not reach into it; else its intersection with the
    // line's first gap of `width` (the empty gap when the line has none).
    KVPDFGap findGapInGap(KVPDFGap gap, float width);

    // "KVPDFBaseline {location, length} {{x, y}, {w, h}}" for debugging.
    QString description() const;

private:
    void calculateBounds();
    std::shared_ptr<KVPDFBaseline> splitAtIndex(size_t index);

    bool m_boundsCalculated = false;
    QRectF m_bounds;
    Blobs m_blobs;
    KVPDFRange m_rangeInPageString;
    bool m_needsNewline = false;
};
