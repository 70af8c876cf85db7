// File selection masks and the selection tests built on them.
#include "archive/zadbase.h"
#include "archive/zadfilescan.h"

#include <gtest/gtest.h>

TEST(Masks, MatchingRules)
{
    struct Case {
        const char* name;
        const char* mask;
        bool match;
    };
    const Case cases[] = {
        {"README", "*.*", false},   {"readme", "*.", true},     {"", "*?", true},          {"anything", "*?", true},
        {"a", "a?", false},         {"ab", "a?", true},         {"x[1].txt", "x[1].*", true}, {"NOTES.TXT", "*.txt", true},
        {"\xC3\xA9.txt", "\xC3\x89.txt", false},                {"", "", true},            {"a", "", false},
        {"abcabd", "*abd", true},   {"abcab", "*abd", false},   {"aXbXc", "a*b*c", true},  {"abc", "a*b*c*d", false},
        {"file.tar.gz", "*.gz", true}, {"file.gz.tar", "*.gz", false}, {"doc/a.txt", "doc/*.txt", true},
        {"mississippi", "m*iss*ppi", true}, {"mississippi", "m*iss*x", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MatchesMask(c.name, c.mask), c.match) << c.name << " ~ " << c.mask;
}

TEST(Masks, LongMasksNeverOverflowAndStayFast)
{
    std::string mask, name;
    for (int i = 0; i < 1000; ++i)
        mask += "*a";
    mask += "*b";
    name.assign(4000, 'a');
    EXPECT_FALSE(MatchesMask(name, mask));
    name += 'b';
    EXPECT_TRUE(MatchesMask(name, mask));
    const TInternalMask m("**?*x");
    ASSERT_EQ(m.Items().size(), 2u);  // '?' after '*' is dropped; several '*' act as one
    EXPECT_TRUE(m.Items()[0].SkipTo);
}

TEST(SelectionWithFolders, CheckWildCard2)
{
    TZipCommon c;
    TStringList spec;
    spec.Add("*.*");
    EXPECT_TRUE(CheckWildCard2(&c, "README", spec, true, nullptr));
    EXPECT_EQ(spec[0], "*.*");
    TStringList txt;
    txt.Add("*.txt");
    EXPECT_TRUE(CheckWildCard2(&c, "docs/a.txt", txt, true, nullptr));
    EXPECT_FALSE(CheckWildCard2(&c, "docs/a.txt", txt, false, nullptr));
    EXPECT_TRUE(CheckWildCard2(&c, "a.txt", txt, false, nullptr));
    TStringList docs;
    docs.Add("docs/*.txt");
    EXPECT_TRUE(CheckWildCard2(&c, "docs/a.txt", docs, false, nullptr));
    EXPECT_FALSE(CheckWildCard2(&c, "other/a.txt", docs, true, nullptr));
    TStringList star;
    star.Add("*");
    EXPECT_TRUE(CheckWildCard2(&c, "Makefile", star, true, nullptr));
    EXPECT_EQ(star[0], "*");
    TStringList exact;
    exact.Add("data");
    EXPECT_TRUE(CheckWildCard2(&c, "Data", exact, false, nullptr));
    TStringList full;
    full.Add("deep/dir/x.bin");
    EXPECT_TRUE(CheckWildCard2(&c, "deep/dir/x.bin", full, false, nullptr));
    TStringList empty;
    EXPECT_FALSE(CheckWildCard2(&c, "a", empty, true, nullptr));
    EXPECT_FALSE(CheckWildCard2(&c, "", spec, true, nullptr));
}

TEST(SelectionWithFolders, ExclusionFiresTheEvent)
{
    TZipCommon c;
    std::vector<std::string> excluded;
    c.OnExcludeFile = [&](TObject*, const std::string& n) { excluded.push_back(n); };
    TStringList spec, ex;
    spec.Add("*.*");
    ex.Add("*.bak");
    EXPECT_FALSE(CheckWildCard2(&c, "old.bak", spec, true, &ex));
    EXPECT_TRUE(CheckWildCard2(&c, "new.txt", spec, true, &ex));
    EXPECT_FALSE(CheckWildCard1(&c, "x.bak", spec, &ex));
    EXPECT_TRUE(CheckWildCard1(&c, "x.txt", spec, &ex));
    EXPECT_EQ(excluded, (std::vector<std::string>{"old.bak", "x.bak"}));
}

TEST(SelectionWithoutFolders, CheckWildCard1)
{
    TZipCommon c;
    TStringList spec;
    spec.Add("*.*");
    EXPECT_TRUE(CheckWildCard1(&c, "README", spec, nullptr));
    EXPECT_TRUE(CheckWildCard1(&c, "dir/a.c", spec, nullptr));
    TStringList none;
    EXPECT_FALSE(CheckWildCard1(&c, "a", none, nullptr));
    EXPECT_FALSE(CheckWildCard1(&c, "", spec, nullptr));
}

TEST(ExcludeList, FoldersAndNames)
{
    TZipCommon c;
    c.ExcludeSpec.Add("*.tmp");
    c.ExcludeSpec.Add("build/*.o");
    EXPECT_TRUE(c.FileInExcludeList("/home/u/x/", "a.tmp", "", "", 0));
    EXPECT_TRUE(c.FileInExcludeList("/home/u/Build/", "m.o", "", "", 0));
    EXPECT_FALSE(c.FileInExcludeList("/home/u/src/", "m.o", "", "", 0));
    EXPECT_TRUE(c.FileInExcludeList("/home/u/build/", "sub", "", "", 0x10));
}
