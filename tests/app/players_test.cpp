// The web, PDF, Flash, RealAudio, media and OLE viewers of the main window
// and the stop controls, with a scripted media device and scripted prompts.
#include "app_fixture.h"
#include "players_fixture.h"
#include "scripted_media.h"

#include "app/preview.h"
#include "app/tools/extractpdf.h"
#include "app/tools/wav2mp3.h"
#include "test_support/modal_driver.h"

#include "media/mplayer.h"
#include "pdf/pdfviewer.h"
#include "web/webbrowser.h"

#include "rtl/unicode.h"

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QHostAddress>
#include <QTcpServer>
#include <QTest>
#include <QWheelEvent>

#include <filesystem>
#include <sys/stat.h>

namespace {

// Pixels of an image close to a colour.
int CountColour(const QImage& image, QRgb colour)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (std::abs(qRed(p) - qRed(colour)) < 40 && std::abs(qGreen(p) - qGreen(colour)) < 40
                && std::abs(qBlue(p) - qBlue(colour)) < 40)
                ++n;
        }
    return n;
}

} // namespace

class PlayersTest : public AppTest {
protected:
    // The window goes before the scripted device its players use.
    ~PlayersTest() override
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
    // Puts a fixture into the test's folder under a name of the test's choice.
    std::string Copy(const std::string& fixture, const std::string& as = "")
    {
        const std::string name = as.empty() ? fixture : as;
        dir.Write(name, PlayerFixtureBytes(fixture));
        return dir.Path(name);
    }
    void View(const std::string& path)
    {
        form->CurrentFile = path;
        form->ViewCurrentFile();
        QCoreApplication::processEvents();
    }
    std::string Panel(int i) const { return form->StatusBar1->Panel(i).Text; }
    std::string PdfStatus(int i) const { return form->sbpdf->Panel(i).Text; }
    std::vector<std::string> Messages() const { return MessageTexts(*prompts); }

    ScopedScriptedMedia media;
};

TEST_F(PlayersTest, EachKindOfFileShowsInItsPanelOrSaysWhyNot)
{
    // The fixture "letter.doc" holds the compound-file signature and then text.
    const char* const kDamagedDocument = "Failed to open this file! The document is damaged or is no office document.";
    TForm1& f = Show();
    struct Row {
        const char* fixture;
        const char* name;
        ScriptedMedia media; // registered unless refused
        const char* panel;
        const char* status; // nullptr: the path (a successful view)
        bool stopEnabled;
        int kind;
    };
    const Row rows[] = {
        {"page.html", "page.html", {}, "Panelbs", nullptr, false, 0},
        {"page.mht", "page.mht", {}, "Panelbs", nullptr, false, 0},
        {"sample.pdf", "sample.pdf", {}, "PanelPdf", nullptr, false, 0},
        {"tune.mp3", "tune.mp3", {500, false, false, -1}, "PanelBlank", nullptr, true, 3},
        {"tone.wma", "tone.wma", {1000, false, false, -1}, "PanelBlank", nullptr, true, 3},
        {"note.mid", "note.mid", {500, false, false, -1}, "PanelBlank", nullptr, true, 3},
        {"clip.avi", "clip.avi", {1000, false, true, -1}, "ScrollAvi", nullptr, true, 3},
        {"clip.mpg", "clip.mpg", {1000, false, true, -1}, "ScrollAvi", nullptr, true, 3},
        {"tone.rm", "tone.rm", {1000, false, false, -1}, "ScrollBoxReal", nullptr, true, 1},
        {"junk.mp3", "junk.mp3", {500, true, false, -1}, "PanelBlank",
            "Failed to play this file! The stream holds no media the player knows.", false, 0},
        {"movie.swf", "movie.swf", {}, "PanelFlash", "Failed to play this file!", false, 0},
        {"letter.doc", "letter.doc", {}, "PanelBlank", kDamagedDocument, false, 0},
        {"letter.doc", "sheet.xls", {}, "PanelBlank", kDamagedDocument, false, 0},
        // The metafile names a network stream the player refuses: shown as text.
        {"stream.ram", "stream.ram", {500, true, false, -1}, "PanelRichedit", nullptr, false, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        f.stopClick(nullptr);
        f.PlayingKind = 0;
        f.PanelHex->BringToFront();
        const std::string path = Copy(row.fixture, row.name);
        media.library.files[path] = row.media;
        View(path);
        EXPECT_EQ(FrontPreviewPanel(), row.panel);
        EXPECT_EQ(Panel(0), row.status ? std::string(row.status) : path);
        EXPECT_EQ(f.Caption(), "Vistrel 1.0 - " + path);
        EXPECT_EQ(f.stop->Enabled(), row.stopEnabled);
        EXPECT_EQ(f.Stopplay1->Enabled(), row.stopEnabled);
        EXPECT_EQ(f.PlayingKind, row.kind);
    }
    EXPECT_NE(f.richedit->Text().find("rtsp://example.invalid/stream.rm"), std::string::npos);
    EXPECT_EQ(media.library.played,
        (std::vector<std::string> {dir.Path("tune.mp3"), dir.Path("tone.wma"), dir.Path("note.mid"),
            dir.Path("clip.avi"), dir.Path("clip.mpg"), dir.Path("tone.rm")}));
}

TEST_F(PlayersTest, StopNeverRaisesAndLeavesThePlayingKind)
{
    TForm1& f = Show();
    const std::string song = Copy("tune.mp3");
    const std::string junk = Copy("junk.mp3");
    media.library.files[song] = {5000, false, false, -1};
    View(song);
    ASSERT_EQ(f.mp->Mode(), mpPlaying);
    f.stop->Click();
    EXPECT_EQ(f.mp->Mode(), mpStopped);
    EXPECT_EQ(media.library.stops, 1);
    EXPECT_FALSE(f.stop->Enabled());
    EXPECT_FALSE(f.Stopplay1->Enabled());
    EXPECT_EQ(f.PlayingKind, 3);

    // Already stopped, and after a refused file (no file open): nothing to do.
    f.Stopplay1->Click();
    View(junk);
    EXPECT_EQ(f.mp->Mode(), mpNotReady);
    EXPECT_NO_THROW(f.stopClick(nullptr));
    EXPECT_EQ(media.library.stops, 1);

    // A RealAudio view stops the MCI player first; a Flash view stops RealAudio.
    const std::string real = Copy("tone.rm");
    media.library.files[real] = {5000, false, false, -1};
    View(song);
    View(real);
    EXPECT_EQ(media.library.stops, 2);
    EXPECT_TRUE(f.real->Playing());
    View(Copy("movie.swf"));
    EXPECT_FALSE(f.real->Playing());
    EXPECT_EQ(f.PlayingKind, 1);
}

TEST_F(PlayersTest, VideoPlaysInTheVideoWindow)
{
    TForm1& f = Show();
    const std::string clip = Copy("clip.avi");
    media.library.files[clip] = {1000, false, true, -1};
    View(clip);
    EXPECT_EQ(f.mp->Display(), f.Panel1);
    EXPECT_EQ(FrontPreviewPanel(), "ScrollAvi");
    // The window is black until frames come.
    const QImage shot = f.Panel1->Widget()->grab().toImage();
    ASSERT_FALSE(shot.isNull());
    EXPECT_EQ(CountColour(shot, qRgb(0, 0, 0)), shot.width() * shot.height());
}

// ---- web pages ------------------------------------------------------------------------------

TEST_F(PlayersTest, WebPageShowsItsLocalPictureAndStyleAndNeverFetchesTheRemoteOne)
{
    TForm1& f = Show();
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    std::string page = PlayerFixtureBytes("page.html");
    const std::string remote = "http://127.0.0.1:9/";
    page.replace(page.find(remote), remote.size(), "http://127.0.0.1:" + std::to_string(server.serverPort()) + "/");
    dir.Write("site/page.html", page);
    Copy("pic.png", "site/pic.png");
    Copy("style.css", "site/style.css");
    View(dir.Path("site/page.html"));
    EXPECT_TRUE(f.bs->Offline());
    EXPECT_EQ(f.bs->LocationName(), dir.Path("site/page.html"));
    EXPECT_NE(f.bs->PageText().find("A saved web page"), std::string::npos);
    const QImage shot = f.bs->Widget()->grab().toImage();
    EXPECT_GE(CountColour(shot, qRgb(255, 0, 0)), 32 * 32);
    EXPECT_GT(CountColour(shot, qRgb(0, 0, 255)), 20); // the heading, blue by the style sheet
    EXPECT_FALSE(server.waitForNewConnection(300));
}

TEST_F(PlayersTest, StyleSheetsLinkedWithoutATypeApplyInPagesAndArchives)
{
    TForm1& f = Show();
    const std::string page = "<html><head><link rel=\"stylesheet\" href=\"style.css\"></head>"
                             "<body><h1>Styled heading</h1></body></html>";
    dir.Write("site/untyped.html", page);
    Copy("style.css", "site/style.css");
    const std::string mht = "MIME-Version: 1.0\r\n"
                            "Content-Type: multipart/related; boundary=\"b\"\r\n\r\n"
                            "--b\r\nContent-Type: text/html; charset=utf-8\r\n"
                            "Content-Location: http://example.com/page.html\r\n\r\n" + page + "\r\n"
                            "--b\r\nContent-Type: text/css\r\n"
                            "Content-Location: http://example.com/style.css\r\n\r\n"
                            + PlayerFixtureBytes("style.css") + "\r\n--b--\r\n";
    dir.Write("untyped.mht", mht);
    for (const std::string& path : {dir.Path("site/untyped.html"), dir.Path("untyped.mht")}) {
        SCOPED_TRACE(path);
        View(path);
        EXPECT_NE(f.bs->PageText().find("Styled heading"), std::string::npos);
        EXPECT_GT(CountColour(f.bs->Widget()->grab().toImage(), qRgb(0, 0, 255)), 20);
    }
}

TEST_F(PlayersTest, MhtArchiveShowsItsPageAndPictures)
{
    TForm1& f = Show();
    View(Copy("page.mht"));
    EXPECT_NE(f.bs->PageText().find("Archived caf\xC3\xA9"), std::string::npos);
    const QImage shot = f.bs->Widget()->grab().toImage();
    EXPECT_GE(CountColour(shot, qRgb(255, 0, 0)), 32 * 32); // by http Content-Location
    EXPECT_GE(CountColour(shot, qRgb(0, 0xC0, 0)), 24 * 24); // by Content-ID
}

TEST_F(PlayersTest, WebPageNamesAreTakenAsTheyStand)
{
    TForm1& f = Show();
    // '#' and '%' belong to the name; a FIFO is refused without waiting.
    dir.Write("odd#name%20.html", "<p>odd name</p>");
    View(dir.Path("odd#name%20.html"));
    EXPECT_NE(f.bs->PageText().find("odd name"), std::string::npos);
    // A name that is no UTF-8, and a picture named so, written escaped.
    dir.Write("caf\xE9.html", "<p>latin name</p><img src=\"pic%E9.png\" width=\"32\" height=\"32\">");
    Copy("pic.png", "pic\xE9.png");
    View(dir.Path("caf\xE9.html"));
    EXPECT_NE(f.bs->PageText().find("latin name"), std::string::npos);
    EXPECT_GE(CountColour(f.bs->Widget()->grab().toImage(), qRgb(255, 0, 0)), 32 * 32);
    ASSERT_EQ(::mkfifo(dir.Path("pipe.html").c_str(), 0600), 0);
    View(dir.Path("pipe.html"));
    EXPECT_NE(f.bs->PageText().find("cannot open the device or file"), std::string::npos);
    // A page too large to lay out in reasonable time is not read at all.
    dir.Write("huge.html", "<p>");
    std::filesystem::resize_file(dir.Path("huge.html"), kMaxWebPageBytes + 1);
    View(dir.Path("huge.html"));
    EXPECT_NE(f.bs->PageText().find("too large"), std::string::npos);
}

// ---- PDF ------------------------------------------------------------------------------------

TEST_F(PlayersTest, PdfStepsZoomsFitsAndGoesToPages)
{
    TForm1& f = Show();
    View(Copy("sample.pdf"));
    EXPECT_EQ(PdfStatus(0), "1/3 pages");
    EXPECT_EQ(PdfStatus(1), "zoom:100%");
    struct Step {
        TToolButton* button;
        const char* pages;
        const char* zoom;
    };
    const Step steps[] = {
        {f.ToolButton12, "2/3 pages", "zoom:100%"},
        {f.ToolButton13, "3/3 pages", "zoom:100%"},
        {f.ToolButton12, "3/3 pages", "zoom:100%"}, // past the last page
        {f.ToolButton11, "2/3 pages", "zoom:100%"},
        {f.ToolButton3, "1/3 pages", "zoom:100%"},
        {f.ToolButton11, "1/3 pages", "zoom:100%"}, // before the first
        {f.ToolButton14, "1/3 pages", "zoom:125%"},
        {f.ToolButton14, "1/3 pages", "zoom:150%"},
        {f.ToolButton15, "1/3 pages", "zoom:125%"},
        {f.ToolButton19, "1/3 pages", "zoom:100%"},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.button->Name());
        s.button->Click();
        EXPECT_EQ(PdfStatus(0), s.pages);
        EXPECT_EQ(PdfStatus(1), s.zoom);
    }
    // Fit width: the page (612 points, 816 pixels at 100 %) fills the
    // window's width less its margins; fit height fits the whole page.
    const QWidget* viewport = f.pv->Widget()->findChild<QWidget*>("qt_scrollarea_viewport");
    ASSERT_NE(viewport, nullptr);
    f.ToolButton23->Click();
    EXPECT_EQ(PdfStatus(1), "zoom:" + IntToStr(static_cast<int>((viewport->width() - 16) / 816.0 * 100)) + "%");
    f.ToolButton46->Click();
    EXPECT_LE(f.pv->Scale() * 1056, viewport->height());
    f.ToolButton19->Click();

    // Goto: a number goes there (clamped to the pages); a word leaves the
    // page as it was, and the status is refreshed either way.
    const std::pair<const char*, const char*> gotos[] = {{"3", "3/3 pages"}, {"zebra", "3/3 pages"},
        {"2", "2/3 pages"}, {"99", "3/3 pages"}, {"-4", "1/3 pages"}};
    for (const auto& [text, pages] : gotos) {
        f.sbpdf->SetPanelText(0, "stale");
        f.Edit2->SetText(text);
        f.ToolButton20->Click();
        EXPECT_EQ(PdfStatus(0), pages) << text;
    }
}

TEST_F(PlayersTest, PdfWhoseNameIsNoUtf8Opens)
{
    TForm1& f = Show();
    View(Copy("sample.pdf", "r\xE9sum\xE9.pdf"));
    EXPECT_EQ(PdfStatus(0), "1/3 pages");
    EXPECT_EQ(f.pv->PageCount(), 3);
}

TEST_F(PlayersTest, PdfPasswordIsAskedForAndAWrongOneSaysSo)
{
    TForm1& f = Show();
    const std::string locked = Copy("locked.pdf");
    prompts->PushText("secret");
    View(locked);
    ASSERT_EQ(prompts->asked.size(), 1u);
    EXPECT_EQ(prompts->asked[0].kind, "input");
    EXPECT_EQ(prompts->asked[0].caption, "PASSWORD");
    EXPECT_EQ(prompts->asked[0].text, "password");
    EXPECT_EQ(prompts->asked[0].proposed, "");
    EXPECT_TRUE(prompts->asked[0].password);
    EXPECT_EQ(PdfStatus(0), "1/3 pages");
    EXPECT_EQ(Panel(0), locked);

    f.ToolButton12->Click();
    ASSERT_EQ(PdfStatus(0), "2/3 pages");
    prompts->PushText("wrong");
    View(locked);
    EXPECT_EQ(Panel(0), "Password wrong or the file is corrupt.Error Code=-2");
    EXPECT_EQ(PdfStatus(0), "0/0 pages");
    prompts->PushCancel();
    View(locked);
    EXPECT_EQ(Panel(0), "Password wrong or the file is corrupt.Error Code=-2");
    EXPECT_EQ(f.pv->PageCount(), 0);
}

TEST_F(PlayersTest, PdfThatCannotBeReadShowsNoPagesOfTheDocumentBefore)
{
    TForm1& f = Show();
    View(Copy("sample.pdf"));
    ASSERT_EQ(f.pv->PageCount(), 3);
    f.ToolButton14->Click();
    ASSERT_EQ(PdfStatus(1), "zoom:125%");
    View(Copy("truncated.pdf"));
    EXPECT_EQ(Panel(0), "Failed to view this file! Error Code=-3");
    // Nor is its page count or zoom in the PDF status.
    EXPECT_EQ(PdfStatus(0), "0/0 pages");
    EXPECT_EQ(PdfStatus(1), "zoom:100%");
    EXPECT_EQ(FrontPreviewPanel(), "PanelPdf");
    EXPECT_EQ(f.pv->PageCount(), 0);
    EXPECT_EQ(f.pv->CanCopy(), 0);
    // No page of the sample is left on screen.
    const QImage shot = f.pv->Widget()->grab().toImage();
    EXPECT_EQ(CountColour(shot, qRgb(255, 255, 255)), 0);
    // Nor is the sample's permission to copy.
    f.SelectAll2->Click();
    f.Copy2->Click();
    EXPECT_EQ(Messages(), (std::vector<std::string> {"This document can not be copied."}));
}

TEST_F(PlayersTest, PdfFindGoesToThePageOfTheWord)
{
    TForm1& f = Show();
    View(Copy("sample.pdf"));
    prompts->PushText("ZEBRA");
    f.ToolButton18->Click();
    EXPECT_EQ(prompts->asked.back().caption, "Find");
    EXPECT_EQ(prompts->asked.back().text, "Find String");
    EXPECT_EQ(f.pv->CurrentPageNo(), 3);
    // A word found on every page: from the place found last, round the end.
    prompts->PushText("quick brown");
    f.ToolButton18->Click();
    EXPECT_EQ(f.pv->CurrentPageNo(), 3);
    f.pv->GotoFirst();
    f.Clearfindresult1->Click();
    prompts->PushText("no such words");
    f.ToolButton18->Click();
    EXPECT_EQ(f.pv->CurrentPageNo(), 1);
    prompts->PushCancel();
    f.ToolButton18->Click();
    EXPECT_EQ(f.pv->CurrentPageNo(), 1);
}

TEST_F(PlayersTest, PdfCopyPutsTheSelectionOnTheClipboardWhenTheDocumentAllowsIt)
{
    TForm1& f = Show();
    View(Copy("sample.pdf"));
    QGuiApplication::clipboard()->setText("before");
    f.Copy2->Click(); // nothing selected: the clipboard keeps its text
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "before");
    f.SelectAll2->Click();
    f.Copy2->Click();
    const std::string copied = QGuiApplication::clipboard()->text().toStdString();
    EXPECT_NE(copied.find("Page 1 of the sample"), std::string::npos);
    EXPECT_NE(copied.find("Page 3 of the sample zebra"), std::string::npos);
    f.Clearselect1->Click();
    EXPECT_TRUE(f.pv->GetSelectedText().empty());

    View(Copy("nocopy.pdf"));
    EXPECT_EQ(PdfStatus(0), "1/3 pages");
    QGuiApplication::clipboard()->setText("before");
    f.SelectAll2->Click();
    f.Copy2->Click();
    EXPECT_EQ(Messages(), (std::vector<std::string> {"This document can not be copied."}));
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "before");
}

TEST_F(PlayersTest, PdfPageCounterAndPageBoxFollowThePageShown)
{
    TForm1& f = Show();
    View(Copy("sample.pdf"));
    EXPECT_EQ(f.Edit2->Text(), "1");
    QWidget* viewport = f.pv->Widget()->findChild<QWidget*>("qt_scrollarea_viewport");
    ASSERT_NE(viewport, nullptr);
    // The wheel scrolls down until the second page is the one shown.
    for (int turns = 0; turns < 200 && f.pv->CurrentPageNo() == 1; ++turns) {
        const QPointF at(viewport->width() / 2.0, viewport->height() / 2.0);
        QWheelEvent wheel(at, viewport->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
            Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewport, &wheel);
    }
    ASSERT_EQ(f.pv->CurrentPageNo(), 2);
    EXPECT_EQ(PdfStatus(0), "2/3 pages");
    EXPECT_EQ(f.Edit2->Text(), "2");
    // A Find that lands on another page.
    prompts->PushText("ZEBRA");
    f.ToolButton18->Click();
    EXPECT_EQ(PdfStatus(0), "3/3 pages");
    EXPECT_EQ(f.Edit2->Text(), "3");
    // The next document starts at its first page, in the box too.
    View(Copy("nocopy.pdf"));
    EXPECT_EQ(PdfStatus(0), "1/3 pages");
    EXPECT_EQ(f.Edit2->Text(), "1");
    // A document that cannot be read leaves the box empty.
    View(Copy("truncated.pdf"));
    EXPECT_EQ(f.Edit2->Text(), "");
}

TEST_F(PlayersTest, PdfCtrlCCopiesAsTheMenusCopyDoes)
{
    TForm1& f = Show();
    View(Copy("sample.pdf"));
    f.SelectAll2->Click();
    QGuiApplication::clipboard()->setText("before");
    QTest::keyClick(f.pv->Widget(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_NE(QGuiApplication::clipboard()->text().toStdString().find("Page 3 of the sample zebra"), std::string::npos);
    // A document that forbids copying says so, and the clipboard keeps its text.
    View(Copy("nocopy.pdf"));
    f.SelectAll2->Click();
    QGuiApplication::clipboard()->setText("before");
    QTest::keyClick(f.pv->Widget(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(Messages(), (std::vector<std::string> {"This document can not be copied."}));
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "before");
}

TEST_F(PlayersTest, PdfExtractTextOpensTheTextWindowForADocumentThatMayBeCopied)
{
    TForm1& f = Show();
    // The program makes the window at start-up.
    const std::unique_ptr<TfrmPDF> window(frmPDF = new TfrmPDF(nullptr));
    const std::string pdf = Copy("sample.pdf", "a.pdf");
    View(pdf);
    bool shown = false;
    WhenModal([&](QWidget* w) {
        ASSERT_EQ(w, frmPDF->Widget());
        shown = true;
        EXPECT_EQ(frmPDF->Edit1->Text(), pdf);
        EXPECT_EQ(frmPDF->Edit2->Text(), pdf + ".txt");
        ClickWidget(frmPDF->Button1->Widget());
        ClickWidget(frmPDF->Button2->Widget());
    });
    f.ExtracttextfromPDF2->Click();
    EXPECT_TRUE(shown);
    EXPECT_EQ(Messages(), (std::vector<std::string> {"Extract OK!"}));
    EXPECT_NE(dir.Read("a.pdf.txt").find("Page 3 of the sample zebra"), std::string::npos);

    prompts->asked.clear();
    View(Copy("nocopy.pdf"));
    f.ExtracttextfromPDF2->Click();
    EXPECT_EQ(Messages(),
        (std::vector<std::string> {"This document is not permitted to be copied.\nSo we can not get the text."}));
    frmPDF = nullptr;
}

TEST_F(PlayersTest, ConvertWavToMp3FromTheToolsMenuStartsFromTheCurrentFile)
{
    TForm1& f = Show();
    dir.Write("take.wav", PlayerFixtureBytes("../convert/mono44100.wav"));
    f.CurrentFile = dir.Path("take.wav");
    ASSERT_TRUE(f.ConvertWAVtoMP31->Enabled());
    bool shown = false;
    WhenModal([&](QWidget* w) {
        // The main window owns the converter while it is shown.
        TFormWav2Mp3* converter = nullptr;
        for (int i = 0; i < f.ComponentCount(); ++i)
            if (auto* c = dynamic_cast<TFormWav2Mp3*>(f.Component(i)); c && c->Widget() == w)
                converter = c;
        ASSERT_NE(converter, nullptr);
        shown = true;
        EXPECT_EQ(converter->Edit1->Text(), dir.Path("take.wav"));
        EXPECT_EQ(converter->Edit2->Text(), dir.Path("take.mp3"));
        ClickWidget(converter->Encode->Widget());
        ClickWidget(converter->Button2->Widget());
    });
    f.ConvertWAVtoMP31->Click();
    EXPECT_TRUE(shown);
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(dir.Read("take.mp3"), PlayerFixtureBytes("../convert/mono44100.mp3"));
}

TEST_F(PlayersTest, PdfRotationTurnsThePages)
{
    TForm1& f = Show();
    View(Copy("sample.pdf"));
    // Where the red square (top left of the upright page) shows, as shares
    // of the page's width and height, the whole page fitted in the window.
    auto squareAt = [&]() -> QPointF {
        f.ToolButton46->Click();
        const QImage shot = f.pv->Widget()->grab().toImage();
        QRect page;
        long sx = 0, sy = 0, n = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x) {
                const QRgb p = shot.pixel(x, y);
                if (p == qRgb(255, 255, 255))
                    page |= QRect(x, y, 1, 1);
                if (qRed(p) > 200 && qGreen(p) < 60 && qBlue(p) < 60) {
                    sx += x;
                    sy += y;
                    ++n;
                }
            }
        if (n == 0 || page.isEmpty())
            return QPointF(-1, -1);
        return QPointF((double(sx) / n - page.left()) / page.width(), (double(sy) / n - page.top()) / page.height());
    };
    const QPointF upright = squareAt();
    EXPECT_LT(upright.x(), 0.2);
    EXPECT_LT(upright.y(), 0.2);
    // -90: a quarter turn to the left puts the top left corner at the bottom left.
    f.Rotate901->Click();
    const QPointF left = squareAt();
    EXPECT_LT(left.x(), 0.2);
    EXPECT_GT(left.y(), 0.8);
    // 90: to the top right; 180: to the bottom right.
    f.Rotate2->Click();
    const QPointF right = squareAt();
    EXPECT_GT(right.x(), 0.8);
    EXPECT_LT(right.y(), 0.2);
    f.Rotate1801->Click();
    const QPointF down = squareAt();
    EXPECT_GT(down.x(), 0.8);
    EXPECT_GT(down.y(), 0.8);
    f.Norotate1->Click();
    EXPECT_EQ(squareAt(), upright);
}

TEST_F(PlayersTest, PdfPrintsThroughThePrintDialog)
{
    TForm1& f = Show();
    View(Copy("sample.pdf"));
    TPrintChoice choice;
    choice.OutputFile = dir.Path("printed.pdf");
    choice.FromPage = 2;
    choice.ToPage = 3;
    prompts->PushPrint(choice);
    f.Print1->Click();
    ASSERT_EQ(prompts->asked.back().kind, "print");
    EXPECT_EQ(prompts->asked.back().text, "sample.pdf");
    EXPECT_EQ(prompts->asked.back().proposed, "1-3");
    const std::string printed = dir.Read("printed.pdf");
    EXPECT_EQ(printed.compare(0, 5, "%PDF-"), 0);
    EXPECT_NE(printed.find("/Count 2"), std::string::npos);
    // Cancelled: nothing printed.
    prompts->PushCancel();
    std::filesystem::remove(dir.Path("printed.pdf"));
    f.Print1->Click();
    EXPECT_FALSE(dir.Exists("printed.pdf"));
}

TEST_F(PlayersTest, PdfSelectModeSelectsTheTextUnderADrag)
{
    TForm1& f = Show();
    View(Copy("sample.pdf"));
    f.ToolButton16->Click();
    EXPECT_EQ(f.pv->WorkMode(), 1);
    EXPECT_FALSE(f.ToolButton17->Down());
    QWidget* viewport = f.pv->Widget()->findChild<QWidget*>("qt_scrollarea_viewport");
    ASSERT_NE(viewport, nullptr);
    // The heading of page 1 lies about 62 points (83 pixels) below the page's
    // top, from 100 points (133 pixels) to the right of its left edge.
    const int pageLeft = std::max(8, (viewport->width() - 816) / 2);
    QTest::mousePress(viewport, Qt::LeftButton, {}, QPoint(pageLeft + 120, 8 + 60));
    QTest::mouseMove(viewport, QPoint(pageLeft + 700, 8 + 100));
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, QPoint(pageLeft + 700, 8 + 100));
    EXPECT_EQ(Utf16ToUtf8(f.pv->GetSelectedText()), "Page 1 of the sample");
    // In drag mode the same drag moves the pages and selects nothing new.
    f.ToolButton17->Click();
    EXPECT_EQ(f.pv->WorkMode(), 0);
}
