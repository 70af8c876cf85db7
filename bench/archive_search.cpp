// The archive library's search, scan and one-call deflate against the peer
// tools, files warm in the page cache, in alternating pairs:
//   - TTurboSearchObj collecting every match of an 8-byte string in a 1 GB
//     file against "grep -c -F -a" writing its count to a file (goal <= 1.5),
//   - TzadFileScan over a tree of 100,000 files against
//     "find -type f -printf '%s %T@\n'" to /dev/null (goal <= 1.5),
//   - zadCompress_StreamToStream of 200 MB against "gzip -6 -c" (goal <= 1.1),
//   - zadDecompress_StreamToStream of that against "gzip -dc" (goal <= 1.0).
// The data is made in the benchmarks' data folder and removed at the end.
//
// Prints every time and ratio; the last line is the search ratio:
// "ratio <ours / grep> goal <= 1.5".
#include "bench_support.h"

#include "archive/zaddeflate.h"
#include "archive/zadfilescan.h"
#include "archive/zadsearchengine.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using bench::Quoted;
using bench::Run;

const char* const kNeedle = "zqxjvkwp";

// Text-like data with runs of noise: words, numbered records, random bytes.
std::string MixedData(std::size_t size, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    const char* words[] = {"archive", "extract", "window", "folder", "deflate", "entry", "header", "viewer",
                           "stream", "buffer", "panel", "listing", "member", "method", "size", "ratio"};
    std::string data;
    data.reserve(size);
    for (int run = 0; data.size() < size; ++run) {
        const std::size_t end = data.size() + 16 * 1024 + rng() % (256 * 1024);
        while (data.size() < end) {
            switch (run % 3) {
            case 0:
                data += words[rng() % 16];
                data += (rng() % 12 == 0) ? '\n' : ' ';
                break;
            case 1: {
                const std::uint32_t v = rng();
                data.append(reinterpret_cast<const char*>(&v), 4);
                break;
            }
            default:
                data += std::to_string(data.size()) + ";" + std::to_string(rng() % 100000) + ";record\n";
            }
        }
    }
    data.resize(size);
    return data;
}

// 1 GB of mixed data with the needle about once per 100 KB.
std::string SearchFile(const std::string& dir)
{
    const std::string path = dir + "/search.bin";
    const std::size_t total = std::size_t{1} << 30;
    if (fs::exists(path) && fs::file_size(path) == total)
        return path;
    std::string pool = MixedData(32 << 20, 5);
    std::mt19937 rng(8);
    std::ofstream out(path, std::ios::binary);
    for (std::size_t written = 0; written < total; written += pool.size()) {
        for (std::size_t p = rng() % 100000; p + 8 < pool.size(); p += 50000 + rng() % 100000)
            pool.replace(p, 8, kNeedle);
        out.write(pool.data(), static_cast<std::streamsize>(std::min(pool.size(), total - written)));
    }
    return path;
}

// 100,000 small files in 1,000 folders of 100.
std::string ScanTree(const std::string& dir)
{
    const std::string root = dir + "/tree";
    const std::string done = dir + "/tree.done";
    if (fs::exists(done))
        return root;
    fs::remove_all(root);
    for (int d = 0; d < 1000; ++d) {
        const std::string folder = root + "/d" + std::to_string(d % 10) + "/e" + std::to_string(d);
        fs::create_directories(folder);
        for (int f = 0; f < 100; ++f)
            std::ofstream(folder + "/f" + std::to_string(f) + ".dat") << d << ' ' << f;
    }
    std::ofstream(done) << "ok";
    return root;
}

}  // namespace

int main()
{
    const std::string dir = bench::DataDir() + "/archive_search";
    fs::create_directories(dir);

    const std::string search = SearchFile(dir);
    const std::string tree = ScanTree(dir);
    const std::string plain = dir + "/plain.bin";
    if (!fs::exists(plain))
        std::ofstream(plain, std::ios::binary) << MixedData(200 << 20, 7);
    const std::string ourPacked = dir + "/ours.deflate";
    const std::string peerPacked = dir + "/peer.gz";
    const std::string unpacked = dir + "/unpacked.bin";

    std::int32_t matches = 0;
    const auto searchTimes = bench::Alternate(
        bench::Timed([&] {
            TTurboSearchObj s;
            s.INIT_FILE_SEARCH(kNeedle, false, true);
            s.PERFORM_FILE_SEARCH(search);
            matches = s.MatchCount();
            s.DONE();
        }),
        // The count goes to a file: with its output on /dev/null grep stops
        // at the first match and would not search the file at all.
        bench::Command("grep -c -F -a " + std::string(kNeedle) + " " + Quoted(search) + " > " + Quoted(dir + "/count.txt")));

    std::int32_t files = 0;
    const auto scanTimes = bench::Alternate(
        bench::Timed([&] {
            TzadFileScan scan;
            scan.SetRootDir(tree);
            scan.Scan();
            files = scan.FilesCount();
        }),
        bench::Command("find " + Quoted(tree) + " -type f -printf '%s %T@\\n' > /dev/null"));

    const auto compressTimes = bench::Alternate(
        bench::Timed([&] {
            TFileStream32 in(plain, fmOpenRead | fmShareDenyWrite);
            TFileStream32 out(ourPacked, fmCreate);
            zadCompress_StreamToStream(&in, &out, in.Size(), dtDeflateN);
        }),
        bench::Command("gzip -6 -c " + Quoted(plain) + " > " + Quoted(peerPacked)), 5);

    std::uint32_t crc = 0;
    const auto decompressTimes = bench::Alternate(
        bench::Timed([&] {
            TFileStream32 in(ourPacked, fmOpenRead | fmShareDenyWrite);
            TFileStream32 out(unpacked, fmCreate);
            crc = zadDecompress_StreamToStream(&in, &out);
        }),
        bench::Command("gzip -dc " + Quoted(peerPacked) + " > " + Quoted(unpacked)), 5);

    const bool same = fs::file_size(unpacked) == fs::file_size(plain);
    std::printf("%d matches, %d files scanned, %.1f MB deflated to %.1f MB (gzip %.1f MB), round trip %s, crc %08x\n",
                matches, files, fs::file_size(plain) / 1048576.0, fs::file_size(ourPacked) / 1048576.0,
                fs::file_size(peerPacked) / 1048576.0, same ? "whole" : "BROKEN", ~crc);
    fs::remove_all(dir);

    bench::PrintPair("TzadFileScan 100,000 files", "find -printf", scanTimes, 1.5);
    bench::PrintPair("zadCompress_StreamToStream 200 MB", "gzip -6 -c", compressTimes, 1.1);
    bench::PrintPair("zadDecompress_StreamToStream 200 MB", "gzip -dc", decompressTimes, 1.0);
    bench::PrintPair("TTurboSearchObj 1 GB", "grep -c -F -a", searchTimes);
    bench::PrintRatioLine(searchTimes.ratio, 1.5);
    return 0;
}
