// JPEG 2000 decoding against OpenJPEG's own opj_decompress.
//
// A 4000 x 3000 photo-like picture (ImageMagick's plasma with a fixed seed)
// is coded by opj_compress at ratio 20 in the benchmark folder. Our decode
// program (vx_decode, format id 11: OpenJPEG decoding, colour conversion
// and the 24-bit rows) and `opj_decompress -i FILE -o OUT.ppm` run as whole
// processes in alternating pairs, both with the same number of OpenJPEG
// threads (OPJ_NUM_THREADS, 1 when unset).
//
// Last line: "ratio <ours / opj_decompress> goal <= 1.1".
#include "bench_support.h"
#include "decode_bench.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

int main()
{
    using decodebench::Quoted;
    const std::string dir = bench::DataDir() + "/jp2_decode_";
    const std::string ppm = dir + "plasma.ppm", jp2 = dir + "plasma.jp2", out = dir + "out.ppm";
    const char* env = std::getenv("OPJ_NUM_THREADS");
    const std::string threads = env && *env ? env : "1";
    setenv("OPJ_NUM_THREADS", threads.c_str(), 1);

    const bool made = bench::Run("convert -seed 1702 -size 4000x3000 plasma:fractal " + Quoted(ppm)) &&
                      bench::Run("opj_compress -i " + Quoted(ppm) + " -o " + Quoted(jp2) + " -r 20 > /dev/null");
    std::filesystem::remove(ppm);
    if (!made)
        return 1;
    std::printf("jp2_decode: 4000 x 3000 plasma, opj_compress -r 20, %ju bytes, %s OpenJPEG thread(s)\n",
                static_cast<std::uintmax_t>(std::filesystem::file_size(jp2)), threads.c_str());

    const bench::PairTimes t = bench::Alternate(
        bench::Command(decodebench::OursCommand(jp2, 11)),
        bench::Command("opj_decompress -threads " + threads + " -i " + Quoted(jp2) + " -o " + Quoted(out) +
                       " > /dev/null 2>&1"));
    bench::PrintPair("jp2_decode 4000 x 3000", "opj_decompress", t);
    std::filesystem::remove(jp2);
    std::filesystem::remove(out);
    bench::PrintRatioLine(t.ratio, 1.1);
    return 0;
}
