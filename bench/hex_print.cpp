// Printing one page of a 512 MB buffer into a PDF file: the last page
// against the first page, in alternating pairs. No step of printing may
// walk the data, so the last page costs what the first does. The buffer is
// cut to whole pages (by less than a page) so that the last page is as full
// as the first.
//
// Prints the page count and the time of PrintNumPages for the 512 MB buffer
// and for a 4 KB one (it must not grow with the data either), then
// "ratio <last page / first page> goal <= 1.2" as the last line.
#include "bench_support.h"

#include "hexedit/zuradhexex.h"
#include "vcl/forms.h"
#include "vcl/printers.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr std::int64_t kBufferSize = std::int64_t(512) << 20;
constexpr int kPairs = 7;

// One job of one page into the PDF file.
void PrintOnePage(TZURadUvudodEx& hex, std::int32_t page)
{
    TPrinter& printer = *Printer();
    printer.BeginDoc();
    hex.Print(page);
    printer.EndDoc();
}

// The lines a page holds: the most that still fit on one page.
std::int32_t LinesPerPage(TZURadUvudodEx& hex)
{
    std::int32_t low = 1, high = 100000;
    while (low < high) {
        const std::int32_t mid = (low + high + 1) / 2;
        hex.SetDataSize(hex.BytesPerRow() * mid);
        if (hex.PrintNumPages() == 1)
            low = mid;
        else
            high = mid - 1;
    }
    return low;
}

// The median time of PrintNumPages over a few calls, and its answer.
double TimeNumPages(TZURadUvudodEx& hex, std::int32_t& pages)
{
    std::vector<double> times;
    for (int i = 0; i < 7; ++i)
        times.push_back(bench::TimeCall([&] { pages = hex.PrintNumPages(); }));
    return bench::Median(times);
}

}  // namespace

int main()
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    TApplication app;
    const std::string pdf = (std::filesystem::path(bench::DataDir()) / "hex_print.pdf").string();
    Printer()->SetOutputFileName(pdf);

    // The hex panel's layout and print settings.
    TZURadUvudodEx hex(nullptr);
    hex.SetBounds(0, 0, 900, 600);
    hex.Loaded();
    hex.SetBytesPerColumn(1);
    hex.SetBytesPerBlock(4);
    hex.SetSeparateBlocksInCharField(false);
    hex.SetOffsetFormat("8!10:|");
    hex.Font().SetSize(10);
    hex.PrintOptions().SetPageHeader("%f|page %p of %P|%d");
    hex.PrintOptions().SetPageFooter("%F");

    hex.SetDataSize(4096);
    std::int32_t smallPages = 0;
    const double smallCount = TimeNumPages(hex, smallPages);

    // A buffer of 512 MB, as a loaded file holds it: one block, all touched.
    const std::int64_t pageBytes = std::int64_t(LinesPerPage(hex)) * hex.BytesPerRow();
    const std::int64_t size = kBufferSize - kBufferSize % pageBytes;
    hex.SetDataSize(static_cast<std::int32_t>(size));
    std::uint8_t* p = hex.GetFastPointer();
    for (std::int64_t i = 0; i < size; i += 4096)
        std::memset(p + i, static_cast<int>((i >> 12) & 0xFF), static_cast<size_t>(std::min<std::int64_t>(4096, size - i)));
    hex.ResetUndo();
    std::int32_t pages = 0;
    const double largeCount = TimeNumPages(hex, pages);
    if (pages < 2) {
        std::fprintf(stderr, "%d pages\n", pages);
        return 1;
    }

    const bench::PairTimes t =
        bench::Alternate(bench::Timed([&] { PrintOnePage(hex, pages); }), bench::Timed([&] { PrintOnePage(hex, 1); }),
                         kPairs);
    const auto pdfSize = std::filesystem::file_size(pdf);
    std::printf("buffer %lld bytes (512 MB less %lld): %d pages of %lld bytes; PrintNumPages %.3f ms "
                "(4 KB buffer: %d pages, %.3f ms)\n",
                static_cast<long long>(size), static_cast<long long>(kBufferSize - size), pages,
                static_cast<long long>(pageBytes), largeCount * 1e3, smallPages, smallCount * 1e3);
    std::printf("one page as PDF: %llu bytes\n", static_cast<unsigned long long>(pdfSize));
    bench::PrintPair("last page of 512 MB into a PDF file", "first page", t);
    bench::PrintRatioLine(t.ratio, 1.2);
    return 0;
}
