// One-byte inserts and deletes in the middle of a 512 MB buffer, each
// undone, against a bare memmove of the same tail, in alternating pairs.
// Every edit and every undo moves the tail once; so does each memmove.
//
// Prints the largest undo stream and the peak memory, then
// "ratio <edit / memmove> goal <= 1.3" as the last line.
#include "bench_support.h"

#include "hexedit/zuradhex.h"
#include "vcl/forms.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr std::int64_t kFileSize = std::int64_t(512) << 20;
// Per side of a pair: 25 inserts and 25 deletes, each undone; eight counted
// pairs make 200 of each.
constexpr int kEditsPerSide = 25;
constexpr int kPairs = 8;

std::string MakeFile(const std::string& dir)
{
    const std::string name = dir + "/hex_edit.bin";
    if (std::filesystem::exists(name) && static_cast<std::int64_t>(std::filesystem::file_size(name)) == kFileSize)
        return name;
    std::ofstream out(name, std::ios::binary);
    std::vector<char> block(1 << 20);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>(i * 131 + (i >> 9));
    for (std::int64_t written = 0; written < kFileSize; written += static_cast<std::int64_t>(block.size()))
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
    return name;
}

}  // namespace

int main()
{
    const std::string file = MakeFile(bench::DataDir());
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    TApplication app;
    auto hex = std::make_unique<TCustomZURadUvudod>(nullptr);
    hex->SetBounds(0, 0, 1000, 700);
    hex->Loaded();
    hex->LoadFromFile(file);
    if (hex->GetDataSize() != kFileSize) {
        std::fprintf(stderr, "loaded %d bytes\n", hex->GetDataSize());
        return 1;
    }
    bench::ResetPeakMemory();

    const std::int32_t mid = static_cast<std::int32_t>(kFileSize / 2);
    std::int64_t largestUndo = 0;
    bool intact = true;
    const std::uint8_t byte = 0x5A;
    const bench::Side edits = bench::Timed([&] {
        for (int i = 0; i < kEditsPerSide; ++i) {
            hex->InsertBuffer(&byte, 1, mid, {}, false);
            largestUndo = std::max(largestUndo, hex->UndoStorage().Size());
            hex->Undo();
            hex->NewSelection(mid, mid);
            hex->DeleteSelection();
            largestUndo = std::max(largestUndo, hex->UndoStorage().Size());
            hex->Undo();
        }
        intact = intact && hex->GetDataSize() == kFileSize;
    });
    // The same tail moved down by one byte and back up, as many times.
    const bench::Side memmoves = bench::Timed([&] {
        std::uint8_t* p = hex->GetFastPointer();
        const size_t tail = static_cast<size_t>(kFileSize - mid - 1);
        for (int i = 0; i < kEditsPerSide * 2; ++i) {
            std::memmove(p + mid, p + mid + 1, tail);
            std::memmove(p + mid + 1, p + mid, tail);
        }
    });
    const bench::PairTimes t = bench::Alternate(edits, memmoves, kPairs);
    if (!intact) {
        std::fprintf(stderr, "the data size changed\n");
        return 1;
    }
    const double fileMb = static_cast<double>(kFileSize) / (1 << 20);
    const double peakMb = bench::StatusMb("VmHWM");
    const int operations = kEditsPerSide * 4;
    std::printf("file %.0f MB; per side %d inserts and %d deletes, each undone (%d tail moves)\n", fileMb,
                kEditsPerSide, kEditsPerSide, operations);
    std::printf("mean per edit: ours %.3f ms, memmove %.3f ms\n", t.ours / operations * 1e3,
                t.peer / operations * 1e3);
    std::printf("largest undo stream %lld bytes goal <= MaxUndo %d plus two records\n",
                static_cast<long long>(largestUndo), hex->MaxUndo());
    std::printf("peak memory %.0f MB goal <= %.0f MB\n", peakMb, fileMb + 64);
    bench::PrintPair("edit and undo in the middle of 512 MB", "memmove of the tail", t);
    bench::PrintRatioLine(t.ratio, 1.3);
    return 0;
}
