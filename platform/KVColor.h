#pragma once
// A colour as PDF content states it: gray, RGB or CMYK components and an alpha. QColor has no
// gray space, so a gray colour that went through it came back as RGB and was written with the
// wrong operator; this type keeps the space it was given. It converts to QColor for drawing.
//
// Components and alpha are kept in 0..1: the named constructors clamp, and NaN counts as 0, so
// equality is plain comparison. A value type: copies are independent, nothing is shared, and
// nothing throws.
#include <QColor>

#include <array>
#include <cstdint>
#include <span>

class KVColor {
public:
    enum class Space : uint8_t { Invalid, Gray, RGB, CMYK };

    // Invalid.
    KVColor() = default;
    // Implicit, so QColor arguments keep working: a CMYK colour stays CMYK, every other valid
    // colour (RGB, HSV, HSL, extended RGB) becomes RGB, an invalid one stays invalid.
    KVColor(const QColor &color);

    static KVColor gray(float white, float alpha = 1.0f);
    static KVColor rgb(float red, float green, float blue, float alpha = 1.0f);
    static KVColor cmyk(float cyan, float magenta, float yellow, float black, float alpha = 1.0f);

    bool isValid() const { return m_space != Space::Invalid; }
    Space space() const { return m_space; }
    // 1, 3 or 4 components in PDF order; none for an invalid colour.
    std::span<const float> components() const { return {m_components.data(), componentCount()}; }
    float alpha() const { return m_alpha; }

    // Gray becomes the RGB colour of equal parts; an invalid colour gives an invalid QColor.
    QColor toQColor() const;

    bool operator==(const KVColor &) const = default;

private:
    size_t componentCount() const;

    Space m_space = Space::Invalid;
    std::array<float, 4> m_components{};
    float m_alpha = 1.0f;
};
