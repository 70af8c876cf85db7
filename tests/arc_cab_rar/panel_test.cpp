// The archive panel with ARC, cabinet, RAR and the list-only formats: rows,
// "Extract..." through the scripted dialogs, the cabinet warning for
// selected rows, and the list-only types' refusal.
#include "../app/archive_panel_fixture.h"
#include "support.h"

#include "app/archivepanel.h"
#include "app/extractdialogs.h"

#include <gtest/gtest.h>

namespace {

class ArcPanelTest : public ArchivePanelTest {
protected:
    std::vector<std::string> Captions(TArchivePanel& p)
    {
        std::vector<std::string> out;
        for (int i = 0; i < p.ListView1->Items().Count(); ++i)
            out.push_back(p.ListView1->Items()[i]->Caption());
        return out;
    }
    bool Said(const std::string& text) const
    {
        for (const auto& a : prompts->asked)
            if (a.text.find(text) != std::string::npos)
                return true;
        return false;
    }
};

TEST_F(ArcPanelTest, ArchivesListAndExtractAsThePeersDo)
{
    const struct {
        const char* fixture;
        const char* peer;
        int rows;
    } cases[] = {
        {"arc/stored.arc", "cd %d && arc x %a", 2},
        {"cab/mszip.cab", "cabextract -q -d %d %a", 3},
        {"rar/single.rar", "bsdtar -x -C %d -f %a", 3},
    };
    for (const auto& c : cases) {
        TArchivePanel& p = Show(Fixture(c.fixture));
        EXPECT_EQ(p.ListView1->Items().Count(), c.rows) << c.fixture;
        TempDir theirs;
        ASSERT_TRUE(Peer(c.peer, Fixture(c.fixture), theirs.Root()));
        Script(p, 1);
        p.bextractClick(nullptr);
        EXPECT_EQ(Digest(TreeOf(target.Root())), Digest(TreeOf(theirs.Root()))) << c.fixture;
        EXPECT_EQ(p.StatusText(), "") << c.fixture;
        NextCase();
    }
}

TEST_F(ArcPanelTest, SelectedCabinetRowsBringTheWarning)
{
    TArchivePanel& p = Show(Fixture("cab/mszip.cab"));
    ASSERT_EQ(p.ListView1->Items().Count(), 3);
    p.ListView1->Items()[0]->SetSelected(true);
    Script(p, 0);
    prompts->PushButton(IDYES);  // cancel the operation
    p.bextractClick(nullptr);
    EXPECT_TRUE(Said("CABs continuous compressed stream"));
    EXPECT_TRUE(TreeOf(target.Root()).empty());
    prompts->asked.clear();
    prompts->PushButton(IDNO);
    p.bextractClick(nullptr);
    EXPECT_TRUE(Said("CABs continuous compressed stream"));
    EXPECT_EQ(TreeOf(target.Root()).size(), 1u);
}

TEST_F(ArcPanelTest, ListOnlyTypesListButDoNotExtract)
{
    const struct {
        const char* fixture;
        std::vector<std::string> rows;
    } cases[] = {
        {"arc/pak.pak", {"CRUSHED.DAT", "PLAIN.TXT", "DISTILL.DAT"}},
        {"list/files.ace", {"readme.txt", "data.bin"}},
        {"list/files.ha", {"one.txt", "two.txt"}},
        {"list/files.msgz", {"setup.ini", "\x81" "ber.txt"}},
    };
    for (const auto& c : cases) {
        TArchivePanel& p = Show(Fixture(c.fixture));
        EXPECT_EQ(Captions(p), c.rows) << c.fixture;
        Script(p, 1);
        prompts->asked.clear();
        p.bextractClick(nullptr);
        EXPECT_TRUE(Said("Extract not supported for this filetype")) << c.fixture;
        EXPECT_TRUE(TreeOf(target.Root()).empty());
        delete form;
        form = nullptr;
    }
}

}  // namespace
