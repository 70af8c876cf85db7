// The BH, LHA/LZH and ZOO extractors: one conformance table (extracts equal
// to the peer or to the inputs, a cut copy fails what it cuts and nothing
// else, traversal names are refused), then each format's own rules:
// unsupported methods leave no file, BH passwords, folders, dates.
// Fixtures: scripts/make-lzh-fixtures.sh.
#include "../arc_cab_rar/support.h"

#include "archive/zadunbh.h"
#include "archive/zadunlha.h"
#include "archive/zadunzoo.h"
#include "test_support/fuzz_corpus.h"

#include <gtest/gtest.h>

#include <set>
#include <sys/stat.h>

namespace {

using Files = std::map<std::string, std::string>;

std::string Input(const std::string& name) { return Slurp(Fixture("inputs/" + name)); }

// What the BH fixtures hold, by name.
Files BhContents()
{
    const std::string text = Input("text.txt"), readme = Input("readme.txt");
    return {{"stored.txt", readme},       {"deflate.txt", text},         {"deflate2.txt", readme},
            {"docs/fused1.txt", text},    {"fused3.bin", Input("far.bin")}, {"secret-stored.txt", readme},
            {"secret-deflate.txt", text}, {"secret-fused1.txt", text}};
}

enum class Kind { Bh, Lha, Zoo };

ExtractRun ExtractWith(Kind kind, const std::string& archive, const std::string& dir)
{
    switch (kind) {
    case Kind::Bh: {
        TUnBh x;
        x.Password = "secret";
        return ExtractInto<TUnBh>(archive, dir, {"*.*"}, &x);
    }
    case Kind::Lha: return ExtractInto<TUnLha>(archive, dir);
    case Kind::Zoo: return ExtractInto<TUnZoo>(archive, dir);
    }
    return {};
}

struct Conformance {
    Kind kind;
    const char* fixture;
    const char* peer;  // null: compared with the inputs
};

class LzhConformance : public ::testing::TestWithParam<Conformance> {};

TEST_P(LzhConformance, ExtractsEqualToTheReference)
{
    const Conformance& c = GetParam();
    TempDir ours, theirs;
    const ExtractRun r = ExtractWith(c.kind, Fixture(c.fixture), ours.Root());
    Files expected;
    if (c.peer) {
        ASSERT_TRUE(Peer(c.peer, Fixture(c.fixture), theirs.Root())) << c.peer;
        expected = TreeOf(theirs.Root());
    } else {
        expected = BhContents();
    }
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(Digest(r.files), Digest(expected)) << c.fixture;
    EXPECT_EQ(r.count, static_cast<int>(r.files.size())) << c.fixture;
    EXPECT_EQ(r.Passed(), static_cast<int>(r.ended.size())) << c.fixture;
    EXPECT_TRUE(r.errors.empty()) << c.fixture << " " << (r.errors.empty() ? 0 : r.errors[0].first);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, LzhConformance,
    ::testing::Values(Conformance{Kind::Lha, "lzh/level0.lzh", "cd %d && lhasa xq %a"},
                      Conformance{Kind::Lha, "lzh/level1.lzh", "cd %d && lhasa xq %a"},
                      Conformance{Kind::Lha, "lzh/level2.lzh", "cd %d && lhasa xq %a"},
                      Conformance{Kind::Lha, "lzh/stored.lzh", "cd %d && lhasa xq %a"},
                      Conformance{Kind::Lha, "lzh/sfx.exe", "cd %d && lhasa xq %a"},
                      Conformance{Kind::Lha, "lzh/wrapped.lzh", "cd %d && lhasa xq %a"},
                      Conformance{Kind::Lha, "lzh/lh1-level0.lzh", "cd %d && lhasa xq %a"},
                      Conformance{Kind::Lha, "lzh/lh1-level1.lzh", "cd %d && lhasa xq %a"},
                      Conformance{Kind::Lha, "lzh/lh4.lzh", "cd %d && lhasa xq %a"},
                      Conformance{Kind::Zoo, "zoo/mixed.zoo", "unar -q -D -o %d %a"},
                      Conformance{Kind::Bh, "bh/mixed.bh", nullptr}, Conformance{Kind::Bh, "bh/sfx.exe", nullptr}));

TEST(LzhConformanceDamage, DamagedCopiesFailWhatIsDamagedAndNothingElse)
{
    const Files lzh = TreeOf([] {
        static TempDir d;
        Peer("cd %d && lhasa xq %a", Fixture("lzh/level1.lzh"), d.Root());
        return d.Root();
    }());
    const struct {
        Kind kind;
        const char* fixture;
        Files whole;
    } cases[] = {
        {Kind::Lha, "hostile/lha-cut-data.lzh", lzh},
        {Kind::Lha, "hostile/lha-cut-header.lzh", {{"fine.txt", "fine\n"}}},
        // a header size that leaves less than its own name
        {Kind::Lha, "hostile/lha-rest-below-zero.lzh", {{"fine.txt", "fine\n"}}},
        // an lh1 entry whose data ends long before its claimed size
        {Kind::Lha, "hostile/lh1-claims-more.lzh", {{"fine.txt", "fine\n"}}},
        // a chain that links back to an entry already visited
        {Kind::Zoo, "hostile/zoo-loop.zoo", {{"fine.txt", "fine\n"}, {"second.txt", "fine\n"}}},
        {Kind::Zoo, "hostile/zoo-cut.zoo", {{"readme.txt", Input("readme.txt")}, {"text.txt", Input("text.txt")}}},
        {Kind::Bh, "hostile/bh-cut.bh", BhContents()},
    };
    for (const auto& c : cases) {
        TempDir out;
        const ExtractRun r = ExtractWith(c.kind, Fixture(c.fixture), out.Root());
        // The cut is reported, and every file left behind is whole.
        EXPECT_FALSE(r.errors.empty()) << c.fixture;
        EXPECT_EQ(r.count, static_cast<int>(r.files.size())) << c.fixture;
        for (const auto& [name, bytes] : r.files) {
            ASSERT_TRUE(c.whole.count(name)) << c.fixture << ": " << name;
            EXPECT_EQ(bytes, c.whole.at(name)) << c.fixture << ": " << name;
        }
    }
}

TEST(LzhConformanceDamage, TraversalNamesAreRefused)
{
    const struct {
        Kind kind;
        const char* fixture;
        int refused;
    } cases[] = {
        // a level-1 folder header "..", a level-0 name "..\", a level-2 folder "/tmp/"
        {Kind::Lha, "hostile/lha-traversal.lzh", 3},
        // folders "../../escaped" and "/tmp"
        {Kind::Zoo, "hostile/zoo-traversal.zoo", 2},
        // names "..\..\escaped.txt" and "\abs.txt"
        {Kind::Bh, "hostile/bh-traversal.bh", 2},
    };
    for (const auto& c : cases) {
        TempDir box;
        const std::string target = box.Path("target/");
        std::filesystem::create_directories(target);
        const ExtractRun r = ExtractWith(c.kind, Fixture(c.fixture), target);
        EXPECT_EQ(r.files, (Files{{"fine.txt", "fine\n"}})) << c.fixture;
        EXPECT_EQ(r.Errors(25245), c.refused) << c.fixture;
        EXPECT_EQ(r.count, 1) << c.fixture;
        EXPECT_EQ(TreeOf(box.Root()).size(), 1u) << c.fixture;
        EXPECT_FALSE(std::filesystem::exists("/tmp/abs.txt"));
    }
}

TEST(LzhExtract, UnsupportedMethodsAreReportedAndLeaveNoFile)
{
    const struct {
        Kind kind;
        const char* fixture;
        int unsupported;
        Files files;
    } cases[] = {
        // -lh2-, and LArc's -lzs- and -lz5- (another algorithm under the digit 5)
        {Kind::Lha, "hostile/lha-methods.lzh", 3, {{"fine.txt", "fine\n"}}},
        {Kind::Bh, "hostile/bh-methods.bh", 1, {{"fine.txt", "fine\n"}}},
        // ZOO method 3; the deleted entry is skipped, and two entries sharing
        // one short name extract under their long names.
        {Kind::Zoo, "hostile/zoo-deleted-shared.zoo", 1,
         {{"fine.txt", "fine\n"}, {"long file one.txt", "one\n"}, {"long file two.txt", "two\n"}}},
    };
    for (const auto& c : cases) {
        TempDir out;
        const ExtractRun r = ExtractWith(c.kind, Fixture(c.fixture), out.Root());
        EXPECT_EQ(r.Errors(25326), c.unsupported) << c.fixture;
        EXPECT_EQ(r.files, c.files) << c.fixture;
        EXPECT_EQ(r.count, static_cast<int>(c.files.size())) << c.fixture;
        EXPECT_EQ(r.Passed(), static_cast<int>(c.files.size())) << c.fixture;
    }
}

TEST(LzhExtract, BhPasswordsOpenOnlyTheirEntries)
{
    const Files all = BhContents();
    Files plain;
    for (const auto& [name, bytes] : all)
        if (name.rfind("secret-", 0) != 0)
            plain[name] = bytes;
    // A wrong password, then the user gives up: the encrypted entries are
    // skipped (asked once), the others extract.
    {
        TempDir out;
        TUnBh x;
        int asked = 0;
        x.OnGetPassword = [&](TObject*, const std::string&, std::string& p, TSeedKeyRecord&, TSeedKeyRecord&, bool& again) {
            again = asked++ == 0;
            p = "wrong";
        };
        const ExtractRun r = ExtractInto<TUnBh>(Fixture("bh/mixed.bh"), out.Root(), {"*.*"}, &x);
        EXPECT_EQ(r.files, plain);
        EXPECT_EQ(r.count, static_cast<int>(plain.size()));
        EXPECT_EQ(asked, 2);
    }
    // The right password through the prompt opens all three.
    {
        TempDir out;
        TUnBh x;
        x.OnGetPassword = [](TObject*, const std::string&, std::string& p, TSeedKeyRecord&, TSeedKeyRecord&, bool& again) {
            p = "secret";
            again = true;
        };
        const ExtractRun r = ExtractInto<TUnBh>(Fixture("bh/mixed.bh"), out.Root(), {"secret-*.*"}, &x);
        EXPECT_EQ(r.count, 3);
        EXPECT_EQ(r.Passed(), 3);
        EXPECT_EQ(r.files.size(), 3u);
        EXPECT_EQ(r.files.at("secret-fused1.txt"), all.at("secret-fused1.txt"));
    }
}

// Every folder below the root, files' folders included.
std::set<std::string> FoldersIn(const std::string& root)
{
    std::set<std::string> out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root))
        if (e.is_directory())
            out.insert(std::filesystem::relative(e.path(), root).generic_string());
    return out;
}

template <class Extractor>
ExtractRun ExtractFolders(const std::string& archive, const std::string& dir, bool useStoredDirs, bool createStoredDirs)
{
    Extractor x;
    x.UseStoredDirs = useStoredDirs;
    x.CreateStoredDirs = createStoredDirs;
    return ExtractInto<Extractor>(archive, dir, {"*.*"}, &x);
}

TEST(LzhExtract, FolderEntriesAndStoredFolders)
{
    // LHA folder entries (an empty one among them) and ZOO's folder field:
    // a folder entry makes its folder only with CreateStoredDirs, stored
    // folders are used only with UseStoredDirs.
    const std::string readme = Input("readme.txt");
    const struct {
        Kind kind;
        const char* fixture;
        bool useStoredDirs, createStoredDirs;
        std::vector<std::string> files;
        std::set<std::string> folders;
    } cases[] = {
        {Kind::Lha, "lzh/folders.lzh", true, true, {"tree/full/readme.txt"}, {"tree", "tree/empty", "tree/full"}},
        {Kind::Lha, "lzh/folders.lzh", true, false, {"tree/full/readme.txt"}, {"tree", "tree/full"}},
        {Kind::Lha, "lzh/folders.lzh", false, false, {"readme.txt"}, {}},
        {Kind::Zoo, "zoo/mixed.zoo", true, false, {"docs/deeper/a long file name.txt", "readme.txt", "text.txt"}, {"docs", "docs/deeper"}},
        {Kind::Zoo, "zoo/mixed.zoo", false, false, {"a long file name.txt", "readme.txt", "text.txt"}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.fixture) + (c.useStoredDirs ? " stored folders" : " flat") + (c.createStoredDirs ? ", folder entries" : ""));
        TempDir out;
        const ExtractRun r = c.kind == Kind::Lha ? ExtractFolders<TUnLha>(Fixture(c.fixture), out.Root(), c.useStoredDirs, c.createStoredDirs)
                                                 : ExtractFolders<TUnZoo>(Fixture(c.fixture), out.Root(), c.useStoredDirs, c.createStoredDirs);
        std::vector<std::string> names;
        for (const auto& f : r.files)
            names.push_back(f.first);
        std::vector<std::string> expected = c.files;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(names, expected);
        EXPECT_EQ(FoldersIn(out.Root()), c.folders);
        for (const auto& [name, pass] : r.ended)
            EXPECT_TRUE(pass) << name;
        if (c.kind == Kind::Lha) {
            EXPECT_EQ(r.files.at(expected[0]), readme);
        }
    }
}

TEST(LzhExtract, FolderEntriesAndDates)
{
    // A BH folder entry: no OnBegin, passes its check.
    for (bool create : {false, true}) {
        TempDir out;
        TUnBh x;
        x.Password = "secret";
        x.CreateStoredDirs = create;
        const ExtractRun r = ExtractInto<TUnBh>(Fixture("bh/mixed.bh"), out.Root(), {"*.*"}, &x);
        EXPECT_EQ(std::count(r.begun.begin(), r.begun.end(), out.Path("docs")), 0);
        for (const auto& [name, pass] : r.ended)
            EXPECT_TRUE(pass) << name;
        EXPECT_EQ(r.count, 8);
        EXPECT_TRUE(std::filesystem::is_directory(out.Path("docs")));  // docs/fused1.txt is in it either way
    }
    // Level-2 times are Unix times, also from a header written on MS-DOS.
    TempDir out;
    const ExtractRun r = ExtractInto<TUnLha>(Fixture("hostile/lha-level2-msdos.lzh"), out.Root());
    ASSERT_EQ(r.files.size(), 1u);
    struct stat st {};
    ASSERT_EQ(::stat(out.Path("dos.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1709634030);
}

TEST(LzhExtract, SelectionByMaskAndTotals)
{
    TempDir out;
    TUnLha x;
    const ExtractRun r = ExtractInto<TUnLha>(Fixture("lzh/level2.lzh"), out.Root(), {"docs/*.*"}, &x);
    EXPECT_EQ(r.count, 2);
    EXPECT_EQ(r.files.size(), 2u);
    EXPECT_TRUE(r.files.count("docs/sub/random.bin"));
    EXPECT_EQ(x.TotalUnpackedSize, 560 + 3000);
}

}  // namespace
