// Helpers of the imaging tests: reference pictures read from netpbm files,
// comparison with decoded images, and little-endian byte builders for
// hand-made files.
#pragma once

#include "imaging/vxfile.h"
#include "imaging/vximage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace imgtest {

inline std::string FixturePath(const std::string& name) { return std::string(VISTREL_TEST_DATA) + "/fixtures/" + name; }

inline std::vector<std::uint8_t> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A picture of RGB pixels, top row first; alpha in the reserved byte when
// the picture has alpha.
struct Picture {
    int width = 0;
    int height = 0;
    bool hasAlpha = false;
    std::vector<RGBQUAD> pixels;
    RGBQUAD At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

// Reads binary PBM, PGM and PPM (P4, P5, P6) and PAM (P7: GRAYSCALE, RGB,
// GRAYSCALE_ALPHA and RGB_ALPHA). Samples of a maxval below 255 are scaled to
// 0..255; wider samples (two bytes each) keep their top 8 bits.
inline Picture ReadPnm(const std::string& path)
{
    const auto data = ReadFile(path);
    Picture pic;
    std::size_t pos = 0;
    auto token = [&]() {
        std::string t;
        while (pos < data.size()) {
            const char c = static_cast<char>(data[pos]);
            if (c == '#') {
                while (pos < data.size() && data[pos] != '\n')
                    ++pos;
            } else if (std::isspace(static_cast<unsigned char>(c))) {
                if (!t.empty())
                    break;
                ++pos;
            } else {
                t += c;
                ++pos;
            }
        }
        return t;
    };
    const std::string magic = token();
    int depth = 0;
    unsigned maxval = 1;
    if (magic == "P7") {
        for (std::string key = token(); key != "ENDHDR" && !key.empty(); key = token()) {
            const std::string value = token();
            if (key == "WIDTH")
                pic.width = std::stoi(value);
            else if (key == "HEIGHT")
                pic.height = std::stoi(value);
            else if (key == "DEPTH")
                depth = std::stoi(value);
            else if (key == "MAXVAL")
                maxval = static_cast<unsigned>(std::stoi(value));
        }
        pic.hasAlpha = depth == 2 || depth == 4;
    } else {
        pic.width = std::stoi(token());
        pic.height = std::stoi(token());
        if (magic != "P4")
            maxval = static_cast<unsigned>(std::stoi(token()));
        depth = magic == "P6" ? 3 : 1;
    }
    ++pos;  // the single whitespace before the raster
    const std::size_t size = maxval > 255 ? 2 : 1;
    auto sample = [&](std::size_t index) {
        const std::size_t at = pos + index * size;
        if (size == 2)
            return static_cast<std::uint8_t>(((data.at(at) << 8) | data.at(at + 1)) * 256u / (maxval + 1));
        return static_cast<std::uint8_t>(data.at(at) * 255u / maxval);
    };
    pic.pixels.resize(static_cast<std::size_t>(pic.width) * pic.height);
    for (int y = 0; y < pic.height; ++y)
        for (int x = 0; x < pic.width; ++x) {
            const std::size_t index = static_cast<std::size_t>(y) * pic.width + x;
            const std::size_t first = index * static_cast<std::size_t>(depth);
            RGBQUAD& q = pic.pixels[index];
            if (magic == "P7") {
                q = depth <= 2 ? RGBQUAD{sample(first), sample(first), sample(first), 255}
                               : RGBQUAD{sample(first + 2), sample(first + 1), sample(first), 255};
                if (pic.hasAlpha)
                    q.rgbReserved = sample(first + static_cast<std::size_t>(depth) - 1);
            } else if (magic == "P6") {
                q = RGBQUAD{sample(first + 2), sample(first + 1), sample(first), 0};
            } else if (magic == "P5") {
                const std::uint8_t v = sample(first);
                q = RGBQUAD{v, v, v, 0};
            } else {
                const std::size_t rowBytes = (static_cast<std::size_t>(pic.width) + 7) / 8;
                const bool black = (data.at(pos + y * rowBytes + x / 8) >> (7 - x % 8)) & 1;
                const std::uint8_t v = black ? 0 : 255;
                q = RGBQUAD{v, v, v, 0};
            }
        }
    return pic;
}

// Every pixel of the image equals the picture's (the image is bottom-up),
// each channel within the tolerance, alpha included when the picture has
// alpha (an image without an alpha channel is opaque).
inline ::testing::AssertionResult SamePixels(const VxImage& image, const Picture& pic, int tolerance = 0)
{
    if (static_cast<int>(image.GetWidth()) != pic.width || static_cast<int>(image.GetHeight()) != pic.height)
        return ::testing::AssertionFailure() << "size " << image.GetWidth() << "x" << image.GetHeight() << " expected "
                                             << pic.width << "x" << pic.height;
    for (int y = 0; y < pic.height; ++y)
        for (int x = 0; x < pic.width; ++x) {
            const RGBQUAD a = image.GetPixelColor(x, pic.height - 1 - y, false);
            const RGBQUAD b = pic.At(x, y);
            if (std::abs(a.rgbRed - b.rgbRed) > tolerance || std::abs(a.rgbGreen - b.rgbGreen) > tolerance ||
                std::abs(a.rgbBlue - b.rgbBlue) > tolerance)
                return ::testing::AssertionFailure()
                       << "pixel (" << x << "," << y << " from top) is " << int(a.rgbRed) << "," << int(a.rgbGreen)
                       << "," << int(a.rgbBlue) << " expected " << int(b.rgbRed) << "," << int(b.rgbGreen) << ","
                       << int(b.rgbBlue);
            const int alpha = image.HasAlpha() ? image.GetAlphaAt(x, pic.height - 1 - y) : 255;
            if (pic.hasAlpha && alpha != b.rgbReserved)
                return ::testing::AssertionFailure() << "alpha of pixel (" << x << "," << y << " from top) is " << alpha
                                                     << " expected " << int(b.rgbReserved);
        }
    return ::testing::AssertionSuccess();
}

// A rendering against another renderer's: both are cut to the drawing
// (rows and columns of their corner colour removed from the edges), then
// every pixel of each must find a pixel of close colour (within 40 a
// channel) at most one pixel away in the other. Rasterisers differ on edge
// pixels and fonts; allowed is a few percent of the pixels.
inline ::testing::AssertionResult RenderedLike(const VxImage& image, const Picture& reference,
                                               double allowedBadFraction = 0.04)
{
    Picture ours;
    ours.width = static_cast<int>(image.GetWidth());
    ours.height = static_cast<int>(image.GetHeight());
    for (int y = 0; y < ours.height; ++y)
        for (int x = 0; x < ours.width; ++x)
            ours.pixels.push_back(image.GetPixelColor(x, ours.height - 1 - y, false));
    auto near = [](const RGBQUAD& a, const RGBQUAD& b) {
        return std::abs(a.rgbRed - b.rgbRed) <= 40 && std::abs(a.rgbGreen - b.rgbGreen) <= 40 &&
               std::abs(a.rgbBlue - b.rgbBlue) <= 40;
    };
    struct Box {
        int x0, y0, x1, y1;  // inclusive
    };
    auto trim = [&](const Picture& p) {
        Box b{p.width, p.height, -1, -1};
        const RGBQUAD corner = p.At(0, 0);
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x)
                if (!near(p.At(x, y), corner)) {
                    b.x0 = std::min(b.x0, x);
                    b.y0 = std::min(b.y0, y);
                    b.x1 = std::max(b.x1, x);
                    b.y1 = std::max(b.y1, y);
                }
        return b;
    };
    const Box a = trim(ours), b = trim(reference);
    if (a.x1 < 0 || b.x1 < 0)
        return ::testing::AssertionFailure() << "a picture is blank";
    const int w = std::min(a.x1 - a.x0, b.x1 - b.x0) + 1, h = std::min(a.y1 - a.y0, b.y1 - b.y0) + 1;
    if (std::abs((a.x1 - a.x0) - (b.x1 - b.x0)) > 2 || std::abs((a.y1 - a.y0) - (b.y1 - b.y0)) > 2)
        return ::testing::AssertionFailure() << "drawing " << a.x1 - a.x0 + 1 << "x" << a.y1 - a.y0 + 1
                                             << " expected " << b.x1 - b.x0 + 1 << "x" << b.y1 - b.y0 + 1;
    int bad = 0;
    auto count = [&](const Picture& p, const Box& pb, const Picture& q, const Box& qb) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                bool found = false;
                for (int dy = -1; dy <= 1 && !found; ++dy)
                    for (int dx = -1; dx <= 1 && !found; ++dx) {
                        const int qx = x + dx, qy = y + dy;
                        if (qx >= 0 && qy >= 0 && qx < w && qy < h)
                            found = near(p.At(pb.x0 + x, pb.y0 + y), q.At(qb.x0 + qx, qb.y0 + qy));
                    }
                bad += found ? 0 : 1;
            }
    };
    count(ours, a, reference, b);
    count(reference, b, ours, a);
    const double fraction = static_cast<double>(bad) / (2.0 * w * h);
    if (fraction > allowedBadFraction)
        return ::testing::AssertionFailure() << fraction * 100 << "% of the pixels differ";
    return ::testing::AssertionSuccess();
}

// Same size and same colours (alpha included) at every pixel.
inline ::testing::AssertionResult SameImage(const VxImage& a, const VxImage& b, bool withAlpha = false)
{
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight())
        return ::testing::AssertionFailure() << "sizes differ";
    for (std::uint32_t y = 0; y < a.GetHeight(); ++y)
        for (std::uint32_t x = 0; x < a.GetWidth(); ++x) {
            const RGBQUAD p = a.GetPixelColor(static_cast<int>(x), static_cast<int>(y), withAlpha);
            const RGBQUAD q = b.GetPixelColor(static_cast<int>(x), static_cast<int>(y), withAlpha);
            if (std::memcmp(&p, &q, 3) != 0 || (withAlpha && p.rgbReserved != q.rgbReserved))
                return ::testing::AssertionFailure() << "pixel (" << x << "," << y << ") differs";
        }
    return ::testing::AssertionSuccess();
}

// Little-endian byte builder for hand-made files.
struct Bytes {
    std::vector<std::uint8_t> v;
    Bytes& u8(unsigned x)
    {
        v.push_back(static_cast<std::uint8_t>(x));
        return *this;
    }
    Bytes& u16(unsigned x) { return u8(x & 0xFF).u8((x >> 8) & 0xFF); }
    Bytes& u32(std::uint32_t x) { return u16(x & 0xFFFF).u16(x >> 16); }
    Bytes& raw(const std::vector<std::uint8_t>& b)
    {
        v.insert(v.end(), b.begin(), b.end());
        return *this;
    }
    Bytes& fill(std::size_t n, std::uint8_t b)
    {
        v.insert(v.end(), n, b);
        return *this;
    }
};

// Decodes bytes with a format id; the memory stream reads them in place.
inline bool DecodeBytes(VxImage& image, std::vector<std::uint8_t> bytes, std::uint32_t formatId)
{
    VxMemFile f(bytes.empty() ? nullptr : bytes.data(), static_cast<std::int32_t>(bytes.size()));
    if (bytes.empty())
        f.Open();
    return image.Decode(&f, formatId);
}

inline std::vector<std::uint8_t> EncodeBytes(VxImage& image, std::uint32_t formatId, bool* ok = nullptr)
{
    VxMemFile f;
    f.Open();
    const bool r = image.Encode(&f, formatId);
    if (ok)
        *ok = r;
    const std::int32_t size = f.Size();
    const std::uint8_t* b = f.GetBuffer(false);
    return std::vector<std::uint8_t>(b, b + (size > 0 ? size : 0));
}

inline unsigned VxGet16Test(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return b.at(at) | (b.at(at + 1) << 8);
}

inline std::uint32_t VxGet32Test(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return static_cast<std::uint32_t>(VxGet16Test(b, at)) | (static_cast<std::uint32_t>(VxGet16Test(b, at + 2)) << 16);
}

inline COLORREF Ref(const RGBQUAD& q) { return RGB(q.rgbRed, q.rgbGreen, q.rgbBlue); }

// A 24-bit test picture with distinct colours.
inline void Paint24(VxImage& img)
{
    for (std::uint32_t y = 0; y < img.GetHeight(); ++y)
        for (std::uint32_t x = 0; x < img.GetWidth(); ++x)
            img.SetPixelColor(static_cast<int>(x), static_cast<int>(y),
                              RGBQUAD{static_cast<std::uint8_t>(x * 17 + 3), static_cast<std::uint8_t>(y * 29 + 5),
                                      static_cast<std::uint8_t>((x * y * 7) ^ 0x5A), 0});
}

}  // namespace imgtest
