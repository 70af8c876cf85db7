// BMP decoding and drawing speed.
//
//   bench_bmp_decode --make-files=DIR   writes DIR/rgb24.bmp (4000 x 3000,
//                                       24 bits) and DIR/rle8.bmp (4000 x
//                                       3000, 8 bits, RLE8) and exits
//   VXBENCH_DIR=DIR bench_bmp_decode    runs the benchmarks on those files
//
// bench/bmp_decode.sh runs both steps, times netpbm's bmptopnm on the same
// 24-bit file and prints the ratio.
#include "imaging/vxfile.h"
#include "imaging/vximage.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kWidth = 4000;
constexpr std::uint32_t kHeight = 3000;

std::string Dir()
{
    const char* d = std::getenv("VXBENCH_DIR");
    return d ? d : ".";
}

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

void BM_Decode24(benchmark::State& state)
{
    const std::string path = Dir() + "/rgb24.bmp";
    for (auto _ : state) {
        VxImage img;
        if (!img.Load(path.c_str(), VXFMT_BMP)) {
            state.SkipWithError("cannot load rgb24.bmp");
            break;
        }
        benchmark::DoNotOptimize(img.GetRowBits(0));
    }
}
BENCHMARK(BM_Decode24)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DecodeRle8(benchmark::State& state)
{
    const std::string path = Dir() + "/rle8.bmp";
    for (auto _ : state) {
        VxImage img;
        if (!img.Load(path.c_str(), VXFMT_BMP)) {
            state.SkipWithError("cannot load rle8.bmp");
            break;
        }
        benchmark::DoNotOptimize(img.GetRowBits(0));
    }
}
BENCHMARK(BM_DecodeRle8)->Unit(benchmark::kMillisecond)->UseRealTime();

// Draws the 4000 x 3000 picture scaled to 1280 x 960 into a memory DC.
void BM_DrawScaled(benchmark::State& state)
{
    VxImage img;
    if (!img.Load((Dir() + "/rgb24.bmp").c_str(), VXFMT_BMP)) {
        state.SkipWithError("cannot load rgb24.bmp");
        return;
    }
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bmp = CreateCompatibleBitmap(nullptr, 1280, 960);
    HGDIOBJ old = SelectObject(dc, bmp);
    const bool smooth = state.range(0) != 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(img.Draw(dc, 0, 0, 1280, 960, nullptr, smooth));
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
}
BENCHMARK(BM_DrawScaled)->Arg(0)->Arg(1)->ArgName("smooth")->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const char* prefix = "--make-files=";
        if (std::strncmp(argv[i], prefix, std::strlen(prefix)) == 0) {
            const std::string dir = argv[i] + std::strlen(prefix);
            const bool ok = WriteRgb24(dir + "/rgb24.bmp") && WriteRle8(dir + "/rle8.bmp");
            return ok ? 0 : 1;
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
