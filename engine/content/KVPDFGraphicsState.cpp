#include "KVPDFGraphicsState.h"

#include "KVPDFExceptions.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectStream.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr std::array<const char *, 11> kFamilies = {"DeviceGray", "DeviceRGB", "DeviceCMYK", "CalGray",    "CalRGB", "Lab",
                                                    "ICCBased",   "Pattern",   "Indexed",    "Separation", "DeviceN"};

// Rendering modes, caps and joins are small integers; a huge or non-finite operand must not be
// undefined behaviour when truncated.
int32_t toInt(float value)
{
    if (!std::isfinite(value))
        return 0;
    return int32_t(std::clamp(value, -1e6f, 1e6f));
}

// The colour a space starts with when it is set: black in its own terms.
KVColor initialColour(KVPDFColorSpace space)
{
    switch (space) {
    case KVPDFColorSpace::DeviceRGB:
    case KVPDFColorSpace::CalRGB:
    case KVPDFColorSpace::Lab: return KVColor::rgb(0, 0, 0);
    case KVPDFColorSpace::DeviceCMYK: return KVColor::cmyk(0, 0, 0, 1);
    default: return KVColor::gray(0);
    }
}

} // namespace

// ---- KVPDFGraphicsState ------------------------------------------------------------------

void KVPDFGraphicsState::handleTd(float tx, float ty)
{
    textLineMatrix = QTransform::fromTranslate(tx, ty) * textLineMatrix;
    textMatrix = textLineMatrix;
}

void KVPDFGraphicsState::translateTextMatrix(double tx, double ty)
{
    textMatrix = QTransform::fromTranslate(tx, ty) * textMatrix;
}

std::optional<KVPDFColorSpace> KVPDFGraphicsState::colorSpaceForName(QByteArrayView name)
{
    for (size_t k = 0; k < kFamilies.size(); ++k)
        if (name == kFamilies[k])
            return KVPDFColorSpace(k);
    return std::nullopt;
}

bool KVPDFGraphicsState::setColorSpaceName(QByteArrayView name, bool forStroke)
{
    const std::optional<KVPDFColorSpace> space = colorSpaceForName(name);
    if (!space)
        return false;
    (forStroke ? strokeColorSpace : nonstrokeColorSpace) = *space;
    return true;
}

std::optional<KVColor> KVPDFGraphicsState::colorFromElements(std::span<const float> elements, KVPDFColorSpace space)
{
    if (space == KVPDFColorSpace::Separation)
        return KVColor::gray(0);
    switch (elements.size()) {
    case 4: return KVColor::cmyk(elements[0], elements[1], elements[2], elements[3]);
    case 3: return KVColor::rgb(elements[0], elements[1], elements[2]);
    case 1: return KVColor::gray(elements[0]);
    default: return std::nullopt;
    }
}

void KVPDFGraphicsState::setStrokeColorFromElements(std::span<const float> elements)
{
    if (std::optional<KVColor> colour = colorFromElements(elements, strokeColorSpace))
        strokeColor = *colour;
}

void KVPDFGraphicsState::setNonstrokeColorFromElements(std::span<const float> elements)
{
    if (std::optional<KVColor> colour = colorFromElements(elements, nonstrokeColorSpace))
        nonstrokeColor = *colour;
}

void KVPDFGraphicsState::setValuesFromDict(KVPDFObjectDictionary &dictionary)
{
    for (const auto &[key, entry] : dictionary.value()) {
        KVPDFObjectPtr value;
        try {
            value = entry ? entry->resolvedObject() : nullptr;
        } catch (const FolivoException &) {
            continue;
        }
        if (!kvIsNumber(value))
            continue;
        if (key == "CA")
            CA = value->realValue();
        else if (key == "ca")
            ca = value->realValue();
        else if (key == "LW")
            lineWidth = value->realValue();
        else if (key == "LC")
            lineCap = toInt(value->realValue());
        else if (key == "LJ")
            lineJoin = toInt(value->realValue());
        else if (key == "ML")
            miterLimit = value->realValue();
    }
}

QString KVPDFGraphicsState::description() const
{
    return QStringLiteral("CTM %1 %2 %3 %4 %5 %6")
        .arg(CTM.m11(), 0, 'f', 6)
        .arg(CTM.m12(), 0, 'f', 6)
        .arg(CTM.m21(), 0, 'f', 6)
        .arg(CTM.m22(), 0, 'f', 6)
        .arg(CTM.dx(), 0, 'f', 6)
        .arg(CTM.dy(), 0, 'f', 6);
}

// ---- KVPDFGraphicsStateKeeper ------------------------------------------------------------

void KVPDFGraphicsStateKeeper::graphicsState(const KVPDFContentEvent &event)
{
    KVPDFGraphicsState &s = m_state;
    switch (event.op) {
    case KVPDFContentOp::q:
        if (m_saved.size() < kMaxSaved)
            m_saved.push_back(m_state);
        else
            ++m_uncopiedSaves;
        break;
    case KVPDFContentOp::Q:
        if (m_uncopiedSaves > 0) {
            --m_uncopiedSaves;
        } else if (!m_saved.empty()) {
            m_state = std::move(m_saved.back());
            m_saved.pop_back();
        }
        break;
    case KVPDFContentOp::cm:
        s.CTM = QTransform(event.number(0), event.number(1), event.number(2), event.number(3), event.number(4), event.number(5))
                * s.CTM;
        break;
    case KVPDFContentOp::w: s.lineWidth = event.number(0); break;
    case KVPDFContentOp::J: s.lineCap = toInt(event.number(0)); break;
    case KVPDFContentOp::j: s.lineJoin = toInt(event.number(0)); break;
    case KVPDFContentOp::M: s.miterLimit = event.number(0); break;
    case KVPDFContentOp::d:
        if (auto array = kv_cast<KVPDFObjectArray>(event.object(0))) {
            s.dashArray.clear();
            for (const KVPDFObjectPtr &element : array->value())
                s.dashArray.push_back(element ? element->realValue() : 0);
            s.dashPhase = event.number(1);
        }
        break;
    case KVPDFContentOp::gs:
        if (auto dictionary = kv_cast<KVPDFObjectDictionary>(event.resource("ExtGState", event.name(0))))
            s.setValuesFromDict(*dictionary);
        break;
    default: break;
    }
}

void KVPDFGraphicsStateKeeper::setColorSpace(const KVPDFContentEvent &event, bool forStroke)
{
    const QByteArray name = event.name(0);
    std::optional<KVPDFColorSpace> space = KVPDFGraphicsState::colorSpaceForName(name);
    if (!space && !name.isEmpty()) {
        // A resource: a family name, or an array whose first element names the family. An
        // ICC profile counts as its alternate, else as the device space of its component count.
        KVPDFObjectPtr entry = event.resource("ColorSpace", name);
        QByteArray family;
        auto array = kv_cast<KVPDFObjectArray>(entry);
        try {
            if (auto named = kv_cast<KVPDFObjectName>(entry))
                family = named->bytes();
            else if (array && array->count() > 0)
                if (auto first = kv_cast<KVPDFObjectName>(array->value()[0]->resolvedObject()))
                    family = first->bytes();
            if (family == "ICCBased" && array && array->count() > 1) {
                auto profile = kv_cast<KVPDFObjectStream>(array->value()[1]->resolvedObject());
                auto dictionary = profile ? profile->dictionary() : nullptr;
                auto alternate = kv_cast<KVPDFObjectName>(dictionary ? dictionary->resolvedObjectForKey("Alternate") : nullptr);
                if (alternate && KVPDFGraphicsState::colorSpaceForName(alternate->bytes())) {
                    family = alternate->bytes();
                } else if (KVPDFObjectPtr count = dictionary ? dictionary->resolvedObjectForKey("N") : nullptr; kvIsNumber(count)) {
                    const int64_t n = count->longLongValue();
                    family = n == 3 ? "DeviceRGB" : n == 4 ? "DeviceCMYK" : "DeviceGray";
                } else {
                    family.clear();
                }
            }
        } catch (const FolivoException &) {
            family.clear();
        }
        space = KVPDFGraphicsState::colorSpaceForName(family);
    }
    if (!space)
        return;
    (forStroke ? m_state.strokeColorSpace : m_state.nonstrokeColorSpace) = *space;
    if (*space != KVPDFColorSpace::Pattern)
        (forStroke ? m_state.strokeColor : m_state.nonstrokeColor) = initialColour(*space);
}

void KVPDFGraphicsStateKeeper::colour(const KVPDFContentEvent &event)
{
    KVPDFGraphicsState &s = m_state;
    switch (event.op) {
    case KVPDFContentOp::G:
    case KVPDFContentOp::g: {
        const bool stroke = event.op == KVPDFContentOp::G;
        (stroke ? s.strokeColorSpace : s.nonstrokeColorSpace) = KVPDFColorSpace::DeviceGray;
        (stroke ? s.strokeColor : s.nonstrokeColor) = KVColor::gray(event.number(0));
        break;
    }
    case KVPDFContentOp::RG:
    case KVPDFContentOp::rg: {
        const bool stroke = event.op == KVPDFContentOp::RG;
        (stroke ? s.strokeColorSpace : s.nonstrokeColorSpace) = KVPDFColorSpace::DeviceRGB;
        (stroke ? s.strokeColor : s.nonstrokeColor) = KVColor::rgb(event.number(0), event.number(1), event.number(2));
        break;
    }
    case KVPDFContentOp::K:
    case KVPDFContentOp::k: {
        const bool stroke = event.op == KVPDFContentOp::K;
        (stroke ? s.strokeColorSpace : s.nonstrokeColorSpace) = KVPDFColorSpace::DeviceCMYK;
        (stroke ? s.strokeColor : s.nonstrokeColor) =
            KVColor::cmyk(event.number(0), event.number(1), event.number(2), event.number(3));
        break;
    }
    case KVPDFContentOp::CS:
    case KVPDFContentOp::cs: setColorSpace(event, event.op == KVPDFContentOp::CS); break;
    case KVPDFContentOp::SC:
    case KVPDFContentOp::SCN:
    case KVPDFContentOp::sc:
    case KVPDFContentOp::scn: {
        // The components; a pattern's name among them is not one.
        std::array<float, 4> elements{};
        size_t count = 0;
        for (size_t k = 0; k < event.count() && count < elements.size(); ++k)
            if (event.operands[k].kind == KVPDFContentOperand::Number)
                elements[count++] = event.number(k);
        const std::span<const float> given(elements.data(), count);
        if (event.op == KVPDFContentOp::SC || event.op == KVPDFContentOp::SCN)
            s.setStrokeColorFromElements(given);
        else
            s.setNonstrokeColorFromElements(given);
        break;
    }
    default: break;
    }
}

void KVPDFGraphicsStateKeeper::textObject(const KVPDFContentEvent &event)
{
    if (event.op == KVPDFContentOp::BT) {
        m_state.textMatrix = QTransform();
        m_state.textLineMatrix = QTransform();
    }
}

void KVPDFGraphicsStateKeeper::textState(const KVPDFContentEvent &event)
{
    KVPDFGraphicsState &s = m_state;
    switch (event.op) {
    case KVPDFContentOp::Tc: s.TcharSpacing = event.number(0); break;
    case KVPDFContentOp::Tw: s.TwordSpacing = event.number(0); break;
    case KVPDFContentOp::Tz: s.setThorizontalScaling(event.number(0)); break;
    case KVPDFContentOp::TL: s.Tleading = event.number(0); break;
    case KVPDFContentOp::Tf:
        if (event.isName(0)) {
            s.Tfont = event.name(0);
            s.TfontSize = event.number(1);
            s.TfontResources = event.resources ? *event.resources : nullptr;
        }
        break;
    case KVPDFContentOp::Tr: s.Tmode = toInt(event.number(0)); break;
    case KVPDFContentOp::Ts: s.Trise = event.number(0); break;
    default: break;
    }
}

void KVPDFGraphicsStateKeeper::textPosition(const KVPDFContentEvent &event)
{
    KVPDFGraphicsState &s = m_state;
    switch (event.op) {
    case KVPDFContentOp::Td: s.handleTd(event.number(0), event.number(1)); break;
    case KVPDFContentOp::TD:
        s.Tleading = -event.number(1);
        s.handleTd(event.number(0), event.number(1));
        break;
    case KVPDFContentOp::Tm:
        s.textMatrix =
            QTransform(event.number(0), event.number(1), event.number(2), event.number(3), event.number(4), event.number(5));
        s.textLineMatrix = s.textMatrix;
        break;
    case KVPDFContentOp::TStar: s.handleTd(0, -s.Tleading); break;
    default: break;
    }
}

void KVPDFGraphicsStateKeeper::textShow(const KVPDFContentEvent &event)
{
    KVPDFGraphicsState &s = m_state;
    if (event.op == KVPDFContentOp::DoubleQuote) {
        s.TwordSpacing = event.number(0);
        s.TcharSpacing = event.number(1);
    }
    if (event.op == KVPDFContentOp::Quote || event.op == KVPDFContentOp::DoubleQuote)
        s.handleTd(0, -s.Tleading);
    if (m_showHandler)
        m_showHandler(event, s);
}
