// The archive panel with ARJ archives: rows with sizes and method names,
// "Extract..." equal to arj's own extraction, and a garbled entry that asks
// for its password through the panel's prompt.
#include "../app/archive_panel_fixture.h"
#include "../arc_cab_rar/support.h"

#include "app/archivepanel.h"
#include "app/extractdialogs.h"
#include "test_support/fuzz_corpus.h"

#include <gtest/gtest.h>

namespace {

std::string ArjFixture(const std::string& name) { return std::string(VISTREL_TEST_DATA) + "/fixtures/" + name; }

using ArjPanelTest = ArchivePanelTest;

TEST_F(ArjPanelTest, ListsAndExtractsAsArjDoes)
{
    TArchivePanel& p = Show(ArjFixture("m4.arj"));
    ASSERT_EQ(p.ListView1->Items().Count(), 4);
    EXPECT_EQ(p.ListView1->Items()[0]->Caption(), "prose.txt");
    const TStringList& row = p.ListView1->Items()[0]->SubItems();
    bool method = false;
    for (int i = 0; i < row.Count(); ++i)
        method |= row[i] == "Fastest";
    EXPECT_TRUE(method);
    Script(p);
    p.bextractClick(nullptr);
    TempDir theirs;
    if (!Peer("cd %d && arj x -y %a", ArjFixture("m4.arj"), theirs.Root()))
        GTEST_SKIP() << "arj is not installed";
    EXPECT_EQ(Digest(TreeOf(target.Root())), Digest(TreeOf(theirs.Root())));
}

TEST_F(ArjPanelTest, AGarbledEntryAsksForItsPassword)
{
    TArchivePanel& p = Show(ArjFixture("garbled.arj"));
    ASSERT_EQ(p.ListView1->Items().Count(), 3);
    Script(p);
    prompts->PushText("wrong");
    prompts->PushText("secret");
    p.bextractClick(nullptr);
    EXPECT_EQ(Digest(TreeOf(target.Root())),
              Digest({{"plain.txt", Slurp(ArjFixture("originals/plain.txt"))},
                      {"prose.txt", Slurp(ArjFixture("originals/prose.txt"))},
                      {"binary.bin", Slurp(ArjFixture("originals/binary.bin"))}}));
    int inputs = 0;
    for (const auto& a : prompts->asked)
        inputs += a.kind == "input" && a.caption == "Encrypted file...";
    EXPECT_EQ(inputs, 2);
}

}  // namespace
