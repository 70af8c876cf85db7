// What the image decode benchmarks share: test pictures written as PPM for
// ImageMagick to convert, the command that runs our decode program
// (vx_decode) as a whole process, and the peak memory of a command.
#pragma once

#include "bench_support.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace decodebench {

struct Rgb {
    std::uint8_t r, g, b;
};

// Writes a binary PPM of width x height pixels given by pixel(x, y), top row first.
inline bool WritePpm(const std::string& path, int width, int height, const std::function<Rgb(int, int)>& pixel)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    std::fprintf(f, "P6\n%d %d\n255\n", width, height);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 3);
    bool ok = true;
    for (int y = 0; y < height && ok; ++y) {
        for (int x = 0; x < width; ++x) {
            const Rgb c = pixel(x, y);
            row[3 * x] = c.r;
            row[3 * x + 1] = c.g;
            row[3 * x + 2] = c.b;
        }
        ok = std::fwrite(row.data(), 1, row.size(), f) == row.size();
    }
    return std::fclose(f) == 0 && ok;
}

// A photograph-like picture: smooth colour fields with fine grain, so that
// run-length coders find short runs and literal stretches as in real files.
inline Rgb PhotoPixel(int x, int y)
{
    std::uint32_t h = static_cast<std::uint32_t>(x) * 374761393u + static_cast<std::uint32_t>(y) * 668265263u;
    h = (h ^ (h >> 13)) * 1274126177u;
    const int grain = static_cast<int>((h >> 24) & 3);
    auto clamp = [](int v) { return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
    return Rgb{clamp((x / 16) % 256 + grain), clamp((y / 12) % 256 + grain), clamp(((x + y) / 28) % 256 - grain)};
}

// The same picture in at most 256 colours.
inline Rgb PalettePixel(int x, int y)
{
    const Rgb c = PhotoPixel(x, y);
    return Rgb{static_cast<std::uint8_t>(c.r & 0xE0), static_cast<std::uint8_t>(c.g & 0xE0),
               static_cast<std::uint8_t>(c.b & 0xC0)};
}

using bench::Quoted;

// The decode comparisons run vx_decode, which only the decode benchmarks build.
#ifdef VX_DECODE_PROGRAM
// Our side of a comparison: vx_decode (built beside the benchmark) on a file.
inline std::string OursCommand(const std::string& file, std::uint32_t formatId)
{
    return Quoted(VX_DECODE_PROGRAM) + " " + Quoted(file) + " " + std::to_string(formatId);
}

// The peer tool's command: the file converted to nothing.
inline std::string PeerCommand(const std::string& tool, const std::string& file)
{
    return tool + " " + Quoted(file) + " > /dev/null 2>&1";
}

// Times our decode of a file against the peer tool's, in alternating pairs,
// and prints the comparison.
inline bench::PairTimes CompareWithPeer(const std::string& name, const std::string& file, std::uint32_t formatId,
                                        const std::string& tool)
{
    const bench::PairTimes t =
        bench::Alternate(bench::Command(OursCommand(file, formatId)), bench::Command(PeerCommand(tool, file)));
    bench::PrintPair(name, tool, t);
    return t;
}

// A benchmark on a photograph-like picture drawn by ImageMagick: 4000 x 3000
// of plasma from a fixed seed, so every run decodes the same file, written as
// `extension` with `options`. Times our decode against the peer tool's and
// prints the ratio line; 0 when it ran.
inline int RunPlasmaBench(const std::string& name, const std::string& extension, const std::string& options,
                          std::uint32_t formatId, const std::string& tool, double goal)
{
    const std::string file = bench::DataDir() + "/" + name + "_plasma." + extension;
    if (!bench::Run("convert -seed 17 -size 4000x3000 plasma:fractal " + options + " " + Quoted(file)))
        return 1;
    const bench::PairTimes t = CompareWithPeer(name + " 4000 x 3000", file, formatId, tool);
    std::remove(file.c_str());
    bench::PrintRatioLine(t.ratio, goal);
    return 0;
}
#endif

// Runs a shell command and answers its peak resident memory in MB (that of
// the command itself, which the shell replaces itself with), or -1.
inline double PeakMb(const std::string& command)
{
    const pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

}  // namespace decodebench
