// Nothing lost in silence and the right words for what fails (recipes in
// scripts/make-unix-archive-fixtures.sh): every entry the lister shows is
// extracted or reported by name, and each report says what went wrong.
#include "unix_support.h"

#include "archive/zadunace.h"
#include "test_support/fuzz_corpus.h"

#include <gtest/gtest.h>

namespace {

using Errors = std::vector<std::pair<int, std::string>>;

std::string Numbers(int from, int to)
{
    std::string s;
    for (int i = from; i <= to; ++i)
        s += std::to_string(i) + "\n";
    return s;
}

struct SilentCase {
    const char* fixture;
    std::string password;
    std::vector<std::string> listed;
    std::map<std::string, std::string> files;
    Errors errors;  // code, "file: extended message"
};

const std::string kFirst = Numbers(1, 400);
const std::string kSecond = Numbers(500, 900);

const SilentCase kSilentCases[] = {
    // Written to a pipe and cut before the directory: recovery steps over
    // every descriptor, as the listing does.
    {"silent/descriptor-cut.zip", "", {"first.txt", "second.txt", "third.txt"},
     {{"first.txt", kFirst}, {"second.txt", kSecond}, {"third.txt", "third\n"}}, {}},
    // Several encoded files, and one after a long letter: listed one by one
    // and extracted alike.
    {"silent/two.uue", "", {"first.txt", "second.txt"}, {{"first.txt", kFirst}, {"second.txt", kSecond}}, {}},
    {"silent/letter.uue", "", {"third.txt"}, {{"third.txt", "third\n"}}, {}},
    // Cut headers are damage, never an empty file or an empty listing.
    {"silent/cut-header.arc", "", {}, {}, {{25114, "cut-header.arc: the header at 0 is cut off"}}},
    {"silent/cut.bh", "", {}, {}, {{25114, "cut.bh: "}}},
    // The main header's id damaged: the first entry is still there. An
    // entry's header damaged ends the walk with a report.
    {"silent/damaged-main.arj", "", {"empty.txt", "first.txt"}, {{"empty.txt", ""}, {"first.txt", kFirst}},
     {{25114, "damaged-main.arj: the archive's main header is damaged"}}},
    {"silent/damaged-entry.arj", "", {}, {}, {{25114, "damaged-entry.arj: "}}},
    // compress: 12 bits decode and name their method; -b9 output says why it does not.
    {"silent/b12.Z", "", {"b12"}, {{"b12", kFirst}}, {}},
    {"silent/b9.Z", "", {"b9"}, {},
     {{25116, "b9: compress -b9 output, whose codes pass what nine bits hold: no decoder reads it"}}},
    // zoo 2.10's last entry of 56 bytes is no bad header.
    {"messages/zoo210.zoo", "", {"one.txt", "two.txt"}, {{"one.txt", "one\n"}, {"two.txt", "two two\n"}}, {}},
    // Garbled entries: with their password they extract; without it, or
    // with a wrong one, they say so.
    {"messages/garbled.arc", "secret", {"first.txt", "third.txt"}, {{"first.txt", kFirst}, {"third.txt", "third\n"}}, {}},
    {"messages/garbled.arj", "secret", {"first.txt"}, {{"first.txt", kFirst}}, {}},
    {"messages/garbled.arj", "wrong", {"first.txt"}, {}, {{26517, "first.txt: wrong"}}},
    // A hard link arj wrote as a special entry: listed, and said why it is
    // not extracted.
    {"messages/hardlink.arj", "", {"first.txt", "hard.txt"}, {{"first.txt", kFirst}},
     {{25402, "hard.txt: a special file of a Unix host (a hard link or a device), which is not extracted"}}},
};

TEST(UnixSilence, EveryEntryIsExtractedOrReportedByName)
{
    for (const SilentCase& c : kSilentCases) {
        SCOPED_TRACE(std::string(c.fixture) + " " + c.password);
        const std::string archive = UnixFixture(c.fixture);
        const UnixListing l = ListArchive(archive);
        EXPECT_EQ(l.names, c.listed);
        TempDir out;
        const UnixExtraction x = ExtractArchive(archive, out.Root(), {}, [&](TCustomDClass& e) {
            e.Password = c.password;
            e.PasswordAttempts = 1;
            if (auto* z = dynamic_cast<TUnZip*>(&e))
                z->OnCorruptZipHeader = [](TObject*, THeaderTypeState, bool& cancel) { cancel = false; };
        });
        EXPECT_EQ(x.files, c.files);
        EXPECT_EQ(x.errors, c.errors);
        EXPECT_EQ(x.count, static_cast<int>(c.files.size()));
    }
}

TEST(UnixSilence, ThousandsOfEncodedFilesListAsThemselves)
{
    const UnixListing l = ListArchive(UnixFixture("silent/many.uue"));
    ASSERT_EQ(l.names.size(), 2000u);
    EXPECT_EQ(l.names.front(), "f1.txt");
    EXPECT_EQ(l.names.back(), "f2000.txt");
    TempDir out;
    const UnixExtraction x = ExtractArchive(UnixFixture("silent/many.uue"), out.Root(), {"f1999.txt"});
    EXPECT_EQ(x.files, (std::map<std::string, std::string>{{"f1999.txt", "1999\n"}}));
}

TEST(UnixSilence, GarbledArcWithoutItsPasswordSaysWhatItMayBe)
{
    TempDir out;
    const UnixExtraction x = ExtractArchive(UnixFixture("messages/garbled.arc"), out.Root());
    EXPECT_TRUE(x.files.empty());
    ASSERT_FALSE(x.errors.empty());
    // The decoder's own word (a squeeze tree that makes no sense), and what it may mean.
    EXPECT_EQ(x.errors[0], (std::pair<int, std::string>{25152, "first.txt: its data do not decode: it is damaged, or garbled with a password"}));
}

TEST(UnixSilence, ACabinetOpenedAtItsSecondPartExtractsItsSet)
{
    const std::string cabs = std::string(VISTREL_TEST_DATA) + "/../arc_cab_rar/fixtures/cab/";
    TempDir set;
    set.Write("set1.cab", Slurp(cabs + "set1.cab"));
    set.Write("set2.cab", Slurp(cabs + "set2.cab"));
    TempDir all;
    const UnixExtraction whole = ExtractArchive(set.Path("set1.cab"), all.Root());
    ASSERT_FALSE(whole.files.empty());
    TempDir out;
    const UnixExtraction x = ExtractArchive(set.Path("set2.cab"), out.Root());
    EXPECT_EQ(x.files, whole.files);
    EXPECT_TRUE(x.errors.empty());

    // Without its first part it says which part is missing.
    std::remove(set.Path("set1.cab").c_str());
    TempDir alone;
    const UnixExtraction y = ExtractArchive(set.Path("set2.cab"), alone.Root());
    ASSERT_FALSE(y.errors.empty());
    EXPECT_EQ(y.errors[0], (std::pair<int, std::string>{25901, "set2.cab: the set begins in set1.cab, which is not there"}));
}

TEST(UnixSilence, MessagesNameWhatIsMissingAndWhatTheMethodIs)
{
    // The .Z method is named for every code width.
    const UnixListing z = ListArchive(UnixFixture("silent/b12.Z"));
    EXPECT_EQ(z.methods, std::vector<std::string>{"LzwMAGIC"});
    // ACE: what is missing, in this system's terms.
    SetAceLibraryFactory(nullptr);
    TempDir out;
    TUnACE ace;
    std::vector<std::string> said;
    ace.OnError = [&](TObject*, const std::string&, const std::string& ext, const std::string&, int code) {
        said.push_back(LoadResString(code) + ": " + ext);
    };
    ace.SetArchiveFile(std::string(VISTREL_TEST_DATA) + "/../arc_cab_rar/fixtures/list/files.ace");
    ace.SetExtractDir(out.Root());
    ace.FileSpec.Add("*.*");
    EXPECT_EQ(ace.Extract(), 0);
    EXPECT_EQ(said, std::vector<std::string>{"Error loading the ACE 2 decompression library: none is available on this system"});
}

}  // namespace
