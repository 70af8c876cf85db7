// The fuzz corpus replayed under the sanitizers, and a cheap in-suite fuzz:
// every fixture mutated many ways through the whole dispatch, one test per
// fixture. Each input is written to disk before it runs, so a crash leaves
// it behind for replay (fuzz_imaging_decode FILE, or this test).
#include "fuzz/imaging_fuzz_one.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>

using namespace imgtest;

namespace {

std::vector<std::string> CorpusFiles(const std::string& dir)
{
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.is_regular_file())
            files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

TEST(ImagingFuzzCorpus, ReplaysWithoutFindings)
{
    const auto files = CorpusFiles(std::string(VISTREL_TEST_DATA) + "/../../fuzz/corpus/imaging_decode");
    ASSERT_GE(files.size(), 10u);
    for (const auto& f : files) {
        const auto bytes = ReadFile(f);
        SCOPED_TRACE(f);
        VxFuzzDecodeOne(bytes.data(), bytes.size());
    }
}

std::vector<std::string> MutationSources()
{
    std::vector<std::string> files;
    for (const auto& f : CorpusFiles(std::string(VISTREL_TEST_DATA) + "/fixtures"))
        if (f.find(".ref.") == std::string::npos)
            files.push_back(f);
    return files;
}

// One test per fixture, so that the suite's runners share the work.
class MutatedFixture : public ::testing::TestWithParam<std::string> {};

TEST_P(MutatedFixture, NeverCrashes)
{
    const std::string& f = GetParam();
    const std::string name = std::filesystem::path(f).filename().string();
    const std::string current = ::testing::TempDir() + "imaging_mutation_" + name + ".bin";
    std::mt19937 rng(static_cast<std::uint32_t>(20261210u + std::hash<std::string>{}(name)));
    const auto original = ReadFile(f);
    for (int round = 0; round < 60; ++round) {
        auto bytes = original;
        const int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits && !bytes.empty(); ++e) {
            // Headers hold the fields that matter: aim half the edits there.
            const std::size_t span = (rng() % 2) ? std::min<std::size_t>(bytes.size(), 64) : bytes.size();
            const std::size_t at = rng() % span;
            switch (rng() % 4) {
            case 0: bytes[at] ^= static_cast<std::uint8_t>(1u << (rng() % 8)); break;
            case 1: bytes[at] = static_cast<std::uint8_t>(rng()); break;
            case 2: bytes[at] = (rng() % 2) ? 0xFF : 0x00; break;
            case 3: bytes.resize(at); break;
            }
        }
        if (std::FILE* out = std::fopen(current.c_str(), "wb")) {
            std::fwrite(bytes.data(), 1, bytes.size(), out);
            std::fclose(out);
        }
        VxFuzzDecodeOne(bytes.data(), bytes.size());
    }
    std::remove(current.c_str());
}

INSTANTIATE_TEST_SUITE_P(Fixtures, MutatedFixture, ::testing::ValuesIn(MutationSources()),
                         [](const auto& info) {
                             std::string name = std::filesystem::path(info.param).filename().string();
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return name;
                         });

}  // namespace
