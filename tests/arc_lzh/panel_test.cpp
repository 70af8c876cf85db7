// The archive panel with BH, LHA/LZH and ZOO archives: rows with their
// sizes and method names, "Extract..." through the scripted dialogs equal
// to the peers (BH to its inputs), the BH password asked through the
// panel's prompt.
#include "../app/archive_panel_fixture.h"
#include "../arc_cab_rar/support.h"

#include "app/archivepanel.h"
#include "app/extractdialogs.h"
#include "test_support/fuzz_corpus.h"

#include <gtest/gtest.h>

namespace {

using LzhPanelTest = ArchivePanelTest;

TEST_F(LzhPanelTest, ArchivesListAndExtractAsThePeersDo)
{
    const struct {
        const char* fixture;
        const char* peer;
        int rows;
        const char* method;  // of the first row
    } cases[] = {
        {"lzh/level1.lzh", "cd %d && lhasa xq %a", 3, "Frozen-6"},
        {"lzh/lh1-level0.lzh", "cd %d && lhasa xq %a", 1, "Frozen-1"},
        {"zoo/mixed.zoo", "unar -q -D -o %d %a", 3, "Stored"},
    };
    for (const auto& c : cases) {
        TArchivePanel& p = Show(Fixture(c.fixture));
        ASSERT_EQ(p.ListView1->Items().Count(), c.rows) << c.fixture;
        EXPECT_TRUE(RowHas(p, 0, c.method)) << c.fixture;
        TempDir theirs;
        ASSERT_TRUE(Peer(c.peer, Fixture(c.fixture), theirs.Root()));
        Script(p);
        p.bextractClick(nullptr);
        EXPECT_EQ(Digest(TreeOf(target.Root())), Digest(TreeOf(theirs.Root()))) << c.fixture;
        EXPECT_EQ(p.StatusText(), "") << c.fixture;
        NextCase();
    }
}

TEST_F(LzhPanelTest, BhAsksForThePasswordOfItsEncryptedEntries)
{
    TArchivePanel& p = Show(Fixture("bh/mixed.bh"));
    ASSERT_EQ(p.ListView1->Items().Count(), 8);
    EXPECT_TRUE(RowHas(p, 3, "Fused1"));
    Script(p);
    prompts->PushText("secret");
    p.bextractClick(nullptr);
    const auto files = TreeOf(target.Root());
    EXPECT_EQ(files.size(), 8u);
    ASSERT_TRUE(files.count("secret-fused1.txt"));
    EXPECT_EQ(files.at("secret-fused1.txt"), Slurp(Fixture("inputs/text.txt")));
}

}  // namespace
