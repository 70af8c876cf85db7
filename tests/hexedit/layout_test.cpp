#include "hexedit/zazlayout.h"

#include <gtest/gtest.h>

#include <numeric>

namespace {

TEST(Layout, ColumnCountsAndWidths)
{
    // (bytes per row, per column, block, ruler unit, unicode, separate blocks)
    // against the column count and the total width of columns 2..last at
    // CharWidth 10.
    struct Case {
        TZAZLayout layout;
        std::int32_t colCount;
        std::int32_t totalWidth;
    };
    const Case cases[] = {
        // 16 bytes, 2 per column: 32 hex digits, 8 group gaps (the last
        // digit column is exactly 2 cw), separator, 15 chars of 11, last 21.
        {{16, 2, -1, 1, false, true}, 51, 32 * 10 + 7 * 10 + 10 + 10 + 15 * 11 + 21},
        // The main window: 1 per column, blocks of 4 (gaps after blocks in the
        // hex field only).
        {{16, 1, 4, 1, false, false}, 51, 32 * 10 + 15 * 10 + 3 * 10 + 10 + 10 + 15 * 11 + 21},
        // Blocks separated in the character field too.
        {{16, 1, 4, 1, false, true}, 51, 32 * 10 + 15 * 10 + 3 * 10 + 10 + 10 + 15 * 11 + 3 * 10 + 21},
        // Ruler unit 4: every fourth character is 16 wide.
        {{16, 2, -1, 4, false, true}, 51, 32 * 10 + 7 * 10 + 10 + 10 + 12 * 11 + 3 * 16 + 21},
        // Unicode: 8 character columns.
        {{16, 2, -1, 2, true, true}, 43, 32 * 10 + 7 * 10 + 10 + 10 + 7 * 11 + 21},
        {{1, 1, -1, 1, false, true}, 6, 10 + 20 + 10 + 21},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.layout.ColCount(), c.colCount);
        const auto w = c.layout.ColumnWidths(10);
        ASSERT_EQ(static_cast<std::int32_t>(w.size()), c.colCount);
        EXPECT_EQ(std::accumulate(w.begin(), w.end(), 0), c.totalWidth) << c.layout.BytesPerRow;
        EXPECT_EQ(w[static_cast<size_t>(c.layout.LastHexCol())], 20);
        EXPECT_EQ(w.back(), 21);
    }
}

TEST(Layout, MainWindowGapsAfterEveryLowNibble)
{
    const TZAZLayout l{16, 1, 4, 1, false, false};
    const auto w = l.ColumnWidths(8);
    for (int c = 2; c < 33; ++c) {
        const int expected = c % 2 == 0 ? 8 : (c % 8 == 1 ? 24 : 16);
        EXPECT_EQ(w[static_cast<size_t>(c)], expected) << c;
    }
}

TEST(Layout, RowCounts)
{
    const TZAZLayout l{16, 2, -1, 1, false, true};
    EXPECT_EQ(l.RowCount(0, false), 3);
    EXPECT_EQ(l.RowCount(0, true), 3);
    EXPECT_EQ(l.RowCount(32, false), 4);
    EXPECT_EQ(l.RowCount(32, true), 5);
    EXPECT_EQ(l.RowCount(33, false), 5);
    EXPECT_EQ(l.RowCount(33, true), 5);
    EXPECT_EQ(l.RowCount(2147483647, false), 134217728 + 2);
}

TEST(Layout, CellMapping)
{
    const TZAZLayout l{16, 2, -1, 1, false, true};
    EXPECT_EQ(l.PositionAt(2, 2), 0);
    EXPECT_EQ(l.PositionAt(3, 2), 0);
    EXPECT_EQ(l.PositionAt(0, 2), 0);  // left of the data: never negative
    std::int32_t col = 0, row = 0;
    l.CellAt(17, false, col, row);
    EXPECT_EQ(col, 4);
    EXPECT_EQ(row, 3);
    l.CellAt(17, true, col, row);
    EXPECT_EQ(col, 36);
    l.CellAt(-1, true, col, row);
    EXPECT_EQ(col, 2);
    EXPECT_EQ(row, 2);
    EXPECT_EQ(l.OtherFieldCol(4), 36);
    EXPECT_EQ(l.OtherFieldCol(5), 36);
    EXPECT_EQ(l.OtherFieldCol(36), 4);
    EXPECT_TRUE(l.IsCharFieldCol(35));
    EXPECT_FALSE(l.IsCharFieldCol(34));
}

TEST(Layout, PositionCellRoundTripInBothFields)
{
    const TZAZLayout layouts[] = {{16, 2, -1, 1, false, true}, {7, 1, -1, 1, false, true},
                                  {256, 4, 8, 2, false, true}, {16, 2, -1, 2, true, true}};
    for (const auto& l : layouts) {
        for (std::int32_t pos : {0, 1, 5, 15, 16, 17, 1000, 65535, 2147483646}) {
            for (bool inChar : {false, true}) {
                std::int32_t col = 0, row = 0;
                l.CellAt(pos, inChar, col, row);
                EXPECT_EQ(l.IsCharFieldCol(col), inChar);
                const std::int32_t expected = (inChar && l.Unicode) ? pos & ~1 : pos;
                EXPECT_EQ(l.PositionAt(col, row), expected) << l.BytesPerRow << " " << pos << " " << inChar;
                // The other field shows the same byte (its first byte for a unicode character).
                const std::int32_t other = l.OtherFieldCol(col);
                EXPECT_EQ(l.PositionAt(other, row), l.Unicode ? pos & ~1 : pos);
            }
        }
    }
}

TEST(Layout, RulerTextsCoverEveryColumn)
{
    std::string hex, chr;
    MakeRulerStrings(16, 1, false, 16, false, hex, chr);
    EXPECT_EQ(hex, "000102030405060708090A0B0C0D0E0F");
    EXPECT_EQ(chr, "0123456789ABCDEF");
    MakeRulerStrings(16, 4, false, 16, true, hex, chr);
    EXPECT_EQ(hex, "00000000000000010000000200000003");
    EXPECT_EQ(chr, "   0   1   2   3");
    MakeRulerStrings(16, 1, false, 10, false, hex, chr);
    EXPECT_EQ(hex, "00010203040506070809101112131415");
    EXPECT_EQ(chr, "0123456789012345");
    // Rows that are not a whole number of units, and unicode mode with a
    // one-byte ruler unit, still get a character above every column.
    struct Case {
        std::int32_t B, u;
        bool unicode;
    };
    for (const Case c : {Case{6, 4, false}, Case{10, 8, false}, Case{16, 1, true}, Case{6, 4, true}}) {
        MakeRulerStrings(c.B, c.u, c.unicode, 16, false, hex, chr);
        EXPECT_EQ(hex.size(), static_cast<size_t>(2 * c.B));
        EXPECT_EQ(chr.size(), static_cast<size_t>(c.unicode ? c.B / 2 : c.B));
    }
}

}  // namespace
