// Column arithmetic of the hex editor's grid: which column shows which
// nibble or character, and how wide every column is so that the hex digits
// of a byte, the gaps between byte groups and the character field line up.
//
//   col 0        offset gutter
//   col 1        spacer (6 px)
//   col 2..2B+1  hex digits, 2 per byte (high nibble in the even column)
//   col 2B+2     separator
//   col 2B+3..   character field, one column per byte (per 2 bytes in
//                unicode mode)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TZAZLayout {
    std::int32_t BytesPerRow = 16;       // B
    std::int32_t BytesPerColumn = 2;
    std::int32_t BytesPerBlock = -1;
    std::int32_t RulerUnit = 1;          // the effective ruler bytes per unit
    bool Unicode = false;
    bool SeparateBlocksInCharField = true;

    std::int32_t ColCount() const { return Unicode ? 2 * BytesPerRow + BytesPerRow / 2 + 3 : 3 * BytesPerRow + 3; }
    std::int32_t LastCharCol() const { return ColCount() - 1; }
    std::int32_t SeparatorCol() const { return 2 * BytesPerRow + 2; }
    std::int32_t LastHexCol() const { return 2 * BytesPerRow + 1; }
    bool IsCharFieldCol(std::int32_t col) const { return col > 2 * BytesPerRow + 2; }

    // Widths of every column from 2 to the last (index = column); columns 0
    // and 1 are left 0 for the caller (gutter and spacer).
    std::vector<std::int32_t> ColumnWidths(std::int32_t charWidth) const;

    // Byte position of a cell; never negative.
    std::int32_t PositionAt(std::int32_t col, std::int32_t row) const;
    // The cell of a byte position in one of the fields (col, row).
    void CellAt(std::int32_t pos, bool inCharField, std::int32_t& col, std::int32_t& row) const;
    std::int32_t RowOf(std::int32_t pos) const { return pos / BytesPerRow + 2; }
    // The column of the same byte in the other field.
    std::int32_t OtherFieldCol(std::int32_t col) const;

    // RowCount of the grid for a data size.
    std::int32_t RowCount(std::int64_t dataSize, bool insertMode) const;
};

// The two ruler texts: hex (2u characters per unit) and character.
void MakeRulerStrings(std::int32_t bytesPerRow, std::int32_t rulerUnit, bool unicode, std::int32_t numberBase,
                      bool lowerCase, std::string& hexRuler, std::string& charRuler);
