#include "KVPDFTextBlob.h"

#include "KVPDFObjectStream.h"

#include <algorithm>
#include <functional>

namespace {

QString rangeText(KVPDFRange range) { return QStringLiteral("{%1, %2}").arg(range.location).arg(range.length); }

} // namespace

KVPDFTextBlob::KVPDFTextBlob(QPointF location, float ascent, float descent, const KVPDFGraphicsState &state,
                             std::shared_ptr<KVPDFObjectStream> contentObject, KVPDFRange dataRange, QString string)
    : KVPDFGraphicsState(state),
      location(location),
      contentObject(std::move(contentObject)),
      dataRange(dataRange),
      string(std::move(string)),
      ascent(ascent),
      descent(descent)
{
}

QRectF KVPDFTextBlob::rectForRangeInPageString(KVPDFRange range) const
{
    const int64_t runStart = int64_t(rangeInPageString.location);
    const int64_t first = std::max(int64_t(range.location), runStart);
    const int64_t last = std::min(int64_t(range.location) + int64_t(range.length) - 1, runStart + int64_t(string.size()) - 1);
    const int64_t count = int64_t(widths.size());
    float before = 0;
    for (int64_t k = 0; k < std::min(first - runStart, count); ++k)
        before += widths[size_t(k)];
    float covered = 0;
    for (int64_t k = std::max<int64_t>(first - runStart, 0); k <= last - runStart && k < count; ++k)
        covered += widths[size_t(k)];
    return QRectF(location.x() + double(before), location.y() + double(descent), double(covered), double(ascent - descent));
}

int KVPDFTextBlob::compare(const KVPDFTextBlob &other) const
{
    if (location.y() != other.location.y())
        return location.y() > other.location.y() ? -1 : 1;
    if (location.x() != other.location.x())
        return location.x() < other.location.x() ? -1 : 1;
    if (dataRange.location != other.dataRange.location)
        return dataRange.location < other.dataRange.location ? -1 : 1;
    return 0;
}

int KVPDFTextBlob::orderBlobs(const KVPDFTextBlob &other) const
{
    if (contentObject == other.contentObject)
        return other.dataRange.location > dataRange.location ? -1 : 1;
    return std::less<const KVPDFObjectStream *>()(contentObject.get(), other.contentObject.get()) ? -1 : 1;
}

std::optional<KVPDFRange> KVPDFTextBlob::clearContentFrom(const QByteArray &data, KVPDFRange dataRange, KVPDFRange stringRange)
{
    if (stringRange.length == 0)
        return std::nullopt;
    const uint64_t size = uint64_t(data.size());
    const char *b = data.constData();
    for (uint64_t p = dataRange.location + dataRange.length; p < size; ++p) {
        if (b[p] == '"' || b[p] == '\'')
            return KVPDFRange{dataRange.location, p + 1 - dataRange.location};
        if (b[p] == 'T' && p + 1 < size && (b[p + 1] == 'J' || b[p + 1] == 'j'))
            return KVPDFRange{dataRange.location, p + 2 - dataRange.location};
    }
    return dataRange;
}

std::optional<KVPDFTextBlob::Clearing> KVPDFTextBlob::contentForClearing() const
{
    qsizetype n = string.size();
    if (n > 0 && string.back() == QLatin1Char('\n'))
        --n;
    if (n == 0 || !contentObject)
        return std::nullopt;
    std::optional<KVPDFRange> range = clearContentFrom(contentObject->decodedData(), dataRange, {0, uint64_t(n)});
    if (!range)
        return std::nullopt;
    Clearing clearing{*range, contentObject, std::nullopt};
    const QByteArray data = contentObject->decodedData();
    const uint64_t end = range->location + range->length;
    if (range->length > 0 && end <= uint64_t(data.size())) {
        const char op = data[qsizetype(end - 1)];
        if (op == '\'')
            clearing.replacement = QByteArrayLiteral("() '");
        else if (op == '"')
            clearing.replacement = QByteArrayLiteral("() \"");
    }
    return clearing;
}

QString KVPDFTextBlob::description() const
{
    // One substitution pass, so a "%1" in the run's text stays as it is.
    return QStringLiteral("KVPDFTextBlob <%1>{%2, %3}: '%4' (%5, %6) %7 %8")
        .arg(QStringLiteral("%1").arg(quintptr(this) & 0xFFFFFFFFu, 8, 16, QLatin1Char('0')),
             contentObject ? contentObject->description() : QStringLiteral("(null)"), rangeText(dataRange), string,
             QString::number(location.x(), 'f', 1), QString::number(location.y(), 'f', 1), QString::number(double(width), 'f', 1),
             rangeText(rangeInPageString));
}
