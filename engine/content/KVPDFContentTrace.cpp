#include "KVPDFContentTrace.h"

#include "KVPDFGraphicsState.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectStream.h"

namespace {

constexpr qsizetype kMaxOperandBytes = 40;

QByteArray printable(QByteArrayView bytes)
{
    QByteArray out;
    const qsizetype shown = std::min(bytes.size(), kMaxOperandBytes);
    for (qsizetype k = 0; k < shown; ++k) {
        const auto c = uint8_t(bytes[k]);
        if (c >= 0x20 && c < 0x7F)
            out += char(c);
        else
            out += "\\x" + QByteArray::number(c, 16).rightJustified(2, '0').toUpper();
    }
    if (bytes.size() > shown)
        out += "...";
    return out;
}

QByteArray colourText(const KVColor &colour)
{
    QByteArray out;
    switch (colour.space()) {
    case KVColor::Space::Gray: out = "gray"; break;
    case KVColor::Space::RGB: out = "rgb"; break;
    case KVColor::Space::CMYK: out = "cmyk"; break;
    case KVColor::Space::Invalid: return "none";
    }
    for (float component : colour.components())
        out += ' ' + KVPDFContentTrace::number(component);
    return out;
}

QByteArray objectName(const std::shared_ptr<KVPDFObjectStream> &object)
{
    if (!object)
        return "missing";
    if (object->objectNumber() == 0)
        return "direct";
    return QByteArray::number(qulonglong(object->objectNumber())) + ' ' + QByteArray::number(qulonglong(object->generation()))
           + " R";
}

} // namespace

QByteArray KVPDFContentTrace::number(double value)
{
    if (value == 0)
        return "0";
    return QByteArray::number(value, 'g', 6);
}

QByteArray KVPDFContentTrace::matrix(const QTransform &m)
{
    return number(m.m11()) + ' ' + number(m.m12()) + ' ' + number(m.m21()) + ' ' + number(m.m22()) + ' ' + number(m.dx()) + ' '
           + number(m.dy());
}

void KVPDFContentTrace::line(const KVPDFContentEvent &e, const QByteArray &tail)
{
    QByteArray out(2 * e.formDepth, ' ');
    if (e.synthetic) {
        out += '-';
        for (size_t k = 0; k < e.count(); ++k)
            out += ' ' + number(e.operands[k].number);
    } else {
        out += QByteArray::number(qulonglong(e.range.location)) + '+' + QByteArray::number(qulonglong(e.range.length));
        for (size_t k = 0; k < e.count(); ++k)
            out += ' ' + printable(e.bytes(k));
    }
    out += ' ' + printable(e.keyword) + tail + '\n';
    m_text += out;
}

void KVPDFContentTrace::graphicsState(const KVPDFContentEvent &e)
{
    if (m_keeper && (e.op == KVPDFContentOp::cm || e.op == KVPDFContentOp::q || e.op == KVPDFContentOp::Q))
        line(e, " | CTM " + matrix(m_keeper->state().CTM));
    else if (m_keeper && e.op == KVPDFContentOp::gs)
        line(e, " | CA " + number(m_keeper->state().CA) + " ca " + number(m_keeper->state().ca));
    else
        line(e);
}

void KVPDFContentTrace::colour(const KVPDFContentEvent &e)
{
    if (!m_keeper)
        return line(e);
    const KVPDFGraphicsState &s = m_keeper->state();
    line(e, " | fill " + colourText(s.nonstrokeColor) + " stroke " + colourText(s.strokeColor));
}

void KVPDFContentTrace::textState(const KVPDFContentEvent &e)
{
    if (!m_keeper)
        return line(e);
    const KVPDFGraphicsState &s = m_keeper->state();
    line(e, " | Tc " + number(s.TcharSpacing) + " Tw " + number(s.TwordSpacing) + " Th " + number(s.ThorizontalScaling) + " TL "
                + number(s.Tleading) + " Tf /" + s.Tfont + ' ' + number(s.TfontSize) + " Tr " + QByteArray::number(s.Tmode)
                + " Ts " + number(s.Trise));
}

void KVPDFContentTrace::textPosition(const KVPDFContentEvent &e)
{
    if (!m_keeper)
        return line(e);
    line(e, " | Tm " + matrix(m_keeper->state().textMatrix) + " TL " + number(m_keeper->state().Tleading));
}

void KVPDFContentTrace::textShow(const KVPDFContentEvent &e)
{
    if (!m_keeper)
        return line(e);
    const KVPDFGraphicsState &s = m_keeper->state();
    line(e, " | Tm " + matrix(s.textMatrix) + " Tc " + number(s.TcharSpacing) + " Tw " + number(s.TwordSpacing));
}

void KVPDFContentTrace::xobject(const KVPDFContentEvent &e, const QByteArray &, const std::shared_ptr<KVPDFObjectStream> &object)
{
    line(e, " | " + objectName(object));
}

void KVPDFContentTrace::formBegin(const KVPDFContentEvent &e, const std::shared_ptr<KVPDFObjectStream> &form)
{
    m_text += QByteArray(2 * e.formDepth, ' ') + "form " + objectName(form) + " begin\n";
}

void KVPDFContentTrace::formEnd(const KVPDFContentEvent &e, const std::shared_ptr<KVPDFObjectStream> &form)
{
    m_text += QByteArray(2 * e.formDepth, ' ') + "form " + objectName(form) + " end\n";
}

void KVPDFContentTrace::inlineImage(const KVPDFContentEvent &e, const KVPDFInlineImage &image)
{
    QByteArray out(2 * e.formDepth, ' ');
    out += QByteArray::number(qulonglong(e.range.location)) + '+' + QByteArray::number(qulonglong(e.range.length)) + " BI";
    if (image.parameters)
        for (const auto &[key, value] : image.parameters->value())
            out += " /" + key + ' ' + printable(value ? value->directObject() : QByteArray("?"));
    out += " data " + QByteArray::number(qulonglong(image.data.location)) + '+'
           + QByteArray::number(qulonglong(image.data.length))
           + (!image.ended           ? " unended"
              : image.lengthComputed ? " by length"
                                     : " by EI")
           + '\n';
    m_text += out;
}

void KVPDFContentTrace::fault(KVPDFContentFault fault, uint64_t offset, int depth)
{
    m_text +=
        QByteArray(2 * depth, ' ') + "! " + kvContentFaultName(fault) + " at " + QByteArray::number(qulonglong(offset)) + '\n';
}
