// Bookmarks following the data, the byte-pattern search against
// std::search, and replacing a range.
#include "hex_fixture.h"
#include "test_support/temp_dir.h"

#include <algorithm>
#include <functional>
#include <random>

namespace {

// The lower case of a Windows-1252 byte, written out for the reference search.
std::uint8_t Fold(std::uint8_t c)
{
    if (c >= 'A' && c <= 'Z')
        return static_cast<std::uint8_t>(c | 0x20);
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
        return static_cast<std::uint8_t>(c + 0x20);
    if (c == 0x8A || c == 0x8C || c == 0x8E)
        return static_cast<std::uint8_t>(c + 0x10);
    return c == 0x9F ? 0xFF : c;
}

TEST_F(HexEditorTest, BookmarksFollowTheData)
{
    LoadBytes(Pattern(200));
    hex->SetBookmarkVals(0, 100, false);
    hex->SetBookmarkVals(1, 25, true);   // inside the range removed below
    hex->SetBookmarkVals(2, 10, false);  // before it
    hex->NewSelection(20, 29);
    hex->DeleteSelection();
    EXPECT_EQ(hex->GetBookmark(0).mPosition, 90);
    EXPECT_EQ(hex->GetBookmark(1).mPosition, 20);  // moved to the range's start
    EXPECT_TRUE(hex->GetBookmark(1).mInCharField);
    EXPECT_EQ(hex->GetBookmark(2).mPosition, 10);
    // Undoing the removal shifts those at or after it back and puts the
    // bookmark it took in where it stood.
    hex->Undo();
    EXPECT_EQ(hex->GetBookmark(0).mPosition, 100);
    EXPECT_EQ(hex->GetBookmark(1).mPosition, 25);
    EXPECT_EQ(hex->GetBookmark(2).mPosition, 10);

    hex->InsertBuffer("0123456789", 10, 100, {}, true);
    EXPECT_EQ(hex->GetBookmark(0).mPosition, 110);  // at the insertion point: moves with the byte
    hex->Undo();
    EXPECT_EQ(hex->GetBookmark(0).mPosition, 100);

    // A replacement shifts from the end of the replaced bytes.
    hex->Replace("ab", 95, 4, 2, {}, true);
    EXPECT_EQ(hex->GetBookmark(0).mPosition, 98);
    hex->Undo();
    EXPECT_EQ(hex->GetBookmark(0).mPosition, 100);
    hex->Replace("abcdef", 98, 1, 6, {}, true);
    EXPECT_EQ(hex->GetBookmark(0).mPosition, 105);
    hex->Undo();
    EXPECT_EQ(hex->GetBookmark(0).mPosition, 100);
    // Byte changes, appends and nibble shifts leave bookmarks alone.
    hex->IntChangeByte(hex->GetDataAt(100), 1, 100, 0, 0);
    hex->AppendBuffer("x", 1, {}, true);
    hex->InsertNibble(50, true);
    EXPECT_EQ(hex->GetBookmark(0).mPosition, 100);
}

TEST_F(HexEditorTest, ANewFileOrBufferStartsWithoutBookmarks)
{
    TempDir dir;
    dir.Write("other.bin", "other");
    int changed = 0;
    hex->OnBookmarkChanged = [&](TObject*) { ++changed; };
    const std::function<void()> loads[] = {
        [&] { hex->LoadFromFile(dir.Path("other.bin")); },
        [&] { LoadBytes("xyz"); },
        [&] { hex->CreateEmptyFile("new"); },
    };
    for (const auto& load : loads) {
        LoadBytes(Pattern(200));
        hex->SetBookmarkVals(3, 150, false);
        hex->SetBookmarkVals(7, 2, true);
        changed = 0;
        load();
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(hex->GetBookmark(i).mPosition, -1) << i;
        EXPECT_EQ(changed, 1);
        EXPECT_FALSE(hex->GotoBookmark(7));
    }
}

TEST_F(HexEditorTest, GoingToBookmarks)
{
    LoadBytes(Pattern(50));
    EXPECT_FALSE(hex->GotoBookmark(5));  // unset
    EXPECT_FALSE(hex->GotoBookmark(-1));
    EXPECT_FALSE(hex->GotoBookmark(10));
    EXPECT_THROW(hex->GetBookmark(10), EZURadUvudod);
    EXPECT_THROW(hex->SetBookmarkVals(10, 1, false), EZURadUvudod);
    hex->SetBookmarkVals(5, 30, true);
    hex->NewSelection(1, 2);
    EXPECT_TRUE(hex->GotoBookmark(5));
    EXPECT_EQ(hex->GetCursorPos(), 30);
    EXPECT_TRUE(hex->GetInCharField());
    EXPECT_EQ(hex->GetSelCount(), 0);
    // A bookmark beyond the data is cleared when gone to.
    hex->SetBookmarkVals(6, 49, false);
    hex->SetDataSize(40);
    EXPECT_FALSE(hex->GotoBookmark(6));
    EXPECT_EQ(hex->GetBookmark(6).mPosition, -1);
}

TEST_F(HexEditorTest, FindAgreesWithStdSearch)
{
    std::mt19937 rng(2024);
    // Few distinct bytes, both cases of letters and some Windows-1252
    // capitals, so that patterns recur and fold.
    const std::string alphabet = std::string("aAbB?") + "\xC9\xE9\x8A\x9A";
    std::string data(3000, '\0');
    for (char& c : data)
        c = alphabet[rng() % alphabet.size()];
    LoadBytes(data);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
    const std::int64_t size = static_cast<std::int64_t>(data.size());
    for (int round = 0; round < 400; ++round) {
        const bool ignoreCase = rng() % 2;
        const bool wildcard = rng() % 3 == 0;
        std::string pattern;
        const size_t len = 1 + rng() % 6;
        if (rng() % 2) {
            const size_t at = rng() % (data.size() - len);
            pattern = data.substr(at, len);
        } else {
            for (size_t i = 0; i < len; ++i)
                pattern.push_back(alphabet[rng() % alphabet.size()]);
        }
        pattern = hex->PrepareFindReplaceData(pattern, ignoreCase, true);
        const std::int32_t from = static_cast<std::int32_t>(rng() % 3200) - 100;
        const std::int32_t until = static_cast<std::int32_t>(rng() % 3300) - 100;
        const auto* pat = reinterpret_cast<const std::uint8_t*>(pattern.data());
        const std::int32_t plen = static_cast<std::int32_t>(pattern.size());
        const std::int32_t found = wildcard ? hex->FindWithWildcard(pat, plen, from, until, ignoreCase, '?')
                                            : hex->Find(pat, plen, from, until, ignoreCase);

        const std::int64_t lo = std::max<std::int64_t>(from, 0);
        const std::int64_t hi = std::min<std::int64_t>(until, size - 1) + 1;  // exclusive
        std::int32_t expected = -1;
        if (hi - lo >= plen) {
            const auto it = std::search(bytes + lo, bytes + hi, pat, pat + plen, [&](std::uint8_t d, std::uint8_t p) {
                return (wildcard && p == '?') || (ignoreCase ? Fold(d) : d) == p;
            });
            if (it != bytes + hi)
                expected = static_cast<std::int32_t>(it - bytes);
        }
        ASSERT_EQ(found, expected) << "round " << round << " from " << from << " until " << until
                                   << " ignore case " << ignoreCase << " wildcard " << wildcard;
    }
}

TEST_F(HexEditorTest, FindExamples)
{
    LoadBytes("xxAB");
    const std::string ab = hex->PrepareFindReplaceData("ab", true, true);
    EXPECT_EQ(hex->Find(ab.data(), 2, 0, 3, true), 2);
    EXPECT_EQ(hex->Find(ab.data(), 2, 0, 3, false), -1);
    LoadBytes("aab");
    EXPECT_EQ(hex->Find(ab.data(), 2, 0, 2, false), 1);
    LoadBytes("zzabcza\x78\x63");
    EXPECT_EQ(hex->FindWithWildcard("a?c", 3, 0, 100, false, '?'), 2);
    EXPECT_EQ(hex->FindWithWildcard("a?c", 3, 3, 100, false, '?'), 6);
    // A translation folds through the code it shows: EBCDIC "A" and "a".
    LoadBytes("\x81\xC1");
    hex->SetTranslation(tkBCD);
    const std::string a = hex->PrepareFindReplaceData("A", true, true);
    EXPECT_EQ(a, "\x81");
    EXPECT_EQ(hex->Find(a.data(), 1, 1, 1, true), 1);
    // In unicode mode the pattern is 16-bit characters.
    hex->SetTranslation(tkAsIs);
    LoadBytes(std::string("x\0A\0b\0", 6));
    hex->SetUnicodeChars(true);
    const std::string wide = hex->PrepareFindReplaceData("ab", true, true);
    EXPECT_EQ(wide, std::string("a\0b\0", 4));
    EXPECT_EQ(hex->Find(wide.data(), 4, 0, 5, true), 2);
    // A handler replaces the search.
    hex->OnFind = [](TObject*, const std::uint8_t*, std::int32_t, std::int32_t, std::int32_t, bool, char,
                     std::int32_t& foundPos) { foundPos = 77; };
    EXPECT_EQ(hex->Find("q", 1, 0, 5, false), 77);
}

TEST_F(HexEditorTest, FindReportsProgressAndCanBeCancelled)
{
    std::vector<int> reports;
    bool cancelAt3 = false;
    hex->OnProgress = [&](TObject*, TZAZProgressKind kind, const std::string&, std::uint8_t percent, bool& cancel) {
        if (kind != pkFind)
            return;
        reports.push_back(percent);
        cancel = cancelAt3 && reports.size() == 3;
    };
    hex->SetFindProgress(true);
    LoadBytes(std::string(100, 'a'));
    hex->PrepareFindReplaceData("", false, false);
    // Longer than the range: no search, no report.
    EXPECT_EQ(hex->Find("b", 1, 50, 49, false), -1);
    EXPECT_TRUE(reports.empty());
    // 100 bytes: a report at every step.
    EXPECT_EQ(hex->Find("b", 1, 0, 99, false), -1);
    EXPECT_EQ(reports.size(), 100u);
    EXPECT_EQ(reports.back(), 100);
    reports.clear();
    LoadBytes(std::string(1000000, 'a') + "needle");
    EXPECT_EQ(hex->Find("needle", 6, 0, 2000000, false), 1000000);
    EXPECT_GE(reports.size(), 495u);
    EXPECT_LE(reports.size(), 501u);
    EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
    // Cancel ends the search as if nothing was found.
    reports.clear();
    cancelAt3 = true;
    EXPECT_EQ(hex->Find("needle", 6, 0, 2000000, false), -1);
    EXPECT_EQ(reports.size(), 3u);
}

TEST_F(HexEditorTest, ReplacingARange)
{
    LoadBytes("0123456789");
    EXPECT_EQ(hex->Replace("ab", 2, 3, 2, {}, true), 2);
    EXPECT_EQ(Data(), "01ab56789");
    EXPECT_EQ(hex->GetCursorPos(), 2);
    // Past the end: the old count is cut, and the new count with it when
    // they were equal.
    EXPECT_EQ(hex->Replace("XYZW", 7, 4, 4, {}, true), 2);
    EXPECT_EQ(Data(), "01ab567XY");
    // Replacing at the end appends.
    EXPECT_EQ(hex->Replace("!", 9, 0, 1, {}, true), 1);
    EXPECT_EQ(Data(), "01ab567XY!");
    // Positions outside 0 .. DataSize are refused.
    EXPECT_THROW(hex->Replace("q", -1, 1, 1, {}, true), EZURadUvudod);
    EXPECT_THROW(hex->Replace("q", 11, 0, 1, {}, true), EZURadUvudod);
    EXPECT_EQ(Data(), "01ab567XY!");
    // With a fixed size the larger count is cut to the smaller.
    hex->SetFixedFileSize(true);
    EXPECT_EQ(hex->Replace("PQR", 0, 1, 3, {}, true), 1);
    EXPECT_EQ(Data(), "P1ab567XY!");
    // Without MoveCursor, undo brings back the replaced range as a selection.
    hex->SetFixedFileSize(false);
    hex->SetSelStart(9);
    hex->Replace("zz", 3, 2, 2, {}, false);
    EXPECT_EQ(Data(), "P1azz67XY!");
    hex->Undo();
    EXPECT_EQ(Data(), "P1ab567XY!");
    EXPECT_EQ(hex->SelFirst(), 3);
    EXPECT_EQ(hex->SelLast(), 4);
}

}  // namespace
