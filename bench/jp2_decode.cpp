// JPEG 2000 decoding against OpenJPEG's own opj_decompress.
//
// A 4000 x 3000 photo-like picture (ImageMagick's plasma with a fixed seed)
// is coded by opj_compress at ratio 20 when the benchmark starts, below a
// temporary folder. Ours loads it with VxImage::Load as a JP2 (OpenJPEG
// decoding, colour conversion and the 24-bit rows); the peer decodes it to
// a PPM file on the same disk. Both run with the same number of OpenJPEG
// threads (OPJ_NUM_THREADS, 1 when unset), timed in alternating pairs.
//
// Last line: "ratio <ours / opj_decompress> goal <= 1.1".
#include "bench_support.h"

#include "imaging/vximage.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace fs = std::filesystem;

int main()
{
    const fs::path dir = fs::temp_directory_path() / ("vistrel-jp2-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string ppm = (dir / "plasma.ppm").string();
    const std::string jp2 = (dir / "plasma.jp2").string();
    const std::string out = (dir / "out.ppm").string();
    const char* env = std::getenv("OPJ_NUM_THREADS");
    const std::string threads = env && *env ? env : "1";
    setenv("OPJ_NUM_THREADS", threads.c_str(), 1);

    bool ok = bench::Run("convert -seed 1702 -size 4000x3000 plasma:fractal '" + ppm + "'") &&
              bench::Run("opj_compress -i '" + ppm + "' -o '" + jp2 + "' -r 20 > /dev/null");
    if (!ok) {
        fs::remove_all(dir);
        return 1;
    }
    std::printf("jp2_decode: 4000 x 3000 plasma, opj_compress -r 20, %ju bytes, %s OpenJPEG thread(s)\n",
                static_cast<std::uintmax_t>(fs::file_size(jp2)), threads.c_str());

    const bench::Side ours = bench::Timed([&] {
        VxImage image;
        if (!image.Load(jp2.c_str(), VXFMT_JP2) || image.GetWidth() != 4000)
            std::fprintf(stderr, "decode failed: %s\n", image.GetLastError());
    });
    const bench::Side peer =
        bench::Command("opj_decompress -threads " + threads + " -i '" + jp2 + "' -o '" + out + "' > /dev/null");
    const bench::PairTimes t = bench::Alternate(ours, peer, 7);
    bench::PrintPair("jp2_decode", "opj_decompress", t);
    fs::remove_all(dir);
    bench::PrintRatioLine(t.ratio, 1.1);
    return 0;
}
