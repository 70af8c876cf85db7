// Copying a 1 GB file through the archive library's file streams (the
// chunked copy with its message pump and cancel polling) against cp of the
// same file on the same disk, in alternating pairs.
//
// Prints both times, then "ratio <ours / cp> goal <= 1.3" as the last line.
#include "bench_support.h"

#include "archive/zadhooks.h"
#include "archive/zadstreams.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr std::int64_t kFileSize = std::int64_t(1) << 30;

std::string MakeFile(const std::string& dir)
{
    const std::string name = dir + "/stream_copy.bin";
    if (std::filesystem::exists(name) && static_cast<std::int64_t>(std::filesystem::file_size(name)) == kFileSize)
        return name;
    std::ofstream out(name, std::ios::binary);
    std::vector<char> block(1 << 20);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>(i * 167 + (i >> 11));
    for (std::int64_t written = 0; written < kFileSize; written += static_cast<std::int64_t>(block.size())) {
        block[0] = static_cast<char>(written >> 20);
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
    return name;
}

int g_pumps = 0;

// A copy to a target that does not exist yet; removing the previous copy is
// not timed.
double CopyOurs(const std::string& from, const std::string& to)
{
    std::filesystem::remove(to);
    const double s = bench::TimeCall([&] {
        TFileStream32 source(from, fmOpenRead | fmShareDenyWrite);
        TFileStream32 target(to, fmCreate);
        bool cancel = false;
        target.CancelRef = &cancel;
        if (target.CopyFrom(&source, 0) != kFileSize)
            std::fprintf(stderr, "short copy\n");
    });
    if (static_cast<std::int64_t>(std::filesystem::file_size(to)) != kFileSize)
        std::fprintf(stderr, "wrong size\n");
    return s;
}

double CopyCp(const std::string& from, const std::string& to)
{
    std::filesystem::remove(to);
    return bench::TimeCommand("cp '" + from + "' '" + to + "'");
}

}  // namespace

int main()
{
    const std::string dir = bench::DataDir();
    const std::string file = MakeFile(dir);
    const std::string target = dir + "/stream_copy.out";
    // Every chunk passes the application's message pump, as in the program.
    ProcessMessagesHook = +[] { ++g_pumps; };

    // Five pairs: each copy writes a gigabyte.
    const bench::PairTimes t = bench::Alternate([&] { return CopyOurs(file, target); },
        [&] { return CopyCp(file, target); }, 5);
    std::filesystem::remove(target);
    std::filesystem::remove(file);

    std::printf("file 1024 MB, %d message pumps per copy\n", g_pumps / static_cast<int>(t.ratios.size() + 1));
    bench::PrintPair("TFileStream32::CopyFrom", "cp", t);
    bench::PrintRatioLine(t.ratio, 1.3);
    return 0;
}
