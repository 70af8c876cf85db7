// The OLE container: documents converted in a separate process, with a
// stand-in converter for the ways a conversion goes (picture, refusal,
// failure, a hang, an end by the user) and LibreOffice itself for what the
// first page of each kind of document shows.
#include "ole/olectrls.h"

#include "rtl/clock.h"
#include "test_support/office_support.h"
#include "test_support/scripted_prompts.h"
#include "vcl/extctrls.h"
#include "vcl/forms.h"

#include <QImage>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <sstream>

namespace {

TApplication& App()
{
    static TApplication* app = new TApplication();
    return *app;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Pixels of the picture near a colour.
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

// Pixels dark enough to be text.
int CountDark(const QImage& image) { return CountColour(image, qRgb(0, 0, 0)); }

class OleContainerTest : public ::testing::Test {
protected:
    OleContainerTest()
    {
        App();
        OfficeCacheHome::Get().ForgetPictures();
        WriteFakeConverter(dir, "bin");
        dir.Write("log/pids", "");
        dir.Write("doc/letter.doc", Slurp(OfficeFixturePath("letter.doc")));
        picture = QImage(300, 200, QImage::Format_RGB32);
        picture.fill(Qt::white);
        for (int y = 20; y < 60; ++y)
            for (int x = 20; x < 120; ++x)
                picture.setPixel(x, y, qRgb(255, 0, 0));
        picture.save(QString::fromStdString(dir.Path("page.png")), "png");
        box = new TScrollBox(nullptr);
        ole = new TOleContainer(box);
        ole->SetParent(box);
        ole->OnObjectError = [this](TObject*, const EOleSysError& e) { errors.push_back({e.ErrorCode, e.Message()}); };
    }
    ~OleContainerTest() override { delete box; }

    static std::string Slurp(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    std::vector<long> Pids() const
    {
        std::vector<long> pids;
        for (const std::string& l : Lines(dir.Read("log/pids")))
            pids.push_back(std::stol(l));
        return pids;
    }
    QImage Shown() const { return ole->Widget()->grab().toImage(); }
    bool WaitForConversion() { return WaitFor([this] { return !ole->Converting(); }, 20000); }
    HRESULT CodeOfCreate(const std::string& path)
    {
        try {
            ole->CreateObjectFromFile(path, false);
        } catch (const EOleSysError& e) {
            lastMessage = e.Message();
            return e.ErrorCode;
        }
        return S_OK;
    }

    TempDir dir;
    QImage picture;
    TScrollBox* box;
    TOleContainer* ole;
    std::vector<std::pair<HRESULT, std::string>> errors;
    std::string lastMessage;
    std::string doc = dir.Path("doc/letter.doc");
    ScopedEnv path {"PATH", dir.Path("bin") + ":" + CurrentPath()};
    ScopedEnv log {"FAKE_OFFICE_LOG", dir.Path("log")};
    ScopedEnv pictureEnv {"FAKE_OFFICE_PICTURE", dir.Path("page.png")};
};

}  // namespace

TEST_F(OleContainerTest, ConvertsAPrivateReadOnlyCopyWithItsOwnProfileAndCachesThePicture)
{
    ScopedEnv mode("FAKE_OFFICE", "picture");
    ole->CreateObjectFromFile(doc, false);
    // Meanwhile: the text says so, the converter runs.
    EXPECT_TRUE(ole->Converting());
    EXPECT_TRUE(ole->ConvertingFile(doc));
    EXPECT_FALSE(ole->ObjectShown());
    EXPECT_GT(ole->ConverterProcessId(), 0);
    EXPECT_GT(CountDark(Shown()), 20);
    EXPECT_LT(ole->Width(), 200);

    ASSERT_TRUE(WaitForConversion());
    EXPECT_TRUE(errors.empty());
    EXPECT_TRUE(ole->ObjectShown());
    EXPECT_EQ(ole->SourceDoc(), doc);
    // The object at its own size, showing the converter's picture.
    EXPECT_EQ(ole->Width(), 300);
    EXPECT_EQ(ole->Height(), 200);
    const QImage shown = Shown();
    EXPECT_EQ(shown.pixel(50, 40), qRgb(255, 0, 0));
    EXPECT_EQ(shown.pixel(200, 150), qRgb(255, 255, 255));

    // The converter was given a copy nobody may write, in a work folder of
    // the cache that is gone now, and the profile of the program's cache.
    const std::vector<std::string> args = Lines(dir.Read("log/args"));
    ASSERT_GE(args.size(), 3u);
    const std::string vistrel = OfficeCacheHome::Get().Vistrel();
    const std::string copy = args[args.size() - 3];
    EXPECT_EQ(copy.rfind(vistrel + "/office-work/", 0), 0u) << copy;
    EXPECT_EQ(copy.substr(copy.size() - 4), ".doc");
    EXPECT_EQ(args[args.size() - 2], "400");
    EXPECT_EQ(OfficeCacheHome::Get().WorkFolders(), 0);
    EXPECT_NE(std::find(args.begin(), args.end(), "--headless"), args.end());
    EXPECT_NE(std::find(args.begin(), args.end(), "-env:UserInstallation=file://" + vistrel + "/office-profile"), args.end());
    if (PrivateNetworkPossible()) {
        EXPECT_NE(args.back(), OwnNetworkNamespace());
    }
    const std::string settings = Slurp(vistrel + "/office-profile/user/registrymodifications.xcu");
    EXPECT_NE(settings.find("\"DisableMacrosExecution\" oor:op=\"fuse\"><value>true"), std::string::npos);
    EXPECT_NE(settings.find("\"MacroSecurityLevel\" oor:op=\"fuse\"><value>3"), std::string::npos);

    // The second view comes from the cache at once; the converter does not run.
    ole->DestroyObject();
    EXPECT_FALSE(ole->ObjectShown());
    EXPECT_EQ(ole->Width(), 0);
    ole->CreateObjectFromFile(doc, false);
    EXPECT_FALSE(ole->Converting());
    EXPECT_TRUE(ole->ObjectShown());
    EXPECT_EQ(Shown().pixel(50, 40), qRgb(255, 0, 0));
    EXPECT_EQ(Pids().size(), 1u);

    // A document changed since is converted again.
    std::filesystem::last_write_time(doc, std::filesystem::last_write_time(doc) + std::chrono::seconds(5));
    ole->CreateObjectFromFile(doc, false);
    EXPECT_TRUE(ole->Converting());
    ASSERT_TRUE(WaitForConversion());
    EXPECT_EQ(Pids().size(), 2u);
}

TEST_F(OleContainerTest, AFailedConversionIsReportedAndOnlyDamageIsRemembered)
{
    struct Row {
        const char* mode;
        HRESULT code;
        const char* says;
        bool remembered;  // the second view fails at once, without the converter
    };
    const Row rows[] = {
        {"refuse", STG_E_DOCFILECORRUPT, "The document is damaged or is no office document.", true},
        {"exit3", E_FAIL, "LibreOffice failed to convert it (exit code 3).", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.mode);
        OfficeCacheHome::Get().ForgetPictures();
        ScopedEnv mode("FAKE_OFFICE", row.mode);
        errors.clear();
        dir.Write("log/pids", "");
        ole->CreateObjectFromFile(doc, false);
        ASSERT_TRUE(WaitForConversion());
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].first, row.code);
        EXPECT_EQ(errors[0].second, row.says);
        // An empty pane.
        EXPECT_FALSE(ole->ObjectShown());
        EXPECT_EQ(ole->Width(), 0);
        EXPECT_TRUE(ole->SourceDoc().empty());
        EXPECT_EQ(OfficeCacheHome::Get().WorkFolders(), 0);

        const HRESULT again = CodeOfCreate(doc);
        if (row.remembered) {
            EXPECT_EQ(again, row.code);
            EXPECT_EQ(lastMessage, row.says);
            EXPECT_FALSE(ole->Converting());
        } else {
            EXPECT_EQ(again, S_OK);
            EXPECT_TRUE(ole->Converting());
            ASSERT_TRUE(WaitForConversion());
        }
    }
}

TEST_F(OleContainerTest, EndingAConversionEndsItsProcessesAndLeavesNothingBehind)
{
    ScopedEnv mode("FAKE_OFFICE", "hang");
    ole->CreateObjectFromFile(doc, false);
    ASSERT_TRUE(WaitFor([this] { return Pids().size() == 2; }, 10000));
    for (long pid : Pids())
        EXPECT_TRUE(ProcessRuns(pid)) << pid;
    EXPECT_EQ(OfficeCacheHome::Get().WorkFolders(), 1);

    ole->DestroyObject();
    EXPECT_FALSE(ole->Converting());
    for (long pid : Pids())
        EXPECT_TRUE(WaitFor([pid] { return !ProcessRuns(pid); }, 5000)) << pid;
    EXPECT_EQ(OfficeCacheHome::Get().WorkFolders(), 0);
    // Nothing reports on the ended conversion, and nothing was cached.
    QTest::qWait(50);
    EXPECT_TRUE(errors.empty());
    EXPECT_FALSE(std::filesystem::exists(OfficeCacheHome::Get().Vistrel() + "/office") &&
                 !std::filesystem::is_empty(OfficeCacheHome::Get().Vistrel() + "/office"));
}

TEST_F(OleContainerTest, AConversionPastTheTimeLimitIsEndedWithAMessage)
{
    ScopedManualClock clock;
    ScopedEnv mode("FAKE_OFFICE", "hang");
    ole->CreateObjectFromFile(doc, false);
    ASSERT_TRUE(WaitFor([this] { return Pids().size() == 2; }, 10000));
    clock.clock.Advance(TOleContainer::kConversionTimeLimitMs - 1);
    EXPECT_TRUE(ole->Converting());
    EXPECT_TRUE(errors.empty());
    clock.clock.Advance(1);
    EXPECT_FALSE(ole->Converting());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].first, RPC_E_TIMEOUT);
    EXPECT_EQ(errors[0].second, "Its conversion took longer than 60 seconds and was stopped.");
    for (long pid : Pids())
        EXPECT_TRUE(WaitFor([pid] { return !ProcessRuns(pid); }, 5000)) << pid;
    EXPECT_EQ(OfficeCacheHome::Get().WorkFolders(), 0);
}

TEST_F(OleContainerTest, DocumentsThatCannotBeShownFailAtOnceWithTheirReason)
{
    dir.Write("doc/locked.doc", Slurp(OfficeFixturePath("locked.doc")));
    dir.Write("doc/locked.xls", Slurp(OfficeFixturePath("locked.xls")));
    dir.Write("doc/cut.doc", Slurp(OfficeFixturePath("letter.doc")).substr(0, 3000));
    dir.Write("empty/.keep", "");
    struct Row {
        std::string file;
        bool converterInstalled;
        HRESULT code;
        const char* says;
    };
    const Row rows[] = {
        {dir.Path("doc/letter.doc"), false, REGDB_E_CLASSNOTREG,
            "Office documents are shown through LibreOffice, which is not installed."},
        {dir.Path("doc/locked.doc"), true, STG_E_ACCESSDENIED, "The document is protected by a password."},
        {dir.Path("doc/locked.xls"), false, STG_E_ACCESSDENIED, "The document is protected by a password."},
        {dir.Path("doc/cut.doc"), true, STG_E_DOCFILECORRUPT, "The document is damaged or is no office document."},
        {dir.Path("doc/gone.doc"), true, STG_E_FILENOTFOUND, nullptr},
    };
    ScopedEnv mode("FAKE_OFFICE", "picture");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        ScopedEnv path("PATH", row.converterInstalled ? CurrentPath() : dir.Path("empty"));
        EXPECT_EQ(CodeOfCreate(row.file), row.code);
        if (row.says) {
            EXPECT_EQ(lastMessage, row.says);
        }
        EXPECT_FALSE(ole->Converting());
        EXPECT_FALSE(ole->ObjectShown());
    }
    EXPECT_TRUE(Pids().empty());
}

TEST_F(OleContainerTest, ADoubleClickOpensTheWholeDocumentInTheDesktopsApplication)
{
    ScopedScriptedPrompts prompts(App());
    ScopedEnv mode("FAKE_OFFICE", "picture");
    ScopedEnv openLog("FAKE_OPEN_LOG", dir.Path("log/opened"));
    ole->CreateObjectFromFile(doc, false);
    ASSERT_TRUE(WaitForConversion());

    WriteFakeOpener(dir, "opener");
    {
        ScopedEnv path("PATH", dir.Path("opener") + ":" + CurrentPath());
        QTest::mouseDClick(ole->Widget(), Qt::LeftButton, Qt::NoModifier, QPoint(50, 40));
    }
    EXPECT_EQ(Lines(dir.Read("log/opened")), std::vector<std::string> {doc});
    EXPECT_TRUE(prompts.prompts->asked.empty());

    // Nothing to open it with: the class library's error box says so.
    dir.Write("empty/.keep", "");
    {
        ScopedEnv path("PATH", dir.Path("empty"));
        QTest::mouseDClick(ole->Widget(), Qt::LeftButton, Qt::NoModifier, QPoint(50, 40));
    }
    ASSERT_EQ(prompts.prompts->asked.size(), 1u);
    EXPECT_EQ(prompts.prompts->asked[0].text, "No application of the desktop opens " + doc + ".");
}

// LibreOffice itself: the first page, sheet or slide of each kind of
// document at its own size (A4 pages and a 16:9 slide at 96 pixels an
// inch), and nothing of the second.
TEST(OfficeConversion, ShowsTheFirstPageSheetOrSlideOfEachKindOfDocument)
{
    App();
    OfficeCacheHome::Get().ForgetPictures();
    struct Row {
        const char* fixture;
        int width, height;
        QRgb first;   // fills a block of the first page
        QRgb second;  // only on the second page
    };
    const Row rows[] = {
        {"letter.doc", 794, 1123, qRgb(255, 0, 0), qRgb(0, 0, 255)},
        {"sheet.xls", 794, 1123, qRgb(0, 255, 0), qRgb(0, 0, 255)},
        {"slides.ppt", 1058, 595, qRgb(255, 0, 0), qRgb(0, 255, 0)},
    };
    TScrollBox box(nullptr);
    auto* ole = new TOleContainer(&box);
    ole->SetParent(&box);
    std::vector<std::string> errors;
    ole->OnObjectError = [&](TObject*, const EOleSysError& e) { errors.push_back(e.Message()); };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fixture);
        ole->CreateObjectFromFile(OfficeFixturePath(row.fixture), false);
        ASSERT_TRUE(WaitFor([&] { return !ole->Converting(); }, 60000));
        ASSERT_TRUE(errors.empty()) << errors[0];
        ASSERT_TRUE(ole->ObjectShown());
        EXPECT_NEAR(ole->Width(), row.width, 3);
        EXPECT_NEAR(ole->Height(), row.height, 3);
        const QImage shown = ole->Widget()->grab().toImage();
        // A block of the first page's colour (a band, a cell, a rectangle)
        // in its upper part, text on it, none of the second page's colour.
        const QImage upper = shown.copy(0, 0, shown.width(), shown.height() / 3);
        EXPECT_GT(CountColour(upper, row.first), 2000);
        EXPECT_EQ(CountColour(shown, row.second), 0);
        EXPECT_GT(CountDark(upper), 30);
    }
}
