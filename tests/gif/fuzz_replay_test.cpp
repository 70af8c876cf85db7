// The fuzz target fuzz_gif_load as an ordinary test: its corpus replayed,
// and the fixtures mutated here with a fixed seed. Only "no crash" is
// checked; an input that fails is written beside the build for replay.
#include "fuzz/gif_load_fuzz_one.h"
#include "test_support/fuzz_corpus.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace {

void FuzzOne(const std::string& bytes)
{
    GifLoadFuzzOne(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

TEST(GifFuzz, CorpusReplays) { EXPECT_GT(ReplayFuzzCorpus("gif_load", FuzzOne), 0); }

TEST(GifFuzz, MutatedFixturesLoadOrFail)
{
    std::mt19937 random(19);
    const std::filesystem::path dir = std::filesystem::path(VISTREL_TEST_DATA) / "fixtures";
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        if (e.path().extension() != ".gif")
            continue;
        const std::string original = Slurp(e.path());
        for (int round = 0; round < 25; ++round) {
            std::string bytes = original;
            const int edits = 1 + static_cast<int>(random() % 4);
            for (int k = 0; k < edits; ++k)
                bytes[random() % bytes.size()] = static_cast<char>(random());
            if (random() % 3 == 0)
                bytes.resize(random() % bytes.size());
            // Written before the run, so a crash leaves the input behind.
            std::ofstream("gif_fuzz_last_input.gif", std::ios::binary) << bytes;
            SCOPED_TRACE(e.path().filename().string() + " round " + std::to_string(round));
            FuzzOne(bytes);
        }
    }
    std::filesystem::remove("gif_fuzz_last_input.gif");
}

}  // namespace
