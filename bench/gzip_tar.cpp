// Extracting compressed files, TAR archives and text archives against the
// peer tools, each into a fresh folder on the same disk, in alternating pairs:
//   - a 200 MB .gz of mixed data, TUnGZip against "gzip -dc" into a file (goal <= 1.0),
//   - a 200 MB .Z of the same data, TUnGZip against "uncompress -c" into a file (goal <= 1.2),
//   - a 1 GB .tar of 20,000 files, TUnTar against "tar -xf" (goal <= 1.3),
//   - a 100 MB uuencoded file, TUUDecode against "uudecode -o" (goal <= 1.3).
// Emptying the output folder is left out of both sides' times. The inputs
// are made once with gzip, compress, tar and uuencode in the benchmarks'
// data folder.
//
// Prints every time and ratio; the last line is the gzip ratio:
// "ratio <ours / gzip -dc> goal <= 1.0".
#include "bench_support.h"

#include "archive/zadungzip.h"
#include "archive/zaduntar.h"
#include "archive/zaduudecode.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using bench::Run;

// Mixed data: runs of words, of incompressible bytes and of records with
// noise, size bytes in all.
std::string MixedData(std::int64_t size, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    const char* words[] = {"archive", "extract", "window", "folder", "deflate", "entry", "header", "viewer",
                           "stream", "buffer", "panel", "listing", "member", "method", "size", "ratio"};
    std::string data;
    data.reserve(static_cast<size_t>(size));
    for (int run = 0; static_cast<std::int64_t>(data.size()) < size; ++run) {
        const size_t end = data.size() + 16 * 1024 + rng() % (256 * 1024);
        switch (run % 3) {
        case 0:
            while (data.size() < end) {
                data += words[rng() % 16];
                data += (rng() % 12 == 0) ? '\n' : ' ';
            }
            break;
        case 1:
            while (data.size() < end) {
                const std::uint32_t v = rng();
                data.append(reinterpret_cast<const char*>(&v), 4);
            }
            break;
        default:
            while (data.size() < end) {
                char rec[64];
                std::snprintf(rec, sizeof rec, "%08u;%05u;record;%c\n", static_cast<unsigned>(data.size()),
                              static_cast<unsigned>(rng() % 100000), 'a' + static_cast<char>(rng() % 26));
                data += rec;
            }
        }
    }
    data.resize(static_cast<size_t>(size));
    return data;
}

struct Inputs {
    std::string gz, z, tar, uue;
};

Inputs MakeInputs(const std::string& dir)
{
    Inputs in{dir + "/mixed.gz", dir + "/mixed.Z", dir + "/files.tar", dir + "/data.uue"};
    if (!fs::exists(in.gz) || !fs::exists(in.z) || !fs::exists(in.tar) || !fs::exists(in.uue)) {
        const std::string plain = dir + "/mixed.bin";
        std::ofstream(plain, std::ios::binary) << MixedData(200 << 20, 7);
        Run("gzip -c '" + plain + "' > '" + in.gz + "'");
        Run("compress -c < '" + plain + "' > '" + in.z + "'");
        fs::remove(plain);
        // 20,000 files of about 52 KB in 100 folders: 1 GB.
        const std::string src = dir + "/tree";
        fs::remove_all(src);
        std::mt19937 rng(3);
        const std::string pool = MixedData(4 << 20, 11);
        for (int i = 0; i < 20000; ++i) {
            const std::string folder = src + "/d" + std::to_string(i % 100);
            fs::create_directories(folder);
            const size_t size = 40000 + rng() % 24000;
            const size_t at = rng() % (pool.size() - size);
            std::ofstream(folder + "/f" + std::to_string(i) + ".dat", std::ios::binary).write(pool.data() + at, static_cast<std::streamsize>(size));
        }
        Run("cd '" + src + "' && tar -cf '" + in.tar + "' .");
        fs::remove_all(src);
        const std::string raw = dir + "/uu.bin";
        std::ofstream(raw, std::ios::binary) << MixedData(73 << 20, 5);
        Run("cd '" + dir + "' && uuencode uu.bin uu.bin > '" + in.uue + "'");
        fs::remove(raw);
    }
    return in;
}

template <typename X>
std::unique_ptr<X> Extractor(const std::string& archive, const std::string& out)
{
    auto x = std::make_unique<X>();
    x->SetArchiveFile(archive);
    x->SetExtractDir(out);
    x->FileSpec.Add("*.*");
    return x;
}

}  // namespace

int main()
{
    const std::string dir = bench::DataDir() + "/gzip_tar";
    fs::create_directories(dir);
    const Inputs in = MakeInputs(dir);

    struct Case {
        const char* name;
        std::function<void(const std::string&)> ours;
        std::function<void(const std::string&)> peer;
        const char* peerName;
        double goal;
    };
    const std::vector<Case> cases = {
        {"TUnGZip 200 MB .gz", [&](const std::string& out) { Extractor<TUnGZip>(in.gz, out)->Extract(); },
         [&](const std::string& out) { Run("gzip -dc '" + in.gz + "' > '" + out + "/mixed'"); }, "gzip -dc", 1.0},
        {"TUnGZip 200 MB .Z", [&](const std::string& out) { Extractor<TUnGZip>(in.z, out)->Extract(); },
         [&](const std::string& out) { Run("uncompress -c < '" + in.z + "' > '" + out + "/mixed'"); }, "uncompress -c", 1.2},
        {"TUnTar 1 GB, 20,000 files", [&](const std::string& out) { Extractor<TUnTar>(in.tar, out)->Extract(); },
         [&](const std::string& out) { Run("tar -xf '" + in.tar + "' -C '" + out + "'"); }, "tar -xf", 1.3},
        {"TUUDecode 100 MB", [&](const std::string& out) { Extractor<TUUDecode>(in.uue, out)->Extract(); },
         [&](const std::string& out) { Run("uudecode -o '" + out + "/uu.bin' '" + in.uue + "'"); }, "uudecode -o", 1.3},
    };
    std::vector<bench::PairTimes> times;
    for (const Case& c : cases)
        times.push_back(bench::Alternate(bench::InFreshFolder(dir, c.ours), bench::InFreshFolder(dir, c.peer), 5));
    fs::remove_all(dir + "/out");
    for (size_t i = 0; i < cases.size(); ++i)
        bench::PrintPair(cases[i].name, cases[i].peerName, times[i], cases[i].goal);
    bench::PrintRatioLine(times[0].ratio, cases[0].goal);
    return 0;
}
