// BMP decoding against netpbm's bmptopnm, and drawing speed.
//
// Writes a 4000 x 3000 24-bit BMP and an 8-bit RLE8 one of the same size,
// then times our decode program (vx_decode) and `bmptopnm FILE > /dev/null`
// as whole processes in alternating pairs. Prints the RLE8 comparison and
// the time to draw the picture scaled to 1280 x 960, and, last, the 24-bit
// ratio (goal: at most 1).
#include "bench_support.h"
#include "decode_bench.h"

#include "imaging/vxfile.h"
#include "imaging/vximage.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kWidth = 4000;
constexpr std::uint32_t kHeight = 3000;

bool WriteRgb24(const std::string& path)
{
    VxImage img(kWidth, kHeight, 24, VXFMT_BMP);
    for (std::uint32_t y = 0; y < kHeight; ++y) {
        std::uint8_t* row = img.GetRowBits(y);
        for (std::uint32_t x = 0; x < kWidth; ++x) {
            row[3 * x] = static_cast<std::uint8_t>(x * 7 + y);
            row[3 * x + 1] = static_cast<std::uint8_t>(y * 3);
            row[3 * x + 2] = static_cast<std::uint8_t>((x ^ y) * 5);
        }
    }
    return img.Save(path.c_str(), VXFMT_BMP);
}

// An 8-bit picture of horizontal runs of varying length, RLE8 coded.
bool WriteRle8(const std::string& path)
{
    std::vector<std::uint8_t> data;
    for (std::uint32_t y = 0; y < kHeight; ++y) {
        std::uint32_t x = 0;
        std::uint32_t k = y;
        while (x < kWidth) {
            std::uint32_t n = 1 + (k * 37) % 120;
            if (n > kWidth - x)
                n = kWidth - x;
            data.push_back(static_cast<std::uint8_t>(n));
            data.push_back(static_cast<std::uint8_t>(k * 13));
            x += n;
            ++k;
        }
        data.push_back(0);
        data.push_back(0);
    }
    data.back() = 1;  // the last end of line becomes the end of the bitmap
    const std::uint32_t offset = 14 + 40 + 1024;
    std::vector<std::uint8_t> head(offset, 0);
    auto put32 = [&](std::size_t at, std::uint32_t v) { std::memcpy(&head[at], &v, 4); };
    auto put16 = [&](std::size_t at, std::uint16_t v) { std::memcpy(&head[at], &v, 2); };
    head[0] = 'B';
    head[1] = 'M';
    put32(2, offset + static_cast<std::uint32_t>(data.size()));
    put32(10, offset);
    put32(14, 40);
    put32(18, kWidth);
    put32(22, kHeight);
    put16(26, 1);
    put16(28, 8);
    put32(30, 1);
    put32(34, static_cast<std::uint32_t>(data.size()));
    put32(46, 256);
    for (int i = 0; i < 256; ++i) {
        head[54 + 4 * i] = static_cast<std::uint8_t>(i);
        head[54 + 4 * i + 1] = static_cast<std::uint8_t>(255 - i);
        head[54 + 4 * i + 2] = static_cast<std::uint8_t>(i * 3);
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(head.data(), 1, head.size(), f) == head.size() &&
                    std::fwrite(data.data(), 1, data.size(), f) == data.size();
    return std::fclose(f) == 0 && ok;
}

// Milliseconds to draw the picture scaled to 1280 x 960 into a memory DC,
// the median of five draws.
double DrawScaledMs(const std::string& path, bool smooth)
{
    VxImage img;
    if (!img.Load(path.c_str(), VXFMT_BMP))
        return -1;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bmp = CreateCompatibleBitmap(nullptr, 1280, 960);
    HGDIOBJ old = SelectObject(dc, bmp);
    std::vector<double> times;
    for (int i = 0; i < 5; ++i)
        times.push_back(bench::TimeCall([&] { img.Draw(dc, 0, 0, 1280, 960, nullptr, smooth); }));
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
    return bench::Median(times) * 1e3;
}

}  // namespace

int main()
{
    const std::string dir = bench::DataDir() + "/bmp_decode_";
    const std::string rgb24 = dir + "rgb24.bmp", rle8 = dir + "rle8.bmp";
    if (!WriteRgb24(rgb24) || !WriteRle8(rle8))
        return 1;
    decodebench::CompareWithPeer("bmp_decode 4000 x 3000 RLE8", rle8, VXFMT_BMP, "bmptopnm");
    std::printf("draw_scaled 4000 x 3000 to 1280 x 960: %.3f ms, smooth %.3f ms\n", DrawScaledMs(rgb24, false),
                DrawScaledMs(rgb24, true));
    const bench::PairTimes full = decodebench::CompareWithPeer("bmp_decode 4000 x 3000 24-bit", rgb24, VXFMT_BMP, "bmptopnm");
    bench::PrintRatioLine(full.ratio, 1.0);
    std::filesystem::remove(rgb24);
    std::filesystem::remove(rle8);
    return 0;
}
