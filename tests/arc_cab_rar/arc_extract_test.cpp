// The ARC extractor against the peers (arc, nomarch), its folder prefix,
// and damaged entries that fail alone and leave no file.
#include "support.h"

#include "archive/zadunarc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cctype>

namespace {

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

// Files by their lower-case name without folder (nomarch drops both).
std::map<std::string, std::string> Lowered(const std::map<std::string, std::string>& files)
{
    std::map<std::string, std::string> out;
    for (const auto& [k, v] : files)
        out[Lower(std::filesystem::path(k).filename().string())] = v;
    return out;
}

TEST(ArcExtract, MatchesThePeers)
{
    const struct {
        const char* fixture;
        const char* peer;
    } cases[] = {
        {"arc/stored.arc", "cd %d && arc x %a"},
        {"arc/mixed.arc", "cd %d && arc x %a"},
        {"arc/squashed.arc", "cd %d && nomarch %a"},
        {"arc/mixed.arc", "cd %d && nomarch %a"},
    };
    for (const auto& c : cases) {
        TempDir ours, theirs;
        ASSERT_TRUE(Peer(c.peer, Fixture(c.fixture), theirs.Root())) << c.peer;
        const ExtractRun r = ExtractInto<TUnArc>(Fixture(c.fixture), ours.Root());
        EXPECT_EQ(Digest(r.files), Digest(TreeOf(theirs.Root()))) << c.fixture;
        EXPECT_EQ(r.count, static_cast<int>(r.files.size()));
        EXPECT_EQ(r.Passed(), r.count);
        EXPECT_TRUE(r.errors.empty()) << c.fixture << " " << (r.errors.empty() ? 0 : r.errors[0].first);
    }
}

TEST(ArcExtract, OldCrunchStoredAndFolders)
{
    TempDir ours, theirs;
    const std::string archive = Fixture("arc/crunch5-7.arc");
    TUnArc x;
    const ExtractRun r = ExtractInto<TUnArc>(archive, ours.Root(), {"*.*"}, &x);
    // Every entry passes its CRC-16 test: methods 5 to 7 and the oldest stored form.
    EXPECT_EQ(r.count, 6);
    EXPECT_EQ(r.Passed(), 6);
    // nomarch reads the old hash of methods 5 and 6 (not method 7, nor folders).
    Peer("cd %d && nomarch %a", archive, theirs.Root());
    const auto mine = Lowered(r.files);
    for (const auto& [name, bytes] : Lowered(TreeOf(theirs.Root())))
        EXPECT_EQ(mine.count(name) ? mine.at(name) : "(missing)", bytes) << name;
    EXPECT_TRUE(r.files.count("SUB/INSIDE.TXT"));
    EXPECT_TRUE(r.files.count("SUB/DEEP.BIN"));
    EXPECT_EQ(r.files.at("NEW7.TXT"), r.files.at("OLD5.TXT"));

    // The same component again: the folder prefix starts empty at each walk.
    TempDir again;
    const ExtractRun second = ExtractInto<TUnArc>(archive, again.Root(), {"*.*"}, &x);
    EXPECT_EQ(Digest(second.files), Digest(r.files));
    // Entries selected by the folder they are in.
    TempDir some;
    const ExtractRun sub = ExtractInto<TUnArc>(archive, some.Root(), {"SUB/*.*"});
    EXPECT_EQ(sub.count, 2);
}

TEST(ArcExtract, DamagedEntriesFailAloneAndLeaveNothing)
{
    const struct {
        const char* fixture;
        int code;
        int failures;
        std::vector<std::string> written;
    } cases[] = {
        // A packed size far past the end: the data ends early.
        {"hostile/huge-size.arc", E_SIZEDIFFERENT, 1, {"FIRST.TXT"}},
        // A squeeze child out of range; the entry after it still decodes
        // from its own data.
        {"hostile/squeeze-child.arc", 25152, 1, {"AFTER.TXT"}},
        // Chains that turn round in the string table stop at the stack.
        {"hostile/crunch-cycle.arc", E_STACKOVERFLOW, 2, {"AFTER.TXT"}},
        // PAK's own methods: no empty file.
        {"arc/pak.pak", 25326, 2, {"PLAIN.TXT"}},
    };
    for (const auto& c : cases) {
        TempDir out;
        const ExtractRun r = ExtractInto<TUnArc>(Fixture(c.fixture), out.Root());
        std::vector<std::string> names;
        for (const auto& f : r.files)
            names.push_back(f.first);
        EXPECT_EQ(names, c.written) << c.fixture;
        EXPECT_EQ(r.Errors(c.code), c.failures) << c.fixture;
        EXPECT_EQ(static_cast<int>(r.ended.size()) - r.Passed(), c.failures) << c.fixture;
        EXPECT_EQ(r.count, static_cast<int>(c.written.size())) << c.fixture;
    }
}

TEST(ArcExtract, MaxFileDateUsesTheLatestEntry)
{
    // Three entries of three dates, the latest in the middle (TZ=UTC).
    const auto stamp = [](const std::string& path) {
        return std::chrono::duration_cast<std::chrono::seconds>(
                   std::chrono::file_clock::to_sys(std::filesystem::last_write_time(path)).time_since_epoch())
            .count();
    };
    const std::int64_t y2021 = 1625126400, y2024 = 1709634030, y2019 = 1574268310;
    const struct {
        TDateAttribute attribute;
        std::int64_t four, runs, tiny;
    } cases[] = {
        {daFileDate, y2021, y2024, y2019},
        {daMaxFileDate, y2024, y2024, y2024},
    };
    for (const auto& c : cases) {
        TempDir out;
        TUnArc x;
        x.DateAttribute = c.attribute;
        const ExtractRun r = ExtractInto<TUnArc>(Fixture("arc/dated.arc"), out.Root(), {"*.*"}, &x);
        ASSERT_EQ(r.count, 3);
        EXPECT_EQ(stamp(out.Path("four.bin")), c.four) << c.attribute;
        EXPECT_EQ(stamp(out.Path("runs.txt")), c.runs) << c.attribute;
        EXPECT_EQ(stamp(out.Path("tiny.txt")), c.tiny) << c.attribute;
    }
}

}  // namespace
