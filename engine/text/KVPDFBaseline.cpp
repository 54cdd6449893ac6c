#include "KVPDFBaseline.h"

#include "KVPDFTextBlob.h"

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

void KVPDFBaseline::calculateBounds() { m_boundsCalculated = true; }
bool KVPDFBaseline::hitTest(QPointF point) { return bounds().contains(point); }
bool KVPDFBaseline::hitTest(QPointF point, double tolerance)
{
    return bounds().adjusted(-tolerance, -tolerance, tolerance, tolerance).contains(point);
}
int64_t KVPDFBaseline::charPositionForPoint(QPointF) const { return -1; }
int64_t KVPDFBaseline::charPositionRightOfX(double) const { return KVPDFNotFound; }
int64_t KVPDFBaseline::charPositionLeftOfX(double) const { return KVPDFNotFound; }
KVPDFRange KVPDFBaseline::charRangeWithinRect(const QRectF &) const { return {uint64_t(KVPDFNotFound), 0}; }
KVPDFBaseline::Blobs KVPDFBaseline::blobsFromCharPosition(int64_t, int64_t) const { return {}; }
QRectF KVPDFBaseline::rectForRangeInPageString(KVPDFRange) const { return {}; }
QRectF KVPDFBaseline::rectForClearingRange(KVPDFRange) { return {}; }
QRectF KVPDFBaseline::rectForClearing() { return rectForClearingRange(m_rangeInPageString); }
std::vector<KVPDFEditRecord> KVPDFBaseline::contentForClearingRange(KVPDFRange, const KVPDFTextRewrites *) const { return {}; }
std::shared_ptr<KVPDFBaseline> KVPDFBaseline::splitBaselineAtXPos(double) { return nullptr; }
std::shared_ptr<KVPDFBaseline> KVPDFBaseline::splitBaselineAtBlob(const KVPDFTextBlob *) { return nullptr; }
std::shared_ptr<KVPDFBaseline> KVPDFBaseline::splitAtIndex(size_t) { return nullptr; }
void KVPDFBaseline::addBaselineBlobsToPageString(KVPDFPageString &, const KVPDFPageString &) {}
KVPDFGap KVPDFBaseline::findFirstGapOfWidth(float) { return KVPDFEmptyGap; }
KVPDFGap KVPDFBaseline::findGapInGap(KVPDFGap gap, float) { return gap; }
QString KVPDFBaseline::description() const { return QStringLiteral("KVPDFBaseline"); }
