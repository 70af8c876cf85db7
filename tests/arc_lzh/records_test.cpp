// The lister over BH, LHA/LZH and ZOO archives: the entries each shows with
// their sizes, methods and dates, and the walks' ends on damaged headers.
// Fixtures: scripts/make-lzh-fixtures.sh.
#include "../archive/lister_support.h"

#include "archive/zadgbls.h"
#include "rtl/sysutils.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    const char* fixture;
    TArcType type;
    std::vector<std::string> names;
    std::vector<std::string> methods;
};

class LzhRecords : public ::testing::TestWithParam<Case> {};

TEST_P(LzhRecords, ListsTheEntries)
{
    const Case& c = GetParam();
    const Listing l = ListFile(FixturePath(c.fixture));
    EXPECT_EQ(l.type, c.type);
    EXPECT_TRUE(l.result);
    EXPECT_TRUE(l.errors.empty());
    EXPECT_EQ(Names(l), c.names);
    EXPECT_EQ(Methods(l), c.methods);
    EXPECT_EQ(l.totalFiles, static_cast<int>(c.names.size()));
    for (size_t i = 0; i < l.entries.size(); ++i)
        EXPECT_EQ(l.entries[i].filenum, static_cast<int>(i + 1));
}

const std::vector<std::string> kLevelNames = {"text.txt", "docs/readme.txt", "docs/sub/random.bin"};

INSTANTIATE_TEST_SUITE_P(
    Formats, LzhRecords,
    ::testing::Values(
        Case{"lzh/level0.lzh", atLha, kLevelNames, {"Frozen-5", "Frozen-5", "Stored"}},
        Case{"lzh/level1.lzh", atLha, kLevelNames, {"Frozen-6", "Frozen-6", "Stored"}},
        // jlha writes the CRC extended header before the name.
        Case{"lzh/level2.lzh", atLha, kLevelNames, {"Frozen-7", "Frozen-7", "Stored"}},
        Case{"lzh/sfx.exe", atLhaExe, kLevelNames, {"Frozen-6", "Frozen-6", "Stored"}},
        Case{"lzh/wrapped.lzh", atLha, kLevelNames, {"Frozen-5", "Frozen-5", "Stored"}},
        Case{"lzh/lh1-level1.lzh", atLha, {"text.txt"}, {"Frozen-1"}},
        Case{"lzh/lh4.lzh", atLha, {"abc.txt"}, {"Frozen-4"}},
        // A level-2 header of 300 bytes: the name after a long extended header.
        Case{"hostile/lha-level2-300.lzh", atLha, {"long-header.txt", "fine.txt"}, {"Stored", "Stored"}},
        Case{"zoo/mixed.zoo", atZoo, {"readme.txt", "text.txt", "docs/deeper/a long file name.txt"},
             {"Stored", "Fastest", "Greatest"}},
        // Deleted entries are not shown; long names tell apart what shares a short name.
        Case{"hostile/zoo-deleted-shared.zoo", atZoo, {"long file one.txt", "long file two.txt", "method3.txt", "fine.txt"},
             {"Stored", "Stored", "Unsupported", "Stored"}},
        Case{"bh/mixed.bh", atBh,
             {"stored.txt", "deflate.txt", "deflate2.txt", "docs/fused1.txt", "fused3.bin", "secret-stored.txt",
              "secret-deflate.txt", "secret-fused1.txt"},
             {"Stored", "DFLT-N", "Deflate", "Fused1", "Fused3", "Stored", "DFLT-N", "Fused1"}},
        Case{"bh/sfx.exe", atBhExe,
             {"stored.txt", "deflate.txt", "deflate2.txt", "docs/fused1.txt", "fused3.bin", "secret-stored.txt",
              "secret-deflate.txt", "secret-fused1.txt"},
             {"Stored", "DFLT-N", "Deflate", "Fused1", "Fused3", "Stored", "DFLT-N", "Fused1"}}));

TEST(LzhRecordsDetail, SizesDatesAndEncryption)
{
    // BH: an encrypted entry's packed size leaves out its 12-byte cipher header.
    const Listing bh = ListFile(FixturePath("bh/mixed.bh"));
    ASSERT_EQ(bh.entries.size(), 8u);
    EXPECT_EQ(bh.entries[0].packed, 560);
    EXPECT_EQ(bh.entries[5].packed, 560);
    EXPECT_TRUE(bh.entries[5].encrypted);
    EXPECT_FALSE(bh.entries[0].encrypted);
    EXPECT_EQ(bh.entries[0].unpacked, 560);
    EXPECT_EQ(Stamp(bh.entries[0].date), "2024-03-05 10:20:30");

    // LHA level 1: the packed size without the extended headers; DOS dates.
    const Listing l1 = ListFile(FixturePath("lzh/level1.lzh"));
    ASSERT_EQ(l1.entries.size(), 3u);
    EXPECT_EQ(l1.entries[2].packed, 3000);
    EXPECT_EQ(l1.entries[2].unpacked, 3000);
    EXPECT_EQ(Stamp(l1.entries[0].date), "2024-03-05 10:20:30");

    // Level 2 keeps Unix times, also from a header written on MS-DOS.
    for (const char* f : {"lzh/level2.lzh", "hostile/lha-level2-msdos.lzh"}) {
        const Listing l = ListFile(FixturePath(f));
        ASSERT_FALSE(l.entries.empty()) << f;
        EXPECT_EQ(Stamp(l.entries[0].date), "2024-03-05 10:20:30") << f;
    }

    // ZOO: the date from its date and time words.
    const Listing zoo = ListFile(FixturePath("zoo/mixed.zoo"));
    ASSERT_EQ(zoo.entries.size(), 3u);
    EXPECT_EQ(Stamp(zoo.entries[1].date), "2024-03-05 10:20:30");
    EXPECT_EQ(zoo.entries[0].crc, zoo.entries[0].crc & 0xFFFFu);
}

TEST(LzhRecordsDetail, FoldersShowOnlyWithShowEmptyDirs)
{
    EXPECT_EQ(Names(ListFile(FixturePath("bh/mixed.bh"), true)).size(), 9u);
    const Listing l = ListFile(FixturePath("bh/mixed.bh"), true);
    EXPECT_EQ(l.totalFiles, 8);
}

TEST(LzhRecordsDetail, DamagedChainsEndWithBadHeader)
{
    const struct {
        const char* fixture;
        std::vector<std::string> names;
    } cases[] = {
        // A chain that links back to an entry already visited.
        {"hostile/zoo-loop.zoo", {"fine.txt", "second.txt"}},
        // A header size too small for its own name.
        {"hostile/lha-rest-below-zero.lzh", {"fine.txt"}},
        // A header cut off by the end of the file, data cut off by it.
        {"hostile/lha-cut-header.lzh", {"fine.txt"}},
        {"hostile/lha-cut-data.lzh", {"text.txt"}},
        {"hostile/zoo-cut.zoo", {"readme.txt", "text.txt", "docs/deeper/a long file name.txt"}},
        // The first-entry position and its negated copy disagree.
        {"hostile/zoo-bad-header.zoo", {}},
    };
    for (const auto& c : cases) {
        const Listing l = ListFile(FixturePath(c.fixture));
        EXPECT_EQ(Names(l), c.names) << c.fixture;
        EXPECT_EQ(l.errors, std::vector<int>{25114}) << c.fixture;
        EXPECT_FALSE(l.result) << c.fixture;
    }
}

}  // namespace
