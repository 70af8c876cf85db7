// Named pipes, sockets and devices chosen in the main window: every viewer
// and the hex-text export refuse them at once with their own failure, and
// the window goes on answering. Before, a pipe blocked the user-interface
// thread in open() until a writer came, and /dev/zero was read without end.
#include "app_fixture.h"

#include "app/tools/commonfunc.h"
#include "test_support/special_files.h"

#include <filesystem>

namespace {

class SpecialFileTest : public AppTest {
protected:
    void SetUp() override
    {
        WriteDefaults();
        ShowMainWindow();
        dir.Write("earlier.txt", "earlier file");
        // One pipe, one socket and one link to /dev/zero per viewer's extension.
        for (const char* ext : {"", ".txt", ".rtf", ".exe", ".zip", ".bin"}) {
            MakeFifo(dir.Path(std::string("pipe") + ext));
            std::filesystem::create_symlink("/dev/zero", dir.Path(std::string("zero") + ext));
            sockets.push_back(std::make_unique<BoundSocket>(dir.Path(std::string("s") + ext)));
        }
    }

    // Views the file in a mode, after an ordinary file; answers whether the
    // view had to be rescued from a wait on one of the pipes.
    bool View(const std::string& name, int mode)
    {
        form->SetViewMode(0);
        form->CurrentFile = dir.Path("earlier.txt");
        form->ViewCurrentFile();
        form->SetViewMode(mode);
        form->CurrentFile = name[0] == '/' ? name : dir.Path(name);
        PipeWaitGuard guard(dir.Path("pipe" + std::filesystem::path(name).extension().string()));
        form->ViewCurrentFile();
        guard.Finish();
        return guard.Rescued();
    }
    std::string Status() const { return form->StatusBar1->Panel(0).Text; }

    std::vector<std::unique_ptr<BoundSocket>> sockets;
};

} // namespace

TEST_F(SpecialFileTest, EveryViewerRefusesPipesSocketsAndDevices)
{
    struct Case {
        const char* name;
        int mode;
        const char* front;  // the panel in front afterwards
    };
    const Case cases[] = {
        // Unknown types of no size go to the text viewer, which says it failed.
        {"pipe", 0, "PanelRichedit"},
        {"s", 0, "PanelRichedit"},
        {"zero", 0, "PanelRichedit"},
        {"/dev/zero", 0, "PanelRichedit"},
        {"pipe.txt", 1, "PanelRichedit"},
        {"zero.txt", 1, "PanelRichedit"},
        // The rich-text and hex viewers raise; the preview shows nothing.
        {"pipe.rtf", 0, "PanelBlank"},
        {"s.rtf", 0, "PanelBlank"},
        {"zero.rtf", 0, "PanelBlank"},
        {"pipe.bin", 2, "PanelBlank"},
        {"s.bin", 2, "PanelBlank"},
        {"zero.bin", 2, "PanelBlank"},
        {"/dev/zero", 2, "PanelBlank"},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(View(c.name, c.mode)) << c.name << " waited on the pipe";
        EXPECT_EQ(Status(), "Failed to open this file!") << c.name << " mode " << c.mode;
        EXPECT_EQ(FrontPreviewPanel(), c.front) << c.name << " mode " << c.mode;
        if (FrontPreviewPanel() == "PanelRichedit") {
            EXPECT_EQ(form->richedit->Text(), "") << c.name;
        }
    }
}

// The header report says in its panel that the file could not be loaded;
// the archive list stays empty.
TEST_F(SpecialFileTest, HeaderReportAndArchiveListRefuseThem)
{
    for (const char* name : {"pipe.exe", "s.exe", "zero.exe"}) {
        EXPECT_FALSE(View(name, 0)) << name << " waited on the pipe";
        EXPECT_EQ(FrontPreviewPanel(), "PanelPe") << name;
        EXPECT_EQ(form->RichEditPe->Text(), "Failed to load file!") << name;
    }
    for (const char* name : {"pipe.zip", "s.zip", "zero.zip"}) {
        EXPECT_FALSE(View(name, 0)) << name << " waited on the pipe";
        ASSERT_TRUE(form->ArchivePanel) << name;
        EXPECT_EQ(FrontPreviewPanel(), "PanelZip") << name;
        EXPECT_EQ(form->ArchivePanel->ListView1->Items().Count(), 0) << name;
    }
}

TEST_F(SpecialFileTest, HexTextExportRefusesThem)
{
    for (const char* name : {"pipe.bin", "s.bin", "zero.bin"}) {
        prompts->asked.clear();
        PipeWaitGuard guard(dir.Path("pipe.bin"));
        SaveFileAsHexText(dir.Path(name), dir.Path("out.txt"));
        guard.Finish();
        EXPECT_FALSE(guard.Rescued()) << name << " waited on the pipe";
        ASSERT_EQ(prompts->asked.size(), 1u) << name;
        EXPECT_EQ(prompts->asked[0].text, "Failed to open this file!") << name;
        EXPECT_FALSE(dir.Exists("out.txt")) << name;
    }
}
