// Hostile ZIPs whose headers claim what their bytes do not bear out, built
// by our own writer (tests/archive/zip_writer.h), one archive per fault.
// Each names the exact errors extraction must report and the files it must
// leave; the honest entries around the lies always extract.
#include "../archive/zip_writer.h"
#include "extract_support.h"

#include "rtl/streams.h"
#include "rtl/sysutils.h"

#include <gtest/gtest.h>

namespace {

using zipwriter::Archive;
using Errors = std::vector<std::pair<int, std::string>>;
using Files = std::map<std::string, std::string>;

using hostile::kAlpha;
using hostile::kOmega;

}  // namespace

TEST(HostileZip, ClaimedSizePastEnd)
{
    // Sizes the data cannot bear out: each such entry fails alone, nothing
    // is left of it, and the honest entries around it extract.
    const Archive claimed_size_past_end = hostile::ClaimedSizePastEnd();
    const Outcome r = ExtractBytes(claimed_size_past_end.Build());
    ASSERT_EQ(r.log.errors, (Errors{{25193, "unpacked_claim.bin"},
                                    {25193, "packed_claim.bin"},
                                    {25193, "zip64_unpacked.bin"},
                                    {25193, "zip64_packed.bin"},
                                    {25193, "more_than_declared.bin"}}));
    EXPECT_EQ(r.log.extended[0], "declares 4294967280 bytes, its data ends after 5000");
    EXPECT_EQ(r.log.extended[4], "declares 100 bytes, its data gives more");
    EXPECT_EQ(r.files, (Files{{"a.txt", kAlpha}, {"z.txt", kOmega}}));
    EXPECT_EQ(r.count, 2);
    EXPECT_EQ(r.log.Failed(), 5);
}

TEST(HostileZip, StoredSizeMismatch)
{
    // A stored entry is its packed bytes: packed and unpacked sizes that
    // differ are a lie whichever is larger, and nothing is written for it.
    const Archive stored_size_mismatch = hostile::StoredSizeMismatch();
    const Outcome r = ExtractBytes(stored_size_mismatch.Build());
    ASSERT_EQ(r.log.errors, (Errors{{25193, "claims_more.bin"}, {25193, "claims_less.bin"}}));
    EXPECT_EQ(r.log.extended[0], "stored, declares 100 packed and 200 unpacked bytes");
    EXPECT_EQ(r.files, (Files{{"a.txt", kAlpha}, {"z.txt", kOmega}}));
    EXPECT_EQ(r.count, 2);
}

TEST(HostileZip, OverlappingEntries)
{
    // Ten central entries on one 1 MB record: the first in the directory
    // keeps it, the other nine are refused (before, the file of 1 KB wrote
    // 10 MB).
    const Archive overlapping_entries = hostile::OverlappingEntries(1 << 20);
    const std::string zeros(1 << 20, '\0');
    Errors expected;
    for (int i = 1; i <= 9; ++i)
        expected.emplace_back(25252, "copy" + std::to_string(i) + ".bin");
    const std::string bytes = overlapping_entries.Build();
    ASSERT_LT(bytes.size(), 4000u);

    const Outcome r = ExtractBytes(bytes);
    ASSERT_EQ(r.log.errors, expected);
    EXPECT_EQ(r.log.extended[0], "overlaps bomb.bin");
    EXPECT_EQ(r.files, (Files{{"a.txt", kAlpha}, {"bomb.bin", zeros}, {"z.txt", kOmega}}));
    EXPECT_EQ(r.count, 3);
    EXPECT_EQ(r.log.Failed(), 0);  // refused entries are never begun
}

TEST(HostileZip, DataThatCoversAnotherEntryIsRefused)
{
    // The liar's packed size runs over the next entry's local header, and
    // the last entry's into the central directory: both are refused, the
    // entry whose header was covered extracts.
    Archive covering;
    covering.Add("a.txt", kAlpha);
    covering.Add("liar.bin", std::string(3000, 'l'), 8).packedClaim = 60;  // its deflate data is shorter
    covering.Add("honest.txt", "honest\n");
    covering.Add("last.txt", "last\n").packedClaim = 30;
    covering.entries.back().unpackedClaim = 30;
    const std::string bytes = covering.Build();

    const Outcome r = ExtractBytes(bytes);
    EXPECT_EQ(r.log.errors, (Errors{{25252, "liar.bin"}, {25252, "last.txt"}}));
    EXPECT_EQ(r.log.extended, (std::vector<std::string>{"overlaps honest.txt", "overlaps the central directory"}));
    EXPECT_EQ(r.files, (Files{{"a.txt", kAlpha}, {"honest.txt", "honest\n"}}));
}

TEST(HostileZip, BadFirstLocalOffset)
{
    // The first central entry names no local header (past the end of the
    // file, or into the middle of a header where a search finds other
    // entries' headers): it fails alone and the rest extracts.
    for (const std::uint32_t offset : {0xFFFFFFF0u, 5u}) {
        SCOPED_TRACE(offset);
        const Archive bad_first_local_offset = hostile::BadFirstLocalOffset(offset);
        const std::string bytes = bad_first_local_offset.Build();

        TempDir work;
        work.Write("bad.zip", bytes);
        TUnZip probe;
        probe.SetArchiveFile(work.Path("bad.zip"));
        EXPECT_EQ(probe.ArcType, atZip);  // not "unsupported"

        const Outcome r = ExtractBytes(bytes);
        EXPECT_EQ(r.log.errors, (Errors{{25115, "first.txt"}}));
        EXPECT_EQ(r.files, (Files{{"second.txt", "second\n"}, {"third.txt", "third\n"}}));
        EXPECT_EQ(r.count, 2);
    }
}

TEST(HostileZip, CentralDirectoryCountLies)
{
    // The end record counts 65,535 entries for three and places the
    // directory at 0xFFFFFFF0: one report, and the three entries extract.
    const Archive cd_count_lies = hostile::CdCountLies();
    std::vector<size_t> centralAt;
    const std::string bytes = cd_count_lies.Build(&centralAt);
    const Outcome r = ExtractBytes(bytes, "count.zip");
    ASSERT_EQ(r.log.errors.size(), 1u);
    EXPECT_EQ(r.log.errors[0].first, 25114);
    EXPECT_TRUE(r.log.errors[0].second.ends_with("count.zip"));
    EXPECT_EQ(r.log.extended[0],
              "the end record counts 65535 entries, the central directory holds 3; it places the central directory at "
              "4294967280, it starts at " + std::to_string(centralAt[0]));
    EXPECT_EQ(r.files, (Files{{"a.txt", kAlpha}, {"b.txt", "beta\n"}, {"z.txt", kOmega}}));

    // A count that agrees modulo 65,536 is what writers without ZIP64 store.
    Archive honest;
    honest.Add("a.txt", kAlpha);
    EXPECT_TRUE(ExtractBytes(honest.Build()).log.errors.empty());
}

TEST(HostileZip, MemoryBomb)
{
    // Into memory, an entry whose declared output passes what memory can
    // hold (or what a memory stream can hold, 2 GB) is refused before
    // anything is allocated; the entries around it are appended.
    const Archive memory_bomb =
        hostile::MemoryBomb(static_cast<std::uint64_t>(std::max<std::int64_t>(AvailableMemory(), 0)) + (std::uint64_t{1} << 30));
    TempDir work;
    work.Write("bomb.zip", memory_bomb.Build());
    TUnZip z;
    ExtractLog log;
    Attach(z, log);
    Prepare(z, work.Path("bomb.zip"), "");
    TDecompMemoryStream m;
    EXPECT_EQ(z.ExtractToMemoryStream(&m), 2);
    EXPECT_EQ(log.errors, (Errors{{25254, "bomb.bin"}, {25254, "three_gb.bin"}}));
    ASSERT_EQ(m.Count(), 2);
    EXPECT_EQ(m.GetFileName(0), "a.txt");
    EXPECT_EQ(m.GetFileName(1), "z.txt");
    EXPECT_EQ(m.Size(), static_cast<std::int64_t>(kAlpha.size() + kOmega.size()));
    EXPECT_LT(m.Capacity(), 1 << 20);
}

TEST(HostileZip, NothingIsSilent)
{
    // A file that is no archive, and archives of types this extractor does
    // not read: each run reports the library's "not supported" message.
    TempDir work;
    work.Write("plain.zip", std::string(500, 'z'));
    std::string arj(40, '\0');
    arj[0] = '\x60';
    arj[1] = '\xEA';
    work.Write("a.arj", arj);
    const struct {
        std::string path;
        const char* type;
    } cases[] = {
        {work.Path("plain.zip"), ""},
        {work.Path("a.arj"), "ARJ"},
        {std::string(VISTREL_TEST_DATA) + "/../archive/fixtures/small.tar", "TAR"},
        {std::string(VISTREL_TEST_DATA) + "/../archive/fixtures/hello.txt.gz", "GZip"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        TempDir out;
        TUnZip z;
        ExtractLog log;
        Attach(z, log);
        Prepare(z, c.path, out.Root());
        EXPECT_EQ(z.Extract(), 0);
        EXPECT_EQ(log.errors, (Errors{{25244, c.path}}));
        EXPECT_EQ(log.extended, (std::vector<std::string>{c.type}));
        EXPECT_TRUE(TreeOf(out.Root()).empty());
    }
    // The same from an open stream.
    TMemoryStream32 garbage;
    garbage.WriteBuffer(std::string(100, 'g').data(), 100);
    TStream32* in = &garbage;
    TUnZip z;
    ExtractLog log;
    Attach(z, log);
    EXPECT_EQ(z.ExtractStreamToDisk(in), 0);
    EXPECT_EQ(log.ErrorsWith(25244), 1);
}

TEST(HostileZip, ClaimsNearTheLargestSizeKeepProgressInRange)
{
    // Local headers whose ZIP64 fields claim 2^63-1 bytes (found by
    // fuzz_archive_extract): the progress arithmetic saturates instead of
    // overflowing, every percentage stays within 0..100, and each entry is
    // judged by its own bytes.
    TempDir out;
    TUnZip z;
    ExtractLog log;
    Attach(z, log);
    Prepare(z, std::string(VISTREL_TEST_DATA) + "/../../fuzz/corpus/archive_extract/zip64-claims-overflow-progress.zip",
            out.Root());
    std::vector<int> progress;
    z.OnProgress = [&](TObject*, BYTE byFile, BYTE byArchive) {
        progress.push_back(byFile);
        progress.push_back(byArchive);
    };
    const int count = z.Extract();
    for (int p : progress)
        EXPECT_LE(p, 100);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(TreeOf(out.Root()), (Files{{"z.txt", kOmega}}));
    EXPECT_EQ(log.ErrorsWith(25193), 3);  // the three entries that claim 2^63-1 bytes
    EXPECT_EQ(log.ErrorsWith(25115), 3);  // local headers the fuzzer moved
}
