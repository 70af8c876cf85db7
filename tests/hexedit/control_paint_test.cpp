// Painting into an offscreen image: colours, the selection band, change
// marks, frames, bookmark icons, and that only visible rows are painted.
#include "hex_fixture.h"
#include "test_support/temp_dir.h"
#include "vcl/caret.h"

#include <QEvent>
#include <QPaintEvent>
#include <QRegion>

#include <functional>
#include <set>
#include <utility>

namespace {

constexpr TColor kBack = RGB(250, 250, 250);
constexpr TColor kActive = RGB(230, 240, 255);
constexpr TColor kChangedBack = RGB(255, 255, 168);
constexpr TColor kChangedText = RGB(128, 0, 0);
constexpr TColor kOffsetBack = RGB(200, 200, 200);
constexpr TColor kCurrentOffsetBack = RGB(100, 100, 100);
constexpr TColor kCursorFrame = RGB(0, 128, 0);

TColor Inverse(TColor c) { return static_cast<TColor>(InvertRGB(static_cast<std::uint32_t>(c))); }

class HexPaintTest : public HexEditorTest {
protected:
    void SetUp() override
    {
        HexEditorTest::SetUp();
        TZAZColors& c = hex->Colors();
        c.SetBackground(kBack);
        c.SetActiveFieldBackground(kActive);
        c.SetChangedBackground(kChangedBack);
        c.SetChangedText(kChangedText);
        c.SetOffsetBackGround(kOffsetBack);
        c.SetCurrentOffsetBackground(kCurrentOffsetBack);
        c.SetCursorFrame(kCursorFrame);
        hex->SetBytesPerColumn(1);
        hex->SetDrawGutter3D(false);
        LoadBytes(Pattern(4096));
    }
    void Paint() { hex->PaintTo(image); }
    TColor At(int x, int y) { return image.Canvas().Pixel(x, y); }
    // Top-left pixel of the cell's text box (the text starts one row lower).
    TColor TextBack(int col, int row) { return At(hex->CellRect(col, row).Left, hex->CellRect(col, row).Top); }
    // A pixel in the gap that follows a low-nibble digit.
    TColor Gap(int col, int row)
    {
        const TRect r = hex->CellRect(col, row);
        return At(r.Left + hex->CharWidth() + 1, r.Top + 1);
    }
    static int HexCol(int byte, bool low) { return 2 + 2 * byte + (low ? 1 : 0); }

    TBitmap image;
};

TEST_F(HexPaintTest, SelectionIsOneBandWithoutTheGapAfterItsLastByte)
{
    hex->NewSelection(3, 5);
    Paint();
    EXPECT_EQ(Gap(HexCol(2, true), 2), kBack);
    EXPECT_EQ(TextBack(HexCol(3, false), 2), Inverse(kBack));
    EXPECT_EQ(Gap(HexCol(3, true), 2), Inverse(kBack));
    EXPECT_EQ(Gap(HexCol(4, true), 2), Inverse(kBack));
    EXPECT_EQ(TextBack(HexCol(5, true), 2), Inverse(kBack));
    EXPECT_EQ(Gap(HexCol(5, true), 2), kBack);
    EXPECT_EQ(TextBack(HexCol(6, false), 2), kBack);
    // The character field (active: the caret was last placed there) too.
    EXPECT_EQ(TextBack(35 + 4, 2), Inverse(kActive));
    EXPECT_EQ(TextBack(35 + 6, 2), kActive);
}

TEST_F(HexPaintTest, HiddenAndGreySelectionWithoutFocus)
{
    hex->NewSelection(3, 5);
    hex->SetHideSelection(true);
    Paint();
    EXPECT_EQ(TextBack(HexCol(4, false), 2), kBack);
    hex->SetHideSelection(false);
    hex->SetGraySelectionIfNotFocused(true);
    Paint();
    EXPECT_EQ(TextBack(HexCol(4, false), 2), static_cast<TColor>(FadeToGrayRGB(InvertRGB(kBack))));
}

TEST_F(HexPaintTest, ChangedBytesUseTheChangeColoursExceptInInsertMode)
{
    hex->SetChanged(10, true);
    Paint();
    EXPECT_EQ(TextBack(HexCol(10, false), 2), kChangedBack);
    EXPECT_EQ(TextBack(35 + 10, 2), kChangedBack);
    EXPECT_EQ(Gap(HexCol(10, true), 2), kBack);  // the cell's fill stays
    EXPECT_EQ(TextBack(HexCol(11, false), 2), kBack);
    hex->SetInsertMode(true);
    hex->SetChanged(10, true);
    Paint();
    EXPECT_EQ(TextBack(HexCol(10, false), 2), kBack);
}

TEST_F(HexPaintTest, ColumnGroupsAlternateTheirDigitColours)
{
    hex->Colors().SetOddColumn(RGB(0, 0, 255));
    hex->Colors().SetEvenColumn(RGB(0, 128, 0));
    Paint();
    // Darkest blue and green channels inside a digit's box tell its colour.
    auto channels = [&](int col) {
        const TRect r = hex->CellRect(col, 2);
        int minBlue = 255, minGreen = 255;
        for (int y = r.Top; y < r.Bottom; ++y)
            for (int x = r.Left; x < r.Left + hex->CharWidth(); ++x) {
                const auto p = static_cast<std::uint32_t>(At(x, y));
                minGreen = std::min<int>(minGreen, (p >> 8) & 0xFF);
                minBlue = std::min<int>(minBlue, (p >> 16) & 0xFF);
            }
        return std::pair<int, int>(minBlue, minGreen);
    };
    for (int byte = 0; byte < 4; ++byte) {
        const auto [blue, green] = channels(HexCol(byte, false));
        if (byte % 2 == 0) {
            EXPECT_GT(blue, 200) << byte;  // blue digits keep their blue
            EXPECT_LT(green, 128) << byte;
        } else {
            EXPECT_LT(blue, 128) << byte;  // green digits lose it
        }
    }
}

TEST_F(HexPaintTest, GutterRulerAndCurrentRow)
{
    hex->SetShowRuler(true);
    hex->SetSelStart(16);  // row 3
    Paint();
    const TRect g2 = hex->CellRect(0, 2), g3 = hex->CellRect(0, 3);
    EXPECT_EQ(At(g2.Left + 1, g2.Top + 1), kOffsetBack);
    EXPECT_EQ(At(g3.Left + 1, g3.Top + 1), kCurrentOffsetBack);
    const TRect ruler = hex->CellRect(hex->Col(), 0);
    ASSERT_FALSE(ruler.IsEmpty());
    EXPECT_EQ(At(ruler.Left, ruler.Top), kCurrentOffsetBack);
    const TRect other = hex->CellRect(hex->Col() + 2, 0);
    EXPECT_EQ(At(other.Left, other.Top), kOffsetBack);
    // Below the data rows nothing but the control's colour and the gutter.
    hex->CreateEmptyFile("x");
    LoadBytes("ab");
    Paint();
    EXPECT_EQ(At(5, hex->ClientHeight() - 2), kOffsetBack);
    EXPECT_EQ(At(hex->ColWidths(0) + 20, hex->ClientHeight() - 2), kBack);
}

TEST_F(HexPaintTest, BookmarkIconsAreDrawnInTheirRow)
{
    hex->SetBookmarkVals(3, 16, false);
    hex->SetBookmarkVals(4, 40, true);
    Paint();
    const TRect g = hex->CellRect(0, 3);
    const int x0 = g.Left + 3, y0 = g.Top + (g.Height() - 10) / 2;
    EXPECT_EQ(At(x0 + 2, y0 + 7), clYellow);           // left half: set in the hex field
    EXPECT_EQ(At(x0 + 1, y0), clBlack);                 // frame
    EXPECT_EQ(At(x0, y0), kOffsetBack);                 // transparent corner
    const TRect g4 = hex->CellRect(0, 4);
    const int y4 = g4.Top + (g4.Height() - 10) / 2;
    EXPECT_NE(At(x0 + 2, y4 + 7), clYellow);            // character-field icon: right half yellow
    EXPECT_EQ(At(x0 + 7, y4 + 7), clYellow);
    const TRect g2 = hex->CellRect(0, 2);
    EXPECT_EQ(At(x0 + 2, g2.Top + (g2.Height() - 10) / 2 + 7), kCurrentOffsetBack);  // the caret's row, no icon

    TBitmap wrong(200, 20);
    try {
        hex->SetBookmarkBitmap(&wrong);
        FAIL();
    } catch (const EZURadUvudod& e) {
        EXPECT_EQ(e.Message(), "Invalid bookmark bitmap (must be 10 x 200 px)");
    }
    TBitmap custom(200, 10);
    custom.Canvas().Brush().SetColor(clRed);
    custom.Canvas().FillRect(Rect(0, 0, 200, 10));
    custom.Canvas().SetPixel(0, 0, clWhite);  // the transparent colour
    hex->SetBookmarkBitmap(&custom);
    EXPECT_TRUE(hex->HasCustomBookmarkBitmap());
    Paint();
    EXPECT_EQ(At(x0 + 2, y0 + 7), clRed);
    hex->SetBookmarkBitmap(nullptr);
    EXPECT_FALSE(hex->HasCustomBookmarkBitmap());
}

TEST_F(HexPaintTest, DrawCellHandlerSeesPositionsAndMaySkipCells)
{
    std::set<std::int32_t> positions;
    int gutterCells = 0;
    hex->OnDrawCell = [&](TObject*, TCanvas&, std::int32_t col, std::int32_t, std::u16string& text, TRect,
                          bool& defaultDraw) {
        if (col == 0) {
            ++gutterCells;
            EXPECT_EQ(hex->PaintPosition(), -1);
            EXPECT_FALSE(text.empty());
        } else {
            positions.insert(hex->PaintPosition());
            defaultDraw = col != HexCol(0, false);
        }
    };
    Paint();
    EXPECT_EQ(*positions.begin(), 0);
    // Whole visible rows end at DisplayEnd; a partly visible row may follow.
    EXPECT_GE(*positions.rbegin(), hex->DisplayEnd());
    EXPECT_LE(*positions.rbegin(), hex->DisplayEnd() + 16);
    EXPECT_GT(gutterCells, 5);
    // The skipped cell shows the control's colour, not the cell's fill.
    EXPECT_EQ(TextBack(HexCol(0, false), 2), kBack);
}

TEST_F(HexPaintTest, PaintingAtTheEndOfALargeBufferTouchesOnlyVisibleRows)
{
    hex->SetDataSize(32 * 1024 * 1024);
    int cells = 0;
    hex->OnDrawCell = [&](TObject*, TCanvas&, std::int32_t, std::int32_t, std::u16string&, TRect, bool&) { ++cells; };
    Paint();
    const int atStart = cells;
    hex->SetSelStart(hex->GetDataSize() - 1);
    cells = 0;
    Paint();
    // The same screen of rows (less a partly visible one at the bottom).
    EXPECT_LE(cells, atStart);
    EXPECT_GE(cells, atStart - hex->ColCount() - 1);
    EXPECT_LT(cells, 60 * 40);
}

TEST_F(HexPaintTest, FramesShowTheCaretPositionWithoutFocus)
{
    hex->SetShowPositionIfNotFocused(true);
    hex->SetFocusFrame(false);
    hex->Colors().SetNonFocusCursorFrame(RGB(255, 0, 255));
    hex->SetSelStart(20);
    Paint();
    const TRect r = hex->CellRect(hex->Col(), hex->Row());
    EXPECT_EQ(At(r.Left, r.Top), RGB(255, 0, 255));
    EXPECT_EQ(At(r.Left + hex->CharWidth() - 1, r.Bottom - 2), RGB(255, 0, 255));
}

// Gathers what a widget is asked to paint.
class PaintedArea : public QObject {
public:
    explicit PaintedArea(QWidget* w) { w->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint)
            painted += static_cast<QPaintEvent*>(e)->region();
        return false;
    }
    QRegion painted;
};

// New data that leave rows, columns and the caret where they were (a file
// of a row replacing another) are painted all the same, so that the window
// never shows the bytes of the file before.
TEST_F(HexPaintTest, NewDataOfTheSameLayoutArePainted)
{
    TForm form(nullptr);
    hex->SetParent(&form);
    form.Show();
    LoadBytes("AAAAAAAAAAAA");
    Pump();
    Pump();
    TempDir dir;
    dir.Write("c.bin", "CCCCC");
    const std::pair<const char*, std::function<void()>> cases[] = {
        {"from a stream", [&] { LoadBytes("BBBBBBBBB"); }},
        {"from a file", [&] { hex->LoadFromFile(dir.Path("c.bin")); }},
        {"an empty new buffer", [&] { hex->CreateEmptyFile(""); }},
    };
    for (const auto& [name, load] : cases) {
        SCOPED_TRACE(name);
        PaintedArea area(W());
        load();
        Pump();
        // The character column and the last byte's digits, away from the
        // caret on the first byte.
        for (const std::int32_t col : {HexCol(4, true), 35 + 2}) {
            const TRect r = hex->CellRect(col, 2);
            ASSERT_FALSE(r.IsEmpty());
            EXPECT_TRUE(area.painted.contains(QRect(r.Left, r.Top, r.Width(), r.Height()))) << col;
        }
    }
    hex->SetParent(nullptr);
}

TEST_F(HexPaintTest, FocusedControlFramesTheTwinCellAndOwnsTheCaret)
{
    TForm form(nullptr);
    hex->SetParent(&form);
    form.Show();
    hex->SetFocus();
    Pump();
    if (!hex->Focused())
        GTEST_SKIP() << "the platform gives no focus to offscreen windows";
    hex->SetFocusFrame(false);
    hex->SetSelStart(20);
    Pump();
    EXPECT_EQ(CaretOwner(), hex.get());
    TPoint caret;
    ASSERT_TRUE(GetCaretPos(caret));
    const TRect cell = hex->CellRect(hex->Col(), hex->Row());
    EXPECT_EQ(caret, Point(cell.Left, cell.Top));
    Paint();
    const TRect twin = hex->CellRect(hex->GetOtherFieldColCheck(hex->Col()), hex->Row());
    EXPECT_EQ(At(twin.Left, twin.Top), kCursorFrame);
    hex->SetParent(nullptr);
}

}  // namespace
