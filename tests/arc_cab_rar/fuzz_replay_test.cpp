// The ARC decoders' fuzz corpus replayed under the sanitizers, and mutated
// fixtures of every format of this suite through the lister and their
// extractors (cabinets through libmspack, RAR through libarchive); only "no
// crash, no write outside the target" is asserted.
#include "fuzz/arc_decode_fuzz_one.h"
#include "fuzz/archive_fuzz_one.h"
#include "support.h"
#include "test_support/fuzz_corpus.h"

#include "archive/zadunarc.h"
#include "archive/zaduncab.h"
#include "archive/zadunrar.h"

#include <gtest/gtest.h>

#include <random>

namespace {

TEST(ArcDecodeFuzz, ReplaysTheCorpus)
{
    const int n = ReplayFuzzCorpus("arc_decode", [](const std::string& b) {
        ArcDecodeOne(reinterpret_cast<const std::uint8_t*>(b.data()), b.size());
    });
    EXPECT_GE(n, 20);
}

TEST(ArcCabRarFuzz, MutatedFixturesListAndExtractWithinTheTarget)
{
    std::mt19937 rng(29);
    const struct {
        const char* fixture;
        const char* name;
        int kind;  // 0 ARC, 1 cabinet, 2 RAR, 3 list only
    } cases[] = {
        {"arc/mixed.arc", "m.arc", 0},    {"arc/crunch5-7.arc", "c.arc", 0}, {"cab/mszip.cab", "m.cab", 1},
        {"cab/stored.cab", "s.cab", 1},   {"rar/single.rar", "s.rar", 2},    {"rar/unicode.rar", "u.rar", 2},
        {"list/files.ace", "f.ace", 3},   {"list/files.ha", "f.ha", 3},      {"list/files.msgz", "f.msgz", 3},
    };
    for (const auto& c : cases) {
        const std::string base = Slurp(Fixture(c.fixture));
        for (int round = 0; round < 25; ++round) {
            std::string b = base;
            const int flips = 1 + static_cast<int>(rng() % 6);
            for (int i = 0; i < flips; ++i)
                b[rng() % b.size()] = static_cast<char>(rng());
            if (round % 5 == 0)
                b.resize(rng() % b.size());
            ArchiveFuzzListOne(reinterpret_cast<const std::uint8_t*>(b.data()), b.size());
            if (c.kind == 3)
                continue;
            TempDir root;
            root.Write(c.name, b);
            const std::string target = root.Path("out/");
            std::filesystem::create_directories(target);
            if (c.kind == 0)
                ExtractInto<TUnArc>(root.Path(c.name), target);
            else if (c.kind == 1)
                ExtractInto<TUnCab>(root.Path(c.name), target);
            else
                ExtractInto<TUnRar>(root.Path(c.name), target);
            // Nothing beside the archive and the target folder.
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
