// Mutated fixtures of BH, LHA/LZH and ZOO through the lister and their
// extractors, and the extract fuzz target's corpus with these formats'
// seeds; only "no crash, no write outside the target" is asserted.
#include "fuzz/archive_fuzz_one.h"
#include "../arc_cab_rar/support.h"
#include "test_support/fuzz_corpus.h"

#include "archive/zadunbh.h"
#include "archive/zadunlha.h"
#include "archive/zadunzoo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace {

TEST(LzhFuzz, MutatedFixturesListAndExtractWithinTheTarget)
{
    std::mt19937 rng(28);
    const struct {
        const char* fixture;
        const char* name;
        int kind;  // 0 BH, 1 LHA, 2 ZOO
    } cases[] = {
        {"bh/mixed.bh", "m.bh", 0},       {"lzh/level0.lzh", "l0.lzh", 1}, {"lzh/level1.lzh", "l1.lzh", 1},
        {"lzh/level2.lzh", "l2.lzh", 1},  {"lzh/lh4.lzh", "l4.lzh", 1},    {"lzh/lh1-level1.lzh", "l1.lzh", 1},
        {"zoo/mixed.zoo", "m.zoo", 2},    {"hostile/zoo-deleted-shared.zoo", "d.zoo", 2},
    };
    for (const auto& c : cases) {
        const std::string base = Slurp(Fixture(c.fixture));
        for (int round = 0; round < 20; ++round) {
            std::string b = base;
            const int flips = 1 + static_cast<int>(rng() % 6);
            for (int i = 0; i < flips; ++i)
                b[rng() % b.size()] = static_cast<char>(rng());
            if (round % 5 == 0)
                b.resize(rng() % b.size());
            ArchiveFuzzListOne(reinterpret_cast<const std::uint8_t*>(b.data()), b.size());
            TempDir root;
            root.Write(c.name, b);
            const std::string target = root.Path("out/");
            std::filesystem::create_directories(target);
            if (c.kind == 0) {
                TUnBh x;
                x.Password = "secret";
                ExtractInto<TUnBh>(root.Path(c.name), target, {"*.*"}, &x);
            } else if (c.kind == 1) {
                ExtractInto<TUnLha>(root.Path(c.name), target);
            } else {
                ExtractInto<TUnZoo>(root.Path(c.name), target);
            }
            std::vector<std::string> top;
            for (const auto& e : std::filesystem::directory_iterator(root.Root()))
                top.push_back(e.path().filename().string());
            std::vector<std::string> expected{c.name, "out"};
            std::sort(top.begin(), top.end());
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(top, expected) << c.fixture << " round " << round;
        }
    }
}

}  // namespace
