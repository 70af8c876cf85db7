// Metafile rendering speed and memory; there is no fair peer.
//
// An EMF of 100,000 records over 4000 x 4000 pixels is made in memory when
// the benchmark starts (pens and brushes made, selected and deleted,
// rectangles, ellipses, polylines, polygons, text, saved and restored
// clips), and one of twice the records drawn the same way. Each is decoded
// through VxImage (played into the 32-bit bitmap and read back), timed in
// alternating pairs: twice the records may take at most 2.2 times as long.
//
// Memory: a child process plays the 100,000 records into the 4000 x 4000
// bitmap; from before the bitmap is made to the end of the play its peak
// resident memory must stay under the bitmap plus 16 MB.
//
// Last line: "ratio <time of 200,000 / time of 100,000> goal <= 2.2".
#include "bench_support.h"

#include "gdi/metafile.h"
#include "imaging/vxfile.h"
#include "imaging/vximage.h"
#include "test_support/metafile_builder.h"

#include "gdi/mfplayer.h"

#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

using namespace mftest;

namespace {

constexpr int kSide = 4000;

// A deterministic mix of records, exactly `records` of them before EOF.
std::vector<std::uint8_t> MakeEmf(int records)
{
    Emf emf(kSide, kSide);
    std::uint32_t seed = 12345;
    auto next = [&](std::uint32_t n) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % n;
    };
    auto u = [](long v) { return static_cast<std::uint32_t>(v); };
    std::vector<std::uint8_t> text;
    for (std::uint32_t v : {0u, 0u, 0u, 0u, 1u, 0u, 0u, 0u, 0u, 7u, 76u, 0u, 0u, 0u, 0u, 0u, 0u})
        Put32(text, v);
    for (char16_t ch : std::u16string(u"Vistrel"))
        Put16(text, ch);
    std::vector<std::uint8_t> font;
    for (std::uint32_t v : {20u, u(-40), 0u, 0u, 0u, 400u})
        Put32(font, v);
    for (int i = 0; i < 8 + 64; ++i)
        font.push_back(0);
    int n = 0;
    auto add = [&](auto&& f) {
        if (n < records) {
            f();
            ++n;
        }
    };
    add([&] { emf.Raw(82, font); });
    add([&] { emf.Select(20); });
    while (n < records) {
        const long x = static_cast<long>(next(kSide - 150)), y = static_cast<long>(next(kSide - 150));
        const long w = 4 + static_cast<long>(next(120)), h = 4 + static_cast<long>(next(120));
        const std::uint32_t color = Rgb(next(256), next(256), next(256));
        switch (next(12)) {
        case 0: add([&] { emf.Brush(next(8), color, next(3) == 0 ? 2 : 0); }); break;
        case 1: add([&] { emf.Pen(8 + next(8), color, static_cast<std::int32_t>(next(6))); }); break;
        case 2: add([&] { emf.Select(next(16)); }); break;
        case 3: add([&] { emf.Ellipse(static_cast<int>(x), static_cast<int>(y), static_cast<int>(x + w), static_cast<int>(y + h)); }); break;
        case 4: {
            std::vector<std::uint8_t> body;
            for (std::uint32_t v : {0u, 0u, 0u, 0u, 8u})
                Put32(body, v);
            for (int i = 0; i < 8; ++i) {
                Put16(body, u(x + static_cast<long>(next(static_cast<std::uint32_t>(w)))));
                Put16(body, u(y + static_cast<long>(next(static_cast<std::uint32_t>(h)))));
            }
            const std::uint32_t type = next(2) ? 86 : 87;  // POLYGON16, POLYLINE16
            add([&] { emf.Raw(type, body); });
            break;
        }
        case 5: {
            auto t = text;
            Set32(t, 28, u(x));
            Set32(t, 32, u(y));
            add([&] { emf.Rec(24, {color}); });
            add([&] { emf.Raw(84, t); });
            break;
        }
        case 6:
            add([&] { emf.Rec(33, {}); });
            add([&] { emf.Rec(30, {u(x), u(y), u(x + 300), u(y + 300)}); });
            break;
        case 7: add([&] { emf.Rec(34, {u(-1)}); }); break;
        case 8: add([&] { emf.Rec(40, {next(16)}); }); break;
        default:
            add([&] { emf.Rectangle(static_cast<int>(x), static_cast<int>(y), static_cast<int>(x + w), static_cast<int>(y + h)); });
            break;
        }
    }
    return emf.Build();
}

bool Decode(std::vector<std::uint8_t>& bytes)
{
    VxMemFile f(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    VxImage image;
    return image.Decode(&f, VXFMT_WMF) && image.GetWidth() == kSide;
}

// In a child: the peak resident memory of making the bitmap and playing
// the metafile into it, above what the process held before. Reports MB.
double RenderPeakMb(const std::vector<std::uint8_t>& bytes)
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        HENHMETAFILE mf = SetEnhMetaFileBits(static_cast<UINT>(bytes.size()), bytes.data());
        // Start counting here: the peak so far is reset to the present.
        bench::ResetPeakMemory();
        const double before = bench::StatusMb("VmRSS");
        HDC screen = GetDC(nullptr);
        HBITMAP bmp = CreateCompatibleBitmap(screen, kSide, kSide);
        HDC dc = CreateCompatibleDC(screen);
        HGDIOBJ old = SelectObject(dc, bmp);
        const RECT rect{0, 0, kSide, kSide};
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &rect, "", 0, nullptr);
        PlayEnhMetaFile(dc, mf, &rect);
        const double mb = bench::StatusMb("VmHWM") - before;
        SelectObject(dc, old);
        if (write(fds[1], &mb, sizeof mb) != sizeof mb)
            _exit(1);
        _exit(0);
    }
    close(fds[1]);
    double mb = -1;
    if (read(fds[0], &mb, sizeof mb) != sizeof mb)
        mb = -1;
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return mb;
}

}  // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    InstallMetafilePlayer();
    std::vector<std::uint8_t> small = MakeEmf(100000);
    std::vector<std::uint8_t> large = MakeEmf(200000);
    std::printf("emf_render: %d x %d pixels, 100,000 records (%zu bytes) and 200,000 records (%zu bytes)\n", kSide,
                kSide, small.size(), large.size());

    const double bitmapMb = 4.0 * kSide * kSide / (1024 * 1024);
    const double peak = RenderPeakMb(small);
    const bool withinMemory = peak >= 0 && peak < bitmapMb + 16;
    std::printf("emf_render memory: peak %.1f MB while rendering, bitmap %.1f MB, limit %.1f MB: %s\n", peak, bitmapMb,
                bitmapMb + 16, withinMemory ? "within" : "OVER");

    bool ok = true;
    const bench::Side twice = bench::Timed([&] { ok = Decode(large) && ok; });
    const bench::Side once = bench::Timed([&] { ok = Decode(small) && ok; });
    const bench::PairTimes t = bench::Alternate(twice, once, 5);
    if (!ok)
        std::fprintf(stderr, "a decode failed\n");
    bench::PrintPair("emf_render 200,000 records", "100,000 records", t);
    bench::PrintRatioLine(t.ratio, 2.2);
    return ok && withinMemory ? 0 : 1;
}
