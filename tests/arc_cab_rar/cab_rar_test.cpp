// The cabinet and RAR extractors against the peers (cabextract, bsdtar),
// sets of cabinets and RAR volumes, and entries that must fail alone:
// damaged data, encryption, names that leave the target, and existing
// files that only a complete entry may replace.
#include "support.h"

#include "archive/zaduncab.h"
#include "archive/zadunrar.h"
#include "test_support/fuzz_corpus.h"

#include <gtest/gtest.h>

#include <set>

namespace {

std::string Cat(const std::string& a, const std::string& b, const TempDir& dir)
{
    const std::string joined = dir.Path("joined.rar");
    std::system(("cat '" + a + "' '" + b + "' > '" + joined + "'").c_str());
    return joined;
}

TEST(CabRarExtract, MatchesThePeers)
{
    TempDir work;
    const std::string joined = Cat(Fixture("rar/vol.part1.rar"), Fixture("rar/vol.part2.rar"), work);
    const struct {
        std::string fixture;
        std::string peer;
        std::string peerArchive;
        bool rar;
    } cases[] = {
        {"cab/stored.cab", "cabextract -q -d %d %a", "", false},
        {"cab/mszip.cab", "cabextract -q -d %d %a", "", false},
        {"cab/set1.cab", "cabextract -q -d %d %a", "", false},
        {"rar/single.rar", "bsdtar -x -C %d -f %a", "", true},
        {"rar/unicode.rar", "bsdtar -x -C %d -f %a", "", true},
        {"rar/long-name.rar", "bsdtar -x -C %d -f %a", "", true},
        // bsdtar reads a set as one stream.
        {"rar/vol.part1.rar", "bsdtar -x -C %d -f %a", joined, true},
    };
    for (const auto& c : cases) {
        TempDir ours, theirs;
        const std::string archive = Fixture(c.fixture);
        std::string peerArchive = c.peerArchive.empty() ? archive : c.peerArchive;
        if (c.fixture == "cab/set1.cab") {
            // cabextract takes the set's cabinets one by one.
            ASSERT_TRUE(Peer(c.peer, Fixture("cab/set2.cab"), theirs.Root()));
        }
        ASSERT_TRUE(Peer(c.peer, peerArchive, theirs.Root())) << c.peer << " " << c.fixture;
        const ExtractRun r = c.rar ? ExtractInto<TUnRar>(archive, ours.Root()) : ExtractInto<TUnCab>(archive, ours.Root());
        EXPECT_EQ(Digest(r.files), Digest(TreeOf(theirs.Root()))) << c.fixture;
        EXPECT_EQ(r.count, static_cast<int>(r.files.size())) << c.fixture;
        EXPECT_EQ(r.Passed(), r.count) << c.fixture;
        EXPECT_TRUE(r.errors.empty()) << c.fixture << " " << (r.errors.empty() ? 0 : r.errors[0].first);
    }
}

TEST(CabRarExtract, CabinetAfterAStub)
{
    TempDir ours, theirs;
    const ExtractRun r = ExtractInto<TUnCab>(Fixture("cab/stub.exe"), ours.Root());
    ASSERT_TRUE(Peer("cabextract -q -d %d %a", Fixture("cab/mszip.cab"), theirs.Root()));
    EXPECT_EQ(Digest(r.files), Digest(TreeOf(theirs.Root())));
}

TEST(CabRarExtract, SelectedCabinetFiles)
{
    TempDir out;
    const ExtractRun r = ExtractInto<TUnCab>(Fixture("cab/mszip.cab"), out.Root(), {"four.bin"});
    EXPECT_EQ(r.count, 1);
    EXPECT_EQ(r.files.size(), 1u);
    EXPECT_TRUE(r.files.count("four.bin"));
}

TEST(CabRarExtract, DamagedCabinetDataFailsTheFile)
{
    TempDir out;
    const ExtractRun r = ExtractInto<TUnCab>(Fixture("hostile/bad-checksum.cab"), out.Root());
    EXPECT_TRUE(r.files.empty());
    EXPECT_EQ(r.count, 0);
    ASSERT_EQ(r.ended.size(), 1u);
    EXPECT_FALSE(r.ended[0].second);
    EXPECT_EQ(r.Errors(25140), 1);
}

TEST(CabRarExtract, NamesOutsideTheTargetAreRefusedOneByOne)
{
    for (bool rar : {false, true}) {
        TempDir root;
        const std::string target = root.Path("target/");
        std::filesystem::create_directories(target);
        const ExtractRun r = rar ? ExtractInto<TUnRar>(Fixture("hostile/names.rar"), target)
                          : ExtractInto<TUnCab>(Fixture("hostile/names.cab"), target);
        EXPECT_EQ(r.files, (std::map<std::string, std::string>{{"good.txt", "good\n"}})) << rar;
        EXPECT_EQ(TreeOf(root.Root()).size(), 1u) << rar;
        EXPECT_EQ(r.Errors(E_INVALIDFILENAME), rar ? 4 : 2) << rar;
        EXPECT_EQ(r.count, 1);
    }
}

TEST(CabRarExtract, AnOutputThatDoesNotOpenSkipsThatFileAlone)
{
    TempDir out;
    std::filesystem::create_directories(out.Path("text.txt"));
    const ExtractRun r = ExtractInto<TUnCab>(Fixture("cab/mszip.cab"), out.Root());
    EXPECT_EQ(r.Errors(E_OPENERR), 1);
    EXPECT_EQ(r.count, 2);
    EXPECT_TRUE(r.files.count("random.bin"));
    EXPECT_TRUE(r.files.count("four.bin"));
}

TEST(CabRarExtract, NextCabinetNamedOutsideIsLookedForInTheSetsFolder)
{
    TempDir out;
    const ExtractRun r = ExtractInto<TUnCab>(Fixture("hostile/next-outside.cab"), out.Root());
    EXPECT_EQ(r.files.count("only.txt"), 1u);
    ASSERT_EQ(r.volumesAsked.size(), 1u);
    EXPECT_EQ(r.volumesAsked[0], ExtractFilePath(Fixture("hostile/next-outside.cab")) + "x.cab");
}

TEST(CabRarExtract, RarEncryptedAndRar5)
{
    TempDir out;
    out.Write("secret.txt", "mine");
    const ExtractRun r = ExtractInto<TUnRar>(Fixture("rar/encrypted.rar"), out.Root());
    // The entry is reported as protected, alone; the entry after it is
    // extracted and the user's file stays as it was.
    EXPECT_EQ(r.Errors(E_PASSWORDPROTECTED), 1);
    EXPECT_EQ(r.Errors(E_UNSUPPORTEDTYPE), 0);
    EXPECT_EQ(r.files, (std::map<std::string, std::string>{{"open.txt", "open\n"}, {"secret.txt", "mine"}}));
    EXPECT_EQ(r.count, 1);

    TempDir five;
    const ExtractRun r5 = ExtractInto<TUnRar>(Fixture("hostile/rar5.rar"), five.Root());
    EXPECT_EQ(r5.Errors(E_UNSUPPORTEDVERSION), 1);
    EXPECT_EQ(r5.Errors(E_BADHEADR), 0);
    EXPECT_TRUE(r5.files.empty());
}

TEST(CabRarExtract, RarReplacesAFileOnlyWithACompleteEntry)
{
    TempDir work, out;
    // A copy whose alpha data has one byte changed: its CRC fails.
    std::ifstream in(Fixture("rar/single.rar"), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    bytes[bytes.find("alpha\n") + 3] = 'X';
    work.Write("bad.rar", bytes);
    out.Write("docs/alpha.txt", "the user's");
    out.Write("beta.bin", "old beta");
    const ExtractRun bad = ExtractInto<TUnRar>(work.Path("bad.rar"), out.Root(), {"docs/alpha.txt"});
    EXPECT_EQ(out.Read("docs/alpha.txt"), "the user's");
    EXPECT_EQ(bad.Passed(), 0);
    // A good entry replaces the old file, nothing else is left behind.
    const ExtractRun good = ExtractInto<TUnRar>(Fixture("rar/single.rar"), out.Root(), {"beta.bin"});
    EXPECT_EQ(good.count, 1);
    EXPECT_EQ(out.Read("beta.bin").size(), 5000u);
    EXPECT_EQ(TreeOf(out.Root()).size(), 2u);
}

TEST(CabRarExtract, RarVolumesAreAskedFor)
{
    TempDir out;
    const ExtractRun r = ExtractInto<TUnRar>(Fixture("rar/vol.part1.rar"), out.Root());
    EXPECT_EQ(r.count, 3);
    ASSERT_EQ(r.volumesAsked.size(), 1u);
    EXPECT_EQ(r.volumesAsked[0], Fixture("rar/vol.part2.rar"));
    EXPECT_EQ(r.volumeIds, std::vector<int>{2});  // its place in the set, as ARJ's volumes are asked for
    EXPECT_EQ(r.files.at("split.txt").size(), 76000u);

    // Named the older way: set.rar, then set.r00, the second.
    TempDir older, into;
    std::filesystem::copy_file(Fixture("rar/vol.part1.rar"), older.Path("set.rar"));
    std::filesystem::copy_file(Fixture("rar/vol.part2.rar"), older.Path("set.r00"));
    const ExtractRun o = ExtractInto<TUnRar>(older.Path("set.rar"), into.Root());
    EXPECT_EQ(o.count, 3);
    EXPECT_EQ(o.volumesAsked, std::vector<std::string>{older.Path("set.r00")});
    EXPECT_EQ(o.volumeIds, std::vector<int>{2});

    // The second volume missing: the split entry fails and leaves nothing.
    TempDir alone, dest;
    std::filesystem::copy_file(Fixture("rar/vol.part1.rar"), alone.Path("vol.part1.rar"));
    const ExtractRun cut = ExtractInto<TUnRar>(alone.Path("vol.part1.rar"), dest.Root());
    EXPECT_EQ(cut.files, (std::map<std::string, std::string>{{"before.txt", "before\n"}}));
    EXPECT_EQ(cut.volumesAsked.size(), 1u);
}

TEST(CabRarExtract, EachWayTheLibraryFailsHasItsMessage)
{
    // single.rar: docs/alpha.txt, then beta.bin (5,000 stored bytes from
    // offset 750), then empty.txt.
    const std::string whole = Slurp(Fixture("rar/single.rar"));
    std::string damaged = whole;
    damaged[3000] = static_cast<char>(damaged[3000] ^ 0x55);
    enum class Volume { None, Refused, Unasked };
    const struct {
        const char* what;
        std::string bytes;     // the archive; empty: vol.part1.rar alone
        const char* inTheWay;  // a folder where the file would go
        Volume volume;         // how the missing second volume is met
        int id;                // the message of the failure; 0: OnEnd alone tells
        const char* failed;    // the entry OnEnd reports failed
        std::set<std::string> written;
    } cases[] = {
        {"data damaged", damaged, nullptr, Volume::None, 0, "beta.bin", {"docs/alpha.txt", "empty.txt"}},
        {"archive cut", whole.substr(0, 3000), nullptr, Volume::None, 25236, nullptr, {"docs/alpha.txt"}},
        {"file cannot be made", whole, "beta.bin", Volume::None, 25136, "beta.bin", {"docs/alpha.txt", "empty.txt"}},
        {"volume refused", {}, nullptr, Volume::Refused, 25443, "split.txt", {"before.txt"}},
        {"volume missing, nobody to ask", {}, nullptr, Volume::Unasked, 25135, "split.txt", {"before.txt"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir in, out;
        std::string archive;
        if (c.volume != Volume::None) {
            archive = in.Path("vol.part1.rar");
            std::filesystem::copy_file(Fixture("rar/vol.part1.rar"), archive);
        } else {
            archive = in.Path("single.rar");
            in.Write("single.rar", c.bytes);
        }
        if (c.inTheWay)
            std::filesystem::create_directories(out.Path(c.inTheWay));
        TUnRar x;
        ExtractRun r;
        Watch(x, r);
        if (c.volume == Volume::Unasked)
            x.OnNextVolume = nullptr;
        x.SetArchiveFile(archive);
        x.SetExtractDir(out.Root());
        x.FileSpec.Add("*.*");
        x.Extract();
        std::string seen;
        for (const auto& e : r.errors)
            seen += std::to_string(e.first) + " " + e.second + "; ";
        if (c.id != 0) {
            EXPECT_GE(r.Errors(c.id), 1) << seen;
        } else {
            EXPECT_TRUE(r.errors.empty()) << seen;
        }
        std::set<std::string> failed;
        for (const auto& [name, pass] : r.ended)
            if (!pass)
                failed.insert(std::filesystem::path(name).filename().string());
        EXPECT_EQ(failed, c.failed ? std::set<std::string>{c.failed} : std::set<std::string>{});
        std::set<std::string> written;
        for (const auto& f : TreeOf(out.Root()))
            written.insert(f.first);
        EXPECT_EQ(written, c.written);
    }
}

}  // namespace
