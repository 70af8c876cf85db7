// ARJ archives through the lister and TUnARJ: every method, text mode,
// garbled entries and their password, volume sets, and hostile copies.
// Fixtures: scripts/make-arj-fixtures.sh (arj itself checked each against
// the originals it extracts).
#include "../archive/lister_support.h"
#include "../arc_cab_rar/support.h"
#include "archive/zadcrc.h"
#include "archive/zadheaders.h"
#include "archive/zadunarj.h"
#include "fuzz/archive_extract_fuzz_one.h"
#include "test_support/fuzz_corpus.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <random>

namespace {

std::string ArjFixture(const std::string& name) { return std::string(VISTREL_TEST_DATA) + "/fixtures/" + name; }

std::string Original(const std::string& name) { return Slurp(ArjFixture("originals/" + name)); }

std::map<std::string, std::string> Originals(const std::vector<std::string>& names)
{
    std::map<std::string, std::string> m;
    for (const auto& n : names)
        m[n] = n == "big.bin" ? Slurp(ArjFixture("big.bin")) : Original(n);
    return m;
}

const std::vector<std::string> kFourFiles = {"prose.txt", "binary.bin", "empty.txt", "sub/nested.txt"};

// The archive with the basic header of its header number `index` (0: the
// main header) changed by edit; its CRC is written anew.
std::string PatchHeader(const std::string& arj, int index, const std::function<void(std::string&)>& edit)
{
    size_t pos = 0;
    for (int i = 0;; ++i) {
        const size_t basic = static_cast<unsigned char>(arj[pos + 2]) | (static_cast<unsigned char>(arj[pos + 3]) << 8);
        const std::uint32_t packed = i == 0 ? 0 : LoadLe32(reinterpret_cast<const std::uint8_t*>(arj.data()) + pos + 4 + 12);
        if (i == index) {
            std::string header = arj.substr(pos + 4, basic);
            edit(header);
            std::string out = arj.substr(0, pos + 2);
            out.push_back(static_cast<char>(header.size() & 0xFF));
            out.push_back(static_cast<char>(header.size() >> 8));
            const std::uint32_t crc = Crc32_buf(header.data(), header.size(), CRC_MASK) ^ CRC_MASK;
            out += header;
            for (int k = 0; k < 4; ++k)
                out.push_back(static_cast<char>(crc >> (8 * k)));
            return out + arj.substr(pos + 4 + basic + 4);
        }
        pos += 4 + basic + 4 + 2 + packed;  // no extended headers in the fixtures
    }
}

struct Case {
    const char* fixture;
    std::vector<std::string> files;
    const char* method;
    TArcType type = atArj;
};

}  // namespace

// ---- the conformance cases: lists, extracts equal to the originals

TEST(Arj, ListsAndExtractsEveryMethod)
{
    const Case cases[] = {
        {"m0.arj", kFourFiles, "Stored"},   {"m1.arj", kFourFiles, "Most"},    {"m2.arj", kFourFiles, "2nd Most"},
        {"m3.arj", kFourFiles, "2nd Fast"}, {"m4.arj", kFourFiles, "Fastest"}, {"text.arj", {"plain.txt"}, "Most"},
        {"sfx.exe", {"plain.txt", "sub/nested.txt"}, "Most", atArjExe},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fixture);
        const Listing l = ListFile(ArjFixture(c.fixture));
        EXPECT_EQ(l.type, c.type);
        EXPECT_TRUE(l.result);
        EXPECT_TRUE(l.errors.empty());
        EXPECT_EQ(Names(l), c.files);
        ASSERT_FALSE(l.entries.empty());
        EXPECT_EQ(l.entries[0].method, c.method);
        EXPECT_EQ(l.entries[0].unpacked, static_cast<std::int64_t>(Original(c.files[0]).size()));
        // 2021-06-15 10:20:30, as every original is dated.
        EXPECT_NEAR(l.entries[0].date, 44362.43090278, 1e-6);
        EXPECT_EQ(l.entries[0].externalAttr, 0x20);  // from the Unix mode 0644

        TempDir out;
        const ExtractRun r = ExtractInto<TUnARJ>(ArjFixture(c.fixture), out.Root());
        EXPECT_EQ(r.count, static_cast<int>(c.files.size()));
        EXPECT_TRUE(r.errors.empty());
        EXPECT_EQ(r.Passed(), static_cast<int>(c.files.size()));
        EXPECT_EQ(Digest(r.files), Digest(Originals(c.files)));
    }
}

TEST(Arj, MatchesArjItself)
{
    TempDir ours, theirs;
    ExtractInto<TUnARJ>(ArjFixture("m1.arj"), ours.Root());
    if (!Peer("cd %d && arj x -y %a", ArjFixture("m1.arj"), theirs.Root()))
        GTEST_SKIP() << "arj is not installed";
    EXPECT_EQ(Digest(TreeOf(ours.Root())), Digest(TreeOf(theirs.Root())));
}

// ---- garbled entries

TEST(ArjGarbled, RightPasswordExtractsAndWrongOnesAreAskedAgain)
{
    TempDir out;
    TUnARJ x;
    std::vector<std::string> offered = {"wrong", "secret"};
    int asked = 0;
    x.OnGetPassword = [&](TObject*, const std::string&, std::string& password, TSeedKeyRecord&, TSeedKeyRecord&,
                          bool& again) {
        password = asked < static_cast<int>(offered.size()) ? offered[static_cast<size_t>(asked)] : "";
        ++asked;
        again = true;
    };
    const ExtractRun r = ExtractInto<TUnARJ>(ArjFixture("garbled.arj"), out.Root(), {"*.*"}, &x);
    // Asked twice for prose.txt; the right password then stays for binary.bin (method 4).
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(r.count, 3);
    EXPECT_EQ(Digest(r.files), Digest(Originals({"plain.txt", "prose.txt", "binary.bin"})));
    const Listing l = ListFile(ArjFixture("garbled.arj"));
    ASSERT_EQ(l.entries.size(), 3u);
    EXPECT_FALSE(l.entries[0].encrypted);
    EXPECT_TRUE(l.entries[1].encrypted);
}

TEST(ArjGarbled, DecliningOrNoAttemptsExtractsOnlyThePlainEntries)
{
    struct Variant {
        const char* what;
        int attempts;
        bool decline;
    };
    for (const Variant v : {Variant{"declined", 3, true}, Variant{"no attempts", 0, false}, Variant{"wrong every time", 2, false}}) {
        SCOPED_TRACE(v.what);
        TempDir out;
        TUnARJ x;
        x.PasswordAttempts = v.attempts;
        int asked = 0;
        x.OnGetPassword = [&](TObject*, const std::string&, std::string& password, TSeedKeyRecord&, TSeedKeyRecord&,
                              bool& again) {
            ++asked;
            password = "nope";
            again = !v.decline;
        };
        const ExtractRun r = ExtractInto<TUnARJ>(ArjFixture("garbled.arj"), out.Root(), {"*.*"}, &x);
        // The plain entry is written and counted; the garbled ones are
        // neither, and once one failed no later one asks.
        EXPECT_EQ(r.count, 1);
        EXPECT_EQ(Digest(r.files), Digest(Originals({"plain.txt"})));
        EXPECT_EQ(asked, v.attempts == 0 ? 0 : v.decline ? 1 : v.attempts);
    }
}

// ---- volume sets

TEST(ArjVolumes, ASplitEntryIsListedOnceAndJoinedOnExtraction)
{
    const Listing l = ListFile(ArjFixture("vol.arj"));
    EXPECT_EQ(Names(l), (std::vector<std::string>{"plain.txt", "big.bin", "sub/nested.txt"}));
    ASSERT_EQ(l.entries.size(), 3u);
    EXPECT_EQ(l.entries[1].unpacked, 45000);

    TempDir out;
    const ExtractRun r = ExtractInto<TUnARJ>(ArjFixture("vol.arj"), out.Root());
    EXPECT_EQ(r.count, 3);
    EXPECT_TRUE(r.errors.empty());
    EXPECT_EQ(Digest(r.files), Digest(Originals({"plain.txt", "big.bin", "sub/nested.txt"})));
    EXPECT_EQ(r.volumesAsked, (std::vector<std::string>{ArjFixture("vol.a01"), ArjFixture("vol.a02")}));
    EXPECT_EQ(r.volumeIds, (std::vector<int>{2, 3}));  // each volume's place in the set
}

TEST(ArjVolumes, ALaterVolumeAloneSkipsTheTailOfTheEntryBeforeIt)
{
    // The last volume starts with big.bin's tail; listed alone, only the
    // entry that begins in it is shown.
    TempDir dir;
    dir.Write("vol.a02", Slurp(ArjFixture("vol.a02")));
    const Listing l = ListFile(dir.Path("vol.a02"));
    EXPECT_EQ(Names(l), (std::vector<std::string>{"sub/nested.txt"}));
    EXPECT_EQ(l.totalFiles, 1);
}

TEST(ArjVolumes, TheMainHeadersNameGivesOnlyTheFileNameOfTheNextVolumes)
{
    // The first volume's main header names "../elsewhere/vol.arj": the set
    // is still looked for beside the first volume.
    const std::string patched = PatchHeader(Slurp(ArjFixture("vol.arj")), 0, [](std::string& basic) {
        const size_t nameAt = static_cast<unsigned char>(basic[0]);
        basic.replace(nameAt, basic.find('\0', nameAt) - nameAt, "../elsewhere/vol.arj");
    });
    TempDir dir;
    dir.Write("set/vol.arj", patched);
    dir.Write("set/vol.a01", Slurp(ArjFixture("vol.a01")));
    dir.Write("set/vol.a02", Slurp(ArjFixture("vol.a02")));
    const ExtractRun r = ExtractInto<TUnARJ>(dir.Path("set/vol.arj"), dir.Path("out"));
    EXPECT_EQ(r.volumesAsked, (std::vector<std::string>{dir.Path("set/vol.a01"), dir.Path("set/vol.a02")}));
    EXPECT_EQ(r.count, 3);
}

TEST(ArjVolumes, AContinuedPartWithoutItsFirstPartIsNotAppended)
{
    // Extracting the second volume alone: big.bin's middle part belongs to
    // no file of this run, so the user's own big.bin stays as it was.
    TempDir dir;
    dir.Write("vol.a01", Slurp(ArjFixture("vol.a01")));
    dir.Write("out/big.bin", "the user's own file");
    const ExtractRun r = ExtractInto<TUnARJ>(dir.Path("vol.a01"), dir.Path("out"));
    EXPECT_EQ(Slurp(dir.Path("out/big.bin")), "the user's own file");
    EXPECT_EQ(r.count, 0);
}

TEST(ArjVolumes, AMissingVolumeEndsTheSetAfterTheFirst)
{
    TempDir dir;
    dir.Write("vol.arj", Slurp(ArjFixture("vol.arj")));
    const ExtractRun r = ExtractInto<TUnARJ>(dir.Path("vol.arj"), dir.Path("out"));
    EXPECT_EQ(r.count, 1);
    EXPECT_EQ(Digest(r.files), Digest(Originals({"plain.txt"})));  // big.bin's first part alone is not kept
}

// ---- hostile copies

TEST(ArjHostile, TraversalNamesAreRefusedAndTheRestExtracts)
{
    TempDir out;
    const ExtractRun r = ExtractInto<TUnARJ>(ArjFixture("hostile/traversal.arj"), out.Root());
    EXPECT_EQ(r.files.size(), 0u);
    EXPECT_EQ(r.Errors(25245), 2);
    EXPECT_FALSE(std::filesystem::exists(out.Root() + "/../evil.txt"));
    EXPECT_FALSE(std::filesystem::exists("/abs.txt"));
}

TEST(ArjHostile, DamagedCopiesFailWithAMessageAndLeaveNoFile)
{
    struct HostileCase {
        const char* fixture;
        int listError;   // 0: lists
        int extracted;   // entries written
        int error;       // the extraction's message
    };
    const HostileCase cases[] = {
        {"hostile/bad_crc.arj", 25114, 0, 25114},
        {"hostile/name_outside.arj", 25114, 0, 25114},
        {"hostile/truncated.arj", 25236, 0, 25193},
        {"hostile/huge_size.arj", 0, 1, 25193},
        {"hostile/bad_version.arj", 0, 1, 25402},
        {"hostile/bad_method.arj", 0, 1, 25326},
    };
    for (const HostileCase& c : cases) {
        SCOPED_TRACE(c.fixture);
        const Listing l = ListFile(ArjFixture(c.fixture));
        if (c.listError)
            EXPECT_NE(std::find(l.errors.begin(), l.errors.end(), c.listError), l.errors.end());
        else
            EXPECT_TRUE(l.errors.empty());
        TempDir out;
        const ExtractRun r = ExtractInto<TUnARJ>(ArjFixture(c.fixture), out.Root());
        EXPECT_EQ(r.count, c.extracted);
        EXPECT_EQ(static_cast<int>(r.files.size()), c.extracted);
        EXPECT_GE(r.Errors(c.error), 1) << ::testing::PrintToString(r.errors);
        if (c.extracted == 1) {
            EXPECT_EQ(Digest(r.files), Digest(Originals({"sub/nested.txt"})));
        }
    }
}

TEST(Arj, DirectoryEntriesMakeTheirFolderOnlyWhenAsked)
{
    // plain.txt made a directory entry "adir" (file type 3, CRC 0): no
    // OnBegin, not counted, its OnEnd passes; the folder comes only with
    // CreateStoredDirs.
    const std::string arj = PatchHeader(Slurp(ArjFixture("small.arj")), 1, [](std::string& basic) {
        basic[6] = 3;
        basic.replace(20, 4, std::string(4, '\0'));
        const size_t nameAt = static_cast<unsigned char>(basic[0]);
        basic.replace(nameAt, basic.find('\0', nameAt) - nameAt, "adir");
    });
    for (const bool create : {false, true}) {
        SCOPED_TRACE(create);
        TempDir dir;
        dir.Write("d.arj", arj);
        TUnARJ x;
        x.CreateStoredDirs = create;
        TempDir out;
        const ExtractRun r = ExtractInto<TUnARJ>(dir.Path("d.arj"), out.Root(), {"*.*"}, &x);
        EXPECT_EQ(r.count, 1);
        EXPECT_EQ(r.begun.size(), 1u);
        EXPECT_EQ(r.Passed(), 2);
        EXPECT_EQ(std::filesystem::is_directory(out.Root() + "/adir"), create);
    }
    TempDir dir;
    dir.Write("d.arj", arj);
    EXPECT_EQ(Names(ListFile(dir.Path("d.arj"))), (std::vector<std::string>{"sub/nested.txt"}));
    EXPECT_EQ(Names(ListFile(dir.Path("d.arj"), true)), (std::vector<std::string>{"adir/", "sub/nested.txt"}));
}

TEST(ArjHostile, ExtendedHeadersAreSteppedOver)
{
    const Listing l = ListFile(ArjFixture("hostile/extended.arj"));
    EXPECT_EQ(Names(l), (std::vector<std::string>{"plain.txt", "sub/nested.txt"}));
    TempDir out;
    const ExtractRun r = ExtractInto<TUnARJ>(ArjFixture("hostile/extended.arj"), out.Root());
    EXPECT_EQ(Digest(r.files), Digest(Originals({"plain.txt", "sub/nested.txt"})));
}

TEST(ArjHostile, AMainHeaderAloneOrDamagedListsNothing)
{
    // The id without a header behind it: "Bad file header", no entries.
    std::string arj(40, '\0');
    arj[0] = '\x60';
    arj[1] = '\xEA';
    TempDir dir;
    dir.Write("a.arj", arj);
    const Listing l = ListFile(dir.Path("a.arj"));
    EXPECT_FALSE(l.result);
    EXPECT_EQ(l.errors, (std::vector<int>{25114}));
    TempDir out;
    const ExtractRun r = ExtractInto<TUnARJ>(dir.Path("a.arj"), out.Root());
    EXPECT_EQ(r.count, 0);
    EXPECT_EQ(r.Errors(25114), 1);
}

TEST(ArjFuzz, MutatedFixturesDoNotCrash)
{
    // Each input is written to arj-fuzz-last.bin in the temporary folder
    // before it runs, so that a crash can be replayed.
    std::mt19937 rng(28);
    const auto last = std::filesystem::temp_directory_path() / "arj-fuzz-last.bin";
    for (const char* f : {"small.arj", "text.arj", "garbled.arj", "m4.arj", "vol.a01"}) {
        const std::string base = Slurp(ArjFixture(f));
        for (int round = 0; round < 30; ++round) {
            std::string b = base;
            const int flips = 1 + static_cast<int>(rng() % 8);
            for (int i = 0; i < flips; ++i)
                b[rng() % b.size()] = static_cast<char>(rng());
            if (round % 5 == 0)
                b.resize(rng() % b.size());
            std::ofstream(last, std::ios::binary) << b;
            ArchiveExtractFuzzOne(reinterpret_cast<const std::uint8_t*>(b.data()), b.size());
        }
    }
}
