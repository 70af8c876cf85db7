// Extracting ZIP archives with TUnZip::Extract against the real tools, each
// into a fresh folder on the same disk, in alternating pairs:
//   - a 200 MB deflated ZIP of mixed files against "unzip -o -q" (goal <= 0.7),
//   - a Deflate64 ZIP against "7z x" (goal <= 0.9),
//   - an AES-256 ZIP against "7z x -p" with the password (goal <= 1.0).
// Emptying the output folder is left out of both sides' times. Beside wall
// time, each side's page faults and system time are measured (getrusage of
// this process for ours, of the finished children for the tools): the
// extractor keeps an entry's buffers for the whole run, so neither grows
// with the number of entries.
// The archives are made once with zip and 7z in the benchmarks' data folder.
//
// Prints every time and ratio; the last line is the deflate ratio:
// "ratio <ours / unzip> goal <= 0.7".
#include "bench_support.h"

#include "archive/zadunzip.h"

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using bench::Run;

constexpr const char* kPassword = "bench-Secret-256";

// Mixed files: text, incompressible bytes, and repetitive records with
// noise, in a few folders; about totalMB megabytes.
void MakeTree(const std::string& root, int totalMB)
{
    std::mt19937 rng(42);
    const char* words[] = {"archive", "extract", "window", "folder", "deflate", "entry", "header", "viewer",
        "stream", "buffer", "panel", "listing", "encrypted", "method", "size", "ratio"};
    std::int64_t left = static_cast<std::int64_t>(totalMB) << 20;
    for (int i = 0; left > 0; ++i) {
        const std::string dir = root + "/dir" + std::to_string(i % 8);
        fs::create_directories(dir);
        const std::int64_t size = std::min<std::int64_t>(left, 64 * 1024 + static_cast<std::int64_t>(rng() % (1500 * 1024)));
        std::string data;
        data.reserve(static_cast<size_t>(size));
        switch (i % 3) {
        case 0:
            while (static_cast<std::int64_t>(data.size()) < size) {
                data += words[rng() % 16];
                data += (rng() % 12 == 0) ? '\n' : ' ';
            }
            break;
        case 1:
            while (static_cast<std::int64_t>(data.size()) < size) {
                const std::uint32_t v = rng();
                data.append(reinterpret_cast<const char*>(&v), 4);
            }
            break;
        default:
            while (static_cast<std::int64_t>(data.size()) < size) {
                char rec[64];
                std::snprintf(rec, sizeof rec, "%08u;%05u;record;%c%c\n", static_cast<unsigned>(data.size()),
                    static_cast<unsigned>(rng() % 100000), 'a' + static_cast<char>(rng() % 26), 'a' + static_cast<char>(rng() % 26));
                data += rec;
            }
        }
        data.resize(static_cast<size_t>(size));
        std::ofstream(dir + "/file" + std::to_string(i) + (i % 3 == 1 ? ".bin" : ".txt"), std::ios::binary) << data;
        left -= size;
    }
}

struct Archives {
    std::string deflated, deflate64, aes;
};

Archives MakeArchives(const std::string& dir)
{
    Archives a{dir + "/mixed-200mb.zip", dir + "/deflate64.zip", dir + "/aes256.zip"};
    if (!fs::exists(a.deflated) || !fs::exists(a.deflate64) || !fs::exists(a.aes)) {
        fs::remove_all(dir + "/src200");
        fs::remove_all(dir + "/src50");
        MakeTree(dir + "/src200", 200);
        MakeTree(dir + "/src50", 50);
        fs::remove(a.deflated);
        fs::remove(a.deflate64);
        fs::remove(a.aes);
        Run("cd '" + dir + "/src200' && zip -q -r '" + a.deflated + "' .");
        Run("cd '" + dir + "/src50' && 7z a -bd -tzip -mm=Deflate64 '" + a.deflate64 + "' . > /dev/null");
        Run("cd '" + dir + "/src50' && 7z a -bd -tzip -mem=AES256 -p" + kPassword + " '" + a.aes + "' . > /dev/null");
        fs::remove_all(dir + "/src200");
        fs::remove_all(dir + "/src50");
    }
    return a;
}

// Page faults and system seconds of this process (RUSAGE_SELF) or of its
// finished children (RUSAGE_CHILDREN).
struct Usage {
    double faults = 0;
    double system = 0;
};

Usage UsageOf(int who)
{
    rusage r{};
    getrusage(who, &r);
    return {static_cast<double>(r.ru_minflt + r.ru_majflt),
            static_cast<double>(r.ru_stime.tv_sec) + static_cast<double>(r.ru_stime.tv_usec) / 1e6};
}

// One side of the pairs: each run starts with an empty output folder
// (emptying it is not timed), then its work is timed and what it cost in
// page faults and system time is kept.
struct MeasuredSide {
    int who;
    std::vector<double> faults, system;

    bench::Side Make(const std::string& dir, std::function<void(const std::string& out)> work)
    {
        return [this, dir, work = std::move(work)] {
            const std::string out = bench::FreshFolder(dir);
            const Usage before = UsageOf(who);
            const double seconds = bench::TimeCall([&] { work(out); });
            const Usage after = UsageOf(who);
            faults.push_back(after.faults - before.faults);
            system.push_back(after.system - before.system);
            return seconds;
        };
    }
};

}  // namespace

int main()
{
    const std::string dir = bench::DataDir() + "/zip_extract";
    fs::create_directories(dir);
    const Archives a = MakeArchives(dir);

    struct Case {
        const char* name;
        std::string archive;
        std::string password;
        std::string tool;  // command, the output folder follows
        const char* toolName;
        double goal;
    };
    const std::vector<Case> cases = {
        {"deflated 200 MB", a.deflated, "", "unzip -o -q '" + a.deflated + "' -d ", "unzip -o -q", 0.7},
        {"deflate64", a.deflate64, "", "7z x -y -bd '" + a.deflate64 + "' -o", "7z x", 0.9},
        {"aes256", a.aes, kPassword, std::string("7z x -y -bd -p") + kPassword + " '" + a.aes + "' -o", "7z x -p", 1.0},
    };
    std::vector<bench::PairTimes> times;
    for (const Case& c : cases) {
        int count = 0;
        MeasuredSide ours{RUSAGE_SELF, {}, {}}, peer{RUSAGE_CHILDREN, {}, {}};
        times.push_back(bench::Alternate(ours.Make(dir,
                                             [&](const std::string& out) {
                                                 TUnZip z;
                                                 z.SetArchiveFile(c.archive);
                                                 z.SetExtractDir(out);
                                                 z.FileSpec.Add("*.*");
                                                 z.Password = c.password;
                                                 count = z.Extract();
                                             }),
            peer.Make(dir, [&](const std::string& out) { Run(c.tool + "'" + out + "' > /dev/null"); })));
        std::printf("%s: %d entries; page faults ours %.0f, %s %.0f; system time ours %.1f ms, %s %.1f ms (medians)\n",
            c.name, count, bench::Median(ours.faults), c.toolName, bench::Median(peer.faults),
            bench::Median(ours.system) * 1e3, c.toolName, bench::Median(peer.system) * 1e3);
    }
    fs::remove_all(dir + "/out");

    for (size_t i = 0; i < cases.size(); ++i)
        bench::PrintPair(std::string("TUnZip::Extract ") + cases[i].name, cases[i].toolName, times[i], cases[i].goal);
    bench::PrintRatioLine(times[0].ratio, cases[0].goal);
    return 0;
}
