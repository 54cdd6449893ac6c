#include "KVPDFTextRunBuilder.h"

#include "KVPDFFont.h"
#include "KVPDFLog.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectStream.h"
#include "KVPDFObjectString.h"
#include "KVPDFParser.h"
#include "KVPDFTextBlob.h"

#include <QPointF>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <exception>
#include <mutex>

namespace {

const QString kOutOfRange = QStringLiteral("Failed to parse text blob. Content out of range.");

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The hex string opening at b[p] ("<"); a lone last digit counts as followed by 0.
qsizetype readHex(const char *b, qsizetype p, qsizetype n, QByteArray &out)
{
    ++p;
    int high = -1;
    while (p < n && b[p] != '>') {
        const int value = hexValue(b[p++]);
        if (value < 0)
            continue;
        if (high < 0) {
            high = value;
        } else {
            out += char(high * 16 + value);
            high = -1;
        }
    }
    if (high >= 0)
        out += char(high * 16);
    return p < n ? p + 1 : n;
}

// A code as a show operand of its own: one byte as a literal when printable, else hex.
QByteArray codeOperand(uint32_t code, int length)
{
    if (length <= 1) {
        const char c = char(code & 0xFF);
        if (c >= 0x20 && c <= 0x7E) {
            if (c == '(' || c == ')' || c == '\\')
                return QByteArray("(\\") + c + ')';
            return QByteArray("(") + c + ')';
        }
        return '<' + QByteArray::number(code & 0xFF, 16).rightJustified(2, '0') + '>';
    }
    return '<' + QByteArray::number(code, 16).toUpper().rightJustified(2 * length, '0') + '>';
}

double finiteOrZero(double value) { return std::isfinite(value) ? value : 0.0; }

} // namespace

KVPDFTextRunBuilder::KVPDFTextRunBuilder(KVPDFPage &page, std::shared_ptr<KVPDFObjectStream> contentStream,
                                         std::vector<std::shared_ptr<KVPDFTextBlob>> &runs, KVPDFTextRewrites *rewrites)
    : m_page(page), m_contentStream(std::move(contentStream)), m_runs(runs), m_rewrites(rewrites), m_pageResources(page.resources())
{
}

void KVPDFTextRunBuilder::attach(KVPDFGraphicsStateKeeper &keeper)
{
    keeper.setShowHandler([this](const KVPDFContentEvent &event, KVPDFGraphicsState &state) { show(event, state); });
}

std::vector<KVPDFTextRunBuilder::Element> KVPDFTextRunBuilder::elementsOf(QByteArrayView operand)
{
    std::vector<Element> elements;
    const char *b = operand.data();
    qsizetype p = 0;
    qsizetype end = operand.size();
    if (end > 0 && b[0] == '[') {
        p = 1;
        if (b[end - 1] == ']')
            --end;
    }
    while (p < end) {
        const char c = b[p];
        if (c == '(' || c == '<') {
            Element element;
            p = c == '(' ? qsizetype(KVPDFObjectString::readLiteral(b, uint64_t(end), uint64_t(p) + 1, element.bytes))
                         : readHex(b, p, end, element.bytes);
            elements.push_back(std::move(element));
        } else if (kvIsNumeric(uint8_t(c))) {
            qsizetype q = p;
            while (q < end && kvIsNumeric(uint8_t(b[q])))
                ++q;
            Element element;
            element.isNumber = true;
            element.number = float(finiteOrZero(KVPDFObjectStrToFloat(b + p, b + q)));
            elements.push_back(std::move(element));
            p = q;
        } else {
            ++p;
        }
    }
    return elements;
}

std::shared_ptr<KVPDFFont> KVPDFTextRunBuilder::fontFor(const KVPDFGraphicsState &state)
{
    if (state.Tfont.isEmpty())
        return nullptr;
    const std::shared_ptr<KVPDFObjectDictionary> &resources = state.TfontResources;
    const auto key = std::make_pair(static_cast<const KVPDFObjectDictionary *>(resources.get()), state.Tfont);
    if (auto it = m_fonts.find(key); it != m_fonts.end())
        return it->second.font;
    std::shared_ptr<KVPDFFont> font = resources ? m_page.fontNamed(resources, state.Tfont) : nullptr;
    m_fonts.emplace(key, CachedFont{resources, font});
    m_page.addPageFont(state.Tfont, font, resources == m_pageResources);
    return font;
}

struct KVPDFTextRunBuilder::Walk {
    QByteArray buffer;             // the codes' bytes, in order
    std::vector<qsizetype> breaks; // buffer positions of wide gaps between codes
    double advance = 0;            // along the writing direction, in unscaled text space
    double lead = 0;               // the part of it before the first code
    double numbers = 0;            // the TJ numbers' sum
};

namespace {

// Calls visit(code, length) for each code of `bytes`: the font's codes, else one per byte.
template <typename Visit>
void forEachCode(const KVPDFFont *font, const QByteArray &bytes, Visit &&visit)
{
    qsizetype position = 0;
    while (position < bytes.size()) {
        const qsizetype before = position;
        uint32_t code = 0;
        int length = 1;
        if (font) {
            if (!font->nextCode(bytes, position, code, length) || position <= before)
                break;
        } else {
            code = uint8_t(bytes[position++]);
        }
        visit(code, length);
    }
}

} // namespace

KVPDFTextRunBuilder::Walk KVPDFTextRunBuilder::walk(const std::vector<Element> &elements, const KVPDFFont *font,
                                                    const KVPDFGraphicsState &state, bool vertical, double threshold)
{
    Walk out;
    const double size = state.TfontSize;
    const double scale = vertical ? 1.0 : double(state.ThorizontalScaling);
    for (const Element &element : elements) {
        if (element.isNumber) {
            out.numbers += element.number;
            // A gap only counts between codes: one before the first or after the last
            // separates nothing in this run (the last is dropped below).
            if (-double(element.number) > threshold && !out.buffer.isEmpty()
                && (out.breaks.empty() || out.breaks.back() != out.buffer.size()))
                out.breaks.push_back(out.buffer.size());
            out.advance += -double(element.number) / 1000.0 * size * scale;
            continue;
        }
        if (out.buffer.isEmpty())
            out.lead = out.advance;
        forEachCode(font, element.bytes, [&](uint32_t code, int length) {
            const double width = vertical ? -1.0 : font ? double(font->glyphWidth(code)) : 0.0;
            const double spacing = double(state.TcharSpacing) + (length == 1 && code == 32 ? double(state.TwordSpacing) : 0.0);
            out.advance += vertical ? width * size + spacing : (width * size + spacing) * scale;
        });
        out.buffer += element.bytes;
    }
    if (!out.breaks.empty() && out.breaks.back() == out.buffer.size())
        out.breaks.pop_back();
    out.advance = finiteOrZero(out.advance);
    out.lead = finiteOrZero(out.lead);
    return out;
}

QString KVPDFTextRunBuilder::textOf(const KVPDFFont &font, const Walk &walked, bool *spaced)
{
    QString text = font.stringForData(walked.buffer);
    *spaced = !walked.breaks.empty() && !text.contains(QLatin1Char(' '));
    if (*spaced) {
        // The space goes into the text itself rather than through the font, whose code 32 may
        // draw something else.
        text.clear();
        qsizetype from = 0;
        for (qsizetype at : walked.breaks) {
            text += font.stringForData(QByteArrayView(walked.buffer.constData() + from, at - from));
            text += QLatin1Char(' ');
            from = at;
        }
        text += font.stringForData(QByteArrayView(walked.buffer.constData() + from, walked.buffer.size() - from));
    }
    return text.isNull() ? QString(QLatin1String("")) : text;
}

QByteArray KVPDFTextRunBuilder::rewriteOf(const std::vector<Element> &elements, const KVPDFFont *font, const Walk &walked,
                                          bool spaced, KVPDFContentOp op)
{
    QByteArray rewrite;
    if (op == KVPDFContentOp::Quote || op == KVPDFContentOp::DoubleQuote)
        rewrite = "T* ";
    double pending = 0;
    auto write = [&](const QByteArray &code) {
        if (!rewrite.isEmpty())
            rewrite += ' ';
        if (pending != 0)
            rewrite += '[' + QByteArray::number(pending, 'g', 6) + ' ' + code + "] TJ";
        else
            rewrite += code + " Tj";
        pending = 0;
    };
    const QByteArray spaceCode = font && font->isTwoByte() ? QByteArray("<0020>") : QByteArray("( )");
    qsizetype position = 0;
    qsizetype spacedAt = -1;
    for (const Element &element : elements) {
        if (element.isNumber) {
            pending += element.number;
            if (spaced && spacedAt != position && std::binary_search(walked.breaks.begin(), walked.breaks.end(), position)) {
                write(spaceCode);
                spacedAt = position;
            }
            continue;
        }
        forEachCode(font, element.bytes, [&](uint32_t code, int length) { write(codeOperand(code, length)); });
        position += element.bytes.size();
    }
    // A gap after the last code still moves what follows.
    if (pending != 0)
        rewrite += (rewrite.isEmpty() ? "[" : " [") + QByteArray::number(pending, 'g', 6) + "] TJ";
    return rewrite;
}

std::shared_ptr<KVPDFTextBlob> KVPDFTextRunBuilder::makeRun(const KVPDFContentEvent &event, const KVPDFGraphicsState &state,
                                                            const std::shared_ptr<KVPDFFont> &font, const Walk &walked,
                                                            bool vertical, QString text) const
{
    const bool spacer = walked.buffer.isEmpty();
    const double size = state.TfontSize;
    QTransform tm = state.textMatrix;
    if (!spacer && walked.lead != 0)
        tm = (vertical ? QTransform::fromTranslate(0, walked.lead) : QTransform::fromTranslate(walked.lead, 0)) * tm;
    const QTransform tmLinear(tm.m11(), tm.m12(), tm.m21(), tm.m22(), 0, 0);
    const QTransform &ctm = state.CTM;
    const QTransform ctmLinear(ctm.m11(), ctm.m12(), ctm.m21(), ctm.m22(), 0, 0);
    const QTransform trm = QTransform(size * state.ThorizontalScaling, 0, 0, size, 0, state.Trise) * tm * ctm;

    // One em up the page; a run without the font's metrics takes one em each way.
    const float em = float((QTransform(size * state.ThorizontalScaling, 0, 0, size, 0, 0) * tmLinear * ctmLinear).m22());
    float ascent = font ? font->ascent() * em : 0.0f;
    float descent = font ? font->descent() * em : 0.0f;
    if (ascent == 0)
        ascent = em;
    ascent = std::fabs(ascent);
    if (descent == 0)
        descent = em;
    if (descent > 0)
        descent = -descent;

    double y = trm.dy();
    const double previousY = m_runs.empty() ? 0.0 : m_runs.back()->location.y();
    if (std::fabs(y - previousY) <= kBaselineSnap)
        y = previousY;

    const std::shared_ptr<KVPDFObjectStream> &stream = event.stream && *event.stream ? *event.stream : m_contentStream;
    const KVPDFRange range = event.operands[event.op == KVPDFContentOp::DoubleQuote ? 2 : 0].range;
    auto run = std::make_shared<KVPDFTextBlob>(QPointF(trm.dx(), y), ascent, descent, state, stream, range, std::move(text));
    run->font = font;
    run->textMatrix = tm;
    if (spacer) {
        const QTransform gap = tmLinear * ctmLinear;
        run->width = float(finiteOrZero(vertical ? gap.m21() * walked.advance : gap.m11() * walked.advance));
    }
    return run;
}

void KVPDFTextRunBuilder::show(const KVPDFContentEvent &event, KVPDFGraphicsState &state)
{
    const size_t index = event.op == KVPDFContentOp::DoubleQuote ? 2 : 0;
    if (index >= event.count() || !event.data)
        return;
    const KVPDFContentOperand &operand = event.operands[index];
    if (operand.kind != KVPDFContentOperand::String && operand.kind != KVPDFContentOperand::HexString
        && operand.kind != KVPDFContentOperand::Array)
        return;
    const QByteArray &data = *event.data;
    const KVPDFRange range = operand.range;
    if (range.location > uint64_t(data.size()) || range.length > uint64_t(data.size()) - range.location) {
        kvLog(kOutOfRange);
        return;
    }
    if (range.length == 0)
        return;

    std::shared_ptr<KVPDFTextBlob> run;
    QByteArray rewrite;
    Walk walked;
    bool vertical = false;
    try {
        const std::vector<Element> elements =
            elementsOf(QByteArrayView(data.constData() + range.location, qsizetype(range.length)));
        const std::shared_ptr<KVPDFFont> font = fontFor(state);
        vertical = font && font->isVerticalMode();
        // In thousandths of an em, like the TJ numbers.
        const double threshold = 50.0 * (font ? double(font->glyphWidth(32)) : 0.0) + 50.0;
        walked = walk(elements, font.get(), state, vertical, threshold);
        // A show of nothing but numbers gives a run that only holds the gap, if there is one.
        const bool spacer = walked.buffer.isEmpty();
        if (spacer && walked.numbers == 0) {
            finishShow(state, walked.advance, vertical);
            return;
        }
        bool spaced = false;
        QString text = spacer ? QString(QLatin1String("")) : font ? textOf(*font, walked, &spaced) : QString();
        run = makeRun(event, state, font, walked, vertical, std::move(text));
        if (m_rewrites && !spacer)
            rewrite = rewriteOf(elements, font.get(), walked, spaced, event.op);
    } catch (const std::exception &) {
        kvLog(kOutOfRange);
        return;
    }

    {
        std::lock_guard<std::mutex> guard(KVPDFPageLock);
        m_runs.push_back(run);
        if (m_rewrites && !rewrite.isEmpty())
            (*m_rewrites)[run.get()] = rewrite;
    }
    finishShow(state, walked.advance, vertical);
}

void KVPDFTextRunBuilder::finishShow(KVPDFGraphicsState &state, double advance, bool vertical)
{
    if (vertical)
        state.translateTextMatrix(0, advance);
    else
        state.translateTextMatrix(advance, 0);
}
