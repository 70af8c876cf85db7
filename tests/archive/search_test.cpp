// The byte-string search engine: buffers against a brute-force reference,
// files whose occurrences straddle the block seams, the MUST/CAN/NOT query,
// sorting, cancelling, and the component entry points.
#include "archive/zadsearchengine.h"
#include "archive/zadunzip.h"
#include "test_support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <utility>

namespace {

using Matches = std::vector<std::pair<std::int64_t, int>>;

std::vector<std::int64_t> Brute(const std::string& hay, const std::string& needle, bool caseSensitive)
{
    std::vector<std::int64_t> out;
    if (needle.empty())
        return out;
    auto eq = [&](char a, char b) {
        return caseSensitive ? a == b : std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    };
    for (std::size_t p = 0; p + needle.size() <= hay.size(); ++p)
        if (std::equal(needle.begin(), needle.end(), hay.begin() + static_cast<std::ptrdiff_t>(p), eq))
            out.push_back(static_cast<std::int64_t>(p));
    return out;
}

std::vector<std::int64_t> TurboBuffer(const std::string& hay, const std::string& needle, bool caseSensitive)
{
    TTurboSearchObj s;
    s.INIT_BUFFER_SEARCH(needle, false, caseSensitive);
    std::vector<std::int64_t> out;
    for (std::int64_t p = s.SEARCH_BUFFER_FIRSTMATCH(hay.data(), static_cast<std::int64_t>(hay.size())); p >= 0;
         p = s.SEARCH_NEXTMATCH())
        out.push_back(p);
    return out;
}

std::string RandomText(std::size_t n, const std::string& alphabet, unsigned seed)
{
    std::mt19937 rng(seed);
    std::string s(n, ' ');
    for (char& c : s)
        c = alphabet[rng() % alphabet.size()];
    return s;
}

}  // namespace

TEST(SearchBuffer, Examples)
{
    const std::string seventy(70, 'q');
    const struct {
        const char* needle;
        std::string hay;
        bool caseSensitive;
        std::vector<std::int64_t> found;
    } cases[] = {
        {"abc", "xxabc", false, {2}},
        {"abc", "abcxx", false, {0}},
        {"aa", "aaaa", false, {0, 1, 2}},
        {"aa", "aaaa", true, {0, 1, 2}},
        {"ZIP", "zip Zip ZIP", false, {0, 4, 8}},
        {"ZIP", "zip Zip ZIP", true, {8}},
        {"", "anything", false, {}},
        {"", "anything", true, {}},
        {"abc", "ab", false, {}},
        {"x", "", true, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.needle) + " in " + c.hay);
        EXPECT_EQ(TurboBuffer(c.hay, c.needle, c.caseSensitive), c.found);
        TSingleFindSearchObj single;
        single.INIT_BUFFER_SEARCH(c.needle, false, c.caseSensitive);
        EXPECT_EQ(single.SEARCH_BUFFER_FIRSTMATCH(c.hay.data(), c.hay.size()), c.found.empty() ? -1 : c.found[0]);
    }
    // A string of 70 characters is searched as its first 60.
    const std::string needle = std::string(60, 'q') + "0123456789";
    EXPECT_EQ(TurboBuffer("--" + seventy.substr(0, 60) + "--", needle, true), (std::vector<std::int64_t>{2}));
}

TEST(SearchBuffer, AgreesWithBruteForceOnDenseText)
{
    const std::string hay = RandomText(20000, "abAB", 3);
    std::mt19937 rng(5);
    for (int i = 0; i < 200; ++i) {
        const std::string needle = RandomText(1 + rng() % 7, "abAB", 100 + i);
        for (bool cs : {false, true})
            ASSERT_EQ(TurboBuffer(hay, needle, cs), Brute(hay, needle, cs)) << needle << " cs " << cs;
    }
}

namespace {

// Files with occurrences at every offset around the block seams.
class SearchFiles : public ::testing::Test {
protected:
    std::string Make(const std::string& name, const std::string& content)
    {
        dir.Write(name, content);
        return dir.Path(name);
    }
    TempDir dir;
};

}  // namespace

TEST_F(SearchFiles, EveryOccurrenceOnceAcrossBlockSeams)
{
    // Dense random text over two letters: strings of several lengths occur
    // near every seam, at every offset.
    const std::string text = RandomText(5 * kTurboBlockSize + 1000, "ab", 9);
    const std::string file = Make("dense.bin", text);

    for (const std::string needle : {"ab", "babba", "abbabaabb", "aababbbabaab"}) {
        SCOPED_TRACE(needle);
        TTurboSearchObj turbo;
        turbo.INIT_FILE_SEARCH(needle, false, true);
        std::vector<std::int64_t> got;
        for (std::int64_t p = turbo.SEARCH_FILE_FIRSTMATCH(file); p >= 0; p = turbo.SEARCH_NEXTMATCH())
            got.push_back(p);
        EXPECT_EQ(got, Brute(text, needle, true));
        turbo.DONE();
    }

    // Several strings of different lengths at once.
    const std::vector<std::string> strings = {"aba", "bbaabbb", "ab", "abbabaabbaaab"};
    TMultiTurboSearchObj multi;
    multi.INIT_MULTIFILE_SEARCH(TSSort_Position, false);
    for (const auto& s : strings)
        ASSERT_TRUE(multi.ADD_SEARCHSTRING(s, TSCombi_CAN, false));
    std::int64_t pos = -1;
    std::int32_t num = 0;
    ASSERT_TRUE(multi.SEARCH_FILE_FIRSTMATCH(file, pos, num));
    std::set<std::pair<std::int64_t, int>> got, want;
    for (; pos >= 0; multi.SEARCH_NEXTMATCH(pos, num))
        EXPECT_TRUE(got.emplace(pos, num).second) << "reported twice: " << pos << " " << num;
    for (int i = 0; i < static_cast<int>(strings.size()); ++i)
        for (std::int64_t p : Brute(text, strings[static_cast<std::size_t>(i)], false))
            want.emplace(p, i);
    EXPECT_EQ(got, want);
    multi.DONE();
}

TEST_F(SearchFiles, FirstMatchStraddlingTheSmallBlockSeam)
{
    for (std::int64_t at : {163840 - 5, 163840 - 8, 163840 - 1, 2 * 163840 - 6}) {
        std::string text(3 * 163840, 'x');
        text.replace(static_cast<std::size_t>(at), 8, "FindMeOk");
        const std::string file = Make("single.bin", text);
        TSingleFindSearchObj single;
        single.INIT_FILE_SEARCH("findmeok", false, false);
        EXPECT_EQ(single.SEARCH_FILE_FIRSTMATCH(file), at);
        char around[12];
        single.DUMP_FILEFIRSTMATCH(-2, sizeof around, around);
        EXPECT_EQ(std::string(around, sizeof around), "xxFindMeOkxx");
        single.DONE();
    }
    TSingleFindSearchObj single;
    single.INIT_FILE_SEARCH("longer than the file", false, false);
    EXPECT_EQ(single.SEARCH_FILE_FIRSTMATCH(Make("short.txt", "tiny")), -1);
    EXPECT_EQ(single.SEARCH_FILE_FIRSTMATCH(dir.Path("missing")), -1);
    char none[4] = {1, 1, 1, 1};
    single.DUMP_FILEFIRSTMATCH(0, 4, none);
    EXPECT_EQ(std::string(none, 4), std::string(4, '\0'));
}

TEST_F(SearchFiles, PositionsPastTwoGigabytes)
{
    // A sparse file: the string sits past the 2 GB mark, where a 32-bit
    // offset turns negative.
    const std::string file = Make("sparse.bin", "");
    const std::int64_t at = (std::int64_t{1} << 31) + 100;
    std::filesystem::resize_file(file, at + 4096);
    {
        std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(at);
        f << "needle";
    }
    TTurboSearchObj turbo;
    turbo.INIT_FILE_SEARCH("needle", false, true);
    EXPECT_EQ(turbo.SEARCH_FILE_FIRSTMATCH(file), at);
    EXPECT_EQ(turbo.SEARCH_NEXTMATCH(), -1);
}

TEST_F(SearchFiles, MustCanNotQueries)
{
    const struct {
        const char* content;
        std::vector<std::pair<const char*, TSearchCombinationType>> terms;
        bool verdict;
    } cases[] = {
        {"alpha and gamma", {{"alpha", TSCombi_MUST}, {"beta", TSCombi_CAN}, {"gamma", TSCombi_NOT}}, false},
        {"alpha alone", {{"alpha", TSCombi_MUST}, {"beta", TSCombi_CAN}, {"gamma", TSCombi_NOT}}, true},
        {"alpha beta", {{"alpha", TSCombi_MUST}, {"beta", TSCombi_CAN}, {"gamma", TSCombi_NOT}}, true},
        {"beta only", {{"alpha", TSCombi_MUST}, {"beta", TSCombi_CAN}}, false},
        {"beta only", {{"alpha", TSCombi_CAN}, {"beta", TSCombi_CAN}}, true},
        {"nothing here", {{"alpha", TSCombi_CAN}, {"beta", TSCombi_CAN}}, false},
        {"nothing here", {{"gamma", TSCombi_NOT}}, false},
        {"ALPHA in capitals", {{"alpha", TSCombi_MUST}}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content);
        const std::string file = Make("q.txt", c.content);
        TMultiTurboSearchObj multi;
        multi.INIT_MULTIFILE_SEARCH(TSSort_None, true);
        for (const auto& [text, combination] : c.terms)
            multi.ADD_SEARCHSTRING(text, combination, false);
        std::int64_t pos = 0;
        std::int32_t num = 0;
        EXPECT_EQ(multi.SEARCH_FILE_FIRSTMATCH(file, pos, num), c.verdict);
        multi.DONE();
    }
}

TEST(SearchMulti, TwentyStringsAtMostAndSortingByStringAsText)
{
    TMultiTurboSearchObj multi;
    multi.INIT_MULTIBUFFER_SEARCH(TSSort_SString, false);
    std::string hay;
    for (int i = 0; i < 20; ++i) {
        const std::string s(1, static_cast<char>('A' + i));
        ASSERT_TRUE(multi.ADD_SEARCHSTRING(s, TSCombi_CAN, true));
        hay = s + s + hay;
    }
    EXPECT_FALSE(multi.ADD_SEARCHSTRING("one too many", TSCombi_CAN, true));
    EXPECT_EQ(multi.GETSEARCHSTRING_BY_NUMBER(10), "K");
    EXPECT_EQ(multi.GETSEARCHSTRING_BY_NUMBER(20), "");

    std::int64_t pos = -1;
    std::int32_t num = -1;
    ASSERT_TRUE(multi.SEARCH_BUFFER_FIRST(hay.data(), hay.size(), pos, num));
    std::vector<int> order;
    for (; pos >= 0; multi.SEARCH_NEXTMATCH(pos, num))
        if (order.empty() || order.back() != num)
            order.push_back(num);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 2, 3, 4, 5, 6, 7, 8, 9}));

    multi.CLEAR_ALL_SEARCHSTRINGS();
    EXPECT_FALSE(multi.SEARCH_BUFFER_FIRST(hay.data(), hay.size(), pos, num));
    EXPECT_EQ(pos, -1);
}

TEST_F(SearchFiles, CancelThroughTheProgressProcedureKeepsWhatWasFound)
{
    std::string text(16 * kTurboBlockSize, 'x');
    for (std::size_t p = 1000; p + 5 < text.size(); p += 100000)
        text.replace(p, 5, "hello");
    const std::string file = Make("cancel.bin", text);
    TTurboSearchObj turbo;
    turbo.INIT_FILE_SEARCH("hello", false, true);
    int calls = 0;
    std::vector<int> percents;
    turbo.ASSIGN_CALLBACKPROC([&](bool& cancel, bool, std::int32_t, BYTE percent) {
        percents.push_back(percent);
        if (++calls == 3)
            cancel = true;  // after the first block was searched
    });
    EXPECT_TRUE(turbo.PERFORM_FILE_SEARCH(file));
    const int total = static_cast<int>(Brute(text, "hello", true).size());
    EXPECT_GT(turbo.MatchCount(), 0);
    EXPECT_LT(turbo.MatchCount(), total);
    EXPECT_EQ(turbo.Match(0).Position, 1000);
    EXPECT_EQ(percents.back(), 100);

    // Without cancelling every block is searched and reported.
    percents.clear();
    turbo.ASSIGN_CALLBACKPROC([&](bool&, bool, std::int32_t, BYTE percent) { percents.push_back(percent); });
    EXPECT_TRUE(turbo.PERFORM_FILE_SEARCH(file));
    EXPECT_EQ(turbo.MatchCount(), total);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
}

TEST_F(SearchFiles, ComponentEntryPoints)
{
    const std::string file = Make("archive.bin", std::string(1000, '.') + "READ.ME" + std::string(10, '.') + "other");
    TUnZip z;
    EXPECT_EQ(z.SearchFile(file, "read.me"), 1000);
    EXPECT_EQ(z.SearchFile(file, "absent"), -1);
    z.SetArchiveFile(file);
    EXPECT_EQ(z.SearchFile("", "READ"), 1000);

    TStringList strings;
    EXPECT_FALSE(z.SearchFileEx(file, strings));
    strings.Add("read.me");
    strings.Add("OTHER");
    EXPECT_TRUE(z.SearchFileEx(file, strings));
    strings.Add("missing");
    EXPECT_FALSE(z.SearchFileEx(file, strings));
}

TEST_F(SearchFiles, SearchExtractionDecodesAndDiscards)
{
    dir.Write("src/a.txt", std::string(5000, 'a'));
    dir.Write("src/b.txt", "bbb");
    const std::string zip = dir.Path("t.zip");
    ASSERT_EQ(std::system(("cd " + dir.Path("src") + " && zip -q -r " + zip + " .").c_str()), 0);
    TUnZip z;
    z.SetArchiveFile(zip);
    z.SetExtractDir(dir.Path("out/"));
    z.FileSpec.Clear();
    z.FileSpec.Add("*.*");
    EXPECT_EQ(z.ExtractToSearch(), 2);
    EXPECT_FALSE(std::filesystem::exists(dir.Path("out/a.txt")));
}
