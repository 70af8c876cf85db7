// The grid base under the hex editor: geometry with fixed and scrolled
// cells, hit testing, the current cell and its hook, and scrolling.
#include "hex_fixture.h"

namespace {

class TestGrid : public TCustomGrid {
public:
    explicit TestGrid(TComponent* owner) : TCustomGrid(owner) {}
    bool refuse = false;
    int topLeftChanges = 0;
    using TCustomGrid::CalcDrawInfo;

protected:
    bool SelectCell(std::int32_t col, std::int32_t row) override
    {
        return !refuse && TCustomGrid::SelectCell(col, row);
    }
    void TopLeftChanged() override { ++topLeftChanges; }
};

class GridTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApplication();
        grid = std::make_unique<TestGrid>(nullptr);
        grid->SetBounds(0, 0, 300, 200);
        grid->SetColCount(20);
        grid->SetRowCount(1000000);
        grid->SetFixedCols(1);
        grid->SetFixedRows(1);
        grid->SetDefaultColWidth(30);
        grid->SetDefaultRowHeight(10);
        grid->SetColWidths(0, 50);
        grid->SetRowHeights(0, 20);
    }
    std::unique_ptr<TestGrid> grid;
};

TEST_F(GridTest, CellRectsOfFixedScrolledAndHiddenCells)
{
    const int cw = grid->ClientWidth(), ch = grid->ClientHeight();
    ASSERT_GT(cw, 200);
    ASSERT_GT(ch, 150);
    EXPECT_EQ(grid->CellRect(0, 0), Rect(0, 0, 50, 20));
    EXPECT_EQ(grid->CellRect(1, 1), Rect(50, 20, 80, 30));
    EXPECT_EQ(grid->CellRect(2, 3), Rect(80, 40, 110, 50));
    grid->SetTopRow(500);
    grid->SetLeftCol(3);
    EXPECT_EQ(grid->CellRect(3, 500), Rect(50, 20, 80, 30));
    EXPECT_EQ(grid->CellRect(0, 501), Rect(0, 30, 50, 40));  // fixed column, scrolled row
    EXPECT_TRUE(grid->CellRect(2, 500).IsEmpty());           // scrolled out to the left
    EXPECT_TRUE(grid->CellRect(3, 499).IsEmpty());           // above the top row
    EXPECT_TRUE(grid->CellRect(3, 900000).IsEmpty());        // far below: not walked to
    EXPECT_TRUE(grid->CellRect(30, 500).IsEmpty());          // no such column
    EXPECT_EQ(grid->CellRect(3, 500).Left + grid->CellRect(3, 499).Bottom, 50);
}

TEST_F(GridTest, MouseCoordFindsTheCellUnderAPoint)
{
    EXPECT_EQ(grid->MouseCoord(10, 5), GridCoord(0, 0));
    EXPECT_EQ(grid->MouseCoord(79, 29), GridCoord(1, 1));
    EXPECT_EQ(grid->MouseCoord(80, 30), GridCoord(2, 2));
    grid->SetTopRow(100);
    EXPECT_EQ(grid->MouseCoord(55, 25), GridCoord(1, 100));
    EXPECT_EQ(grid->MouseCoord(-1, 5), GridCoord(-1, -1));
    EXPECT_EQ(grid->MouseCoord(5, 5000), GridCoord(-1, -1));
}

TEST_F(GridTest, MoveColRowAsksTheHookAndScrollsIntoView)
{
    grid->MoveColRow(5, 300, true, true);
    EXPECT_EQ(grid->Col(), 5);
    EXPECT_EQ(grid->Row(), 300);
    EXPECT_FALSE(grid->CellRect(5, 300).IsEmpty());
    EXPECT_EQ(grid->CellRect(5, 300).Bottom, 20 + grid->VisibleRowCount() * 10);  // the last whole row
    EXPECT_GT(grid->topLeftChanges, 0);
    grid->refuse = true;
    grid->MoveColRow(6, 10, true, true);
    EXPECT_EQ(grid->Col(), 5);
    EXPECT_EQ(grid->Row(), 300);
    grid->refuse = false;
    const std::int32_t top = grid->TopRow();
    grid->MoveColRow(6, 10, true, false);  // without showing it
    EXPECT_EQ(grid->TopRow(), top);
    EXPECT_THROW(grid->MoveColRow(20, 1, true, true), EInvalidOperation);
    bool asked = false;
    grid->OnSelectCell = [&](TObject*, std::int32_t, std::int32_t, bool& can) {
        asked = true;
        can = false;
    };
    grid->MoveColRow(7, 7, true, true);
    EXPECT_TRUE(asked);
    EXPECT_EQ(grid->Col(), 6);
}

TEST_F(GridTest, TopRowIsClampedSoTheLastRowStaysWhole)
{
    grid->SetTopRow(2000000);
    const std::int32_t top = grid->TopRow();
    EXPECT_LT(top, 1000000);
    EXPECT_EQ(top + grid->VisibleRowCount(), 1000000);
    grid->SetTopRow(-5);
    EXPECT_EQ(grid->TopRow(), 1);
    const auto info = grid->CalcDrawInfo();
    EXPECT_EQ(info.FirstRow, 1);
    EXPECT_GE(info.LastRow, grid->VisibleRowCount());
    grid->SetRowCount(3);
    EXPECT_EQ(grid->TopRow(), 1);
    EXPECT_EQ(grid->RowHeights(0), 20);
    grid->SetDefaultRowHeight(12);
    EXPECT_EQ(grid->RowHeights(0), 12);
}

}  // namespace
