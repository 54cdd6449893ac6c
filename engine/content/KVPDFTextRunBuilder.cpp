#include "KVPDFTextRunBuilder.h"

#include "KVPDFFont.h"
#include "KVPDFLog.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectStream.h"
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

// The literal string opening at b[p] ("("), decoded into `out`; answers the position after its
// closing ")", or `n` when it is cut.
qsizetype readLiteral(const char *b, qsizetype p, qsizetype n, QByteArray &out)
{
    int depth = 1;
    ++p;
    while (p < n) {
        const char c = b[p++];
        if (c == '\\') {
            if (p >= n)
                break;
            const char e = b[p++];
            switch (e) {
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case '\r': // a line continued: nothing
                if (p < n && b[p] == '\n')
                    ++p;
                break;
            case '\n': break;
            default:
                if (e >= '0' && e <= '7') {
                    int value = e - '0';
                    for (int k = 0; k < 2 && p < n && b[p] >= '0' && b[p] <= '7'; ++k)
                        value = value * 8 + (b[p++] - '0');
                    out += char(value & 0xFF);
                } else {
                    out += e; // \( \) \\ and any other byte stand for themselves
                }
            }
        } else if (c == '(') {
            ++depth;
            out += c;
        } else if (c == ')') {
            if (--depth == 0)
                return p;
            out += c;
        } else if (c == '\r') {
            out += '\n';
            if (p < n && b[p] == '\n')
                ++p;
        } else {
            out += c;
        }
    }
    return n;
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
            p = c == '(' ? readLiteral(b, p, end, element.bytes) : readHex(b, p, end, element.bytes);
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
    double advance = 0; // along the writing direction, in unscaled text space
    bool vertical = false;
    try {
        const std::vector<Element> elements =
            elementsOf(QByteArrayView(data.constData() + range.location, qsizetype(range.length)));
        const std::shared_ptr<KVPDFFont> font = fontFor(state);
        vertical = font && font->isVerticalMode();
        const double size = state.TfontSize;
        const double scale = vertical ? 1.0 : double(state.ThorizontalScaling);
        // In thousandths of an em, like the TJ numbers.
        const double threshold = 50.0 * (font ? double(font->glyphWidth(32)) : 0.0) + 50.0;

        // One pass in content order: the advance, the string bytes, and where gaps break them.
        struct Code {
            uint32_t code;
            int length;
        };
        QByteArray buffer;
        std::vector<qsizetype> breaks;
        double numbers = 0;
        bool anyNumber = false;
        double lead = 0; // the numbers before the first code: the run starts where they end
        auto forEachCode = [&](const QByteArray &bytes, auto &&visit) {
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
                visit(Code{code, length});
            }
        };
        for (const Element &element : elements) {
            if (element.isNumber) {
                anyNumber = true;
                numbers += element.number;
                // A gap only counts between codes: one before the first or after the last
                // separates nothing in this run.
                if (-double(element.number) > threshold && !buffer.isEmpty() && (breaks.empty() || breaks.back() != buffer.size()))
                    breaks.push_back(buffer.size());
                advance += -double(element.number) / 1000.0 * size * scale;
                continue;
            }
            if (buffer.isEmpty())
                lead = advance;
            forEachCode(element.bytes, [&](Code c) {
                const double width = vertical ? -1.0 : font ? double(font->glyphWidth(c.code)) : 0.0;
                const double spacing = double(state.TcharSpacing) + (c.length == 1 && c.code == 32 ? double(state.TwordSpacing) : 0.0);
                advance += vertical ? width * size + spacing : (width * size + spacing) * scale;
            });
            buffer += element.bytes;
        }
        advance = finiteOrZero(advance);
        lead = finiteOrZero(lead);
        if (!breaks.empty() && breaks.back() == buffer.size())
            breaks.pop_back();

        // A show of nothing but numbers: a run that only holds the gap.
        const bool spacer = buffer.isEmpty();
        if (spacer && (!anyNumber || numbers == 0))
            return finishShow(state, advance, vertical);

        QString text;
        bool insertSpaces = false;
        if (font && !spacer) {
            text = font->stringForData(buffer);
            if (!breaks.empty() && !text.contains(QLatin1Char(' '))) {
                insertSpaces = true;
                // The space goes into the text itself rather than through the font, whose code
                // 32 may draw something else.
                text.clear();
                qsizetype from = 0;
                for (qsizetype at : breaks) {
                    text += font->stringForData(QByteArrayView(buffer.constData() + from, at - from));
                    text += QLatin1Char(' ');
                    from = at;
                }
                text += font->stringForData(QByteArrayView(buffer.constData() + from, buffer.size() - from));
            }
            if (text.isNull())
                text = QLatin1String("");
        } else if (spacer) {
            text = QLatin1String("");
        }

        // The text rendering matrix and its linear part.
        QTransform tm = state.textMatrix;
        if (!spacer && lead != 0)
            tm = (vertical ? QTransform::fromTranslate(0, lead) : QTransform::fromTranslate(lead, 0)) * tm;
        const QTransform &ctm = state.CTM;
        const QTransform trm = QTransform(size * state.ThorizontalScaling, 0, 0, size, 0, state.Trise) * tm * ctm;
        const QTransform linear = QTransform(size * state.ThorizontalScaling, 0, 0, size, 0, 0)
                                  * QTransform(tm.m11(), tm.m12(), tm.m21(), tm.m22(), 0, 0)
                                  * QTransform(ctm.m11(), ctm.m12(), ctm.m21(), ctm.m22(), 0, 0);
        const float em = float(linear.m22());
        float ascent = font ? float(font->ascent()) * em : 0.0f;
        float descent = font ? float(font->descent()) * em : 0.0f;
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
        run = std::make_shared<KVPDFTextBlob>(QPointF(trm.dx(), y), ascent, descent, state, stream, range, text);
        run->font = font;
        run->textMatrix = tm;
        if (spacer) {
            const QTransform gap = QTransform(tm.m11(), tm.m12(), tm.m21(), tm.m22(), 0, 0)
                                   * QTransform(ctm.m11(), ctm.m12(), ctm.m21(), ctm.m22(), 0, 0);
            run->width = float(finiteOrZero(vertical ? gap.m21() * advance : gap.m11() * advance));
        }

        if (m_rewrites && !spacer) {
            if (event.op == KVPDFContentOp::Quote || event.op == KVPDFContentOp::DoubleQuote)
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
            qsizetype spaced = -1;
            for (const Element &element : elements) {
                if (element.isNumber) {
                    pending += element.number;
                    if (insertSpaces && spaced != position && std::binary_search(breaks.begin(), breaks.end(), position)) {
                        write(spaceCode);
                        spaced = position;
                    }
                    continue;
                }
                forEachCode(element.bytes, [&](Code c) { write(codeOperand(c.code, c.length)); });
                position += element.bytes.size();
            }
            // A gap after the last code still moves what follows.
            if (pending != 0)
                rewrite += (rewrite.isEmpty() ? "[" : " [") + QByteArray::number(pending, 'g', 6) + "] TJ";
        }
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
    finishShow(state, advance, vertical);
}

void KVPDFTextRunBuilder::finishShow(KVPDFGraphicsState &state, double advance, bool vertical)
{
    if (vertical)
        state.translateTextMatrix(0, advance);
    else
        state.translateTextMatrix(advance, 0);
}
