// Names of files made on Linux, in archives written by Linux tools (recipes
// in scripts/make-unix-archive-fixtures.sh): the lister shows each name as
// the peers do, the extractor writes it under that name, and extracting
// just that name (what "extract selected" asks for) extracts it.
#include "unix_support.h"

#include "archive/zadgbls.h"

#include <gtest/gtest.h>

namespace {

const std::string kGrusse = "grüße.txt";
const std::string kCafeInvalid = "caf\xEF\xBF\xBD.txt";  // Latin-1 é is no UTF-8: U+FFFD

struct NameCase {
    const char* fixture;
    std::vector<std::string> names;
};

const NameCase kNameCases[] = {
    {"names/infozip.zip", {kGrusse, kCafeInvalid}},    // host Unix, no UTF-8 flag
    {"names/dos.zip", {kGrusse}},                      // host DOS: code page 437
    {"names/unicode-path.zip", {"Ελλάδα.txt"}},         // the 0x7075 field over "??????.txt"
    {"names/grüße.arj", {kGrusse}},                    // ARJ host Unix
    {"names/gnu.tar", {kGrusse, kCafeInvalid}},
    {"names/pax.tar", {kGrusse}},
    {"names/grüße.txt.gz", {kGrusse}},                 // the name gzip -N stored
    {"names/unix.lzh", {kGrusse}},                     // LHA system 'U'
    {"names/jlha.lzh", {"gr\xE2\x81\xBF\xE2\x96\x80" "e.txt"}},  // generic system, Latin-1 bytes: no UTF-8, read as 437
    {"names/unix.rar", {kGrusse}},                     // RAR host Unix without the Unicode field
};

// Bytes that are no UTF-8 become U+FFFD one byte at a time; well-formed
// sequences stay.
TEST(UnixNames, InvalidUtf8BecomesReplacementCharacters)
{
    const std::string r = "\xEF\xBF\xBD";
    const struct {
        std::string in, out;
    } cases[] = {
        {"plain.txt", "plain.txt"},
        {"gr\xC3\xBC\xC3\x9F" "e", "gr\xC3\xBC\xC3\x9F" "e"},
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},  // U+1F600
        {"caf\xE9", "caf" + r},                       // Latin-1
        {"\xC0\xAF..", r + r + ".."},                 // an overlong '/'
        {"\xED\xA0\x80", r + r + r},                  // a surrogate
        {"\xF4\x90\x80\x80", r + r + r + r},          // past U+10FFFF
        {"\xE2\x82", r + r},                          // cut short
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ValidUtf8(c.in), c.out);
        EXPECT_EQ(IsValidUtf8(c.in), c.in == c.out);
    }
    EXPECT_EQ(ArchiveNameToUtf8("a\\b", ncUtf8, true), "a/b");
    EXPECT_EQ(ArchiveNameToUtf8("\x81", ncUnknown, true), "\xC3\xBC");  // no UTF-8: code page 437
    EXPECT_EQ(ArchiveNameToUtf8("\xC3\xBC", ncUnknown, true), "\xC3\xBC");
    EXPECT_EQ(ArchiveNameToUtf8("\xC3\xBC", ncOem, true), "\xE2\x94\x9C\xE2\x95\x9D");
}

TEST(UnixNames, ListerAndExtractorGiveOneNamePerEntry)
{
    for (const NameCase& c : kNameCases) {
        SCOPED_TRACE(c.fixture);
        const std::string archive = UnixFixture(c.fixture);
        const UnixListing l = ListArchive(archive);
        EXPECT_TRUE(l.result);
        EXPECT_EQ(l.names, c.names);
        EXPECT_TRUE(l.errors.empty()) << l.errors.front().first;

        TempDir all;
        const UnixExtraction x = ExtractArchive(archive, all.Root());
        EXPECT_EQ(x.count, static_cast<int>(c.names.size()));
        EXPECT_TRUE(x.errors.empty()) << x.errors.front().first << " " << x.errors.front().second;
        std::vector<std::string> written;
        for (const auto& f : x.files)
            written.push_back(f.first);
        std::vector<std::string> expected = c.names;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(written, expected);

        // Each listed name selects exactly its own entry.
        for (const std::string& name : l.names) {
            TempDir one;
            const UnixExtraction s = ExtractArchive(archive, one.Root(), {name});
            EXPECT_EQ(s.count, 1) << name;
            ASSERT_EQ(s.files.size(), 1u) << name;
            EXPECT_EQ(s.files.begin()->first, name);
        }
    }
}

}  // namespace
