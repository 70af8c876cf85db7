// What the benchmark programs share: wall-clock seconds, medians, running a
// peer tool's shell command, and timing ours against a peer in alternating
// pairs.
//
// Machines here are shared and their speed drifts over a run, so a ratio is
// never taken between our runs made first and the peer's made afterwards.
// `Alternate` runs one warm-up pair, then ours, peer, ours, peer ... for at
// least five pairs, and reports the median of the pairwise ratios: load that
// changes between pairs cancels out within each pair.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace bench {

inline double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

inline double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    if (v.empty())
        return 0;
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// A path in single quotes for a shell command line.
inline std::string Quoted(const std::string& s) { return "'" + s + "'"; }

// Runs a shell command; a failure is reported on stderr.
inline bool Run(const std::string& command)
{
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        return false;
    }
    return true;
}

// A file of size pseudo-random bytes (xorshift: nothing in them makes a
// conversion easier), made once and kept for later runs.
inline std::string PseudoRandomFile(const std::string& path, std::size_t size)
{
    if (std::filesystem::exists(path) && std::filesystem::file_size(path) == size)
        return path;
    std::string data(size, '\0');
    std::uint32_t x = 2463534242u;
    for (char& c : data) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
    }
    std::ofstream(path, std::ios::binary) << data;
    return path;
}

// The wall-clock seconds a shell command takes.
inline double TimeCommand(const std::string& command)
{
    const auto t0 = std::chrono::steady_clock::now();
    Run(command);
    return Seconds(std::chrono::steady_clock::now() - t0);
}

// The wall-clock seconds one call takes.
inline double TimeCall(const std::function<void()>& work)
{
    const auto t0 = std::chrono::steady_clock::now();
    work();
    return Seconds(std::chrono::steady_clock::now() - t0);
}

// One side of a pair: does its work once and answers the seconds to count.
// Most sides are `Timed(work)`; a side that must leave out its own set-up
// (emptying an output folder, say) measures itself and answers the time.
using Side = std::function<double()>;

inline Side Timed(std::function<void()> work)
{
    return [work = std::move(work)] { return TimeCall(work); };
}

inline Side Command(const std::string& command)
{
    return [command] { return TimeCommand(command); };
}

struct PairTimes {
    double ours = 0;   // median seconds of our runs
    double peer = 0;   // median seconds of the peer's runs
    double ratio = 0;  // median of ours / peer over the pairs
    std::vector<double> ratios;
};

// Times `ours` and `peer` alternately: one warm-up pair that is not counted,
// then `pairs` pairs (at least five), ours first in every pair.
inline PairTimes Alternate(const Side& ours, const Side& peer, int pairs = 7)
{
    pairs = std::max(pairs, 5);
    ours();
    peer();
    std::vector<double> a, b;
    PairTimes t;
    for (int i = 0; i < pairs; ++i) {
        const double x = ours();
        const double y = peer();
        a.push_back(x);
        b.push_back(y);
        t.ratios.push_back(y > 0 ? x / y : 0);
    }
    t.ours = Median(a);
    t.peer = Median(b);
    t.ratio = Median(t.ratios);
    return t;
}

// "<name>: ours 12.345 ms, <peer> 10.000 ms, ratio 1.234 (median of 7
// alternating pairs, 1.101 to 1.350)[, goal <= 1.5]": the spread of the
// pairwise ratios shows how much the machine's load moved during the run.
// A goal is printed for comparisons other than the one of the last line.
inline void PrintPair(const std::string& name, const std::string& peerName, const PairTimes& t, double goal = 0)
{
    const auto [lo, hi] = std::minmax_element(t.ratios.begin(), t.ratios.end());
    std::printf("%s: ours %.3f ms, %s %.3f ms, ratio %.3f (median of %zu alternating pairs, %.3f to %.3f)", name.c_str(),
        t.ours * 1e3, peerName.c_str(), t.peer * 1e3, t.ratio, t.ratios.size(), lo == t.ratios.end() ? 0.0 : *lo,
        hi == t.ratios.end() ? 0.0 : *hi);
    if (goal > 0)
        std::printf(", goal <= %g", goal);
    std::printf("\n");
    std::fflush(stdout);
}

// The folder for a benchmark's generated data, created when missing:
// VISTREL_BENCH_DIR when set, else vistrel-bench in the temporary folder.
// Ours and the peer read and write there alike, so both use the same disk.
inline std::string DataDir()
{
    const char* env = std::getenv("VISTREL_BENCH_DIR");
    const char* tmp = std::getenv("TMPDIR");
    const std::filesystem::path dir = env && *env ? std::filesystem::path(env)
                                                  : std::filesystem::path(tmp && *tmp ? tmp : "/tmp") / "vistrel-bench";
    std::filesystem::create_directories(dir);
    return dir.string();
}

#ifdef VISTREL_SOURCE_DIR
// Makes a file of the converter benchmarks with the project's fixture script,
// unless it is there from an earlier run.
inline bool EnsureConvertFixture(const char* kind, const std::string& path)
{
    return std::filesystem::exists(path)
        || Run(Quoted(std::string(VISTREL_SOURCE_DIR) + "/scripts/make-convert-fixtures.sh") + " " + kind + " "
               + Quoted(path));
}
#endif

// dir/out, emptied (or made): where an extracting benchmark writes, fresh
// for every run.
inline std::string FreshFolder(const std::string& dir)
{
    const std::string out = dir + "/out";
    std::filesystem::remove_all(out);
    std::filesystem::create_directories(out);
    return out;
}

// One side of a pair: each run starts in an empty dir/out (emptying it is
// not timed).
inline Side InFreshFolder(const std::string& dir, std::function<void(const std::string& out)> work)
{
    return [dir, work = std::move(work)] {
        const std::string out = FreshFolder(dir);
        return TimeCall([&] { work(out); });
    };
}

// Our side of an extracting pair: every entry of the archive into a fresh
// dir/out; count takes the number of entries the last run extracted.
template <class Extractor>
Side ExtractAll(const std::string& dir, const std::string& archive, int& count)
{
    return InFreshFolder(dir, [&archive, &count](const std::string& out) {
        Extractor x;
        x.SetArchiveFile(archive);
        x.SetExtractDir(out);
        x.FileSpec.Add("*.*");
        count = x.Extract();
    });
}

// Megabytes of a line of /proc/self/status: "VmRSS" (now), "VmHWM" (peak).
inline double StatusMb(const char* key)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    const size_t n = std::strlen(key);
    while (std::getline(in, line))
        if (line.compare(0, n, key) == 0 && line.size() > n && line[n] == ':')
            return std::atof(line.c_str() + n + 1) / 1024.0;
    return 0;
}

// Starts the peak ("VmHWM") afresh from the memory in use now, so that the
// peak of one piece of work can be read afterwards.
inline void ResetPeakMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }

// The last line of every benchmark: "ratio <value> goal <= <goal>".
inline void PrintRatioLine(double ratio, double goal)
{
    std::printf("ratio %.3f goal <= %g\n", ratio, goal);
    std::fflush(stdout);
}

} // namespace bench
