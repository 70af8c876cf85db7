#include "hexedit/zazlayout.h"

#include "hexedit/zazconv.h"

std::vector<std::int32_t> TZAZLayout::ColumnWidths(std::int32_t cw) const
{
    const std::int32_t B = BytesPerRow;
    std::vector<std::int32_t> w(static_cast<size_t>(ColCount()), 0);
    for (std::int32_t c = 2; c <= 2 * B + 1; ++c) {
        std::int32_t width = cw;
        if (c % (2 * BytesPerColumn) == 1)
            width += cw;
        if (BytesPerBlock > 1 && c % (2 * BytesPerBlock) == 1)
            width += cw;
        w[static_cast<size_t>(c)] = width;
    }
    w[static_cast<size_t>(2 * B + 1)] = 2 * cw;
    w[static_cast<size_t>(2 * B + 2)] = cw;
    const std::int32_t first = 2 * B + 3;
    const std::int32_t last = ColCount() - 1;
    const std::int32_t blockChars = Unicode ? BytesPerBlock / 2 : BytesPerBlock;
    for (std::int32_t c = first; c <= last; ++c) {
        const std::int32_t k = c - first;
        std::int32_t width = cw + 1;
        if (!Unicode && RulerUnit > 1 && k % RulerUnit == RulerUnit - 1)
            width = (3 * cw) / 2 + 1;
        if (SeparateBlocksInCharField && BytesPerBlock > 1 && blockChars > 0 && k % blockChars == blockChars - 1)
            width += cw;
        w[static_cast<size_t>(c)] = width;
    }
    w[static_cast<size_t>(last)] = 2 * cw + 1;
    return w;
}

std::int32_t TZAZLayout::PositionAt(std::int32_t col, std::int32_t row) const
{
    const std::int32_t B = BytesPerRow;
    std::int64_t pos;
    if (col > 2 * B + 2)
        pos = static_cast<std::int64_t>(col - 2 * B - 3) * (Unicode ? 2 : 1);
    else
        pos = (col - 2) / 2;
    pos += static_cast<std::int64_t>(row - 2) * B;
    if (pos < 0)
        return 0;
    return pos > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(pos);
}

void TZAZLayout::CellAt(std::int32_t pos, bool inCharField, std::int32_t& col, std::int32_t& row) const
{
    if (pos < 0) {
        col = row = 2;
        return;
    }
    const std::int32_t B = BytesPerRow;
    row = pos / B + 2;
    const std::int32_t k = pos % B;
    if (!inCharField)
        col = 2 * k + 2;
    else
        col = (Unicode ? k / 2 : k) + 2 * B + 3;
}

std::int32_t TZAZLayout::OtherFieldCol(std::int32_t col) const
{
    const std::int32_t B = BytesPerRow;
    if (col <= 2 * B + 2)
        return (col - 2) / (Unicode ? 4 : 2) + 2 * B + 3;
    return (Unicode ? 4 : 2) * (col - 2 * B - 3) + 2;
}

std::int32_t TZAZLayout::RowCount(std::int64_t dataSize, bool insertMode) const
{
    if (dataSize <= 0)
        return 3;
    std::int64_t rows = (dataSize + BytesPerRow - 1) / BytesPerRow + 2;
    if (insertMode && dataSize % BytesPerRow == 0)
        ++rows;
    return static_cast<std::int32_t>(rows);
}

void MakeRulerStrings(std::int32_t bytesPerRow, std::int32_t u, bool unicode, std::int32_t numberBase, bool lowerCase,
                      std::string& hexRuler, std::string& charRuler)
{
    hexRuler.clear();
    charRuler.clear();
    // Whole units, rounded up, so that a row width that is not a multiple of
    // the unit still has a ruler character above every column.
    const std::int32_t n = (bytesPerRow + u - 1) / u;
    const std::int32_t hexWidth = 2 * u;
    const std::int32_t charWidth = unicode ? u / 2 : u;
    const auto base = static_cast<std::uint8_t>(numberBase);
    for (std::int32_t k = 0; k < n; ++k) {
        std::string h = IntToRadixLen(static_cast<std::uint32_t>(k), base, static_cast<std::uint8_t>(hexWidth));
        hexRuler += h.substr(h.size() - static_cast<size_t>(hexWidth));
        std::string c = IntToRadix(static_cast<std::uint32_t>(k), base);
        if (charWidth <= 0)
            continue;
        if (static_cast<std::int32_t>(c.size()) > charWidth)
            c = c.substr(c.size() - static_cast<size_t>(charWidth));
        else
            c.insert(0, static_cast<size_t>(charWidth) - c.size(), ' ');
        charRuler += c;
    }
    const size_t hexCols = static_cast<size_t>(2 * bytesPerRow);
    const size_t charCols = static_cast<size_t>(unicode ? bytesPerRow / 2 : bytesPerRow);
    hexRuler.resize(hexCols, ' ');
    charRuler.resize(charCols, ' ');
    if (lowerCase) {
        hexRuler = LowerCase(hexRuler);
        charRuler = LowerCase(charRuler);
    }
}
