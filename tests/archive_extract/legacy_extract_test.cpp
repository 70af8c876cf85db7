// Shrunk, reduced and imploded entries through the ZIP extractor and the
// lister: legacy.zip (scripts/make-zip-legacy-fixtures.sh) extracts to the
// files of legacy-originals.zip and, where 7z reads the method, to what 7z
// extracts; the lister names every method; damaged entries fail alone,
// named, with nothing left of them.
#include "../archive/zip_writer.h"
#include "archive/zadvirov.h"
#include "bit_writer.h"
#include "extract_support.h"
#include "legacy_encoders.h"

#include <gtest/gtest.h>

namespace {

using Errors = std::vector<std::pair<int, std::string>>;

std::map<std::string, std::string> Extracted(const std::string& archive, ExtractLog& log, int& count)
{
    TempDir out;
    TUnZip z;
    Attach(z, log);
    Prepare(z, archive, out.Root());
    count = z.Extract();
    return TreeOf(out.Root());
}

}  // namespace

TEST(LegacyZip, ExtractsLikeTheOriginalsAndLikeSevenZip)
{
    ExtractLog log, originalLog;
    int count = 0, originalCount = 0;
    const auto mine = Extracted(Fixture("legacy.zip"), log, count);
    const auto originals = Extracted(Fixture("legacy-originals.zip"), originalLog, originalCount);
    EXPECT_EQ(count, 10);
    EXPECT_EQ(log.Failed(), 0);
    EXPECT_TRUE(log.errors.empty());
    ASSERT_EQ(originals.size(), 10u);
    EXPECT_TRUE(mine == originals);

    // 7z reads shrink and implode (not reduce).
    TempDir ref;
    ASSERT_EQ(std::system(("7z x -y -bd -o'" + ref.Root() + "' '" + Fixture("legacy.zip") +
                           "' 'shrunk*' 'imploded*' > /dev/null 2>&1")
                              .c_str()),
              0);
    const auto theirs = TreeOf(ref.Root());
    EXPECT_EQ(theirs.size(), 6u);
    for (const auto& [name, data] : theirs)
        EXPECT_TRUE(mine.count(name) && mine.at(name) == data) << name;
}

TEST(LegacyZip, TheListerNamesEveryMethod)
{
    TVirOV v;
    std::map<std::string, std::string> methods;
    v.OnRead = [&](TObject*, std::int64_t, int) { methods[v.Filename] = v.CompressMethodStr; };
    v.FileSpec.Add("*.*");
    v.SetArchiveFile(Fixture("legacy.zip"));
    ASSERT_TRUE(v.Activate());
    EXPECT_EQ(methods, (std::map<std::string, std::string>{{"shrunk.txt", "Shrunk"},
                                                            {"shrunk-noise.bin", "Shrunk"},
                                                            {"imploded-lit8k.txt", "Imploded"},
                                                            {"imploded-lit4k.txt", "Imploded"},
                                                            {"imploded-raw8k.txt", "Imploded"},
                                                            {"imploded-raw4k.bin", "Imploded"},
                                                            {"reduce1.txt", "Reduce-1"},
                                                            {"reduce2.txt", "Reduce-2"},
                                                            {"reduce3.txt", "Reduce-3"},
                                                            {"reduce4.txt", "Reduce-4"}}));
}

TEST(LegacyZip, DamagedEntriesFailAloneAndLeaveNothing)
{
    const std::string text = legacyzip::SampleText(6000, 21);
    zipwriter::Archive a;
    a.Add("a.txt", hostile::kAlpha);
    // Codes widened past 13 bits.
    BitWriter wide;
    wide.Put('w', 9);
    for (int bits = 9; bits <= 13; ++bits) {
        wide.Put(256, bits);
        wide.Put(1, bits);
    }
    a.Add("too_wide.txt", "w", 1).packed = wide.bytes;
    // A follower set of 63 bytes.
    BitWriter followers;
    followers.Put(63, 6);
    a.Add("followers.txt", text, 2).packed = followers.bytes + std::string(400, '\0');
    // An implode length tree whose runs come to 65 codes: invalid data,
    // which fails the entry's CRC test (OnEnd says so).
    a.Add("tree.txt", text, 6).packed = std::string("\x04\xF5\xF5\xF5\xF5\x05", 6) + std::string(40, '\0');
    // Each method's data cut in half.
    const std::string shrunk = legacyzip::Shrink(text), reduced = legacyzip::Reduce(text, 4),
                      imploded = legacyzip::Implode(text, true, false);
    a.Add("short_shrunk.txt", text, 1).packed = shrunk.substr(0, shrunk.size() / 2);
    a.Add("short_reduced.txt", text, 5).packed = reduced.substr(0, reduced.size() / 2);
    auto& shortImploded = a.Add("short_imploded.txt", text, 6);
    shortImploded.packed = imploded.substr(0, imploded.size() / 2);
    shortImploded.flags = legacyzip::ImplodeFlags(true, false);
    // And whole, beside them.
    auto& whole = a.Add("whole.txt", text, 6);
    whole.packed = imploded;
    whole.flags = legacyzip::ImplodeFlags(true, false);
    a.Add("z.txt", hostile::kOmega);

    const Outcome r = ExtractBytes(a.Build());
    EXPECT_EQ(r.log.errors, (Errors{{25116, "too_wide.txt"},
                                    {25116, "followers.txt"},
                                    {25193, "short_shrunk.txt"},
                                    {25193, "short_reduced.txt"},
                                    {25193, "short_imploded.txt"}}));
    EXPECT_EQ(r.log.Failed(), 6);
    EXPECT_EQ(r.count, 3);
    EXPECT_EQ(r.files, (std::map<std::string, std::string>{{"a.txt", hostile::kAlpha}, {"whole.txt", text}, {"z.txt", hostile::kOmega}}));
}
