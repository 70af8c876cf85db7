// The archive fuzz corpus replayed under the sanitizers, and a cheap
// in-suite fuzz that mutates the fixtures and asserts only that nothing
// crashes. Each mutated input is written to disk before it runs, so a crash
// leaves it behind for replay (archive-fuzz-last.bin in the temporary folder).
#include "fuzz/archive_fuzz_one.h"
#include "test_support/fuzz_corpus.h"
#include "lister_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace {

void FuzzOne(const std::string& bytes)
{
    ArchiveFuzzListOne(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace

TEST(ArchiveFuzzCorpus, ReplaysEveryInput)
{
    EXPECT_GE(ReplayFuzzCorpus("archive_list", FuzzOne), 5);
}

TEST(ArchiveFuzzCorpus, DegenerateInputs)
{
    FuzzOne("");
    FuzzOne(std::string(1, '\0'));
    FuzzOne(std::string(22, '\0'));
    FuzzOne(std::string("PK\x05\x06", 4) + std::string(18, '\xFF'));
    FuzzOne(std::string("PK\x03\x04", 4) + std::string(60, '\xFF'));
    FuzzOne(std::string("MZ") + std::string(70000, '\xFF'));
}

TEST(ArchiveFuzzCorpus, MutatedFixturesNeverCrash)
{
    const std::string last = (std::filesystem::temp_directory_path() / "archive-fuzz-last.bin").string();
    std::mt19937 rng(20261210);
    for (const char* name : {"stored.zip", "deflated.zip", "comments.zip", "pipe.zip", "zip64-full.zip", "sfx.exe", "longname.zip"}) {
        const std::string original = ReadFixture(name);
        for (int round = 0; round < 150; ++round) {
            std::string m = original;
            const int edits = 1 + static_cast<int>(rng() % 6);
            for (int k = 0; k < edits; ++k) {
                const size_t at = rng() % m.size();
                switch (rng() % 4) {
                case 0: m[at] = static_cast<char>(rng()); break;
                case 1: m[at] = '\xFF'; break;
                case 2: m[at] = '\0'; break;
                default: m.resize(at + 1); break;
                }
            }
            std::ofstream(last, std::ios::binary) << m;
            FuzzOne(m);
        }
    }
    std::filesystem::remove(last);
}
