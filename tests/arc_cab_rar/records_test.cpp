// The lister over ARC, PAK, cabinet, RAR, ACE, HA and MsGZ archives: the
// entries each shows, sets walked in one listing, and the walks' bounds on
// damaged headers. Fixtures: scripts/make-arc-cab-rar-fixtures.sh.
#include "../archive/lister_support.h"

#include "archive/zadgbls.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    const char* fixture;
    TArcType type;
    std::vector<std::string> names;
    std::vector<std::string> methods;  // empty: not compared
};

class RecordsTest : public ::testing::TestWithParam<Case> {};

TEST_P(RecordsTest, ListsTheEntries)
{
    const Case& c = GetParam();
    const Listing l = ListFile(FixturePath(c.fixture));
    EXPECT_EQ(l.type, c.type);
    EXPECT_TRUE(l.result);
    EXPECT_TRUE(l.errors.empty());
    EXPECT_EQ(Names(l), c.names);
    if (!c.methods.empty()) {
        std::vector<std::string> m;
        for (const auto& e : l.entries)
            m.push_back(e.method);
        EXPECT_EQ(m, c.methods);
    }
    EXPECT_EQ(l.totalFiles, static_cast<int>(c.names.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Formats, RecordsTest,
    ::testing::Values(
        // Method names as "arc v" gives them: 8 (arc's crunch) here, 9 in
        // squashed.arc, 7 in crunch5-7.arc.
        Case{"arc/mixed.arc", atArc, {"four.bin", "marker.bin", "random.bin", "runs.txt", "text.txt", "tiny.txt"},
             {"Squeezed", "Crunched", "Stored", "Packed", "Crunched", "Stored"}},
        Case{"arc/squashed.arc", atArc, {"four.bin", "text.txt"}, {"Squeezed", "Squashed"}},
        Case{"arc/crunch5-7.arc", atArc, {"OLD5.TXT", "OLD6.BIN", "NEW7.TXT", "OLDSTORE.TXT", "SUB/INSIDE.TXT", "SUB/DEEP.BIN"},
             {"Crunched", "Crunched", "Crunched", "Stored", "Stored", "Crunched"}},
        // Methods 10 and 11 in an archive taken for ARC.
        Case{"arc/later.arc", atArc, {"PLAIN.TXT", "TEN.DAT", "ELEVEN.DAT"}, {"Stored", "Pack12", "Stored"}},
        Case{"arc/pak.pak", atPak, {"CRUSHED.DAT", "PLAIN.TXT", "DISTILL.DAT"}, {"Crushed", "Stored", "Distill"}},
        Case{"cab/mszip.cab", atCab, {"text.txt", "random.bin", "four.bin"}, {"MsZIP", "MsZIP", "MsZIP"}},
        // A set: the file that runs on into the second cabinet is listed once.
        Case{"cab/set1.cab", atCab, {"first.txt", "second.txt", "third.txt"}, {}},
        Case{"rar/single.rar", atRar, {"docs/alpha.txt", "beta.bin", "empty.txt"}, {"Stored", "Stored", "Stored"}},
        Case{"rar/vol.part1.rar", atRar, {"before.txt", "split.txt", "after.txt"}, {}},
        Case{"rar/unicode.rar", atRar, {"grüße/naïve.txt", "plain.txt"}, {}},
        Case{"rar/long-name.rar", atRar, {std::string(100, 'x') + "/" + std::string(100, 'y') + "/" + std::string(100, 'z') + ".txt"}, {}},
        Case{"list/files.ace", atAce, {"readme.txt", "dir/data.bin"}, {"Normal", "Normal"}},
        Case{"list/files.ha", atHA, {"one.txt", "two.txt"}, {"HSC", "Cpy"}},
        // MsGZ names keep their bytes unconverted.
        Case{"list/files.msgz", atMsGZ, {"setup.ini", "\x81" "ber.txt"}, {"", ""}}));

TEST(RecordsDetail, SizesDatesAndFolders)
{
    // A split RAR entry is reported once, with the packed parts summed.
    const Listing vol = ListFile(FixturePath("rar/vol.part1.rar"));
    ASSERT_EQ(vol.entries.size(), 3u);
    EXPECT_EQ(vol.entries[1].unpacked, 76000);
    EXPECT_EQ(vol.entries[1].packed, 76000);
    // ARC dates are stored with date and time exchanged.
    const Listing arc = ListFile(FixturePath("arc/crunch5-7.arc"), true);
    ASSERT_FALSE(arc.entries.empty());
    int y, m, d, h, mi, s, ms;
    DecodeDate(arc.entries[0].date, y, m, d);
    DecodeTime(arc.entries[0].date, h, mi, s, ms);
    EXPECT_EQ((std::vector<int>{y, m, d, h, mi, s}), (std::vector<int>{2024, 3, 5, 10, 20, 30}));
    // With ShowEmptyDirs the directory header shows first, not counted.
    const std::vector<std::string> withDirs = Names(arc);
    EXPECT_NE(std::find(withDirs.begin(), withDirs.end(), "SUB/"), withDirs.end());
    EXPECT_EQ(arc.totalFiles, 6);
    const Listing rar = ListFile(FixturePath("rar/single.rar"), true);
    EXPECT_EQ(Names(rar).front(), "docs/");
    // A 64-bit size field leads to the next header.
    EXPECT_EQ(rar.entries.back().name, "empty.txt");
}

TEST(RecordsHostile, WalksEndWithinTheirBounds)
{
    // A zero entry length ends the MsGZ walk after the entries before it.
    const Listing msgz = ListFile(FixturePath("hostile/zero-length.msgz"));
    EXPECT_EQ(Names(msgz), (std::vector<std::string>{"first.txt"}));
    // A RAR 5 archive is not listed as RAR 4 garbage: it is said to be
    // unsupported.
    const Listing rar5 = ListFile(FixturePath("hostile/rar5.rar"));
    EXPECT_FALSE(rar5.result);
    EXPECT_TRUE(rar5.entries.empty());
    EXPECT_EQ(rar5.errors, (std::vector<int>{E_UNSUPPORTEDVERSION}));
    EXPECT_EQ(rar5.errorTexts, (std::vector<std::string>{"RAR 5 archives are not supported"}));
    // A packed size past the end ends the ARC walk behind that entry.
    const Listing huge = ListFile(FixturePath("hostile/huge-size.arc"));
    EXPECT_EQ(Names(huge), (std::vector<std::string>{"FIRST.TXT", "HUGE.BIN"}));
}

TEST(RecordsDetail, RarVolumesAreAskedForByTheirPlaceInTheSet)
{
    // The second volume is asked for as 2, under either way of naming.
    TempDir dir;
    dir.Write("vol.part1.rar", ReadFixture("rar/vol.part1.rar"));
    dir.Write("vol.part2.rar", ReadFixture("rar/vol.part2.rar"));
    dir.Write("set.rar", ReadFixture("rar/vol.part1.rar"));
    dir.Write("set.r00", ReadFixture("rar/vol.part2.rar"));
    for (const char* first : {"vol.part1.rar", "set.rar"}) {
        SCOPED_TRACE(first);
        TVirOV v;
        Listing out;
        Attach(v, out);
        std::vector<int> ids;
        v.OnNextVolume = [&ids](TObject*, std::string&, int id, bool exists, bool& cancel) {
            ids.push_back(id);
            cancel = !exists;
        };
        v.SetArchiveFile(dir.Path(first));
        v.Activate();
        EXPECT_EQ(Names(out), (std::vector<std::string>{"before.txt", "split.txt", "after.txt"}));
        EXPECT_EQ(ids, std::vector<int>{2});
    }
}

TEST(RecordsHostile, NextCabinetStaysInTheArchivesFolder)
{
    TVirOV v;
    Listing out;
    Attach(v, out);
    std::vector<std::string> asked;
    v.OnNextVolume = [&asked](TObject*, std::string& name, int, bool, bool& cancel) {
        asked.push_back(name);
        cancel = true;
    };
    v.SetArchiveFile(FixturePath("hostile/next-outside.cab"));
    v.Activate();
    EXPECT_EQ(Names(out), (std::vector<std::string>{"only.txt"}));
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], ExtractFilePath(FixturePath("hostile/next-outside.cab")) + "x.cab");
}

TEST(RecordsHostile, CutHeadersAndNamesWithoutEnds)
{
    const std::string rar = ReadFixture("rar/single.rar");
    // Cut inside the second file header: the first entry stays, the cut one is reported.
    const size_t at = rar.find("beta.bin");
    const Listing cut = ListBytes(rar.substr(0, at - 10), "cut.rar");
    EXPECT_EQ(Names(cut), (std::vector<std::string>{"docs/alpha.txt"}));
    EXPECT_EQ(cut.errors, (std::vector<int>{E_READERR}));
    // A cabinet name that runs to the end of the file without its zero byte.
    std::string cab = ReadFixture("cab/stored.cab");
    const size_t name = cab.find("four.bin");
    cab = cab.substr(0, name + 4);
    const Listing cabCut = ListBytes(cab, "cut.cab");
    EXPECT_EQ(Names(cabCut), (std::vector<std::string>{"text.txt", "random.bin"}));
    EXPECT_FALSE(cabCut.result);
    EXPECT_EQ(cabCut.errors, (std::vector<int>{E_READERR}));
    // An ACE name longer than its header is refused.
    std::string ace = ReadFixture("list/files.ace");
    const size_t first = ace.find("readme.txt");
    ace[first - 2] = static_cast<char>(0xF0);
    const Listing aceBad = ListBytes(ace, "bad.ace");
    EXPECT_TRUE(aceBad.entries.empty());
    EXPECT_FALSE(aceBad.result);
    EXPECT_EQ(aceBad.errors, (std::vector<int>{E_BADHEADR}));
}

TEST(RecordsDetection, EveryArcMethodStartsAnArc)
{
    for (int method = 1; method <= 9; ++method) {
        std::string header(29, '\0');
        header[0] = 0x1A;
        header[1] = static_cast<char>(method);
        header.replace(2, 5, "A.TXT");
        const Listing l = ListBytes(header + std::string("\x1a\x00", 2), "t.arc");
        EXPECT_EQ(l.type, atArc) << method;
    }
}

}  // namespace
