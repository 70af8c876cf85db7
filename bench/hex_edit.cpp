// One-byte inserts and deletes in the middle of a 512 MB buffer, each
// undone, against a bare memmove of the same tail, in alternating pairs.
// Every edit and every undo moves the tail once; so does each memmove.
//
// Prints the largest undo stream and the peak memory (goal: the buffer plus
// 64 MB, so the block is never copied per edit), then
// "ratio <edit / memmove> goal <= 1.3" as the last line.
#include "bench_support.h"

#include "hexedit/zuradhex.h"
#include "vcl/forms.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr std::int64_t kBufferSize = std::int64_t(512) << 20;
// Per side of a pair: 25 inserts and 25 deletes, each undone; eight counted
// pairs make 200 of each.
constexpr int kEditsPerSide = 25;
constexpr int kPairs = 8;

}  // namespace

int main()
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    TApplication app;
    TCustomZURadUvudod hex(nullptr);
    // A buffer of 512 MB, as a loaded file holds it: one block, all touched.
    hex.SetDataSize(static_cast<std::int32_t>(kBufferSize));
    std::memset(hex.GetFastPointer(), 0x2A, static_cast<size_t>(kBufferSize));
    hex.ResetUndo();
    if (hex.GetDataSize() != kBufferSize) {
        std::fprintf(stderr, "a buffer of %d bytes\n", hex.GetDataSize());
        return 1;
    }
    bench::ResetPeakMemory();

    const std::int32_t mid = static_cast<std::int32_t>(kBufferSize / 2);
    std::int64_t largestUndo = 0;
    bool intact = true;
    const std::uint8_t byte = 0x5A;
    const bench::Side edits = bench::Timed([&] {
        for (int i = 0; i < kEditsPerSide; ++i) {
            hex.InsertBuffer(&byte, 1, mid, {}, false);
            largestUndo = std::max(largestUndo, hex.UndoStorage().Size());
            hex.Undo();
            hex.NewSelection(mid, mid);
            hex.DeleteSelection();
            largestUndo = std::max(largestUndo, hex.UndoStorage().Size());
            hex.Undo();
        }
        intact = intact && hex.GetDataSize() == kBufferSize;
    });
    // The same tail moved down by one byte and back up, as many times.
    const bench::Side memmoves = bench::Timed([&] {
        std::uint8_t* p = hex.GetFastPointer();
        const size_t tail = static_cast<size_t>(kBufferSize - mid - 1);
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
    const double bufferMb = static_cast<double>(kBufferSize) / (1 << 20);
    const double peakMb = bench::StatusMb("VmHWM");
    const int operations = kEditsPerSide * 4;
    std::printf("buffer %.0f MB; per side %d inserts and %d deletes, each undone (%d tail moves)\n", bufferMb,
                kEditsPerSide, kEditsPerSide, operations);
    std::printf("mean per edit: ours %.3f ms, memmove %.3f ms\n", t.ours / operations * 1e3,
                t.peer / operations * 1e3);
    std::printf("largest undo stream %lld bytes goal <= MaxUndo %d plus two records\n",
                static_cast<long long>(largestUndo), hex.MaxUndo());
    std::printf("peak memory %.0f MB goal <= %.0f MB\n", peakMb, bufferMb + 64);
    bench::PrintPair("edit and undo in the middle of 512 MB", "memmove of the tail", t);
    bench::PrintRatioLine(t.ratio, 1.3);
    return 0;
}
