// The text of a PDF file without a PDF library: every "stream" ...
// "endstream" block of the raw file is inflated with zlib, and the strings
// that the inflated content shows between BT and ET are written out, with
// line breaks and tabs guessed from a few operators and numbers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// The last 15 bytes seen before the current one, position 0 the oldest.
using TOperatorWindow = std::array<char, 15>;

// The number that ends at position k of the window, spaces before it
// skipped: the digits and dots before it, read as a number. A minus sign is
// not part of it. -1.0 when there is none.
float ReadNumberBefore(const TOperatorWindow& window, int k);

// True when the two-letter operator stands at positions 12 and 13 with
// whitespace (space, CR or LF) at 11 and 14.
bool MatchOperator(std::string_view op, const TOperatorWindow& window);

// Writes the text of the content of one block, fed in pieces in order.
class TContentTextWriter {
public:
    TContentTextWriter();
    // Appends the text of the bytes to out: string characters inside BT ...
    // ET, CR LF for a text line move ("TD" with a second operand other than
    // 1) and at ET, a tab for a move along the line, and a space or tab
    // between the strings of a TJ array that stand far apart.
    void Write(const std::uint8_t* bytes, std::size_t count, std::string& out);

private:
    TOperatorWindow m_window;
    bool m_inText = false;
    bool m_inString = false;
    bool m_escape = false;
};

// The text of the block at data, or false when it is no zlib data, is
// damaged, or inflates to more than ten times its size.
bool BlockText(const std::uint8_t* data, std::size_t size, std::string& text);

// Walks the stream blocks of a PDF file's bytes and hands the text of each
// block that gives text to sink, in order. The sink may raise; the walk
// then ends with its exception.
void ExtractPdfText(const std::uint8_t* data, std::size_t size, const std::function<void(std::string_view)>& sink);
