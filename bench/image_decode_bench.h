// What the image decoding benchmarks share: a 4000 x 3000 photo-like
// picture (ImageMagick's plasma with a fixed seed) written at run time in
// the format under test, then our decoder against the peer tool's, timed in
// alternating pairs.
#pragma once

#include "bench_support.h"

#include "imaging/vximage.h"

#include <cstdio>
#include <filesystem>
#include <string>

namespace bench {

struct DecodeBench {
    const char* name;          // "tiff_decode"
    const char* extension;     // "tif"
    std::uint32_t formatId;    // the id our decoder is called with
    const char* writeOptions;  // ImageMagick options for the file
    const char* peer;          // the peer's command; the file's path follows
    double goal;
};

// Runs one benchmark and prints its pair and its ratio line; 0 when it ran.
inline int RunDecodeBench(const DecodeBench& b)
{
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / (std::string("vistrel-") + b.name);
    fs::create_directories(dir);
    const std::string file = (dir / (std::string("plasma.") + b.extension)).string();
    // The picture is the same in every run: plasma drawn from a fixed seed.
    if (!Run(std::string("convert -seed 17 -size 4000x3000 plasma:fractal ") + b.writeOptions + " '" + file + "'"))
        return 1;
    VxImage probe;
    if (!probe.Load(file.c_str(), b.formatId)) {
        std::fprintf(stderr, "cannot decode %s: %s\n", file.c_str(), probe.GetLastError());
        return 1;
    }
    const PairTimes t = Alternate(
        Timed([&] {
            VxImage image;
            if (!image.Load(file.c_str(), b.formatId))
                std::fprintf(stderr, "decode failed: %s\n", image.GetLastError());
        }),
        Command(std::string(b.peer) + " '" + file + "' > /dev/null 2>&1"));
    PrintPair(b.name, b.peer, t);
    fs::remove_all(dir);
    PrintRatioLine(t.ratio, b.goal);
    return 0;
}

}  // namespace bench
