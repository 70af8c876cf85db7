// Listing what the hostile-ZIP extraction tests extract (the archives come
// from tests/archive/zip_writer.h), and files of types no lister reads yet:
// declared sizes show as declared, a bad entry is reported alone, the end
// record's lies once, and no archive is ever shown as silently empty.
#include "lister_support.h"
#include "zip_writer.h"

#include <gtest/gtest.h>

#include <climits>

using zipwriter::Archive;

TEST(HostileZipListing, DeclaredSizesShowAsDeclared)
{
    Archive claimed_size_past_end;
    auto& unpacked = claimed_size_past_end.Add("zip64_unpacked.bin", std::string(5000, 'x'), 8);
    unpacked.zip64 = true;
    unpacked.unpackedClaim = std::uint64_t{1} << 62;
    auto& packed = claimed_size_past_end.Add("zip64_packed.bin", std::string(5000, 'x'), 8);
    packed.zip64 = true;
    packed.packedClaim = std::uint64_t{1} << 62;
    packed.unpackedClaim = std::uint64_t{3} << 61;
    const Listing l = ListBytes(claimed_size_past_end.Build());
    EXPECT_TRUE(l.result);
    EXPECT_TRUE(l.errors.empty());
    ASSERT_EQ(l.entries.size(), 2u);
    EXPECT_EQ(l.entries[0].unpacked, std::int64_t{1} << 62);
    EXPECT_EQ(l.entries[1].packed, std::int64_t{1} << 62);
    // 2^62 + 3 * 2^61 passes what the totals can hold: they stop at the top.
    EXPECT_EQ(l.totalUnpacked, INT64_MAX);
    EXPECT_EQ(l.totalFiles, 2);
}

TEST(HostileZipListing, BadFirstLocalOffsetIsReportedAlone)
{
    for (const std::uint32_t offset : {0xFFFFFFF0u, 5u}) {
        SCOPED_TRACE(offset);
        const Archive bad_first_local_offset = hostile::BadFirstLocalOffset(offset);
        const Listing l = ListBytes(bad_first_local_offset.Build());
        EXPECT_EQ(l.type, atZip);
        EXPECT_TRUE(l.result);
        EXPECT_EQ(l.entries.size(), 3u);
        EXPECT_EQ(l.errors, (std::vector<int>{25114}));
        EXPECT_EQ(l.errorFiles, (std::vector<std::string>{"first.txt"}));
    }
}

TEST(HostileZipListing, EndRecordThatLiesIsReportedOnce)
{
    const Archive cd_count_lies = hostile::CdCountLies();
    const Listing l = ListBytes(cd_count_lies.Build());
    EXPECT_TRUE(l.result);
    EXPECT_EQ(l.entries.size(), 3u);
    ASSERT_EQ(l.errors, (std::vector<int>{25114}));
    EXPECT_TRUE(l.errorFiles[0].ends_with("t.zip"));
    EXPECT_EQ(l.errorTexts[0].rfind("the end record counts 65535 entries, the central directory holds 3; it places", 0), 0u);
}

TEST(HostileZipListing, TypesWithoutAListingSaySo)
{
    // A file that is no archive reports the library's "not supported"
    // message without a type, and the listing fails.
    const struct {
        std::string bytes;
        const char* name;
        const char* type;
    } cases[] = {
        {std::string(500, 'z'), "plain.zip", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Listing l = ListBytes(c.bytes, c.name);
        EXPECT_FALSE(l.result);
        EXPECT_TRUE(l.entries.empty());
        EXPECT_EQ(l.errors, (std::vector<int>{25244}));
        EXPECT_EQ(l.errorTexts, (std::vector<std::string>{c.type}));
    }
}

TEST(HostileZipListing, AHeaderThatEndsItsChainListsNothing)
{
    // BH is read now: a first header whose header size is 0 ends the chain
    // at once, with neither an entry nor the "not supported" message.
    std::string bh(64, '\0');
    bh.replace(0, 4, "BH\x05\x07");
    const Listing l = ListBytes(bh, "a.bh");
    EXPECT_TRUE(l.result);
    EXPECT_TRUE(l.entries.empty());
    EXPECT_TRUE(l.errors.empty());
}

TEST(HostileZipListing, HugeClaimsInALocalHeaderWalkEndTheWalk)
{
    // Without its central directory the walk steps from local header to
    // local header by the declared packed size: a ZIP64 claim of 2^64 - 1
    // ends the walk as a truncated archive, it never wraps an offset.
    Archive a;
    auto& huge = a.Add("huge.bin", "data", 0);
    huge.zip64 = true;
    huge.packedClaim = ~std::uint64_t{0};
    a.Add("next.txt", "next\n");
    std::vector<size_t> centralAt;
    std::string bytes = a.Build(&centralAt);
    bytes.resize(centralAt[0]);
    const Listing l = ListBytes(bytes);
    EXPECT_FALSE(l.result);
    ASSERT_EQ(l.entries.size(), 1u);
    EXPECT_EQ(l.entries[0].packed, INT64_MAX);
    EXPECT_EQ(l.errors.back(), 25236);
}
