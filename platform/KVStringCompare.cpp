#include "KVStringCompare.h"

namespace {

bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

int sign(qsizetype v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

} // namespace

int compareNumeric(const QString &a, const QString &b)
{
    const char16_t *pa = reinterpret_cast<const char16_t *>(a.constData());
    const char16_t *pb = reinterpret_cast<const char16_t *>(b.constData());
    const qsizetype na = a.size();
    const qsizetype nb = b.size();

    qsizetype i = 0;
    qsizetype j = 0;
    // Decides only when everything else is equal: the first pair of numbers written with
    // different run lengths.
    int leadingZeroTieBreak = 0;

    while (i < na && j < nb) {
        if (!isDigit(pa[i]) || !isDigit(pb[j])) {
            // Also covers a number against a non-digit: the digit's code unit stands for it,
            // and every digit lies on the same side of any non-digit.
            if (pa[i] != pb[j])
                return pa[i] < pb[j] ? -1 : 1;
            ++i;
            ++j;
            continue;
        }

        const qsizetype runStartA = i;
        const qsizetype runStartB = j;
        while (i < na && pa[i] == u'0')
            ++i;
        while (j < nb && pb[j] == u'0')
            ++j;
        const qsizetype significantA = i;
        const qsizetype significantB = j;
        while (i < na && isDigit(pa[i]))
            ++i;
        while (j < nb && isDigit(pb[j]))
            ++j;

        // Without leading zeros, a longer run is a larger number; equal lengths compare digit
        // by digit. No conversion to an integer, so a 40-digit run cannot overflow.
        const qsizetype lengthA = i - significantA;
        const qsizetype lengthB = j - significantB;
        if (lengthA != lengthB)
            return sign(lengthA - lengthB);
        for (qsizetype k = 0; k < lengthA; ++k) {
            if (pa[significantA + k] != pb[significantB + k])
                return pa[significantA + k] < pb[significantB + k] ? -1 : 1;
        }
        if (leadingZeroTieBreak == 0)
            leadingZeroTieBreak = sign((i - runStartA) - (j - runStartB));
    }

    if (i < na)
        return 1;
    if (j < nb)
        return -1;
    return leadingZeroTieBreak;
}
