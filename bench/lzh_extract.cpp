// Extracting LZH archives with TUnARJ and TUnLha against arj and lhasa,
// each into a fresh folder on the same disk, in alternating pairs, over 60 MB
// of text:
//   - an "arj a -m1" archive against "arj x" (goal <= 1.1), "7z x" beside,
//   - an lh5 archive against "lhasa x" (goal <= 1.0), "7z x" printed beside,
//   - an lh1 archive against "lhasa x" (goal <= 1.0); 7z does not read lh1.
// No Debian tool writes LZH archives, so both are written here: lh1 by the
// library's own packer, lh5 as static Huffman blocks over greedy matches
// (the tests' block writer with one hash-chain link per position), each in
// a level-1 header that lhasa reads. Emptying the output folder is left out
// of both sides' times; the archives are made once in the benchmarks' data
// folder.
//
// Prints every time and ratio; the last line is the ARJ ratio:
// "ratio <ours / arj x> goal <= 1.1".
#include "bench_support.h"

#include "archive/zadcrc.h"
#include "archive/zadlh1.h"
#include "archive/zadunarj.h"
#include "archive/zadunlha.h"
#include "tests/arc_arj/lzh_encoders.h"
#include "tests/archive_extract/legacy_encoders.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr double kGoal = 1.0;
constexpr double kArjGoal = 1.1;
constexpr size_t kTextSize = 60u << 20;

bool Made(const std::string& path) { return fs::exists(path) && fs::file_size(path) > 0; }

std::string Text() { return legacyzip::SampleText(kTextSize, 28); }

// Greedy matches of 3 to 256 bytes within the 8 KB window, one candidate per
// position (the last one with the same three bytes).
std::vector<LzToken> QuickTokens(const std::string& s)
{
    constexpr int kWindow = 8192, kMaxLen = 256, kHashBits = 16;
    std::vector<std::int64_t> last(1u << kHashBits, -1);
    const auto hash = [&](size_t i) {
        const auto* p = reinterpret_cast<const unsigned char*>(s.data() + i);
        return ((p[0] << 10) ^ (p[1] << 5) ^ p[2]) & ((1u << kHashBits) - 1);
    };
    std::vector<LzToken> t;
    size_t i = 0;
    while (i < s.size()) {
        int len = 0;
        std::int64_t from = -1;
        if (i + 3 <= s.size()) {
            const unsigned h = hash(i);
            from = last[h];
            last[h] = static_cast<std::int64_t>(i);
            if (from >= 0 && static_cast<std::int64_t>(i) - from <= kWindow)
                while (len < kMaxLen && i + static_cast<size_t>(len) < s.size() &&
                       s[static_cast<size_t>(from) + static_cast<size_t>(len)] == s[i + static_cast<size_t>(len)])
                    ++len;
        }
        if (len >= 3) {
            t.push_back({len, static_cast<int>(static_cast<std::int64_t>(i) - from - 1)});
            for (size_t k = 1; k < static_cast<size_t>(len) && i + k + 3 <= s.size(); ++k)
                last[hash(i + k)] = static_cast<std::int64_t>(i + k);
            i += static_cast<size_t>(len);
        } else {
            t.push_back({0, static_cast<unsigned char>(s[i])});
            ++i;
        }
    }
    return t;
}

std::string Le(std::uint32_t v, int n)
{
    std::string s;
    for (int i = 0; i < n; ++i)
        s += static_cast<char>(v >> (8 * i));
    return s;
}

// One entry in a level-1 header, then the end byte.
void WriteArchive(const std::string& path, const char* method, const std::string& packed, const std::string& text)
{
    const std::string name = "text.txt";
    const std::uint16_t crc = Crc16_buf(text.data(), text.size(), 0);
    std::string body = std::string(method, 5) + Le(static_cast<std::uint32_t>(packed.size()), 4) +
                       Le(static_cast<std::uint32_t>(text.size()), 4) + Le(0x58651A8Fu, 4) + '\x20' + '\x01' +
                       static_cast<char>(name.size()) + name + Le(crc, 2) + 'U' + Le(0, 2);
    unsigned sum = 0;
    for (unsigned char c : body)
        sum += c;
    const std::string tmp = path + ".tmp";
    std::ofstream(tmp, std::ios::binary) << static_cast<char>(body.size()) << static_cast<char>(sum & 0xFF) << body
                                         << packed << '\0';
    fs::rename(tmp, path);
}

void MakeArchives(const std::string& dir, const std::string& lh5, const std::string& lh1, const std::string& arj)
{
    if (Made(lh5) && Made(lh1) && Made(arj))
        return;
    const std::string text = Text();
    std::ofstream(dir + "/text.txt", std::ios::binary) << text;
    fs::remove(arj);
    bench::Run("cd " + bench::Quoted(dir) + " && arj a -m1 -y " + bench::Quoted(arj) + " text.txt > /dev/null");
    fs::remove(dir + "/text.txt");
    WriteArchive(lh5, "-lh5-", StaticStream(QuickTokens(text), 13, 4), text);
    std::string packed;
    size_t at = 0;
    LzhPack(
        [&](std::uint8_t* buf, std::int32_t count) {
            const size_t n = std::min(static_cast<size_t>(count), text.size() - at);
            std::copy_n(text.data() + at, n, reinterpret_cast<char*>(buf));
            at += n;
            return static_cast<std::int32_t>(n);
        },
        [&](const std::uint8_t* buf, std::int32_t count) {
            packed.append(reinterpret_cast<const char*>(buf), static_cast<size_t>(count));
            return true;
        });
    WriteArchive(lh1, "-lh1-", packed, text);
}

bench::Side Tool(const std::string& dir, const std::string& command, const std::string& archive)
{
    return bench::InFreshFolder(dir, [command, archive](const std::string& out) {
        std::string c = command;
        c.replace(c.find("%d"), 2, bench::Quoted(out));
        c.replace(c.find("%a"), 2, bench::Quoted(archive));
        bench::Run(c + " < /dev/null > /dev/null");
    });
}

}  // namespace

int main()
{
    const std::string dir = bench::DataDir() + "/lzh_extract";
    fs::create_directories(dir);
    const std::string lh5 = dir + "/text-lh5.lzh", lh1 = dir + "/text-lh1.lzh", arj = dir + "/text-m1.arj";
    MakeArchives(dir, lh5, lh1, arj);

    int lh5Count = 0, lh1Count = 0, arjCount = 0;
    const char* lhasa = "cd %d && lhasa xq %a";
    const char* sevenZip = "7z x -y -o%d %a";
    const bench::PairTimes lh5Times = bench::Alternate(bench::ExtractAll<TUnLha>(dir, lh5, lh5Count), Tool(dir, lhasa, lh5));
    const bench::PairTimes lh5Seven = bench::Alternate(bench::ExtractAll<TUnLha>(dir, lh5, lh5Count), Tool(dir, sevenZip, lh5));
    const bench::PairTimes lh1Times = bench::Alternate(bench::ExtractAll<TUnLha>(dir, lh1, lh1Count), Tool(dir, lhasa, lh1));
    const bench::PairTimes arjTimes = bench::Alternate(bench::ExtractAll<TUnARJ>(dir, arj, arjCount), Tool(dir, "cd %d && arj x -y %a", arj));
    const bench::PairTimes arjSeven = bench::Alternate(bench::ExtractAll<TUnARJ>(dir, arj, arjCount), Tool(dir, sevenZip, arj));
    fs::remove_all(dir + "/out");
    std::printf("entries extracted: lh5 %d, lh1 %d, ARJ %d (of 1 each)\n", lh5Count, lh1Count, arjCount);
    bench::PrintPair("TUnARJ::Extract 60 MB arj -m1", "7z x", arjSeven);
    bench::PrintPair("TUnLha::Extract 60 MB lh5", "7z x", lh5Seven);
    bench::PrintPair("TUnLha::Extract 60 MB lh1", "lhasa x", lh1Times, kGoal);
    bench::PrintPair("TUnLha::Extract 60 MB lh5", "lhasa x", lh5Times, kGoal);
    bench::PrintPair("TUnARJ::Extract 60 MB arj -m1", "arj x", arjTimes, kArjGoal);
    bench::PrintRatioLine(arjTimes.ratio, kArjGoal);
    return 0;
}
