// The fuzz target fuzz_gif_roundtrip as an ordinary test: its corpus, and
// the GIF fixtures mutated with a fixed seed, loaded, saved and loaded
// again. A copy that reads back differently aborts; an input that fails is
// written beside the build for replay.
#include "fuzz/gif_roundtrip_fuzz_one.h"
#include "test_support/fuzz_corpus.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace {

bool RoundTrip(const std::string& bytes)
{
    return GifRoundTripFuzzOne(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

TEST(GifRoundTripFuzz, CorpusComesBackTheSame)
{
    int saved = 0;
    EXPECT_GT(ReplayFuzzCorpus("gif_roundtrip", [&](const std::string& bytes) { saved += RoundTrip(bytes); }), 0);
    EXPECT_GT(saved, 0) << "the well-formed files of the corpus are written";
}

TEST(GifRoundTripFuzz, MutatedFixtures)
{
    std::mt19937 random(20);
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
            std::ofstream("gif_roundtrip_last_input.gif", std::ios::binary) << bytes;
            SCOPED_TRACE(e.path().filename().string() + " round " + std::to_string(round));
            RoundTrip(bytes);
        }
    }
    std::filesystem::remove("gif_roundtrip_last_input.gif");
}

}  // namespace
