// What the benchmark programs share: wall-clock seconds, the median of
// repeated runs, and timing a peer tool's shell command on the same input.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace bench {

inline double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

inline double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
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

} // namespace bench
