// The extraction fuzz corpus replayed under the sanitizers, and mutated
// fixtures run through extraction to memory; only "no crash" is asserted.
// Each mutated input is written to disk before it runs
// (archive-extract-fuzz-last.bin in the temporary folder).
#include "fuzz/archive_extract_fuzz_one.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace {
std::string Slurp(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
}  // namespace

TEST(ArchiveExtractFuzz, ReplaysTheCorpus)
{
    const std::filesystem::path dir = std::filesystem::path(VISTREL_TEST_DATA) / "../../fuzz/corpus/archive_extract";
    int count = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        if (!e.is_regular_file())
            continue;
        SCOPED_TRACE(e.path().string());
        const std::string b = Slurp(e.path());
        ArchiveExtractFuzzOne(reinterpret_cast<const std::uint8_t*>(b.data()), b.size());
        ++count;
    }
    EXPECT_GE(count, 5);
}

TEST(ArchiveExtractFuzz, MutatedFixturesDoNotCrash)
{
    std::mt19937 rng(99);
    const auto last = std::filesystem::temp_directory_path() / "archive-extract-fuzz-last.bin";
    for (const char* f : {"deflated.zip", "deflate64-docs.zip", "aes128.zip", "zipcrypto.zip", "descriptor.zip"}) {
        const std::string base = Slurp(std::string(VISTREL_TEST_DATA) + "/fixtures/" + f);
        for (int round = 0; round < 40; ++round) {
            std::string b = base;
            const int flips = 1 + static_cast<int>(rng() % 8);
            for (int i = 0; i < flips; ++i)
                b[rng() % b.size()] = static_cast<char>(rng());
            if (round % 5 == 0)
                b.resize(rng() % b.size());
            std::ofstream(last, std::ios::binary) << b;
            ArchiveExtractFuzzOne(reinterpret_cast<const std::uint8_t*>(b.data()), b.size());
        }
    }
}
