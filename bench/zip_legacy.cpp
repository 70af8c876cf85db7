// Extracting the legacy ZIP methods and a split set with TUnZip::Extract
// against the real tools, each into a fresh folder on the same disk, in
// alternating pairs:
//   - a 100 MB imploded ZIP (8 KB dictionary, literal tree) against
//     "unzip -o -q" (goal <= 1.2),
//   - a 100 MB shrunk ZIP against "unzip -o -q" (goal <= 1.2),
//   - a 200 MB deflated set split with "zip -s 20m" (ten parts) against
//     "7z x" (goal <= 1.2); ours is given every part through OnNextVolume.
// The sizes are those of the archives; their entries hold text with near
// and far repeats and, one in five, noise.
// Emptying the output folder is left out of both sides' times. The
// archives are made once in the benchmarks' data folder: the imploded and
// shrunk ones by the test encoders (no Debian tool writes these methods),
// the split set by zip.
//
// Prints every time and ratio; the last line is the implode ratio:
// "ratio <ours / unzip> goal <= 1.2".
#include "bench_support.h"

#include "archive/zadunzip.h"
#include "tests/archive/zip_writer.h"
#include "tests/archive_extract/legacy_encoders.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr double kGoal = 1.2;

// Four-megabyte pieces: text with near and far repeats, one in five noise.
std::string Piece(int i)
{
    constexpr size_t kSize = 4 << 20;
    if (i % 5 != 4)
        return legacyzip::SampleText(kSize, static_cast<unsigned>(1000 + i));
    std::mt19937 rng(static_cast<unsigned>(i));
    std::string s(kSize, '\0');
    for (char& c : s)
        c = static_cast<char>(rng());
    return s;
}

constexpr std::int64_t kMB = 1 << 20;

// The archive (a file, or a folder of parts) is there from an earlier run
// and has its full size.
bool AlreadyMade(const std::string& path, std::int64_t size)
{
    if (!fs::exists(path))
        return false;
    if (!fs::is_directory(path))
        return static_cast<std::int64_t>(fs::file_size(path)) >= size;
    std::int64_t total = 0;
    for (const auto& part : fs::directory_iterator(path))
        total += static_cast<std::int64_t>(part.file_size());
    return total >= size && fs::exists(path + "/set.zip");
}

// Entries of 4 MB packed by the method's test encoder until the archive
// holds 100 MB of packed data.
void MakeLegacyZip(const std::string& path, unsigned method)
{
    if (AlreadyMade(path, 100 * kMB))
        return;
    zipwriter::Archive a;
    std::int64_t packed = 0;
    for (int i = 0; packed < 100 * kMB; ++i) {
        auto& e = a.Add("part" + std::to_string(i) + ".dat", Piece(i), method);
        if (method == 1) {
            e.packed = legacyzip::Shrink(e.data);
        } else {
            e.flags = legacyzip::ImplodeFlags(true, true);
            e.packed = legacyzip::Implode(e.data, true, true);
        }
        packed += static_cast<std::int64_t>(e.packed->size());
    }
    const std::string tmp = path + ".tmp";
    std::ofstream(tmp, std::ios::binary) << a.Build();
    fs::rename(tmp, path);
}

// Files of 4 MB, as many as zip (deflating at its default level, which
// zlib's level 6 matches in size closely enough) needs to write 200 MB,
// deflated by zip into parts of 20 MB.
std::string MakeSplitSet(const std::string& dir)
{
    const std::string zip = dir + "/split/set.zip";
    if (AlreadyMade(dir + "/split", 195 * kMB))
        return zip;
    fs::remove_all(dir + "/split");
    fs::create_directories(dir + "/split");
    const std::string src = dir + "/split-src";
    fs::remove_all(src);
    std::int64_t deflated = 0;
    for (int i = 0; deflated < 200 * kMB; ++i) {
        fs::create_directories(src + "/dir" + std::to_string(i % 5));
        const std::string data = Piece(i);
        deflated += static_cast<std::int64_t>(zipwriter::Deflate(data).size());
        std::ofstream(src + "/dir" + std::to_string(i % 5) + "/file" + std::to_string(i) + ".dat", std::ios::binary)
            << data;
    }
    bench::Run("cd '" + src + "' && zip -q -r -s 20m '" + zip + "' .");
    fs::remove_all(src);
    return zip;
}

}  // namespace

int main()
{
    const std::string dir = bench::DataDir() + "/zip_legacy";
    fs::create_directories(dir);
    const std::string imploded = dir + "/imploded-100mb.zip", shrunk = dir + "/shrunk-100mb.zip";
    MakeLegacyZip(imploded, 6);
    MakeLegacyZip(shrunk, 1);
    const std::string split = MakeSplitSet(dir);

    struct Case {
        const char* name;
        std::string archive;
        std::string tool;  // command, the output folder follows
        const char* toolName;
    };
    const std::vector<Case> cases = {
        {"imploded 100 MB", imploded, "unzip -o -q '" + imploded + "' -d ", "unzip -o -q"},
        {"shrunk 100 MB", shrunk, "unzip -o -q '" + shrunk + "' -d ", "unzip -o -q"},
        {"split 200 MB", split, "7z x -y -bd '" + split + "' -o", "7z x"},
    };
    std::vector<bench::PairTimes> times;
    for (const Case& c : cases) {
        int count = 0;
        times.push_back(bench::Alternate(bench::InFreshFolder(dir,
                                                       [&](const std::string& out) {
                                                           TUnZip z;
                                                           z.SetArchiveFile(c.archive);
                                                           z.SetExtractDir(out);
                                                           z.FileSpec.Add("*.*");
                                                           z.OnNextVolume = [](TObject*, std::string&, int, bool, bool&) {};
                                                           count = z.Extract();
                                                       }),
                                         bench::InFreshFolder(dir, [&](const std::string& out) {
                                             bench::Run(c.tool + "'" + out + "' > /dev/null");
                                         })));
        std::printf("%s: %d entries extracted\n", c.name, count);
    }
    fs::remove_all(dir + "/out");
    for (size_t i = 0; i < cases.size(); ++i)
        bench::PrintPair(std::string("TUnZip::Extract ") + cases[i].name, cases[i].toolName, times[i], kGoal);
    bench::PrintRatioLine(times[0].ratio, kGoal);
    return 0;
}
