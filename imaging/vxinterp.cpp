// Sampling an image between pixels and beyond its edges.
#include "imaging/vximage.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float kPi = 3.14159265358979f;

float Cube(float v) { return v * v * v; }
float PosCube(float v) { return v > 0 ? v * v * v : 0.0f; }

float Sinc(float t)
{
    if (t == 0)
        return 1.0f;
    return std::sin(kPi * t) / (kPi * t);
}

// Interpolation kernels by method id (3 to 16).
float Kernel(std::uint8_t method, float t)
{
    const float at = std::fabs(t);
    switch (method) {
    case 3:  // cubic B-spline
        if (t > 2)
            return 0;
        return (PosCube(t + 2) - 4 * PosCube(t + 1) + 6 * PosCube(t) - 4 * PosCube(t - 1)) / 6.0f;
    case 4:  // cubic convolution, a = -1
        if (at < 1)
            return 1 - 2 * t * t + Cube(at);
        if (at < 2)
            return 4 - 8 * at + 5 * t * t - Cube(at);
        return 0;
    case 5: {  // cubic convolution, a = -0.5
        const float a = -0.5f;
        if (at < 1)
            return (a + 2) * Cube(at) - (a + 3) * t * t + 1;
        if (at < 2)
            return a * Cube(at) - 5 * a * t * t + 8 * a * at - 4 * a;
        return 0;
    }
    case 6:  // Lanczos, radius 6
        if (at > 6)
            return 0;
        if (t == 0)
            return 1;
        return Sinc(t) * Sinc(t / 6.0f);
    case 7:  // box
        return (t >= -0.5f && t < 0.5f) ? 1.0f : 0.0f;
    case 8:  // Hermite
        return at < 1 ? (2 * at - 3) * t * t + 1 : 0.0f;
    case 9:  // scaled Hermite
        return at < 1 ? 0.92f * (2 * at - 3) * t * t + 1 : 0.0f;
    case 10:  // sinc
        return Sinc(t);
    case 11:  // Blackman
        return 0.42f + 0.5f * std::cos(kPi * t) + 0.08f * std::cos(2 * kPi * t);
    case 12:  // Bessel
        if (t == 0)
            return kPi / 4;
    {
        // J1 is odd; the library function takes only non-negative arguments.
        const double v = std::cyl_bessel_j(1.0, static_cast<double>(kPi * at));
        return static_cast<float>((t < 0 ? -v : v) / (2.0 * t));
    }
    case 13:  // Gaussian
        return std::exp(-2 * t * t) * 0.7978846f;
    case 14:  // quadratic
        if (t < -1.5f)
            return 0;
        if (t < -0.5f)
            return 0.5f * (t + 1.5f) * (t + 1.5f);
        if (t < 0.5f)
            return 0.75f - t * t;
        if (t < 1.5f)
            return 0.5f * (t - 1.5f) * (t - 1.5f);
        return 0;
    case 15:  // Mitchell-Netravali, B = C = 1/3
        if (at < 1)
            return (7.0f / 6.0f) * Cube(at) - 2 * t * t + 8.0f / 9.0f;
        if (at < 2)
            return -(7.0f / 18.0f) * Cube(at) + 2 * t * t - (10.0f / 3.0f) * at + 16.0f / 9.0f;
        return 0;
    case 16:  // Catmull-Rom
        if (at < 1)
            return 0.5f * (3 * Cube(at) - 5 * t * t + 2);
        if (at < 2)
            return 0.5f * (-Cube(at) + 5 * t * t - 8 * at + 4);
        return 0;
    }
    return 0;
}

bool IsKernel(std::uint8_t method) { return method >= 3 && method <= 16; }

// Integer part toward minus infinity, for coordinates already kept in range.
std::int32_t FloorInt(float v)
{
    std::int32_t i = static_cast<std::int32_t>(v);
    if (v < 0)
        --i;
    return i;
}

std::uint8_t Clamp255(float v)
{
    if (!(v > 0))
        return 0;
    if (v > 255)
        return 255;
    return static_cast<std::uint8_t>(v);
}

}  // namespace

void VxImage::FoldCoordinates(std::int32_t& x, std::int32_t& y, std::uint8_t mode) const
{
    if (ContainsPoint(x, y))
        return;
    const std::int32_t w = m_header.biWidth, h = m_header.biHeight;
    if (w <= 0 || h <= 0)
        return;
    switch (mode) {
    case 4:
        x %= w;
        if (x < 0)
            x += w;
        y %= h;
        if (y < 0)
            y += h;
        break;
    case 5:
        x = std::clamp(x, 0, w - 1);
        y = std::clamp(y, 0, h - 1);
        break;
    case 6:
        if (x < 0)
            x = static_cast<std::int32_t>((-static_cast<std::int64_t>(x)) % w);
        else if (x >= w)
            x = w - (x % w) - 1;
        if (y < 0)
            y = static_cast<std::int32_t>((-static_cast<std::int64_t>(y)) % h);
        else if (y >= h)
            y = h - (y % h) - 1;
        break;
    }
}

void VxImage::FoldCoordinates(float& x, float& y, std::uint8_t mode) const
{
    const float w = static_cast<float>(m_header.biWidth), h = static_cast<float>(m_header.biHeight);
    if (w <= 0 || h <= 0 || (x >= 0 && y >= 0 && x < w && y < h))
        return;
    switch (mode) {
    case 4:
        x = std::fmod(x, w);
        if (x < 0)
            x += w;
        y = std::fmod(y, h);
        if (y < 0)
            y += h;
        break;
    case 5:
        x = std::clamp(x, 0.0f, w - 1);
        y = std::clamp(y, 0.0f, h - 1);
        break;
    case 6:
        if (x < 0)
            x = std::fmod(-x, w);
        else if (x >= w)
            x = w - (std::fmod(x, w) + 1);
        if (y < 0)
            y = std::fmod(-y, h);
        else if (y >= h)
            y = h - (std::fmod(y, h) + 1);
        break;
    }
}

RGBQUAD VxImage::GetColorBeyondEdge(std::int32_t x, std::int32_t y, std::uint8_t mode, const RGBQUAD* fill) const
{
    if (m_block && ContainsPoint(x, y))
        return GetPixelColorUnchecked(x, y);
    RGBQUAD color = fill ? *fill : RGBQUAD{255, 255, 255, 0};
    if (!m_block)
        return color;
    switch (mode) {
    case 2:
        if (m_info.transparentIndex != -1)
            return GetBpp() < 24 ? GetPaletteColor(static_cast<std::uint8_t>(m_info.transparentIndex))
                                 : m_info.transparentColor;
        return color;
    case 3:
        if (m_alpha) {
            color.rgbReserved = 0;
            return color;
        }
        if (m_info.transparentIndex >= 0)
            return GetTransparentColor();
        return color;
    case 4:
    case 5:
    case 6:
        FoldCoordinates(x, y, mode);
        return ContainsPoint(x, y) ? GetPixelColorUnchecked(x, y) : color;
    }
    return color;
}

RGBQUAD VxImage::SampleInterpolated(float x, float y, std::uint8_t method, std::uint8_t mode, const RGBQUAD* fill)
{
    // Coordinates far beyond any image are kept in a range where the integer
    // conversions below are defined; NaN counts as far outside.
    constexpr float kFar = 1.0e7f;
    x = std::isnan(x) ? -kFar : std::clamp(x, -kFar, kFar);
    y = std::isnan(y) ? -kFar : std::clamp(y, -kFar, kFar);
    std::int32_t xi = FloorInt(x), yi = FloorInt(y);
    const std::int32_t w = m_header.biWidth, h = m_header.biHeight;

    if (method == 1)
        return GetColorBeyondEdge(static_cast<std::int32_t>(x + 0.5f), static_cast<std::int32_t>(y + 0.5f), mode,
                                  fill);

    bool far;
    if (!IsKernel(method))
        far = xi < -1 || xi >= w || yi < -1 || yi >= h;
    else if (method == 6)
        far = xi + 6 < 0 || xi - 5 >= w || yi + 6 < 0 || yi - 5 >= h;
    else
        far = xi + 2 < 0 || xi - 1 >= w || yi + 2 < 0 || yi - 1 >= h;
    if (far) {
        if (mode == 1 || mode == 2 || mode == 3)
            return GetColorBeyondEdge(-999, -999, mode, fill);
        FoldCoordinates(x, y, mode);
        xi = FloorInt(x);
        yi = FloorInt(y);
    }

    if (!IsKernel(method)) {
        if (m_block && xi >= 0 && xi + 1 < w && yi >= 0 && yi + 1 < h && !IsIndexed()) {
            // 8-bit fixed point straight on the rows.
            const std::uint32_t ix = static_cast<std::uint32_t>((x - static_cast<float>(xi)) * 256);
            const std::uint32_t iy = static_cast<std::uint32_t>((y - static_cast<float>(yi)) * 256);
            const std::uint32_t ixy = (ix * iy) >> 8;
            const std::uint32_t w00 = 256 - ix - iy + ixy, w10 = ix - ixy, w01 = iy - ixy, w11 = ixy;
            const std::uint8_t* p0 = GetPixelPointer(xi, yi);
            const std::uint8_t* p1 = p0 + m_info.rowWidth;
            RGBQUAD out;
            std::uint8_t* o = &out.rgbBlue;
            for (int k = 0; k < 3; ++k)
                o[k] = static_cast<std::uint8_t>((w00 * p0[k] + w10 * p0[3 + k] + w01 * p1[k] + w11 * p1[3 + k]) >> 8);
            if (m_alpha) {
                const std::uint8_t* a0 = m_alpha + static_cast<std::size_t>(yi) * w + xi;
                const std::uint8_t* a1 = a0 + w;
                out.rgbReserved = static_cast<std::uint8_t>((w00 * a0[0] + w10 * a0[1] + w01 * a1[0] + w11 * a1[1]) >> 8);
            } else {
                out.rgbReserved = 0;
            }
            return out;
        }
        const float tx = x - static_cast<float>(xi), ty = y - static_cast<float>(yi);
        const float w11 = tx * ty, w10 = tx - w11, w01 = ty - w11, w00 = 1 - tx - w01;
        const RGBQUAD c00 = GetColorBeyondEdge(xi, yi, mode, fill), c10 = GetColorBeyondEdge(xi + 1, yi, mode, fill);
        const RGBQUAD c01 = GetColorBeyondEdge(xi, yi + 1, mode, fill),
                      c11 = GetColorBeyondEdge(xi + 1, yi + 1, mode, fill);
        auto mix = [&](std::uint8_t RGBQUAD::*ch) {
            return static_cast<std::uint8_t>(
                std::clamp(w00 * static_cast<float>(c00.*ch) + w10 * static_cast<float>(c10.*ch) +
                               w01 * static_cast<float>(c01.*ch) + w11 * static_cast<float>(c11.*ch),
                           0.0f, 255.0f));
        };
        RGBQUAD out{mix(&RGBQUAD::rgbBlue), mix(&RGBQUAD::rgbGreen), mix(&RGBQUAD::rgbRed), 0};
        if (m_alpha)
            out.rgbReserved = mix(&RGBQUAD::rgbReserved);
        return out;
    }

    const int taps = method == 6 ? 12 : 4;
    const int back = method == 6 ? 5 : 1;
    float wx[12], wy[12];
    for (int s = 0; s < taps; ++s) {
        wx[s] = Kernel(method, static_cast<float>(xi + s - back) - x);
        wy[s] = Kernel(method, static_cast<float>(yi + s - back) - y);
    }
    const bool inside = m_block && !IsIndexed() && xi - back >= 0 && yi - back >= 0 && xi - back + taps <= w &&
                        yi - back + taps <= h;
    float sum[4] = {0, 0, 0, 0};
    for (int v = 0; v < taps; ++v) {
        const std::int32_t py = yi + v - back;
        for (int u = 0; u < taps; ++u) {
            const std::int32_t px = xi + u - back;
            const float wgt = wy[v] * wx[u];
            if (inside) {
                const std::uint8_t* p = GetPixelPointer(px, py);
                sum[0] += wgt * p[0];
                sum[1] += wgt * p[1];
                sum[2] += wgt * p[2];
                if (m_alpha)
                    sum[3] += wgt * GetAlphaAtUnchecked(px, py);
            } else {
                const RGBQUAD c = GetColorBeyondEdge(px, py, mode, fill);
                sum[0] += wgt * c.rgbBlue;
                sum[1] += wgt * c.rgbGreen;
                sum[2] += wgt * c.rgbRed;
                sum[3] += wgt * c.rgbReserved;
            }
        }
    }
    return RGBQUAD{Clamp255(sum[0]), Clamp255(sum[1]), Clamp255(sum[2]), m_alpha ? Clamp255(sum[3]) : std::uint8_t{0}};
}
