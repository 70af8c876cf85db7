// Printing of the extended hex editor, rendered onto a recording canvas:
// page layout and counts, the selection, view and ruler options, fonts that
// shrink to fit, header and footer templates, colours and emphasis, and the
// options object.
#include "hex_fixture.h"
#include "test_support/canvas_recorder.h"
#include "test_support/error_of.h"
#include "test_support/temp_dir.h"

#include <functional>
#include <map>

namespace {

// What a page shows, one row per baseline, each row's runs from left to right.
struct Page {
    explicit Page(const CanvasRecorder& rec)
    {
        std::map<int, std::vector<const RecordedText*>> byBaseline;
        for (const RecordedText& t : rec.Texts())
            byBaseline[qRound(t.At.y())].push_back(&t);
        for (auto& [y, runs] : byBaseline) {
            std::stable_sort(runs.begin(), runs.end(),
                             [](const RecordedText* a, const RecordedText* b) { return a->At.x() < b->At.x(); });
            rows.push_back(runs);
            std::string text;
            for (const RecordedText* r : runs)
                text += r->Text;
            lines.push_back(text);
        }
    }
    std::vector<std::vector<const RecordedText*>> rows;
    std::vector<std::string> lines;
};

class HexPrintTest : public HexExTest {
protected:
    void SetUp() override
    {
        HexExTest::SetUp();
        // The hex panel's layout: a blank after every byte, 8 hex digits of offset.
        hex->SetBytesPerColumn(1);
        hex->SetOffsetFormat("8!10:|");
        hex->PrintOptions().SetFlags(0);
        rec = std::make_unique<CanvasRecorder>(3000, 3000);
        Canvas().Font().SetName("Courier New");
        Canvas().Font().SetSize(10);
        lineHeight = Canvas().TextHeight("0");
        charWidth = Canvas().TextWidth("w");
    }
    TCanvas& Canvas() { return rec->Canvas(); }
    void SetFlags(std::initializer_list<TZAZPrintFlag> flags)
    {
        TZAZPrintFlags set = 0;
        for (TZAZPrintFlag f : flags)
            set |= PrintFlag(f);
        hex->PrintOptions().SetFlags(set);
    }
    // A rectangle as wide as the canvas that holds lines rows of text.
    TRect Lines(int lines) const { return Rect(0, 0, 2500, lines * lineHeight); }
    // Prints a page onto a fresh recording and reads it back.
    Page PrintPage(std::int32_t page, const TRect& rect, std::int32_t* pages = nullptr)
    {
        rec = std::make_unique<CanvasRecorder>(3000, 3000);
        Canvas().Font().SetName("Courier New");
        Canvas().Font().SetSize(10);
        const std::int32_t count = hex->PrintToCanvas(Canvas(), page, rect);
        if (pages)
            *pages = count;
        return Page(*rec);
    }

    std::unique_ptr<CanvasRecorder> rec;
    int lineHeight = 0;
    int charWidth = 0;
};

// ====================================================================== layout and pages

TEST_F(HexPrintTest, AThousandBytesAtFiftyLinesMakeTwoPages)
{
    LoadBytes(Pattern(1000));
    EXPECT_EQ(hex->PrintToCanvas(Canvas(), 0, Lines(50)), 2);
    EXPECT_TRUE(rec->Texts().empty());  // page 0 only counts

    const Page first = PrintPage(1, Lines(50));
    ASSERT_EQ(first.lines.size(), 50u);
    EXPECT_EQ(first.lines[0], "00000000: 00 07 0E 15 1C 23 2A 31 38 3F 46 4D 54 5B 62 69  .....#*18?FMT[bi");
    EXPECT_EQ(first.lines[49].substr(0, 10), "00000310: ");

    std::int32_t pages = 0;
    const Page second = PrintPage(2, Lines(50), &pages);
    EXPECT_EQ(pages, 2);
    ASSERT_EQ(second.lines.size(), 13u);  // 63 lines in all
    EXPECT_EQ(second.lines[0].substr(0, 10), "00000320: ");
    // The last line shows its 8 bytes and blanks past the end of the data.
    const std::string& last = second.lines[12];
    EXPECT_EQ(last, "000003E0: 23 2A 31 38 3F 46 4D 54 " + std::string(23, ' ') + "  #*18?FMT" + std::string(8, ' '));

    for (std::int32_t page : {3, -1})
        EXPECT_EQ(ErrorOf([&] { hex->PrintToCanvas(Canvas(), page, Lines(50)); }), "Invalid Page Index") << page;
}

TEST_F(HexPrintTest, NoDataGivesNoPages)
{
    EXPECT_EQ(hex->PrintToCanvas(Canvas(), 0, Lines(50)), 0);
    EXPECT_EQ(ErrorOf([&] { hex->PrintToCanvas(Canvas(), 1, Lines(50)); }), "Invalid Page Index");
}

TEST_F(HexPrintTest, ARectangleWithoutRoomForOneLineFailsInsteadOfDividingByZero)
{
    LoadBytes(Pattern(100));
    hex->PrintOptions().SetPageHeader("header");
    struct Case {
        const char* what;
        TRect rect;
    };
    const Case cases[] = {
        {"lower than a line", Rect(0, 0, 2500, lineHeight - 1)},
        {"all taken by the header", Rect(0, 0, 2500, 2 * lineHeight)},
        {"upside down", Rect(0, 100, 2500, 0)},
    };
    for (const Case& c : cases)
        for (std::int32_t page : {0, 1})
            EXPECT_EQ(ErrorOf([&] { hex->PrintToCanvas(Canvas(), page, c.rect); }), "Printing Failed")
                << c.what << ", page " << page;
    // One line's room is enough.
    EXPECT_EQ(hex->PrintToCanvas(Canvas(), 0, Rect(0, 0, 2500, 3 * lineHeight)), 7);
}

TEST_F(HexPrintTest, SelectionOnlyPrintsTheSelectedBytesFromTheirFirst)
{
    LoadBytes(Pattern(1000));
    SetFlags({pfSelectionOnly, pfSelectionBold});
    hex->NewSelection(5, 21);  // 17 bytes
    std::int32_t pages = 0;
    const Page page = PrintPage(1, Lines(50), &pages);
    EXPECT_EQ(pages, 1);
    ASSERT_EQ(page.lines.size(), 2u);
    EXPECT_EQ(page.lines[0], "00000005: 23 2A 31 38 3F 46 4D 54 5B 62 69 70 77 7E 85 8C  #*18?FMT[bipw~\u2026\u0152");
    EXPECT_EQ(page.lines[1], "00000015: 93" + std::string(45, ' ') + "  \u201C" + std::string(15, ' '));
    // Emphasis is for a print of the whole data only.
    for (const RecordedText& t : rec->Texts())
        EXPECT_FALSE(t.Bold) << t.Text;

    // Without a selection the option prints everything.
    hex->ResetSelection(false);
    EXPECT_EQ(hex->PrintToCanvas(Canvas(), 0, Lines(50)), 2);
}

TEST_F(HexPrintTest, CurrentViewOnlyPrintsTheRowsOnScreen)
{
    LoadBytes(Pattern(1000));
    hex->SetTopRow(12);
    const std::int32_t first = hex->DisplayStart(), last = hex->DisplayEnd();
    ASSERT_EQ(first, 160);
    ASSERT_GT(last, first);
    SetFlags({pfCurrentViewOnly});
    std::int32_t pages = 0;
    const Page page = PrintPage(1, Lines(100), &pages);
    EXPECT_EQ(pages, 1);
    ASSERT_EQ(static_cast<std::int32_t>(page.lines.size()), (last - first) / 16 + 1);
    EXPECT_EQ(page.lines.front().substr(0, 10), "000000A0: ");
    EXPECT_EQ(page.lines.back().substr(0, 10), Format("%08X: ", static_cast<unsigned>(last / 16 * 16)));
}

TEST_F(HexPrintTest, TheRulerStandsAboveTheLinesWhenTheControlShowsOne)
{
    LoadBytes(Pattern(1000));
    SetFlags({pfIncludeRuler});
    hex->SetShowRuler(false);
    EXPECT_EQ(PrintPage(1, Lines(10)).lines.size(), 10u);

    hex->SetShowRuler(true);
    const Page page = PrintPage(1, Lines(10));
    ASSERT_EQ(page.lines.size(), 9u);  // the ruler takes 1.5 lines: 8 lines fit below it
    EXPECT_EQ(page.lines[0], std::string(10, ' ') + "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F  0123456789ABCDEF");
    EXPECT_EQ(page.lines[1].substr(0, 10), "00000000: ");
    // Each ruler cell is underlined.
    EXPECT_EQ(rec->Lines().size(), page.lines[0].size());

    // With background colours the ruler is one line high and has no colon gap.
    SetFlags({pfIncludeRuler, pfUseBackgroundColor});
    const Page coloured = PrintPage(1, Lines(10));
    ASSERT_EQ(coloured.lines.size(), 10u);
    EXPECT_EQ(coloured.lines[0].substr(0, 12), std::string(9, ' ') + "00 ");
    EXPECT_EQ(coloured.lines[1].substr(0, 12), "00000000 00 ");
    EXPECT_TRUE(rec->Lines().empty());
}

TEST_F(HexPrintTest, AFontTooWideForTheRectangleShrinksDownToOnePoint)
{
    LoadBytes(Pattern(100));
    const int fullWidth = Canvas().TextWidth(std::string(75, '0'));
    const int fullPixels = -Canvas().Font().Height();
    PrintPage(1, Rect(0, 0, fullWidth / 2, 2000));
    int widest = 0;
    for (const RecordedText& t : rec->Texts()) {
        EXPECT_LT(t.PixelSize, fullPixels) << "shrunk";
        widest = std::max(widest, static_cast<int>(t.At.x()));
    }
    EXPECT_LT(widest, fullWidth / 2);
    EXPECT_EQ(Canvas().Font().Size(), 10);  // the canvas keeps its font

    // Nothing fits: the font stops at 1 point.
    PrintPage(1, Rect(0, 0, 5, 2000));
    ASSERT_FALSE(rec->Texts().empty());
    for (const RecordedText& t : rec->Texts())
        EXPECT_EQ(t.PixelSize, 1);
}

// ====================================================================== header and footer

TEST_F(HexPrintTest, TemplatesNameTheFileThePageAndThePageCount)
{
    TempDir dir;
    dir.Write("a.bin", Pattern(450));  // 29 lines: 3 pages of 10
    hex->LoadFromFile(dir.Path("a.bin"));
    hex->PrintOptions().SetPageHeader("%f - page %p of %P");
    hex->PrintOptions().SetPageFooter("100% %x %F");
    std::int32_t pages = 0;
    const Page page = PrintPage(2, Lines(13), &pages);
    EXPECT_EQ(pages, 3);
    ASSERT_EQ(page.lines.size(), 12u);
    EXPECT_EQ(page.lines.front(), "a.bin - page 2 of 3");
    EXPECT_EQ(page.lines[1].substr(0, 10), "000000A0: ");
    EXPECT_EQ(page.lines.back(), "100% %x " + dir.Path("a.bin"));
    // A rule under the header and one above the footer.
    ASSERT_EQ(rec->Lines().size(), 2u);
    EXPECT_EQ(rec->Lines()[0].Line.y1(), lineHeight);
    EXPECT_EQ(rec->Lines()[1].Line.y1(), 12 * lineHeight);
}

TEST_F(HexPrintTest, TranslationNamesAndDates)
{
    LoadBytes(Pattern(64));
    TZAZCanvasPrinter printer(*hex, "", "", Lines(10), 0, Canvas());
    struct Case {
        TZAZTranslationKind kind;
        const char* expected;
    };
    const Case cases[] = {
        {tkAsIs, "WIN Windows"},   {tkDos8, "DOS Dos 8 Bit"},         {tkASCII, "ASC ASCII 7 Bit"},
        {tkMac, "MAC Macintosh"}, {tkBCD, "BCD EBCDIC Codepage 38"}, {tkCustom, "Cust Custom Translation"},
    };
    for (const Case& c : cases) {
        hex->SetTranslation(c.kind);
        EXPECT_EQ(printer.ExpandTemplate("%< %>", 1), c.expected);
    }
    hex->SetTranslation(tkAsIs);
    hex->SetBytesPerColumn(2);
    hex->SetUnicodeChars(true);
    hex->SetUnicodeBigEndian(false);
    EXPECT_EQ(printer.ExpandTemplate("%< %>", 1), "UCLE Unicode Little Endian");
    hex->SetUnicodeBigEndian(true);
    EXPECT_EQ(printer.ExpandTemplate("%< %>", 1), "UCBE Unicode Big Endian");
    // Case matters, "%%" is no placeholder, a lone % at the end stays; today's date.
    EXPECT_EQ(printer.ExpandTemplate("%D %T %%p 50%", 7), "%D %T %%p 50%");
    EXPECT_EQ(printer.ExpandTemplate("%d", 1), DateToStr(Now()));
}

TEST_F(HexPrintTest, BarsPlaceTheLeftCentreAndRightParts)
{
    LoadBytes(Pattern(64));
    const TRect rect = Rect(100, 0, 1100, 10 * lineHeight);
    struct Case {
        const char* header;
        std::vector<std::pair<std::string, int>> runs;  // text and its left edge
    };
    const int centre = 600;
    const std::vector<Case> cases = {
        {"L|Centre|Right", {{"L", 100}, {"Centre", centre - Canvas().TextWidth("Centre") / 2},
                            {"Right", 1100 - Canvas().TextWidth("Right")}}},
        {"Left|", {{"Left", 100}}},
        {"|C", {{"C", centre - Canvas().TextWidth("C") / 2}}},
        {"||R|x", {{"R|x", 1100 - Canvas().TextWidth("R|x")}}},
        {"no bars", {{"no bars", 100}}},
    };
    for (const Case& c : cases) {
        hex->PrintOptions().SetPageHeader(c.header);
        const Page page = PrintPage(1, rect);
        const auto& header = page.rows.front();
        ASSERT_EQ(header.size(), c.runs.size()) << c.header;
        for (size_t i = 0; i < header.size(); ++i) {
            EXPECT_EQ(header[i]->Text, c.runs[i].first) << c.header;
            EXPECT_EQ(qRound(header[i]->At.x()), c.runs[i].second) << c.header;
        }
    }
}

// ====================================================================== colours and emphasis

class HexPrintColourTest : public HexPrintTest {
protected:
    void SetUp() override
    {
        HexPrintTest::SetUp();
        TZAZColors& c = hex->Colors();
        c.SetBackground(RGB(200, 230, 255));
        c.SetActiveFieldBackground(RGB(180, 255, 180));
        c.SetOddColumn(RGB(0, 0, 160));
        c.SetEvenColumn(RGB(160, 0, 0));
        c.SetChangedText(RGB(128, 0, 0));
        c.SetChangedBackground(RGB(255, 255, 168));
        c.SetOffset(RGB(10, 20, 30));
        c.SetOffsetBackGround(RGB(240, 240, 240));
        c.SetCurrentOffset(RGB(255, 255, 255));
        c.SetCurrentOffsetBackground(RGB(100, 100, 100));
        hex->Font().SetColor(RGB(0, 100, 0));
        LoadBytes(Pattern(64));
        hex->IntChangeByte(hex->GetDataAt(20), 0xAB, 20, 0, 0);  // a changed byte on line 2
        hex->NewSelection(17, 18);
    }
    // The text and fill of character k of a printed line.
    const RecordedText& Char(const Page& page, size_t line, size_t k) { return *page.rows.at(line).at(k); }
    TColor FillOf(const RecordedText& t) { return rec->FillAt(QPointF(t.At.x() + 1, t.At.y() - 2)); }
    // Character index of a byte's first hex digit and of its character.
    static size_t HexChar(int byteInLine) { return 10 + 3 * static_cast<size_t>(byteInLine); }
    static size_t CharField(int byteInLine) { return 10 + 47 + 2 + static_cast<size_t>(byteInLine); }
};

TEST_F(HexPrintColourTest, MonochromeIsBlackOnWhite)
{
    SetFlags({pfMonochrome, pfUseBackgroundColor, pfSelectionBold, pfIncludeRuler});
    hex->SetShowRuler(true);
    const Page page = PrintPage(1, Lines(20));
    ASSERT_EQ(page.lines.size(), 5u);
    for (const RecordedText& t : rec->Texts())
        EXPECT_EQ(t.Color, clBlack) << t.Text;
    for (const RecordedFill& f : rec->Fills())
        EXPECT_EQ(f.Color, clWhite);
    // Emphasis is bold then: the selected bytes.
    EXPECT_TRUE(Char(page, 2, HexChar(1)).Bold);
    EXPECT_TRUE(Char(page, 2, CharField(2)).Bold);
    EXPECT_FALSE(Char(page, 2, HexChar(3)).Bold);
}

TEST_F(HexPrintColourTest, BackgroundColoursPaintTheControlsColoursAndInvertTheSelection)
{
    SetFlags({pfUseBackgroundColor, pfSelectionBold});
    const TZAZColors& c = hex->Colors();
    const Page page = PrintPage(1, Lines(10));
    ASSERT_EQ(page.lines.size(), 4u);
    for (const RecordedText& t : rec->Texts())
        EXPECT_FALSE(t.Bold) << t.Text;  // inverted, not bold

    struct Expect {
        const char* what;
        size_t line, k;
        TColor text, fill;
    };
    const Expect cases[] = {
        {"offset", 1, 0, c.Offset(), c.OffsetBackGround()},
        {"offset's last blank", 1, 8, hex->Font().Color(), c.Background()},
        {"caret's row", 0, 0, c.CurrentOffset(), c.CurrentOffsetBackground()},
        {"odd column", 1, HexChar(0), c.OddColumn(), c.ActiveFieldBackground()},
        {"even column", 0, HexChar(1) + 1, c.EvenColumn(), c.ActiveFieldBackground()},
        {"gap after a byte", 1, HexChar(0) + 2, c.OddColumn(), c.ActiveFieldBackground()},
        {"selected byte", 1, HexChar(1), InvertColor(c.EvenColumn()), InvertColor(c.ActiveFieldBackground())},
        {"selected character", 1, CharField(2), InvertColor(hex->Font().Color()), InvertColor(c.Background())},
        {"changed byte", 1, HexChar(4), c.ChangedText(), c.ChangedBackground()},
        {"changed character", 1, CharField(4), c.ChangedText(), c.ChangedBackground()},
        {"gap between the fields", 1, 10 + 47, hex->Font().Color(), c.Background()},
        {"character", 1, CharField(0), hex->Font().Color(), c.Background()},
    };
    for (const Expect& e : cases) {
        // The offset has no colon here: one character less.
        const size_t k = e.k >= 10 ? e.k - 1 : e.k;
        const RecordedText& t = Char(page, e.line, k);
        EXPECT_EQ(t.Color, static_cast<TColor>(ColorToRGB(e.text))) << e.what << " '" << t.Text << "'";
        EXPECT_EQ(FillOf(t), static_cast<TColor>(ColorToRGB(e.fill))) << e.what << " '" << t.Text << "'";
    }
}

TEST_F(HexPrintColourTest, WithoutBackgroundColoursTextIsColouredOnWhiteAndWhiteTurnsBlack)
{
    SetFlags({pfSelectionBold});
    hex->Colors().SetOddColumn(clWhite);
    const Page page = PrintPage(1, Lines(10));
    for (const RecordedFill& f : rec->Fills())
        EXPECT_EQ(f.Color, clWhite);
    EXPECT_EQ(Char(page, 1, HexChar(0)).Color, clBlack);
    EXPECT_EQ(Char(page, 1, HexChar(1)).Color, static_cast<TColor>(ColorToRGB(hex->Colors().EvenColumn())));
    EXPECT_EQ(Char(page, 1, 0).Color, hex->Font().Color());  // offsets in the font colour
    EXPECT_TRUE(Char(page, 1, HexChar(1)).Bold);
    EXPECT_FALSE(Char(page, 1, HexChar(4)).Bold);
}

TEST_F(HexPrintColourTest, TheCaretsRowAndColumnAreEmphasised)
{
    SetFlags({pfSelectionBold, pfIncludeRuler});
    hex->SetShowRuler(true);
    hex->ResetSelection(false);
    hex->Seek(35, 0);  // line 3, byte 3, hexadecimal field
    const Page page = PrintPage(1, Lines(10));
    ASSERT_EQ(page.lines.size(), 5u);
    std::vector<size_t> boldRuler;
    for (size_t k = 0; k < page.rows[0].size(); ++k)
        if (page.rows[0][k]->Bold)
            boldRuler.push_back(k);
    // The ruler's character above the caret: its high digit.
    EXPECT_EQ(boldRuler, std::vector<size_t>{HexChar(3)});
    for (size_t line = 1; line < page.rows.size(); ++line)
        for (size_t k = 0; k < page.rows[line].size(); ++k)
            EXPECT_EQ(page.rows[line][k]->Bold, line == 3 && k < 10) << line << " " << k;
}

TEST_F(HexPrintTest, AUnicodeCharacterCutByTheRangeEndPrintsAsABlank)
{
    LoadBytes(Bytes({'A', 0, 'B', 0, 'C', 0, 'D', 0}));
    hex->SetBytesPerColumn(2);
    hex->SetUnicodeChars(true);
    SetFlags({pfSelectionOnly});
    hex->SetSelection(0, 0, 2);  // three bytes: the second character's high byte lies past the end
    const Page page = PrintPage(1, Lines(10));
    ASSERT_EQ(page.lines.size(), 1u);
    // Two bytes a column: 32 digits and 7 gaps.
    EXPECT_EQ(page.lines[0], "00000000: 4100 42" + std::string(32, ' ') + "  A" + std::string(7, ' '));

    hex->SetSelection(0, 0, 3);
    EXPECT_EQ(PrintPage(1, Lines(10)).lines[0].substr(10 + 39 + 2), "AB" + std::string(6, ' '));
}

// ====================================================================== options

TEST_F(HexPrintTest, PrintOptionsCopyReadByIndexAndRefuseOtherObjects)
{
    TZAZPrintOptions& o = hex->PrintOptions();
    TZAZPrintOptions fresh;
    EXPECT_EQ(fresh.Flags(), PrintFlag(pfSelectionBold) | PrintFlag(pfMonochrome));
    EXPECT_EQ((std::array{fresh.Margin(1), fresh.Margin(2), fresh.Margin(3), fresh.Margin(4), fresh.Margin(0)}),
              (std::array{20, 15, 25, 25, 25}));
    fresh.SetMargin(2, 7);
    fresh.SetMargin(9, 8);
    fresh.SetHeader(0, "head");
    fresh.SetHeader(1, "foot");
    fresh.SetFlags(PrintFlag(pfIncludeRuler));
    EXPECT_EQ(ErrorOf([&] { fresh.SetHeader(2, "x"); }), "Range check error");
    EXPECT_EQ(ErrorOf([&] { fresh.Header(-1); }), "Range check error");

    hex->SetPrintOptions(fresh);
    EXPECT_EQ(o.MarginTop(), 7);
    EXPECT_EQ(o.MarginBottom(), 8);
    EXPECT_EQ(o.PageHeader(), "head");
    EXPECT_EQ(o.Header(1), "foot");
    EXPECT_EQ(o.Flags(), PrintFlag(pfIncludeRuler));
    EXPECT_THROW(o.Assign(hex->Colors()), EConvertError);
    EXPECT_EQ(o.PageHeader(), "head");
}

TEST_F(HexPrintTest, PrintFontIsACopyUntilOneIsSet)
{
    EXPECT_TRUE(hex->UseEditorFontForPrinting());
    EXPECT_EQ(hex->PrintFont().Name(), "Courier New");
    EXPECT_EQ(hex->PrintFont().Size(), hex->Font().Size());
    TFont font;
    font.SetName("Liberation Sans");
    font.SetSize(14);
    hex->SetPrintFont(font);
    EXPECT_FALSE(hex->UseEditorFontForPrinting());
    EXPECT_EQ(hex->PrintFont().Name(), "Liberation Sans");
    EXPECT_EQ(hex->Font().Name(), "Courier New");
}

}  // namespace
