// Extracting ARC, cabinet and RAR archives with TUnArc, TUnCab and TUnRar
// against the real tools, each into a fresh folder on the same disk, in
// alternating pairs:
//   - a 20 MB ARC made by "arc a" (crunched text, stored noise) against
//     "arc x" (goal <= 1.2), with nomarch printed beside,
//   - a 100 MB MSZIP cabinet made by "gcab -c -z" against "cabextract"
//     (goal <= 1.2),
//   - a 200 MB RAR 4 archive of stored entries, written here (no RAR writer
//     is in Debian main), against "bsdtar -xf" (goal <= 1.2).
// Emptying the output folder is left out of both sides' times; the
// archives are made once in the benchmarks' data folder from 4 MB pieces of
// text with near and far repeats, one in five noise.
//
// Prints every time and ratio; the last line is the ARC ratio:
// "ratio <ours / arc x> goal <= 1.2".
#include "bench_support.h"

#include "archive/zadunarc.h"
#include "archive/zaduncab.h"
#include "archive/zadunrar.h"
#include "tests/archive_extract/legacy_encoders.h"

#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr double kGoal = 1.2;
constexpr std::int64_t kMB = 1 << 20;

std::string Piece(int i, size_t size)
{
    if (i % 5 != 4)
        return legacyzip::SampleText(size, static_cast<unsigned>(2900 + i));
    std::mt19937 rng(static_cast<unsigned>(i));
    std::string s(size, '\0');
    for (char& c : s)
        c = static_cast<char>(rng());
    return s;
}

bool Made(const std::string& path, std::int64_t size)
{
    return fs::exists(path) && static_cast<std::int64_t>(fs::file_size(path)) >= size;
}

// Pieces written as files into src until tool, given their names, has made
// an archive of at least size bytes.
void MakeWithTool(const std::string& archive, std::int64_t size, size_t pieceSize, const std::string& src,
                  const std::function<std::string(const std::vector<std::string>&)>& command)
{
    if (Made(archive, size))
        return;
    fs::remove(archive);
    fs::remove_all(src);
    fs::create_directories(src);
    std::vector<std::string> names;
    // Five pieces show how the tool packs them; then enough for the size.
    size_t wanted = 5;
    for (;;) {
        while (names.size() < wanted) {
            const std::string name = "piece" + std::to_string(names.size()) + ".dat";
            std::ofstream(src + "/" + name, std::ios::binary) << Piece(static_cast<int>(names.size()), pieceSize);
            names.push_back(name);
        }
        fs::remove(archive);
        bench::Run("cd '" + src + "' && " + command(names) + " > /dev/null");
        if (Made(archive, size))
            break;
        const auto made = static_cast<std::int64_t>(fs::exists(archive) ? fs::file_size(archive) : 0);
        wanted = made > 0 ? static_cast<size_t>(size * static_cast<std::int64_t>(names.size()) / made) + 2 : wanted * 2;
    }
    fs::remove_all(src);
}

std::string Joined(const std::vector<std::string>& names)
{
    std::string s;
    for (const auto& n : names)
        s += " " + n;
    return s;
}

// A RAR 4 archive of stored entries of pieceSize bytes until size bytes.
void MakeStoredRar(const std::string& path, std::int64_t size)
{
    if (Made(path, size))
        return;
    auto block = [](std::uint8_t type, std::uint16_t flags, const std::string& body) {
        std::string rest;
        rest += static_cast<char>(type);
        rest += static_cast<char>(flags & 0xFF);
        rest += static_cast<char>(flags >> 8);
        const auto headSize = static_cast<std::uint16_t>(7 + body.size());
        rest += static_cast<char>(headSize & 0xFF);
        rest += static_cast<char>(headSize >> 8);
        rest += body;
        const auto crc = static_cast<std::uint16_t>(crc32(0, reinterpret_cast<const Bytef*>(rest.data()), rest.size()));
        return std::string{static_cast<char>(crc & 0xFF), static_cast<char>(crc >> 8)} + rest;
    };
    auto le32 = [](std::uint32_t v) {
        return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
    };
    const std::string tmp = path + ".tmp";
    std::ofstream out(tmp, std::ios::binary);
    out << std::string("Rar!\x1a\x07\x00", 7) << block(0x73, 0, std::string(6, '\0'));
    std::int64_t written = 0;
    for (int i = 0; written < size; ++i) {
        const std::string data = Piece(i, 4 * kMB);
        const std::string name = "piece" + std::to_string(i) + ".dat";
        const auto crc = static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), data.size()));
        std::string body = le32(static_cast<std::uint32_t>(data.size())) + le32(static_cast<std::uint32_t>(data.size()));
        body += '\x02';  // Windows
        body += le32(crc) + le32(0x58650000u) + std::string("\x14\x30", 2);
        body += static_cast<char>(name.size());
        body += '\0';
        body += le32(0x20) + name;
        out << block(0x74, 0x8000, body) << data;
        written += static_cast<std::int64_t>(data.size());
    }
    out << block(0x7B, 0x4000, "");
    out.close();
    fs::rename(tmp, path);
}

bench::Side Tool(const std::string& dir, const std::string& command)
{
    return bench::InFreshFolder(dir, [command](const std::string& out) {
        std::string c = command;
        c.replace(c.find("%d"), 2, "'" + out + "'");
        bench::Run(c + " < /dev/null > /dev/null");
    });
}

}  // namespace

int main()
{
    const std::string dir = bench::DataDir() + "/arc_cab_rar";
    fs::create_directories(dir);
    const std::string arc = dir + "/bench.arc", cab = dir + "/bench.cab", rar = dir + "/bench.rar";
    MakeWithTool(arc, 20 * kMB, 2 * kMB, dir + "/arc-src",
                 [&](const std::vector<std::string>& names) { return "arc a '" + arc + "'" + Joined(names); });
    MakeWithTool(cab, 100 * kMB, 4 * kMB, dir + "/cab-src",
                 [&](const std::vector<std::string>& names) { return "gcab -c -z '" + cab + "'" + Joined(names); });
    MakeStoredRar(rar, 200 * kMB);

    int arcCount = 0, cabCount = 0, rarCount = 0;
    const bench::PairTimes arcTimes =
        bench::Alternate(bench::ExtractAll<TUnArc>(dir, arc, arcCount), Tool(dir, "cd %d && arc x '" + arc + "'"));
    const bench::PairTimes nomarchTimes =
        bench::Alternate(bench::ExtractAll<TUnArc>(dir, arc, arcCount), Tool(dir, "cd %d && nomarch '" + arc + "'"));
    const bench::PairTimes cabTimes =
        bench::Alternate(bench::ExtractAll<TUnCab>(dir, cab, cabCount), Tool(dir, "cabextract -q -d %d '" + cab + "'"));
    const bench::PairTimes rarTimes =
        bench::Alternate(bench::ExtractAll<TUnRar>(dir, rar, rarCount), Tool(dir, "bsdtar -x -C %d -f '" + rar + "'"));
    fs::remove_all(dir + "/out");
    std::printf("entries: ARC %d, cabinet %d, RAR %d\n", arcCount, cabCount, rarCount);
    bench::PrintPair("TUnArc::Extract 20 MB ARC", "nomarch", nomarchTimes);
    bench::PrintPair("TUnCab::Extract 100 MB MSZIP cabinet", "cabextract -q", cabTimes, kGoal);
    bench::PrintPair("TUnRar::Extract 200 MB stored RAR", "bsdtar -xf", rarTimes, kGoal);
    bench::PrintPair("TUnArc::Extract 20 MB ARC", "arc x", arcTimes, kGoal);
    bench::PrintRatioLine(arcTimes.ratio, kGoal);
    return 0;
}
