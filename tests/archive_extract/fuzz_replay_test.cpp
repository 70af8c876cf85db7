// The extraction and legacy-decoder fuzz corpora replayed under the
// sanitizers, and mutated fixtures run through extraction to memory; only
// "no crash" is asserted.
// Each mutated input is written to disk before it runs
// (archive-extract-fuzz-last.bin in the temporary folder).
#include "fuzz/archive_extract_fuzz_one.h"
#include "fuzz/lzw_decode_fuzz_one.h"
#include "fuzz/zip_legacy_fuzz_one.h"
#include "test_support/fuzz_corpus.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace {

// Runs every file of a corpus through one; answers how many ran.
template <typename One>
int Replay(const std::string& corpus, One one)
{
    return ReplayFuzzCorpus(corpus, [&](const std::string& b) {
        one(reinterpret_cast<const std::uint8_t*>(b.data()), b.size());
    });
}

}  // namespace

TEST(ArchiveExtractFuzz, ReplaysTheCorpus) { EXPECT_GE(Replay("archive_extract", ArchiveExtractFuzzOne), 5); }

TEST(ZipLegacyFuzz, ReplaysTheCorpus) { EXPECT_GE(Replay("zip_legacy_decode", ZipLegacyDecodeOne), 18); }

TEST(LzwFuzz, ReplaysTheCorpus) { EXPECT_GE(Replay("lzw_decode", LzwDecodeOne), 7); }

TEST(ArchiveExtractFuzz, MutatedFixturesDoNotCrash)
{
    std::mt19937 rng(99);
    const auto last = std::filesystem::temp_directory_path() / "archive-extract-fuzz-last.bin";
    const std::filesystem::path fixtures = std::filesystem::path(VISTREL_TEST_DATA) / "fixtures";
    for (const auto& f : {fixtures / "deflated.zip", fixtures / "deflate64-docs.zip", fixtures / "aes128.zip",
                          fixtures / "zipcrypto.zip", fixtures / "descriptor.zip",
                          FuzzCorpusDir("archive_extract") / "legacy-methods.zip", fixtures / "gztar/tree.tgz",
                          fixtures / "gztar/joined.gz", fixtures / "gztar/tree.tar.Z", fixtures / "gztar/pax.tar",
                          fixtures / "text/uu.uue", fixtures / "text/b64.uue", fixtures / "text/mime.txt"}) {
        const std::string base = Slurp(f);
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
