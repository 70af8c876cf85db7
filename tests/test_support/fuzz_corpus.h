// What the suites that replay a fuzz target's corpus share: reading an input
// whole, and running every input of the corpus through the target's one-input
// function (each under a trace naming its file, so a failure says which).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>

inline std::string Slurp(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The corpus of a fuzz target in fuzz/corpus/<target>.
inline std::filesystem::path FuzzCorpusDir(const std::string& target)
{
    return std::filesystem::path(VISTREL_TEST_DATA) / "../../fuzz/corpus" / target;
}

// Runs each file of the corpus through fuzzOne; answers how many ran.
inline int ReplayFuzzCorpus(const std::string& target, const std::function<void(const std::string&)>& fuzzOne)
{
    int count = 0;
    for (const auto& e : std::filesystem::directory_iterator(FuzzCorpusDir(target))) {
        if (!e.is_regular_file())
            continue;
        SCOPED_TRACE(e.path().string());
        fuzzOne(Slurp(e.path()));
        ++count;
    }
    return count;
}

// Runs rounds copies of original through fuzzOne, each with flips random
// bytes among its first span changed, and asserts only that nothing
// crashes. The input of the round under way is kept in the temporary folder
// under name, so that a crash can be replayed; it goes when all ran.
inline void RunMutatedInputs(const std::string& name, const std::string& original, std::size_t span, int flips,
    int rounds, unsigned seed, const std::function<void(const std::string&)>& fuzzOne)
{
    const std::filesystem::path last = std::filesystem::temp_directory_path() / name;
    std::mt19937 rng(seed);
    span = std::min(span, original.size());
    for (int round = 0; round < rounds && span > 0; ++round) {
        std::string bytes = original;
        for (int k = 0; k < flips; ++k)
            bytes[rng() % span] = static_cast<char>(rng());
        std::ofstream(last, std::ios::binary) << bytes;
        fuzzOne(bytes);
    }
    std::filesystem::remove(last);
}
