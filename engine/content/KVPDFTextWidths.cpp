#include "KVPDFTextWidths.h"

#include "KVPDFFont.h"
#include "KVPDFGraphicsState.h"
#include "KVPDFObjectStream.h"
#include "KVPDFTextBlob.h"
#include "KVPDFTextRunBuilder.h"

#include <cmath>
#include <exception>

namespace {

double scaleAlong(const QTransform &matrix)
{
    return std::fabs(matrix.m11() != 0 ? matrix.m11() : matrix.m12());
}

} // namespace

std::vector<float> KVPDFTextWidths::measure(QByteArrayView operand, const KVPDFFont *font, const KVPDFGraphicsState &state,
                                            const QString &text)
{
    std::vector<float> widths(size_t(text.size()), 0.0f);
    if (!font || text.isEmpty())
        return widths;

    // The strings joined as the builder joins them, with each TJ number at the byte it precedes.
    QByteArray buffer;
    std::vector<std::pair<qsizetype, double>> numbers;
    for (const KVPDFTextRunBuilder::Element &element : KVPDFTextRunBuilder::elementsOf(operand)) {
        if (element.isNumber)
            numbers.emplace_back(buffer.size(), double(element.number));
        else
            buffer += element.bytes;
    }

    const double size = state.TfontSize;
    const double scale = double(state.ThorizontalScaling) * scaleAlong(state.textMatrix) * scaleAlong(state.CTM);
    const qsizetype count = text.size();
    qsizetype character = 0;
    size_t nextNumber = 0;
    double carried = 0; // the width of codes that decoded to nothing before the first character
    bool first = true;
    qsizetype position = 0;
    while (position < buffer.size() && character < count) {
        double k = 0;
        while (nextNumber < numbers.size() && numbers[nextNumber].first <= position)
            k += numbers[nextNumber++].second;
        // Numbers before the first code already moved the run's location there.
        if (first)
            k = 0;
        const qsizetype before = position;
        uint32_t code = 0;
        int length = 1;
        if (!font->nextCode(buffer, position, code, length) || position <= before)
            break;
        const QString codeText = font->stringForCode(code);

        // A space the builder inserted for the gap: the text has it, the code does not.
        if (!first && k != 0 && text.at(character) == QLatin1Char(' ') && !codeText.startsWith(QLatin1Char(' '))) {
            widths[size_t(character++)] = float(-k / 1000.0 * size * scale);
            k = 0;
            if (character >= count)
                break;
        }
        first = false;

        double width = (-k / 1000.0 + double(font->glyphWidth(code))) * size + double(state.TcharSpacing);
        if (length == 1 && code == 32)
            width += double(state.TwordSpacing);
        width *= scale;
        if (!std::isfinite(width))
            width = 0;

        if (codeText.isEmpty()) {
            if (character > 0)
                widths[size_t(character - 1)] += float(width);
            else
                carried += width;
            continue;
        }
        widths[size_t(character)] = float(width + carried);
        carried = 0;
        character = std::min(count, character + codeText.size());
    }
    return widths;
}

bool KVPDFTextWidths::measureRun(KVPDFTextBlob &run)
{
    if (run.string.isEmpty() || !run.font || !run.contentObject)
        return false;
    QByteArray data;
    try {
        data = run.contentObject->decodedData();
    } catch (const std::exception &) {
        return false;
    }
    const KVPDFRange range = run.dataRange;
    if (range.location > uint64_t(data.size()) || range.length > uint64_t(data.size()) - range.location)
        return false;
    run.widths = measure(QByteArrayView(data.constData() + range.location, qsizetype(range.length)), run.font.get(),
                         run.gstate(), run.string);
    float sum = 0;
    for (float width : run.widths)
        sum += width;
    if (sum != 0)
        run.width = sum;
    return true;
}
