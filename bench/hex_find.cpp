// Find of a 16-byte pattern that occurs once, at the end of a loaded 512 MB
// file, against LC_ALL=C grep -c -a -F on the cached file, in alternating
// pairs; then the same without regard to case against grep -i.
//
// Prints both comparisons, the match and the progress reports, then
// "ratio <find / grep> goal <= 0.5" as the last line.
#include "bench_support.h"

#include "hexedit/zuradhex.h"
#include "vcl/forms.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::int64_t kFileSize = std::int64_t(512) << 20;
constexpr std::int32_t kPatternLength = 16;

// Random bytes; the pattern (no line feed, no NUL, so that grep takes it as
// one pattern of one line) closes the file.
std::string MakePattern()
{
    std::mt19937 rng(16);
    std::string p;
    while (static_cast<std::int32_t>(p.size()) < kPatternLength) {
        const char c = static_cast<char>(rng());
        if (c != '\n' && c != '\0')
            p.push_back(c);
    }
    return p;
}

std::string MakeFile(const std::string& dir, const std::string& pattern)
{
    const std::string name = dir + "/hex_find.bin";
    if (std::filesystem::exists(name) && static_cast<std::int64_t>(std::filesystem::file_size(name)) == kFileSize) {
        std::ifstream in(name, std::ios::binary);
        in.seekg(kFileSize - kPatternLength);
        std::string tail(kPatternLength, '\0');
        in.read(tail.data(), kPatternLength);
        if (tail == pattern)
            return name;
    }
    std::ofstream out(name, std::ios::binary);
    std::vector<std::uint64_t> block((1 << 20) / 8);
    std::uint64_t x = 0x9E3779B97F4A7C15ull;
    for (std::int64_t written = 0; written < kFileSize; written += (1 << 20)) {
        for (auto& w : block) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            w = x;
        }
        if (written + (1 << 20) == kFileSize)
            std::memcpy(reinterpret_cast<char*>(block.data()) + (1 << 20) - kPatternLength, pattern.data(),
                        kPatternLength);
        out.write(reinterpret_cast<const char*>(block.data()), 1 << 20);
    }
    return name;
}

}  // namespace

int main()
{
    const std::string dir = bench::DataDir();
    const std::string pattern = MakePattern();
    const std::string file = MakeFile(dir, pattern);
    const std::string patternFile = dir + "/hex_find.pattern";
    std::ofstream(patternFile, std::ios::binary) << pattern;

    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    TApplication app;
    auto hex = std::make_unique<TCustomZURadUvudod>(nullptr);
    hex->SetBounds(0, 0, 1000, 700);
    hex->Loaded();
    hex->LoadFromFile(file);
    int reports = 0;
    hex->OnProgress = [&](TObject*, TZAZProgressKind kind, const std::string&, std::uint8_t, bool&) {
        if (kind == pkFind)
            ++reports;
    };
    hex->SetFindProgress(true);

    const std::int32_t expected = static_cast<std::int32_t>(kFileSize - kPatternLength);
    auto run = [&](bool ignoreCase, std::int32_t& found, int& lastReports) {
        const std::string prepared = hex->PrepareFindReplaceData(pattern, ignoreCase, false);
        return bench::Timed([&, prepared, ignoreCase] {
            reports = 0;
            found = hex->Find(prepared.data(), kPatternLength, 0, hex->GetDataSize() - 1, ignoreCase);
            lastReports = reports;
        });
    };
    const std::string grep = "LC_ALL=C grep -c -a -F -f '" + patternFile + "' '" + file + "' > /dev/null";
    const std::string grepI = "LC_ALL=C grep -c -a -i -F -f '" + patternFile + "' '" + file + "' > /dev/null";

    std::int32_t found = -1, foundI = -1;
    int progress = 0, progressI = 0;
    const bench::PairTimes exact = bench::Alternate(run(false, found, progress), bench::Command(grep));
    const bench::PairTimes folded = bench::Alternate(run(true, foundI, progressI), bench::Command(grepI));
    if (found != expected || foundI != expected) {
        std::fprintf(stderr, "found %d and %d, expected %d\n", found, foundI, expected);
        return 1;
    }
    std::printf("file %.0f MB; match at %d; progress reports %d (ignoring case %d)\n",
                static_cast<double>(kFileSize) / (1 << 20), found, progress, progressI);
    bench::PrintPair("Find ignoring case", "grep -c -a -i -F", folded, 1);
    bench::PrintPair("Find", "grep -c -a -F", exact);
    bench::PrintRatioLine(exact.ratio, 0.5);
    return 0;
}
