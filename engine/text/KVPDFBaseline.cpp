#include "KVPDFBaseline.h"

#include "KVNumbers.h"
#include "KVPDFTextBlob.h"

#include <algorithm>
#include <cmath>

namespace {

// Characters a lookup may walk: one width each, never past the widths, and never past the
// text (widths beyond it would name positions of the next run).
int64_t measuredCount(const KVPDFTextBlob &blob)
{
    return int64_t(std::min<size_t>(blob.widths.size(), size_t(blob.string.size())));
}

int64_t runStart(const KVPDFTextBlob &blob) { return int64_t(blob.rangeInPageString.location); }

bool rangeHolds(KVPDFRange range, int64_t position)
{
    return position >= 0 && uint64_t(position) >= range.location && uint64_t(position) - range.location < range.length;
}

KVPDFRange intersection(KVPDFRange a, KVPDFRange b)
{
    const uint64_t start = std::max(a.location, b.location);
    const uint64_t end = std::min(a.location + a.length, b.location + b.length);
    return end > start ? KVPDFRange{start, end - start} : KVPDFRange{start, 0};
}

// A rectangle without width or height adds nothing, so a range that covers only a line break
// does not stretch the union to the run's end.
void unite(QRectF &into, const QRectF &rect)
{
    if (rect.width() <= 0 || rect.height() <= 0)
        return;
    into = into.isNull() ? rect : into.united(rect);
}

// Inside when minX <= x < maxX and minY <= y < maxY, so lines that touch never both answer.
bool pointInRect(QPointF point, const QRectF &rect)
{
    return point.x() >= rect.left() && point.x() < rect.right() && point.y() >= rect.top() && point.y() < rect.bottom();
}

// The scale the run's text space has on the page along x: the matrices' a, or b when a is 0
// (a quarter-turned run).
double xScale(const QTransform &m) { return std::abs(m.m11() != 0 ? m.m11() : m.m12()); }

QString rectText(const QRectF &r)
{
    return QStringLiteral("{{%1, %2}, {%3, %4}}").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

} // namespace

KVPDFGap KVPDFIntersectGaps(KVPDFGap a, KVPDFGap b)
{
    const float start = std::max(a.location, b.location);
    if (start < KVPDFGapMax(a) && start < KVPDFGapMax(b))
        return {start, std::min(KVPDFGapMax(a) - start, KVPDFGapMax(b) - start)};
    return KVPDFEmptyGap;
}

KVPDFBaseline::KVPDFBaseline(Blobs blobs, KVPDFRange rangeInPageString)
    : m_blobs(std::move(blobs)), m_rangeInPageString(rangeInPageString)
{
}

std::shared_ptr<KVPDFBaseline> KVPDFBaseline::baselineWithBlobs(Blobs blobs, KVPDFRange rangeInPageString)
{
    return std::make_shared<KVPDFBaseline>(std::move(blobs), rangeInPageString);
}

void KVPDFBaseline::setBlobs(Blobs blobs)
{
    m_blobs = std::move(blobs);
    m_boundsCalculated = false;
}

QRectF KVPDFBaseline::bounds()
{
    if (!m_boundsCalculated)
        calculateBounds();
    return m_bounds;
}

void KVPDFBaseline::setBounds(const QRectF &bounds)
{
    m_bounds = bounds;
    m_boundsCalculated = true;
}

void KVPDFBaseline::calculateBounds()
{
    for (size_t i = 1; i < m_blobs.size();) {
        KVPDFTextBlob &blob = *m_blobs[i];
        if (blob.string.isEmpty()) {
            m_blobs.erase(m_blobs.begin() + ptrdiff_t(i));
            continue;
        }
        // Two runs drawn from one place (a Tj repeated for a fake bold, a run and its rewrite)
        // would otherwise share their characters' boxes.
        const KVPDFTextBlob &previous = *m_blobs[i - 1];
        if (blob.location.x() == previous.location.x())
            blob.location = QPointF(previous.location.x() + double(previous.width), blob.location.y());
        ++i;
    }
    m_boundsCalculated = true;
    if (m_blobs.empty()) {
        m_bounds = QRectF();
        return;
    }
    float height = 0, descent = 0;
    for (const std::shared_ptr<KVPDFTextBlob> &blob : m_blobs) {
        height = std::max(height, blob->height());
        descent = std::min(descent, blob->descent);
    }
    const KVPDFTextBlob &first = *m_blobs.front();
    const double left = first.location.x();
    const double right = m_blobs.back()->maxX();
    m_bounds = QRectF(left, first.location.y() + double(descent), right - left, double(height));
}

bool KVPDFBaseline::hitTest(QPointF point) { return pointInRect(point, bounds()); }

bool KVPDFBaseline::hitTest(QPointF point, double tolerance)
{
    // A line without runs has no place on the page, however far the tolerance reaches.
    const QRectF rect = bounds();
    return !rect.isNull() && pointInRect(point, rect.adjusted(-tolerance, -tolerance, tolerance, tolerance));
}

int64_t KVPDFBaseline::charPositionForPoint(QPointF point) const
{
    const double x = point.x();
    for (auto it = m_blobs.rbegin(); it != m_blobs.rend(); ++it) {
        const KVPDFTextBlob &blob = **it;
        if (!(blob.location.x() < x))
            continue;
        const int64_t count = measuredCount(blob);
        if (count == 0)
            return runStart(blob) - 1;
        double right = blob.location.x();
        for (int64_t k = 0; k < count; ++k) {
            right += double(blob.widths[size_t(k)]);
            if (right >= x)
                return runStart(blob) + k;
        }
        return runStart(blob) + count - 1;
    }
    return -1;
}

int64_t KVPDFBaseline::charPositionRightOfX(double x) const
{
    for (auto it = m_blobs.rbegin(); it != m_blobs.rend(); ++it) {
        const KVPDFTextBlob &blob = **it;
        if (blob.location.x() > x)
            continue;
        const int64_t count = measuredCount(blob);
        double left = blob.location.x();
        for (int64_t k = 0; k < count; ++k) {
            if (left >= x)
                return runStart(blob) + k;
            left += double(blob.widths[size_t(k)]);
        }
        return runStart(blob) + count;
    }
    if (!m_blobs.empty() && m_blobs.front()->location.x() >= x)
        return runStart(*m_blobs.front());
    return KVPDFNotFound;
}

int64_t KVPDFBaseline::charPositionLeftOfX(double x) const
{
    for (auto it = m_blobs.rbegin(); it != m_blobs.rend(); ++it) {
        const KVPDFTextBlob &blob = **it;
        const int64_t count = measuredCount(blob);
        const double firstWidth = count > 0 ? double(blob.widths[0]) : 0;
        if (blob.location.x() + firstWidth > x)
            continue;
        int64_t last = -1;
        double left = blob.location.x();
        for (int64_t k = 0; k < count; ++k) {
            if (left < x)
                last = k;
            left += double(blob.widths[size_t(k)]);
        }
        return runStart(blob) + last;
    }
    return KVPDFNotFound;
}

KVPDFRange KVPDFBaseline::charRangeWithinRect(const QRectF &rect) const
{
    const int64_t from = charPositionRightOfX(rect.left());
    const int64_t to = charPositionLeftOfX(rect.right());
    if (to == KVPDFNotFound || from == KVPDFNotFound || to < from)
        return {uint64_t(KVPDFNotFound), 0};
    return {uint64_t(from), uint64_t(to - from + 1)};
}

KVPDFBaseline::Blobs KVPDFBaseline::blobsFromCharPosition(int64_t from, int64_t to) const
{
    if (m_blobs.empty())
        return {};
    const int64_t lineLast = int64_t(m_rangeInPageString.location + m_rangeInPageString.length) - 1;
    to = std::min(to, lineLast);
    auto holding = [this](int64_t position) {
        return std::find_if(m_blobs.begin(), m_blobs.end(),
                            [position](const std::shared_ptr<KVPDFTextBlob> &blob) { return rangeHolds(blob->rangeInPageString, position); });
    };
    const auto first = holding(from);
    const auto last = holding(to);
    if (first == m_blobs.end() || last == m_blobs.end() || last < first)
        return {};
    return Blobs(first, last + 1);
}

QRectF KVPDFBaseline::rectForRangeInPageString(KVPDFRange range) const
{
    if (range.length == 0)
        return QRectF();
    QRectF rect;
    for (const std::shared_ptr<KVPDFTextBlob> &blob :
         blobsFromCharPosition(int64_t(range.location), int64_t(range.location + range.length) - 1))
        unite(rect, blob->rectForRangeInPageString(range));
    return rect;
}

QRectF KVPDFBaseline::rectForClearingRange(KVPDFRange range)
{
    bounds();
    QRectF rect;
    for (const std::shared_ptr<KVPDFTextBlob> &blob : m_blobs) {
        const KVPDFRange part = intersection(range, blob->rangeInPageString);
        if (part.length > 0)
            unite(rect, blob->rectForRangeInPageString(part));
    }
    return rect;
}

QRectF KVPDFBaseline::rectForClearing() { return rectForClearingRange(m_rangeInPageString); }

std::vector<KVPDFEditRecord> KVPDFBaseline::contentForClearingRange(KVPDFRange range, const KVPDFTextRewrites *replacements) const
{
    std::vector<KVPDFEditRecord> edits;
    const KVPDFTextBlob *lastCleared = nullptr;
    for (const std::shared_ptr<KVPDFTextBlob> &blob : m_blobs) {
        if (intersection(range, blob->rangeInPageString).length == 0)
            continue;
        std::optional<KVPDFTextBlob::Clearing> clearing = blob->contentForClearing();
        if (!clearing)
            continue;
        KVPDFEditRecord edit{clearing->contentObject, clearing->range, std::move(clearing->replacement)};
        if (replacements) {
            const auto entry = replacements->find(blob.get());
            if (entry != replacements->end())
                edit.replacement = entry->second;
        }
        edits.push_back(std::move(edit));
        lastCleared = blob.get();
    }
    if (replacements || !lastCleared)
        return edits;

    // The advance the cleared text had, in thousandths of the last run's text space unit:
    // a TJ number moves by n / 1000 x Tfs x Th in text space, which the text matrix and the CTM
    // scale onto the page.
    const double width = rectForRangeInPageString(range).width();
    const double scale = double(lastCleared->TfontSize) * double(lastCleared->ThorizontalScaling) *
                         xScale(lastCleared->textMatrix) * xScale(lastCleared->CTM);
    if (width == 0 || !std::isfinite(scale) || scale == 0)
        return edits;
    const double advance = -1000.0 * width / scale;
    if (!std::isfinite(advance))
        return edits;
    KVPDFEditRecord &last = edits.back();
    const QByteArray move = "[" + kvFormatReal(advance) + "]TJ";
    // A quote operator's own record keeps the line move; the advance comes after it.
    last.replacement = last.replacement ? *last.replacement + " " + move : move;
    return edits;
}

std::shared_ptr<KVPDFBaseline> KVPDFBaseline::splitBaselineAtXPos(double x)
{
    size_t rightStart = m_blobs.size();
    while (rightStart > 0 && !(m_blobs[rightStart - 1]->maxX() < x))
        --rightStart;
    if (rightStart == m_blobs.size())
        return nullptr;
    return splitAtIndex(rightStart);
}

std::shared_ptr<KVPDFBaseline> KVPDFBaseline::splitBaselineAtBlob(const KVPDFTextBlob *blob)
{
    const auto it = std::find_if(m_blobs.begin(), m_blobs.end(),
                                 [blob](const std::shared_ptr<KVPDFTextBlob> &b) { return b.get() == blob; });
    if (it == m_blobs.end())
        return nullptr;
    // The run itself stays: the new line starts after it.
    const size_t rightStart = size_t(it - m_blobs.begin()) + 1;
    if (rightStart >= m_blobs.size())
        return nullptr;
    return splitAtIndex(rightStart);
}

std::shared_ptr<KVPDFBaseline> KVPDFBaseline::splitAtIndex(size_t index)
{
    Blobs right(m_blobs.begin() + ptrdiff_t(index), m_blobs.end());
    m_blobs.erase(m_blobs.begin() + ptrdiff_t(index), m_blobs.end());
    const uint64_t lineEnd = m_rangeInPageString.location + m_rangeInPageString.length;
    const uint64_t splitAt = std::clamp(right.front()->rangeInPageString.location, m_rangeInPageString.location, lineEnd);
    auto split = baselineWithBlobs(std::move(right), {splitAt, lineEnd - splitAt});
    // A line cut before holds no line break either, so the part after this cut must bring
    // its own or its text would run into the next line's.
    split->m_needsNewline = m_needsNewline;
    m_rangeInPageString.length = splitAt - m_rangeInPageString.location;
    m_boundsCalculated = false;
    m_needsNewline = true;
    return split;
}

void KVPDFBaseline::addBaselineBlobsToPageString(KVPDFPageString &newString, const KVPDFPageString &oldString)
{
    const qsizetype spaces = oldString.text.count(QLatin1Char(' '));
    const double spaceRatio = oldString.isEmpty() ? 0 : double(spaces) / double(oldString.size());
    const qsizetype lineStart = newString.size();
    KVPDFTextBlob *previous = nullptr;
    for (const std::shared_ptr<KVPDFTextBlob> &blob : m_blobs) {
        const KVPDFPageString part = oldString.substring(qsizetype(blob->rangeInPageString.location),
                                                         qsizetype(std::min<uint64_t>(blob->rangeInPageString.length, uint64_t(oldString.size()))));
        // Text set without spaces (each word its own run) gets one where the runs stand a
        // space apart, so words do not run together.
        if (previous && spaceRatio < 0.05 && !blob->string.isEmpty() && blob->width > 0) {
            const double averageWidth = double(blob->width) / double(blob->string.size());
            if ((blob->location.x() - previous->maxX()) / averageWidth > 0.18) {
                newString.appendPlain(QStringLiteral(" "));
                previous->rangeInPageString.length += 1;
            }
        }
        const qsizetype at = newString.size();
        newString.append(part);
        blob->rangeInPageString = {uint64_t(at), uint64_t(part.size())};
        previous = blob.get();
    }
    if (m_needsNewline) {
        if (!newString.isEmpty() && newString.text.back().isSpace()) {
            newString.text.back() = QLatin1Char('\n');
        } else {
            newString.appendPlain(QStringLiteral("\n"));
            if (previous)
                previous->rangeInPageString.length += 1;
        }
        m_needsNewline = false;
    }
    m_rangeInPageString = {uint64_t(lineStart), uint64_t(newString.size() - lineStart)};
}

KVPDFGap KVPDFBaseline::findFirstGapOfWidth(float width)
{
    bounds();
    for (size_t i = 0; i + 1 < m_blobs.size(); ++i) {
        const float edge = float(m_blobs[i]->maxX());
        const float gap = float(m_blobs[i + 1]->location.x()) - edge;
        if (gap >= width)
            return {edge, gap};
    }
    return KVPDFEmptyGap;
}

KVPDFGap KVPDFBaseline::findGapInGap(KVPDFGap gap, float width)
{
    const double gapEnd = double(KVPDFGapMax(gap));
    if (!(gapEnd - double(width) < maxX() && minX() < gapEnd))
        return gap;
    const KVPDFGap own = findFirstGapOfWidth(width);
    return KVPDFIsEmptyGap(own) ? KVPDFEmptyGap : KVPDFIntersectGaps(gap, own);
}

QString KVPDFBaseline::description() const
{
    return QStringLiteral("KVPDFBaseline {%1, %2} %3")
        .arg(m_rangeInPageString.location)
        .arg(m_rangeInPageString.length)
        .arg(rectText(m_bounds));
}
