// Office documents in the main window's preview: shown by the OLE container
// in the white scroll box, converted by LibreOffice (the fixtures of
// scripts/make-office-fixtures.sh), ended when another file is chosen, and
// the status bar's messages when a document cannot be shown.
#include "app_fixture.h"

#include "ole/olectrls.h"
#include "test_support/office_support.h"

#include <QTest>

#include <dirent.h>

namespace {

int CountColour(const QImage& image, QRgb colour)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (std::abs(qRed(p) - qRed(colour)) < 40 && std::abs(qGreen(p) - qGreen(colour)) < 40 &&
                std::abs(qBlue(p) - qBlue(colour)) < 40)
                ++n;
        }
    return n;
}

// A process and every process below it.
std::vector<long> ProcessTree(long root)
{
    std::vector<long> tree {root};
    for (std::size_t i = 0; i < tree.size(); ++i) {
        DIR* proc = ::opendir("/proc");
        while (dirent* e = proc ? ::readdir(proc) : nullptr) {
            const long pid = std::strtol(e->d_name, nullptr, 10);
            if (pid <= 0)
                continue;
            std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
            std::string line;
            if (!std::getline(stat, line) || line.rfind(')') == std::string::npos)
                continue;
            std::istringstream rest(line.substr(line.rfind(')') + 2));
            std::string state;
            long parent = 0;
            rest >> state >> parent;
            if (parent == tree[i] && state != "Z")
                tree.push_back(pid);
        }
        if (proc)
            ::closedir(proc);
    }
    return tree;
}

} // namespace

class OfficePreview : public AppTest {
protected:
    OfficePreview() { OfficeCacheHome::Get().ForgetPictures(); }
    ~OfficePreview() override
    {
        delete form;
        form = nullptr;
    }
    TForm1& Show()
    {
        WriteDefaults();
        TForm1& f = ShowMainWindow();
        f.SetBounds(0, 0, 1000, 800);
        QCoreApplication::processEvents();
        return f;
    }
    std::string Copy(const std::string& fixture, const std::string& as)
    {
        dir.Write("docs/" + as, OfficeFixtureBytes(fixture));
        return dir.Path("docs/" + as);
    }
    static std::string OfficeFixtureBytes(const std::string& name)
    {
        std::ifstream in(OfficeFixturePath(name), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    void View(const std::string& path)
    {
        form->CurrentFile = path;
        form->ViewCurrentFile();
        QCoreApplication::processEvents();
    }
    std::string Panel(int i) const { return form->StatusBar1->Panel(i).Text; }
    bool WaitForConversion() { return WaitFor([this] { return !form->ole->Converting(); }, 60000); }
};

TEST_F(OfficePreview, ADocumentShowsItsFirstPageAndASecondViewIsImmediate)
{
    TForm1& f = Show();
    const std::string doc = Copy("letter.doc", "letter.doc");
    const std::string text = dir.Path("docs/notes.txt");
    dir.Write("docs/notes.txt", "Notes\n");

    View(doc);
    EXPECT_EQ(FrontPreviewPanel(), "sbox");
    EXPECT_EQ(Panel(0), doc);
    EXPECT_TRUE(f.ole->Converting());
    ASSERT_TRUE(WaitForConversion());
    EXPECT_EQ(Panel(0), doc);
    EXPECT_EQ(FrontPreviewPanel(), "sbox");
    ASSERT_TRUE(f.ole->ObjectShown());
    EXPECT_EQ(f.ole->Hint(), "DoubleClick to view  the  whole  document.");
    // The page at its size in the scroll box: the red heading band shows.
    EXPECT_NEAR(f.ole->Width(), 794, 3);
    EXPECT_GT(CountColour(f.sbox->Widget()->grab().toImage(), qRgb(255, 0, 0)), 2000);
    // The box scrolls down the page (taller than the window), and back up.
    f.sbox->ScrollTo(0, 100000);
    EXPECT_GT(f.sbox->VertPosition(), 1123 - f.sbox->Height());
    EXPECT_EQ(CountColour(f.sbox->Widget()->grab().toImage(), qRgb(255, 0, 0)), 0);
    f.sbox->ScrollTo(0, 0);

    View(text);
    EXPECT_EQ(FrontPreviewPanel(), "PanelRichedit");
    View(doc);
    EXPECT_FALSE(f.ole->Converting());
    EXPECT_TRUE(f.ole->ObjectShown());
    EXPECT_EQ(FrontPreviewPanel(), "sbox");
    EXPECT_EQ(Panel(0), doc);
}

TEST_F(OfficePreview, ChoosingAnotherFileEndsTheConversionAndEveryProcessOfIt)
{
    TForm1& f = Show();
    const std::string doc = Copy("slides.ppt", "slides.ppt");
    dir.Write("docs/notes.txt", "Notes\n");

    View(doc);
    ASSERT_TRUE(f.ole->Converting());
    const long converter = static_cast<long>(f.ole->ConverterProcessId());
    ASSERT_GT(converter, 0);
    // The converter starts its main process below a launcher: wait for it.
    std::vector<long> tree;
    ASSERT_TRUE(WaitFor([&] { return (tree = ProcessTree(converter)).size() >= 2 || !f.ole->Converting(); }, 10000));
    ASSERT_TRUE(f.ole->Converting()) << "the conversion ended before another file could be chosen";

    View(dir.Path("docs/notes.txt"));
    EXPECT_EQ(FrontPreviewPanel(), "PanelRichedit");
    EXPECT_FALSE(f.ole->Converting());
    for (long pid : tree)
        EXPECT_TRUE(WaitFor([pid] { return !ProcessRuns(pid); }, 5000)) << pid;
    EXPECT_EQ(OfficeCacheHome::Get().WorkFolders(), 0);
    // Nothing of the ended conversion reaches the window later.
    QTest::qWait(200);
    EXPECT_EQ(Panel(0), dir.Path("docs/notes.txt"));
    EXPECT_EQ(FrontPreviewPanel(), "PanelRichedit");
}

// The same with a stand-in converter, for what needs no real conversion.
class OfficePreviewMessages : public OfficePreview {
protected:
    OfficePreviewMessages()
    {
        WriteFakeConverter(dir, "bin");
        dir.Write("log/pids", "");
        dir.Write("empty/.keep", "");
    }
    std::vector<long> Pids() const
    {
        std::vector<long> pids;
        std::istringstream in(dir.Read("log/pids"));
        for (std::string line; std::getline(in, line);)
            pids.push_back(std::stol(line));
        return pids;
    }
    ScopedEnv path {"PATH", dir.Path("bin") + ":" + CurrentPath()};
    ScopedEnv log {"FAKE_OFFICE_LOG", dir.Path("log")};
};

TEST_F(OfficePreviewMessages, EachFailureSaysWhyInTheStatusBarAndLeavesThePaneEmpty)
{
    ManualClock& clock = UseManualClock();
    TForm1& f = Show();
    struct Row {
        const char* fixture;
        std::string as;
        const char* converter;  // the stand-in's mode; nullptr: none installed
        std::string says;
    };
    const std::string failed = "Failed to open this file! ";
    const Row rows[] = {
        {"locked.doc", "locked.doc", "picture", failed + "The document is protected by a password."},
        {"locked.xls", "locked.xls", "picture", failed + "The document is protected by a password."},
        {"letter.doc", "cut.doc", "picture", failed + "The document is damaged or is no office document."},
        {"letter.doc", "refused.doc", "refuse", failed + "The document is damaged or is no office document."},
        {"sheet.xls", "sheet.xls", nullptr,
            failed + "Office documents are shown through LibreOffice, which is not installed."},
        {"slides.ppt", "slow.ppt", "hang", failed + "Its conversion took longer than 60 seconds and was stopped."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.as);
        std::string path = Copy(row.fixture, row.as);
        if (row.as == "cut.doc")
            dir.Write("docs/cut.doc", OfficeFixtureBytes(row.fixture).substr(0, 3000));
        ScopedEnv mode("FAKE_OFFICE", row.converter ? row.converter : "");
        ScopedEnv noConverter("PATH", row.converter ? dir.Path("bin") + ":" + CurrentPath() : dir.Path("empty"));
        f.PanelHex->BringToFront();
        View(path);
        if (f.ole->Converting()) {
            // The stand-in runs: a refusal comes back, a hang meets the limit.
            ASSERT_TRUE(WaitFor([&] { return !f.ole->Converting() || Pids().size() >= 2; }, 10000));
            if (f.ole->Converting())
                clock.Advance(TOleContainer::kConversionTimeLimitMs);
        }
        EXPECT_FALSE(f.ole->Converting());
        EXPECT_EQ(Panel(0), row.says);
        EXPECT_EQ(FrontPreviewPanel(), "PanelBlank");
        EXPECT_FALSE(f.ole->ObjectShown());
        EXPECT_EQ(f.Caption(), "Vistrel 1.0 - " + path);
    }
}

TEST_F(OfficePreviewMessages, TheDocumentViewedAgainKeepsItsConversionAnotherModeEndsIt)
{
    TForm1& f = Show();
    const std::string doc = Copy("letter.doc", "letter.doc");
    ScopedEnv mode("FAKE_OFFICE", "hang");
    View(doc);
    ASSERT_TRUE(WaitFor([&] { return Pids().size() == 2; }, 10000));
    const long converter = static_cast<long>(f.ole->ConverterProcessId());

    View(doc);
    EXPECT_EQ(f.ole->ConverterProcessId(), converter);
    EXPECT_EQ(Pids().size(), 2u);
    EXPECT_EQ(FrontPreviewPanel(), "sbox");

    f.SetViewMode(2);
    EXPECT_EQ(FrontPreviewPanel(), "PanelHex");
    EXPECT_FALSE(f.ole->Converting());
    for (long pid : Pids())
        EXPECT_TRUE(WaitFor([pid] { return !ProcessRuns(pid); }, 5000)) << pid;
}
