#include "KVColor.h"

#include <algorithm>
#include <cmath>

namespace {
float unit(float value) { return std::isnan(value) ? 0.0f : std::clamp(value, 0.0f, 1.0f); }
}

KVColor::KVColor(const QColor &color)
{
    if (!color.isValid())
        return;
    if (color.spec() == QColor::Cmyk) {
        *this = cmyk(color.cyanF(), color.magentaF(), color.yellowF(), color.blackF(), color.alphaF());
    } else {
        const QColor converted = color.toRgb();
        *this = rgb(converted.redF(), converted.greenF(), converted.blueF(), converted.alphaF());
    }
}

KVColor KVColor::gray(float white, float alpha)
{
    KVColor color;
    color.m_space = Space::Gray;
    color.m_components[0] = unit(white);
    color.m_alpha = unit(alpha);
    return color;
}

KVColor KVColor::rgb(float red, float green, float blue, float alpha)
{
    KVColor color;
    color.m_space = Space::RGB;
    color.m_components = {unit(red), unit(green), unit(blue), 0.0f};
    color.m_alpha = unit(alpha);
    return color;
}

KVColor KVColor::cmyk(float cyan, float magenta, float yellow, float black, float alpha)
{
    KVColor color;
    color.m_space = Space::CMYK;
    color.m_components = {unit(cyan), unit(magenta), unit(yellow), unit(black)};
    color.m_alpha = unit(alpha);
    return color;
}

size_t KVColor::componentCount() const
{
    switch (m_space) {
    case Space::Gray: return 1;
    case Space::RGB: return 3;
    case Space::CMYK: return 4;
    case Space::Invalid: break;
    }
    return 0;
}

QColor KVColor::toQColor() const
{
    const auto &c = m_components;
    switch (m_space) {
    case Space::Gray: return QColor::fromRgbF(c[0], c[0], c[0], m_alpha);
    case Space::RGB: return QColor::fromRgbF(c[0], c[1], c[2], m_alpha);
    case Space::CMYK: return QColor::fromCmykF(c[0], c[1], c[2], c[3], m_alpha);
    case Space::Invalid: break;
    }
    return QColor();
}
