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
#include <cstdio>
#include <cstdlib>
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

// Runs a shell command; a failure is reported on stderr.
inline bool Run(const std::string& command)
{
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        return false;
    }
    return true;
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

// "<name>: ours 12.345 ms, <peer> 10.000 ms, ratio 1.234 (median of 7 pairs)"
inline void PrintPair(const std::string& name, const std::string& peerName, const PairTimes& t)
{
    std::printf("%s: ours %.3f ms, %s %.3f ms, ratio %.3f (median of %zu alternating pairs)\n", name.c_str(),
        t.ours * 1e3, peerName.c_str(), t.peer * 1e3, t.ratio, t.ratios.size());
    std::fflush(stdout);
}

// The last line of every benchmark: "ratio <value> goal <= <goal>".
inline void PrintRatioLine(double ratio, double goal)
{
    std::printf("ratio %.3f goal <= %g\n", ratio, goal);
    std::fflush(stdout);
}

} // namespace bench
